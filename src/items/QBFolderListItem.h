// The contents of one folder (QBFolderListItem) and its variants: the folders
// shared with the user, the trash, the users who share folders with the user,
// and the empty stand-in for a listing that could not be had. Listings are
// made from replies by the API client, edited in place by the content and
// manage controllers after a change on the service, and kept in the cache.
//
// Threads: a listing has no lock. Its owner serializes edits; a listing that
// several threads can reach is edited only under the owner's lock.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "items/QBContentItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"

namespace greyfox {

// Thrown by insertItem and removeItem when given an item that is neither a
// file nor a folder: a programming error of the caller.
class QBContentItemException : public std::logic_error {
 public:
  using std::logic_error::logic_error;
  static constexpr const char* kName = "QBContentItem";
};

class QBFolderListItem : public QBContentItem {
 public:
  static constexpr std::string_view kClassName = "QBFolderListItem";

  // identifier: the folder id, set by the caller.
  std::optional<int64_t> updateTime;    // "DirUpdateTime": the folder's last change, seconds since 1970
  std::string name;                     // "Name", as sent (not normalised)
  std::string parentFolderId;           // "ParentFolderID"
  std::optional<int64_t> responseType;  // "ResponseType"; 1 = the full listing was sent
  std::vector<std::shared_ptr<QBFolderItem>> folders;  // "Folders"; failing entries are left out
  std::vector<std::shared_ptr<QBFileItem>> files;      // "Files"; failing entries are left out
  std::string path;                     // the volume path, set by the content controller
  std::string directFolderLink;         // not in replies
  std::optional<int64_t> encrypted = 0; // copied from the folder item by the content controller

  // nullptr when a required key ("Name", "ParentFolderID", "ResponseType") is
  // missing or "Folders"/"Files" is not a list.
  static std::shared_ptr<QBFolderListItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBFolderListItem>(dict, error);
  }

  bool isEncrypted() const { return encrypted.value_or(0) != 0; }

  // The folders followed by the files, in a new list.
  std::vector<QBContentItemPtr> combinedItems() const;
  // The names of the folders, then of the files.
  std::vector<std::string> itemNames() const;
  // The first folder, else the first file, whose name equals `name` ignoring
  // case and composed versus decomposed form; nullptr when none does.
  QBContentItemPtr itemNamed(std::string_view name) const;
  bool containsItemNamed(std::string_view name) const { return itemNamed(name) != nullptr; }

  // Appends a file to `files` or a folder to `folders`, first removing every
  // entry of that list equal to it (isEqualTo: same name). Throws
  // QBContentItemException for any other item.
  void insertItem(const QBContentItemPtr& item);
  // Removes that very object from `files` or `folders`. Throws
  // QBContentItemException for an item that is neither a file nor a folder.
  void removeItem(const QBContentItemPtr& item);
  // Removes every file, then every folder, whose name is `name`: case must
  // match; a precomposed `name` matches the decomposed stored one.
  void removeItemNamed(std::string_view name);
  // Removes every file, then every folder, with that identifier.
  void removeItemWithIdentifier(std::string_view identifier);

  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
  const std::vector<std::string>& encodeArray() const override;
  // "<QBFolderListItem: 0x...> (name=Docs, time=1700000000, count=2,5, ...)"
  // with the folder count, then the file count.
  std::string description() const override;

 protected:
  // Makes one element of "Folders" (or the class's folder key) / "Files";
  // nullptr when the element does not make an item.
  virtual std::shared_ptr<QBFolderItem> folderElement(const nlohmann::json& element, ErrorPtr* error) const;
  virtual std::shared_ptr<QBFileItem> fileElement(const nlohmann::json& element, ErrorPtr* error) const;
  // true: an element that fails is left out; false: it fails the whole list.
  virtual bool dropsFailingElements() const { return true; }

  bool mapField(std::string_view field, const nlohmann::json* value, ErrorPtr* error) override;
  nlohmann::json archiveField(std::string_view field) const override;
  bool unarchiveField(std::string_view field, const nlohmann::json& value) override;
};

// Folders other users share with the user; identifier = the sharing id. One
// entry of "SharedFolders" that fails fails the whole listing.
class QBSharedFolderListItem : public QBFolderListItem {
 public:
  static constexpr std::string_view kClassName = "QBSharedFolderListItem";

  static std::shared_ptr<QBSharedFolderListItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBSharedFolderListItem>(dict, error);
  }
  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;

 protected:
  std::shared_ptr<QBFolderItem> folderElement(const nlohmann::json& element, ErrorPtr* error) const override;
  bool dropsFailingElements() const override { return false; }
};

// The trash; identifier "-1".
class QBTrashFolderListItem : public QBFolderListItem {
 public:
  static constexpr std::string_view kClassName = "QBTrashFolderListItem";

  static std::shared_ptr<QBTrashFolderListItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBTrashFolderListItem>(dict, error);
  }
  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;
};

// The users who share folders with the user, each shown as a folder named
// after the user whose identifier is the sharing id; identifier "-2". Entries
// without "Name" or "SharingID" are left out.
class QBSharedUsersFolderListItem : public QBFolderListItem {
 public:
  static constexpr std::string_view kClassName = "QBSharedUsersFolderListItem";

  static std::shared_ptr<QBSharedUsersFolderListItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBSharedUsersFolderListItem>(dict, error);
  }
  std::string className() const override { return std::string(kClassName); }
  const std::vector<QBFieldMapping>& mappingDict() const override;

 protected:
  // A folder dated now (Clock::current()).
  std::shared_ptr<QBFolderItem> folderElement(const nlohmann::json& element, ErrorPtr* error) const override;
};

// The empty listing put in place of one that could not be had (a locked
// secure folder); differs from QBFolderListItem only in how long the cache
// trusts it.
class QBStubFolderListItem : public QBFolderListItem {
 public:
  static constexpr std::string_view kClassName = "QBStubFolderListItem";

  static std::shared_ptr<QBStubFolderListItem> itemWithDict(const nlohmann::json& dict, ErrorPtr* error) {
    return makeFromDict<QBStubFolderListItem>(dict, error);
  }
  std::string className() const override { return std::string(kClassName); }
};

}  // namespace greyfox
