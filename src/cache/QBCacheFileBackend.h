// The cache on disk: one flat directory per user holding
//   "<class>.index"           the archived index of an item class,
//   "<class>.<digest>.cache"  one archived item (digest = MD5 of the key),
//   "<digest>.binary"         a file's bytes from offset 0, grown only by
//                             exact appends,
// plus a memory cache of the last 100 items stored or restored. The memory
// cache hands out the very objects it holds, so a change a caller makes to a
// fetched item is seen by every later fetch until the entry is evicted; it
// reaches the disk only when the item is stored again. A download's
// descriptor that someone still holds is handed out as that same object even
// after eviction, so progress is never split between two copies.
//
// Files are written atomically and readable by the user alone. Any thread
// may call; the memory cache has its own monitor, disk work is serialised per
// class by the controller.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "cache/QBCacheBackend.h"

namespace greyfox {

class QBCacheFileBackend : public QBCacheBackend {
 public:
  static constexpr std::uint64_t kDefaultCacheSizeLimit = 134217728;  // 128 MiB
  static constexpr size_t kDefaultMemcacheLimit = 100;

  // Makes `rootPath` (not its parents) with mode 0700 when missing, removes
  // temporary files a crash left behind, and cleans the item and binary files
  // up to the size limit. Raises "QBCacheFileBackend" when the directory
  // cannot be made.
  explicit QBCacheFileBackend(std::string rootPath);
  QBCacheFileBackend(const QBCacheFileBackend&) = delete;
  QBCacheFileBackend& operator=(const QBCacheFileBackend&) = delete;

  void storeIndex(const QBCacheIndex& index, const std::string& className) override;
  std::unique_ptr<QBCacheIndex> restoreIndex(const std::string& className) override;
  void storeItem(const QBContentItemPtr& item) override;
  QBContentItemPtr restoreItem(const std::string& key, const std::string& className) override;
  void purgeItemWithKey(const std::string& key, const std::string& className) override;
  bool validateBinaryDataOf(const QBContentItem& item) override;
  bool storeBinaryData(const std::string& data, const std::string& key, std::uint64_t offset) override;
  std::string restoreBinaryDataOf(const std::string& key, std::uint64_t offset, std::uint64_t size) override;
  void purgeBinaryData(const std::string& key) override;
  std::optional<std::uint64_t> binaryDataSize(const std::string& key) override;
  std::string pathForBinaryItemWithKey(const std::string& key) const override;

  std::string pathForIndexOfClass(const std::string& className) const;
  std::string pathForItemWithKey(const std::string& key, const std::string& className) const;
  const std::string& rootPath() const { return rootPath_; }

  // Deletes ".cache" and ".binary" files, least recently used first, until
  // those left hold at most `limit` bytes; index files are kept. Answers the
  // number deleted.
  std::uint64_t cleanupCacheUpToSize(std::uint64_t limit);
  // Bytes of all item and binary files.
  std::uint64_t totalCacheSize() const;
  static std::uint64_t combinedSize(const std::vector<std::string>& paths);
  // Item and binary files, oldest modification first.
  std::vector<std::string> sortedFilesForCleanup() const;

  std::uint64_t cacheSizeLimit() const { return cacheSizeLimit_; }
  // Whether the memory cache holds the item file `path` (tests, diagnostics).
  bool memcacheHolds(const std::string& path) const;

 private:
  void rememberInMemory(const std::string& path, const QBContentItemPtr& item, bool evict);

  const std::string rootPath_;
  const std::uint64_t cacheSizeLimit_ = kDefaultCacheSizeLimit;
  const size_t memcacheLimit_ = kDefaultMemcacheLimit;

  // The memory cache. A leaf lock: nothing else is taken while it is held.
  mutable std::recursive_mutex memcacheMonitor_;
  struct MemcacheEntry {
    QBContentItemPtr item;
    std::list<std::string>::iterator position;
  };
  std::unordered_map<std::string, MemcacheEntry> memcache_;              // guarded by memcacheMonitor_
  std::list<std::string> memcacheKeys_;                                  // least recent first; guarded by memcacheMonitor_
  std::unordered_map<std::string, std::weak_ptr<QBContentItem>> evictedDescriptors_;  // guarded by memcacheMonitor_
};

}  // namespace greyfox
