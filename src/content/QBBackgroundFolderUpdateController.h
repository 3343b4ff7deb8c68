// Keeps the volume's folders in step with the service in the background, and
// owns the per-folder transfer locks that downloads, uploads, purges,
// listings and refreshes use to keep out of each other's way.
//
// One instance per signed-in session (sharedController()). The lock
// operations may be called from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "content/FolderTransferLock.h"
#include "platform/OperationQueue.h"

namespace greyfox {

class QBFolderListItem;

class QBBackgroundFolderUpdateController {
 public:
  QBBackgroundFolderUpdateController() = default;
  QBBackgroundFolderUpdateController(const QBBackgroundFolderUpdateController&) = delete;
  QBBackgroundFolderUpdateController& operator=(const QBBackgroundFolderUpdateController&) = delete;

  // The instance of the running session; nullptr before sign-in.
  static std::shared_ptr<QBBackgroundFolderUpdateController> sharedController();
  static void install(std::shared_ptr<QBBackgroundFolderUpdateController> controller);

  // Takes the folder's lock when it is free, without waiting.
  bool tryLockFor(const std::string& path);
  // Takes the folder's lock, waiting at most Timings::lockWait; false on time-out.
  bool waitForLockFor(const std::string& path);
  // Releases the folder's lock, if the table has one (from any thread).
  void unlockFor(const std::string& path);

  // --- Refresh (QBBackgroundFolderUpdateControllerRefresh.cpp) ---
  // Debug switches "bfu_enabled" and "bfu_folderenter" turn these off (both
  // on when not set).

  // A listing the file system served: queues its check when it is due.
  void updateFolderListing(const std::shared_ptr<QBFolderListItem>& listing);
  // Queues a check of the listing's folder when its cached copy is older
  // than Timings::folderRefreshAge (specialFolderRefreshAge for the root,
  // the trash, /Shared Folders and the per-user folders in it). A check
  // brings the cached listing up to date, removes empty staging folders of
  // vanished entries, drops the cached bytes of files whose size or date
  // changed, and has the kernel forget what it keeps of the folder and of
  // those files. Returns at once; the check runs on this controller's queue.
  void queueUpdate(const std::shared_ptr<QBFolderListItem>& listing);
  // Suspends the queue and drops the checks not yet started.
  void cancelOperations();
  // Waits until no check is queued or running; true when within `seconds`.
  bool waitForChecks(double seconds);

 private:
  // The lock of a standardized path, made on demand.
  FolderTransferLock& lockFor(const std::string& standardized);
  // One check of the folder at `path` (see queueUpdate).
  void check(const std::string& path, double age, bool special, const std::shared_ptr<QBFolderListItem>& held);

  std::recursive_mutex monitor_;
  // Entries are made on demand and never removed, so references stay valid.
  std::map<std::string, std::unique_ptr<FolderTransferLock>> locks_;  // guarded by monitor_

  OperationQueue queue_{4, "background folder update"};  // runs checks; declared last, so it stops first
};

}  // namespace greyfox
