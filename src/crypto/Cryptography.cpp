#include "crypto/Cryptography.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <openssl/crypto.h>

#include "crypto/Aes.h"
#include "crypto/CQuillboxException.h"
#include "crypto/RandData.h"
#include "crypto/Sha256.h"

namespace greyfox {

namespace {

constexpr std::size_t kDigestSize = qb_crypt::sha256::kDigestSize;
constexpr std::size_t kAesBlock = qb_crypt::aes_cipher::kBlockSize;

void checkVersion(std::uint16_t version) {
  if (version != cryptography::kVersion) throw CQuillboxException("Cryptography: Invalid version");
}

// Body length for n plaintext bytes: plaintext, digest and 1 to 16 bytes of
// padding, in whole AES blocks.
std::size_t bodyLength(std::size_t n) { return (n + kDigestSize + kAesBlock) / kAesBlock * kAesBlock; }

void putLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t getLE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// Wipes a buffer of secret bytes when it goes out of scope.
template <std::size_t N>
struct Wiped {
  std::array<std::uint8_t, N> bytes{};
  ~Wiped() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

}  // namespace

std::size_t cryptography::get_block_size(std::uint16_t version) {
  checkVersion(version);
  return 1024;
}

std::size_t cryptography::get_encrypted_block_size(std::uint16_t version) {
  checkVersion(version);
  return kHeaderSize + bodyLength(get_block_size(version));
}

std::uint64_t cryptography::calculate_encrypted_size(std::uint64_t size, std::uint16_t version) {
  const std::uint64_t block = get_block_size(version);
  const std::uint64_t rest = size % block;
  std::uint64_t total = size / block * get_encrypted_block_size(version);
  if (rest) total += bodyLength(rest) + kHeaderSize;
  return total;
}

std::size_t cryptography::create_key(std::string_view password, std::uint8_t* out, std::size_t out_size) {
  if (out) {
    auto digest = qb_crypt::sha256::of(password.data(), password.size());
    std::memcpy(out, digest.data(), std::min(out_size, digest.size()));
    OPENSSL_cleanse(digest.data(), digest.size());
  }
  return kKeySize;
}

std::uint32_t cryptography::create_iv_key() {
  std::uint8_t bytes[4];
  qb_crypt::rand_data().generate(bytes, sizeof bytes);
  return getLE32(bytes);
}

std::size_t cryptography::create_iv(std::uint32_t seed, const std::uint8_t* key, std::size_t key_length,
                                    std::uint8_t* out, std::size_t out_size) {
  if (!out) return kIvSize;
  qb_crypt::sha256 hasher;
  for (std::size_t i = 0; i + 1 < key_length; i += 2) hasher.update(key + i, 1);
  std::uint8_t seedBytes[4];
  putLE32(seedBytes, seed);
  hasher.update(seedBytes, sizeof seedBytes);
  Wiped<kDigestSize> digest;
  hasher.final(digest.bytes.data(), digest.bytes.size());
  const std::size_t written = std::min(out_size, kDigestSize);
  std::memcpy(out, digest.bytes.data(), written);
  return written;
}

std::size_t cryptography::create_random_data(void* buffer, std::size_t length) {
  qb_crypt::rand_data().generate(buffer, length);
  return length;
}

std::size_t cryptography::encrypt(const std::uint8_t* plain, std::size_t length, std::uint8_t* out,
                                  std::size_t capacity, const std::uint8_t* key, std::size_t key_length) {
  const std::size_t total = kHeaderSize + bodyLength(length);
  if (!out) return total;
  if (total > capacity || total > UINT32_MAX) throw CQuillboxException("Encryption: Invalid output size");

  std::uint32_t seed = 0;
  while (seed == 0) seed = create_iv_key();
  Wiped<kIvSize> iv;
  create_iv(seed, key, key_length, iv.bytes.data(), iv.bytes.size());

  putLE32(out, static_cast<std::uint32_t>(total));
  out[4] = static_cast<std::uint8_t>(kVersion & 0xff);
  out[5] = static_cast<std::uint8_t>(kVersion >> 8);
  putLE32(out + 6, seed);

  qb_crypt::aes_encrypt aes;
  aes.set_key(key, key_length, qb_crypt::cbc);
  aes.set_iv(iv.bytes.data(), iv.bytes.size());

  std::uint8_t* body = out + kHeaderSize;
  const std::size_t bodyCapacity = capacity - kHeaderSize;
  const std::size_t whole = aes.process_data(plain, length, body, bodyCapacity);

  // The plaintext's last partial AES block, then its digest, go through the
  // padding step.
  const std::size_t rest = length - whole;
  Wiped<kAesBlock + kDigestSize> tail;
  if (rest) std::memcpy(tail.bytes.data(), plain + whole, rest);
  const auto digest = qb_crypt::sha256::of(plain, length);
  std::memcpy(tail.bytes.data() + rest, digest.data(), digest.size());
  const std::size_t last =
      aes.process_data_final(tail.bytes.data(), rest + kDigestSize, body + whole, bodyCapacity - whole);
  return kHeaderSize + whole + last;
}

std::size_t cryptography::decrypt(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                                  std::size_t capacity, const std::uint8_t* key, std::size_t key_length) {
  // A block shorter than its header cannot be read at all.
  if (length < kHeaderSize) throw CQuillboxException("Decryption: Invalid block size");
  const std::size_t body = length - kHeaderSize;
  if (!out) return body;
  if (body > capacity) throw CQuillboxException("Decryption: Invalid output size");
  if (getLE32(in) > length) throw CQuillboxException("Decryption: Invalid block size");
  const std::uint16_t version = static_cast<std::uint16_t>(in[4] | in[5] << 8);
  if (version != kVersion) throw CQuillboxException("Decryption: Invalid cryptography version");

  Wiped<kIvSize> iv;
  create_iv(getLE32(in + 6), key, key_length, iv.bytes.data(), iv.bytes.size());
  qb_crypt::aes_decrypt aes;
  aes.set_key(key, key_length, qb_crypt::cbc);
  aes.set_iv(iv.bytes.data(), iv.bytes.size());

  std::size_t padding = 0;
  const std::size_t processed = aes.process_data_final(in + kHeaderSize, body, out, capacity, &padding);
  if (processed <= padding) throw CQuillboxException("Password Error: processed size is less than padding.");
  if (processed - padding < kDigestSize) throw CQuillboxException("Password Error: invalid output data size.");
  const std::size_t plainLength = processed - padding - kDigestSize;

  const auto digest = qb_crypt::sha256::of(out, plainLength);
  if (CRYPTO_memcmp(digest.data(), out + plainLength, kDigestSize) != 0) {
    throw CQuillboxException("Password Error: Checksums don't match");
  }
  return plainLength;
}

}  // namespace greyfox
