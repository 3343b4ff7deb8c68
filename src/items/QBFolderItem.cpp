#include "items/QBFolderItem.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

// --- QBFolderItem ---

const std::vector<QBFieldMapping>& QBFolderItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"identifier", "FolderID"},
                                                    {"name", "Name"},
                                                    {"encrypted", "Encrypted"},
                                                    {"dateCreated", "DateCreated"},
                                                    {"dateModified", "DateModified"}};
  return kMapping;
}

const std::vector<std::string>& QBFolderItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "name", "dateCreated", "dateModified", "encrypted"};
  return kNames;
}

bool QBFolderItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "name") return mapName(value, name);
  if (field == "encrypted") return mapInteger(value, encrypted);
  if (field == "dateCreated") return mapDate(value, dateCreated);
  if (field == "dateModified") return mapDate(value, dateModified);
  return QBContentItem::mapField(field, value, error);
}

json QBFolderItem::archiveField(std::string_view field) const {
  if (field == "name") return name;
  if (field == "encrypted") return optionalValue(encrypted);
  if (field == "dateCreated") return optionalValue(dateCreated);
  if (field == "dateModified") return optionalValue(dateModified);
  return QBContentItem::archiveField(field);
}

bool QBFolderItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "name") return archivedText(value, name);
  if (field == "encrypted") return archivedInteger(value, encrypted);
  if (field == "dateCreated") return archivedReal(value, dateCreated);
  if (field == "dateModified") return archivedReal(value, dateModified);
  return QBContentItem::unarchiveField(field, value);
}

bool QBFolderItem::isEqualTo(const QBContentItem& other) const {
  if (auto folder = dynamic_cast<const QBFolderItem*>(&other)) return name == folder->name;
  return QBContentItem::isEqualTo(other);
}

std::string QBFolderItem::description() const {
  return QBContentItem::description() + " (name=" + name + ", encrypted=" + describeNumber(encrypted) +
         ", id=" + identifier + ", ...)";
}

// --- QBSharedFolderItem ---

const std::vector<QBFieldMapping>& QBSharedFolderItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"identifier", "FolderID"},  {"name", "Name"},
                                                    {"encrypted", "Encrypted"},  {"dateCreated", "DateCreated"},
                                                    {"dateModified", "DateModified"}, {"shareMode", "ShareMode"}};
  return kMapping;
}

const std::vector<std::string>& QBSharedFolderItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "name",      "dateCreated",
                                               "dateModified", "encrypted", "shareMode"};
  return kNames;
}

bool QBSharedFolderItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "shareMode") return mapRequiredInteger(value, shareMode);
  return QBFolderItem::mapField(field, value, error);
}

json QBSharedFolderItem::archiveField(std::string_view field) const {
  if (field == "shareMode") return optionalValue(shareMode);
  return QBFolderItem::archiveField(field);
}

bool QBSharedFolderItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "shareMode") return archivedInteger(value, shareMode);
  return QBFolderItem::unarchiveField(field, value);
}

// --- QBFolderInfoItem ---

namespace {

template <class Item>
auto infoText(Item& item, std::string_view field) -> decltype(&item.link) {
  if (field == "link") return &item.link;
  if (field == "folderDescription") return &item.folderDescription;
  if (field == "access") return &item.access;
  if (field == "path") return &item.path;
  return nullptr;
}

}  // namespace

const std::vector<QBFieldMapping>& QBFolderInfoItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{
      {"identifier", "FolderID"},       {"name", "Name"},  {"encrypted", "Encrypted"},
      {"dateCreated", "DateCreated"},   {"dateModified", "DateModified"}, {"link", "Link"},
      {"folderDescription", "Description"}, {"access", "Access"}};
  return kMapping;
}

const std::vector<std::string>& QBFolderInfoItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "name", "dateCreated",       "dateModified",
                                               "encrypted",  "path", "link", "folderDescription", "access"};
  return kNames;
}

bool QBFolderInfoItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (auto text = infoText(*this, field)) return mapText(value, *text);
  return QBFolderItem::mapField(field, value, error);
}

json QBFolderInfoItem::archiveField(std::string_view field) const {
  if (auto text = infoText(*this, field)) return *text;
  return QBFolderItem::archiveField(field);
}

bool QBFolderInfoItem::unarchiveField(std::string_view field, const json& value) {
  if (auto text = infoText(*this, field)) return archivedText(value, *text);
  return QBFolderItem::unarchiveField(field, value);
}

}  // namespace greyfox
