#include "items/ItemValues.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace greyfox {

namespace {

using nlohmann::json;

std::string_view trimmed(std::string_view text) {
  const char* space = " \t\r\n";
  size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

// Splits decimal text ("-12", "12.50", "+.5") into its signed integer part;
// false when the text is not such a number.
bool decimalText(std::string_view text, std::string_view& integerPart, bool& hasDigits) {
  text = trimmed(text);
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digitsStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  integerPart = text.substr(0, i);
  hasDigits = i > digitsStart;
  bool fractionDigits = false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      ++i;
      fractionDigits = true;
    }
  }
  return i == text.size() && (hasDigits || fractionDigits);
}

std::optional<int64_t> integerFromText(std::string_view text) {
  std::string_view integerPart;
  bool hasDigits = false;
  if (!decimalText(text, integerPart, hasDigits)) return std::nullopt;
  if (!hasDigits) return 0;  // ".5", "-.5"
  if (integerPart.front() == '+') integerPart.remove_prefix(1);
  int64_t result = 0;
  auto [end, ec] = std::from_chars(integerPart.data(), integerPart.data() + integerPart.size(), result);
  if (ec != std::errc() || end != integerPart.data() + integerPart.size()) return std::nullopt;
  return result;
}

std::optional<double> realFromText(std::string_view text) {
  std::string_view integerPart;
  bool hasDigits = false;
  if (!decimalText(text, integerPart, hasDigits)) return std::nullopt;
  text = trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double result = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return result;
}

std::optional<int64_t> integerFromNumber(const json& value) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() &&
        value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return std::nullopt;
    }
    return value.get<int64_t>();
  }
  double real = std::trunc(value.get<double>());
  // 2^63 is exactly representable; anything at or above it does not fit.
  if (!std::isfinite(real) || real >= 9223372036854775808.0 || real < -9223372036854775808.0) {
    return std::nullopt;
  }
  return static_cast<int64_t>(real);
}

std::string toUTF8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace

const json* valueAtKeyPath(const json& dict, std::string_view keyPath) {
  const json* current = &dict;
  while (true) {
    if (!current->is_object()) return nullptr;
    size_t dot = keyPath.find('.');
    auto it = current->find(keyPath.substr(0, dot));
    if (it == current->end()) return nullptr;
    current = &*it;
    if (dot == std::string_view::npos) return current;
    keyPath.remove_prefix(dot + 1);
  }
}

std::optional<std::string> replyText(const json* value) {
  if (value == nullptr) return std::nullopt;
  if (value->is_string()) return value->get<std::string>();
  if (value->is_number()) return value->dump();
  return std::nullopt;
}

std::optional<int64_t> replyInteger(const json* value) {
  if (value == nullptr || value->is_null()) return 0;
  return replyRequiredInteger(value);
}

std::optional<int64_t> replyRequiredInteger(const json* value) {
  if (value == nullptr) return std::nullopt;
  if (value->is_number()) return integerFromNumber(*value);
  if (value->is_string()) return integerFromText(value->get_ref<const std::string&>());
  if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
  return std::nullopt;
}

std::optional<double> replyRequiredReal(const json* value) {
  if (value == nullptr) return std::nullopt;
  if (value->is_number()) return value->get<double>();
  if (value->is_string()) return realFromText(value->get_ref<const std::string&>());
  return std::nullopt;
}

bool replyBool(const json* value) {
  if (value == nullptr) return false;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_number()) return value->get<double>() != 0;
  if (value->is_string()) {
    std::string_view text = trimmed(value->get_ref<const std::string&>());
    if (text.empty()) return false;
    char c = text.front();
    if (c == 't' || c == 'T' || c == 'y' || c == 'Y') return true;
    auto number = realFromText(text);
    return number && *number != 0;
  }
  return false;
}

bool mapText(const json* value, std::string& out) {
  auto text = replyText(value);
  if (!text) return false;
  out = std::move(*text);
  return true;
}

bool mapName(const json* value, std::string& out) {
  auto text = replyText(value);
  if (!text) return false;
  out = toNFD(*text);
  return true;
}

bool mapInteger(const json* value, std::optional<int64_t>& out) {
  auto number = replyInteger(value);
  if (!number) return false;
  out = number;
  return true;
}

bool mapRequiredInteger(const json* value, std::optional<int64_t>& out) {
  auto number = replyRequiredInteger(value);
  if (!number) return false;
  out = number;
  return true;
}

bool mapDate(const json* value, std::optional<double>& out) {
  auto seconds = replyInteger(value);
  if (!seconds) return false;
  out = static_cast<double>(*seconds);
  return true;
}

bool archivedText(const json& value, std::string& out) {
  if (!value.is_string()) return false;
  out = value.get<std::string>();
  return true;
}

bool archivedInteger(const json& value, std::optional<int64_t>& out) {
  if (value.is_boolean()) {
    out = value.get<bool>() ? 1 : 0;
    return true;
  }
  if (!value.is_number()) return false;
  out = integerFromNumber(value);
  return out.has_value();
}

bool archivedReal(const json& value, std::optional<double>& out) {
  if (!value.is_number()) return false;
  out = value.get<double>();
  return true;
}

bool archivedBytes(const json& value, std::string& out) {
  if (!value.is_binary()) return false;
  const auto& bytes = value.get_binary();
  out.assign(bytes.begin(), bytes.end());
  return true;
}

json bytesValue(const std::string& bytes) {
  return json::binary(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::string toNFD(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status)) return std::string(text);
  icu::UnicodeString source = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
  icu::UnicodeString result = nfd->normalize(source, status);
  if (U_FAILURE(status)) return std::string(text);
  return toUTF8(result);
}

std::string caselessKey(std::string_view text) {
  bool ascii = true;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    std::string key(text);
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
  }
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status)) return std::string(text);
  icu::UnicodeString folded = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
  folded = nfd->normalize(folded, status);
  folded.foldCase(U_FOLD_CASE_DEFAULT);
  icu::UnicodeString result = nfd->normalize(folded, status);
  if (U_FAILURE(status)) return std::string(text);
  return toUTF8(result);
}

}  // namespace greyfox
