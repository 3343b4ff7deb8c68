// The storage the cache controller keeps its indexes, items and file data in.
// QBCacheFileBackend is the one on disk; the controller is its only client.
//
// Operations documented as raising throw QBCacheException; the controller
// catches every one at its boundary. Implementations are called from many
// threads; the controller serialises the calls of one class index.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "cache/QBCacheIndex.h"

namespace greyfox {

class QBContentItem;
class QBBinaryDataDescriptorItem;
using QBContentItemPtr = std::shared_ptr<QBContentItem>;

// A named failure of the cache layer ("QBCacheController",
// "QBCacheFileBackend") with its reason.
class QBCacheException : public std::runtime_error {
 public:
  QBCacheException(std::string name, const std::string& reason) : std::runtime_error(reason), name_(std::move(name)) {}
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

class QBCacheBackend {
 public:
  virtual ~QBCacheBackend() = default;

  // Writes `index` whole as the index of `className`. Raises when it cannot.
  virtual void storeIndex(const QBCacheIndex& index, const std::string& className) = 0;
  // The stored index of the class; nullptr when there is none or it does not
  // decode (logged).
  virtual std::unique_ptr<QBCacheIndex> restoreIndex(const std::string& className) = 0;
  // Keeps the item (in memory and on disk); a failure to write is logged.
  virtual void storeItem(const QBContentItemPtr& item) = 0;
  // The item under the key in the class, or nullptr.
  virtual QBContentItemPtr restoreItem(const std::string& key, const std::string& className) = 0;
  // Removes the item file; raises when it cannot (also when it is gone).
  virtual void purgeItemWithKey(const std::string& key, const std::string& className) = 0;
  // Whether the binary file of the item's key exists.
  virtual bool validateBinaryDataOf(const QBContentItem& item) = 0;
  // Appends `data` to the key's binary file when the file holds exactly
  // `offset` bytes; true when written. A mismatch or a failed write (file
  // left as it was) gives false and is logged; raises when the file cannot
  // be opened.
  virtual bool storeBinaryData(const std::string& data, const std::string& key, std::uint64_t offset) = 0;
  // At most `size` bytes from `offset` of the key's binary file (fewer at its
  // end). Raises when the file cannot be opened.
  virtual std::string restoreBinaryDataOf(const std::string& key, std::uint64_t offset, std::uint64_t size) = 0;
  // Empties the key's binary file when it exists; never leaves it absent.
  virtual void purgeBinaryData(const std::string& key) = 0;
  // The size of the key's binary file, or nullopt when there is none.
  virtual std::optional<std::uint64_t> binaryDataSize(const std::string& key) = 0;
  virtual std::string pathForBinaryItemWithKey(const std::string& key) const = 0;
};

}  // namespace greyfox
