#include "drive/QBDriveController.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <cerrno>
#include <cstdio>

#include "diag/Log.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/UIPort.h"

namespace greyfox {

QBDriveController::QBDriveController(std::string driveName, FileSystemFactory factory)
    : driveName_(std::move(driveName)), factory_(std::move(factory)) {
  reports_->controller = this;
}

QBDriveController::~QBDriveController() {
  {
    std::lock_guard lock(reports_->mutex);
    reports_->controller = nullptr;
  }
  didMount_.reset();
  didUnmount_.reset();
  mountFailed_.reset();
  // Joins the volume's loop, so no report is still being handled afterwards.
  std::unique_ptr<QBUserFileSystem> fs;
  {
    std::lock_guard lock(mutex_);
    current_ = nullptr;
    fs = std::move(fs_);
  }
  fs.reset();
}

void QBDriveController::setDelegate(std::weak_ptr<QBDriveControllerDelegate> delegate) {
  std::lock_guard lock(reports_->mutex);
  reports_->delegate = std::move(delegate);
}

std::string QBDriveController::driveRootPath() const {
  return Paths::current().mountDirectory() + "/" + driveName_;
}

bool QBDriveController::isCurrent(const Notification& notification) const {
  auto* const* sender = std::any_cast<QBUserFileSystem*>(&notification.object);
  return sender && *sender == current_.load();
}

// Registers once for the adapter's reports; each is moved to the main run
// loop and handed to the delegate there.
void QBDriveController::observe() {
  if (observing_) return;
  observing_ = true;
  std::weak_ptr<Reports> weakReports = reports_;
  auto deliver = [weakReports](std::function<void(QBDriveControllerDelegate&, QBDriveController&)> call) {
    auto reports = weakReports.lock();
    if (!reports) return;
    RunLoop::main().post([reports, call] {
      std::shared_ptr<QBDriveControllerDelegate> delegate;
      QBDriveController* controller = nullptr;
      {
        std::lock_guard lock(reports->mutex);
        delegate = reports->delegate.lock();
        controller = reports->controller;
      }
      if (delegate && controller) call(*delegate, *controller);
    });
  };

  didMount_ = ScopedObserver(kGMUserFileSystemDidMount, [this, deliver](const Notification& n) {
    if (!isCurrent(n)) return;
    auto reports = reports_;
    deliver([reports](QBDriveControllerDelegate& delegate, QBDriveController& controller) {
      // A mounted report that arrives while an earlier one is still being
      // delivered is dropped.
      if (reports->deliveringMount.exchange(true)) {
        QBLOG("Mounted report dropped: another is being delivered");
        return;
      }
      delegate.driveControllerDidMountedDrive(controller);
      reports->deliveringMount = false;
    });
  });
  didUnmount_ = ScopedObserver(kGMUserFileSystemDidUnmount, [this, deliver](const Notification& n) {
    if (!isCurrent(n)) return;
    deliver([](QBDriveControllerDelegate& delegate, QBDriveController& controller) {
      delegate.driveControllerDidUnmountedDrive(controller);
    });
  });
  mountFailed_ = ScopedObserver(kGMUserFileSystemMountFailed, [this, deliver](const Notification& n) {
    if (!isCurrent(n)) return;
    ErrorPtr error = errorFromUserInfo(n.userInfo);
    deliver([error](QBDriveControllerDelegate& delegate, QBDriveController& controller) {
      QBLOG("Mount failed: %s", error ? error->message().c_str() : "(no error)");
      delegate.driveControllerDidFailedToMount(controller, error);
    });
  });
}

void QBDriveController::mountQBDrive() {
  observe();
  const std::string root = driveRootPath();

  // The earlier file system goes first, so that its volume leaves the mount
  // point before the new one arrives; its reports no longer count.
  std::unique_ptr<QBUserFileSystem> old;
  {
    std::lock_guard lock(mutex_);
    current_ = nullptr;
    old = std::move(fs_);
  }
  old.reset();

  ErrorPtr error;
  if (!makeDirectories(Paths::current().mountDirectory(), 0755, &error))
    QBLOG("Cannot make the mount directory: %s", error ? error->message().c_str() : "");
  // statfs always reaches the volume, where stat may be answered from what
  // the kernel kept of a volume that died a moment ago.
  struct statfs sfs {};
  if (statfs(root.c_str(), &sfs) != 0) {
    if (errno == ENOTCONN || errno == ECONNABORTED) {
      QBLOG("A dead volume is left at %s; taking it away", root.c_str());
      QBUserFileSystem::detachAtPath(root, nullptr);
    } else if (errno == ENOENT && mkdir(root.c_str(), 0755) != 0) {
      QBLOG("Cannot make the mount point %s", root.c_str());
    }
  }

  auto delegate = factory_();
  auto fs = std::make_unique<QBUserFileSystem>(delegate, true);
  QBUserFileSystem* raw = fs.get();
  {
    std::lock_guard lock(mutex_);
    loop_ = delegate;
    fs_ = std::move(fs);
    current_ = raw;
  }
  raw->mountAtPath(root, QBMountOptions::forDrive(driveName_));
}

bool QBDriveController::unmount() {
  const std::string root = driveRootPath();
  ErrorPtr error;
  if (QBUserFileSystem::unmountAtPath(root, &error)) return true;
  char message[256];
  std::snprintf(message, sizeof message, kDriveBusyMessage, error ? static_cast<int>(error->code) : -1);
  Alert alert;
  alert.message = message;
  UIPort::shared().showAlert(alert);
  return false;
}

QBUserFileSystem* QBDriveController::fileSystem() const {
  std::lock_guard lock(mutex_);
  return fs_.get();
}

std::shared_ptr<QBFileSystemDelegate> QBDriveController::fileSystemDelegate() const {
  std::lock_guard lock(mutex_);
  return loop_;
}

}  // namespace greyfox
