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

namespace greyfox {

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

 private:
  // The lock of a standardized path, made on demand.
  FolderTransferLock& lockFor(const std::string& standardized);

  std::recursive_mutex monitor_;
  // Entries are made on demand and never removed, so references stay valid.
  std::map<std::string, std::unique_ptr<FolderTransferLock>> locks_;  // guarded by monitor_
};

}  // namespace greyfox
