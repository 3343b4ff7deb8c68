// Mounts the signed-in account's drive and reports the volume's life to the
// application shell.
//
// mountQBDrive() makes a fresh file-system delegate with the factory, mounts
// it at the drive's mount point (the mount directory joined with the drive
// name) and returns at once; the outcome arrives on RunLoop::main() as one of
// the delegate's reports. unmount() takes the volume away unless a program
// still uses it. The controller lives as long as the application; the shell
// calls it from the main thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "drive/QBFileSystemDelegate.h"
#include "drive/QBUserFileSystem.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

namespace greyfox {

class QBDriveController;

// The shell's side. Called on RunLoop::main().
class QBDriveControllerDelegate {
 public:
  virtual ~QBDriveControllerDelegate() = default;
  virtual void driveControllerDidMountedDrive(QBDriveController& controller) = 0;
  virtual void driveControllerDidUnmountedDrive(QBDriveController& controller) = 0;
  virtual void driveControllerDidFailedToMount(QBDriveController& controller, const ErrorPtr& error) = 0;
};

// The alert shown when the volume cannot be unmounted; "%d" is the failing
// call's error number.
inline constexpr const char* kDriveBusyMessage =
    "Drive is busy, please quit all application using Greyfox Cloud, and try again (%d)";

class QBDriveController {
 public:
  using FileSystemFactory = std::function<std::shared_ptr<QBFileSystemDelegate>()>;

  QBDriveController(std::string driveName, FileSystemFactory factory);
  ~QBDriveController();
  QBDriveController(const QBDriveController&) = delete;
  QBDriveController& operator=(const QBDriveController&) = delete;

  // Held weakly: reports to a delegate that is gone are dropped.
  void setDelegate(std::weak_ptr<QBDriveControllerDelegate> delegate);

  // The mount point: Paths::current().mountDirectory() + "/" + drive name.
  std::string driveRootPath() const;

  // Starts mounting: makes the mount directory and the mount point when
  // missing, takes away a dead volume left at the mount point by an earlier
  // run, replaces any earlier file system (detaching its volume), and mounts
  // a new delegate from the factory. Returns at once; the mounted or the
  // failed report follows on RunLoop::main().
  void mountQBDrive();

  // Unmounts the mount point. True on success (the unmounted report follows);
  // false when the volume stays, after the busy alert naming the error number.
  bool unmount();

  // The file system of the latest mount (for invalidation), or null.
  QBUserFileSystem* fileSystem() const;
  // The delegate of the latest mount, or null.
  std::shared_ptr<QBFileSystemDelegate> fileSystemDelegate() const;

 private:
  // What the posted reports need; outlives the controller while reports wait.
  struct Reports {
    std::mutex mutex;
    std::weak_ptr<QBDriveControllerDelegate> delegate;  // guarded by mutex
    QBDriveController* controller = nullptr;              // null once destroyed; guarded by mutex
    std::atomic<bool> deliveringMount{false};             // the mounted report's try-lock
  };

  void observe();
  bool isCurrent(const Notification& notification) const;

  const std::string driveName_;
  const FileSystemFactory factory_;
  const std::shared_ptr<Reports> reports_ = std::make_shared<Reports>();

  mutable std::mutex mutex_;
  std::unique_ptr<QBUserFileSystem> fs_;              // guarded by mutex_
  std::shared_ptr<QBFileSystemDelegate> loop_;        // guarded by mutex_
  std::atomic<const QBUserFileSystem*> current_{nullptr};  // whose reports count
  bool observing_ = false;  // touched by mountQBDrive's thread only
  ScopedObserver didMount_, didUnmount_, mountFailed_;
};

}  // namespace greyfox
