// A queue of operations run on worker threads it owns, at most
// `maxConcurrent` at a time, in the order added (serial when 1).
//
// Every member may be called from any thread, also from inside an operation
// (except waitUntilEmpty(), which would wait for itself). The destructor
// cancels what has not started and joins the workers.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace greyfox {

class OperationQueue {
 public:
  using Operation = std::function<void()>;

  explicit OperationQueue(int maxConcurrent = 1, std::string name = "queue");
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  void add(Operation op);
  // A suspended queue starts no further operations; running ones go on.
  void setSuspended(bool suspended);
  bool isSuspended() const;
  // Drops every operation that has not started.
  void cancelAll();
  // Waits until no operation is queued or running; true when that happened
  // within `seconds`.
  bool waitUntilEmpty(double seconds);
  // Operations queued or running.
  std::size_t operationCount() const;
  const std::string& name() const { return name_; }

 private:
  void worker();

  const std::string name_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Operation> pending_;  // guarded by mutex_
  std::size_t running_ = 0;        // guarded by mutex_
  bool suspended_ = false;         // guarded by mutex_
  bool shuttingDown_ = false;      // guarded by mutex_
  std::vector<std::thread> workers_;
};

}  // namespace greyfox
