#include "items/QBSharingItems.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

// --- QBSharingUserItem ---

const std::vector<QBFieldMapping>& QBSharingUserItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{
      {"identifier", "SharingID"}, {"name", "Name"}, {"mode", "ShareMode"}};
  return kMapping;
}

const std::vector<std::string>& QBSharingUserItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "name", "mode"};
  return kNames;
}

bool QBSharingUserItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "name") return mapText(value, name);
  if (field == "mode") return mapText(value, mode);
  return QBContentItem::mapField(field, value, error);
}

json QBSharingUserItem::archiveField(std::string_view field) const {
  if (field == "name") return name;
  if (field == "mode") return mode;
  return QBContentItem::archiveField(field);
}

bool QBSharingUserItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "name") return archivedText(value, name);
  if (field == "mode") return archivedText(value, mode);
  return QBContentItem::unarchiveField(field, value);
}

// --- QBSharingUsersItem ---

const std::vector<QBFieldMapping>& QBSharingUsersItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"users", "ShareWithUser"}};
  return kMapping;
}

const std::vector<std::string>& QBSharingUsersItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "users"};
  return kNames;
}

bool QBSharingUsersItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "users") {
    std::vector<std::shared_ptr<QBSharingUserItem>> list;
    if (value != nullptr && !value->is_null()) {
      if (!value->is_array()) return false;
      for (const auto& element : *value) {
        auto user = QBSharingUserItem::itemWithDict(element, error);
        if (!user) return false;
        list.push_back(std::move(user));
      }
    }
    users = std::move(list);
    return true;
  }
  return QBContentItem::mapField(field, value, error);
}

json QBSharingUsersItem::archiveField(std::string_view field) const {
  if (field == "users") return archiveList(users);
  return QBContentItem::archiveField(field);
}

bool QBSharingUsersItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "users") return unarchiveList(value, users);
  return QBContentItem::unarchiveField(field, value);
}

std::shared_ptr<QBSharingUserItem> QBSharingUsersItem::itemNamed(std::string_view wanted) const {
  for (const auto& user : users) {
    if (user->name == wanted) return user;
  }
  return nullptr;
}

}  // namespace greyfox
