#include "items/QBUploadFileHandle.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

// --- QBUploadFileHandle ---

const std::vector<QBFieldMapping>& QBUploadFileHandle::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{
      {"tempLocation", "TempLocation"}, {"requireHash", "RequireHash"}, {"requireHashOnly", "RequireHashOnly"}};
  return kMapping;
}

const std::vector<std::string>& QBUploadFileHandle::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier",   "isUploading", "path",
                                               "tempLocation", "requireHash", "requireHashOnly"};
  return kNames;
}

bool QBUploadFileHandle::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "tempLocation") return mapText(value, tempLocation);
  if (field == "requireHash") return mapRequiredInteger(value, requireHash);
  if (field == "requireHashOnly") return mapRequiredInteger(value, requireHashOnly);
  return QBContentItem::mapField(field, value, error);
}

json QBUploadFileHandle::archiveField(std::string_view field) const {
  if (field == "isUploading") return optionalValue(isUploading);
  if (field == "path") return path;
  if (field == "tempLocation") return tempLocation;
  if (field == "requireHash") return optionalValue(requireHash);
  if (field == "requireHashOnly") return optionalValue(requireHashOnly);
  return QBContentItem::archiveField(field);
}

bool QBUploadFileHandle::unarchiveField(std::string_view field, const json& value) {
  if (field == "isUploading") return archivedInteger(value, isUploading);
  if (field == "path") return archivedText(value, path);
  if (field == "tempLocation") return archivedText(value, tempLocation);
  if (field == "requireHash") return archivedInteger(value, requireHash);
  if (field == "requireHashOnly") return archivedInteger(value, requireHashOnly);
  return QBContentItem::unarchiveField(field, value);
}

std::string QBUploadFileHandle::description() const {
  return QBContentItem::description() + " (id=" + identifier + ", path=" + path + ", temp=" + tempLocation +
         ", ...)";
}

// --- QBChunkUploadResult ---

const std::vector<QBFieldMapping>& QBChunkUploadResult::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"bytesWritten", "TotalWritten"}};
  return kMapping;
}

bool QBChunkUploadResult::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "bytesWritten") return mapRequiredInteger(value, bytesWritten);
  return QBContentItem::mapField(field, value, error);
}

std::string QBChunkUploadResult::description() const {
  return QBContentItem::description() + " (bytesWritten=" + describeNumber(bytesWritten) + ")";
}

}  // namespace greyfox
