// The one entry point of the local cache for the signed-in user: keeps one
// QBCacheIndex per item class, stores items and file data through the file
// backend, and on every fetch judges by the item's meta (CacheRules.h)
// whether the cached copy may still be used.
//
// Any thread may call any operation. Failures of the disk layer never escape:
// they are logged and read as a missing entry; operations that can refuse
// say so through their result and `error`.
//
// Locks, all recursive, taken in this order:
//   controllerLock_   spans each binary store, so binary stores of all files
//                     are serialised;
//   an index's lock   (QBCacheIndex::lock()) spans the validation and restore
//                     of a fetch, each store, purge and invalidation of its
//                     class, the query loop of fetchItemsUsing, and binary
//                     reads and purges (under the descriptor index). A
//                     descriptor's validation, under the descriptor index,
//                     takes the QBFileInfoItem index and then the
//                     QBFolderListItem index; nothing takes them the other way;
//   indexTableLock_   last, only while an index is looked up or added.
// Index files are written by writer_, with no index lock held.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/CacheIndexWriter.h"
#include "cache/QBCacheFileBackend.h"
#include "cache/QBCacheIndex.h"
#include "platform/Error.h"

namespace greyfox {

class QBBinaryDataDescriptorItem;
class QBFileItem;
class QBFolderListItem;
class QBFSIdItem;
class QBUploadFileHandle;
class QBUserSessionItem;

class QBCacheController {
 public:
  // A new controller at the cache directory `rootPath`, made the shared one.
  // nullptr (logged, and `error`) when the directory cannot be made.
  static std::shared_ptr<QBCacheController> cacheControllerAt(const std::string& rootPath, ErrorPtr* error);
  // The controller made last, or nullptr before sign-in.
  static std::shared_ptr<QBCacheController> sharedController();
  // Replaces the shared controller (sign-out passes nullptr).
  static void setSharedController(std::shared_ptr<QBCacheController> controller);

  // Raises QBCacheException when the directory cannot be made; use
  // cacheControllerAt outside the cache layer.
  explicit QBCacheController(const std::string& rootPath);
  // Writes every pending index.
  ~QBCacheController();
  QBCacheController(const QBCacheController&) = delete;
  QBCacheController& operator=(const QBCacheController&) = delete;

  // --- Core (class names are item classes; each maps to its class index) ---

  // The cached item, or nullptr when it is missing or no longer valid.
  QBContentItemPtr fetchItemWithKey(const std::string& key, std::string_view className);
  template <class T>
  std::shared_ptr<T> fetch(const std::string& key) {
    return std::dynamic_pointer_cast<T>(fetchItemWithKey(key, T::kClassName));
  }
  // The valid items of the class whose meta `predicate` accepts.
  std::vector<QBContentItemPtr> fetchItemsUsing(const CacheMetaPredicate& predicate, std::string_view className);
  // The only item `predicate` accepts; nullptr when none, and nullptr with
  // `error` ("fetch item with predicate query resulted in more than 1 row
  // (N).") when more than one meta matches.
  QBContentItemPtr fetchItemWithPredicate(const CacheMetaPredicate& predicate, std::string_view className,
                                          ErrorPtr* error);
  // The meta as stored, without validation; nullopt when none (`error` when
  // the item is unfit to be cached).
  std::optional<CacheMeta> fetchMetaOfItem(const QBContentItemPtr& item, ErrorPtr* error);
  std::optional<CacheMeta> fetchMetaOfItemWithKey(const std::string& key, std::string_view className);

  // Indexes and keeps the item; its index reaches the disk within
  // indexWriteDelay. false (logged, `error`) for a null item or one without
  // a cache key.
  bool storeItem(const QBContentItemPtr& item, ErrorPtr* error = nullptr);
  // Stores the cached item again, which restarts its validity.
  void touchItemForcedWithKey(const std::string& key, std::string_view className);
  // Removes the key from its index and its item file. false with `error`
  // for an unfit item.
  bool purgeItem(const QBContentItemPtr& item, ErrorPtr* error = nullptr);
  // The same only when the index holds the key; nothing for null.
  void purgeItemForced(const QBContentItemPtr& item);
  void purgeItemForcedWithKey(const std::string& key, std::string_view className);
  void purgeItemWithKey(const std::string& key, std::string_view className);
  // Marks the entry invalid, written to disk at once; later fetches give
  // nullptr until the item is stored again.
  void invalidateItem(const QBContentItemPtr& item);
  void invalidateItemWithKey(const std::string& key, std::string_view className);
  // The class's index: in memory, else restored, else new and empty.
  std::shared_ptr<QBCacheIndex> indexOf(std::string_view className);
  // Writes every changed index now (clean shutdown).
  void flush();

  QBCacheFileBackend& backend() { return *backend_; }

  // --- File data, keyed by the file's identifier ---

  // Appends `data` at `offset` to the file's bytes and records the progress
  // (completedBytes = offset + size, totalBytes = total) in its descriptor.
  // Nothing when the file has no valid descriptor or the bytes cannot be
  // appended there (the file holds other than `offset` bytes); false then.
  bool storeBinaryData(const std::string& data, std::uint64_t offset, std::uint64_t total,
                       const std::string& identifier);
  // At most `size` bytes from `offset`; nullopt with `error` ("Binary item
  // with identifier ID not found.") without a valid descriptor or file.
  std::optional<std::string> fetchBinaryDataOf(const std::string& identifier, std::uint64_t offset, std::uint64_t size,
                                               ErrorPtr* error);
  // Empties the file's bytes (the binary file stays, empty).
  void purgeBinaryDataForcedOf(const std::string& identifier);
  std::string pathForBinaryItemWithKey(const std::string& key) const;

  // --- Typed helpers for the content layer ---

  std::shared_ptr<QBUserSessionItem> fetchUserSession(const std::string& key);
  std::shared_ptr<QBFolderListItem> fetchFolderList(const std::string& folderIdentifier);
  // The listing whose path equals `path` ignoring case and diacritics;
  // nullptr with `error` when two or more match.
  std::shared_ptr<QBFolderListItem> fetchFolderListAt(const std::string& path, ErrorPtr* error = nullptr);
  std::shared_ptr<QBBinaryDataDescriptorItem> fetchBinaryDataDescriptor(const std::string& fileIdentifier);
  std::shared_ptr<QBUploadFileHandle> fetchUploadHandle(const std::string& identifier);
  // The file's QBFileInfoItem, else the file of that name in the cached
  // listing of the path's parent folder; nullptr when neither exists.
  std::shared_ptr<QBFileItem> fetchFileItem(const std::string& fileIdentifier, const std::string& path);
  // Takes the item out of its parent's cached listing (the listing's meta is
  // not renewed).
  void removeItem(const std::string& identifier, const std::string& parentFolderIdentifier);
  // removeItem, then the file's info item, bytes and descriptor.
  void purgeCacheForFile(const std::string& fileIdentifier, const std::string& parentFolderIdentifier);
  // Takes the folder out of its parent's listing (renewing it), then purges
  // its contents, its info item and the path look-ups that name it.
  void purgeCacheForFolder(const std::string& folderIdentifier, const std::string& parentFolderIdentifier);
  // Depth first: every subfolder's contents, info item and look-ups, then the
  // folder's own listing. Files keep their entries.
  void purgeCacheForFolderContents(const std::string& folderIdentifier);
  // The path look-up of `path` (any case).
  void purgeIdentifiersForcedAt(const std::string& path);
  // Every path look-up that resolved to `identifier`.
  void purgeIdentifiersForcedOf(const std::string& identifier);

 private:
  // Validation and restore. REQUIRES: the index's lock held.
  QBContentItemPtr fetchLocked(QBCacheIndex& index, const std::string& key, const std::string& indexClass);
  void purgeLocked(const std::shared_ptr<QBCacheIndex>& index, const std::string& key, const std::string& indexClass);
  void purgeFolderContents(const std::string& folderIdentifier, std::vector<std::string>& visited);
  // Whether the binary file holds at least the bytes the descriptor counts.
  bool binaryDataCoversDescriptor(const QBContentItem& descriptor);

  std::unique_ptr<QBCacheFileBackend> backend_;

  std::recursive_mutex controllerLock_;

  std::recursive_mutex indexTableLock_;  // taken last
  std::map<std::string, std::shared_ptr<QBCacheIndex>, std::less<>> indexes_;  // guarded by indexTableLock_

  std::unique_ptr<CacheIndexWriter> writer_;  // declared after backend_: stopped and flushed first
};

}  // namespace greyfox
