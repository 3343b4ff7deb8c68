// AES encryption and decryption in ECB or CBC mode with PKCS#7 padding on the
// final piece, over OpenSSL's EVP interface. Key length 16, 24 or 32 bytes
// selects AES-128, -192 or -256.
//
// One object encrypts or decrypts one stream: in CBC mode the IV buffer carries
// the chaining value from call to call, so consecutive process_data calls
// continue one CBC stream. Use an object from one thread at a time.
// Every failure throws CQuillboxException.
#pragma once

#include <array>

#include "crypto/Algorithm.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace greyfox::qb_crypt {

class aes_cipher : public cipher_block_algorithm {
 public:
  ~aes_cipher() override;
  aes_cipher(const aes_cipher&) = delete;
  aes_cipher& operator=(const aes_cipher&) = delete;

  int get_type() const override { return aes_type; }
  // Builds the key schedule. Throws "aes::set_key: invalid argument" for a
  // missing key, "aes::set_key: invalid key size" for a length other than
  // 16, 24 or 32, "aes::set_key: invalid cipher mode" for a mode other than
  // ecb or cbc, "aes::set_key: unknown error" when the library fails.
  void set_key(const std::uint8_t* key, std::size_t key_length, int mode) override;
  // Copies the 16-byte IV; ignored in ECB mode. Throws "aes::set_iv: invalid
  // iv size" for another length.
  void set_iv(const std::uint8_t* iv, std::size_t length) override;
  // 0 until a key is set.
  int get_mode() const override { return mode_; }
  std::size_t get_block_size() const override { return kBlockSize; }
  // Processes the whole 16-byte blocks of the input (the rest is left to the
  // caller) and returns their count in bytes; input shorter than a block gives
  // 0. Throws "aes::process_data: out of memory" when they do not fit in
  // `capacity`. `in` and `out` may be the same buffer.
  std::size_t process_data(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                           std::size_t capacity) override;

  static constexpr std::size_t kBlockSize = 16;

 protected:
  explicit aes_cipher(bool encrypting);

 private:
  const bool encrypting_;
  EVP_CIPHER_CTX* ctx_ = nullptr;
  int mode_ = 0;
  std::array<std::uint8_t, kBlockSize> iv_{};
  bool has_iv_ = false;
};

class aes_encrypt : public aes_cipher {
 public:
  aes_encrypt() : aes_cipher(true) {}
  // Room for the input and at least one padding byte.
  std::size_t calc_output_size(std::size_t length) const override;
  // Encrypts the input and k = 1..16 bytes of PKCS#7 padding; returns
  // length + k and stores k in `padding` when given. Throws
  // "aes::process_data: out of memory" when the output does not fit.
  std::size_t process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                 std::size_t capacity, std::size_t* padding = nullptr) override;
};

class aes_decrypt : public aes_cipher {
 public:
  aes_decrypt() : aes_cipher(false) {}
  std::size_t calc_output_size(std::size_t length) const override { return length; }
  // Decrypts the whole input, which must be whole blocks (else throws
  // "aes::process_data: invalid input size"), and returns its length. The
  // padding is neither checked nor removed: `padding`, when given, receives
  // the value of the last decrypted byte (0 for empty input).
  std::size_t process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                 std::size_t capacity, std::size_t* padding = nullptr) override;
};

}  // namespace greyfox::qb_crypt
