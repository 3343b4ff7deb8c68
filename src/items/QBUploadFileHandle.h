// The service's handle of an upload in progress (QBUploadFileHandle) and the
// answer to one uploaded chunk (QBChunkUploadResult). Plain records: the upload
// controller that owns a handle serializes its edits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBUploadFileHandle : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBUploadFileHandle";

  // identifier: the file id, set by the open operation.
  std::string tempLocation;                // "TempLocation"; sent back with every chunk and at close
  std::optional<int64_t> requireHash;      // "RequireHash"
  std::optional<int64_t> requireHashOnly;  // "RequireHashOnly"
  std::optional<int64_t> size;             // the file size, set by the open operation; not archived
  std::string path;                        // the volume path, set by the upload controller
  std::optional<int64_t> isUploading;      // set by the upload controllers

  // nullptr when any of the three reply keys is missing.
  static std::shared_ptr<QBUploadFileHandle> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBUploadFileHandle>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;
  // "<QBUploadFileHandle: 0x...> (id=7, path=/a.txt, temp=tmp/abc, ...)"
  std::string description() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBChunkUploadResult : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBChunkUploadResult";

  // "TotalWritten": the bytes of the file the service holds after this chunk.
  std::optional<int64_t> bytesWritten;

  // nullptr when "TotalWritten" is missing or not a number.
  static std::shared_ptr<QBChunkUploadResult> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBChunkUploadResult>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  // "<QBChunkUploadResult: 0x...> (bytesWritten=1048576)"
  std::string description() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
};

}  // namespace greyfox
