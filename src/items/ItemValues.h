// Conversions between the service's JSON values, the fields of content items
// and their archived form, and the Unicode forms under which names are kept
// and compared. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace greyfox {

// The value at `keyPath` ("a" or "a.b.c") of a dictionary; nullptr when a step
// is missing or `dict` is not a dictionary.
const nlohmann::json* valueAtKeyPath(const nlohmann::json& dict, std::string_view keyPath);

// --- Reply values (argument nullptr = the key was missing) ---

// A string kept as it came; a number becomes its decimal text (ids may arrive
// as numbers). Missing, null or anything else: nullopt.
std::optional<std::string> replyText(const nlohmann::json* value);
// A 64-bit integer from a JSON number (fraction dropped) or decimal text
// ("12", " -3 ", "12.5"). Missing or null reads as 0. Text that is not a
// number, or a value out of range: nullopt.
std::optional<int64_t> replyInteger(const nlohmann::json* value);
// As replyInteger, but a missing or null value gives nullopt: for numbers
// that are kept unchanged and so have no default.
std::optional<int64_t> replyRequiredInteger(const nlohmann::json* value);
// A real number from a JSON number or decimal text; missing, null or other
// text: nullopt.
std::optional<double> replyRequiredReal(const nlohmann::json* value);
// true/false of a JSON boolean, number or text ("true", "yes", "1", "0");
// missing or null is false; other text is false.
bool replyBool(const nlohmann::json* value);

// Field setters for mapField: store the converted reply value into `out`;
// false (and `out` untouched) when the conversion yields nothing.
bool mapText(const nlohmann::json* value, std::string& out);              // replyText
bool mapName(const nlohmann::json* value, std::string& out);              // replyText, then NFD
bool mapInteger(const nlohmann::json* value, std::optional<int64_t>& out);  // replyInteger
bool mapRequiredInteger(const nlohmann::json* value, std::optional<int64_t>& out);
// Seconds since 1970 read as a 64-bit integer; missing is the 1970 epoch.
bool mapDate(const nlohmann::json* value, std::optional<double>& out);

// --- Archived values (null never reaches these) ---
bool archivedText(const nlohmann::json& value, std::string& out);
bool archivedInteger(const nlohmann::json& value, std::optional<int64_t>& out);
bool archivedReal(const nlohmann::json& value, std::optional<double>& out);
bool archivedBytes(const nlohmann::json& value, std::string& out);
nlohmann::json bytesValue(const std::string& bytes);
template <class T>
nlohmann::json optionalValue(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json();
}

// --- Names ---

// `text` in Unicode canonical decomposition (NFD), the form every file and
// folder name is kept in. Ill-formed UTF-8 sequences become U+FFFD.
std::string toNFD(std::string_view text);
// A key under which two names are equal when they differ only in case or in
// composed versus decomposed form (full case folding, then NFD).
std::string caselessKey(std::string_view text);

}  // namespace greyfox
