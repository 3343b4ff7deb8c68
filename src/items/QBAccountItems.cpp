#include "items/QBAccountItems.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

// --- QBUserInfoItem ---

namespace {

template <class Item>
auto infoNumber(Item& item, std::string_view field) -> decltype(&item.storageMax) {
  if (field == "storageMax") return &item.storageMax;
  if (field == "storageUsed") return &item.storageUsed;
  if (field == "bandwidthUsed") return &item.bandwidthUsed;
  if (field == "bandwidthMax") return &item.bandwidthMax;
  if (field == "trashCount") return &item.trashCount;
  return nullptr;
}

}  // namespace

const std::vector<QBFieldMapping>& QBUserInfoItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"storageMax", "MaxStorage"},
                                                    {"storageUsed", "StorageUsed"},
                                                    {"bandwidthUsed", "BwUsed"},
                                                    {"bandwidthMax", "BwMax"},
                                                    {"plan", "UserPlan"}};
  return kMapping;
}

const std::vector<std::string>& QBUserInfoItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier",   "storageMax", "storageUsed", "bandwidthUsed",
                                               "bandwidthMax", "plan",       "trashCount"};
  return kNames;
}

bool QBUserInfoItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "plan") return mapText(value, plan);
  if (auto number = infoNumber(*this, field)) return mapInteger(value, *number);
  return QBContentItem::mapField(field, value, error);
}

json QBUserInfoItem::archiveField(std::string_view field) const {
  if (field == "plan") return plan;
  if (auto number = infoNumber(*this, field)) return optionalValue(*number);
  return QBContentItem::archiveField(field);
}

bool QBUserInfoItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "plan") return archivedText(value, plan);
  if (auto number = infoNumber(*this, field)) return archivedInteger(value, *number);
  return QBContentItem::unarchiveField(field, value);
}

// --- QBUserLinksItem ---

const std::vector<QBFieldMapping>& QBUserLinksItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"accountLink", "account"}, {"billingLink", "billing"}};
  return kMapping;
}

const std::vector<std::string>& QBUserLinksItem::encodeArray() const {
  static const std::vector<std::string> kNames{"accountLink", "billingLink"};
  return kNames;
}

bool QBUserLinksItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "accountLink") return mapText(value, accountLink);
  if (field == "billingLink") return mapText(value, billingLink);
  return QBContentItem::mapField(field, value, error);
}

json QBUserLinksItem::archiveField(std::string_view field) const {
  if (field == "accountLink") return accountLink;
  if (field == "billingLink") return billingLink;
  return QBContentItem::archiveField(field);
}

bool QBUserLinksItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "accountLink") return archivedText(value, accountLink);
  if (field == "billingLink") return archivedText(value, billingLink);
  return QBContentItem::unarchiveField(field, value);
}

// --- QBNotificationsItem ---

const std::vector<QBFieldMapping>& QBNotificationsItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"list", "Notification"}};
  return kMapping;
}

bool QBNotificationsItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "list") {
    if (value == nullptr || !value->is_array()) return false;
    list = *value;
    return true;
  }
  return QBContentItem::mapField(field, value, error);
}

}  // namespace greyfox
