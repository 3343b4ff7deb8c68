#include "crypto/Aes.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "crypto/CQuillboxException.h"

namespace greyfox::qb_crypt {

namespace {

const EVP_CIPHER* cipherFor(std::size_t key_length, int mode) {
  const bool cbcMode = mode == cbc;
  switch (key_length) {
    case 16: return cbcMode ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
    case 24: return cbcMode ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
    case 32: return cbcMode ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
    default: return nullptr;
  }
}

}  // namespace

aes_cipher::aes_cipher(bool encrypting) : encrypting_(encrypting), ctx_(EVP_CIPHER_CTX_new()) {
  if (!ctx_) throw CQuillboxException("aes: cannot allocate a cipher context");
}

aes_cipher::~aes_cipher() {
  EVP_CIPHER_CTX_free(ctx_);  // cleanses the key schedule
  OPENSSL_cleanse(iv_.data(), iv_.size());
}

void aes_cipher::set_key(const std::uint8_t* key, std::size_t key_length, int mode) {
  if (!key) throw CQuillboxException("aes::set_key: invalid argument");
  if (key_length != 16 && key_length != 24 && key_length != 32) {
    throw CQuillboxException("aes::set_key: invalid key size");
  }
  if (mode != ecb && mode != cbc) throw CQuillboxException("aes::set_key: invalid cipher mode");
  if (EVP_CipherInit_ex(ctx_, cipherFor(key_length, mode), nullptr, key, nullptr, encrypting_ ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx_, 0) != 1) {
    mode_ = 0;
    throw CQuillboxException("aes::set_key: unknown error");
  }
  mode_ = mode;
}

void aes_cipher::set_iv(const std::uint8_t* iv, std::size_t length) {
  if (mode_ == ecb) return;
  if (!iv || length != kBlockSize) throw CQuillboxException("aes::set_iv: invalid iv size");
  std::memcpy(iv_.data(), iv, kBlockSize);
  has_iv_ = true;
}

std::size_t aes_cipher::process_data(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                     std::size_t capacity) {
  const std::size_t whole = length - length % kBlockSize;
  if (whole > capacity) throw CQuillboxException("aes::process_data: out of memory");
  if (whole == 0) return 0;
  if (mode_ == 0) throw CQuillboxException("aes::process_data: key not set");

  std::array<std::uint8_t, kBlockSize> nextIv{};
  if (mode_ == cbc) {
    if (!has_iv_) throw CQuillboxException("aes::process_data: iv not set");
    // Decrypting in place overwrites the last ciphertext block, which is the
    // next chaining value; keep it first.
    if (!encrypting_) std::memcpy(nextIv.data(), in + whole - kBlockSize, kBlockSize);
    if (EVP_CipherInit_ex(ctx_, nullptr, nullptr, nullptr, iv_.data(), -1) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx_, 0) != 1) {
      throw CQuillboxException("aes::process_data: unknown error");
    }
  }
  constexpr std::size_t kMaxStep = (INT_MAX / kBlockSize) * kBlockSize;
  for (std::size_t done = 0; done < whole;) {
    const std::size_t step = std::min(whole - done, kMaxStep);
    int written = 0;
    if (EVP_CipherUpdate(ctx_, out + done, &written, in + done, static_cast<int>(step)) != 1 ||
        static_cast<std::size_t>(written) != step) {
      throw CQuillboxException("aes::process_data: unknown error");
    }
    done += step;
  }
  if (mode_ == cbc) {
    if (encrypting_) std::memcpy(nextIv.data(), out + whole - kBlockSize, kBlockSize);
    iv_ = nextIv;
    OPENSSL_cleanse(nextIv.data(), nextIv.size());
  }
  return whole;
}

std::size_t aes_encrypt::calc_output_size(std::size_t length) const {
  return (length + kBlockSize) / kBlockSize * kBlockSize;
}

std::size_t aes_encrypt::process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                            std::size_t capacity, std::size_t* padding) {
  const std::size_t whole = length - length % kBlockSize;
  if (whole + kBlockSize > capacity) throw CQuillboxException("aes::process_data: out of memory");
  process_data(in, whole, out, capacity);

  const std::size_t rest = length - whole;
  const std::size_t k = kBlockSize - rest;
  std::array<std::uint8_t, kBlockSize> last{};
  if (rest) std::memcpy(last.data(), in + whole, rest);
  std::memset(last.data() + rest, static_cast<int>(k), k);
  process_data(last.data(), kBlockSize, out + whole, kBlockSize);
  OPENSSL_cleanse(last.data(), last.size());
  if (padding) *padding = k;
  return length + k;
}

std::size_t aes_decrypt::process_data_final(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                            std::size_t capacity, std::size_t* padding) {
  if (length % kBlockSize) throw CQuillboxException("aes::process_data: invalid input size");
  process_data(in, length, out, capacity);
  if (padding) *padding = length ? out[length - 1] : 0;
  return length;
}

}  // namespace greyfox::qb_crypt
