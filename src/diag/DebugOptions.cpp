#include "diag/DebugOptions.h"

#include <mutex>

#include "platform/Preferences.h"

namespace greyfox {

namespace {

constexpr const char* kDebugOptionsKey = "DBGKeys";

struct Options {
  std::mutex mutex;
  bool loaded = false;                              // guarded by mutex
  nlohmann::json values = nlohmann::json::object();  // guarded by mutex
};
Options& options() {
  static auto* o = new Options();  // never destroyed: read by logging during static teardown
  return *o;
}

nlohmann::json defaultOptions() {
  nlohmann::json d = nlohmann::json::object();
  for (const char* name : {"fsl_appspec", "fsl_results", "al_enabled", "bfu_enabled", "bfu_findersyncobserver",
                           "bfu_folderenter", "bfu_userinfo"}) {
    d[name] = 1;
  }
  return d;
}

void restoreLocked(Options& o) {
  nlohmann::json stored = Preferences::standard().get(kDebugOptionsKey);
  if (!stored.is_object()) {
    stored = defaultOptions();
    Preferences::standard().set(kDebugOptionsKey, stored);
  }
  o.values = std::move(stored);
  o.loaded = true;
}

std::optional<long> numberValue(const nlohmann::json& values, const std::string& name) {
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  if (it->is_boolean()) return it->get<bool>() ? 1 : 0;
  if (it->is_number()) return static_cast<long>(it->get<double>());
  return std::nullopt;
}

}  // namespace

void QBDebugOptions::restoreDebugOptions() {
  auto& o = options();
  std::lock_guard lock(o.mutex);
  restoreLocked(o);
}

void QBDebugOptions::storeDebugOptions(const nlohmann::json& values) {
  auto& o = options();
  std::lock_guard lock(o.mutex);
  o.values = values.is_object() ? values : nlohmann::json::object();
  o.loaded = true;
  Preferences::standard().set(kDebugOptionsKey, o.values);
}

nlohmann::json QBDebugOptions::debugOptions() {
  auto& o = options();
  std::lock_guard lock(o.mutex);
  if (!o.loaded) restoreLocked(o);
  return o.values;
}

std::optional<long> QBDebugOptions::checkDebugParam(const std::string& name) {
  auto& o = options();
  std::lock_guard lock(o.mutex);
  if (!o.loaded) restoreLocked(o);
  if (numberValue(o.values, "ALL").value_or(0) != 0) return 1;
  return numberValue(o.values, name);
}

}  // namespace greyfox
