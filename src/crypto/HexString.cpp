#include "crypto/HexString.h"

#include <algorithm>

namespace greyfox::qb_crypt {

char* itoa(std::int32_t value, char* buffer, int base) {
  if (base < 2 || base > 36) {
    buffer[0] = '\0';
    return buffer;
  }
  // Work on the magnitude as unsigned so that INT32_MIN has one too.
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char* p = buffer;
  do {
    const std::uint32_t digit = magnitude % static_cast<std::uint32_t>(base);
    *p++ = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    magnitude /= static_cast<std::uint32_t>(base);
  } while (magnitude);
  if (value < 0) *p++ = '-';
  *p = '\0';
  std::reverse(buffer, p);
  return buffer;
}

std::size_t hex_string_encode::process_data(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                            std::size_t capacity) {
  if (length > (npos - 1) / 2 || 2 * length + 1 > capacity) return npos;
  char digits[34];
  for (std::size_t i = 0; i < length; ++i) {
    itoa(in[i], digits, 16);
    const bool single = digits[1] == '\0';
    out[2 * i] = static_cast<std::uint8_t>(single ? '0' : digits[0]);
    out[2 * i + 1] = static_cast<std::uint8_t>(single ? digits[0] : digits[1]);
  }
  return 2 * length;
}

std::size_t hex_string_encode::process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                                  std::size_t capacity, std::size_t*) {
  // process_data has already made sure of room for the NUL.
  const std::size_t written = process_data(in, length, out, capacity);
  if (written == npos) return npos;
  out[written] = '\0';
  return written + 1;
}

namespace {
int digitValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::size_t hex_string_decode::process_data(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                            std::size_t capacity) {
  const std::size_t bytes = length / 2;
  if (length < 2 || bytes > capacity) return npos;
  for (std::size_t i = 0; i < bytes; ++i) {
    const int high = digitValue(in[2 * i]);
    const int low = digitValue(in[2 * i + 1]);
    if (high < 0 || low < 0) return npos;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return bytes;
}

std::size_t hex_string_decode::process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                                  std::size_t capacity, std::size_t*) {
  return process_data(in, length, out, capacity);
}

}  // namespace greyfox::qb_crypt
