// The answer of a path -> identifier look-up: the file (QBFSIdItem) or folder
// (QBFolderFSIdItem) at `path`. Plain records; see QBContentItem.h for threads.
#pragma once

#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBFSIdItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBFSIdItem";

  // identifier <- "FileId" (required).
  std::string path;  // the looked-up volume path, set by the caller

  static std::shared_ptr<QBFSIdItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBFSIdItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;
  // "<QBFSIdItem: 0x...> (id=12, path=/a/b)"
  std::string description() const override;

 protected:
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBFolderFSIdItem : public QBFSIdItem {
 public:
  static constexpr std::string_view kClassName = "QBFolderFSIdItem";

  // identifier <- "FolderId" (required).
  static std::shared_ptr<QBFolderFSIdItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBFolderFSIdItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
};

}  // namespace greyfox
