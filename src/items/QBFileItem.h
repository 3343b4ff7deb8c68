// Files as the service describes them: an entry of a listing or the answer of
// a file operation (QBFileItem), a file in a folder shared with the user
// (QBSharedFileItem), the properties of one file (QBFileInfoItem), and a
// file's thumbnail image (QBFileThumbnailItem). Plain records; see
// QBContentItem.h for threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBFileItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBFileItem";

  // identifier <- "FileId".
  std::string name;                          // "Name", kept in NFD
  std::optional<int64_t> size;               // "Size"; a missing value reads as 0
  std::optional<int64_t> requireCompression; // "RequireCompression"; missing reads as 0
  std::optional<double> dateModified;        // "DateModified", seconds since 1970

  // nullptr when "FileId" or "Name" is missing or a number is not one.
  static std::shared_ptr<QBFileItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBFileItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;
  // Another file (of any file class) is equal when its name is the same text.
  bool isEqualTo(const QBContentItem& other) const override;
  // "<QBFileItem: 0x...> (name=a.txt, size=12, id=7, ...)"
  std::string description() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBSharedFileItem : public QBFileItem {
 public:
  static constexpr std::string_view kClassName = "QBSharedFileItem";

  std::optional<int64_t> shareMode;  // "ShareMode", required

  static std::shared_ptr<QBSharedFileItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBSharedFileItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBFileInfoItem : public QBFileItem {
 public:
  static constexpr std::string_view kClassName = "QBFileInfoItem";

  std::string link;             // "Link"
  std::string downloadLink;     // "DownloadLink"
  std::string streamingLink;    // "StreamingLink"
  std::string access;           // "Access"
  std::string fileDescription;  // "Description"
  std::string path;             // not in replies
  std::string price;            // not in replies

  // nullptr when any mapped key (all of them are required but "Size" and
  // "DateModified") is missing.
  static std::shared_ptr<QBFileInfoItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBFileInfoItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

// Made by the thumbnail operation from the raw reply body; identifier = the
// file id. Has no mapping.
class QBFileThumbnailItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBFileThumbnailItem";

  std::string data;  // the image bytes

  static std::shared_ptr<QBFileThumbnailItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBFileThumbnailItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<std::string>& encodeArray() const override;

 protected:
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

}  // namespace greyfox
