// The users a folder is shared with: one user (QBSharingUserItem) and the
// whole list of one folder (QBSharingUsersItem). Plain records; see
// QBContentItem.h for threads.
#pragma once

#include <string>
#include <vector>

#include "items/QBContentItem.h"

namespace greyfox {

class QBSharingUserItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBSharingUserItem";

  // identifier <- "SharingID".
  std::string name;  // "Name"
  std::string mode;  // "ShareMode"

  // nullptr when any of the three keys is missing.
  static std::shared_ptr<QBSharingUserItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBSharingUserItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBSharingUsersItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBSharingUsersItem";

  // identifier: the folder id, set by the caller.
  // "ShareWithUser"; missing = empty. One entry that fails fails the item.
  std::vector<std::shared_ptr<QBSharingUserItem>> users;

  static std::shared_ptr<QBSharingUsersItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBSharingUsersItem>(dict, error);
  }

  // The first user whose name is exactly `name`, or nullptr.
  std::shared_ptr<QBSharingUserItem> itemNamed(std::string_view name) const;

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

}  // namespace greyfox
