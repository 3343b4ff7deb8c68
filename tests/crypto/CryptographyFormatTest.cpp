#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "ReferenceBlock.h"
#include "crypto/CQuillboxException.h"
#include "crypto/Cryptography.h"

namespace greyfox {
namespace {

using namespace greyfox::testing;

const std::uint8_t* u8(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }
std::uint8_t* u8(std::string& s) { return reinterpret_cast<std::uint8_t*>(s.data()); }

std::string patterned(std::size_t n, unsigned salt = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + salt * 17 + 5) & 0xff);
  return s;
}

template <class F>
std::string thrownMessage(F&& f) {
  try {
    f();
  } catch (const CQuillboxException& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

std::string keyOf(const std::string& password) {
  std::string key(32, '\0');
  EXPECT_EQ(cryptography::create_key(password, u8(key), key.size()), 32u);
  return key;
}

std::string encryptBlock(const std::string& plain, const std::string& key) {
  std::string out(cryptography::encrypt(u8(plain), plain.size(), nullptr, 0, u8(key), key.size()), '\0');
  out.resize(cryptography::encrypt(u8(plain), plain.size(), u8(out), out.size(), u8(key), key.size()));
  return out;
}

std::string decryptBlock(const std::string& block, const std::string& key) {
  std::string out(cryptography::decrypt(u8(block), block.size(), nullptr, 0, u8(key), key.size()), '\0');
  out.resize(cryptography::decrypt(u8(block), block.size(), u8(out), out.size(), u8(key), key.size()));
  return out;
}

const char* const kPasswordErrors[] = {
    "Password Error: processed size is less than padding.",
    "Password Error: invalid output data size.",
    "Password Error: Checksums don't match",
};

TEST(CryptographyFormat, KeyAndIvAreTheDocumentedDigests) {
  const std::string password = "correct horse battery";
  const std::string key = keyOf(password);
  EXPECT_EQ(key, referenceSha256(password));

  for (std::uint32_t seed : {1u, 0x01020304u, 0xfffffffeu}) {
    std::string iv(16, '\0');
    EXPECT_EQ(cryptography::create_iv(seed, u8(key), key.size(), u8(iv), iv.size()), 16u) << seed;
    EXPECT_EQ(iv, referenceIv(key, seed)) << seed;
  }
  EXPECT_EQ(cryptography::create_iv(1, u8(key), key.size(), nullptr, 0), 16u);
}

// Known answers: the block the code writes must equal the block assembled from
// the documented layout with the openssl command line, for the seed it drew.
TEST(CryptographyFormat, BlocksMatchTheIndependentlyAssembledFormat) {
  const std::string key = keyOf("format pin");
  for (std::size_t n : {0u, 16u, 452u, 1000u, 1024u}) {
    const std::string plain = patterned(n, static_cast<unsigned>(n));
    const std::string block = encryptBlock(plain, key);
    ASSERT_GE(block.size(), 10u) << "n=" << n;
    const std::uint32_t seed = le32(block, 6);
    EXPECT_NE(seed, 0u) << "n=" << n;
    EXPECT_EQ(referenceHex(block), referenceHex(referenceBlock(key, seed, plain))) << "n=" << n;
  }
  // And a block made only by the reference decrypts here.
  const std::string plain = patterned(777, 9);
  EXPECT_EQ(decryptBlock(referenceBlock(key, 0xdeadbeef, plain), key), plain);
}

TEST(CryptographyFormat, BlockLengths) {
  struct Case {
    std::size_t plain, block;
  } cases[] = {{1024, 1082}, {1000, 1050}, {0, 58}, {16, 74}, {15, 58}, {17, 74}, {452, 506}, {128, 186}};
  const std::string key = keyOf("lengths");
  for (const auto& c : cases) {
    const std::string plain = patterned(c.plain);
    EXPECT_EQ(cryptography::encrypt(u8(plain), plain.size(), nullptr, 0, u8(key), key.size()), c.block)
        << "n=" << c.plain;
    const std::string block = encryptBlock(plain, key);
    EXPECT_EQ(block.size(), c.block) << "n=" << c.plain;
    EXPECT_EQ(le32(block, 0), c.block) << "n=" << c.plain;
    EXPECT_EQ(decryptBlock(block, key), plain) << "n=" << c.plain;
  }
}

TEST(CryptographyFormat, SizesOfWholeFilesAndVersions) {
  EXPECT_EQ(cryptography::get_block_size(256), 1024u);
  EXPECT_EQ(cryptography::get_encrypted_block_size(256), 1082u);
  struct Case {
    std::uint64_t plain, encrypted;
  } cases[] = {{0, 0}, {1, 58}, {1024, 1082}, {2048, 2164}, {2049, 2222}, {2500, 2670},
               {(1ull << 32) + 5, (1ull << 22) * 1082 + 58}};
  for (const auto& c : cases) {
    EXPECT_EQ(cryptography::calculate_encrypted_size(c.plain, 256), c.encrypted) << c.plain;
  }
  for (std::uint16_t version : {0, 255, 257}) {
    EXPECT_EQ(thrownMessage([&] { cryptography::get_block_size(version); }), "Cryptography: Invalid version")
        << version;
    EXPECT_EQ(thrownMessage([&] { cryptography::get_encrypted_block_size(version); }),
              "Cryptography: Invalid version")
        << version;
    EXPECT_EQ(thrownMessage([&] { cryptography::calculate_encrypted_size(10, version); }),
              "Cryptography: Invalid version")
        << version;
  }
}

TEST(CryptographyFormat, SamePlaintextEncryptsDifferentlyEachTime) {
  const std::string key = keyOf("twice"), plain = patterned(300);
  const std::string a = encryptBlock(plain, key), b = encryptBlock(plain, key);
  EXPECT_NE(le32(a, 6), le32(b, 6));
  EXPECT_NE(a.substr(10), b.substr(10));
  EXPECT_EQ(decryptBlock(a, key), plain);
  EXPECT_EQ(decryptBlock(b, key), plain);
}

TEST(CryptographyFormat, DecryptRefusesDamagedBlocksAndSmallBuffers) {
  const std::string key = keyOf("damage");
  const std::string good = encryptBlock(patterned(1024), key);
  std::string out(2000, '\0');
  auto decryptInto = [&](std::string block, std::size_t capacity) {
    cryptography::decrypt(u8(block), block.size(), u8(out), capacity, u8(key), key.size());
  };
  std::string version257 = good;
  version257[4] = 0x01;
  version257[5] = 0x01;
  std::string claims2000 = good;
  claims2000.replace(0, 4, referenceHeader(2000, 256, 0).substr(0, 4));
  std::string ragged = good.substr(0, 1080);
  ragged.replace(0, 4, referenceHeader(1080, 256, 0).substr(0, 4));

  struct Case {
    const char* name;
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {"version 257", [&] { decryptInto(version257, 2000); }, "Decryption: Invalid cryptography version"},
      {"header claims 2000 of 1082", [&] { decryptInto(claims2000, 2000); }, "Decryption: Invalid block size"},
      {"shorter than a header", [&] { decryptInto(good.substr(0, 9), 2000); }, "Decryption: Invalid block size"},
      {"output too small", [&] { decryptInto(good, 1071); }, "Decryption: Invalid output size"},
      {"body not whole AES blocks", [&] { decryptInto(ragged, 2000); }, "aes::process_data: invalid input size"},
      {"encrypt output too small",
       [&] { cryptography::encrypt(u8(good), 1024, u8(out), 1081, u8(key), key.size()); },
       "Encryption: Invalid output size"},
  };
  for (const auto& c : cases) EXPECT_EQ(thrownMessage(c.call), c.message) << c.name;
}

// Each "Password Error" outcome from a body crafted with the right key, and a
// wrong key always ending in one of them.
TEST(CryptographyFormat, WrongKeysAndBadBodiesArePasswordErrors) {
  const std::string key = keyOf("password errors");
  const std::uint32_t seed = 77;
  const std::string iv = referenceIv(key, seed);
  auto craft = [&](const std::string& plainBody) {
    const std::string body = referenceCbc(key, iv, plainBody, false);
    return referenceHeader(static_cast<std::uint32_t>(body.size() + 10), 256, seed) + body;
  };
  struct Case {
    const char* name;
    std::string block;
    const char* message;
  } cases[] = {
      {"padding as long as the body", craft(std::string(16, '\x10')), kPasswordErrors[0]},
      {"padding eats into the digest", craft(std::string(47, 'a') + '\x14'), kPasswordErrors[1]},
      {"digest of other bytes", craft(std::string(32, '\0') + std::string(16, '\x10')), kPasswordErrors[2]},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(thrownMessage([&] { decryptBlock(c.block, key); }), c.message) << c.name;
  }

  const std::string block = encryptBlock(patterned(1024), key);
  for (int i = 0; i < 20; ++i) {
    const std::string wrong = keyOf("wrong " + std::to_string(i));
    const std::string message = thrownMessage([&] { decryptBlock(block, wrong); });
    EXPECT_TRUE(std::set<std::string>(std::begin(kPasswordErrors), std::end(kPasswordErrors)).count(message))
        << "wrong key " << i << ": " << message;
  }
  std::string flipped = block;
  flipped[500] ^= 1;
  EXPECT_EQ(thrownMessage([&] { decryptBlock(flipped, key); }), kPasswordErrors[2]);
}

}  // namespace
}  // namespace greyfox
