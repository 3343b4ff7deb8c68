// The drive controller over a real mount: where it mounts, the reports on
// the main run loop, the busy alert, remounting and a dead volume left by a
// crashed run.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "MountedVolume.h"
#include "drive/QBDriveController.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"
#include "platform/UIPort.h"

extern char** environ;

namespace greyfox::test {
namespace {

constexpr const char* kDeadMountVariable = "GREYFOX_TEST_DEAD_MOUNT_AT";

// Started with kDeadMountVariable set, the test program is the helper of
// ADeadVolumeLeftByACrashIsTakenAway: before any test runs it mounts at the
// given point and dies without unmounting.
[[maybe_unused]] const bool kIsDeadVolumeHelper = [] {
  const char* point = std::getenv(kDeadMountVariable);
  if (!point) return false;
  static TempDir dir;
  static MountReports reports;
  static QBUserFileSystem fs(std::make_shared<LocalFolderDelegate>(dir.path()), true);
  fs.mountAtPath(point, QBMountOptions::forDrive("Dead"));
  if (reports.waitFor(kGMUserFileSystemDidMount)) ::kill(::getpid(), SIGKILL);
  std::_Exit(1);
}();

class RecordingShell : public QBDriveControllerDelegate {
 public:
  void driveControllerDidMountedDrive(QBDriveController&) override {
    record("mounted");
    if (onMounted) onMounted();
  }
  void driveControllerDidUnmountedDrive(QBDriveController&) override { record("unmounted"); }
  void driveControllerDidFailedToMount(QBDriveController&, const ErrorPtr& error) override {
    lastError = error;
    record("failed");
  }
  int count(const std::string& report) const { return static_cast<int>(std::count(reports.begin(), reports.end(), report)); }

  std::vector<std::string> reports;
  std::vector<std::thread::id> threads;
  ErrorPtr lastError;
  std::function<void()> onMounted;

 private:
  void record(const std::string& report) {
    reports.push_back(report);
    threads.push_back(std::this_thread::get_id());
  }
};

// How many mounts /proc/self/mountinfo lists at `path` (spaces escaped).
int mountsAt(std::string path) {
  for (size_t i = 0; (i = path.find(' ', i)) != std::string::npos;) path.replace(i, 1, "\\040");
  std::ifstream in("/proc/self/mountinfo");
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(" " + path + " ") != std::string::npos) ++count;
  }
  return count;
}

class DriveControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Timings::install(Timings{});
    Paths::install(Paths::underRoot(root_.path()));
    ui_ = std::make_shared<ScriptedUI>();
    UIPort::install(ui_);
    backing_ = root_.path() + "/backing";
    ::mkdir(backing_.c_str(), 0755);
    shell_ = std::make_shared<RecordingShell>();
    controller_ = std::make_unique<QBDriveController>("Greyfox Test", [this] {
      ++made_;
      return std::make_shared<LocalFolderDelegate>(backing_);
    });
    controller_->setDelegate(shell_);
  }
  void TearDown() override {
    controller_.reset();  // detaches a volume still mounted
    RunLoop::main().runFor(0.01);
    UIPort::install(nullptr);
    Paths::install(Paths::fromEnvironment());
  }
  bool waitForReport(const std::string& report, int count = 1) {
    return RunLoop::main().runUntil(10, [&] { return shell_->count(report) >= count; });
  }

  TempDir root_;
  std::string backing_;
  std::shared_ptr<ScriptedUI> ui_;
  std::shared_ptr<RecordingShell> shell_;
  std::unique_ptr<QBDriveController> controller_;
  int made_ = 0;
};

TEST_F(DriveControllerTest, MountsAtTheDrivePathAndReportsOnTheMainLoop) {
  const std::string point = Paths::current().mountDirectory() + "/Greyfox Test";
  EXPECT_EQ(controller_->driveRootPath(), point);
  ASSERT_TRUE(writeFile(backing_ + "/hello.txt", "hello"));

  controller_->mountQBDrive();
  ASSERT_TRUE(waitForReport("mounted"));
  EXPECT_EQ(readFile(point + "/hello.txt"), "hello");
  EXPECT_EQ(mountsAt(point), 1);
  EXPECT_EQ(shell_->threads.front(), std::this_thread::get_id()) << "not delivered on the main run loop";

  EXPECT_TRUE(controller_->unmount());
  ASSERT_TRUE(waitForReport("unmounted"));
  EXPECT_EQ(shell_->reports, (std::vector<std::string>{"mounted", "unmounted"}));
  EXPECT_EQ(mountsAt(point), 0);
  EXPECT_TRUE(ui_->alerts().empty());
}

TEST_F(DriveControllerTest, BusyVolumeShowsTheAlertAndStays) {
  ASSERT_TRUE(writeFile(backing_ + "/open.txt", "open"));
  controller_->mountQBDrive();
  ASSERT_TRUE(waitForReport("mounted"));
  const std::string file = controller_->driveRootPath() + "/open.txt";
  int fd = ::open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);

  EXPECT_FALSE(controller_->unmount());
  ASSERT_EQ(ui_->alerts().size(), 1u);
  EXPECT_EQ(ui_->alerts()[0].message,
            "Drive is busy, please quit all application using Greyfox Cloud, and try again (" +
                std::to_string(EBUSY) + ")");
  EXPECT_EQ(readFile(file), "open") << "the busy volume stopped working";
  ::close(fd);

  EXPECT_TRUE(controller_->unmount());
  ASSERT_TRUE(waitForReport("unmounted"));
}

TEST_F(DriveControllerTest, MountedReportWhileOneIsBeingDeliveredIsDropped) {
  controller_->mountQBDrive();
  QBUserFileSystem* fs = controller_->fileSystem();
  int nested = 0;
  shell_->onMounted = [&] {
    if (nested++ > 0) return;
    // A second report arrives while the first is still with the shell.
    NotificationCenter::defaultCenter().post(kGMUserFileSystemDidMount, fs);
    RunLoop::main().runFor(0.05);
  };
  ASSERT_TRUE(waitForReport("mounted"));
  RunLoop::main().runFor(0.05);
  EXPECT_EQ(shell_->count("mounted"), 1);

  // One after another, each reaches the shell; another file system's do not.
  NotificationCenter::defaultCenter().post(kGMUserFileSystemDidMount, fs);
  ASSERT_TRUE(waitForReport("mounted", 2));
  QBUserFileSystem other(std::make_shared<LocalFolderDelegate>(backing_), true);
  NotificationCenter::defaultCenter().post(kGMUserFileSystemDidMount, &other);
  NotificationCenter::defaultCenter().post(kGMUserFileSystemDidUnmount, &other);
  RunLoop::main().runFor(0.05);
  EXPECT_EQ(shell_->reports, (std::vector<std::string>{"mounted", "mounted"}));
}

TEST_F(DriveControllerTest, FailedMountReportsTheError) {
  // The mount directory cannot be made: a file holds its place.
  ASSERT_TRUE(writeFile(root_.path() + "/not-a-folder", "x"));
  Paths::install(Paths::underRoot(root_.path()).setMountDirectory(root_.path() + "/not-a-folder"));
  controller_->mountQBDrive();
  ASSERT_TRUE(waitForReport("failed"));
  ASSERT_TRUE(shell_->lastError);
  EXPECT_EQ(shell_->lastError->code, ENOTDIR);
  EXPECT_EQ(shell_->count("mounted"), 0);
}

TEST_F(DriveControllerTest, MountingAgainReplacesTheEarlierVolume) {
  controller_->mountQBDrive();
  ASSERT_TRUE(waitForReport("mounted"));
  controller_->mountQBDrive();
  ASSERT_TRUE(waitForReport("mounted", 2));
  RunLoop::main().runFor(0.05);
  EXPECT_EQ(made_, 2);
  EXPECT_EQ(mountsAt(controller_->driveRootPath()), 1);
  EXPECT_EQ(shell_->count("unmounted"), 0) << "the replaced volume's end is no unmount of the drive";
  ASSERT_TRUE(writeFile(backing_ + "/x", "x"));
  EXPECT_EQ(readFile(controller_->driveRootPath() + "/x"), "x");
}

TEST_F(DriveControllerTest, ADeadVolumeLeftByACrashIsTakenAway) {
  // A child process mounts at the drive's point and dies without unmounting.
  const std::string point = controller_->driveRootPath();
  struct DetachAtExit {
    ~DetachAtExit() {
      for (int i = 0; i < 4 && ::umount2(path.c_str(), MNT_DETACH) == 0; ++i) {
      }
    }
    std::string path;
  } detach{point};
  ASSERT_EQ(::mkdir(Paths::current().mountDirectory().c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(point.c_str(), 0755), 0);
  std::string variable = std::string(kDeadMountVariable) + "=" + point;
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.push_back(variable.data());
  env.push_back(nullptr);
  std::string self = "/proc/self/exe";
  char* argv[] = {self.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, self.c_str(), &actions, nullptr, argv, env.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the helper did not mount and die";
  struct statfs st {};
  ASSERT_EQ(::statfs(point.c_str(), &st), -1);
  ASSERT_EQ(errno, ENOTCONN);

  ASSERT_TRUE(writeFile(backing_ + "/back.txt", "back"));
  controller_->mountQBDrive();
  ASSERT_TRUE(waitForReport("mounted"));
  EXPECT_EQ(readFile(point + "/back.txt"), "back");
  EXPECT_EQ(mountsAt(point), 1);
}

}  // namespace
}  // namespace greyfox::test
