#include "items/QBContentItem.h"

#include <cstdio>

#include "diag/Log.h"
#include "items/ItemValues.h"

namespace greyfox {

using nlohmann::json;

QBContentItem::~QBContentItem() = default;

std::string QBContentItem::className() const { return std::string(kClassName); }

const std::vector<QBFieldMapping>& QBContentItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kNone;
  return kNone;
}

const std::vector<std::string>& QBContentItem::encodeArray() const {
  static const std::vector<std::string> kNone;
  return kNone;
}

std::shared_ptr<QBContentItem> QBContentItem::itemWithDict(const json& dict, ErrorPtr* error) {
  return makeFromDict<QBContentItem>(dict, error);
}

bool QBContentItem::fillFromDict(const json& dict, ErrorPtr* error) {
  bool complete = true;
  for (const auto& mapping : mappingDict()) {
    if (!mapField(mapping.field, valueAtKeyPath(dict, mapping.key), error)) complete = false;
  }
  return complete;
}

bool QBContentItem::mapField(std::string_view field, const json* value, ErrorPtr*) {
  if (field == "identifier") {
    auto text = replyText(value);
    if (!text) return false;
    identifier = std::move(*text);
    return true;
  }
  QBLOG("QBContentItem: %s has no mapped field %.*s", className().c_str(), static_cast<int>(field.size()),
        field.data());
  return false;
}

json QBContentItem::archiveField(std::string_view field) const {
  if (field == "identifier") return identifier;
  return nullptr;
}

bool QBContentItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "identifier") return archivedText(value, identifier);
  return false;
}

json QBContentItem::archive() const {
  json object = json::object();
  object["$class"] = className();
  object["timeReceived"] = timeReceived;
  for (const auto& name : encodeArray()) {
    json value = archiveField(name);
    if (!value.is_null()) object[name] = std::move(value);
  }
  return object;
}

std::shared_ptr<QBContentItem> QBContentItem::unarchive(const json& object) {
  try {
    if (!object.is_object()) return nullptr;
    auto className = object.find("$class");
    if (className == object.end() || !className->is_string()) return nullptr;
    auto item = instanceOfClass(className->get_ref<const std::string&>());
    if (!item) return nullptr;
    auto time = object.find("timeReceived");
    if (time != object.end()) {
      if (!time->is_number()) return nullptr;
      item->timeReceived = time->get<double>();
    }
    for (const auto& name : item->encodeArray()) {
      auto value = object.find(name);
      if (value == object.end() || value->is_null()) continue;
      if (!item->unarchiveField(name, *value)) return nullptr;
    }
    return item;
  } catch (const std::exception& e) {
    QBLOG("QBContentItem: archive not read: %s", e.what());
    return nullptr;
  }
}

std::string QBContentItem::archivedData() const {
  std::string bytes;
  json::to_cbor(archive(), bytes);
  return bytes;
}

namespace {

// Walks CBOR bytes without building them, refusing nesting deeper than any
// archive has. The parser recurses once per level, so a damaged or foreign
// file of deeply nested lists would otherwise exhaust the stack.
class NestingGuard : public nlohmann::json_sax<json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return ++depth_ <= kMaxDepth; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return --depth_ >= 0; }
  bool start_array(std::size_t) override { return ++depth_ <= kMaxDepth; }
  bool end_array() override { return --depth_ >= 0; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  static constexpr int kMaxDepth = 32;
  int depth_ = 0;
};

}  // namespace

std::shared_ptr<QBContentItem> QBContentItem::unarchiveData(std::string_view bytes) {
  try {
    NestingGuard guard;
    if (!json::sax_parse(bytes.begin(), bytes.end(), &guard, json::input_format_t::cbor, /*strict=*/true)) {
      return nullptr;
    }
  } catch (const std::exception& e) {
    QBLOG("QBContentItem: archive not read: %s", e.what());
    return nullptr;
  }
  json object = json::from_cbor(bytes.begin(), bytes.end(), /*strict=*/true, /*allow_exceptions=*/false);
  if (object.is_discarded()) return nullptr;
  return unarchive(object);
}

bool QBContentItem::isEqualTo(const QBContentItem& other) const { return identifier == other.identifier; }

std::string QBContentItem::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return "<" + className() + ": " + address + ">";
}

std::string describeNumber(const std::optional<int64_t>& number) {
  return number ? std::to_string(*number) : "(null)";
}

}  // namespace greyfox
