// Records the client keeps and synchronises itself rather than reads from a
// reply: QBSynchedItem (anything with a modification date) and QBSharedXAttrs,
// the extended attributes of volume paths kept under the key "default".
//
// Threads: a QBSharedXAttrs is edited only by the extended-attributes
// controller, under its own lock; everyone else reads copies.
#pragma once

#include <optional>
#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBSynchedItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBSynchedItem";

  std::optional<double> dateModified;  // seconds since 1970

  static std::shared_ptr<QBSynchedItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBSynchedItem>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<std::string>& encodeArray() const override;

 protected:
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

class QBSharedXAttrs : public QBSynchedItem {
 public:
  static constexpr std::string_view kClassName = "QBSharedXAttrs";

  QBSharedXAttrs() { identifier = "default"; }

  // Volume path -> { attribute name -> value }. Values are text or byte
  // buffers (nlohmann::json::binary); the archive keeps either.
  nlohmann::json xattrsByPath = nlohmann::json::object();

  static std::shared_ptr<QBSharedXAttrs> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBSharedXAttrs>(dict, error);
  }

  std::string className() const override { return std::string(kClassName); }
  const std::vector<std::string>& encodeArray() const override;

 protected:
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

}  // namespace greyfox
