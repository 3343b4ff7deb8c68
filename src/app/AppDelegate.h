// The owner of a running client on the command line: completes a sign-in
// (cache, session, content controllers, staging area, background update,
// requesting-process filter, downloads), mounts the drive, and shuts down in
// order: "CancelAllUploads" first, then the unmount, the sign-out on the
// service and the cache written to disk.
//
// Lives on the main thread: every member is called there, and the drive
// controller reports there. run() runs RunLoop::main() until the client ends.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "drive/QBDriveController.h"
#include "platform/Error.h"

namespace greyfox {

class QBApiClient;
class QBCacheController;
class QBUserSessionItem;

class AppDelegate : public QBDriveControllerDelegate, public std::enable_shared_from_this<AppDelegate> {
 public:
  explicit AppDelegate(std::shared_ptr<QBApiClient> client);
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Makes everything the session needs and starts mounting. false with the
  // error when the cache or the staging area cannot be made.
  bool loginSuccess(const std::shared_ptr<QBUserSessionItem>& session, ErrorPtr* error);

  // Runs the main run loop until the client ends; answers the exit status:
  // 0 after a shutdown or an unmount from outside, 1 when mounting failed.
  int run();
  // Starts the shutdown (any thread).
  void requestQuit();

  // Called with the mount point once the volume answers requests.
  void setMountedHandler(std::function<void(const std::string& path)> handler) { mounted_ = std::move(handler); }

  void driveControllerDidMountedDrive(QBDriveController& controller) override;
  void driveControllerDidUnmountedDrive(QBDriveController& controller) override;
  void driveControllerDidFailedToMount(QBDriveController& controller, const ErrorPtr& error) override;

 private:
  void quit();                       // main thread
  void finish(int status);           // signs out, flushes, stops the loop
  void installVolumeHooks();
  void removeVolumeHooks();

  const std::shared_ptr<QBApiClient> client_;
  std::shared_ptr<QBCacheController> cache_;
  std::unique_ptr<QBDriveController> drive_;
  std::function<void(const std::string&)> mounted_;
  bool driveMounted_ = false;        // the volume is mounted
  bool quitting_ = false;            // a shutdown is under way
  bool finished_ = false;
  int status_ = 0;
};

}  // namespace greyfox
