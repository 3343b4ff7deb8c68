// Mounts a QBFileSystemDelegate as a FUSE volume with the high-level libfuse3
// API and serves it on a thread of its own (several worker threads when the
// delegate is thread-safe), and reports the volume's life through the default
// NotificationCenter, each with this object as the notification's object:
//
//   "kGMUserFileSystemDidMount"     the volume answers requests
//   "kGMUserFileSystemMountFailed"  it could not be mounted; userInfo holds the
//                                   error under "kGMUserFileSystemErrorKey"
//                                   (see errorFromUserInfo)
//   "kGMUserFileSystemDidUnmount"   a mounted volume went away, whoever
//                                   unmounted it
//
// The kernel may keep names, attributes and misses for
// Timings::kernelCacheTimeout only, drops a file's cached pages at each open
// and never on its own at a size or time change, and maps files through the
// page cache (no direct I/O). invalidatePath() drops what it keeps of a path.
//
// Notifications are posted on the adapter's threads. All members may be
// called from any thread; the destructor (which detaches a volume still
// mounted and waits for its loop to end) must not run on a callback thread.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "drive/KernelCacheInvalidator.h"
#include "drive/QBFileSystemDelegate.h"
#include "platform/Error.h"

struct fuse;

namespace greyfox {

struct OpenFile;

inline constexpr const char* kGMUserFileSystemDidMount = "kGMUserFileSystemDidMount";
inline constexpr const char* kGMUserFileSystemMountFailed = "kGMUserFileSystemMountFailed";
inline constexpr const char* kGMUserFileSystemDidUnmount = "kGMUserFileSystemDidUnmount";
inline constexpr const char* kGMUserFileSystemErrorKey = "kGMUserFileSystemErrorKey";

// The error of a "kGMUserFileSystemMountFailed" notification's userInfo.
ErrorPtr errorFromUserInfo(const nlohmann::json& userInfo);

struct QBMountOptions {
  std::string fsName;         // the volume's source as mount(8) and df show it
  std::string subtype;        // the volume's type becomes "fuse.<subtype>"
  unsigned maxRead = 1u << 20;       // largest read request, bytes
  unsigned maxReadahead = 1u << 20;  // largest read-ahead of the kernel, bytes
  unsigned maxThreads = 16;          // worker threads when the delegate is thread-safe
  bool allowOther = false;           // let other users reach the volume
  bool defaultPermissions = false;   // let the kernel check permission bits

  // Options for a drive: its name as the source, the name reduced to letters,
  // digits, '.', '-' and '_' as the subtype.
  static QBMountOptions forDrive(const std::string& driveName);
};

class QBUserFileSystem {
 public:
  // `isThreadSafe`: the delegate may be called from several threads at once.
  QBUserFileSystem(std::shared_ptr<QBFileSystemDelegate> delegate, bool isThreadSafe);
  ~QBUserFileSystem();
  QBUserFileSystem(const QBUserFileSystem&) = delete;
  QBUserFileSystem& operator=(const QBUserFileSystem&) = delete;

  // Starts mounting at `path` (an existing empty directory) and returns at
  // once; the outcome is the mounted or the failed notification. A second
  // call on the same object reports a failure (EBUSY) without mounting.
  void mountAtPath(const std::string& path, const QBMountOptions& options);

  // Drops what the kernel keeps of `path` (its name or a remembered miss,
  // its attributes and cached data) and its parent folder's attributes and
  // listing, so the next look reaches the delegate. Called from a callback,
  // it is done just after the callback returns (the kernel may hold the
  // locks it needs until then); from any other thread, before it returns.
  // True when done or queued; false when not mounted.
  bool invalidatePath(const std::string& path);

  bool isMounted() const;
  std::string mountPath() const;
  QBFileSystemDelegate& delegate() const { return *delegate_; }

  // The process id behind the request being served on this thread; 0 outside
  // a callback or for a request the kernel makes on its own.
  static pid_t callingProcessId();

  // Unmounts the volume at `path` unless a program still uses it: true on
  // success (the volume's loop then ends and posts its unmounted report);
  // false with a POSIX error (EBUSY when in use) and the volume left working.
  static bool unmountAtPath(const std::string& path, ErrorPtr* error);
  // Takes the volume at `path` away even while it is in use: pending and
  // later requests fail, open files lose their volume. False with an error
  // when nothing could be detached.
  static bool detachAtPath(const std::string& path, ErrorPtr* error);

 private:
  friend struct FuseCallbacks;
  enum class State { idle, mounting, mounted, failed, unmounted };

  void run(std::string path, QBMountOptions options);
  void checkMount(std::string path);
  void didInit();
  void postFailure(int errnum, const std::string& reason);

  const std::shared_ptr<QBFileSystemDelegate> delegate_;
  const bool isThreadSafe_;
  QBMountOptions options_;  // set before the loop thread starts

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::idle;          // guarded by mutex_
  bool initialized_ = false;           // the kernel's handshake is done; guarded by mutex_
  bool loopEnded_ = false;             // guarded by mutex_
  bool closing_ = false;               // the destructor runs; guarded by mutex_
  std::string path_;                   // guarded by mutex_
  struct fuse* fuse_ = nullptr;        // live between mount and destroy; guarded by mutex_
  std::shared_ptr<KernelCacheInvalidator> invalidator_;  // live with fuse_; guarded by mutex_
  std::thread loopThread_;             // started once by mountAtPath

  std::mutex openFilesMutex_;          // taken alone
  std::set<OpenFile*> openFiles_;      // opened and not yet released; guarded by openFilesMutex_
};

}  // namespace greyfox
