#include "drive/QBUserFileSystem.h"

#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "diag/Log.h"
#include "drive/FuseCallbacks.h"
#include "platform/NotificationCenter.h"
#include "platform/Timings.h"

extern char** environ;

namespace greyfox {
namespace {

void logFromLibfuse(fuse_log_level, const char* format, va_list args) {
  char text[1024];
  vsnprintf(text, sizeof text, format, args);
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == '\n') text[--n] = '\0';
  QBLOG("libfuse: %s", text);
}

// Escapes the separators of libfuse's option syntax.
std::string escapeOption(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == ',' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// Runs fusermount3 with `flag` on `path`; its exit status (-1 when it could
// not run).
int runFusermount(const char* flag, const std::string& path) {
  const char* argv[] = {"fusermount3", flag, path.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "fusermount3", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool unmountWith(int flags, const char* fusermountFlag, const std::string& path, ErrorPtr* error) {
  if (geteuid() == 0) {
    if (umount2(path.c_str(), flags) == 0) return true;
    int saved = errno;
    QBLOG("unmount %s failed: %s", path.c_str(), std::strerror(saved));
    setPOSIXError(error, saved);
    return false;
  }
  int status = runFusermount(fusermountFlag, path);
  if (status == 0) return true;
  QBLOG("fusermount3 %s %s exited with %d", fusermountFlag, path.c_str(), status);
  setError(error, kPOSIXErrorDomain, EBUSY, "fusermount3 " + std::string(fusermountFlag) + " exited with status " +
                                                std::to_string(status));
  return false;
}

}  // namespace

ErrorPtr errorFromUserInfo(const nlohmann::json& userInfo) {
  if (!userInfo.is_object() || !userInfo.contains(kGMUserFileSystemErrorKey)) return nullptr;
  const auto& e = userInfo[kGMUserFileSystemErrorKey];
  return makeError(e.value("domain", std::string()), e.value("code", 0L), e.value("reason", std::string()), nullptr);
}

QBMountOptions QBMountOptions::forDrive(const std::string& driveName) {
  QBMountOptions options;
  options.fsName = driveName;
  for (char c : driveName) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                 c == '-' || c == '_';
    options.subtype.push_back(plain ? c : '_');
  }
  return options;
}

QBUserFileSystem::QBUserFileSystem(std::shared_ptr<QBFileSystemDelegate> delegate, bool isThreadSafe)
    : delegate_(std::move(delegate)), isThreadSafe_(isThreadSafe) {
  static std::once_flag logOnce;
  std::call_once(logOnce, [] { fuse_set_log_func(logFromLibfuse); });
}

QBUserFileSystem::~QBUserFileSystem() {
  std::string path;
  bool live = false;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    live = fuse_ != nullptr && !loopEnded_;
    path = path_;
  }
  if (live) detachAtPath(path, nullptr);
  if (loopThread_.joinable()) loopThread_.join();
}

void QBUserFileSystem::mountAtPath(const std::string& path, const QBMountOptions& options) {
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::idle) {
      state_ = State::mounting;
      path_ = path;
      options_ = options;
      loopThread_ = std::thread([this, path, options] { run(path, options); });
      return;
    }
  }
  // This object already mounted once; the failure goes out without touching
  // the volume it serves.
  ErrorPtr error;
  setPOSIXError(&error, EBUSY);
  NotificationCenter::defaultCenter().post(kGMUserFileSystemMountFailed, this,
                                           {{kGMUserFileSystemErrorKey,
                                             {{"domain", error->domain},
                                              {"code", error->code},
                                              {"reason", "This file system was mounted before"}}}});
}

void QBUserFileSystem::postFailure(int errnum, const std::string& reason) {
  QBLOG("Mount of %s failed: %s", mountPath().c_str(), reason.c_str());
  {
    std::lock_guard lock(mutex_);
    state_ = State::failed;
  }
  NotificationCenter::defaultCenter().post(
      kGMUserFileSystemMountFailed, this,
      {{kGMUserFileSystemErrorKey, {{"domain", kPOSIXErrorDomain}, {"code", errnum}, {"reason", reason}}}});
}

void QBUserFileSystem::run(std::string path, QBMountOptions options) {
  // Check the mount point first, so that the failure says why.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    int saved = errno;
    return postFailure(saved, "Bad mount point " + path + ": " + std::strerror(saved));
  }
  if (!S_ISDIR(st.st_mode)) return postFailure(ENOTDIR, "Bad mount point " + path + ": not a folder");

  std::vector<std::string> words = {"greyfox", "-o",
                                    "fsname=" + escapeOption(options.fsName) + ",subtype=" +
                                        escapeOption(options.subtype) + ",max_read=" +
                                        std::to_string(options.maxRead)};
  if (options.allowOther) words.insert(words.end(), {"-o", "allow_other"});
  if (options.defaultPermissions) words.insert(words.end(), {"-o", "default_permissions"});
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());

  const fuse_operations ops = FuseCallbacks::operations();
  struct fuse* f = fuse_new(&args, &ops, sizeof ops, this);
  fuse_opt_free_args(&args);
  if (!f) return postFailure(EINVAL, "The file system could not be set up with its options");
  if (fuse_mount(f, path.c_str()) != 0) {
    fuse_destroy(f);
    return postFailure(EIO, "The volume could not be mounted at " + path);
  }
  bool accepted = false;
  {
    std::lock_guard lock(mutex_);
    accepted = !closing_;
    if (accepted) {
      fuse_ = f;
      invalidator_ = std::make_shared<KernelCacheInvalidator>(f, path);
    }
  }
  if (!accepted) {  // destroyed while mounting: nothing may keep the volume
    fuse_unmount(f);
    fuse_destroy(f);
    return postFailure(ECANCELED, "The file system was closed while mounting");
  }

  std::thread checker([this, path] { checkMount(path); });
  int result = 0;
  if (isThreadSafe_) {
    fuse_loop_config* config = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(config, options.maxThreads);
    result = fuse_loop_mt(f, config);
    fuse_loop_cfg_destroy(config);
  } else {
    result = fuse_loop(f);
  }
  QBLOG("The loop of %s ended (%d)", path.c_str(), result);
  {
    std::lock_guard lock(mutex_);
    loopEnded_ = true;
  }
  changed_.notify_all();
  checker.join();
  FuseCallbacks::releaseOpenFiles(*this);

  std::shared_ptr<KernelCacheInvalidator> invalidator;
  {
    std::lock_guard lock(mutex_);
    invalidator = std::move(invalidator_);
  }
  invalidator->close();

  bool wasMounted = false;
  {
    std::lock_guard lock(mutex_);
    wasMounted = state_ == State::mounted;
    if (wasMounted) state_ = State::unmounted;
    fuse_unmount(f);
    fuse_destroy(f);
    fuse_ = nullptr;
  }
  if (wasMounted) NotificationCenter::defaultCenter().post(kGMUserFileSystemDidUnmount, this);
}

void QBUserFileSystem::didInit() {
  {
    std::lock_guard lock(mutex_);
    initialized_ = true;
  }
  changed_.notify_all();
}

// Waits for the kernel's handshake, then looks at the mount point, which
// reaches the loop; posts the mounted or the failed report.
void QBUserFileSystem::checkMount(std::string path) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration<double>(Timings::current().mountTimeout);
  {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return initialized_ || loopEnded_; });
    if (loopEnded_) {
      lock.unlock();
      return postFailure(EIO, "The volume at " + path + " ended before it answered");
    }
    if (!initialized_) {
      lock.unlock();
      postFailure(ETIMEDOUT, "The volume at " + path + " did not answer in time");
      detachAtPath(path, nullptr);
      return;
    }
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 && (errno == ENOTCONN || errno == ENXIO || errno == ECONNABORTED)) {
    return postFailure(ENOTCONN, "The volume at " + path + " does not answer");
  }
  {
    std::lock_guard lock(mutex_);
    if (loopEnded_) return;
    state_ = State::mounted;
  }
  QBLOG("Mounted %s", path.c_str());
  NotificationCenter::defaultCenter().post(kGMUserFileSystemDidMount, this);
}

bool QBUserFileSystem::invalidatePath(const std::string& path) {
  std::shared_ptr<KernelCacheInvalidator> invalidator;
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::mounted || loopEnded_) return false;
    invalidator = invalidator_;
  }
  return invalidator && invalidator->invalidate(path);
}

bool QBUserFileSystem::isMounted() const {
  std::lock_guard lock(mutex_);
  return state_ == State::mounted && !loopEnded_;
}

std::string QBUserFileSystem::mountPath() const {
  std::lock_guard lock(mutex_);
  return path_;
}

pid_t QBUserFileSystem::callingProcessId() {
  fuse_context* context = fuse_get_context();
  return context ? context->pid : 0;
}

bool QBUserFileSystem::unmountAtPath(const std::string& path, ErrorPtr* error) {
  return unmountWith(0, "-u", path, error);
}

bool QBUserFileSystem::detachAtPath(const std::string& path, ErrorPtr* error) {
  // As root, MNT_FORCE also ends the connection, so requests that wait on
  // the volume fail at once and its loop ends even while files stay open.
  return unmountWith(MNT_FORCE | MNT_DETACH, "-uz", path, error);
}

}  // namespace greyfox
