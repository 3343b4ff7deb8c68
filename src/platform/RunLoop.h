// A per-thread event loop.
//
// RunLoop::main() is the process's main loop: one thread runs it (run()), and
// asynchronous request callbacks, timers and everything sent "to the main
// queue" execute there in the order posted. RunLoop::current() is the calling
// thread's own loop (main() on the thread that runs the main loop), so a
// thread that waits by running its current loop keeps delivering the work
// posted to it.
//
// post() and postAfter() may be called from any thread. run(), runFor() and
// runUntil() are called only by the thread that owns the loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace greyfox {

class RunLoop {
 public:
  using Task = std::function<void()>;

  RunLoop() = default;
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  static RunLoop& main();
  static RunLoop& current();

  // Runs `task` on this loop after the tasks already posted.
  void post(Task task);
  // Runs `task` on this loop once `seconds` have passed (a one-shot timer).
  void postAfter(double seconds, Task task);

  // Processes tasks and due timers until stop() is called. The calling thread
  // becomes this loop's thread (for main(): the main thread).
  void run();
  // Processes tasks and due timers for `seconds`, then returns.
  void runFor(double seconds);
  // Processes tasks and due timers until `done()` holds or `seconds` pass;
  // answers done(). `done` is checked after every task and whenever wake() is
  // called, so a condition changed on another thread ends the wait at once
  // when that thread calls wake().
  bool runUntil(double seconds, const std::function<bool()>& done);
  // Makes a run() return after the task in progress.
  void stop();
  // Interrupts a runUntil() so it checks its condition again.
  void wake();

  bool isRunningOnThisThread() const;

 private:
  // Runs ready work until `deadline` (steady seconds) or `done`; false at deadline.
  bool process(double deadline, const std::function<bool()>& done, bool untilStopped);

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Task> tasks_;                  // guarded by mutex_
  std::multimap<double, Task> timers_;      // steady due time -> task; guarded by mutex_
  std::uint64_t wakeups_ = 0;               // guarded by mutex_
  bool stopRequested_ = false;              // guarded by mutex_
  std::thread::id owner_;                   // guarded by mutex_
};

}  // namespace greyfox
