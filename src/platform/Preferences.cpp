#include "platform/Preferences.h"

#include <map>
#include <memory>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace greyfox {

Preferences::Preferences(std::string file) : file_(std::move(file)), values_(nlohmann::json::object()) {
  if (auto text = readWholeFile(file_)) {
    auto parsed = nlohmann::json::parse(*text, nullptr, false);
    if (parsed.is_object()) values_ = std::move(parsed);
  }
}

Preferences& Preferences::standard() {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<Preferences>> byFile;
  std::lock_guard lock(mutex);
  auto& slot = byFile[Paths::current().preferencesFile()];
  if (!slot) slot = std::make_unique<Preferences>(Paths::current().preferencesFile());
  return *slot;
}

nlohmann::json Preferences::get(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? nlohmann::json() : *it;
}

bool Preferences::contains(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return values_.contains(key);
}

void Preferences::set(const std::string& key, nlohmann::json value) {
  std::lock_guard lock(mutex_);
  values_[key] = std::move(value);
  save();
}

void Preferences::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
  save();
}

bool Preferences::boolValue(const std::string& key, bool fallback) const {
  auto v = get(key);
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number()) return v.get<double>() != 0;
  return fallback;
}

void Preferences::save() {
  // A failed write keeps the values in memory; the next change tries again.
  writeFileAtomically(file_, values_.dump(2), 0600, nullptr);
}

}  // namespace greyfox
