#include "content/QBBackgroundFolderUpdateController.h"

#include "content/VolumePath.h"
#include "diag/Log.h"
#include "platform/Timings.h"

namespace greyfox {

namespace {
std::mutex sharedMutex;
std::shared_ptr<QBBackgroundFolderUpdateController>& installed() {
  static std::shared_ptr<QBBackgroundFolderUpdateController> controller;
  return controller;
}
}  // namespace

std::shared_ptr<QBBackgroundFolderUpdateController> QBBackgroundFolderUpdateController::sharedController() {
  std::lock_guard lock(sharedMutex);
  return installed();
}

void QBBackgroundFolderUpdateController::install(std::shared_ptr<QBBackgroundFolderUpdateController> controller) {
  std::lock_guard lock(sharedMutex);
  installed() = std::move(controller);
}

FolderTransferLock& QBBackgroundFolderUpdateController::lockFor(const std::string& standardized) {
  std::lock_guard lock(monitor_);
  auto& slot = locks_[standardized];
  if (!slot) slot = std::make_unique<FolderTransferLock>();
  return *slot;
}

bool QBBackgroundFolderUpdateController::tryLockFor(const std::string& path) {
  std::string p = standardizedPath(path);
  QBLOG("[Apr] Trying to aquire lock for path: %s", p.c_str());
  bool taken = lockFor(p).tryLock();
  QBLOG("[Apr] Aquired lock for path: %s, locked = %d", p.c_str(), taken ? 1 : 0);
  return taken;
}

bool QBBackgroundFolderUpdateController::waitForLockFor(const std::string& path) {
  std::string p = standardizedPath(path);
  QBLOG("[Apr] Wait to acquire lock for path: %s", p.c_str());
  bool taken = lockFor(p).lockWithin(Timings::current().lockWait, [&] {
    QBLOG("[Apr] Failed to aquire lock for path: %s", p.c_str());
  });
  if (!taken) QBLOG("[Apr] Lock timeout for path: %s", p.c_str());
  return taken;
}

void QBBackgroundFolderUpdateController::unlockFor(const std::string& path) {
  std::string p = standardizedPath(path);
  QBLOG("[Apr] Released lock for path: %s", p.c_str());
  FolderTransferLock* lock = nullptr;
  {
    std::lock_guard guard(monitor_);
    auto it = locks_.find(p);
    if (it != locks_.end()) lock = it->second.get();
  }
  if (lock) lock->unlock();
}

}  // namespace greyfox
