// QBDriveFS: the account's volume as the kernel sees it. It answers the
// adapter's callbacks by asking the staging area (QBTmpController) for local
// only paths, the content controller for the service's folders and files,
// read-ahead buffers for file bytes, and the requesting-process filter for
// requests of thumbnail makers and indexers.
//
// This file holds the look-up and read side: listings, attributes, opens,
// reads and releases. Write callbacks are not served (the base answers
// ENOSYS), and a write open is refused the same way.
//
// Errors leave as errno values: "not found" (-1000) as ENOENT, anything else
// as EIO; a failed listing, open, read or volume query is also shown to the
// user (once per error code within Timings::errorDisplayInterval).
//
// The callbacks keep no state of their own and are called from libfuse's
// worker threads, several at once.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/QBFileSystemDelegate.h"
#include "platform/Error.h"

namespace greyfox {

class QBBackgroundFolderUpdateController;
class QBContentController;
class QBSatellitesController;
class QBTmpController;

// The collaborators of a QBDriveFS; a null one is the shared instance of the
// running session, looked up at each call.
struct QBDriveFSParts {
  std::shared_ptr<QBContentController> content;
  std::shared_ptr<QBTmpController> staging;
  std::shared_ptr<QBBackgroundFolderUpdateController> background;
  std::shared_ptr<QBSatellitesController> satellites;
};

class QBDriveFS : public QBFileSystemDelegate {
 public:
  explicit QBDriveFS(QBDriveFSParts parts = {});
  QBDriveFS(const QBDriveFS&) = delete;
  QBDriveFS& operator=(const QBDriveFS&) = delete;

  std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                   ErrorPtr* error) override;
  // "/" is a folder dated by its listing's update time. A missing entry is
  // ENOENT without a message; a failed listing is translated without one.
  std::optional<QBItemAttributes> attributesOfItemAtPath(const std::string& path, const QBFileHandlePtr& userData,
                                                        ErrorPtr* error) override;
  std::optional<QBFileSystemAttributes> attributesOfFileSystemForPath(const std::string& path,
                                                                     ErrorPtr* error) override;
  // Read-only opens only: an ordinary program gets a read-ahead buffer (or
  // the staging copy of a local-only path), a thumbnail maker the service's
  // thumbnail of an image, any other system service a silent EACCES.
  bool openFileAtPath(const std::string& path, int mode, QBFileHandlePtr* userData, ErrorPtr* error) override;
  // A read that finds no data is tried three more times,
  // Timings::readRetryPause apart, before it fails. A read at or past the
  // file's end answers 0 at once.
  long readFileAtPath(const std::string& path, const QBFileHandlePtr& userData, char* buffer, std::size_t size,
                      off_t offset, ErrorPtr* error) override;

  // Replaces *error with its POSIX error (ENOENT for -1000, else EIO),
  // presenting the old error first when `shouldDisplay`. Always false, so a
  // callback can answer its failure with it.
  static bool fillPosixError(ErrorPtr* error, bool shouldDisplay = true);
  // Logs the error and shows the user what it means (displayed errors table).
  static void displayQBError(const ErrorPtr& error);
  // What displayQBError shows for `error`, and its title (nullopt: "Error").
  struct Presentation {
    ErrorPtr error;
    std::optional<std::string> title;
    const char* kind;  // the log line's word: "not found", "network", ...
  };
  static Presentation presentationOf(const ErrorPtr& error);

 private:
  std::shared_ptr<QBContentController> content() const;
  std::shared_ptr<QBTmpController> staging() const;
  std::shared_ptr<QBBackgroundFolderUpdateController> background() const;
  std::shared_ptr<QBSatellitesController> satellites() const;

  // One attempt at the bytes of a read: the data (possibly short, "" at the
  // end), or nullopt with `error`. `atEnd` is set when "" means the end.
  std::optional<std::string> readOnce(const std::string& path, const QBFileHandlePtr& handle, std::uint64_t offset,
                                      std::size_t size, bool* atEnd, ErrorPtr* error);

  const QBDriveFSParts parts_;
};

}  // namespace greyfox
