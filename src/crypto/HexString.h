// Hexadecimal text filters and itoa. They never throw: a failure is the
// all-ones result `npos`. Stateless; any thread.
#pragma once

#include "crypto/Algorithm.h"

namespace greyfox::qb_crypt {

// Writes `value` in `base` (2 to 36, lower-case letters above 9, a leading
// "-" when negative), NUL-terminated; any other base writes the empty string.
// `buffer` has room for 34 characters. Returns `buffer`.
char* itoa(std::int32_t value, char* buffer, int base);

// Bytes to lower-case hexadecimal text, two digits per byte.
class hex_string_encode : private filter {
 public:
  int get_type() const override { return hex_filter_type; }
  // 2n + 1: the digits and a terminating NUL.
  std::size_t calc_output_size(std::size_t length) const override { return 2 * length + 1; }
  // Writes 2n digits and returns 2n, or npos (writing nothing) when 2n + 1
  // exceeds `capacity`.
  std::size_t process_data(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                           std::size_t capacity) override;
  // As process_data, then a NUL; returns 2n + 1, or npos.
  std::size_t process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                 std::size_t capacity, std::size_t* padding = nullptr) override;
};

// Hexadecimal text (upper or lower case) to bytes; an odd last character is
// ignored.
class hex_string_decode : private filter {
 public:
  int get_type() const override { return hex_filter_type; }
  std::size_t calc_output_size(std::size_t length) const override { return length / 2; }
  // Writes n / 2 bytes and returns n / 2; npos when fewer than 2 characters
  // are given, n / 2 exceeds `capacity`, or a character is not a hexadecimal
  // digit (the output may then hold a partial result).
  std::size_t process_data(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                           std::size_t capacity) override;
  std::size_t process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                 std::size_t capacity, std::size_t* padding = nullptr) override;
};

}  // namespace greyfox::qb_crypt
