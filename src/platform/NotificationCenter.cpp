#include "platform/NotificationCenter.h"

#include <algorithm>

namespace greyfox {

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter();
  return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Observer observer) {
  std::lock_guard lock(mutex_);
  Token token = next_++;
  entries_.push_back({token, name, std::make_shared<Observer>(std::move(observer))});
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const std::string& name, std::any object, nlohmann::json userInfo) {
  std::vector<std::shared_ptr<Observer>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_)
      if (e.name == name) targets.push_back(e.observer);
  }
  Notification n{name, std::move(object), std::move(userInfo)};
  for (const auto& observer : targets) (*observer)(n);
}

}  // namespace greyfox
