#include "items/QBUserSessionItem.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

namespace {

template <class Item>
auto sessionText(Item& item, std::string_view field) -> decltype(&item.sessionId) {
  if (field == "sessionId") return &item.sessionId;
  if (field == "username") return &item.username;
  if (field == "driveName") return &item.driveName;
  if (field == "firstName") return &item.firstName;
  if (field == "lastName") return &item.lastName;
  if (field == "userId") return &item.userId;
  return nullptr;
}

template <class Item>
auto sessionNumber(Item& item, std::string_view field) -> decltype(&item.accountType) {
  if (field == "accountType") return &item.accountType;
  if (field == "userIdentifier") return &item.userIdentifier;
  if (field == "userLevel") return &item.userLevel;
  return nullptr;
}

}  // namespace

const std::vector<QBFieldMapping>& QBUserSessionItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{
      {"sessionId", "SessionID"},       {"username", "UserName"},     {"accountType", "AccType"},
      {"driveName", "DriveName"},       {"firstName", "UserFirstName"}, {"lastName", "UserLastName"},
      {"userId", "UserID"},             {"uploadSpeedLimit", "UploadSpeedLimit"},
      {"active2FA", "Active2FA"},       {"isAccountUser", "IsAccountUser"}};
  return kMapping;
}

const std::vector<std::string>& QBUserSessionItem::encodeArray() const {
  static const std::vector<std::string> kNames{
      "identifier", "sessionId", "isAccountUser", "userIdentifier", "accountType",   "username",         "firstName",
      "lastName",   "driveName", "userLevel",     "userId",         "encryptionKey", "uploadSpeedLimit", "active2FA"};
  return kNames;
}

bool QBUserSessionItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (auto text = sessionText(*this, field)) return mapText(value, *text);
  if (field == "accountType") return mapRequiredInteger(value, accountType);
  if (field == "uploadSpeedLimit") {
    auto limit = replyRequiredReal(value);
    if (!limit) return false;
    uploadSpeedLimit = limit;
    return true;
  }
  if (field == "active2FA") {
    auto text = replyText(value);
    if (!text) return false;
    active2FA = std::move(text);
    return true;
  }
  if (field == "isAccountUser") {
    isAccountUser = replyBool(value);
    return true;
  }
  return QBContentItem::mapField(field, value, error);
}

json QBUserSessionItem::archiveField(std::string_view field) const {
  if (auto text = sessionText(*this, field)) return *text;
  if (auto number = sessionNumber(*this, field)) return optionalValue(*number);
  if (field == "uploadSpeedLimit") return optionalValue(uploadSpeedLimit);
  if (field == "active2FA") return optionalValue(active2FA);
  if (field == "isAccountUser") return isAccountUser;
  if (field == "encryptionKey") return encryptionKey.empty() ? json() : bytesValue(encryptionKey);
  return QBContentItem::archiveField(field);
}

bool QBUserSessionItem::unarchiveField(std::string_view field, const json& value) {
  if (auto text = sessionText(*this, field)) return archivedText(value, *text);
  if (auto number = sessionNumber(*this, field)) return archivedInteger(value, *number);
  if (field == "uploadSpeedLimit") return archivedReal(value, uploadSpeedLimit);
  if (field == "active2FA") {
    std::string text;
    if (!archivedText(value, text)) return false;
    active2FA = std::move(text);
    return true;
  }
  if (field == "isAccountUser") {
    std::optional<int64_t> number;
    if (!archivedInteger(value, number)) return false;
    isAccountUser = *number != 0;
    return true;
  }
  if (field == "encryptionKey") return archivedBytes(value, encryptionKey);
  return QBContentItem::unarchiveField(field, value);
}

std::string QBUserSessionItem::description() const {
  return QBContentItem::description() + " (username=" + username + ", sessionId=" + sessionId + ", ...)";
}

}  // namespace greyfox
