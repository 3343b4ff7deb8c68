// SHA-256 over OpenSSL's EVP interface. One object digests one message and is
// used by one thread at a time. Failures throw CQuillboxException.
#pragma once

#include <array>

#include "crypto/Algorithm.h"

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace greyfox::qb_crypt {

class sha256 : public digest_algorithm {
 public:
  static constexpr std::size_t kDigestSize = 32;
  using digest = std::array<std::uint8_t, kDigestSize>;

  sha256();
  ~sha256() override;  // wipes the context
  sha256(const sha256&) = delete;
  sha256& operator=(const sha256&) = delete;

  int get_type() const override { return sha256_type; }
  std::size_t get_digest_size() const override { return kDigestSize; }
  // Throws "sha256::update: error" when the library fails.
  void update(const void* data, std::size_t length) override;
  // Writes the 32-byte digest. Throws "sha256::final: error" when the library
  // fails or `size` is below 32.
  void final(std::uint8_t* out, std::size_t size) override;

  // The digest of one buffer.
  static digest of(const void* data, std::size_t length);

 private:
  EVP_MD_CTX* ctx_;
};

}  // namespace greyfox::qb_crypt
