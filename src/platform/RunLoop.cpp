#include "platform/RunLoop.h"

#include <chrono>

namespace greyfox {

namespace {
double steadyNow() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}
thread_local RunLoop* tlCurrent = nullptr;
}  // namespace

RunLoop& RunLoop::main() {
  static RunLoop* loop = new RunLoop();  // never destroyed: callbacks may outlive static teardown
  return *loop;
}

RunLoop& RunLoop::current() {
  if (!tlCurrent) {
    if (main().isRunningOnThisThread()) {
      tlCurrent = &main();
    } else {
      thread_local RunLoop own;
      tlCurrent = &own;
    }
  }
  return *tlCurrent;
}

void RunLoop::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  cv_.notify_all();
}

void RunLoop::postAfter(double seconds, Task task) {
  {
    std::lock_guard lock(mutex_);
    timers_.emplace(steadyNow() + (seconds > 0 ? seconds : 0), std::move(task));
  }
  cv_.notify_all();
}

void RunLoop::run() {
  {
    std::lock_guard lock(mutex_);
    owner_ = std::this_thread::get_id();
    stopRequested_ = false;
  }
  tlCurrent = this;
  process(0, nullptr, true);
}

void RunLoop::runFor(double seconds) { process(steadyNow() + seconds, nullptr, false); }

bool RunLoop::runUntil(double seconds, const std::function<bool()>& done) {
  if (done && done()) return true;
  return process(steadyNow() + seconds, done, false);
}

void RunLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  cv_.notify_all();
}

void RunLoop::wake() {
  {
    std::lock_guard lock(mutex_);
    ++wakeups_;
  }
  cv_.notify_all();
}

bool RunLoop::isRunningOnThisThread() const {
  std::lock_guard lock(mutex_);
  return owner_ == std::this_thread::get_id();
}

bool RunLoop::process(double deadline, const std::function<bool()>& done, bool untilStopped) {
  std::unique_lock lock(mutex_);
  if (owner_ == std::thread::id()) owner_ = std::this_thread::get_id();
  bool ranTask = false;
  for (;;) {
    if (untilStopped && stopRequested_) {
      stopRequested_ = false;
      return true;
    }
    Task task;
    double now = steadyNow();
    // A bounded run ends at its deadline even while tasks keep arriving (a
    // task that posts itself again would otherwise hold the caller forever).
    if (!untilStopped && ranTask && now >= deadline) return false;
    if (!timers_.empty() && timers_.begin()->first <= now) {
      task = std::move(timers_.begin()->second);
      timers_.erase(timers_.begin());
    } else if (!tasks_.empty()) {
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    if (task) {
      lock.unlock();
      task();
      ranTask = true;
      if (done && done()) return true;
      lock.lock();
      continue;
    }
    if (!untilStopped && now >= deadline) return false;
    double until = untilStopped ? now + 3600 : deadline;
    if (!timers_.empty() && timers_.begin()->first < until) until = timers_.begin()->first;
    auto seen = wakeups_;
    cv_.wait_for(lock, std::chrono::duration<double>(until - now), [&] {
      return !tasks_.empty() || wakeups_ != seen || (untilStopped && stopRequested_) ||
             (!timers_.empty() && timers_.begin()->first <= steadyNow());
    });
    if (wakeups_ != seen && done) {
      lock.unlock();
      if (done()) return true;
      lock.lock();
    }
  }
}

}  // namespace greyfox
