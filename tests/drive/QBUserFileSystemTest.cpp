// The libfuse adapter driven through a real mount and ordinary system calls.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "MountedVolume.h"
#include "platform/Timings.h"

extern char** environ;

namespace greyfox::test {
namespace {

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

std::set<std::string> listing(const std::string& path) {
  std::set<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) names.insert(e->d_name);
  closedir(dir);
  return names;
}

class UserFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Timings::install(Timings{});
    ASSERT_TRUE(volume_.mounted()) << "the volume did not report its mount";
  }
  void TearDown() override { Timings::install(Timings{}); }
  MountedVolume volume_;
};

TEST_F(UserFileSystemTest, ListsStatsAndReadsWholeFilesAndRanges) {
  const std::string big = randomBytes(3 * 1024 * 1024 + 123, 1);
  ASSERT_TRUE(writeFile(volume_.backing("/big.bin"), big));
  ASSERT_TRUE(writeFile(volume_.backing("/a.txt"), "hello"));
  ASSERT_EQ(::mkdir(volume_.backing("/folder").c_str(), 0700), 0);
  ASSERT_EQ(::chmod(volume_.backing("/a.txt").c_str(), 0640), 0);
  timespec times[2] = {{1'600'000'000, 0}, {1'600'000'123, 500'000'000}};
  ASSERT_EQ(utimensat(AT_FDCWD, volume_.backing("/a.txt").c_str(), times, 0), 0);

  EXPECT_EQ(listing(volume_.at()), (std::set<std::string>{".", "..", "a.txt", "big.bin", "folder"}));

  struct stat st {};
  ASSERT_EQ(::stat(volume_.at("/a.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_size, 5);
  EXPECT_EQ(st.st_mtim.tv_sec, 1'600'000'123);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500'000'000);
  ASSERT_EQ(::stat(volume_.at("/folder").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  EXPECT_EQ(readFile(volume_.at("/big.bin")), big);

  struct statvfs served {}, local {};
  ASSERT_EQ(::statvfs(volume_.at().c_str(), &served), 0);
  ASSERT_EQ(::statvfs(volume_.backing().c_str(), &local), 0);
  EXPECT_EQ(served.f_blocks * served.f_frsize / 4096, local.f_blocks * local.f_frsize / 4096);

  struct Range {
    const char* name;
    off_t offset;
    size_t size;
    size_t expected;
  };
  const off_t length = static_cast<off_t>(big.size());
  const Range ranges[] = {
      {"start", 0, 100, 100},
      {"unaligned middle", 1'000'003, 200'000, 200'000},
      {"across the end", length - 10, 4096, 10},
      {"at the end", length, 4096, 0},
      {"beyond the end", length + 5000, 4096, 0},
  };
  int fd = ::open(volume_.at("/big.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  for (const auto& r : ranges) {
    std::string buffer(r.size, '\0');
    ssize_t n = pread(fd, buffer.data(), r.size, r.offset);
    ASSERT_EQ(n, static_cast<ssize_t>(r.expected)) << r.name;
    EXPECT_EQ(buffer.substr(0, r.expected), big.substr(std::min<size_t>(r.offset, big.size()), r.expected))
        << r.name;
  }
  ::close(fd);
}

TEST_F(UserFileSystemTest, SharedReadOnlyMapGivesTheFileBytes) {
  const std::string bytes = randomBytes(300'000, 2);
  ASSERT_TRUE(writeFile(volume_.backing("/mapped.bin"), bytes));
  int fd = ::open(volume_.at("/mapped.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void* map = mmap(nullptr, bytes.size(), PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED) << std::strerror(errno);
  EXPECT_EQ(std::string(static_cast<const char*>(map), bytes.size()), bytes);
  munmap(map, bytes.size());
  ::close(fd);
}

TEST_F(UserFileSystemTest, ChangesReachTheDelegate) {
  auto& d = volume_.delegate();
  int fd = ::open(volume_.at("/new.txt").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0604);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  const std::string content = randomBytes(2 * 1024 * 1024, 3);
  ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  ASSERT_EQ(::close(fd), 0);
  EXPECT_EQ(readFile(volume_.backing("/new.txt")), content);
  EXPECT_EQ(d.writtenBytes(), content.size());
  ASSERT_EQ(d.creates().size(), 1u);
  EXPECT_EQ(d.creates()[0].flags & O_ACCMODE, O_WRONLY);
  EXPECT_EQ(d.creates()[0].permissions, 0604u);
  EXPECT_TRUE(eventually([&] { return d.releases() == std::vector<std::string>{"/new.txt"}; }));

  // mknod(2) of a regular file is an exclusive create with an immediate release.
  ASSERT_EQ(::mknod(volume_.at("/node").c_str(), S_IFREG | 0600, 0), 0) << std::strerror(errno);
  ASSERT_EQ(d.creates().size(), 2u);
  EXPECT_EQ(d.creates()[1].flags & (O_CREAT | O_EXCL), O_CREAT | O_EXCL);
  EXPECT_TRUE(eventually([&] { return d.releases().size() == 2 && d.releases().back() == "/node"; }));

  // A plain read-only open arrives as mode 0; a write open carries its access.
  ASSERT_EQ(readFile(volume_.at("/new.txt")).has_value(), true);
  fd = ::open(volume_.at("/new.txt").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 10), 0);
  ::close(fd);
  auto opens = d.opens();
  ASSERT_GE(opens.size(), 2u);
  EXPECT_EQ(opens[opens.size() - 2].mode, 0);
  EXPECT_EQ(opens.back().mode & O_ACCMODE, O_RDWR);
  struct stat st {};
  ASSERT_EQ(::stat(volume_.backing("/new.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 10);

  ASSERT_EQ(::mkdir(volume_.at("/dir").c_str(), 0750), 0);
  ASSERT_EQ(::rename(volume_.at("/new.txt").c_str(), volume_.at("/dir/moved.txt").c_str()), 0);
  EXPECT_EQ(d.moves(), (std::vector<std::string>{"/new.txt -> /dir/moved.txt"}));
  ASSERT_EQ(::stat(volume_.backing("/dir/moved.txt").c_str(), &st), 0);
  ASSERT_EQ(::unlink(volume_.at("/dir/moved.txt").c_str()), 0);
  ASSERT_EQ(::rmdir(volume_.at("/dir").c_str()), 0);
  EXPECT_NE(::stat(volume_.backing("/dir").c_str(), &st), 0);
}

TEST_F(UserFileSystemTest, RemovingAnOpenFileRemovesItInsteadOfHidingIt) {
  ASSERT_TRUE(writeFile(volume_.backing("/open.txt"), "x"));
  int fd = ::open(volume_.at("/open.txt").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::unlink(volume_.at("/open.txt").c_str()), 0);
  EXPECT_EQ(volume_.delegate().removals(), (std::vector<std::string>{"/open.txt"}));
  EXPECT_TRUE(volume_.delegate().moves().empty()) << "the removal became a rename to a hidden name";
  ::close(fd);
  // The release still comes, with no path left to name.
  EXPECT_TRUE(eventually([&] { return volume_.delegate().releases() == std::vector<std::string>{""}; }));
}

TEST_F(UserFileSystemTest, DelegateErrorsReachTheCaller) {
  for (int errnum : {ENOENT, EIO, EACCES}) {
    const std::string file = "/f" + std::to_string(errnum), folder = "/d" + std::to_string(errnum);
    ASSERT_TRUE(writeFile(volume_.backing(file), "data"));
    ASSERT_EQ(::mkdir(volume_.backing(folder).c_str(), 0755), 0);
    int fd = ::open(volume_.at(file).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    volume_.delegate().failPath(file, errnum);
    volume_.delegate().failPath(folder, errnum);
    char c;
    errno = 0;
    EXPECT_EQ(::read(fd, &c, 1), -1);
    EXPECT_EQ(errno, errnum) << "read " << std::strerror(errnum);
    ::close(fd);
    errno = 0;
    EXPECT_EQ(::opendir(volume_.at(folder).c_str()), nullptr);
    EXPECT_EQ(errno, errnum) << "listing " << std::strerror(errnum);
    volume_.fileSystem().invalidatePath(file);
    struct stat st {};
    errno = 0;
    EXPECT_EQ(::stat(volume_.at(file).c_str(), &st), -1);
    EXPECT_EQ(errno, errnum) << "stat " << std::strerror(errnum);
  }
}

TEST_F(UserFileSystemTest, ExceptionInACallbackBecomesEIOAndTheVolumeKeepsWorking) {
  ASSERT_TRUE(writeFile(volume_.backing("/bad.txt"), "bad"));
  ASSERT_TRUE(writeFile(volume_.backing("/good.txt"), "good"));
  volume_.delegate().throwOnPath("/bad.txt");
  struct stat st {};
  errno = 0;
  EXPECT_EQ(::stat(volume_.at("/bad.txt").c_str(), &st), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(readFile(volume_.at("/good.txt")), "good");
  EXPECT_TRUE(volume_.fileSystem().isMounted());
}

TEST_F(UserFileSystemTest, ExtendedAttributesRoundTrip) {
  ASSERT_TRUE(writeFile(volume_.backing("/tagged"), "t"));
  const std::string path = volume_.at("/tagged");
  const std::string value("\x01\x00tag", 5);
  ASSERT_EQ(setxattr(path.c_str(), "user.tags", value.data(), value.size(), 0), 0) << std::strerror(errno);
  EXPECT_EQ(getxattr(path.c_str(), "user.tags", nullptr, 0), 5);
  char small[2];
  errno = 0;
  EXPECT_EQ(getxattr(path.c_str(), "user.tags", small, sizeof small), -1);
  EXPECT_EQ(errno, ERANGE);
  char buffer[64];
  ASSERT_EQ(getxattr(path.c_str(), "user.tags", buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), value);
  ASSERT_EQ(listxattr(path.c_str(), buffer, sizeof buffer), 10);
  EXPECT_EQ(std::string(buffer, 10), std::string("user.tags\0", 10));
  ASSERT_EQ(removexattr(path.c_str(), "user.tags"), 0);
  // A missing attribute answered without an error is "no such attribute".
  errno = 0;
  EXPECT_EQ(getxattr(path.c_str(), "user.tags", buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, ENODATA);
}

TEST_F(UserFileSystemTest, InvalidationShowsChangesAtOnce) {
  Timings t;
  t.kernelCacheTimeout = 60;  // without invalidation the kernel keeps what it saw
  Timings::install(t);
  MountedVolume volume;
  ASSERT_TRUE(volume.mounted());
  ASSERT_TRUE(writeFile(volume.backing("/grows.txt"), "1234"));
  EXPECT_EQ(readFile(volume.at("/grows.txt")), "1234");
  struct stat st {};
  ASSERT_EQ(::stat(volume.at("/grows.txt").c_str(), &st), 0);
  ASSERT_EQ(st.st_size, 4);
  EXPECT_NE(::stat(volume.at("/later.txt").c_str(), &st), 0);

  // The service changes behind the kernel's back.
  ASSERT_TRUE(writeFile(volume.backing("/grows.txt"), "123456789"));
  ASSERT_TRUE(writeFile(volume.backing("/later.txt"), "x"));
  ASSERT_EQ(::stat(volume.at("/grows.txt").c_str(), &st), 0);
  ASSERT_EQ(st.st_size, 4) << "the kernel did not keep the attributes; the checks below prove nothing";
  ASSERT_NE(::stat(volume.at("/later.txt").c_str(), &st), 0) << "the kernel did not keep the miss";

  EXPECT_TRUE(volume.fileSystem().invalidatePath("/grows.txt"));
  EXPECT_TRUE(volume.fileSystem().invalidatePath("/later.txt"));
  ASSERT_EQ(::stat(volume.at("/grows.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 9);
  EXPECT_EQ(readFile(volume.at("/grows.txt")), "123456789");
  EXPECT_EQ(::stat(volume.at("/later.txt").c_str(), &st), 0);
  EXPECT_EQ(listing(volume.at()).count("later.txt"), 1u);
  EXPECT_TRUE(volume.fileSystem().invalidatePath("/never/seen"));
}

TEST_F(UserFileSystemTest, InvalidationFromInsideACallbackDoesNotBlockIt) {
  Timings t;
  t.kernelCacheTimeout = 60;
  Timings::install(t);
  MountedVolume volume;
  ASSERT_TRUE(volume.mounted());
  ASSERT_TRUE(writeFile(volume.backing("/a"), "a"));
  ASSERT_TRUE(writeFile(volume.backing("/other"), "1"));
  struct stat st {};
  ASSERT_EQ(::stat(volume.at("/other").c_str(), &st), 0);
  ASSERT_TRUE(writeFile(volume.backing("/other"), "12"));
  // The kernel holds the folder's lock during the rename that invalidates
  // names in that folder.
  volume.delegate().setAfterMove([&](const std::string& from, const std::string& to) {
    volume.fileSystem().invalidatePath(from);
    volume.fileSystem().invalidatePath(to);
    volume.fileSystem().invalidatePath("/other");
  });
  ASSERT_EQ(::rename(volume.at("/a").c_str(), volume.at("/b").c_str()), 0);
  EXPECT_TRUE(eventually([&] { return ::stat(volume.at("/other").c_str(), &st) == 0 && st.st_size == 2; }));
  volume.delegate().setAfterMove(nullptr);
}

TEST_F(UserFileSystemTest, TheRequestingProcessIsTheReader) {
  ASSERT_TRUE(writeFile(volume_.backing("/who.txt"), "me"));
  std::string file = volume_.at("/who.txt");
  const char* argv[] = {"cat", file.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  ASSERT_EQ(posix_spawnp(&child, "cat", &actions, nullptr, const_cast<char* const*>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto opens = volume_.delegate().opens();
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].pid, child);
  EXPECT_EQ(QBUserFileSystem::callingProcessId(), 0) << "outside a callback";
}

// Mount life without the fixture's volume.
TEST(UserFileSystemLife, UnmountFromOutsideEndsTheLoopAndReports) {
  MountedVolume volume;
  ASSERT_TRUE(volume.mounted());
  EXPECT_EQ(volume.reports().count(kGMUserFileSystemDidMount), 1u);
  ASSERT_TRUE(writeFile(volume.backing("/f"), "f"));

  // Busy: an open file keeps the volume, which keeps answering.
  int fd = ::open(volume.at("/f").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ErrorPtr error;
  EXPECT_FALSE(QBUserFileSystem::unmountAtPath(volume.at(), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, EBUSY);
  char c = 0;
  EXPECT_EQ(::read(fd, &c, 1), 1);
  EXPECT_TRUE(volume.fileSystem().isMounted());
  ::close(fd);

  const std::string command = "fusermount3 -u '" + volume.at() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(volume.reports().waitFor(kGMUserFileSystemDidUnmount));
  EXPECT_FALSE(volume.fileSystem().isMounted());
  EXPECT_FALSE(volume.fileSystem().invalidatePath("/f"));
  EXPECT_EQ(volume.reports().count(kGMUserFileSystemMountFailed), 0u);
}

TEST(UserFileSystemLife, BadMountPointsReportAFailure) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.path() + "/file", "x"));
  struct Case {
    const char* name;
    std::string path;
    int code;
  };
  const Case cases[] = {
      {"missing", dir.path() + "/missing", ENOENT},
      {"a file", dir.path() + "/file", ENOTDIR},
  };
  for (const auto& c : cases) {
    MountReports reports;
    QBUserFileSystem fs(std::make_shared<LocalFolderDelegate>(dir.path()), true);
    fs.mountAtPath(c.path, QBMountOptions::forDrive("GreyfoxTest"));
    ASSERT_TRUE(reports.waitFor(kGMUserFileSystemMountFailed)) << c.name;
    ASSERT_TRUE(reports.lastError()) << c.name;
    EXPECT_EQ(reports.lastError()->code, c.code) << c.name;
    EXPECT_EQ(reports.count(kGMUserFileSystemDidMount), 0u) << c.name;
    EXPECT_FALSE(fs.isMounted()) << c.name;
  }
}

TEST(UserFileSystemLife, MountingTwiceFailsAndLeavesTheVolume) {
  MountedVolume volume;
  ASSERT_TRUE(volume.mounted());
  volume.fileSystem().mountAtPath(volume.at(), QBMountOptions::forDrive("GreyfoxTest"));
  ASSERT_TRUE(volume.reports().waitFor(kGMUserFileSystemMountFailed));
  EXPECT_EQ(volume.reports().lastError()->code, EBUSY);
  EXPECT_TRUE(volume.fileSystem().isMounted());
  ASSERT_TRUE(writeFile(volume.backing("/still"), "here"));
  EXPECT_EQ(readFile(volume.at("/still")), "here");
}

TEST(UserFileSystemLife, DetachingABusyVolumeEndsItAndReleasesItsOpenFiles) {
  MountedVolume volume;
  ASSERT_TRUE(volume.mounted());
  ASSERT_TRUE(writeFile(volume.backing("/f"), "f"));
  int fd = ::open(volume.at("/f").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(QBUserFileSystem::detachAtPath(volume.at(), nullptr));
  ASSERT_TRUE(volume.reports().waitFor(kGMUserFileSystemDidUnmount));
  EXPECT_EQ(volume.delegate().releases(), (std::vector<std::string>{"/f"}));
  char c;
  EXPECT_EQ(::read(fd, &c, 1), -1) << "the descriptor outlived its volume";
  ::close(fd);
}

TEST(UserFileSystemLife, DestroyedWhileMountingLeavesNoVolume) {
  for (int round = 0; round < 5; ++round) {
    TempDir dir;
    {
      QBUserFileSystem fs(std::make_shared<LocalFolderDelegate>(dir.path()), true);
      fs.mountAtPath(dir.path(), QBMountOptions::forDrive("GreyfoxTest"));
    }
    struct statfs st {};
    ASSERT_EQ(::statfs(dir.path().c_str(), &st), 0) << "round " << round;
    EXPECT_NE(st.f_type, 0x65735546) << "round " << round << ": a FUSE volume is left";
  }
}

}  // namespace
}  // namespace greyfox::test
