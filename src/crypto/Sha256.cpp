#include "crypto/Sha256.h"

#include <openssl/evp.h>

#include "crypto/CQuillboxException.h"

namespace greyfox::qb_crypt {

sha256::sha256() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    throw CQuillboxException("sha256::init: error");
  }
}

sha256::~sha256() { EVP_MD_CTX_free(ctx_); }

void sha256::update(const void* data, std::size_t length) {
  if (length && !data) throw CQuillboxException("sha256::update: error");
  if (EVP_DigestUpdate(ctx_, data, length) != 1) throw CQuillboxException("sha256::update: error");
}

void sha256::final(std::uint8_t* out, std::size_t size) {
  unsigned int written = 0;
  if (!out || size < kDigestSize || EVP_DigestFinal_ex(ctx_, out, &written) != 1 || written != kDigestSize) {
    throw CQuillboxException("sha256::final: error");
  }
}

sha256::digest sha256::of(const void* data, std::size_t length) {
  sha256 hasher;
  hasher.update(data, length);
  digest out;
  hasher.final(out.data(), out.size());
  return out;
}

}  // namespace greyfox::qb_crypt
