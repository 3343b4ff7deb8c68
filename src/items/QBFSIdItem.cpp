#include "items/QBFSIdItem.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

const std::vector<QBFieldMapping>& QBFSIdItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"identifier", "FileId"}};
  return kMapping;
}

const std::vector<std::string>& QBFSIdItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "path"};
  return kNames;
}

json QBFSIdItem::archiveField(std::string_view field) const {
  if (field == "path") return path;
  return QBContentItem::archiveField(field);
}

bool QBFSIdItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "path") return archivedText(value, path);
  return QBContentItem::unarchiveField(field, value);
}

std::string QBFSIdItem::description() const {
  return QBContentItem::description() + " (id=" + identifier + ", path=" + path + ")";
}

const std::vector<QBFieldMapping>& QBFolderFSIdItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"identifier", "FolderId"}};
  return kMapping;
}

}  // namespace greyfox
