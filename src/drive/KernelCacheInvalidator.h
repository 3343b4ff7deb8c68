// Drops what the kernel keeps of a path on a mounted volume: its name in the
// parent folder (also a remembered miss), its attributes and cached data, and
// the parent's attributes and listing. Internal to QBUserFileSystem.
//
// The kernel holds a folder's or a file's lock while it waits for some
// callbacks (a create or a rename in the folder, a write to the file), and
// dropping the cache takes the same lock; so a request made on a callback
// thread is queued and done on this object's own thread once the callback
// has returned, while a request from any other thread is done before the
// call returns. Thread-safe.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

struct fuse;

namespace greyfox {

class KernelCacheInvalidator {
 public:
  // `f` stays valid until close() returns.
  KernelCacheInvalidator(struct fuse* f, std::string mountPoint);
  ~KernelCacheInvalidator();
  KernelCacheInvalidator(const KernelCacheInvalidator&) = delete;
  KernelCacheInvalidator& operator=(const KernelCacheInvalidator&) = delete;

  // True when done (or queued, on a callback thread); false once closed or
  // when the kernel refused.
  bool invalidate(const std::string& path);
  // Ends the queue thread; later calls answer false. Call before `f` goes.
  void close();

 private:
  bool invalidateNow(const std::string& path);
  void drain();

  struct fuse* const fuse_;
  const std::string mountPoint_;

  std::mutex workMutex_;         // held while the kernel is told; taken after queueMutex_ is released
  bool closed_ = false;          // guarded by workMutex_

  std::mutex queueMutex_;
  std::condition_variable queued_;
  std::deque<std::string> queue_;  // guarded by queueMutex_
  bool stopping_ = false;          // guarded by queueMutex_
  std::thread thread_;
};

}  // namespace greyfox
