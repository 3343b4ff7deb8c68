// The signed-in session: made from the sign-in reply, cached under the key
// "default", and read by every layer that talks to the service. Plain record:
// once cached it is read-only except for the fields the owners below set
// under their own serialization (the speed-limit query, the secure-folder
// runtime's key).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBUserSessionItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBUserSessionItem";

  QBUserSessionItem() { identifier = "default"; }

  std::string sessionId;                    // "SessionID"
  std::string username;                     // "UserName"
  std::optional<int64_t> accountType;       // "AccType"
  std::string driveName;                    // "DriveName"
  std::string firstName;                    // "UserFirstName"
  std::string lastName;                     // "UserLastName"
  std::string userId;                       // "UserID"
  std::optional<double> uploadSpeedLimit;   // "UploadSpeedLimit"; also set by the speed-limit query
  // "Active2FA" as text (a number arrives as its decimal text); "1" means the
  // sign-in must ask for a two-factor code.
  std::optional<std::string> active2FA;
  bool isAccountUser = false;               // "IsAccountUser"; missing = false
  std::string encryptionKey;                // secure-folder key bytes, set by the secure-folder runtime
  std::optional<int64_t> userIdentifier;    // not filled by any reply
  std::optional<int64_t> userLevel;         // not filled by any reply

  // nullptr when any mapped key but "IsAccountUser" is missing.
  static std::shared_ptr<QBUserSessionItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBUserSessionItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;
  // "<QBUserSessionItem: 0x...> (username=ann, sessionId=s1, ...)"
  std::string description() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

}  // namespace greyfox
