// The abstract algorithms of the crypto primitives: filters that turn one byte
// stream into another (AES, hexadecimal text) and digests (SHA-256).
//
// An object holds the state of one stream (key schedule, chaining value,
// digest context) and is used by one thread at a time; separate objects may
// run on separate threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace greyfox::qb_crypt {

// The kind reported by get_type.
enum algorithm_type : int { hex_filter_type = 1, aes_type = 2, sha256_type = 6 };

// Block cipher modes accepted by cipher_block_algorithm::set_key.
enum cipher_mode : int { ecb = 1, cbc = 2 };

// The all-ones result by which the hexadecimal filters report a failure.
inline constexpr std::size_t npos = std::numeric_limits<std::size_t>::max();

class algorithm {
 public:
  virtual ~algorithm() = default;
  virtual int get_type() const = 0;
};

class filter : public algorithm {
 public:
  // The output buffer size needed for `length` input bytes.
  virtual std::size_t calc_output_size(std::size_t length) const = 0;
  // Processes as much of the input as the filter can take now and returns the
  // bytes written to `out`, which has room for `capacity` bytes.
  virtual std::size_t process_data(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                   std::size_t capacity) = 0;
  // Processes the last piece of a stream; filters with padding report its
  // length through `padding` when it is given.
  virtual std::size_t process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                         std::size_t capacity, std::size_t* padding = nullptr) = 0;
};

class cipher_block_algorithm : public filter {
 public:
  virtual void set_key(const std::uint8_t* key, std::size_t key_length, int mode) = 0;
  virtual void set_iv(const std::uint8_t* iv, std::size_t length) = 0;
  virtual int get_mode() const = 0;
  virtual std::size_t get_block_size() const = 0;
};

class digest_algorithm : public algorithm {
 public:
  virtual std::size_t get_digest_size() const = 0;
  virtual void update(const void* data, std::size_t length) = 0;
  // Writes the digest; `out` has room for `size` bytes, at least get_digest_size().
  virtual void final(std::uint8_t* out, std::size_t size) = 0;
};

}  // namespace greyfox::qb_crypt
