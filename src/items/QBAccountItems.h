// Account-wide records: storage and bandwidth figures (QBUserInfoItem), the
// account and billing web links (QBUserLinksItem) and the service's
// notifications (QBNotificationsItem). Plain records; see QBContentItem.h for
// threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBUserInfoItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBUserInfoItem";

  QBUserInfoItem() { identifier = "default"; }

  std::optional<int64_t> storageMax;     // "MaxStorage"; missing reads as 0
  std::optional<int64_t> storageUsed;    // "StorageUsed"; missing reads as 0
  std::optional<int64_t> bandwidthUsed;  // "BwUsed"; missing reads as 0
  std::optional<int64_t> bandwidthMax;   // "BwMax"; missing reads as 0
  std::string plan;                      // "UserPlan" (required)
  std::optional<int64_t> trashCount;     // set by the manage controller

  static std::shared_ptr<QBUserInfoItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBUserInfoItem>(dict, error);
  }

  // The plan's text contains "Unlimited".
  bool isUnlimited() const { return plan.find("Unlimited") != std::string::npos; }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

// Made from a dictionary the links operation builds from two replies, with
// the keys "account" and "billing" (both required).
class QBUserLinksItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBUserLinksItem";

  QBUserLinksItem() { identifier = "default"; }

  std::string accountLink;  // "account"
  std::string billingLink;  // "billing"

  static std::shared_ptr<QBUserLinksItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBUserLinksItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBNotificationsItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBNotificationsItem";

  // "Notification": the service's list as it came (required, a list).
  nlohmann::json list = nlohmann::json::array();

  static std::shared_ptr<QBNotificationsItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBNotificationsItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;

 protected:
  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
};

}  // namespace greyfox
