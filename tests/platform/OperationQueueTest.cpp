#include "platform/OperationQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace greyfox {
namespace {

using namespace std::chrono_literals;

// Holds operations until opened, so a test decides when they finish.
class Gate {
 public:
  void wait() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
  }
  bool waitForWaiters(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return waiting_ >= n; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = false;
};

TEST(OperationQueue, SerialQueueRunsInOrderOneAtATime) {
  OperationQueue queue(1, "serial");
  std::vector<int> order;
  std::atomic<int> running{0}, peak{0};
  for (int i = 0; i < 50; ++i) {
    queue.add([&, i] {
      int now = ++running;
      peak = std::max(peak.load(), now);
      order.push_back(i);
      --running;
    });
  }
  ASSERT_TRUE(queue.waitUntilEmpty(5));
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(peak.load(), 1);
}

TEST(OperationQueue, RunsAtMostMaxConcurrent) {
  OperationQueue queue(3, "three");
  Gate gate;
  std::atomic<int> running{0}, peak{0};
  for (int i = 0; i < 6; ++i) {
    queue.add([&] {
      int now = ++running;
      peak = std::max(peak.load(), now);
      gate.wait();
      --running;
    });
  }
  ASSERT_TRUE(gate.waitForWaiters(3)) << "three operations run at once";
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(running.load(), 3) << "the fourth waits for a free worker";
  EXPECT_EQ(queue.operationCount(), 6u);
  gate.open();
  ASSERT_TRUE(queue.waitUntilEmpty(5));
  EXPECT_EQ(peak.load(), 3);
  EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, SuspendedQueueStartsNothingUntilResumed) {
  OperationQueue queue(2, "suspended");
  queue.setSuspended(true);
  std::atomic<int> ran{0};
  for (int i = 0; i < 3; ++i) queue.add([&] { ++ran; });
  EXPECT_FALSE(queue.waitUntilEmpty(0.05));
  EXPECT_EQ(ran.load(), 0);
  EXPECT_TRUE(queue.isSuspended());
  queue.setSuspended(false);
  ASSERT_TRUE(queue.waitUntilEmpty(5));
  EXPECT_EQ(ran.load(), 3);
}

TEST(OperationQueue, CancelAllDropsWhatHasNotStarted) {
  OperationQueue queue(1, "cancel");
  Gate gate;
  std::atomic<int> ran{0};
  queue.add([&] {
    gate.wait();
    ++ran;
  });
  ASSERT_TRUE(gate.waitForWaiters(1));
  for (int i = 0; i < 5; ++i) queue.add([&] { ran += 100; });
  queue.cancelAll();
  EXPECT_EQ(queue.operationCount(), 1u) << "the running one goes on";
  gate.open();
  ASSERT_TRUE(queue.waitUntilEmpty(5));
  EXPECT_EQ(ran.load(), 1);
}

TEST(OperationQueue, WaitUntilEmptyIsBounded) {
  OperationQueue queue(1, "slow");
  Gate gate;
  queue.add([&] { gate.wait(); });
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.waitUntilEmpty(0.05));
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(waited, 0.05);
  EXPECT_LT(waited, 2);
  gate.open();
  EXPECT_TRUE(queue.waitUntilEmpty(5));
}

TEST(OperationQueue, OperationsMayAddToTheirOwnQueue) {
  std::atomic<int> ran{0};
  {
    OperationQueue queue(1, "nested");
    queue.add([&] {
      ++ran;
      queue.add([&] { ++ran; });
    });
    ASSERT_TRUE(queue.waitUntilEmpty(5));
  }
  EXPECT_EQ(ran.load(), 2);
}

}  // namespace
}  // namespace greyfox
