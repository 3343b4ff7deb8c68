#include "items/QBFolderListItem.h"

#include <algorithm>

#include "diag/Log.h"
#include "items/ItemValues.h"
#include "platform/Clock.h"

namespace greyfox {

using nlohmann::json;

namespace {

// Builds the elements of a reply list with `make`; nullopt when the value is
// not a list, or when an element fails and failures are not dropped. A missing
// or null list is empty.
template <class T, class Make>
bool mapList(const json* value, bool dropFailing, std::vector<std::shared_ptr<T>>& out, Make make) {
  std::vector<std::shared_ptr<T>> items;
  if (value != nullptr && !value->is_null()) {
    if (!value->is_array()) return false;
    items.reserve(value->size());
    for (const auto& element : *value) {
      auto item = make(element);
      if (item) {
        items.push_back(std::move(item));
      } else if (!dropFailing) {
        return false;
      }
    }
  }
  out = std::move(items);
  return true;
}

template <class T>
void eraseIf(std::vector<std::shared_ptr<T>>& list, const auto& predicate) {
  list.erase(std::remove_if(list.begin(), list.end(), predicate), list.end());
}

}  // namespace

// --- QBFolderListItem ---

const std::vector<QBFieldMapping>& QBFolderListItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"updateTime", "DirUpdateTime"}, {"name", "Name"},
                                                    {"parentFolderId", "ParentFolderID"},
                                                    {"responseType", "ResponseType"},
                                                    {"folders", "Folders"},
                                                    {"files", "Files"}};
  return kMapping;
}

const std::vector<std::string>& QBFolderListItem::encodeArray() const {
  static const std::vector<std::string> kNames{"identifier", "updateTime",       "name",         "path",
                                               "parentFolderId", "directFolderLink", "responseType", "files",
                                               "folders",    "encrypted"};
  return kNames;
}

std::shared_ptr<QBFolderItem> QBFolderListItem::folderElement(const json& element, ErrorPtr* error) const {
  return QBFolderItem::itemWithDict(element, error);
}

std::shared_ptr<QBFileItem> QBFolderListItem::fileElement(const json& element, ErrorPtr* error) const {
  return QBFileItem::itemWithDict(element, error);
}

bool QBFolderListItem::mapField(std::string_view field, const json* value, ErrorPtr* error) {
  if (field == "updateTime") return mapInteger(value, updateTime);
  if (field == "name") return mapText(value, name);
  if (field == "parentFolderId") return mapText(value, parentFolderId);
  if (field == "responseType") return mapRequiredInteger(value, responseType);
  if (field == "folders") {
    return mapList(value, dropsFailingElements(), folders,
                   [&](const json& element) { return folderElement(element, error); });
  }
  if (field == "files") {
    return mapList(value, dropsFailingElements(), files,
                   [&](const json& element) { return fileElement(element, error); });
  }
  return QBContentItem::mapField(field, value, error);
}

json QBFolderListItem::archiveField(std::string_view field) const {
  if (field == "updateTime") return optionalValue(updateTime);
  if (field == "name") return name;
  if (field == "path") return path;
  if (field == "parentFolderId") return parentFolderId;
  if (field == "directFolderLink") return directFolderLink;
  if (field == "responseType") return optionalValue(responseType);
  if (field == "files") return archiveList(files);
  if (field == "folders") return archiveList(folders);
  if (field == "encrypted") return optionalValue(encrypted);
  return QBContentItem::archiveField(field);
}

bool QBFolderListItem::unarchiveField(std::string_view field, const json& value) {
  if (field == "updateTime") return archivedInteger(value, updateTime);
  if (field == "name") return archivedText(value, name);
  if (field == "path") return archivedText(value, path);
  if (field == "parentFolderId") return archivedText(value, parentFolderId);
  if (field == "directFolderLink") return archivedText(value, directFolderLink);
  if (field == "responseType") return archivedInteger(value, responseType);
  if (field == "files") return unarchiveList(value, files);
  if (field == "folders") return unarchiveList(value, folders);
  if (field == "encrypted") return archivedInteger(value, encrypted);
  return QBContentItem::unarchiveField(field, value);
}

std::vector<QBContentItemPtr> QBFolderListItem::combinedItems() const {
  std::vector<QBContentItemPtr> items;
  items.reserve(folders.size() + files.size());
  items.insert(items.end(), folders.begin(), folders.end());
  items.insert(items.end(), files.begin(), files.end());
  return items;
}

std::vector<std::string> QBFolderListItem::itemNames() const {
  std::vector<std::string> names;
  names.reserve(folders.size() + files.size());
  for (const auto& folder : folders) names.push_back(folder->name);
  for (const auto& file : files) names.push_back(file->name);
  return names;
}

namespace {

// caselessKey(name) == key, without making the key of a plain ASCII name:
// path look-ups ask this of every entry of large listings. An ASCII prefix of
// a name folds to its lower case whatever follows, so a mismatch there settles
// the answer.
bool hasCaselessKey(std::string_view name, std::string_view key) {
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (static_cast<unsigned char>(c) >= 0x80) return caselessKey(name) == key;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (i >= key.size() || c != key[i]) return false;
  }
  return name.size() == key.size();
}

}  // namespace

QBContentItemPtr QBFolderListItem::itemNamed(std::string_view wanted) const {
  std::string key = caselessKey(wanted);
  for (const auto& folder : folders) {
    if (hasCaselessKey(folder->name, key)) return folder;
  }
  for (const auto& file : files) {
    if (hasCaselessKey(file->name, key)) return file;
  }
  return nullptr;
}

void QBFolderListItem::insertItem(const QBContentItemPtr& item) {
  if (auto file = std::dynamic_pointer_cast<QBFileItem>(item)) {
    eraseIf(files, [&](const auto& entry) { return entry->isEqualTo(*file); });
    files.push_back(std::move(file));
  } else if (auto folder = std::dynamic_pointer_cast<QBFolderItem>(item)) {
    eraseIf(folders, [&](const auto& entry) { return entry->isEqualTo(*folder); });
    folders.push_back(std::move(folder));
  } else {
    throw QBContentItemException("insertItem: only support QBFileItem or QBFolderItem instances.");
  }
}

void QBFolderListItem::removeItem(const QBContentItemPtr& item) {
  if (std::dynamic_pointer_cast<QBFileItem>(item)) {
    eraseIf(files, [&](const auto& entry) { return entry == item; });
  } else if (std::dynamic_pointer_cast<QBFolderItem>(item)) {
    eraseIf(folders, [&](const auto& entry) { return entry == item; });
  } else {
    throw QBContentItemException("removeItem: only support QBFileItem or QBFolderItem instances.");
  }
}

void QBFolderListItem::removeItemNamed(std::string_view wanted) {
  // Stored names are decomposed; decompose the argument so that a name given
  // precomposed still matches. Case is not folded.
  std::string name = toNFD(wanted);
  eraseIf(files, [&](const auto& entry) { return toNFD(entry->name) == name; });
  eraseIf(folders, [&](const auto& entry) { return toNFD(entry->name) == name; });
}

void QBFolderListItem::removeItemWithIdentifier(std::string_view id) {
  eraseIf(files, [&](const auto& entry) { return entry->identifier == id; });
  eraseIf(folders, [&](const auto& entry) { return entry->identifier == id; });
}

std::string QBFolderListItem::description() const {
  return QBContentItem::description() + " (name=" + name + ", time=" + describeNumber(updateTime) +
         ", count=" + std::to_string(folders.size()) + "," + std::to_string(files.size()) + ", ...)";
}

// --- QBSharedFolderListItem ---

const std::vector<QBFieldMapping>& QBSharedFolderListItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{
      {"responseType", "ResponseType"}, {"updateTime", "DirUpdateTime"}, {"folders", "SharedFolders"}};
  return kMapping;
}

std::shared_ptr<QBFolderItem> QBSharedFolderListItem::folderElement(const json& element, ErrorPtr* error) const {
  return QBSharedFolderItem::itemWithDict(element, error);
}

// --- QBTrashFolderListItem ---

const std::vector<QBFieldMapping>& QBTrashFolderListItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{{"responseType", "ResponseType"},
                                                    {"updateTime", "DirUpdateTime"},
                                                    {"folders", "Folders"},
                                                    {"files", "Files"}};
  return kMapping;
}

// --- QBSharedUsersFolderListItem ---

const std::vector<QBFieldMapping>& QBSharedUsersFolderListItem::mappingDict() const {
  static const std::vector<QBFieldMapping> kMapping{
      {"responseType", "ResponseType"}, {"updateTime", "DirUpdateTime"}, {"folders", "SharedUsers"}};
  return kMapping;
}

std::shared_ptr<QBFolderItem> QBSharedUsersFolderListItem::folderElement(const json& element, ErrorPtr*) const {
  auto name = replyText(valueAtKeyPath(element, "Name"));
  auto sharingId = replyText(valueAtKeyPath(element, "SharingID"));
  if (!name || !sharingId) {
    QBLOG("QBSharedUsersFolderListItem: entry without Name or SharingID left out");
    return nullptr;
  }
  auto folder = std::make_shared<QBFolderItem>();
  folder->name = toNFD(*name);
  folder->identifier = std::move(*sharingId);
  folder->dateModified = Clock::current().now();
  folder->dateCreated = folder->dateModified;
  return folder;
}

}  // namespace greyfox
