#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ReferenceBlock.h"
#include "secure/EncryptedDirectory.h"
#include "secure/SecureFolderSeed.h"

namespace greyfox {
namespace {

using namespace greyfox::testing;

bool isLowerHex(const std::string& s) {
  return s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The verifier read with the openssl command line alone: the hexadecimal data
// is one block whose body decrypts, under SHA-256 of the password, to 128
// secret bytes, their digest and 16 bytes of padding; the hash is that digest.
TEST(SecureFolderVerifier, HasTheFormTheServiceKeeps) {
  const std::string password = "hunter2 and more";
  ErrorPtr error;
  const auto verifier = makeSecureFolderVerifier(password, &error);
  ASSERT_TRUE(verifier) << (error ? error->message() : "");
  EXPECT_EQ(verifier->data.size(), 372u);
  EXPECT_EQ(verifier->hash.size(), 64u);
  EXPECT_TRUE(isLowerHex(verifier->data)) << verifier->data;
  EXPECT_TRUE(isLowerHex(verifier->hash)) << verifier->hash;

  const std::string block = referenceUnhex(verifier->data);
  ASSERT_EQ(block.size(), 186u);
  EXPECT_EQ(le32(block, 0), 186u);
  EXPECT_EQ(block.substr(4, 2), std::string("\x00\x01", 2));
  const std::string key = referenceSha256(password);
  const std::string body = referenceCbcDecrypt(key, referenceIv(key, le32(block, 6)), block.substr(10));
  ASSERT_EQ(body.size(), 176u);
  const std::string secret = body.substr(0, 128);
  EXPECT_EQ(body.substr(128, 32), referenceSha256(secret));
  EXPECT_EQ(body.substr(160), std::string(16, '\x10'));
  EXPECT_EQ(verifier->hash, referenceHex(referenceSha256(secret)));

  // A second verifier for the same password has a new secret.
  const auto other = makeSecureFolderVerifier(password, nullptr);
  ASSERT_TRUE(other);
  EXPECT_NE(other->hash, verifier->hash);
}

TEST(SecureFolderVerifier, OpensWithItsPasswordOnly) {
  const auto verifier = makeSecureFolderVerifier("open sesame", nullptr);
  ASSERT_TRUE(verifier);

  encrypted_directory directory;
  std::string hash, key;
  ASSERT_TRUE(directory.open("open sesame", verifier->data, hash, key));
  EXPECT_EQ(hash, verifier->hash);
  EXPECT_EQ(key, referenceSha256("open sesame"));
  EXPECT_EQ(key, secureFolderKey("open sesame"));

  struct Case {
    const char* name;
    std::string password, data;
  } refused[] = {
      {"other password", "open sesame!", verifier->data},
      {"empty password", "", verifier->data},
      {"truncated data", "open sesame", verifier->data.substr(0, 300)},
      {"not hexadecimal", "open sesame", std::string(372, 'g')},
      {"empty data", "open sesame", ""},
  };
  for (const auto& c : refused) {
    std::string h = "unchanged", k = "unchanged";
    EXPECT_FALSE(directory.open(c.password, c.data, h, k)) << c.name;
    EXPECT_EQ(h, "unchanged") << c.name;
    EXPECT_EQ(k, "unchanged") << c.name;
    EXPECT_FALSE(secureFolderHashForPassword(c.password, c.data)) << c.name;
  }
  EXPECT_EQ(secureFolderHashForPassword("open sesame", verifier->data), verifier->hash);
}

TEST(SecureFolderVerifier, PlainFunctionsHandOverOwnedCopies) {
  char* hash = nullptr;
  char* data = nullptr;
  ASSERT_EQ(set_password("plain text", &hash, &data), 1);
  ASSERT_TRUE(hash && data);
  const std::string hashText = hash, dataText = data;
  std::free(hash);
  std::free(data);
  EXPECT_EQ(hashText.size(), 64u);
  EXPECT_EQ(dataText.size(), 372u);

  char* opened = nullptr;
  unsigned char* key = nullptr;
  std::int32_t keyLength = 0;
  ASSERT_EQ(encryptDirectory("plain text", dataText.c_str(), &opened, &key, &keyLength), 1);
  EXPECT_EQ(std::string(opened), hashText);
  ASSERT_EQ(keyLength, 32);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 32), referenceSha256("plain text"));
  std::free(opened);
  std::free(key);

  // The wrong password still gets a hash to send: the empty one.
  opened = nullptr;
  key = nullptr;
  EXPECT_EQ(encryptDirectory("other", dataText.c_str(), &opened, &key, &keyLength), 0);
  ASSERT_NE(opened, nullptr);
  EXPECT_STREQ(opened, "");
  EXPECT_EQ(key, nullptr);
  std::free(opened);

  EXPECT_EQ(set_password(nullptr, &hash, &data), 0);
}

TEST(SecureFolderVerifier, PlainBlockFunctionsAnswerZeroOnFailure) {
  const std::string key = referenceSha256("blocks"), wrong = referenceSha256("not blocks");
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const auto* w = reinterpret_cast<const unsigned char*>(wrong.data());
  const std::string plain(100, 'p');
  const auto* in = reinterpret_cast<const unsigned char*>(plain.data());

  const std::int32_t needed = encryptBlock(in, nullptr, k, 32, 100);
  ASSERT_EQ(needed, 154);
  std::string block(static_cast<std::size_t>(needed), '\0');
  auto* blockBytes = reinterpret_cast<unsigned char*>(block.data());
  ASSERT_EQ(encryptBlock(in, blockBytes, k, 32, 100), 154);

  ASSERT_EQ(decryptBlock(blockBytes, nullptr, k, 32, 154), 144);
  std::string out(144, '\0');
  auto* outBytes = reinterpret_cast<unsigned char*>(out.data());
  EXPECT_EQ(decryptBlock(blockBytes, outBytes, k, 32, 154), 100);
  EXPECT_EQ(out.substr(0, 100), plain);

  EXPECT_EQ(decryptBlock(blockBytes, outBytes, w, 32, 154), 0) << "wrong key";
  EXPECT_EQ(encryptBlock(in, blockBytes, k, 20, 100), 0) << "20-byte key";
  EXPECT_EQ(decryptBlock(blockBytes, outBytes, k, 32, 5), 0) << "shorter than a header";
  EXPECT_EQ(decryptBlock(blockBytes, outBytes, k, 32, -1), 0) << "negative length";
}

TEST(SecureFolderVerifier, EmptyPasswordIsRefused) {
  ErrorPtr verifierError, fileError;
  EXPECT_FALSE(makeSecureFolderVerifier("", &verifierError));
  EXPECT_FALSE(encryptSecureFileContents("bytes", "", &fileError));
  for (const ErrorPtr& e : {verifierError, fileError}) {
    ASSERT_TRUE(e);
    EXPECT_EQ(e->domain, "QBContentSecureFoldersRuntime");
    EXPECT_EQ(e->code, 0);
    EXPECT_EQ(e->failureReason(), "You should enter the password");
  }
  EXPECT_TRUE(checkSecureFolderPassword(" ", nullptr));
}

}  // namespace
}  // namespace greyfox
