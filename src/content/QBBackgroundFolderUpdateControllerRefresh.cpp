// The refresh half of QBBackgroundFolderUpdateController: deciding from a
// served listing whether its folder is due, and the check that brings the
// cached listing, the staging area, the cached file bytes and the kernel's
// view of the folder up to date.
#include <sys/stat.h>

#include <map>

#include "cache/QBCacheController.h"
#include "content/QBBackgroundFolderUpdateController.h"
#include "content/QBContentController.h"
#include "content/QBTmpController.h"
#include "content/VolumePath.h"
#include "diag/DebugOptions.h"
#include "diag/Log.h"
#include "diag/Utilities.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBUserSessionItem.h"
#include "platform/Clock.h"
#include "platform/Timings.h"

namespace greyfox {

namespace {

constexpr const char* kErrorName = "Error during background folder update";

// Switches that are on unless stored as 0.
bool switchOn(const char* name) { return QBDebugOptions::checkDebugParam(name).value_or(1) != 0; }

bool isSpecialFolder(const QBFolderListItem& listing) {
  const std::string& id = listing.identifier;
  if (id == kRootIdentifier || id == kTrashIdentifier || id == kSharedFoldersIdentifier) return true;
  if (QBContentController::isTrashFolder(listing.path)) return true;
  // "/", "Shared Folders", the sharing user.
  return QBContentController::isSharedFolder(listing.path) &&
         QBContentController::splitComponents(listing.path).size() == 3;
}

struct FileState {
  std::string identifier;
  std::int64_t size;
  double date;
};

std::map<std::string, FileState> filesOf(const QBFolderListItem& listing) {
  std::map<std::string, FileState> files;
  for (const auto& f : listing.files) {
    if (f) files[f->name] = {f->identifier, f->size.value_or(0), f->dateModified.value_or(0)};
  }
  return files;
}

// Drops the cached bytes of every file whose size or date differs between
// the listings, and has the kernel forget those files.
void dropChangedFiles(QBCacheController& cache, const std::string& path, const QBFolderListItem& before,
                      const QBFolderListItem& after) {
  const auto old = filesOf(before);
  for (const auto& [name, now] : filesOf(after)) {
    auto it = old.find(name);
    if (it == old.end()) continue;
    const FileState& was = it->second;
    if (was.size == now.size && was.date == now.date && was.identifier == now.identifier) continue;
    QBLOG("File %s changed on the service; dropping its cached data", appendComponent(path, name).c_str());
    for (const std::string& id : {was.identifier, now.identifier}) {
      cache.purgeItemForcedWithKey(id, QBBinaryDataDescriptorItem::kClassName);
      cache.purgeBinaryDataForcedOf(id);
    }
    Utilities::fireFinderSyncEventAtRelativePath(appendComponent(path, name));
  }
}

}  // namespace

void QBBackgroundFolderUpdateController::updateFolderListing(const std::shared_ptr<QBFolderListItem>& listing) {
  if (switchOn("bfu_folderenter")) queueUpdate(listing);
}

void QBBackgroundFolderUpdateController::queueUpdate(const std::shared_ptr<QBFolderListItem>& listing) {
  if (!listing || !switchOn("bfu_enabled") || std::dynamic_pointer_cast<QBStubFolderListItem>(listing)) return;
  auto cache = QBCacheController::sharedController();
  if (!cache) return;

  auto session = cache->fetchUserSession("default");
  if (!session) QBLOG("[457]:currentUserSession==nil");
  if (session && session->isAccountUser) {
    const std::string& id = listing->identifier;
    if (id == kSharedFoldersIdentifier || id == kTrashIdentifier || QBContentController::isSharedFolder(listing->path) ||
        QBContentController::isTrashFolder(listing->path)) {
      return;
    }
  }

  const bool special = isSpecialFolder(*listing);
  const Timings& timings = Timings::current();
  const double threshold = special ? timings.specialFolderRefreshAge : timings.folderRefreshAge;
  double age = 0;
  if (auto meta = cache->fetchMetaOfItemWithKey(listing->identifier, listing->className())) {
    if (meta->contains("lastindex") && (*meta)["lastindex"].is_number()) {
      age = Clock::current().now() - (*meta)["lastindex"].get<double>();
      if (threshold > age) return;
    }
  }
  queue_.add([this, path = listing->path, age, special, listing] { check(path, age, special, listing); });
}

void QBBackgroundFolderUpdateController::check(const std::string& path, double age, bool special,
                                               const std::shared_ptr<QBFolderListItem>& held) {
  if (!tryLockFor(path)) {
    QBLOG("Folder %s is locked.", path.c_str());
    return;
  }
  QBLOG("Background update of %s (%f past last update)", path.c_str(), age);
  auto content = QBContentController::sharedController();
  auto cache = QBCacheController::sharedController();
  if (!content || !cache) {
    unlockFor(path);
    return;
  }
  ErrorPtr error;
  if (special) {
    auto fresh = content->listFolderAt(path, true, &error);
    if (!fresh) {
      Utilities::presentError(error, std::string(kErrorName));
    } else {
      dropChangedFiles(*cache, path, *held, *fresh);
      Utilities::fireFinderSyncEventAtRelativePath(path);
    }
    unlockFor(path);
    return;
  }
  switch (content->updateFolderListItem(*held, &error)) {
    case -1:
      Utilities::presentError(error, std::string(kErrorName));
      break;
    case 0: {
      auto fresh = cache->fetchFolderListAt(path);
      auto staging = QBTmpController::sharedController();
      for (const std::string& name : held->itemNames()) {
        if (fresh && fresh->containsItemNamed(name)) continue;
        const std::string gone = appendComponent(path, name);
        // Only an empty folder: a staged file may still be in use by a writer.
        struct stat st {};
        if (staging && stat(staging->tempPathFor(gone).c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            staging->isEmptyDirectory(gone)) {
          staging->removeItemAt(gone, nullptr);
        }
      }
      if (fresh) dropChangedFiles(*cache, path, *held, *fresh);
      Utilities::fireFinderSyncEventAtRelativePath(path);
      break;
    }
    default:
      break;
  }
  unlockFor(path);
}

void QBBackgroundFolderUpdateController::cancelOperations() {
  queue_.setSuspended(true);
  queue_.cancelAll();
}

bool QBBackgroundFolderUpdateController::waitForChecks(double seconds) { return queue_.waitUntilEmpty(seconds); }

}  // namespace greyfox
