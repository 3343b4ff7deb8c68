// A reply kept as it came, for replies that have no class of their own (the
// secure-folder challenge). Reading or writing a key path of the item reads or
// writes `response`. Plain record; see QBContentItem.h for threads.
#pragma once

#include <functional>
#include <string>

#include "items/QBContentItem.h"

namespace greyfox {

class QBAnonymousItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBAnonymousItem";

  nlohmann::json response = nlohmann::json::object();

  // An item holding a copy of `dict` (an empty response when it is not a
  // dictionary). Never nullptr.
  static std::shared_ptr<QBAnonymousItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error);

  // Called for each entry of the reply; answers the value to store, or
  // nullopt after filling the error out-parameter to stop the walk.
  using ParseBlock =
      std::function<std::optional<nlohmann::json>(const std::string& key, const nlohmann::json& value, ErrorPtr* error)>;
  // An item whose response holds parseBlock's answer for each entry of
  // `dict`; nullptr (with the block's error in *error) when the block fails.
  static std::shared_ptr<QBAnonymousItem> itemWithDict(const nlohmann::json& dict, const ParseBlock& parseBlock,
                                                       ErrorPtr* error);

  // The value at `keyPath` ("Data", "a.b") of the response, or nullptr.
  const nlohmann::json* valueForKeyPath(std::string_view keyPath) const;
  // Stores `value` at `keyPath`, making dictionaries along the way; false when
  // a step of the path holds something that is not a dictionary.
  bool setValueForKeyPath(std::string_view keyPath, nlohmann::json value);

  std::string className() const override { return std::string(kClassName); }
};

}  // namespace greyfox
