// The state of one file's data in the cache: how many bytes from byte 0 are
// present and how many the file has. Made and updated by the download
// controller, the cache controller and the upload code; never from a reply.
// Plain record: the download lock table and the cache serialize its edits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBBinaryDataDescriptorItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBBinaryDataDescriptorItem";

  // identifier: the file id.
  std::optional<int64_t> completedBytes;  // bytes present, counted from byte 0
  std::optional<int64_t> totalBytes;      // the file's size once known
  std::string path;                       // the volume path
  bool encrypted = false;                 // the file lies in a secure folder
  ErrorPtr error;                         // a failed transfer's error; not archived

  static std::shared_ptr<QBBinaryDataDescriptorItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBBinaryDataDescriptorItem>(dict, error);
  }

  // Both counts are known and equal.
  bool isCompleted() const { return completedBytes && totalBytes && *completedBytes == *totalBytes; }
  // The first `bytes` bytes are present, or the whole file is (a known,
  // non-zero total that is complete) even if it is shorter than `bytes`.
  bool isBytesReady(int64_t bytes) const;

  std::string className() const override { return std::string(kClassName); }
  const std::vector<std::string>& encodeArray() const override;
  // "<QBBinaryDataDescriptorItem: 0x...> (id=7, completed=40, total=100)"
  std::string description() const override;

 protected:
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

}  // namespace greyfox
