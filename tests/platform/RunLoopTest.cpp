#include "platform/RunLoop.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace greyfox {
namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(RunLoop, PostedTasksRunInOrderAndTimersWhenDue) {
  RunLoop loop;
  std::vector<std::string> ran;
  loop.postAfter(0.06, [&] { ran.push_back("timer 60ms"); });
  loop.postAfter(0.02, [&] { ran.push_back("timer 20ms"); });
  for (int i = 0; i < 3; ++i) loop.post([&, i] { ran.push_back("task " + std::to_string(i)); });

  auto start = std::chrono::steady_clock::now();
  loop.runFor(0.01);
  EXPECT_EQ(ran, (std::vector<std::string>{"task 0", "task 1", "task 2"})) << "no timer before it is due";

  ASSERT_TRUE(loop.runUntil(5, [&] { return ran.size() == 5; }));
  EXPECT_GE(secondsSince(start), 0.06);
  EXPECT_EQ(ran[3], "timer 20ms");
  EXPECT_EQ(ran[4], "timer 60ms");
}

TEST(RunLoop, RunUntilEndsWhenAnotherThreadWakesIt) {
  RunLoop loop;
  std::atomic<bool> done{false};
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    done = true;
    loop.wake();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(loop.runUntil(10, [&] { return done.load(); }));
  EXPECT_LT(secondsSince(start), 5) << "woken, not timed out";
  other.join();

  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(loop.runUntil(0.05, [] { return false; }));
  EXPECT_GE(secondsSince(start), 0.05);
}

TEST(RunLoop, TasksPostedFromOtherThreadsKeepEachThreadsOrder) {
  RunLoop loop;
  constexpr int kThreads = 4, kTasks = 200;
  std::vector<std::vector<int>> seen(kThreads);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i) loop.post([&, t, i] { seen[t].push_back(i); });
    });
  }
  auto total = [&] {
    size_t n = 0;
    for (auto& s : seen) n += s.size();
    return n;
  };
  for (auto& p : posters) p.join();
  ASSERT_TRUE(loop.runUntil(5, [&] { return total() == kThreads * kTasks; }));
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

// A task that posts itself again (a poll) must not keep a bounded run going forever.
TEST(RunLoop, BoundedRunReturnsWhileATaskKeepsReposting) {
  RunLoop loop;
  std::atomic<int> turns{0};
  std::function<void()> poll = [&] {
    ++turns;
    loop.post(poll);
  };
  loop.post(poll);
  std::atomic<bool> finished{false};
  auto start = std::chrono::steady_clock::now();
  std::thread watchdog([&] {
    // Without the bound the run never ends; fail rather than hang the suite.
    for (int i = 0; i < 500 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!finished) {
      ADD_FAILURE() << "runFor(0.05) still running after 5 s";
      std::_Exit(1);
    }
  });
  loop.runFor(0.05);
  finished = true;
  watchdog.join();
  EXPECT_LT(secondsSince(start), 1);
  EXPECT_GT(turns.load(), 1);

  EXPECT_FALSE(loop.runUntil(0.05, [] { return false; }));
}

TEST(RunLoop, MainLoopRunsOnItsOwnThread) {
  std::thread::id loopThread, ranOn, currentWasMainOn;
  std::atomic<bool> started{false};
  std::thread mainThread([&] {
    loopThread = std::this_thread::get_id();
    RunLoop::main().post([&] { started = true; });
    RunLoop::main().run();
  });
  while (!started) std::this_thread::yield();

  std::atomic<int> done{0};
  RunLoop::main().post([&] {
    ranOn = std::this_thread::get_id();
    if (&RunLoop::current() == &RunLoop::main()) currentWasMainOn = std::this_thread::get_id();
    ++done;
  });
  while (done == 0) std::this_thread::yield();
  EXPECT_EQ(ranOn, loopThread);
  EXPECT_EQ(currentWasMainOn, loopThread) << "current() on the main thread is main()";
  EXPECT_NE(&RunLoop::current(), &RunLoop::main()) << "other threads have loops of their own";

  RunLoop::main().stop();
  mainThread.join();
}

}  // namespace
}  // namespace greyfox
