// The debug switches that turn extra logging on: named flags kept under the
// preference "DBGKeys". "al_" names gate the API layer's request logging,
// "bfu_" names the background folder update's, "fsl_" names the file
// system's; "ALL" switches every name on.
//
// All members are static and safe from any thread. The options are held in
// memory; the first read loads them (as restoreDebugOptions() does).
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace greyfox {

class QBDebugOptions {
 public:
  // Loads the stored options; when none are stored, stores the defaults
  // ("fsl_appspec", "fsl_results", "al_enabled", "bfu_enabled",
  // "bfu_findersyncobserver", "bfu_folderenter", "bfu_userinfo", each 1).
  static void restoreDebugOptions();
  // Holds `options` (an object of name -> number) and stores it.
  static void storeDebugOptions(const nlohmann::json& options);
  // The options held.
  static nlohmann::json debugOptions();
  // 1 for every name while "ALL" is on; otherwise the stored value of `name`
  // (booleans as 0 or 1), or nullopt when it is not stored.
  static std::optional<long> checkDebugParam(const std::string& name);
  // checkDebugParam(name) holds a non-zero value.
  static bool isOn(const std::string& name) { return checkDebugParam(name).value_or(0) != 0; }
};

}  // namespace greyfox
