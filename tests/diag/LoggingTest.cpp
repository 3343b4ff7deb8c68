#include "diag/Logging.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "diag/DebugOptions.h"
#include "diag/Log.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Preferences.h"
#include "platform/TestTempRoot.h"

namespace greyfox {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string readAllLogs(const std::string& dir) {
  std::string all;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) all += readWholeFile(entry.path()).value_or("");
  return all;
}

class Logging : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz = tz != nullptr;
    if (tz) savedTz = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    QBLogging::tearDown();
    Clock::install(nullptr);
    if (hadTz) ::setenv("TZ", savedTz.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
  }

  testing::TempRoot root;
  std::string logDir = root.path() + "/data/Quillbox/LogDirectory/";
  bool hadTz = false;
  std::string savedTz;
};

TEST_F(Logging, FirstLineNamesTheFileAndMakesTheDirectory) {
  auto clock = std::make_shared<ManualClock>(1700000000.257);
  Clock::install(clock);
  auto logging = QBLogging::setupWithPrefix("QB");
  EXPECT_EQ(logging->path(), logDir);
  EXPECT_FALSE(fs::exists(logDir)) << "nothing is made before the first line";

  QBLOG("hello %d from %s", 42, "test");
  clock->advance(0.5);
  QBLOG("second");

  const std::string file = logDir + "QBLog-2023-11-14 22:13:20.25.txt";
  EXPECT_EQ(logging->currentLogFile(), file);
  EXPECT_EQ(readWholeFile(file).value_or("<missing>"),
            "[2023-11-14 22:13:20.25]: [2023-11-14 22:13:20]: hello 42 from test\n"
            "[2023-11-14 22:13:20.75]: [2023-11-14 22:13:20]: second\n");
  EXPECT_EQ(logging->ongoingLogs(), std::vector<std::string>{file});
}

TEST_F(Logging, LinesCarryTheirWritingTime) {
  auto logging = QBLogging::setupWithPrefix("QB");
  double before = std::floor(Clock::current().now());
  QBLOG("stamped");
  double after = Clock::current().now();

  std::smatch m;
  std::string name = fs::path(logging->currentLogFile()).filename();
  ASSERT_TRUE(std::regex_match(name, m, std::regex(R"(QBLog-(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\.\d\d\.txt)"))) << name;
  std::string line = readWholeFile(logging->currentLogFile()).value_or("");
  ASSERT_TRUE(std::regex_match(line, m,
                               std::regex(R"(\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\.(\d\d)\]: \[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\]: stamped\n)")))
      << line;
  for (std::string stamp : {m[1].str(), m[3].str()}) {
    std::tm tm{};
    ASSERT_NE(::strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &tm), nullptr) << stamp;
    double t = static_cast<double>(::timegm(&tm));
    EXPECT_GE(t, before) << stamp;
    EXPECT_LE(t, after) << stamp;
  }
}

TEST_F(Logging, SuccinctLinesHaveNoStampsAndAFileOfTheirOwn) {
  auto clock = std::make_shared<ManualClock>(1700000000.0);
  Clock::install(clock);
  auto logging = QBLogging::setupWithPrefix("QB");
  QBLOG("ordinary");
  clock->advance(1.5);
  QBLOG_SUCCINCT("plain %s", "text");
  logging->fileMessage("raw through the ordinary writer\n", true);

  EXPECT_EQ(logging->currentSuccinctLogFile(), logDir + "QBLog-2023-11-14 22:13:21.50.txt");
  EXPECT_EQ(readWholeFile(logging->currentSuccinctLogFile()).value_or(""), "plain text\n");
  EXPECT_EQ(readWholeFile(logging->currentLogFile()).value_or(""),
            "[2023-11-14 22:13:20.00]: [2023-11-14 22:13:20]: ordinary\nraw through the ordinary writer\n");
}

TEST_F(Logging, WritersStartingInTheSameHundredthShareTheFileWithoutLosingLines) {
  Clock::install(std::make_shared<ManualClock>(1700000000.0));
  auto logging = QBLogging::setupWithPrefix("QB");
  QBLOG("first");
  QBLOG_SUCCINCT("second");
  ASSERT_EQ(logging->currentLogFile(), logging->currentSuccinctLogFile());
  EXPECT_EQ(readWholeFile(logging->currentLogFile()).value_or(""),
            "[2023-11-14 22:13:20.00]: [2023-11-14 22:13:20]: first\nsecond\n");
}

TEST_F(Logging, ConcurrentWritersNeverInterleaveLines) {
  auto logging = QBLogging::setupWithPrefix("QB");
  constexpr int kThreads = 8, kLines = 400;
  const std::string payload(300, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) QBLOG("t%d-%04d-%s", t, i, payload.c_str());
    });
  }
  for (auto& t : threads) t.join();

  auto lines = linesOf(readWholeFile(logging->currentLogFile()).value_or(""));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  const std::regex shape(R"(\[[-0-9: .]{22}\]: \[[-0-9: ]{19}\]: t(\d)-(\d{4})-x{300})");
  std::vector<int> next(kThreads, 0);
  for (const auto& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    int t = std::stoi(m[1]);
    EXPECT_EQ(std::stoi(m[2]), next[t]++) << "lines of thread " << t << " out of order";
  }
}

TEST_F(Logging, AnUnwritableDirectoryLosesLinesUntilItCanBeMade) {
  // A plain file where the log directory's parent should be.
  ASSERT_TRUE(makeDirectories(root.path() + "/data", 0700, nullptr));
  std::ofstream(root.path() + "/data/Quillbox") << "in the way";
  auto logging = QBLogging::setupWithPrefix("QB");

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 50; ++i) QBLOG("lost %d", i);
    });
  }
  for (auto& t : threads) t.join();
  QBLOG_SUCCINCT("lost too");
  EXPECT_FALSE(fs::exists(logging->currentLogFile()));

  fs::remove(root.path() + "/data/Quillbox");
  QBLOG("kept");
  auto text = readWholeFile(logging->currentLogFile()).value_or("");
  EXPECT_EQ(linesOf(text).size(), 1u) << text;
  EXPECT_NE(text.find("]: kept"), std::string::npos) << text;
}

TEST_F(Logging, NothingIsWrittenBeforeSetupOrAfterTearDown) {
  QBLOG("before");
  auto logging = QBLogging::setupWithPrefix("QB");
  QBLOG("during");
  QBLogging::tearDown();
  QBLOG("after");
  auto lines = linesOf(readAllLogs(logDir));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("during"), std::string::npos);
}

// Makes `count` files in `dir`, oldest first, with creation order and
// modification times agreeing (the file system may keep no birth time).
void makeAgedFiles(const std::string& dir, const std::string& stem, int count) {
  ASSERT_TRUE(makeDirectories(dir, 0700, nullptr));
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%02d.txt", stem.c_str(), i);
    std::string path = dir + "/" + name;
    std::ofstream(path) << i;
    timespec times[2] = {{1600000000 + i, 0}, {1600000000 + i, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
}

std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) names.insert(entry.path().filename());
  return names;
}

TEST_F(Logging, CleanupKeepsTheNewestEighteenAndTheExtensionsNewestTwo) {
  auto logging = QBLogging::setupWithPrefix("QB");
  makeAgedFiles(logDir, "QBLog-", 20);
  makeAgedFiles(QBLogging::extensionLogDirectory(), "Ext-", 5);

  logging->cleanup();

  std::set<std::string> expected;
  for (int i = 2; i < 20; ++i) expected.insert("QBLog-" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".txt");
  EXPECT_EQ(namesIn(logDir), expected);
  EXPECT_EQ(namesIn(QBLogging::extensionLogDirectory()), (std::set<std::string>{"Ext-03.txt", "Ext-04.txt"}));

  QBLogging::cleanupLogsFolder(root.path() + "/no such folder", 1);  // nothing to prune, no failure
  QBLogging::cleanupLogsFolder(logDir, 18);
  EXPECT_EQ(namesIn(logDir).size(), 18u) << "already within the limit";
}

TEST_F(Logging, RunningFlagPersists) {
  QBLogging::setRunningFlag(true);
  EXPECT_TRUE(QBLogging::checkQuitFlag());
  EXPECT_EQ(Preferences(Paths::current().preferencesFile()).get("running"), true);
  QBLogging::setRunningFlag(false);
  EXPECT_FALSE(QBLogging::checkQuitFlag());
}

TEST(DebugOptions, DefaultsAreStoredWhenNoneExist) {
  testing::TempRoot root;
  QBDebugOptions::restoreDebugOptions();
  nlohmann::json expected = {{"fsl_appspec", 1},      {"fsl_results", 1},
                             {"al_enabled", 1},       {"bfu_enabled", 1},
                             {"bfu_findersyncobserver", 1}, {"bfu_folderenter", 1},
                             {"bfu_userinfo", 1}};
  EXPECT_EQ(QBDebugOptions::debugOptions(), expected);
  EXPECT_EQ(Preferences(Paths::current().preferencesFile()).get("DBGKeys"), expected);
}

TEST(DebugOptions, CheckDebugParamWithAndWithoutAll) {
  testing::TempRoot root;
  QBDebugOptions::storeDebugOptions({{"al_enabled", 1}, {"fsl_enabled", 0}});
  struct Case {
    const char* name;
    std::optional<long> expected;
  } without[] = {{"al_enabled", 1}, {"fsl_enabled", 0}, {"al_callstack", std::nullopt}};
  for (const auto& c : without) EXPECT_EQ(QBDebugOptions::checkDebugParam(c.name), c.expected) << c.name;
  EXPECT_FALSE(QBDebugOptions::isOn("fsl_enabled"));

  QBDebugOptions::storeDebugOptions({{"ALL", 1}, {"fsl_enabled", 0}});
  for (const char* name : {"al_enabled", "fsl_enabled", "al_callstack", "anything"}) {
    EXPECT_EQ(QBDebugOptions::checkDebugParam(name), 1) << name << " with ALL";
  }

  // What was stored is what the next start restores.
  QBDebugOptions::storeDebugOptions({{"ALL", 0}, {"bfu_enabled", 1}});
  QBDebugOptions::restoreDebugOptions();
  EXPECT_EQ(QBDebugOptions::checkDebugParam("bfu_enabled"), 1);
  EXPECT_EQ(QBDebugOptions::checkDebugParam("al_enabled"), std::nullopt);
}

class CrashLogging : public Logging {
 protected:
  void SetUp() override {
    Logging::SetUp();
    // The parent reads what the child wrote under this test's root.
    GTEST_FLAG_SET(death_test_style, "fast");
  }
};

TEST_F(CrashLogging, FatalSignalLogsItsNameAndStack) {
  EXPECT_EXIT(
      {
        QBLogging::setupWithPrefix("QB");
        QBLOG("about to crash");
        ::raise(SIGSEGV);
      },
      ::testing::KilledBySignal(SIGSEGV), "");
  auto text = readAllLogs(logDir);
  EXPECT_NE(text.find("]: about to crash\n================= Signal: SIGSEGV\n"), std::string::npos) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(Signal: SIGSEGV\n(.*\[0x[0-9a-f]+\]\n){2,})"))) << text;
}

TEST_F(CrashLogging, SignalBeforeAnyLineGoesToStandardError) {
  EXPECT_EXIT(
      {
        QBLogging::setupWithPrefix("QB");
        ::raise(SIGBUS);
      },
      ::testing::KilledBySignal(SIGBUS), "================= Signal: SIGBUS\n.*\\[0x");
}

TEST_F(CrashLogging, UncaughtExceptionLogsReasonTypeAndStack) {
  EXPECT_EXIT(
      {
        QBLogging::setupWithPrefix("QB");
        std::thread([] { throw std::runtime_error("boom-17"); }).join();
      },
      ::testing::KilledBySignal(SIGABRT), "");
  auto text = readAllLogs(logDir);
  EXPECT_NE(text.find("]: ================= Exception: boom-17\n"), std::string::npos) << text;
  EXPECT_NE(text.find("]: std::runtime_error\n"), std::string::npos) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(\]: 0x[0-9a-f]+ :: .+\n)"))) << text;
  EXPECT_EQ(text.find("Signal: SIGABRT"), std::string::npos) << "the abort after the report is not reported again";
}

}  // namespace
}  // namespace greyfox
