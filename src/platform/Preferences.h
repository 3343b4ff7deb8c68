// The user's settings ("autoLogin", "DBGKeys", "running", ...), kept as one
// JSON object in the preferences file under the configuration directory.
// Every change is written through at once (atomically). Safe from any thread.
#pragma once

#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace greyfox {

class Preferences {
 public:
  explicit Preferences(std::string file);

  // The preferences of the paths in force (re-read when the paths change).
  static Preferences& standard();

  // The stored value, or null when the key is absent.
  nlohmann::json get(const std::string& key) const;
  bool contains(const std::string& key) const;
  void set(const std::string& key, nlohmann::json value);
  void remove(const std::string& key);
  bool boolValue(const std::string& key, bool fallback = false) const;

  const std::string& file() const { return file_; }

 private:
  void save();  // REQUIRES: mutex_ held

  const std::string file_;
  mutable std::mutex mutex_;
  nlohmann::json values_;  // guarded by mutex_
};

}  // namespace greyfox
