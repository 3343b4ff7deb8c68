// QBContentItem: the client's typed record of one thing the service returns or
// that the client keeps about the account (a file, a folder, a listing, the
// session, storage figures, an upload handle, a download's state), and the base
// of every such class.
//
// Each class maps its fields to the service's JSON keys (mappingDict), converts
// each reply value its own way (mapField), and archives a fixed list of fields
// (encodeArray). The API client makes items from decoded replies with the
// class's static itemWithDict; the cache stores them with archivedData and
// reads them back with unarchiveData.
//
// Threads: items are plain records without a lock. Whoever makes an item may
// edit it; an item that is shared (handed to the cache, or to several threads)
// is read-only unless its owner serializes every edit itself.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Error.h"

namespace greyfox {

// One row of a class's mapping: the field and the reply key (or key path).
struct QBFieldMapping {
  const char* field;
  const char* key;
};

class QBContentItem : public std::enable_shared_from_this<QBContentItem> {
 public:
  static constexpr std::string_view kClassName = "QBContentItem";

  // The service's id of the thing, or a fixed key ("default") for singletons.
  std::string identifier;
  // Seconds since 1970 when the item was archived by the client; 0 in items
  // made from replies.
  double timeReceived = 0;

  QBContentItem() = default;
  virtual ~QBContentItem();

  // The class's name, written as "$class" in archives and used by the cache
  // to name the class's index.
  virtual std::string className() const;

  // The field -> reply key table of the class; empty for the base.
  virtual const std::vector<QBFieldMapping>& mappingDict() const;
  // The names of the archived fields, in order; empty for the base. Changing a
  // class's list invalidates the items of that class in the cache.
  virtual const std::vector<std::string>& encodeArray() const;

  // A fresh item of the base class (for classes without a mapping this is all
  // there is to making one). Never nullptr.
  static std::shared_ptr<QBContentItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error);

  // A default-made item of the class named `className` (its defaults applied),
  // or nullptr for a name that is not a content item class.
  static std::shared_ptr<QBContentItem> instanceOfClass(std::string_view className);

  // JSON object: "$class", "timeReceived" and each archived field that is set.
  virtual nlohmann::json archive() const;
  // The item an archive() object describes, or nullptr when the object is not
  // such an archive (unknown "$class", a field of the wrong type). Never
  // throws.
  static std::shared_ptr<QBContentItem> unarchive(const nlohmann::json& object);
  // archive() as CBOR bytes.
  std::string archivedData() const;
  // The item in CBOR `bytes` written by archivedData(), or nullptr when the
  // bytes are truncated, foreign or of an unknown class. Never throws.
  static std::shared_ptr<QBContentItem> unarchiveData(std::string_view bytes);

  // Same `identifier` text; files and folders compare by name instead.
  virtual bool isEqualTo(const QBContentItem& other) const;
  // Log text: "<QBFileItem: 0x...>", followed in most classes by their fields.
  virtual std::string description() const;

 protected:
  // Fills the fields of the mapping from a decoded reply. Every field is tried;
  // false when any conversion yields nothing. Makes no error of its own.
  bool fillFromDict(const nlohmann::json& dict, ErrorPtr* error);

  // Converts the reply value of `field` (nullptr when the key is missing) and
  // stores it; false when the conversion yields nothing. A class handles its
  // own fields and hands the others to its base class.
  virtual bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error);
  // The archived value of `field`; null when the field is not set.
  virtual nlohmann::json archiveField(std::string_view field) const;
  // Stores an archived value (never null); false when it has the wrong type.
  virtual bool unarchiveField(std::string_view field, const nlohmann::json& value);

  // Makes a T and fills it from `dict`; nullptr when a mapped field fails.
  template <class T>
  static std::shared_ptr<T> makeFromDict(const nlohmann::json& dict, ErrorPtr* error) {
    auto item = std::make_shared<T>();
    if (!item->fillFromDict(dict, error)) return nullptr;
    return item;
  }

  // Archived lists of items: each element is an archive() object of a class
  // that is a T; false when any element is not.
  template <class T>
  static bool unarchiveList(const nlohmann::json& value, std::vector<std::shared_ptr<T>>& out) {
    if (!value.is_array()) return false;
    std::vector<std::shared_ptr<T>> items;
    items.reserve(value.size());
    for (const auto& element : value) {
      auto item = std::dynamic_pointer_cast<T>(unarchive(element));
      if (!item) return false;
      items.push_back(std::move(item));
    }
    out = std::move(items);
    return true;
  }
  template <class T>
  static nlohmann::json archiveList(const std::vector<std::shared_ptr<T>>& items) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& item : items) list.push_back(item->archive());
    return list;
  }
};

using QBContentItemPtr = std::shared_ptr<QBContentItem>;

// Text of an optional number for description(): the number, or "(null)".
std::string describeNumber(const std::optional<int64_t>& number);

}  // namespace greyfox
