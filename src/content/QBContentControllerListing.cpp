// QBContentController: folder listings, their refresh, and what the volume
// adds to the service's listings (the root's virtual folders, unique names in
// the trash).
#include <cstdio>
#include <ctime>
#include <set>

#include "content/QBContentController.h"
#include "content/VolumePath.h"
#include "diag/Log.h"
#include "items/ItemValues.h"
#include "items/QBFolderListItem.h"
#include "platform/Clock.h"

namespace greyfox {

namespace {

// What a failed listing says about a secure folder's password.
enum class SecureDemand { None, EnterPassword, SetUpPassword };

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

SecureDemand secureDemandOf(const ErrorPtr& error) {
  if (!error) return SecureDemand::None;
  const std::string reason = error->failureReason().value_or("");
  if (endsWith(reason, "Folder requires encryption authentication")) return SecureDemand::EnterPassword;
  if (endsWith(reason, "List subdir failed. Folder requires encryption key to be set"))
    return SecureDemand::SetUpPassword;
  return SecureDemand::None;
}

// The one place where a locked secure folder would be opened: by asking the
// user for its password (or to set one up) through the secure-folder runtime.
// That runtime is not part of this build, so the folder stays locked and the
// listing fails with the service's error.
bool unlockSecureFolder(SecureDemand demand, const std::string& folderId) {
  QBLOG("secure folder %s needs its password %s; no secure-folder runtime to ask for it", folderId.c_str(),
        demand == SecureDemand::EnterPassword ? "entered" : "set up");
  return false;
}

// "MM-dd-yy" of a date in seconds since 1970, in local time.
std::string shortDate(double secondsSince1970) {
  std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  localtime_r(&t, &local);
  char text[16];
  std::strftime(text, sizeof text, "%m-%d-%y", &local);
  return text;
}

// Gives every entry of the trash a name no earlier entry has (ignoring case,
// as the volume's names are looked up): files first, then folders; a taken
// name becomes "name (from MM-dd-yy)", then "name (2)", "name (3)", ...
void makeTrashNamesUnique(QBFolderListItem& listing) {
  std::set<std::string> given;
  auto unique = [&given](const std::string& name, std::optional<double> modified) {
    std::string candidate = name;
    bool triedDate = false;
    for (int n = 2; given.count(caselessKey(candidate)); ) {
      if (!triedDate) {
        candidate = name + " (from " + shortDate(modified.value_or(0)) + ")";
        triedDate = true;
      } else {
        candidate = name + " (" + std::to_string(n++) + ")";
      }
    }
    given.insert(caselessKey(candidate));
    return candidate;
  };
  for (auto& file : listing.files) file->name = unique(file->name, file->dateModified);
  for (auto& folder : listing.folders) folder->name = unique(folder->name, folder->dateModified);
}

// The root's virtual folders, dated now.
void addVirtualFolders(QBFolderListItem& listing) {
  char now[64];
  std::snprintf(now, sizeof now, "%f", Clock::current().now());
  for (auto [name, identifier] : {std::pair{kSharedFoldersName, kSharedFoldersIdentifier},
                                  std::pair{kTrashName, kTrashIdentifier}}) {
    listing.insertItem(
        QBFolderItem::itemWithDict({{"Name", name}, {"FolderID", identifier}, {"DateModified", now}}, nullptr));
  }
}

std::string entryName(const QBContentItemPtr& entry) {
  if (auto folder = std::dynamic_pointer_cast<QBFolderItem>(entry)) return folder->name;
  if (auto file = std::dynamic_pointer_cast<QBFileItem>(entry)) return file->name;
  return {};
}

}  // namespace

void QBContentController::finishListing(QBFolderListItem& listing, const std::string& path) {
  // Identifiers of the entries come from this listing from now on.
  for (const auto& entry : listing.combinedItems()) {
    cache_->purgeIdentifiersForcedAt(appendComponent(path, entryName(entry)));
  }
  if (listing.identifier == kRootIdentifier) addVirtualFolders(listing);
  if (listing.identifier == kTrashIdentifier) makeTrashNamesUnique(listing);
}

std::shared_ptr<QBFolderListItem> QBContentController::listFolderAt(const std::string& rawPath, bool noCache,
                                                                    ErrorPtr* error) {
  const std::string path = volumePath(rawPath);
  auto identifier = resolvedIdentifier(path, false, "Folder not found!", error);
  if (!identifier) return nullptr;
  return std::dynamic_pointer_cast<QBFolderListItem>(checkItem(
      *identifier, QBFolderListItem::kClassName, noCache, [&] { return fetchListing(path, *identifier, error); }));
}

std::shared_ptr<QBFolderListItem> QBContentController::fetchListing(const std::string& path,
                                                                    const std::string& identifier, ErrorPtr* error) {
  auto record = minimalItemInfoAt(path, error);
  if (!record) return nullptr;
  auto minimal = std::dynamic_pointer_cast<QBFolderItem>(record);
  if (!minimal) {
    setQBError(error, kContentErrorNotFound, "Folder not found!");
    return nullptr;
  }
  auto context = contextForPath(path, error);
  if (!context) return nullptr;

  std::shared_ptr<QBFolderListItem> listing;
  if (identifier == kSharedFoldersIdentifier) {
    listing = client_->listSharedUsersWithContext(*context, error);
  } else if (isSharedFolder(path) && splitComponents(path).size() == 3) {
    auto sharing = std::dynamic_pointer_cast<QBApiClientSharingContext>(context);
    if (sharing) listing = client_->sharedFoldersWithContext(*sharing, error);
    if (listing) listing->name = lastComponent(path);
  } else if (identifier == kTrashIdentifier) {
    listing = client_->listTrashFolderWithContext(*context, error);
  } else {
    listing = fetchFullFolderListing(identifier, *context, error);
  }
  if (!listing) return nullptr;

  listing->identifier = identifier;
  listing->path = path;
  listing->encrypted = minimal->encrypted;
  finishListing(*listing, path);
  return listing;
}

std::shared_ptr<QBFolderListItem> QBContentController::fetchFullFolderListing(const std::string& identifier,
                                                                              QBApiClientContext& context,
                                                                              ErrorPtr* error) {
  const ErrorPtr before = error ? *error : nullptr;
  ErrorPtr slot = before;
  auto listing = client_->listFolder(identifier, std::nullopt, context, &slot);
  if (!listing) {
    SecureDemand demand = secureDemandOf(slot);
    if (demand == SecureDemand::None || unlockSecureFolder(demand, identifier)) {
      listing = client_->listFolder(identifier, std::nullopt, context, &slot);
    }
  }
  if (error) *error = listing ? before : slot;
  return listing;
}

int QBContentController::updateFolderListItem(const QBFolderListItem& held, ErrorPtr* error) {
  const std::string path = volumePath(held.path);
  auto identifier = resolvedIdentifier(path, false, "Folder not found!", error);
  if (!identifier) return -1;
  auto context = contextForPath(path, error);
  if (!context) return -1;

  const ErrorPtr before = error ? *error : nullptr;
  ErrorPtr slot = before;
  auto listing = client_->listFolder(*identifier, held.updateTime, *context, &slot);
  if (!listing && secureDemandOf(slot) == SecureDemand::EnterPassword &&
      unlockSecureFolder(SecureDemand::EnterPassword, *identifier)) {
    listing = client_->listFolder(*identifier, std::nullopt, *context, &slot);
  }
  if (error) *error = listing ? before : slot;
  if (!listing) return -1;

  listing->identifier = *identifier;
  listing->path = path;
  listing->encrypted = held.encrypted;
  if (listing->responseType == 1) {
    finishListing(*listing, path);
    cache_->storeItem(listing);
    return 0;
  }
  cache_->touchItemForcedWithKey(*identifier, QBFolderListItem::kClassName);
  return 1;
}

}  // namespace greyfox
