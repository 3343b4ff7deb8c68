// Tells apart the programs behind volume requests: the system's thumbnail
// makers, which are answered with the service's ready-made thumbnail of an
// image instead of its bytes, other system services (file indexers, media
// scanners) whose read-only opens are refused so they never start downloads,
// and ordinary programs.
//
// A program is recognised by its executable (/proc/PID/exe of the request's
// process): a known suffix counts only when the executable lies in a system
// location, so a program of the user's with the same name is served normally.
//
// The operations that look at the request read the context of the request
// being served on the calling thread, so call them on the file-system
// callback thread. They keep no state. The shared instance also serves as
// the per-open handle of thumbnail opens.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "drive/QBFileSystemDelegate.h"
#include "platform/Error.h"

namespace greyfox {

class QBContentController;

enum QBCallingProcessClass : int {
  QBCallingProcessThumbnail = 0,
  QBCallingProcessSystemService = 1,
  QBCallingProcessOrdinary = 2,
};

class QBSatellitesController : public QBFileHandle {
 public:
  // `content`: the content controller thumbnails come from (nullptr: the
  // shared one at each read).
  explicit QBSatellitesController(std::shared_ptr<QBContentController> content = nullptr);
  QBSatellitesController(const QBSatellitesController&) = delete;
  QBSatellitesController& operator=(const QBSatellitesController&) = delete;

  // The instance of the running session; nullptr before sign-in.
  static std::shared_ptr<QBSatellitesController> sharedController();
  static void install(std::shared_ptr<QBSatellitesController> controller);

  // The executable of the requesting process, "" when unknown (no request,
  // or the process is gone).
  static std::string getCallingProcessExecutable();
  // The executable of process `pid`, "" when unknown.
  static std::string executableOfProcess(pid_t pid);
  // The application bundle of the requesting process. Programs on this
  // system come in no bundles, so always "".
  static std::string getCallingProcessBundleExecutable();

  // Tests on an executable path. Each answers false for a path outside the
  // system locations ("/usr", "/lib", and the macOS "/System", "/Library").
  static bool isThumbnailSatteliteWithFullExec(const std::string& path);
  // Thumbnail makers and other system services alike.
  static bool isMiscSatteliteWithFullExec(const std::string& path);
  // Tests on a bundle name.
  static bool isMiscSatteliteWithBundleExec(const std::string& bundle);

  // The class of the requesting process (tests may override it).
  virtual QBCallingProcessClass testCallingProcess() const;
  // The class of a process with this executable and bundle name.
  static QBCallingProcessClass classify(const std::string& executable, const std::string& bundle);

  // Whether a thumbnail maker may open the volume path: names ending in
  // ".jpg", ".jpeg" or ".png", in any case.
  bool openThumbnailAt(const std::string& path) const;
  // The thumbnail's bytes in [offset, offset + size), fewer at its end; ""
  // when the file has no thumbnail or the offset lies at or past its end;
  // nullopt with `error` when the thumbnail could not be fetched.
  std::optional<std::string> readThumbnailAt(const std::string& path, std::uint64_t offset, std::uint64_t size,
                                             ErrorPtr* error);

 private:
  std::shared_ptr<QBContentController> content() const;

  const std::shared_ptr<QBContentController> content_;
};

}  // namespace greyfox
