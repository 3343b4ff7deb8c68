// The requesting-process filter's classes and the file system's error
// translation, without a mount.
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include <gtest/gtest.h>

#include "drive/QBDriveFS.h"
#include "drive/QBSatellitesController.h"
#include "content/QBTmpController.h"
#include "platform/TestTempRoot.h"
#include "platform/Timings.h"

namespace greyfox {
namespace {

TEST(QBSatellitesController, ClassifiesByExecutableInSystemLocationsAndByBundle) {
  struct Case {
    const char* name;
    std::string executable, bundle;
    QBCallingProcessClass expected;
  } cases[] = {
      {"quick look", "/System/Library/Frameworks/QuickLook.framework/Resources/quicklookd.app/Contents/XPCServices/"
                     "QuickLookSatellite.xpc/Contents/MacOS/QuickLookSatellite", "", QBCallingProcessThumbnail},
      {"quick look copied home",
       "/Users/ann/quicklookd.app/Contents/XPCServices/QuickLookSatellite.xpc/Contents/MacOS/QuickLookSatellite", "",
       QBCallingProcessOrdinary},
      {"gnome thumbnailer", "/usr/bin/gdk-pixbuf-thumbnailer", "", QBCallingProcessThumbnail},
      {"video thumbnailer", "/usr/bin/totem-video-thumbnailer", "", QBCallingProcessThumbnail},
      {"thumbnailer in home", "/home/ann/bin/gdk-pixbuf-thumbnailer", "", QBCallingProcessOrdinary},
      {"tracker miner", "/usr/libexec/tracker-miner-fs-3", "", QBCallingProcessSystemService},
      {"baloo", "/usr/bin/baloo_file", "", QBCallingProcessSystemService},
      {"merged lib", "/lib/x86_64-linux-gnu/tracker-miner-fs", "", QBCallingProcessSystemService},
      {"look-alike root", "/usrlocal/bin/baloo_file", "", QBCallingProcessOrdinary},
      {"relative path", "usr/bin/baloo_file", "", QBCallingProcessOrdinary},
      {"suffix inside a name", "/usr/bin/my_baloo_file", "", QBCallingProcessOrdinary},
      {"ordinary tool", "/usr/bin/cat", "", QBCallingProcessOrdinary},
      {"unknown process", "", "", QBCallingProcessOrdinary},
      {"bundle with mds in any case", "/Applications/X.app/Contents/MacOS/X", "CMDShell.app",
       QBCallingProcessSystemService},
      {"quicklookd bundle", "", "quicklookd.app", QBCallingProcessSystemService},
      {"quicklookd bundle other case", "", "QuickLookd.app", QBCallingProcessOrdinary},
      {"save panel", "", "com.apple.appkit.xpc.openAndSavePanelService.xpc", QBCallingProcessSystemService},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QBSatellitesController::classify(c.executable, c.bundle), c.expected) << c.name;
  }
}

TEST(QBSatellitesController, ThumbnailOpensOnlyForImageNames) {
  QBSatellitesController filter;
  struct Case {
    std::string path;
    bool accepted;
  } cases[] = {
      {"/Photos/photo.PNG", true}, {"/a.jpeg", true},      {"/b.JpG", true},        {"/report.pdf", false},
      {"/jpg", false},             {"/dir.png/file", false}, {"/archive.png.zip", false},
  };
  for (const auto& c : cases) EXPECT_EQ(filter.openThumbnailAt(c.path), c.accepted) << c.path;
}

TEST(QBSatellitesController, ExecutableOfAProcess) {
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  EXPECT_EQ(QBSatellitesController::executableOfProcess(getpid()), self);
  EXPECT_EQ(QBSatellitesController::executableOfProcess(0), "");
  EXPECT_EQ(QBSatellitesController::executableOfProcess(INT_MAX), "");
  // Outside a file-system request there is no requesting process.
  EXPECT_EQ(QBSatellitesController::getCallingProcessExecutable(), "");
}

TEST(QBDriveFS, NotFoundBecomesENOENTAndEverythingElseEIO) {
  struct Case {
    const char* name;
    ErrorPtr error;
    int expected;
  } cases[] = {
      {"file not found", makeError(kQBErrorDomain, -1000, "File not found!", nullptr), ENOENT},
      {"shared user not found", makeError(kQBErrorDomain, -998, "Shared user not found.", nullptr), EIO},
      {"network", makeError(kQBErrorDomain, -200, "Server communication error.", nullptr), EIO},
      {"timed out", makeError(kQBErrorDomain, -996, "Download timed out!", nullptr), EIO},
      {"no error", nullptr, EIO},
  };
  for (const auto& c : cases) {
    ErrorPtr error = c.error;
    EXPECT_FALSE(QBDriveFS::fillPosixError(&error, false)) << c.name;
    ASSERT_TRUE(error) << c.name;
    EXPECT_EQ(error->domain, kPOSIXErrorDomain) << c.name;
    EXPECT_EQ(posixCodeOf(error), c.expected) << c.name;
  }
}

TEST(QBDriveFS, WhatTheUserIsShownForEachError) {
  struct Case {
    const char* name;
    long code;
    long shownCode;
    std::string shownText;
    std::optional<std::string> title;
  } cases[] = {
      {"not found", -1000, 501, "Item not found", std::nullopt},
      {"shared user not found", -998, 501, "Item not found", std::nullopt},
      {"encryption key", -1003, 502, "Secure folder ID required. Please go to secure folder using Finder.",
       std::nullopt},
      {"network", -200, -200, "the reason", "Network error"},
      {"server", -197, -197, "the reason", "Server error"},
      {"no session", -199, 1000, "the reason", std::nullopt},
      {"no sharing id", -198, 1000, "the reason", std::nullopt},
      {"other", -996, -996, "the reason", std::nullopt},
  };
  for (const auto& c : cases) {
    auto p = QBDriveFS::presentationOf(makeError(kQBErrorDomain, c.code, "the reason", nullptr));
    ASSERT_TRUE(p.error) << c.name;
    EXPECT_EQ(p.error->code, c.shownCode) << c.name;
    EXPECT_EQ(p.error->message(), c.shownText) << c.name;
    EXPECT_EQ(p.title, c.title) << c.name;
  }
}

// Reads of a local-only file, whose bytes come from the staging area: a
// read that finds nothing is tried again after a pause, three times.
class QBDriveFSRetries : public ::testing::Test {
 protected:
  void SetUp() override {
    Timings t;
    t.readRetryPause = kPause;
    Timings::install(t);
    staging_ = QBTmpController::initSharedController(root_.path() + "/staging", nullptr);
    ASSERT_TRUE(staging_);
    ASSERT_TRUE(staging_->createFileAt(kPath, nullptr));
    ASSERT_TRUE(staging_->writeFileAt(kPath, 0, "staged bytes", nullptr));
    ASSERT_TRUE(fs_.openFileAtPath(kPath, O_RDONLY, &handle_, nullptr));
  }
  void TearDown() override { Timings::install(Timings{}); }

  double secondsOfRead(std::string* data, long* result, ErrorPtr* error) {
    data->assign(64, '\0');
    auto start = std::chrono::steady_clock::now();
    *result = fs_.readFileAtPath(kPath, handle_, data->data(), data->size(), 0, error);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  static constexpr double kPause = 0.5;
  static constexpr const char* kPath = "/Work/.DS_Store";
  greyfox::testing::TempRoot root_;
  std::shared_ptr<QBTmpController> staging_;
  QBDriveFS fs_{QBDriveFSParts{}};
  QBFileHandlePtr handle_;
};

TEST_F(QBDriveFSRetries, AReadThatFindsDataOnARetryReturnsIt) {
  ASSERT_TRUE(staging_->removeFileAt(kPath, nullptr));
  std::thread restore([this] {
    std::this_thread::sleep_for(std::chrono::duration<double>(kPause / 2));
    staging_->createFileAt(kPath, nullptr);
    staging_->writeFileAt(kPath, 0, "back again", nullptr);
  });
  std::string data;
  long n = 0;
  ErrorPtr error;
  double seconds = secondsOfRead(&data, &n, &error);
  restore.join();
  ASSERT_EQ(n, 10);
  EXPECT_EQ(data.substr(0, 10), "back again");
  EXPECT_GE(seconds, kPause) << "one pause";
  EXPECT_LT(seconds, 2 * kPause) << "and no more";
}

TEST_F(QBDriveFSRetries, AReadThatNeverFindsDataFailsWithEIOAfterThreeRetries) {
  ASSERT_TRUE(staging_->removeFileAt(kPath, nullptr));
  std::string data;
  long n = 0;
  ErrorPtr error;
  double seconds = secondsOfRead(&data, &n, &error);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(posixCodeOf(error), EIO);
  EXPECT_GE(seconds, 3 * kPause);
  EXPECT_LT(seconds, 4 * kPause);
}

TEST_F(QBDriveFSRetries, AReadAtTheEndAnswersZeroAtOnce) {
  std::string data(8, '\0');
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fs_.readFileAtPath(kPath, handle_, data.data(), data.size(), 12, nullptr), 0);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), kPause);
}

}  // namespace
}  // namespace greyfox
