#include "ReferenceBlock.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace greyfox::testing {

std::string runOpenssl(const std::string& args, const std::string& input) {
  char path[] = "/tmp/greyfox-crypto-ref-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  { std::ofstream(path, std::ios::binary).write(input.data(), static_cast<std::streamsize>(input.size())); }
  const std::string command = "openssl " + args + " < " + path + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  if (pipe) {
    char chunk[4096];
    std::size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  }
  const int status = pipe ? pclose(pipe) : -1;
  unlink(path);
  if (status != 0) throw std::runtime_error("openssl failed: " + command);
  return output;
}

std::string referenceSha256(const std::string& bytes) { return runOpenssl("dgst -sha256 -binary", bytes); }

std::string referenceHex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}

std::string referenceUnhex(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

std::string referenceIv(const std::string& key, std::uint32_t seed) {
  std::string input;
  for (std::size_t i = 0; i < key.size(); i += 2) input += key[i];
  for (int i = 0; i < 4; ++i) input += static_cast<char>(seed >> (8 * i));
  return referenceSha256(input).substr(0, 16);
}

std::string referenceCbc(const std::string& key, const std::string& iv, const std::string& body, bool pad) {
  return runOpenssl("enc -aes-256-cbc" + std::string(pad ? "" : " -nopad") + " -K " + referenceHex(key) +
                        " -iv " + referenceHex(iv),
                    body);
}

std::string referenceCbcDecrypt(const std::string& key, const std::string& iv, const std::string& body) {
  return runOpenssl("enc -d -nopad -aes-256-cbc -K " + referenceHex(key) + " -iv " + referenceHex(iv), body);
}

std::string referenceHeader(std::uint32_t total, std::uint16_t version, std::uint32_t seed) {
  std::string header;
  for (int i = 0; i < 4; ++i) header += static_cast<char>(total >> (8 * i));
  for (int i = 0; i < 2; ++i) header += static_cast<char>(version >> (8 * i));
  for (int i = 0; i < 4; ++i) header += static_cast<char>(seed >> (8 * i));
  return header;
}

std::string referenceBlock(const std::string& key, std::uint32_t seed, const std::string& plaintext) {
  const std::string body = referenceCbc(key, referenceIv(key, seed), plaintext + referenceSha256(plaintext), true);
  return referenceHeader(static_cast<std::uint32_t>(body.size() + 10), 256, seed) + body;
}

std::uint32_t le32(const std::string& bytes, std::size_t offset) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes.at(offset + i));
  return v;
}

}  // namespace greyfox::testing
