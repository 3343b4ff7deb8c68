// Failures injected on demand through the test controls, and the request
// counts they report. A fault is queued for one method and endpoint
// ("GET download/file.json") and served to that many following requests.
//
// Thread-safe: any request thread may take faults, count and sleep.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace greyfox::devservice {

struct Fault {
  // "busy", "empty503", "malformed", "delay", "stall", "cut", "offset", "processing".
  std::string kind;
  double seconds = 0;      // "delay", "stall"
  int64_t afterBytes = 0;  // "stall", "cut"
};

class Faults {
 public:
  // Queues the fault described by {"method","endpoint","kind","count",...};
  // throws std::invalid_argument for an unknown kind or a missing field.
  void add(const nlohmann::json& fields);
  void clear();
  // The next fault queued for `key` ("METHOD endpoint"), used up by this call.
  std::optional<Fault> take(const std::string& key);

  void count(const std::string& key);
  nlohmann::json stats();
  void resetStats();

  // Sleeps `seconds` unless shutdown() comes first; false when it did.
  bool sleepFor(double seconds);
  void shutdown();

 private:
  std::mutex mutex_;  // guards the members below
  std::map<std::string, std::deque<Fault>> queued_;
  std::map<std::string, int64_t> counts_;
  bool stopping_ = false;
  std::condition_variable wake_;
};

}  // namespace greyfox::devservice
