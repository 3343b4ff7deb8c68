#include "MountedVolume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace greyfox::test {

MountReports::MountReports() {
  for (const char* name : {kGMUserFileSystemDidMount, kGMUserFileSystemMountFailed, kGMUserFileSystemDidUnmount}) {
    observers_.emplace_back(name, [this](const Notification& n) {
      {
        std::lock_guard lock(mutex_);
        names_.push_back(n.name);
        if (n.name == kGMUserFileSystemMountFailed) lastError_ = errorFromUserInfo(n.userInfo);
      }
      changed_.notify_all();
    });
  }
}

bool MountReports::waitFor(const std::string& name, std::size_t count, double seconds) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
    return static_cast<std::size_t>(std::count(names_.begin(), names_.end(), name)) >= count;
  });
}

std::size_t MountReports::count(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count(names_.begin(), names_.end(), name));
}

ErrorPtr MountReports::lastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "greyfox-drive-XXXXXX").string();
  path_ = mkdtemp(pattern.data()) ? pattern : std::string();
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

MountedVolume::MountedVolume(QBMountOptions options)
    : backing_(dir_.path() + "/backing"), mountPoint_(dir_.path() + "/mnt") {
  ::mkdir(backing_.c_str(), 0755);
  ::mkdir(mountPoint_.c_str(), 0755);
  delegate_ = std::make_shared<LocalFolderDelegate>(backing_);
  fs_ = std::make_unique<QBUserFileSystem>(delegate_, true);
  fs_->mountAtPath(mountPoint_, options);
  mounted_ = reports_.waitFor(kGMUserFileSystemDidMount) && fs_->isMounted();
}

MountedVolume::~MountedVolume() {
  fs_.reset();  // detaches the volume if still there, and waits for its loop
}

bool eventually(const std::function<bool()>& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool writeFile(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && ok;
}

std::optional<std::string> readFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  if (n < 0) return std::nullopt;
  return out;
}

}  // namespace greyfox::test
