#include "items/QBBinaryDataDescriptorItem.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

bool QBBinaryDataDescriptorItem::isBytesReady(int64_t bytes) const {
  if (completedBytes.value_or(0) >= bytes) return true;
  return totalBytes.value_or(0) != 0 && completedBytes == totalBytes;
}

const std::vector<std::string>& QBBinaryDataDescriptorItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "completedBytes", "totalBytes", "path", "encrypted"};
  return kNames;
}

json QBBinaryDataDescriptorItem::archiveField(std::string_view field) const {
  if (field == "completedBytes") return optionalValue(completedBytes);
  if (field == "totalBytes") return optionalValue(totalBytes);
  if (field == "path") return path;
  if (field == "encrypted") return encrypted ? 1 : 0;
  return QBContentItem::archiveField(field);
}

bool QBBinaryDataDescriptorItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "completedBytes") return archivedInteger(value, completedBytes);
  if (field == "totalBytes") return archivedInteger(value, totalBytes);
  if (field == "path") return archivedText(value, path);
  if (field == "encrypted") {
    std::optional<int64_t> number;
    if (!archivedInteger(value, number)) return false;
    encrypted = *number != 0;
    return true;
  }
  return QBContentItem::unarchiveField(field, value);
}

std::string QBBinaryDataDescriptorItem::description() const {
  return QBContentItem::description() + " (id=" + identifier + ", completed=" + describeNumber(completedBytes) +
         ", total=" + describeNumber(totalBytes) + ")";
}

}  // namespace greyfox
