// An independent reference for the encrypted block format, built from the
// openssl command line and the documented layout only, so that tests compare
// the code under test with bytes it had no hand in.
#pragma once

#include <cstdint>
#include <string>

namespace greyfox::testing {

// Runs `openssl <args>` with `input` on its standard input and returns its standard
// output; throws std::runtime_error when openssl fails.
std::string runOpenssl(const std::string& args, const std::string& input);

std::string referenceSha256(const std::string& bytes);
// Lower-case hexadecimal text of `bytes`, and back.
std::string referenceHex(const std::string& bytes);
std::string referenceUnhex(const std::string& text);

// The IV of `seed` for `key`: SHA-256 of the key's even-position bytes and the
// seed's little-endian bytes, first 16 bytes.
std::string referenceIv(const std::string& key, std::uint32_t seed);
// AES-256-CBC of `body` with PKCS#7 padding (`pad`) or none.
std::string referenceCbc(const std::string& key, const std::string& iv, const std::string& body, bool pad);
std::string referenceCbcDecrypt(const std::string& key, const std::string& iv, const std::string& body);
// The header: total length, version 256, seed, all little-endian.
std::string referenceHeader(std::uint32_t total, std::uint16_t version, std::uint32_t seed);
// A whole block of `plaintext` under `key` and `seed`.
std::string referenceBlock(const std::string& key, std::uint32_t seed, const std::string& plaintext);

std::uint32_t le32(const std::string& bytes, std::size_t offset);

}  // namespace greyfox::testing
