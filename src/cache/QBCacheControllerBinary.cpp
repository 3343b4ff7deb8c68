// File data of the cache controller: appends, reads and purges of a file's
// bytes, kept in step with its QBBinaryDataDescriptorItem.
#include "cache/CacheGuard.h"
#include "cache/CacheRules.h"
#include "cache/QBCacheController.h"
#include "diag/Log.h"
#include "items/QBBinaryDataDescriptorItem.h"

namespace greyfox {

bool QBCacheController::binaryDataCoversDescriptor(const QBContentItem& item) {
  const auto& descriptor = static_cast<const QBBinaryDataDescriptorItem&>(item);
  std::optional<std::uint64_t> size = backend_->binaryDataSize(descriptor.identifier);
  auto completed = static_cast<std::uint64_t>(std::max<int64_t>(0, descriptor.completedBytes.value_or(0)));
  if (size && *size >= completed) return true;
  QBLOG("QBCacheController: binary data of %s holds %llu bytes, its descriptor counts %llu",
        descriptor.identifier.c_str(), static_cast<unsigned long long>(size.value_or(0)),
        static_cast<unsigned long long>(completed));
  return false;
}

bool QBCacheController::storeBinaryData(const std::string& data, std::uint64_t offset, std::uint64_t total,
                                        const std::string& identifier) {
  std::lock_guard<std::recursive_mutex> serial(controllerLock_);
  std::shared_ptr<QBCacheIndex> index = indexOf(QBBinaryDataDescriptorItem::kClassName);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  auto descriptor = fetchBinaryDataDescriptor(identifier);
  if (!descriptor) return false;
  bool appended = false;
  guardCacheCall("QBCacheFileBackend.storeBinaryData()",
          [&] { appended = backend_->storeBinaryData(data, identifier, offset); });
  // A refused append leaves the descriptor as it was, so it never counts bytes
  // the file does not hold.
  if (!appended) return false;
  descriptor->completedBytes = static_cast<int64_t>(offset + data.size());
  descriptor->totalBytes = static_cast<int64_t>(total);
  storeItem(descriptor);
  return true;
}

std::optional<std::string> QBCacheController::fetchBinaryDataOf(const std::string& identifier, std::uint64_t offset,
                                                                std::uint64_t size, ErrorPtr* error) {
  std::shared_ptr<QBCacheIndex> index = indexOf(QBBinaryDataDescriptorItem::kClassName);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  std::optional<std::string> data;
  if (fetchBinaryDataDescriptor(identifier)) {
    guardCacheCall("QBCacheController.fetchBinaryDataOf", [&] { data = backend_->restoreBinaryDataOf(identifier, offset, size); });
  }
  if (!data) setError(error, kCacheErrorDomain, -1, "Binary item with identifier " + identifier + " not found.");
  return data;
}

void QBCacheController::purgeBinaryDataForcedOf(const std::string& identifier) {
  std::shared_ptr<QBCacheIndex> index = indexOf(QBBinaryDataDescriptorItem::kClassName);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  guardCacheCall("QBCacheController.purgeBinaryDataForcedOf", [&] { backend_->purgeBinaryData(identifier); });
}

std::string QBCacheController::pathForBinaryItemWithKey(const std::string& key) const {
  return backend_->pathForBinaryItemWithKey(key);
}

}  // namespace greyfox
