// End-to-end: the greyfox executable mounts the demo account of a local
// service, and ordinary tools and system calls use the drive.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "GreyfoxProcess.h"
#include "support/LocalService.h"

namespace greyfox::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDemo = "demo@greyfox.test";
constexpr const char* kFriend = "friend@greyfox.test";
constexpr const char* kPassword = "greyfox-demo";
// Folder refresh ages of 1.75 s and 13.5 s, read retries 0.25 s apart.
constexpr double kTimingsScale = 0.05;

double wallNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Bytes that differ at every position, so a misplaced range shows.
std::string patterned(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// Standard output of a shell command, and its exit status.
std::pair<std::string, int> shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return {"", -1};
  char buffer[65536];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  int status = pclose(p);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::set<std::string> lsNames(const std::string& dir) {
  auto [out, status] = shell("ls -1A " + quoted(dir) + " 2>&1");
  std::set<std::string> names;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) names.insert(line);
  if (status != 0) names.insert("<ls failed: " + out + ">");
  return names;
}

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class MountedDrive : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    service_ = new LocalService();
    service_->putFile(kDemo, "/Fresh/shared.bin", patterned(6 << 20, 1));
    service_->putFile(kDemo, "/Fresh/offline.txt", "read while the service is away\n");
    service_->putFile(kDemo, "/Refresh/changing.txt", "first version\n");
    putTime_ = wallNow();
    service_->putFile(kDemo, "/Dated/dated.txt", "dated\n");

    std::string pattern = (fs::temp_directory_path() / "greyfox-e2e-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    root_ = pattern;
    process_ = new GreyfoxProcess(root_, service_->baseUrl(), kDemo, kPassword, kTimingsScale);
    mount_ = process_->waitForMount(60).value_or("");
  }

  static void TearDownTestSuite() {
    delete process_;  // ends the client and unmounts whatever is left
    process_ = nullptr;
    delete service_;
    service_ = nullptr;
    std::error_code ignored;
    if (!isMountPoint(mount_)) fs::remove_all(root_, ignored);
  }

  void SetUp() override {
    ASSERT_FALSE(mount_.empty()) << "no \"mounted at\" line; greyfox said:\n" << process_->errorOutput();
  }

  static std::string at(const std::string& volumePath) { return mount_ + volumePath; }

  static LocalService* service_;
  static GreyfoxProcess* process_;
  static std::string root_, mount_;
  static double putTime_;
};

LocalService* MountedDrive::service_ = nullptr;
GreyfoxProcess* MountedDrive::process_ = nullptr;
std::string MountedDrive::root_, MountedDrive::mount_;
double MountedDrive::putTime_ = 0;

TEST_F(MountedDrive, ListsTheServiceFoldersAndTheVirtualFolders) {
  struct Case {
    const char* name;
    std::string path;
    std::set<std::string> expected;
  } cases[] = {
      {"root", "/", {"Documents", "Photos", "Big", "Secure", "Fresh", "Shared Folders", "Trash"}},
      {"trash", "/Trash", {"old-draft.txt"}},
      {"sharing users", "/Shared Folders", {kFriend}},
      {"shared folder", std::string("/Shared Folders/") + kFriend + "/Projects", {"plan.txt", "todo.md"}},
      {"nested", "/Documents/Letters", {"letter.txt"}},
  };
  for (const auto& c : cases) {
    std::set<std::string> names = lsNames(at(c.path));
    for (const auto& e : c.expected) EXPECT_TRUE(names.count(e)) << c.name << ": no " << e;
  }
  EXPECT_EQ(lsNames(at("/Documents/Letters")), std::set<std::string>{"letter.txt"});

  struct stat st {};
  errno = 0;
  EXPECT_NE(stat(at("/Documents/no-such-file").c_str(), &st), 0);
  EXPECT_EQ(errno, ENOENT) << "a missing name";
  errno = 0;
  EXPECT_NE(stat(at("/no-such-folder/file").c_str(), &st), 0);
  EXPECT_EQ(errno, ENOENT) << "below a missing folder";
}

TEST_F(MountedDrive, StatShowsSizesDatesAndMode755) {
  struct Case {
    const char* name;
    std::string path;
    bool isFolder;
    std::string owner, servicePath;
  } cases[] = {
      {"root", "/", true, "", ""},
      {"folder", "/Documents", true, "", ""},
      {"virtual trash", "/Trash", true, "", ""},
      {"file", "/Documents/readme.txt", false, kDemo, "/Documents/readme.txt"},
      {"image", "/Photos/garden.png", false, kDemo, "/Photos/garden.png"},
      {"shared file", std::string("/Shared Folders/") + kFriend + "/Projects/plan.txt", false, kFriend,
       "/Projects/plan.txt"},
  };
  for (const auto& c : cases) {
    struct stat st {};
    ASSERT_EQ(stat(at(c.path).c_str(), &st), 0) << c.name << ": " << std::strerror(errno);
    EXPECT_EQ(S_ISDIR(st.st_mode), c.isFolder) << c.name;
    EXPECT_EQ(st.st_mode & 07777, 0755u) << c.name;
    EXPECT_GT(st.st_mtime, 1500000000) << c.name;
    EXPECT_LT(st.st_mtime, wallNow() + 60) << c.name;
    if (!c.isFolder) {
      auto bytes = service_->getFile(c.owner, c.servicePath);
      ASSERT_TRUE(bytes) << c.name;
      EXPECT_EQ(static_cast<std::size_t>(st.st_size), bytes->size()) << c.name;
    }
  }
  struct stat dated {};
  ASSERT_EQ(stat(at("/Dated/dated.txt").c_str(), &dated), 0);
  EXPECT_NEAR(static_cast<double>(dated.st_mtime), putTime_, 5) << "the service's modification date";
}

TEST_F(MountedDrive, ReadsWholeFilesAndRangesByteForByte) {
  struct Case {
    const char* name;
    std::string owner, path;
  } files[] = {
      {"text", kDemo, "/Documents/readme.txt"},
      {"jpeg", kDemo, "/Photos/sunset.jpg"},
      {"nested", kDemo, "/Documents/Letters/letter.txt"},
      {"shared", kFriend, "/Projects/plan.txt"},
  };
  for (const auto& c : files) {
    std::string volumePath = c.owner == kDemo ? c.path : std::string("/Shared Folders/") + kFriend + c.path;
    auto [out, status] = shell("cat " + quoted(at(volumePath)));
    EXPECT_EQ(status, 0) << c.name;
    EXPECT_EQ(out, service_->getFile(c.owner, c.path).value_or("<none>")) << c.name;
  }

  const std::string big = service_->getFile(kDemo, "/Big/big.bin").value_or("");
  ASSERT_EQ(big.size(), 64u << 20);
  struct Range {
    const char* name;
    std::size_t blockSize, skip, count;
  } ranges[] = {
      {"deep inside", 65536, 600, 3},
      {"first block", 4096, 0, 1},
      {"across the end", 1000000, 67, 5},  // 67,000,000 to the end (67,108,864)
  };
  for (const auto& r : ranges) {
    auto [out, status] = shell("dd if=" + quoted(at("/Big/big.bin")) + " bs=" + std::to_string(r.blockSize) +
                               " skip=" + std::to_string(r.skip) + " count=" + std::to_string(r.count) +
                               " status=none");
    EXPECT_EQ(status, 0) << r.name;
    const std::size_t from = r.blockSize * r.skip;
    std::string expected = big.substr(from, std::min(r.blockSize * r.count, big.size() - from));
    EXPECT_EQ(out.size(), expected.size()) << r.name;
    EXPECT_TRUE(out == expected) << r.name;
  }
}

TEST_F(MountedDrive, TwoReadersOfAnUncachedFileShareOneDownload) {
  const std::string expected = service_->getFile(kDemo, "/Fresh/shared.bin").value_or("");
  service_->resetStats();
  std::string first, second;
  std::thread a([&] { first = readWhole(at("/Fresh/shared.bin")); });
  std::thread b([&] { second = readWhole(at("/Fresh/shared.bin")); });
  a.join();
  b.join();
  EXPECT_TRUE(first == expected) << "first reader got " << first.size() << " bytes";
  EXPECT_TRUE(second == expected) << "second reader got " << second.size() << " bytes";
  EXPECT_EQ(service_->stats().value("GET download/file.json", 0), 1);
}

TEST_F(MountedDrive, SharedReadOnlyMappingReadsTheFile) {
  const std::string expected = service_->getFile(kDemo, "/Photos/garden.png").value_or("");
  ASSERT_FALSE(expected.empty());
  int fd = open(at("/Photos/garden.png").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  void* map = mmap(nullptr, expected.size(), PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED) << std::strerror(errno);
  EXPECT_EQ(std::string(static_cast<const char*>(map), expected.size()), expected);
  munmap(map, expected.size());
  close(fd);
}

TEST_F(MountedDrive, CopyingAFolderOutGivesIdenticalFiles) {
  const std::string out = root_ + "/copy";
  auto [text, status] = shell("cp -r " + quoted(at("/Documents")) + " " + quoted(out) + " 2>&1");
  ASSERT_EQ(status, 0) << text;
  std::set<std::string> copied;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = "/" + fs::relative(entry.path(), out).string();
    copied.insert(relative);
    EXPECT_EQ(readWhole(entry.path()), service_->getFile(kDemo, "/Documents" + relative).value_or("<none>"))
        << relative;
  }
  EXPECT_EQ(copied, (std::set<std::string>{"/Letters/letter.txt", "/notes.md", "/readme.txt"}));
}

TEST_F(MountedDrive, ChangesOnTheServiceShowAfterTheFoldersRefresh) {
  ASSERT_EQ(readWhole(at("/Refresh/changing.txt")), "first version\n");
  ASSERT_EQ(lsNames(at("/Refresh")), std::set<std::string>{"changing.txt"});

  const std::string changed = "second version, and longer than the first\n";
  service_->putFile(kDemo, "/Refresh/changing.txt", changed);
  service_->putFile(kDemo, "/Refresh/added.txt", "added on the service\n");

  // Each listing queues the folder's check once its cached copy is old enough.
  std::set<std::string> names;
  const double deadline = wallNow() + 30;
  while (wallNow() < deadline) {
    names = lsNames(at("/Refresh"));
    if (names.count("added.txt")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  EXPECT_EQ(names, (std::set<std::string>{"added.txt", "changing.txt"}));
  EXPECT_EQ(readWhole(at("/Refresh/added.txt")), "added on the service\n");
  EXPECT_EQ(readWhole(at("/Refresh/changing.txt")), changed);
  struct stat st {};
  ASSERT_EQ(stat(at("/Refresh/changing.txt").c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::size_t>(st.st_size), changed.size());
}

TEST_F(MountedDrive, ReadFailsWithEIOWhileTheServiceIsAwayAndWorksAgainAfter) {
  ASSERT_TRUE(lsNames(at("/Fresh")).count("offline.txt"));
  service_->stop();
  const double started = wallNow();
  int fd = open(at("/Fresh/offline.txt").c_str(), O_RDONLY);
  char buffer[64];
  ssize_t n = fd >= 0 ? read(fd, buffer, sizeof buffer) : -1;
  int readErrno = errno;
  if (fd >= 0) close(fd);
  service_->start();
  EXPECT_EQ(n, -1);
  EXPECT_EQ(readErrno, EIO);
  EXPECT_LT(wallNow() - started, 60) << "the failure is reported in bounded time";
  EXPECT_EQ(readWhole(at("/Fresh/offline.txt")), "read while the service is away\n");
}

// Last: ends the client.
TEST_F(MountedDrive, SigtermUnmountsAndExitsZero) {
  std::optional<int> status = process_->stop(SIGTERM, 30);
  ASSERT_TRUE(status.has_value()) << "greyfox did not end; it said:\n" << process_->errorOutput();
  EXPECT_EQ(*status, 0) << process_->errorOutput();
  EXPECT_FALSE(isMountPoint(mount_));
}

TEST(GreyfoxMount, FailedSignInOrMountEndsWithAnErrorAndNonZeroStatus) {
  LocalService service;
  struct Case {
    const char* name;
    std::string password;
    bool blockMountDirectory;
    std::string expectedText;
  } cases[] = {
      {"wrong password", "not-the-password", false, "Login failed"},
      {"mount directory cannot be made", kPassword, true, "Mount failed"},
  };
  for (const auto& c : cases) {
    std::string pattern = (fs::temp_directory_path() / "greyfox-e2e-fail-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(pattern.data())) << c.name;
    // A file where the mount directory would go.
    if (c.blockMountDirectory) std::ofstream(pattern + "/mnt") << "not a folder";
    {
      GreyfoxProcess process(pattern, service.baseUrl(), kDemo, c.password, kTimingsScale);
      EXPECT_FALSE(process.waitForMount(30)) << c.name;
      std::optional<int> status = process.stop(SIGTERM, 30);
      ASSERT_TRUE(status) << c.name;
      EXPECT_NE(*status, 0) << c.name;
      EXPECT_NE(process.errorOutput().find(c.expectedText), std::string::npos) << c.name << ": "
                                                                             << process.errorOutput();
    }
    fs::remove_all(pattern);
  }
}

}  // namespace
}  // namespace greyfox::test
