#include "secure/SecureFilesData.h"

#include <algorithm>

#include "crypto/CQuillboxException.h"
#include "crypto/Cryptography.h"
#include "diag/Log.h"
#include "secure/EncryptedDirectory.h"

namespace greyfox {

namespace {

// The smallest possible block: the header, the digest and one block of padding.
constexpr std::size_t kMinimumBlockLength = cryptography::kHeaderSize + 48;

const std::uint8_t* bytesOf(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::uint32_t blockLengthAt(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

std::optional<std::string> encryptABlock(const std::uint8_t* bytes, std::size_t remaining, std::size_t piece_length,
                                         std::string_view key, ErrorPtr* error) {
  if (piece_length > remaining) {
    setError(error, kSecureFilesDataErrorDomain, kSecureFilesDataEncryptionFailed, "Encryption: Invalid input size");
    return std::nullopt;
  }
  try {
    encrypted_directory directory;
    std::string block(directory.encryptBlock(bytes, nullptr, bytesOf(key), key.size(), piece_length), '\0');
    block.resize(directory.encryptBlock(bytes, reinterpret_cast<std::uint8_t*>(block.data()), bytesOf(key),
                                        key.size(), piece_length));
    return block;
  } catch (const CQuillboxException& e) {
    QBLOG("%s", e.what());
    setError(error, kSecureFilesDataErrorDomain, kSecureFilesDataEncryptionFailed, e.what());
    return std::nullopt;
  }
}

std::optional<std::string> encryptWithKey(std::string_view plaintext, std::string_view key, ErrorPtr* error) {
  const std::size_t pieceSize = cryptography::get_block_size(cryptography::kVersion);
  std::string stream;
  stream.reserve(cryptography::calculate_encrypted_size(plaintext.size(), cryptography::kVersion));
  for (std::size_t offset = 0; offset < plaintext.size();) {
    const std::size_t piece = std::min(pieceSize, plaintext.size() - offset);
    auto block = encryptABlock(bytesOf(plaintext) + offset, plaintext.size() - offset, piece, key, error);
    if (!block) return std::nullopt;
    QBLOG("wrote block of size %llu, block len %llu", static_cast<unsigned long long>(block->size()),
          static_cast<unsigned long long>(piece));
    stream += *block;
    offset += piece;
  }
  return stream;
}

std::optional<std::string> decryptABlock(const std::uint8_t* bytes, std::size_t remaining, std::size_t block_length,
                                         std::string_view key, ErrorPtr* error) {
  try {
    if (block_length > remaining || block_length < kMinimumBlockLength) {
      throw CQuillboxException("Decryption: Invalid block size");
    }
    encrypted_directory directory;
    std::string plain(directory.decryptBlock(bytes, nullptr, bytesOf(key), key.size(), block_length), '\0');
    plain.resize(directory.decryptBlock(bytes, reinterpret_cast<std::uint8_t*>(plain.data()), bytesOf(key),
                                        key.size(), block_length));
    return plain;
  } catch (const CQuillboxException& e) {
    QBLOG("%s", e.what());
    setError(error, kSecureFilesDataErrorDomain, kSecureFilesDataDecryptionFailed, e.what());
    return std::nullopt;
  }
}

std::optional<std::string> decryptWithKey(std::string& buffer, std::string_view key, ErrorPtr* error) {
  QBLOG("[QBSecureFilesData decryptWithKey]");
  const auto* data = bytesOf(buffer);
  const std::size_t size = buffer.size();
  if (size < 4) return std::nullopt;
  std::size_t length = blockLengthAt(data);
  // A length that cannot be a block is damage, not a block still arriving.
  if (length >= kMinimumBlockLength && size < length) return std::nullopt;

  std::string plaintext;
  std::size_t consumed = 0;
  for (;;) {
    // A damaged later block is reported by the next call, which meets it first.
    auto plain = decryptABlock(data + consumed, size - consumed, length, key, consumed == 0 ? error : nullptr);
    if (!plain) {
      if (consumed == 0) return std::nullopt;
      break;
    }
    plaintext += *plain;
    consumed += length;
    if (size - consumed < 4) break;
    length = blockLengthAt(data + consumed);
    if (size - consumed < length) break;
  }
  buffer.erase(0, consumed);
  return plaintext;
}

}  // namespace greyfox
