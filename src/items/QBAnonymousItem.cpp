#include "items/QBAnonymousItem.h"

#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

std::shared_ptr<QBAnonymousItem> QBAnonymousItem::itemWithDict(const json& dict, ErrorPtr*) {
  auto item = std::make_shared<QBAnonymousItem>();
  if (dict.is_object()) item->response = dict;
  return item;
}

std::shared_ptr<QBAnonymousItem> QBAnonymousItem::itemWithDict(const json& dict, const ParseBlock& parseBlock,
                                                               ErrorPtr* error) {
  auto item = std::make_shared<QBAnonymousItem>();
  if (!dict.is_object()) return item;
  for (const auto& [key, value] : dict.items()) {
    auto parsed = parseBlock(key, value, error);
    if (!parsed) return nullptr;
    item->response[key] = std::move(*parsed);
  }
  return item;
}

const json* QBAnonymousItem::valueForKeyPath(std::string_view keyPath) const {
  return valueAtKeyPath(response, keyPath);
}

bool QBAnonymousItem::setValueForKeyPath(std::string_view keyPath, json value) {
  json* current = &response;
  while (true) {
    if (current->is_null()) *current = json::object();
    if (!current->is_object()) return false;
    size_t dot = keyPath.find('.');
    json& next = (*current)[std::string(keyPath.substr(0, dot))];
    if (dot == std::string_view::npos) {
      next = std::move(value);
      return true;
    }
    current = &next;
    keyPath.remove_prefix(dot + 1);
  }
}

}  // namespace greyfox
