#include "app/AppDelegate.h"

#include <cstdio>

#include "api/QBApiClient.h"
#include "cache/QBCacheController.h"
#include "content/QBBackgroundFolderUpdateController.h"
#include "content/QBContentController.h"
#include "content/QBDownloadStarter.h"
#include "content/QBTmpController.h"
#include "diag/Log.h"
#include "diag/Logging.h"
#include "diag/Utilities.h"
#include "drive/QBDriveFS.h"
#include "drive/QBSatellitesController.h"
#include "items/QBUserSessionItem.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"
#include "transfer/QBDownloadController.h"

namespace greyfox {

AppDelegate::AppDelegate(std::shared_ptr<QBApiClient> client) : client_(std::move(client)) {}

AppDelegate::~AppDelegate() { removeVolumeHooks(); }

bool AppDelegate::loginSuccess(const std::shared_ptr<QBUserSessionItem>& session, ErrorPtr* error) {
  const std::string root = Utilities::cacheRootPathFor(session->username);
  cache_ = root.empty() ? nullptr : QBCacheController::cacheControllerAt(root, error);
  if (!cache_) {
    if (root.empty()) setError(error, "greyfox.app", -1, "The cache folder cannot be made.");
    return false;
  }
  // Stored under "default", the session is the current one for every layer.
  if (!cache_->storeItem(session, error)) return false;

  QBApiClient::install(client_);
  QBContentController::install(std::make_shared<QBContentController>(client_, cache_));
  if (!QBTmpController::initSharedController(Paths::current().stagingRoot(), error)) return false;
  QBBackgroundFolderUpdateController::install(std::make_shared<QBBackgroundFolderUpdateController>());
  QBSatellitesController::install(std::make_shared<QBSatellitesController>());
  QBDownloadStarter::install(std::make_shared<QBDownloadStarterImpl>());

  drive_ = std::make_unique<QBDriveController>(session->driveName, [] { return std::make_shared<QBDriveFS>(); });
  drive_->setDelegate(weak_from_this());
  installVolumeHooks();
  QBLOG("USER SESSION %s", session->sessionId.c_str());
  drive_->mountQBDrive();
  return true;
}

void AppDelegate::installVolumeHooks() {
  const std::string root = drive_->driveRootPath();
  QBDriveController* drive = drive_.get();
  Utilities::setDriveRootPathProvider([root] { return root; });
  // A change the client learns of makes the kernel forget what it keeps of
  // the path, so the next look reaches the file system.
  Utilities::setFileSystemChangedHook([root, drive](const std::string& absolutePath) {
    if (absolutePath.compare(0, root.size(), root) != 0) return;
    std::string relative = absolutePath.substr(root.size());
    if (relative.empty()) relative = "/";
    if (relative[0] != '/') return;
    if (QBUserFileSystem* fs = drive->fileSystem()) fs->invalidatePath(relative);
  });
}

void AppDelegate::removeVolumeHooks() {
  Utilities::setFileSystemChangedHook(nullptr);
  Utilities::setDriveRootPathProvider(nullptr);
}

int AppDelegate::run() {
  RunLoop::main().run();
  return status_;
}

void AppDelegate::requestQuit() {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  RunLoop::main().post([weak] {
    if (auto self = weak.lock()) self->quit();
  });
}

void AppDelegate::quit() {
  if (quitting_ || finished_) return;
  quitting_ = true;
  QBLOG("Quitting");
  NotificationCenter::defaultCenter().post(kCancelAllUploadsNotification);
  if (!drive_ || !driveMounted_) {
    finish(0);
    return;
  }
  const std::string root = drive_->driveRootPath();
  ErrorPtr error;
  if (!QBUserFileSystem::unmountAtPath(root, &error)) {
    // A program still in the drive must not keep the client from ending.
    QBLOG("Unmount of %s failed (%s); detaching it", root.c_str(), error ? error->message().c_str() : "");
    ErrorPtr detachError;
    if (!QBUserFileSystem::detachAtPath(root, &detachError)) {
      std::fprintf(stderr, "Cannot unmount %s: %s\n", root.c_str(),
                   detachError ? detachError->message().c_str() : "unknown error");
    }
  }
  // The unmounted report ends the run; should it never come, end anyway.
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  RunLoop::main().postAfter(Timings::current().mountTimeout, [weak] {
    if (auto self = weak.lock()) self->finish(0);
  });
}

void AppDelegate::finish(int status) {
  if (finished_) return;
  finished_ = true;
  status_ = status;
  removeVolumeHooks();
  QBLogging::setRunningFlag(false);
  if (auto background = QBBackgroundFolderUpdateController::sharedController()) background->cancelOperations();
  if (auto content = QBContentController::sharedController()) {
    if (auto context = content->authContext(); context && context->session) {
      ErrorPtr error;
      if (!client_->logoutWithContext(*context, &error)) QBLOG("Sign-out failed: %s", error->message().c_str());
    }
  }
  if (cache_) cache_->flush();
  RunLoop::main().stop();
}

void AppDelegate::driveControllerDidMountedDrive(QBDriveController& controller) {
  driveMounted_ = true;
  QBLogging::setRunningFlag(true);
  QBLOG("Drive mounted at %s", controller.driveRootPath().c_str());
  if (mounted_) mounted_(controller.driveRootPath());
}

void AppDelegate::driveControllerDidUnmountedDrive(QBDriveController& controller) {
  driveMounted_ = false;
  QBLOG("Drive unmounted from %s", controller.driveRootPath().c_str());
  if (!quitting_) std::fprintf(stderr, "File system was unmounted. Application will terminate.\n");
  finish(0);
}

void AppDelegate::driveControllerDidFailedToMount(QBDriveController& /*controller*/, const ErrorPtr& error) {
  std::string text = "Mount failed:\n" + Utilities::errorMessageBody(error);
  QBLOG("%s", text.c_str());
  std::fprintf(stderr, "%s", text.c_str());
  finish(1);
}

}  // namespace greyfox
