#include "secure/EncryptedDirectory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <openssl/crypto.h>

#include "crypto/CQuillboxException.h"
#include "crypto/Cleanse.h"
#include "crypto/Cryptography.h"
#include "crypto/HexString.h"
#include "crypto/Sha256.h"

namespace greyfox {

namespace {

constexpr std::size_t kVerifierSecretSize = 128;

const std::uint8_t* bytesOf(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }
std::uint8_t* bytesOf(std::string& s) { return reinterpret_cast<std::uint8_t*>(s.data()); }

std::string hexText(const std::uint8_t* bytes, std::size_t length) {
  qb_crypt::hex_string_encode encoder;
  std::string text(encoder.calc_output_size(length), '\0');
  const std::size_t written = encoder.process_data_final(bytes, length, bytesOf(text), text.size());
  if (written == qb_crypt::npos) throw CQuillboxException("hex_string_encode: output too small");
  text.resize(written - 1);  // drop the NUL
  return text;
}

std::string folderKey(std::string_view password) {
  std::string key(cryptography::kKeySize, '\0');
  cryptography::create_key(password, bytesOf(key), key.size());
  return key;
}

char* copyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

void encrypted_directory::set_password(std::string_view password, std::string& hash, std::string& data) {
  std::string secret(kVerifierSecretSize, '\0');
  qb_crypt::cleanse_guard wipeSecret(secret);
  cryptography::create_random_data(secret.data(), secret.size());
  const auto secretDigest = qb_crypt::sha256::of(secret.data(), secret.size());

  std::string key = folderKey(password);
  qb_crypt::cleanse_guard wipeKey(key);
  std::string block(encryptBlock(bytesOf(secret), nullptr, bytesOf(key), key.size(), secret.size()), '\0');
  const std::size_t blockLength =
      encryptBlock(bytesOf(secret), bytesOf(block), bytesOf(key), key.size(), secret.size());

  hash = hexText(secretDigest.data(), secretDigest.size());
  data = hexText(bytesOf(block), blockLength);
}

bool encrypted_directory::open(std::string_view password, std::string_view data, std::string& hash,
                               std::string& key) {
  try {
    qb_crypt::hex_string_decode decoder;
    std::string block(decoder.calc_output_size(data.size()), '\0');
    const std::size_t blockLength = decoder.process_data_final(bytesOf(data), data.size(), bytesOf(block), block.size());
    if (blockLength == qb_crypt::npos) return false;

    std::string candidate = folderKey(password);
    qb_crypt::cleanse_guard wipeCandidate(candidate);
    std::string secret(decryptBlock(bytesOf(block), nullptr, bytesOf(candidate), candidate.size(), blockLength), '\0');
    qb_crypt::cleanse_guard wipeSecret(secret);
    const std::size_t secretLength =
        decryptBlock(bytesOf(block), bytesOf(secret), bytesOf(candidate), candidate.size(), blockLength);
    const auto secretDigest = qb_crypt::sha256::of(secret.data(), secretLength);

    hash = hexText(secretDigest.data(), secretDigest.size());
    key = candidate;
    return true;
  } catch (const CQuillboxException&) {
    return false;
  }
}

std::size_t encrypted_directory::encryptBlock(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* key,
                                              std::size_t key_length, std::size_t in_length) {
  const std::size_t needed = cryptography::encrypt(in, in_length, nullptr, 0, key, key_length);
  if (!out) return needed;
  return cryptography::encrypt(in, in_length, out, needed, key, key_length);
}

std::size_t encrypted_directory::decryptBlock(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* key,
                                              std::size_t key_length, std::size_t in_length) {
  const std::size_t needed = cryptography::decrypt(in, in_length, nullptr, 0, key, key_length);
  if (!out) return needed;
  return cryptography::decrypt(in, in_length, out, needed, key, key_length);
}

extern "C" {

int set_password(const char* password, char** hash, char** data) {
  if (!password || !hash || !data) return 0;
  try {
    std::string hashText, dataText;
    encrypted_directory().set_password(password, hashText, dataText);
    char* hashCopy = copyText(hashText);
    char* dataCopy = copyText(dataText);
    if (!hashCopy || !dataCopy) {
      std::free(hashCopy);
      std::free(dataCopy);
      return 0;
    }
    *hash = hashCopy;
    *data = dataCopy;
    return 1;
  } catch (const CQuillboxException&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int encryptDirectory(const char* password, const char* data, char** hash, unsigned char** key,
                     std::int32_t* key_length) {
  if (!hash) return 0;
  std::string hashText, keyBytes;
  qb_crypt::cleanse_guard wipeKey(keyBytes);
  bool opened = false;
  try {
    opened = password && data && key && key_length &&
             encrypted_directory().open(password, data, hashText, keyBytes);
  } catch (const std::bad_alloc&) {
    opened = false;
  }
  if (!opened) hashText.clear();
  *hash = copyText(hashText);
  if (!*hash || !opened) return 0;

  *key = static_cast<unsigned char*>(std::malloc(keyBytes.size()));
  if (!*key) return 0;
  std::memcpy(*key, keyBytes.data(), keyBytes.size());
  *key_length = static_cast<std::int32_t>(keyBytes.size());
  return 1;
}

std::int32_t encryptBlock(const unsigned char* in, unsigned char* out, const unsigned char* key,
                          std::int32_t key_length, std::int32_t in_length) {
  if (key_length < 0 || in_length < 0) return 0;
  try {
    const std::size_t length = encrypted_directory().encryptBlock(in, out, key, static_cast<std::size_t>(key_length),
                                                                  static_cast<std::size_t>(in_length));
    return length > INT32_MAX ? 0 : static_cast<std::int32_t>(length);
  } catch (const CQuillboxException&) {
    return 0;
  }
}

std::int32_t decryptBlock(const unsigned char* in, unsigned char* out, const unsigned char* key,
                          std::int32_t key_length, std::int32_t in_length) {
  if (key_length < 0 || in_length < 0) return 0;
  try {
    const std::size_t length = encrypted_directory().decryptBlock(in, out, key, static_cast<std::size_t>(key_length),
                                                                  static_cast<std::size_t>(in_length));
    return static_cast<std::int32_t>(length);
  } catch (const CQuillboxException&) {
    return 0;
  } catch (const std::bad_alloc& e) {
    std::fprintf(stderr, "bad_alloc caught: %s\n", e.what());
    return 0;
  }
}

}  // extern "C"

}  // namespace greyfox
