// A FUSE volume for tests: a LocalFolderDelegate over a fresh temporary
// folder, mounted at a second one, with the adapter's reports collected.
// Destroying it detaches the volume and removes both folders, so a test that
// fails half-way leaves no mount behind.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "LocalFolderDelegate.h"
#include "drive/QBUserFileSystem.h"
#include "platform/NotificationCenter.h"

namespace greyfox::test {

// The reports a file system posted, in order.
class MountReports {
 public:
  MountReports();
  // Waits up to `seconds` until `count` reports of `name` arrived.
  bool waitFor(const std::string& name, std::size_t count = 1, double seconds = 10) const;
  std::size_t count(const std::string& name) const;
  // The error of the latest failed report.
  ErrorPtr lastError() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> names_;  // guarded by mutex_
  ErrorPtr lastError_;              // guarded by mutex_
  std::vector<ScopedObserver> observers_;
};

// A temporary folder removed (with its contents) on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class MountedVolume {
 public:
  // Mounts and waits for the mounted report; mounted() tells whether it came.
  explicit MountedVolume(QBMountOptions options = QBMountOptions::forDrive("GreyfoxTest"));
  ~MountedVolume();

  bool mounted() const { return mounted_; }
  std::string backing(const std::string& path = "") const { return backing_ + path; }
  std::string at(const std::string& path = "") const { return mountPoint_ + path; }
  LocalFolderDelegate& delegate() { return *delegate_; }
  QBUserFileSystem& fileSystem() { return *fs_; }
  MountReports& reports() { return reports_; }

 private:
  TempDir dir_;
  std::string backing_, mountPoint_;
  std::shared_ptr<LocalFolderDelegate> delegate_;
  MountReports reports_;
  std::unique_ptr<QBUserFileSystem> fs_;
  bool mounted_ = false;
};

// Polls `condition` until it holds or `seconds` pass; its last answer. For
// what the kernel sends without waiting (a release after close).
bool eventually(const std::function<bool()>& condition, double seconds = 5);

// Writes `bytes` to `path` (test set-up); true on success.
bool writeFile(const std::string& path, const std::string& bytes);
// The whole file read with read(2), or nullopt.
std::optional<std::string> readFile(const std::string& path);

}  // namespace greyfox::test
