#include "platform/OperationQueue.h"

#include <chrono>

namespace greyfox {

OperationQueue::OperationQueue(int maxConcurrent, std::string name) : name_(std::move(name)) {
  if (maxConcurrent < 1) maxConcurrent = 1;
  for (int i = 0; i < maxConcurrent; ++i) workers_.emplace_back([this] { worker(); });
}

OperationQueue::~OperationQueue() {
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
    pending_.clear();
  }
  changed_.notify_all();
  for (auto& t : workers_) t.join();
}

void OperationQueue::add(Operation op) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(op));
  }
  changed_.notify_all();
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(mutex_);
    suspended_ = suspended;
  }
  changed_.notify_all();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void OperationQueue::cancelAll() {
  {
    std::lock_guard lock(mutex_);
    pending_.clear();
  }
  changed_.notify_all();
}

bool OperationQueue::waitUntilEmpty(double seconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                           [&] { return pending_.empty() && running_ == 0; });
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mutex_);
  return pending_.size() + running_;
}

void OperationQueue::worker() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return shuttingDown_ || (!suspended_ && !pending_.empty()); });
    if (shuttingDown_) return;
    Operation op = std::move(pending_.front());
    pending_.pop_front();
    ++running_;
    lock.unlock();
    op();
    lock.lock();
    --running_;
    changed_.notify_all();
  }
}

}  // namespace greyfox
