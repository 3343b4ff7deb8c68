#include "diag/Utilities.h"

#include <stdlib.h>
#include <sys/statvfs.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "diag/Log.h"
#include "diag/Logging.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/RunLoop.h"
#include "platform/TestTempRoot.h"
#include "platform/Timings.h"
#include "platform/UIPort.h"

namespace greyfox {
namespace {

namespace fs = std::filesystem;

TEST(SizeFormat, DecimalUnitsAtEveryBoundary) {
  struct Case {
    const char* name;
    std::int64_t bytes;
    std::optional<std::string> expected;
  } cases[] = {
      {"zero", 0, "0 bytes"},
      {"one byte", 1, "1 bytes"},
      {"largest byte count", 999, "999 bytes"},
      {"smallest KB", 1000, "1.0 KB"},
      // 1.05f is 1.0499999..., so single-precision division rounds down
      // where double precision would give "1.1 KB".
      {"KB divided in single precision", 1050, "1.0 KB"},
      {"largest KB rounds up", 999999, "1000.0 KB"},
      {"smallest MB", 1000000, "1.00 MB"},
      {"largest MB", 999999999, "1000.00 MB"},
      {"smallest GB", 1000000000, "1.00 GB"},
      {"terabytes stay in GB", 1234567890123, "1234.57 GB"},
      {"negative", -1, std::nullopt},
      {"most negative", INT64_MIN, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QBUIUtilities::getSizeFormattedStr(c.bytes), c.expected) << c.name;
  }
}

TEST(SizeFormat, StorageLine) {
  EXPECT_EQ(QBUIUtilities::formatStorageInfo(5000000, 0, true), "5.00 MB used | Unlimited");
  // The maximum comes in mebibytes: 1024 MiB is 1,073,741,824 bytes.
  EXPECT_EQ(QBUIUtilities::formatStorageInfo(1500, 1024, false), "1.5 KB of 1.07 GB used");
  EXPECT_EQ(QBUIUtilities::formatStorageInfo(0, 0, false), "0 bytes of 0 bytes used");
  // A maximum too large to shift into bytes saturates instead of wrapping negative.
  EXPECT_EQ(QBUIUtilities::formatStorageInfo(0, INT64_MAX, false), "0 bytes of 9223372036.85 GB used");
}

TEST(Md5, KnownDigests) {
  struct Case {
    const char* name;
    std::string input;
    const char* digest;
  } cases[] = {
      {"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"sentence", "The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
      {"UTF-8 name", "\xc3\xa9t\xc3\xa9.txt", "b85e79b8cfb62d64bf59a779fabdfc75"},
      {"embedded NUL", std::string("a\0b", 3), "70350f6027bce3713f6b76473084309b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utilities::md5HexDigest(c.input), c.digest) << c.name;
  }
}

TEST(RunIdentifier, OneUuidForTheWholeProcess) {
  std::vector<std::string> seen(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { seen[i] = Utilities::appRuntimeIdentifier(); });
  for (auto& t : threads) t.join();
  for (const auto& id : seen) EXPECT_EQ(id, seen[0]);
  EXPECT_TRUE(std::regex_match(seen[0], std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << seen[0];
}

class UtilitiesDirectories : public ::testing::Test {
 protected:
  testing::TempRoot root;
  std::string data = root.path() + "/data";
};

TEST_F(UtilitiesDirectories, PerUserDirectoriesAreMadeUnderApplicationData) {
  struct Case {
    const char* name;
    std::string path;
    std::string expected;
  } cases[] = {
      {"cache root", Utilities::cacheRootPathFor("alice@example.com"), data + "/Quillbox/alice@example.com/Cache"},
      {"companion root", Utilities::cvbRootPathForAccount("alice@example.com"), data + "/Quillbox/alice@example.com/CVB"},
      {"log directory", Utilities::LogFilePath(), data + "/Quillbox/LogDirectory"},
      {"renaming logs", Utilities::renamingsLog(), data + "/Quillbox/rns"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.path, c.expected) << c.name;
    EXPECT_TRUE(fs::is_directory(c.expected)) << c.name;
  }
  EXPECT_EQ(Utilities::driveRootPathFor("Quillbox"), root.path() + "/mnt/Quillbox");
}

TEST_F(UtilitiesDirectories, FailureAnswersEmptyAndLogsWhy) {
  // The log keeps the directory of the root it was set up under.
  auto logging = QBLogging::setupWithPrefix("QB");
  QBLOG("start");

  // Under another root, "Quillbox" is a plain file: nothing can be made below it.
  testing::TempRoot blocked;
  ASSERT_TRUE(makeDirectories(blocked.path() + "/data", 0700, nullptr));
  std::ofstream(blocked.path() + "/data/Quillbox") << "in the way";

  ErrorPtr error;
  EXPECT_EQ(Utilities::findOrCreateDirectory("Quillbox/bob/Cache", &error), "");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -ENOTDIR);
  EXPECT_EQ(Utilities::cacheRootPathFor("bob"), "");
  EXPECT_EQ(Utilities::renamingsLog(), "");
  QBLogging::tearDown();

  auto text = readWholeFile(logging->currentLogFile()).value_or("");
  EXPECT_NE(text.find("]: Unable to find or create application support directory:\ncannot create directory "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("]: Unable to find or create rns directory:\ncannot create directory "), std::string::npos)
      << text;
}

TEST(FreeDiskSpace, ReadsTheApplicationDataFileSystemUnderARoot) {
  testing::TempRoot root;
  ::setenv("GREYFOX_ROOT", root.path().c_str(), 1);
  EXPECT_EQ(Utilities::getFreeDiskSpaceOnThisMac(), 0u) << "no application-data directory yet";
  ASSERT_TRUE(makeDirectories(root.path() + "/data", 0700, nullptr));
  struct statvfs st {};
  ASSERT_EQ(::statvfs(root.path().c_str(), &st), 0);
  double expected = static_cast<double>(st.f_bavail) * st.f_frsize;
  double answered = static_cast<double>(Utilities::getFreeDiskSpaceOnThisMac());
  ::unsetenv("GREYFOX_ROOT");
  EXPECT_GT(answered, 0);
  EXPECT_NEAR(answered, expected, 256.0 * 1024 * 1024) << "other processes write meanwhile";
}

TEST(DateToStr, DayMonthYearTwelveHourClock) {
  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(Utilities::dateToStr(0), "01/01/1970 12:00:00 AM");
  EXPECT_EQ(Utilities::dateToStr(1700000000.9), "14/11/2023 10:13:20 PM");
  if (oldTz) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
  ::tzset();
}

TEST(FinderRefresh, RelativePathsAreMadeAbsoluteAndRepeatsSkipped) {
  std::vector<std::string> fired;
  Utilities::setFileSystemChangedHook([&](const std::string& path) { fired.push_back(path); });

  Utilities::fireFinderSyncEventAtRelativePath("/Docs");
  EXPECT_TRUE(fired.empty()) << "no drive mounted: nothing to refresh";

  Utilities::setDriveRootPathProvider([] { return std::string("/home/u/Drives/Quillbox"); });
  Utilities::fireFinderSyncEventAtRelativePathArray({"/a", "/b", "/a", "/c d", "/b"});
  Utilities::fireFinderSyncEventAt("/elsewhere");
  EXPECT_EQ(fired, (std::vector<std::string>{"/home/u/Drives/Quillbox/a", "/home/u/Drives/Quillbox/b",
                                             "/home/u/Drives/Quillbox/c d", "/elsewhere"}));

  Utilities::setFileSystemChangedHook(nullptr);
  Utilities::setDriveRootPathProvider(nullptr);
  Utilities::fireFinderSyncEventAt("/after");
  EXPECT_EQ(fired.size(), 4u);
}

ErrorPtr errorWith(long code, nlohmann::json userInfo, ErrorPtr underlying = nullptr) {
  auto e = std::make_shared<Error>();
  e->domain = kQBErrorDomain;
  e->code = code;
  e->userInfo = std::move(userInfo);
  e->underlying = std::move(underlying);
  return e;
}

TEST(ErrorMessageBody, PicksOneTextPerErrorOfTheChain) {
  struct Case {
    const char* name;
    ErrorPtr error;
    std::string body;
  } cases[] = {
      {"description equal to reason",
       errorWith(-5, {{kDescriptionKey, "Disk full"}, {kFailureReasonKey, "Disk full"}}), "- Disk full [-5]\n"},
      {"reason differing from description",
       errorWith(-5, {{kDescriptionKey, "Upload failed"}, {kFailureReasonKey, "Quota exceeded"}}),
       "- Quota exceeded [-5]\n"},
      {"description alone", errorWith(-6, {{kDescriptionKey, "Only description"}}), "- Only description [-6]\n"},
      {"reason alone", errorWith(-7, {{kFailureReasonKey, "Only reason"}}), "- Only reason [-7]\n"},
      {"debug description alone", errorWith(-8, {{kDebugDescriptionKey, "dbg"}}), "- dbg [-8]\n"},
      {"none of the three", errorWith(-9, {{kNilKey, nullptr}}), "- Unknown error [-9]\n"},
      {"chain of three",
       makeError(kQBErrorDomain, -1000, "File not found!",
                 errorWith(-101, {{kDescriptionKey, "HTTP"}}, errorWith(-2, nlohmann::json::object()))),
       "- File not found! [-1000]\n- HTTP [-101]\n- Unknown error [-2]\n"},
      {"no error at all", nullptr, "- Unknown error ((null))"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utilities::errorMessageBody(c.error), c.body) << c.name;
  }
}

class ErrorPresentation : public ::testing::Test {
 protected:
  void SetUp() override {
    Clock::install(clock);
    UIPort::install(ui);
    Timings::install(Timings{});
  }
  void TearDown() override {
    Clock::install(nullptr);
    UIPort::install(nullptr);
  }
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<ScriptedUI> ui = std::make_shared<ScriptedUI>();
};

// The table of shown codes lives for the process, so each test uses codes of its own.
TEST_F(ErrorPresentation, OneCodeIsShownAtMostOnceInFifteenSeconds) {
  auto error = makeError(kQBErrorDomain, -4101, "Upload failed", nullptr);
  Utilities::presentErrorInCurrentQueue(error, "Upload");
  EXPECT_EQ(ui->errors(), std::vector<std::string>{"Upload:\n- Upload failed [-4101]\n"});

  clock->advance(14.9);
  Utilities::presentErrorInCurrentQueue(error, "Upload");
  EXPECT_EQ(ui->errors().size(), 1u) << "repeat within 15 s";

  Utilities::presentErrorInCurrentQueue(makeError(kQBErrorDomain, -4102, "Other", nullptr), std::nullopt);
  ASSERT_EQ(ui->errors().size(), 2u) << "another code is not held back";
  EXPECT_EQ(ui->errors()[1], "Error:\n- Other [-4102]\n");

  clock->advance(0.1);
  Utilities::presentErrorInCurrentQueue(error, "Upload");
  EXPECT_EQ(ui->errors().size(), 3u) << "15 s after it was first shown";

  clock->advance(1);
  Utilities::presentErrorInCurrentQueue(error, "Upload");
  EXPECT_EQ(ui->errors().size(), 3u) << "the window restarts at each showing";
}

TEST_F(ErrorPresentation, AClockSetBackDoesNotSilenceACode) {
  auto error = makeError(kQBErrorDomain, -4103, "x", nullptr);
  Utilities::presentErrorInCurrentQueue(error, "T");
  clock->advance(-3600);
  Utilities::presentErrorInCurrentQueue(error, "T");
  EXPECT_EQ(ui->errors().size(), 2u);
}

TEST_F(ErrorPresentation, PresentErrorRunsOnTheMainLoop) {
  Utilities::presentError(makeError(kQBErrorDomain, -4104, "Later", nullptr), "Main");
  EXPECT_TRUE(ui->errors().empty()) << "nothing shown before the main loop runs";
  ASSERT_TRUE(RunLoop::main().runUntil(5, [&] { return !ui->errors().empty(); }));
  EXPECT_EQ(ui->errors()[0], "Main:\n- Later [-4104]\n");
}

}  // namespace
}  // namespace greyfox
