#include "items/QBFileItem.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

// --- QBFileItem ---

const std::vector<QBFieldMapping>& QBFileItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"identifier", "FileId"},
                                                    {"name", "Name"},
                                                    {"size", "Size"},
                                                    {"requireCompression", "RequireCompression"},
                                                    {"dateModified", "DateModified"}};
  return kMapping;
}

const std::vector<std::string>& QBFileItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "name", "size", "requireCompression", "dateModified"};
  return kNames;
}

bool QBFileItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "name") return mapName(value, name);
  if (field == "size") return mapInteger(value, size);
  if (field == "requireCompression") return mapInteger(value, requireCompression);
  if (field == "dateModified") return mapDate(value, dateModified);
  return QBContentItem::mapField(field, value, error);
}

json QBFileItem::archiveField(std::string_view field) const {
  if (field == "name") return name;
  if (field == "size") return optionalValue(size);
  if (field == "requireCompression") return optionalValue(requireCompression);
  if (field == "dateModified") return optionalValue(dateModified);
  return QBContentItem::archiveField(field);
}

bool QBFileItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "name") return archivedText(value, name);
  if (field == "size") return archivedInteger(value, size);
  if (field == "requireCompression") return archivedInteger(value, requireCompression);
  if (field == "dateModified") return archivedReal(value, dateModified);
  return QBContentItem::unarchiveField(field, value);
}

bool QBFileItem::isEqualTo(const QBContentItem& other) const {
  if (auto file = dynamic_cast<const QBFileItem*>(&other)) return name == file->name;
  return QBContentItem::isEqualTo(other);
}

std::string QBFileItem::description() const {
  return QBContentItem::description() + " (name=" + name + ", size=" + describeNumber(size) + ", id=" + identifier +
         ", ...)";
}

// --- QBSharedFileItem ---

const std::vector<QBFieldMapping>& QBSharedFileItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"identifier", "FileId"},
                                                    {"name", "Name"},
                                                    {"size", "Size"},
                                                    {"dateModified", "DateModified"},
                                                    {"shareMode", "ShareMode"}};
  return kMapping;
}

const std::vector<std::string>& QBSharedFileItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier",   "name",     "size", "requireCompression",
                                               "dateModified", "shareMode"};
  return kNames;
}

bool QBSharedFileItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "shareMode") return mapRequiredInteger(value, shareMode);
  return QBFileItem::mapField(field, value, error);
}

json QBSharedFileItem::archiveField(std::string_view field) const {
  if (field == "shareMode") return optionalValue(shareMode);
  return QBFileItem::archiveField(field);
}

bool QBSharedFileItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "shareMode") return archivedInteger(value, shareMode);
  return QBFileItem::unarchiveField(field, value);
}

// --- QBFileInfoItem ---

const std::vector<QBFieldMapping>& QBFileInfoItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{
      {"identifier", "FileId"},     {"name", "Name"},     {"size", "Size"},
      {"dateModified", "DateModified"}, {"link", "Link"}, {"downloadLink", "DownloadLink"},
      {"streamingLink", "StreamingLink"}, {"access", "Access"}, {"fileDescription", "Description"}};
  return kMapping;
}

const std::vector<std::string>& QBFileInfoItem::encodeArray() const {
  static const std::vector<std::string> kNames{
      "identifier", "name",         "size",          "requireCompression", "dateModified", "path",
      "link",       "downloadLink", "streamingLink", "fileDescription",    "price",        "access"};
  return kNames;
}

namespace {

template <class Item>
auto infoText(Item& item, std::string_view field) -> decltype(&item.link) {
  if (field == "link") return &item.link;
  if (field == "downloadLink") return &item.downloadLink;
  if (field == "streamingLink") return &item.streamingLink;
  if (field == "access") return &item.access;
  if (field == "fileDescription") return &item.fileDescription;
  if (field == "path") return &item.path;
  if (field == "price") return &item.price;
  return nullptr;
}

}  // namespace

bool QBFileInfoItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (auto text = infoText(*this, field)) return mapText(value, *text);
  return QBFileItem::mapField(field, value, error);
}

json QBFileInfoItem::archiveField(std::string_view field) const {
  if (auto text = infoText(*this, field)) return *text;
  return QBFileItem::archiveField(field);
}

bool QBFileInfoItem::unarchiveField(std::string_view field, const json& value) {
  if (auto text = infoText(*this, field)) return archivedText(value, *text);
  return QBFileItem::unarchiveField(field, value);
}

// --- QBFileThumbnailItem ---

const std::vector<std::string>& QBFileThumbnailItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "data"};
  return kNames;
}

json QBFileThumbnailItem::archiveField(std::string_view field) const {
  if (field == "data") return bytesValue(data);
  return QBContentItem::archiveField(field);
}

bool QBFileThumbnailItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "data") return archivedBytes(value, data);
  return QBContentItem::unarchiveField(field, value);
}

}  // namespace greyfox
