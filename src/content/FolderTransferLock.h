// A two-state lock (free, held) that is not tied to a thread: a download takes
// its folder's lock on a file-system thread and the main thread releases it
// when the download ends. Releasing a free lock does nothing.
//
// A thread waiting for the lock runs its own run loop meanwhile, so a waiter
// on the main thread still delivers the callback that will release the lock;
// a release wakes every waiter at once.
#pragma once

#include <mutex>
#include <set>

namespace greyfox {

class RunLoop;

class FolderTransferLock {
 public:
  FolderTransferLock() = default;
  FolderTransferLock(const FolderTransferLock&) = delete;
  FolderTransferLock& operator=(const FolderTransferLock&) = delete;

  // Takes the lock when it is free; never waits.
  bool tryLock();
  // Frees the lock and wakes its waiters.
  void unlock();
  // Runs the calling thread's run loop until the lock is taken or `seconds`
  // pass; true when taken. `onFailedTry` is called once when the first
  // attempt finds the lock held, before the wait begins.
  template <class OnFailedTry>
  bool lockWithin(double seconds, OnFailedTry onFailedTry);

 private:
  bool lockWithinImpl(double seconds, void (*onFailed)(void*), void* context);

  std::mutex mutex_;
  bool held_ = false;             // guarded by mutex_
  std::set<RunLoop*> waiters_;    // run loops to wake on release; guarded by mutex_
};

template <class OnFailedTry>
bool FolderTransferLock::lockWithin(double seconds, OnFailedTry onFailedTry) {
  return lockWithinImpl(
      seconds, [](void* c) { (*static_cast<OnFailedTry*>(c))(); }, &onFailedTry);
}

}  // namespace greyfox
