#include "cache/QBCacheFileBackend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cache/CacheRules.h"
#include "diag/Log.h"
#include "diag/Utilities.h"
#include "items/QBContentItem.h"
#include "platform/Files.h"

namespace greyfox {

namespace {

constexpr unsigned kFileMode = 0600;

bool hasSuffix(const std::string& name, std::string_view suffix) {
  return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Creates the file empty when missing; errors are left to the caller's open.
void createIfMissing(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kFileMode);
  if (fd >= 0) ::close(fd);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

QBCacheFileBackend::QBCacheFileBackend(std::string rootPath) : rootPath_(std::move(rootPath)) {
  if (::mkdir(rootPath_.c_str(), 0700) != 0 && errno != EEXIST) {
    throw QBCacheException("QBCacheFileBackend", "Failed to create cache directory at " + rootPath_);
  }
  struct stat st;
  if (::stat(rootPath_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw QBCacheException("QBCacheFileBackend", "Failed to create cache directory at " + rootPath_);
  }
  ::chmod(rootPath_.c_str(), 0700);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(rootPath_, ec)) {
    if (entry.path().filename().string().find(".tmp-") != std::string::npos) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
  cleanupCacheUpToSize(cacheSizeLimit_);
}

std::string QBCacheFileBackend::pathForIndexOfClass(const std::string& className) const {
  return rootPath_ + "/" + className + ".index";
}

std::string QBCacheFileBackend::pathForItemWithKey(const std::string& key, const std::string& className) const {
  return rootPath_ + "/" + className + "." + Utilities::md5HexDigest(key) + ".cache";
}

std::string QBCacheFileBackend::pathForBinaryItemWithKey(const std::string& key) const {
  return rootPath_ + "/" + Utilities::md5HexDigest(key) + ".binary";
}

void QBCacheFileBackend::storeIndex(const QBCacheIndex& index, const std::string& className) {
  std::string bytes = index.archivedData();
  ErrorPtr error;
  if (!writeFileAtomically(pathForIndexOfClass(className), bytes, kFileMode, &error)) {
    throw QBCacheException("QBCacheController", "Failed to save index for " + std::to_string(index.count()) +
                                                    " entries of " + className + "! " +
                                                    (error ? error->message() : std::string()));
  }
}

std::unique_ptr<QBCacheIndex> QBCacheFileBackend::restoreIndex(const std::string& className) {
  std::string path = pathForIndexOfClass(className);
  std::optional<std::string> bytes = readWholeFile(path);
  if (!bytes) return nullptr;
  ErrorPtr error;
  std::unique_ptr<QBCacheIndex> index = QBCacheIndex::unarchiveData(*bytes, &error);
  if (!index) QBLOG("QBCacheFileBackend: index %s not restored: %s", path.c_str(), error->message().c_str());
  return index;
}

void QBCacheFileBackend::rememberInMemory(const std::string& path, const QBContentItemPtr& item, bool evict) {
  std::lock_guard<std::recursive_mutex> guard(memcacheMonitor_);
  auto it = memcache_.find(path);
  if (it != memcache_.end()) {
    it->second.item = item;
  } else {
    memcacheKeys_.push_back(path);
    memcache_.emplace(path, MemcacheEntry{item, std::prev(memcacheKeys_.end())});
  }
  if (isBinaryDataDescriptor(*item)) evictedDescriptors_.erase(path);
  if (!evict) return;
  if (memcache_.size() <= memcacheLimit_) return;
  while (memcache_.size() > memcacheLimit_) {
    QBLOG("QBCacheBackend.storeItem. Getting firstObject.");
    const std::string first = memcacheKeys_.front();
    auto victim = memcache_.find(first);
    QBLOG("QBCacheBackend.storeItem. Removing from memcache.");
    if (isBinaryDataDescriptor(*victim->second.item)) evictedDescriptors_[first] = victim->second.item;
    memcache_.erase(victim);
    QBLOG("QBCacheBackend.storeItem. Removing from memcacheKeys.");
    memcacheKeys_.pop_front();
    QBLOG("QBCacheBackend.storeItem. Removed from memcacheKeys.");
  }
  QBLOG("QBCacheBackend.storeItem. After a while.");
  std::erase_if(evictedDescriptors_, [](const auto& entry) { return entry.second.expired(); });
}

bool QBCacheFileBackend::memcacheHolds(const std::string& path) const {
  std::lock_guard<std::recursive_mutex> guard(memcacheMonitor_);
  return memcache_.contains(path);
}

void QBCacheFileBackend::storeItem(const QBContentItemPtr& item) {
  std::optional<std::string> key = cacheIndexKey(*item);
  if (!key) return;
  std::string path = pathForItemWithKey(*key, cacheIndexClass(*item));
  rememberInMemory(path, item, true);
  if (isBinaryDataDescriptor(*item)) createIfMissing(pathForBinaryItemWithKey(*key));
  ErrorPtr error;
  std::string bytes = item->archivedData();
  if (!writeFileAtomically(path, bytes, kFileMode, &error)) {
    // An older copy left on disk would be taken for this one by a later run.
    ::unlink(path.c_str());
    QBLOG("Failed to cache object %s at %s! %s", item->description().c_str(), path.c_str(),
          error ? error->message().c_str() : "");
  }
}

QBContentItemPtr QBCacheFileBackend::restoreItem(const std::string& key, const std::string& className) {
  std::string path = pathForItemWithKey(key, className);
  {
    std::lock_guard<std::recursive_mutex> guard(memcacheMonitor_);
    auto it = memcache_.find(path);
    if (it != memcache_.end()) {
      memcacheKeys_.splice(memcacheKeys_.end(), memcacheKeys_, it->second.position);
      return it->second.item;
    }
    auto held = evictedDescriptors_.find(path);
    if (held != evictedDescriptors_.end()) {
      if (QBContentItemPtr item = held->second.lock()) {
        rememberInMemory(path, item, false);
        return item;
      }
      evictedDescriptors_.erase(held);
    }
  }
  std::optional<std::string> bytes = readWholeFile(path);
  if (!bytes) return nullptr;
  ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
  QBContentItemPtr item = QBContentItem::unarchiveData(*bytes);
  if (!item || cacheIndexClass(*item) != className || cacheIndexKey(*item) != key) {
    QBLOG("QBCacheFileBackend: %s does not hold an item of %s", path.c_str(), className.c_str());
    return nullptr;
  }
  rememberInMemory(path, item, false);
  return item;
}

void QBCacheFileBackend::purgeItemWithKey(const std::string& key, const std::string& className) {
  std::string path = pathForItemWithKey(key, className);
  {
    std::lock_guard<std::recursive_mutex> guard(memcacheMonitor_);
    evictedDescriptors_.erase(path);
  }
  if (::unlink(path.c_str()) != 0) {
    throw QBCacheException("QBCacheController", "Failed removing cache file " + path + ": " + std::strerror(errno));
  }
}

bool QBCacheFileBackend::validateBinaryDataOf(const QBContentItem& item) {
  std::optional<std::string> key = cacheIndexKey(item);
  return key && fileExists(pathForBinaryItemWithKey(*key));
}

bool QBCacheFileBackend::storeBinaryData(const std::string& data, const std::string& key, std::uint64_t offset) {
  std::string path = pathForBinaryItemWithKey(key);
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kFileMode));
  if (fd.get() < 0) throw QBCacheException("QBCacheController", "Failed to open cache file " + path + " for writing.");
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    QBLOG("QBCacheFileBackend.storeBinaryData error: cannot read the size of %s", path.c_str());
    return false;
  }
  auto end = static_cast<std::uint64_t>(st.st_size);
  if (end != offset) {
    QBLOG("QBCacheFileBackend.storeBinaryData error: Expected file offset %llu doesn't match real %llu.",
          static_cast<unsigned long long>(offset), static_cast<unsigned long long>(end));
    return false;
  }
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd.get(), p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      // Keep the file an exact prefix of the content: drop the partial append.
      if (::ftruncate(fd.get(), static_cast<off_t>(end)) != 0) {
        QBLOG("QBCacheFileBackend.storeBinaryData error: cannot truncate %s back", path.c_str());
      }
      QBLOG("Caught exception %s in QBCacheFileBackend.storeBinaryData() with the reason %s", "NSFileHandleOperationException",
            std::strerror(err));
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

std::string QBCacheFileBackend::restoreBinaryDataOf(const std::string& key, std::uint64_t offset, std::uint64_t size) {
  std::string path = pathForBinaryItemWithKey(key);
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw QBCacheException("QBCacheController", "Failed to open file " + path + " for reading.");
  ::futimens(fd.get(), nullptr);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return std::string();
  auto fileSize = static_cast<std::uint64_t>(st.st_size);
  if (offset >= fileSize) return std::string();
  std::string data(static_cast<size_t>(std::min(size, fileSize - offset)), '\0');
  size_t got = 0;
  while (got < data.size()) {
    ssize_t n = ::pread(fd.get(), data.data() + got, data.size() - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  data.resize(got);
  return data;
}

void QBCacheFileBackend::purgeBinaryData(const std::string& key) {
  std::string path = pathForBinaryItemWithKey(key);
  if (!fileExists(path)) return;
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
}

std::optional<std::uint64_t> QBCacheFileBackend::binaryDataSize(const std::string& key) {
  struct stat st;
  if (::stat(pathForBinaryItemWithKey(key).c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::vector<std::string> QBCacheFileBackend::sortedFilesForCleanup() const {
  struct Candidate {
    std::string path;
    struct timespec modified;
  };
  std::vector<Candidate> candidates;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(rootPath_, ec)) {
    std::string name = entry.path().filename().string();
    if (!hasSuffix(name, ".cache") && !hasSuffix(name, ".binary")) continue;
    struct stat st;
    if (::stat(entry.path().c_str(), &st) != 0) continue;
    candidates.push_back({entry.path().string(), st.st_mtim});
  }
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec < b.modified.tv_sec;
    return a.modified.tv_nsec < b.modified.tv_nsec;
  });
  std::vector<std::string> paths;
  paths.reserve(candidates.size());
  for (auto& c : candidates) paths.push_back(std::move(c.path));
  return paths;
}

std::uint64_t QBCacheFileBackend::combinedSize(const std::vector<std::string>& paths) {
  std::uint64_t total = 0;
  for (const auto& path : paths) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) total += static_cast<std::uint64_t>(st.st_size);
  }
  return total;
}

std::uint64_t QBCacheFileBackend::totalCacheSize() const { return combinedSize(sortedFilesForCleanup()); }

std::uint64_t QBCacheFileBackend::cleanupCacheUpToSize(std::uint64_t limit) {
  std::vector<std::string> files = sortedFilesForCleanup();
  std::uint64_t total = 0;
  std::vector<std::uint64_t> sizes;
  sizes.reserve(files.size());
  for (const auto& path : files) {
    sizes.push_back(combinedSize({path}));
    total += sizes.back();
  }
  std::uint64_t deleted = 0;
  for (size_t i = 0; i < files.size() && total > limit; ++i) {
    ::unlink(files[i].c_str());
    total -= sizes[i];
    ++deleted;
  }
  QBLOG("Cache backend cleanup: %llu files deleted.", static_cast<unsigned long long>(deleted));
  return deleted;
}

}  // namespace greyfox
