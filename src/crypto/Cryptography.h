// The encrypted block format of secure-folder files and verifiers, and the
// password key. The service holds every existing user's data in this format,
// so its bytes must not change.
//
// A block, all integers little-endian:
//   offset 0   4 bytes  total length of the block, header included
//   offset 4   2 bytes  format version, 256
//   offset 6   4 bytes  IV seed, a random non-zero 32-bit number
//   offset 10  L bytes  AES-CBC of plaintext || SHA-256(plaintext) || PKCS#7
// with L = (n + 48) rounded down to a multiple of 16 for n plaintext bytes.
// The key is SHA-256 of the password (AES-256); the IV is the first 16 bytes
// of SHA-256 of the key's bytes at even positions followed by the seed's four
// header bytes. Each block carries its own seed and digest, so any block of a
// file decrypts alone.
//
// Every operation is a pure function of its arguments (plus fresh random
// bytes) and may run on any thread. Failures throw CQuillboxException.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace greyfox {

class cryptography {
 public:
  static constexpr std::uint16_t kVersion = 256;
  static constexpr std::size_t kHeaderSize = 10;
  static constexpr std::size_t kKeySize = 32;
  static constexpr std::size_t kIvSize = 16;

  virtual ~cryptography() = default;

  // Plaintext bytes per block: 1024. Throws "Cryptography: Invalid version"
  // for any version but 256.
  static std::size_t get_block_size(std::uint16_t version);
  // Length of a full block: 1082. Throws as get_block_size.
  static std::size_t get_encrypted_block_size(std::uint16_t version);
  // Encrypted length of `size` plaintext bytes cut into blocks.
  static std::uint64_t calculate_encrypted_size(std::uint64_t size, std::uint16_t version);

  // Returns 32; when `out` is given, writes min(32, out_size) bytes of
  // SHA-256 of the password's bytes into it.
  static std::size_t create_key(std::string_view password, std::uint8_t* out, std::size_t out_size);
  // A 32-bit number from 4 random bytes (may be 0).
  static std::uint32_t create_iv_key();
  // With no `out`, returns 16, the IV length. Otherwise writes min(32,
  // out_size) bytes of the IV digest for `seed` and `key` and returns that count.
  static std::size_t create_iv(std::uint32_t seed, const std::uint8_t* key, std::size_t key_length,
                               std::uint8_t* out, std::size_t out_size);
  // Fills `buffer` with random bytes; returns `length`.
  static std::size_t create_random_data(void* buffer, std::size_t length);

  // Encrypts `length` plaintext bytes into one block at `out` and returns its
  // total length; with no `out`, returns that length only. Throws
  // "Encryption: Invalid output size" when `capacity` is too small.
  static std::size_t encrypt(const std::uint8_t* plain, std::size_t length, std::uint8_t* out,
                             std::size_t capacity, const std::uint8_t* key, std::size_t key_length);
  // Decrypts one block of `length` bytes; `out` receives the plaintext
  // followed by its digest and padding, and the result is the plaintext
  // length. With no `out`, returns the room needed (length - 10). Throws
  // "Decryption: Invalid output size", "Decryption: Invalid block size",
  // "Decryption: Invalid cryptography version", and with a wrong key one of
  // "Password Error: processed size is less than padding.",
  // "Password Error: invalid output data size.",
  // "Password Error: Checksums don't match".
  static std::size_t decrypt(const std::uint8_t* in, std::size_t length, std::uint8_t* out, std::size_t capacity,
                             const std::uint8_t* key, std::size_t key_length);
};

}  // namespace greyfox
