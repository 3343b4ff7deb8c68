#include "Faults.h"

#include <chrono>
#include <set>
#include <stdexcept>

namespace greyfox::devservice {

void Faults::add(const nlohmann::json& fields) {
  static const std::set<std::string> kinds = {"busy",  "empty503", "malformed", "delay",
                                              "stall", "cut",      "offset",    "processing"};
  for (const char* key : {"method", "endpoint", "kind"})
    if (!fields.contains(key) || !fields[key].is_string()) throw std::invalid_argument(std::string("missing ") + key);
  Fault fault;
  fault.kind = fields["kind"].get<std::string>();
  if (!kinds.count(fault.kind)) throw std::invalid_argument("unknown kind " + fault.kind);
  if ((fault.kind == "delay" || fault.kind == "stall") && !fields.contains("seconds"))
    throw std::invalid_argument("missing seconds");
  if ((fault.kind == "stall" || fault.kind == "cut") && !fields.contains("after_bytes"))
    throw std::invalid_argument("missing after_bytes");
  fault.seconds = fields.value("seconds", 0.0);
  fault.afterBytes = fields.value("after_bytes", int64_t{0});
  int64_t count = fields.value("count", int64_t{1});
  std::string key = fields["method"].get<std::string>() + " " + fields["endpoint"].get<std::string>();
  std::lock_guard lock(mutex_);
  for (int64_t i = 0; i < count; ++i) queued_[key].push_back(fault);
}

void Faults::clear() {
  std::lock_guard lock(mutex_);
  queued_.clear();
}

std::optional<Fault> Faults::take(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = queued_.find(key);
  if (it == queued_.end() || it->second.empty()) return std::nullopt;
  Fault fault = it->second.front();
  it->second.pop_front();
  return fault;
}

void Faults::count(const std::string& key) {
  std::lock_guard lock(mutex_);
  ++counts_[key];
}

nlohmann::json Faults::stats() {
  std::lock_guard lock(mutex_);
  nlohmann::json out = nlohmann::json::object();
  for (const auto& [key, n] : counts_) out[key] = n;
  return out;
}

void Faults::resetStats() {
  std::lock_guard lock(mutex_);
  counts_.clear();
}

bool Faults::sleepFor(double seconds) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
}

void Faults::shutdown() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
}

}  // namespace greyfox::devservice
