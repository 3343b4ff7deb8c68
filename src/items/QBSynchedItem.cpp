#include "items/QBSynchedItem.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

const std::vector<std::string>& QBSynchedItem::encodeArray() const {
  static const std::vector<std::string> kNames{"dateModified"};
  return kNames;
}

json QBSynchedItem::archiveField(std::string_view field) const {
  if (field == "dateModified") return optionalValue(dateModified);
  return QBContentItem::archiveField(field);
}

bool QBSynchedItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "dateModified") return archivedReal(value, dateModified);
  return QBContentItem::unarchiveField(field, value);
}

const std::vector<std::string>& QBSharedXAttrs::encodeArray() const {
  static const std::vector<std::string> kNames{"dateModified", "identifier", "xattrsByPath"};
  return kNames;
}

json QBSharedXAttrs::archiveField(std::string_view field) const {
  if (field == "xattrsByPath") return xattrsByPath;
  return QBSynchedItem::archiveField(field);
}

bool QBSharedXAttrs::unarchiveField(std::string_view field, const json& value) {
  if (field == "xattrsByPath") {
    if (!value.is_object()) return false;
    for (const auto& [path, attributes] : value.items()) {
      if (!attributes.is_object()) return false;
    }
    xattrsByPath = value;
    return true;
  }
  return QBSynchedItem::unarchiveField(field, value);
}

}  // namespace greyfox
