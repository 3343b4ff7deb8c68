#include "drive/KernelCacheInvalidator.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "diag/Log.h"
#include "drive/FuseCallbacks.h"

#include <fuse_lowlevel.h>

namespace greyfox {

KernelCacheInvalidator::KernelCacheInvalidator(struct fuse* f, std::string mountPoint)
    : fuse_(f), mountPoint_(std::move(mountPoint)) {
  thread_ = std::thread([this] { drain(); });
}

KernelCacheInvalidator::~KernelCacheInvalidator() { close(); }

bool KernelCacheInvalidator::invalidate(const std::string& path) {
  fuse_context* context = fuse_get_context();
  if (context && context->fuse == fuse_) {
    {
      std::lock_guard lock(queueMutex_);
      if (stopping_) return false;
      queue_.push_back(path);
    }
    queued_.notify_one();
    return true;
  }
  return invalidateNow(path);
}

void KernelCacheInvalidator::close() {
  {
    std::lock_guard lock(queueMutex_);
    stopping_ = true;
  }
  queued_.notify_one();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(workMutex_);
  closed_ = true;
}

void KernelCacheInvalidator::drain() {
  for (;;) {
    std::string path;
    {
      std::unique_lock lock(queueMutex_);
      queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      path = std::move(queue_.front());
      queue_.pop_front();
    }
    invalidateNow(path);
  }
}

bool KernelCacheInvalidator::invalidateNow(const std::string& path) {
  std::lock_guard lock(workMutex_);
  if (closed_) return false;
  bool ok = true;
  // -ENOENT below: the kernel holds nothing of that name or node.
  auto slash = path.find_last_of('/');
  if (path != "/" && slash != std::string::npos) {
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    // The volume reports each node's id as its inode number, which is what
    // the kernel needs to find the name.
    struct stat st {};
    if (::stat((parent == "/" ? mountPoint_ : mountPoint_ + parent).c_str(), &st) == 0) {
      int result = fuse_lowlevel_notify_inval_entry(fuse_get_session(fuse_), st.st_ino, name.c_str(), name.size());
      if (result != 0 && result != -ENOENT) {
        QBLOG("invalidate the name %s failed: %s", path.c_str(), std::strerror(-result));
        ok = false;
      }
    }
    int result = fuse_invalidate_path(fuse_, parent.c_str());
    if (result != 0 && result != -ENOENT) {
      QBLOG("invalidate %s failed: %s", parent.c_str(), std::strerror(-result));
      ok = false;
    }
  }
  int result = fuse_invalidate_path(fuse_, path.c_str());
  if (result != 0 && result != -ENOENT) {
    QBLOG("invalidate %s failed: %s", path.c_str(), std::strerror(-result));
    ok = false;
  }
  return ok;
}

}  // namespace greyfox
