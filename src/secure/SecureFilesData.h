// The stored form of a secure folder's file: its plaintext cut into pieces of
// 1024 bytes (the last one shorter), each encrypted as one block with the
// folder key and the blocks concatenated. Each block states its own length in
// its first four bytes, so a stream of received bytes can be decrypted block
// by block as it arrives.
//
// Uploads encrypt each chunk's plaintext with encryptWithKey; downloads keep
// the received bytes in a transfer buffer and call decryptWithKey on it after
// each arrival. Stateless; any thread (one buffer per caller).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace greyfox {

inline constexpr const char* kSecureFilesDataErrorDomain = "QBSecureFilesData";
enum SecureFilesDataErrorCode : long {
  kSecureFilesDataEncryptionFailed = 1,
  kSecureFilesDataDecryptionFailed = 2,
};

// The whole plaintext as a stream of encrypted blocks; empty input gives an
// empty stream. nullopt when any piece fails to encrypt (error: code
// kSecureFilesDataEncryptionFailed with the crypto layer's message).
std::optional<std::string> encryptWithKey(std::string_view plaintext, std::string_view key,
                                          ErrorPtr* error = nullptr);

// One block made of the first `piece_length` of `remaining` bytes at `bytes`;
// nullopt when it cannot be made.
std::optional<std::string> encryptABlock(const std::uint8_t* bytes, std::size_t remaining, std::size_t piece_length,
                                         std::string_view key, ErrorPtr* error = nullptr);

// Decrypts the whole blocks at the front of `buffer`, removes them from it
// and returns their plaintext; bytes of an incomplete last block stay at the
// front of `buffer` for the next call. nullopt with `buffer` unchanged and no
// error when not even one block is complete yet; nullopt with `buffer`
// unchanged and an error (code kSecureFilesDataDecryptionFailed) when the
// first block does not decrypt (a wrong key or damaged data).
std::optional<std::string> decryptWithKey(std::string& buffer, std::string_view key, ErrorPtr* error = nullptr);

// The plaintext of the block of `block_length` of `remaining` bytes at
// `bytes`; nullopt when it does not decrypt (logged).
std::optional<std::string> decryptABlock(const std::uint8_t* bytes, std::size_t remaining, std::size_t block_length,
                                         std::string_view key, ErrorPtr* error = nullptr);

}  // namespace greyfox
