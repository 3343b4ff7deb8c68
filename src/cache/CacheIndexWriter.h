// Writes changed class indexes to the backend in the background, so that a
// download storing its descriptor on every range does not rewrite a large
// index each time. A change is written Timings::indexWriteDelay after it is
// made; an index whose last write took long waits ten times that write's
// duration instead, so writing takes at most about a tenth of a core, but
// never longer than Timings::indexWriteLatest. What a fetch sees is the index
// in memory and always exact; only its disk copy trails. flush() and the
// destructor write what is pending.
//
// Any thread may schedule. Writes are serialised by writeMutex_, which is
// taken with no index lock held and before the index's own lock; mutex_ is a
// leaf.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cache/QBCacheBackend.h"

namespace greyfox {

class CacheIndexWriter {
 public:
  explicit CacheIndexWriter(QBCacheBackend& backend);
  ~CacheIndexWriter();
  CacheIndexWriter(const CacheIndexWriter&) = delete;
  CacheIndexWriter& operator=(const CacheIndexWriter&) = delete;

  // Schedules a write of the class's index; a write already pending covers
  // this change too. May be called with the index locked.
  void scheduleWrite(const std::shared_ptr<QBCacheIndex>& index, const std::string& className);
  // Writes the class's index now and drops its pending write.
  // REQUIRES: no index lock held by the caller.
  void writeNow(const std::shared_ptr<QBCacheIndex>& index, const std::string& className);
  // Writes every pending index now. REQUIRES: no index lock held.
  void flush();

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Pending {
    std::shared_ptr<QBCacheIndex> index;
    TimePoint due;
  };

  void run();
  void write(const QBCacheIndex& index, const std::string& className);  // REQUIRES: writeMutex_ held

  QBCacheBackend& backend_;
  std::mutex writeMutex_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, Pending> pending_;  // class name -> write; guarded by mutex_
  std::map<std::string, double> lastWriteSeconds_;  // class name -> duration of its last write; guarded by mutex_
  bool stopping_ = false;                   // guarded by mutex_
  std::thread thread_;                      // started last
};

}  // namespace greyfox
