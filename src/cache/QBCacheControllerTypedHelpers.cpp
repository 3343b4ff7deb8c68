// Typed fetches and the purges the content layer makes after changes on the
// service.
#include <algorithm>

#include "cache/CacheGuard.h"
#include "cache/CacheText.h"
#include "cache/QBCacheController.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFSIdItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBUploadFileHandle.h"
#include "items/QBUserSessionItem.h"

namespace greyfox {

namespace {

// "/a/b" -> ("/a", "b"); "/b" -> ("/", "b").
std::pair<std::string, std::string> splitLastComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return {"", trimmed};
  return {slash == 0 ? "/" : trimmed.substr(0, slash), trimmed.substr(slash + 1)};
}

}  // namespace

std::shared_ptr<QBUserSessionItem> QBCacheController::fetchUserSession(const std::string& key) {
  return fetch<QBUserSessionItem>(key);
}

std::shared_ptr<QBFolderListItem> QBCacheController::fetchFolderList(const std::string& folderIdentifier) {
  return fetch<QBFolderListItem>(folderIdentifier);
}

std::shared_ptr<QBFolderListItem> QBCacheController::fetchFolderListAt(const std::string& path, ErrorPtr* error) {
  return std::dynamic_pointer_cast<QBFolderListItem>(fetchItemWithPredicate(
      metaEqualsIgnoringCaseAndDiacritics("path", path), QBFolderListItem::kClassName, error));
}

std::shared_ptr<QBBinaryDataDescriptorItem> QBCacheController::fetchBinaryDataDescriptor(
    const std::string& fileIdentifier) {
  return fetch<QBBinaryDataDescriptorItem>(fileIdentifier);
}

std::shared_ptr<QBUploadFileHandle> QBCacheController::fetchUploadHandle(const std::string& identifier) {
  return fetch<QBUploadFileHandle>(identifier);
}

std::shared_ptr<QBFileItem> QBCacheController::fetchFileItem(const std::string& fileIdentifier,
                                                             const std::string& path) {
  if (auto info = fetch<QBFileInfoItem>(fileIdentifier)) return info;
  auto [parent, name] = splitLastComponent(path);
  if (parent.empty() || name.empty()) return nullptr;
  ErrorPtr ignored;
  auto listing = fetchFolderListAt(parent, &ignored);
  if (!listing) return nullptr;
  return std::dynamic_pointer_cast<QBFileItem>(listing->itemNamed(name));
}

void QBCacheController::removeItem(const std::string& identifier, const std::string& parentFolderIdentifier) {
  if (parentFolderIdentifier.empty()) return;
  std::shared_ptr<QBCacheIndex> index = indexOf(QBFolderListItem::kClassName);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  auto listing = fetchFolderList(parentFolderIdentifier);
  if (!listing) return;
  listing->removeItemWithIdentifier(identifier);
  guardCacheCall("QBCacheController.removeItem", [&] { backend_->storeItem(listing); });
}

void QBCacheController::purgeCacheForFile(const std::string& fileIdentifier,
                                          const std::string& parentFolderIdentifier) {
  removeItem(fileIdentifier, parentFolderIdentifier);
  purgeItemForcedWithKey(fileIdentifier, QBFileInfoItem::kClassName);
  purgeBinaryDataForcedOf(fileIdentifier);
  purgeItemForcedWithKey(fileIdentifier, QBBinaryDataDescriptorItem::kClassName);
}

void QBCacheController::purgeCacheForFolder(const std::string& folderIdentifier,
                                            const std::string& parentFolderIdentifier) {
  if (!parentFolderIdentifier.empty()) {
    std::shared_ptr<QBCacheIndex> index = indexOf(QBFolderListItem::kClassName);
    std::lock_guard<std::recursive_mutex> guard(index->lock());
    if (auto listing = fetchFolderList(parentFolderIdentifier)) {
      listing->removeItemWithIdentifier(folderIdentifier);
      storeItem(listing);
    }
  }
  purgeCacheForFolderContents(folderIdentifier);
  purgeItemForcedWithKey(folderIdentifier, QBFolderInfoItem::kClassName);
  purgeIdentifiersForcedOf(folderIdentifier);
}

void QBCacheController::purgeCacheForFolderContents(const std::string& folderIdentifier) {
  std::vector<std::string> visited;
  purgeFolderContents(folderIdentifier, visited);
}

void QBCacheController::purgeFolderContents(const std::string& folderIdentifier, std::vector<std::string>& visited) {
  // A listing that names an ancestor as its subfolder must not loop.
  if (std::find(visited.begin(), visited.end(), folderIdentifier) != visited.end()) return;
  visited.push_back(folderIdentifier);
  if (auto listing = fetchFolderList(folderIdentifier)) {
    for (const auto& folder : listing->folders) {
      purgeFolderContents(folder->identifier, visited);
      purgeItemForcedWithKey(folder->identifier, QBFolderInfoItem::kClassName);
      purgeIdentifiersForcedOf(folder->identifier);
    }
  }
  purgeItemForcedWithKey(folderIdentifier, QBFolderListItem::kClassName);
}

void QBCacheController::purgeIdentifiersForcedAt(const std::string& path) {
  purgeItemForcedWithKey(cacheLowercase(path), QBFSIdItem::kClassName);
}

void QBCacheController::purgeIdentifiersForcedOf(const std::string& identifier) {
  std::shared_ptr<QBCacheIndex> index = indexOf(QBFSIdItem::kClassName);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  for (const CacheMeta& meta : index->queryUsingPredicate(metaEquals("identifier", identifier))) {
    purgeItemForcedWithKey(meta.value("key", std::string()), QBFSIdItem::kClassName);
  }
}

}  // namespace greyfox
