// QBContentController: the read side of the content layer. It turns volume
// paths into service items (identifiers, listings, item records, thumbnails,
// the account's information), answering from the cache where it can and
// asking the service where it must, and storing every fetched answer back
// into the cache. It also picks the API context a path needs (the user's own,
// or a sharing context under "/Shared Folders/<user>") and makes the volume's
// virtual folders: the root's extra entries "Shared Folders" and "Trash", and
// unique names for items of one name in the trash.
//
// Volume paths given to it are absolute; it tidies them first (trailing
// slashes, empty, "." and ".." components are dropped, "" is the root, and
// names are put in the decomposed form the service keeps them in).
//
// Threads: called at once from the file-system threads, the background
// update, upload threads and the main thread; every operation blocks its
// caller while it talks to the service. It keeps no state of its own beyond
// the client and cache it was made with, so it takes no lock; consistency
// rests on the cache controller's locking.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/QBApiClient.h"
#include "api/QBApiClientContext.h"
#include "cache/QBCacheController.h"
#include "items/QBContentItem.h"
#include "platform/Error.h"

namespace greyfox {

class QBFolderListItem;
class QBFileThumbnailItem;
class QBSharingUsersItem;
class QBUserInfoItem;
class QBUserLinksItem;
class QBNotificationsItem;
class QBSharedXAttrs;
class QBBinaryDataDescriptorItem;

// The volume's virtual top-level folders and the reserved identifiers.
inline constexpr const char* kTrashName = "Trash";
inline constexpr const char* kSharedFoldersName = "Shared Folders";
inline constexpr const char* kRootIdentifier = "0";
inline constexpr const char* kTrashIdentifier = "-1";
inline constexpr const char* kSharedFoldersIdentifier = "-2";
// The identifier of a look-up-by-path record for a path the service does not know.
inline constexpr const char* kUndefinedIdentifier = "undefined";

// Codes of the errors this controller makes itself.
inline constexpr long kContentErrorNotFound = -1000;           // "File not found!" / "Folder not found!"
inline constexpr long kContentErrorSharedUserNotFound = -998;  // "Shared user not found."

class QBContentController {
 public:
  // REQUIRES: client and cache are non-null.
  QBContentController(std::shared_ptr<QBApiClient> client, std::shared_ptr<QBCacheController> cache);
  QBContentController(const QBContentController&) = delete;
  QBContentController& operator=(const QBContentController&) = delete;

  // The instance installed for the running session; when none is installed
  // and a cache exists (after sign-in), one is made on the shared client and
  // cache and installed. nullptr before sign-in.
  static std::shared_ptr<QBContentController> sharedController();
  // Installs `controller` (sign-out and tests pass nullptr or a fresh one).
  static void install(std::shared_ptr<QBContentController> controller);

  // --- Path classes: pure tests on the path as given ---

  // The path's components, split so that an absolute path starts with "/"
  // and a trailing slash adds a last component "/" ("/Trash/" gives "/",
  // "Trash", "/"); repeated slashes count as one.
  static std::vector<std::string> splitComponents(std::string_view path);
  // /Trash and everything below it.
  static bool isTrashFolder(std::string_view path);
  // /Shared Folders/<user> and everything below it (not /Shared Folders itself).
  static bool isSharedFolder(std::string_view path);
  // Whether the path is the top-level folder `name` (/Trash or /Trash/).
  static bool isPath(std::string_view path, std::string_view rootOf);
  // Whether the path or one of its ancestors is a secure (encrypted) folder,
  // judged from cached listings only: uncached ancestors count as not secure.
  bool isSecureFolder(const std::string& path);

  // --- Resolving paths ---

  // The item that carries the identifier of the file (`isFile`) or folder at
  // the path: a virtual folder, a cached listing, an entry of the parent's
  // cached listing, or a look-up-by-path record. With `cacheOnly` nothing is
  // asked of the service. nullptr when it cannot be resolved (the reason is
  // not reported).
  QBContentItemPtr identifiableItemAt(const std::string& path, bool isFile, bool cacheOnly);
  std::optional<std::string> identifierForFileAt(const std::string& path, bool cacheOnly = false);
  std::optional<std::string> identifierForFolderAt(const std::string& path, bool cacheOnly = false);

  // --- Contexts ---

  // A new context for requests about the path: a sharing context for
  // /Shared Folders/<user>/..., whose sharing id comes from the cached
  // /Shared Folders listing (nullptr and -998 when the user is not there);
  // authContext() for every other path.
  std::shared_ptr<QBApiClientAuthContext> contextForPath(const std::string& path, ErrorPtr* error);
  // A new auth context with the cached session "default" (whose session may
  // be missing before sign-in: requests then fail with -199).
  std::shared_ptr<QBApiClientAuthContext> authContext();

  // --- Cached retrieval ---

  using Retrieve = std::function<QBContentItemPtr()>;
  // The item cached under `key` in `className`'s index; when `noCache` or
  // nothing is cached, `retrieve`'s answer instead, stored when non-null. A
  // null answer gives nullptr even when a cached item existed.
  QBContentItemPtr checkItem(const std::string& key, std::string_view className, bool noCache,
                             const Retrieve& retrieve);
  // The cached item only; no service call.
  QBContentItemPtr synchedItem(const std::string& key, std::string_view className);
  // The cached extended-attribute record "default", or nullptr.
  std::shared_ptr<QBSharedXAttrs> sharedXAttrs();

  // --- Listings ---

  // The folder's listing, cached or fetched (and then cached). The root's
  // listing also holds "Shared Folders" and "Trash"; the trash's names are
  // made unique. nullptr on failure: -1000 "Folder not found!" when the
  // folder has no identifier, else the context's or the service's error.
  std::shared_ptr<QBFolderListItem> listFolderAt(const std::string& path, bool noCache, ErrorPtr* error);
  std::shared_ptr<QBFolderListItem> listFolderAt(const std::string& path, ErrorPtr* error) {
    return listFolderAt(path, false, error);
  }
  // Asks the service whether the listing's folder changed since the
  // listing's update time. 0: a new full listing was stored; 1: unchanged,
  // the cached listing's time stamp was renewed; -1 with `error` on failure.
  int updateFolderListItem(const QBFolderListItem& listing, ErrorPtr* error);

  // --- Item records ---

  // The QBFileInfoItem or QBFolderInfoItem of the path (cached unless
  // `noCache`); nullptr with -1000 "Folder not found!" when the path has no
  // identifier, or the service's error.
  QBContentItemPtr itemInfoAt(const std::string& path, bool noCache, ErrorPtr* error);
  QBContentItemPtr itemInfoAt(const std::string& path, ErrorPtr* error) { return itemInfoAt(path, false, error); }
  // The cheapest record of the item: a made-up record for the root and the
  // trash, else the entry of the parent's listing, else itemInfoAt.
  QBContentItemPtr minimalItemInfoAt(const std::string& path, ErrorPtr* error);
  // Whether the item's minimal record has size 0 (no record: false).
  bool isFileEmptyAt(const std::string& path);
  // The file's thumbnail (cached); -1000 "File not found!" without an identifier.
  std::shared_ptr<QBFileThumbnailItem> fileThumbnailAt(const std::string& path, ErrorPtr* error);
  // The users the folder is shared with, always from the service.
  std::shared_ptr<QBSharingUsersItem> sharingUsersOfFolderAt(const std::string& path, ErrorPtr* error);

  // --- File data (QBContentControllerDownload.cpp) ---

  // The file's descriptor once its first `bytes` bytes, or the whole file if
  // it is shorter, are in the cache: from a cached copy, the download in
  // flight, or a new download (started from byte 0). Blocks the caller for at
  // most Timings::downloadWait while it runs its own run loop. nullptr with
  // -1000 "File not found!", the lookup's or the service's error, the
  // download's error, -996 "Download timed out!" (the download goes on) or
  // -995 "Invalid file size." (the download ended short).
  std::shared_ptr<QBBinaryDataDescriptorItem> downloadFileAt(const std::string& path, std::uint64_t bytes,
                                                             ErrorPtr* error);
  // The whole file.
  std::shared_ptr<QBBinaryDataDescriptorItem> downloadFileAt(const std::string& path, ErrorPtr* error);
  // The file's bytes in [offset, offset + size), fewer at the end of the
  // file; nullopt with `error` as downloadFileAt, or the cache's error.
  std::optional<std::string> readFileAt(const std::string& path, std::uint64_t offset, std::uint64_t size,
                                        ErrorPtr* error);

  // --- Account ---

  // Storage figures with the trash's item count (cached unless `noCache`).
  // The figures and the trash listing are fetched at once on two threads;
  // the figures' error wins over the trash's. nullptr on failure.
  std::shared_ptr<QBUserInfoItem> userInfoNoCache(bool noCache, ErrorPtr* error);
  std::shared_ptr<QBUserInfoItem> userInfoWithError(ErrorPtr* error) { return userInfoNoCache(false, error); }
  std::shared_ptr<QBUserLinksItem> userLinksWithError(ErrorPtr* error);
  // Always from the service.
  std::shared_ptr<QBNotificationsItem> userNotificationsError(ErrorPtr* error);

 private:
  // The tidied form of a volume path (see the file comment).
  static std::string volumePath(const std::string& path);
  // The identifier by the two-step pattern: resolve (may ask the service),
  // then confirm from the cache alone; -1000 with `notFoundReason` when
  // either gives nothing.
  std::optional<std::string> resolvedIdentifier(const std::string& path, bool isFile, const char* notFoundReason,
                                                ErrorPtr* error);
  // The listing's entry spelled exactly `name`, else its first entry of
  // that name ignoring case and Unicode form; nullptr when none.
  static QBContentItemPtr entryNamed(const QBFolderListItem& listing, const std::string& name);
  // The cached listing whose path is `path` (ignoring case only).
  std::shared_ptr<QBFolderListItem> cachedListingAt(const std::string& path);
  QBContentItemPtr resolveByPathLookup(const std::string& path, bool isFile, bool cacheOnly);
  // What the service's listing becomes before it is cached (step by step in
  // QBContentControllerListing.cpp). nullptr with `error` on failure.
  std::shared_ptr<QBFolderListItem> fetchListing(const std::string& path, const std::string& identifier,
                                                 ErrorPtr* error);
  // Purges the entries' look-up-by-path records; adds the root's virtual
  // folders; makes the trash's names unique.
  void finishListing(QBFolderListItem& listing, const std::string& path);
  std::shared_ptr<QBFolderListItem> fetchFullFolderListing(const std::string& identifier,
                                                           QBApiClientContext& context, ErrorPtr* error);

  const std::shared_ptr<QBApiClient> client_;
  const std::shared_ptr<QBCacheController> cache_;
};

}  // namespace greyfox
