// Folders as the service describes them: an entry of a listing or the answer
// of a folder operation (QBFolderItem), a folder shared with the user
// (QBSharedFolderItem) and the properties of one folder (QBFolderInfoItem).
// Plain records; see QBContentItem.h for threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBFolderItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBFolderItem";

  // identifier <- "FolderID".
  std::string name;                      // "Name", kept in NFD
  std::optional<int64_t> encrypted = 0;  // "Encrypted"; non-zero = secure folder; missing reads as 0
  std::optional<double> dateCreated;     // "DateCreated", seconds since 1970
  std::optional<double> dateModified;    // "DateModified", seconds since 1970

  // nullptr when "FolderID" or "Name" is missing or a number is not one.
  static std::shared_ptr<QBFolderItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBFolderItem>(dict, error);
  }

  bool isEncrypted() const { return encrypted.value_or(0) != 0; }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;
  // Another folder (of any folder class) is equal when its name is the same text.
  bool isEqualTo(const QBContentItem& other) const override;
  // "<QBFolderItem: 0x...> (name=Docs, encrypted=0, id=12, ...)"
  std::string description() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBSharedFolderItem : public QBFolderItem {
 public:
  static constexpr std::string_view kClassName = "QBSharedFolderItem";

  std::optional<int64_t> shareMode;  // "ShareMode", required

  static std::shared_ptr<QBSharedFolderItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBSharedFolderItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBFolderInfoItem : public QBFolderItem {
 public:
  static constexpr std::string_view kClassName = "QBFolderInfoItem";

  std::string link;               // "Link"
  std::string folderDescription;  // "Description"
  std::string access;             // "Access"
  std::string path;               // not in replies

  static std::shared_ptr<QBFolderInfoItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBFolderInfoItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

}  // namespace greyfox
