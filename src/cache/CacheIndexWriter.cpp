#include "cache/CacheIndexWriter.h"

#include <algorithm>
#include <vector>

#include "diag/Log.h"
#include "platform/Timings.h"

namespace greyfox {

CacheIndexWriter::CacheIndexWriter(QBCacheBackend& backend) : backend_(backend), thread_([this] { run(); }) {}

CacheIndexWriter::~CacheIndexWriter() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  flush();
}

void CacheIndexWriter::scheduleWrite(const std::shared_ptr<QBCacheIndex>& index, const std::string& className) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (pending_.contains(className)) return;
  const Timings& timings = Timings::current();
  auto last = lastWriteSeconds_.find(className);
  double seconds = std::max(timings.indexWriteDelay, last == lastWriteSeconds_.end() ? 0.0 : 10 * last->second);
  auto delay = std::chrono::duration<double>(std::min(seconds, timings.indexWriteLatest));
  pending_.emplace(className, Pending{index, std::chrono::steady_clock::now() +
                                                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay)});
  wake_.notify_all();
}

void CacheIndexWriter::writeNow(const std::shared_ptr<QBCacheIndex>& index, const std::string& className) {
  std::lock_guard<std::mutex> writing(writeMutex_);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    pending_.erase(className);
  }
  write(*index, className);
}

void CacheIndexWriter::flush() {
  std::lock_guard<std::mutex> writing(writeMutex_);
  std::map<std::string, Pending> due;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    due.swap(pending_);
  }
  for (const auto& [className, pending] : due) write(*pending.index, className);
}

void CacheIndexWriter::write(const QBCacheIndex& index, const std::string& className) {
  auto start = std::chrono::steady_clock::now();
  try {
    backend_.storeIndex(index, className);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::lock_guard<std::mutex> guard(mutex_);
    lastWriteSeconds_[className] = took.count();
  } catch (const QBCacheException& e) {
    QBLOG("Caught exception %s in QBCacheBackend.storeIndex() with the reason %s", e.name().c_str(), e.what());
  } catch (const std::exception& e) {
    QBLOG("Caught exception %s in QBCacheBackend.storeIndex() with the reason %s", "std::exception", e.what());
  }
}

void CacheIndexWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (pending_.empty()) {
      wake_.wait(lock);
      continue;
    }
    TimePoint next = TimePoint::max();
    for (const auto& entry : pending_) next = std::min(next, entry.second.due);
    if (std::chrono::steady_clock::now() < next) {
      wake_.wait_until(lock, next);
      continue;
    }
    lock.unlock();
    {
      std::lock_guard<std::mutex> writing(writeMutex_);
      std::vector<std::pair<std::string, std::shared_ptr<QBCacheIndex>>> due;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        auto now = std::chrono::steady_clock::now();
        for (auto it = pending_.begin(); it != pending_.end();) {
          if (it->second.due <= now) {
            due.emplace_back(it->first, it->second.index);
            it = pending_.erase(it);
          } else {
            ++it;
          }
        }
      }
      for (const auto& [className, index] : due) write(*index, className);
    }
    lock.lock();
  }
}

}  // namespace greyfox
