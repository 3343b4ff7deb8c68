// Process-wide named notifications ("CancelAllUploads", mount reports, ...).
//
// Observers are called synchronously on the posting thread, in the order they
// were added; an observer may add or remove observers while being called.
// Safe to use from any thread.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace greyfox {

inline constexpr const char* kCancelAllUploadsNotification = "CancelAllUploads";

struct Notification {
  std::string name;
  std::any object;
  nlohmann::json userInfo;
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;
  using Token = std::uint64_t;

  static NotificationCenter& defaultCenter();

  Token addObserver(const std::string& name, Observer observer);
  void removeObserver(Token token);
  void post(const std::string& name, std::any object = {}, nlohmann::json userInfo = nullptr);

 private:
  struct Entry {
    Token token;
    std::string name;
    std::shared_ptr<Observer> observer;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;  // guarded by mutex_
  Token next_ = 1;              // guarded by mutex_
};

// Removes its observer when it goes out of scope.
class ScopedObserver {
 public:
  ScopedObserver() = default;
  ScopedObserver(const std::string& name, NotificationCenter::Observer observer,
                 NotificationCenter& center = NotificationCenter::defaultCenter())
      : center_(&center), token_(center.addObserver(name, std::move(observer))) {}
  ~ScopedObserver() { reset(); }
  ScopedObserver(const ScopedObserver&) = delete;
  ScopedObserver& operator=(const ScopedObserver&) = delete;
  ScopedObserver(ScopedObserver&& o) noexcept : center_(o.center_), token_(o.token_) { o.center_ = nullptr; }
  ScopedObserver& operator=(ScopedObserver&& o) noexcept {
    if (this != &o) {
      reset();
      center_ = o.center_;
      token_ = o.token_;
      o.center_ = nullptr;
    }
    return *this;
  }
  void reset() {
    if (center_) center_->removeObserver(token_);
    center_ = nullptr;
  }

 private:
  NotificationCenter* center_ = nullptr;
  NotificationCenter::Token token_ = 0;
};

}  // namespace greyfox
