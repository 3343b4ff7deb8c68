#include "content/QBBackgroundFolderUpdateController.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/RunLoop.h"
#include "platform/Timings.h"

namespace greyfox {
namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class TransferLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Timings t;
    t.lockWait = 0.5;
    Timings::install(t);
  }
  void TearDown() override { Timings::install(Timings{}); }
  QBBackgroundFolderUpdateController locks_;
};

TEST_F(TransferLockTest, TrailingSlashNamesTheSameLock) {
  EXPECT_TRUE(locks_.tryLockFor("/Documents/"));
  EXPECT_FALSE(locks_.tryLockFor("/Documents"));
  EXPECT_FALSE(locks_.tryLockFor("//Documents/./"));
  locks_.unlockFor("/Documents");
  EXPECT_TRUE(locks_.tryLockFor("/Documents"));
  EXPECT_TRUE(locks_.tryLockFor("/Other")) << "other folders are independent";
}

TEST_F(TransferLockTest, ReleasedFromAnotherThread) {
  ASSERT_TRUE(locks_.tryLockFor("/a"));
  std::thread([&] { locks_.unlockFor("/a"); }).join();
  EXPECT_TRUE(locks_.tryLockFor("/a"));
}

TEST_F(TransferLockTest, UnlockingAFreeOrUnknownLockDoesNothing) {
  locks_.unlockFor("/never-locked");
  EXPECT_TRUE(locks_.tryLockFor("/never-locked"));
  EXPECT_FALSE(locks_.tryLockFor("/never-locked")) << "a stray unlock must not leave the lock doubly free";
}

TEST_F(TransferLockTest, WaiterWakesAsSoonAsTheLockIsReleased) {
  ASSERT_TRUE(locks_.tryLockFor("/w"));
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    locks_.unlockFor("/w");
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(locks_.waitForLockFor("/w"));
  double waited = secondsSince(start);
  releaser.join();
  EXPECT_GE(waited, 0.1);
  EXPECT_LT(waited, 0.45) << "the waiter must not sleep past the release";
}

TEST_F(TransferLockTest, WaiterGivesUpAtTheBound) {
  ASSERT_TRUE(locks_.tryLockFor("/held"));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(locks_.waitForLockFor("/held"));
  double waited = secondsSince(start);
  EXPECT_GE(waited, 0.45);
  EXPECT_LT(waited, 1.5);
}

TEST_F(TransferLockTest, WaiterOnTheMainLoopStillDeliversTheReleasingCallback) {
  // The release comes from a task posted to the waiting thread's own loop, as
  // a download's completion reaches the main thread.
  ASSERT_TRUE(locks_.tryLockFor("/m"));
  RunLoop::current().postAfter(0.1, [&] { locks_.unlockFor("/m"); });
  EXPECT_TRUE(locks_.waitForLockFor("/m"));
}

}  // namespace
}  // namespace greyfox
