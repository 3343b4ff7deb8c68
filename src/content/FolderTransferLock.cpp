#include "content/FolderTransferLock.h"

#include "platform/RunLoop.h"

namespace greyfox {

bool FolderTransferLock::tryLock() {
  std::lock_guard lock(mutex_);
  if (held_) return false;
  held_ = true;
  return true;
}

void FolderTransferLock::unlock() {
  std::set<RunLoop*> toWake;
  {
    std::lock_guard lock(mutex_);
    held_ = false;
    toWake = waiters_;
  }
  for (RunLoop* loop : toWake) loop->wake();
}

bool FolderTransferLock::lockWithinImpl(double seconds, void (*onFailed)(void*), void* context) {
  RunLoop& loop = RunLoop::current();
  {
    std::lock_guard lock(mutex_);
    if (!held_) {
      held_ = true;
      return true;
    }
    waiters_.insert(&loop);
  }
  onFailed(context);
  bool taken = loop.runUntil(seconds, [&] { return tryLock(); });
  std::lock_guard lock(mutex_);
  waiters_.erase(&loop);
  return taken;
}

}  // namespace greyfox
