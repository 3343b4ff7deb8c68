#include <gtest/gtest.h>

#include <string>

#include "ReferenceBlock.h"
#include "crypto/Cryptography.h"
#include "secure/SecureFilesData.h"
#include "secure/SecureFolderSeed.h"

namespace greyfox {
namespace {

using namespace greyfox::testing;

std::string patterned(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return s;
}

class SecureFilesData : public ::testing::Test {
 protected:
  const std::string key = secureFolderKey("stream key");
  const std::string plain = patterned(2500);
  std::string stream;

  void SetUp() override {
    auto encrypted = encryptWithKey(plain, key);
    ASSERT_TRUE(encrypted);
    stream = *encrypted;
  }
};

TEST_F(SecureFilesData, StreamIsWholeBlocksOfAtMost1024PlaintextBytes) {
  ASSERT_EQ(stream.size(), 2670u);
  EXPECT_EQ(le32(stream, 0), 1082u);
  EXPECT_EQ(le32(stream, 1082), 1082u);
  EXPECT_EQ(le32(stream, 2164), 506u);
  // Each block is the documented block of its piece, checked independently.
  const std::size_t starts[] = {0, 1082, 2164}, pieces[] = {0, 1024, 2048};
  for (int i = 0; i < 3; ++i) {
    const std::string block = stream.substr(starts[i], le32(stream, starts[i]));
    EXPECT_EQ(referenceHex(block), referenceHex(referenceBlock(key, le32(block, 6), plain.substr(pieces[i], 1024))))
        << "block " << i;
  }
  auto empty = encryptWithKey("", key);
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, "");
}

TEST_F(SecureFilesData, DecryptsWholeStreamAndEmptiesTheBuffer) {
  std::string buffer = stream;
  ErrorPtr error;
  auto out = decryptWithKey(buffer, key, &error);
  ASSERT_TRUE(out) << (error ? error->message() : "");
  EXPECT_EQ(*out, plain);
  EXPECT_EQ(buffer, "");
  EXPECT_FALSE(error);

  // The emptied buffer takes the next stream cleanly (an odd number of blocks
  // before it, so no stale bytes may stand in the way).
  buffer += stream;
  out = decryptWithKey(buffer, key);
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, plain);
  EXPECT_EQ(buffer, "");
}

TEST_F(SecureFilesData, KeepsAnIncompleteBlockForTheNextCall) {
  std::string buffer = stream.substr(0, 1500);
  auto first = decryptWithKey(buffer, key);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, plain.substr(0, 1024));
  EXPECT_EQ(buffer, stream.substr(1082, 418));

  buffer += stream.substr(1500);
  auto rest = decryptWithKey(buffer, key);
  ASSERT_TRUE(rest);
  EXPECT_EQ(*rest, plain.substr(1024));
  EXPECT_EQ(buffer, "");
}

TEST_F(SecureFilesData, ReassemblesWhateverTheArrivalSizes) {
  for (std::size_t chunk : {1u, 3u, 333u, 1082u, 1083u, 5000u}) {
    std::string buffer, out;
    for (std::size_t offset = 0; offset < stream.size(); offset += chunk) {
      buffer += stream.substr(offset, chunk);
      ErrorPtr error;
      if (auto piece = decryptWithKey(buffer, key, &error)) out += *piece;
      ASSERT_FALSE(error) << "chunk " << chunk << ": " << error->message();
    }
    EXPECT_EQ(out, plain) << "chunk " << chunk;
    EXPECT_EQ(buffer, "") << "chunk " << chunk;
  }
}

TEST_F(SecureFilesData, NothingYetLeavesTheBufferAlone) {
  for (std::size_t n : {0u, 3u, 1000u, 1081u}) {
    std::string buffer = stream.substr(0, n);
    ErrorPtr error;
    EXPECT_FALSE(decryptWithKey(buffer, key, &error)) << n << " bytes";
    EXPECT_FALSE(error) << n << " bytes";
    EXPECT_EQ(buffer, stream.substr(0, n)) << n << " bytes";
  }
}

TEST_F(SecureFilesData, WrongKeyOrDamageIsAnErrorNotAWait) {
  std::string zeroLength = stream;
  zeroLength.replace(0, 4, std::string(4, '\0'));
  std::string flipped = stream;
  flipped[100] ^= 0x40;
  struct Case {
    const char* name;
    std::string buffer, key;
    std::string messagePrefix;
  } cases[] = {
      {"wrong key", stream, secureFolderKey("other key"), "Password Error"},
      {"damaged body", flipped, key, "Password Error: Checksums don't match"},
      {"zero block length", zeroLength, key, "Decryption: Invalid block size"},
  };
  for (const auto& c : cases) {
    std::string buffer = c.buffer;
    ErrorPtr error;
    EXPECT_FALSE(decryptWithKey(buffer, c.key, &error)) << c.name;
    ASSERT_TRUE(error) << c.name;
    EXPECT_EQ(error->domain, "QBSecureFilesData") << c.name;
    EXPECT_EQ(error->code, kSecureFilesDataDecryptionFailed) << c.name;
    EXPECT_EQ(error->message().rfind(c.messagePrefix, 0), 0u) << c.name << ": " << error->message();
    EXPECT_EQ(buffer, c.buffer) << c.name;
  }

  // A damaged second block: the first still comes out, the damage is
  // reported by the next call.
  std::string buffer = stream;
  buffer[1082 + 200] ^= 1;
  ErrorPtr error;
  auto first = decryptWithKey(buffer, key, &error);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, plain.substr(0, 1024));
  EXPECT_FALSE(error);
  EXPECT_FALSE(decryptWithKey(buffer, key, &error));
  EXPECT_TRUE(error);
}

TEST_F(SecureFilesData, SeededFileContentsDecryptWithThePasswordKey) {
  ErrorPtr error;
  auto stored = encryptSecureFileContents(plain, "stream key", &error);
  ASSERT_TRUE(stored) << (error ? error->message() : "");
  EXPECT_EQ(stored->size(), cryptography::calculate_encrypted_size(plain.size(), 256));
  auto back = decryptWithKey(*stored, key);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, plain);
}

}  // namespace
}  // namespace greyfox
