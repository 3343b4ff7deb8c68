// QBContentController: the shared instance, path classes, path resolution,
// contexts and cached retrieval.
#include "content/QBContentController.h"

#include <mutex>

#include "cache/CacheText.h"
#include "content/VolumePath.h"
#include "items/ItemValues.h"
#include "items/QBFSIdItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBSynchedItem.h"
#include "items/QBUserSessionItem.h"

namespace greyfox {

namespace {

std::mutex sharedMutex;
std::shared_ptr<QBContentController> sharedInstance;  // guarded by sharedMutex

std::shared_ptr<QBFolderItem> virtualFolder(const char* name, const char* identifier) {
  return QBFolderItem::itemWithDict({{"Name", name}, {"FolderID", identifier}}, nullptr);
}

}  // namespace

QBContentController::QBContentController(std::shared_ptr<QBApiClient> client, std::shared_ptr<QBCacheController> cache)
    : client_(std::move(client)), cache_(std::move(cache)) {}

std::shared_ptr<QBContentController> QBContentController::sharedController() {
  std::lock_guard lock(sharedMutex);
  if (!sharedInstance) {
    auto cache = QBCacheController::sharedController();
    if (!cache) return nullptr;
    sharedInstance = std::make_shared<QBContentController>(QBApiClient::sharedClient(), std::move(cache));
  }
  return sharedInstance;
}

void QBContentController::install(std::shared_ptr<QBContentController> controller) {
  std::lock_guard lock(sharedMutex);
  sharedInstance = std::move(controller);
}

// --- Path classes ---

std::vector<std::string> QBContentController::splitComponents(std::string_view path) {
  std::vector<std::string> components;
  if (path.empty()) return components;
  if (path.front() == '/') components.emplace_back("/");
  for (auto& part : pathComponents(path)) components.push_back(std::move(part));
  if (path.size() > 1 && path.back() == '/' && components.size() > 1) components.emplace_back("/");
  return components;
}

bool QBContentController::isTrashFolder(std::string_view path) {
  auto components = splitComponents(path);
  return components.size() >= 2 && components[1] == kTrashName;
}

bool QBContentController::isSharedFolder(std::string_view path) {
  auto components = splitComponents(path);
  return components.size() >= 3 && components[1] == kSharedFoldersName && components[2] != "/";
}

bool QBContentController::isPath(std::string_view path, std::string_view rootOf) {
  auto components = splitComponents(path);
  if (components.size() == 2) return components[1] == rootOf;
  return components.size() == 3 && components[2] == "/" && components[1] == rootOf;
}

std::string QBContentController::volumePath(const std::string& path) {
  std::string absolute = !path.empty() && path.front() == '/' ? path : "/" + path;
  return toNFD(standardizedPath(absolute));
}

QBContentItemPtr QBContentController::entryNamed(const QBFolderListItem& listing, const std::string& name) {
  // A folder may hold names that differ only in case; each is reached by its
  // own spelling, and other spellings by the listing's caseless match.
  for (const auto& folder : listing.folders) {
    if (folder->name == name) return folder;
  }
  for (const auto& file : listing.files) {
    if (file->name == name) return file;
  }
  return listing.itemNamed(name);
}

std::shared_ptr<QBFolderListItem> QBContentController::cachedListingAt(const std::string& path) {
  // The cache matches listing paths ignoring diacritics as well as case; a
  // "Cafe" listing must not answer for "Café".
  ErrorPtr ignored;
  auto listing = cache_->fetchFolderListAt(path, &ignored);
  if (!listing || caselessKey(listing->path) != caselessKey(path)) return nullptr;
  return listing;
}

bool QBContentController::isSecureFolder(const std::string& rawPath) {
  std::string walked = "/";
  for (const auto& component : pathComponents(volumePath(rawPath))) {
    if (auto listing = cachedListingAt(walked)) {
      auto folder = std::dynamic_pointer_cast<QBFolderItem>(entryNamed(*listing, component));
      if (folder && folder->isEncrypted()) return true;
    }
    walked = appendComponent(walked, component);
  }
  return false;
}

// --- Resolution ---

QBContentItemPtr QBContentController::identifiableItemAt(const std::string& rawPath, bool isFile, bool cacheOnly) {
  const std::string path = volumePath(rawPath);
  const bool mayLookUpByPath = !(isTrashFolder(path) || (isSharedFolder(path) && !cacheOnly) ||
                                 isPath(path, kTrashName) || isPath(path, kSharedFoldersName));

  if (path == "/") return virtualFolder("/", kRootIdentifier);
  if (isPath(path, kSharedFoldersName)) return virtualFolder(kSharedFoldersName, kSharedFoldersIdentifier);
  if (isPath(path, kTrashName)) return virtualFolder(kTrashName, kTrashIdentifier);

  if (!isFile) {
    if (auto own = cachedListingAt(path)) return own;
  }
  const std::string parent = parentPath(path);
  if (auto parentListing = cachedListingAt(parent)) {
    if (auto entry = entryNamed(*parentListing, lastComponent(path))) {
      if (isFile && !std::dynamic_pointer_cast<QBFileItem>(entry)) return nullptr;
      return entry;
    }
  }

  if (!mayLookUpByPath) {
    if (cacheOnly) return nullptr;
    ErrorPtr ignored;
    listFolderAt(parent, &ignored);
    return identifiableItemAt(path, isFile, true);
  }
  return resolveByPathLookup(path, isFile, cacheOnly);
}

QBContentItemPtr QBContentController::resolveByPathLookup(const std::string& path, bool isFile, bool cacheOnly) {
  const std::string key = cacheLowercase(path);
  auto isFolderRecord = [](const QBContentItemPtr& item) {
    return std::dynamic_pointer_cast<QBFolderFSIdItem>(item) != nullptr;
  };
  // Files and folders share one record per path. A record that the path is
  // not a file says nothing about a folder there (and the other way round),
  // so such a record does not stop the service from being asked.
  auto cached = cache_->fetchItemWithKey(key, QBFSIdItem::kClassName);
  const bool otherKindMiss = cached && cached->identifier == kUndefinedIdentifier && isFolderRecord(cached) == isFile;

  auto item = checkItem(key, QBFSIdItem::kClassName, otherKindMiss && !cacheOnly, [&]() -> QBContentItemPtr {
    if (cacheOnly) return nullptr;
    ErrorPtr ignored;
    auto context = contextForPath(path, &ignored);
    if (!context) return nullptr;
    if (isFile) return client_->fileIdAt(path, *context, &ignored);
    return client_->folderIdAt(path, *context, &ignored);
  });
  if (!item || item->identifier == kUndefinedIdentifier) return nullptr;
  return isFolderRecord(item) == isFile ? nullptr : item;
}

std::optional<std::string> QBContentController::identifierForFileAt(const std::string& path, bool cacheOnly) {
  auto item = identifiableItemAt(path, true, cacheOnly);
  return item ? std::optional<std::string>(item->identifier) : std::nullopt;
}

std::optional<std::string> QBContentController::identifierForFolderAt(const std::string& path, bool cacheOnly) {
  auto item = identifiableItemAt(path, false, cacheOnly);
  return item ? std::optional<std::string>(item->identifier) : std::nullopt;
}

std::optional<std::string> QBContentController::resolvedIdentifier(const std::string& path, bool isFile,
                                                                   const char* notFoundReason, ErrorPtr* error) {
  auto resolved = identifiableItemAt(path, isFile, false);
  if (!resolved || !identifiableItemAt(path, isFile, true)) {
    setQBError(error, kContentErrorNotFound, notFoundReason);
    return std::nullopt;
  }
  return resolved->identifier;
}

// --- Contexts ---

std::shared_ptr<QBApiClientAuthContext> QBContentController::contextForPath(const std::string& rawPath,
                                                                            ErrorPtr* error) {
  const std::string path = volumePath(rawPath);
  if (!isSharedFolder(path)) return authContext();
  const std::string user = splitComponents(path)[2];
  auto users = cachedListingAt(appendComponent("/", kSharedFoldersName));
  auto entry = users ? entryNamed(*users, user) : nullptr;
  if (!entry) {
    setQBError(error, kContentErrorSharedUserNotFound, "Shared user not found.");
    return nullptr;
  }
  auto context = std::make_shared<QBApiClientSharingContext>(cache_->fetchUserSession("default"));
  context->sharingId = entry->identifier;
  return context;
}

std::shared_ptr<QBApiClientAuthContext> QBContentController::authContext() {
  return std::make_shared<QBApiClientAuthContext>(cache_->fetchUserSession("default"));
}

// --- Cached retrieval ---

QBContentItemPtr QBContentController::checkItem(const std::string& key, std::string_view className, bool noCache,
                                                const Retrieve& retrieve) {
  auto cached = cache_->fetchItemWithKey(key, className);
  if ((noCache || !cached) && retrieve) {
    auto fresh = retrieve();
    if (fresh) cache_->storeItem(fresh);
    return fresh;
  }
  return cached;
}

QBContentItemPtr QBContentController::synchedItem(const std::string& key, std::string_view className) {
  return cache_->fetchItemWithKey(key, className);
}

std::shared_ptr<QBSharedXAttrs> QBContentController::sharedXAttrs() {
  return cache_->fetch<QBSharedXAttrs>("default");
}

}  // namespace greyfox
