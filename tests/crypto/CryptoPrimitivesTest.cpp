#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "ReferenceBlock.h"
#include "crypto/Aes.h"
#include "crypto/CQuillboxException.h"
#include "crypto/HexString.h"
#include "crypto/Sha256.h"

namespace greyfox::qb_crypt {
namespace {

using testing::referenceCbc;
using testing::referenceHex;
using testing::referenceUnhex;

const std::uint8_t* u8(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }
std::uint8_t* u8(std::string& s) { return reinterpret_cast<std::uint8_t*>(s.data()); }

std::string patterned(std::size_t n, unsigned salt = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + salt * 7 + 3) & 0xff);
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

TEST(Aes, EcbMatchesPublishedVectors) {
  // FIPS-197 appendix C: plaintext 00112233..ff under the keys 000102..
  struct Case {
    const char* name;
    std::size_t keyLength;
    const char* cipherHex;
  } cases[] = {
      {"AES-128", 16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"AES-192", 24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"AES-256", 32, "8ea2b7ca516745bfeafc49904b496089"},
  };
  const std::string plain = referenceUnhex("00112233445566778899aabbccddeeff");
  for (const auto& c : cases) {
    std::string key;
    for (std::size_t i = 0; i < c.keyLength; ++i) key += static_cast<char>(i);
    aes_encrypt enc;
    enc.set_key(u8(key), key.size(), ecb);
    std::string out(16, '\0');
    EXPECT_EQ(enc.process_data(u8(plain), plain.size(), u8(out), out.size()), 16u) << c.name;
    EXPECT_EQ(referenceHex(out), c.cipherHex) << c.name;

    aes_decrypt dec;
    dec.set_key(u8(key), key.size(), ecb);
    std::string back(16, '\0');
    dec.process_data(u8(out), out.size(), u8(back), back.size());
    EXPECT_EQ(back, plain) << c.name;
  }
}

TEST(Aes, CbcContinuesOneStreamAcrossCallsAndLeavesPartialBlocks) {
  const std::string key = patterned(32, 1), iv = patterned(16, 2), plain = patterned(100, 3);
  const std::string expected = referenceCbc(key, iv, plain.substr(0, 96), false);

  aes_encrypt enc;
  enc.set_key(u8(key), key.size(), cbc);
  enc.set_iv(u8(iv), iv.size());
  std::string out(96, '\0');
  // 40 bytes: two whole blocks now, the other 8 are the caller's to carry.
  ASSERT_EQ(enc.process_data(u8(plain), 40, u8(out), out.size()), 32u);
  ASSERT_EQ(enc.process_data(u8(plain) + 32, 15, u8(out) + 32, 64), 0u);
  ASSERT_EQ(enc.process_data(u8(plain) + 32, 68, u8(out) + 32, 64), 64u);
  EXPECT_EQ(out, expected);

  // Decrypt in place, in uneven pieces.
  aes_decrypt dec;
  dec.set_key(u8(key), key.size(), cbc);
  dec.set_iv(u8(iv), iv.size());
  ASSERT_EQ(dec.process_data(u8(out), 48, u8(out), 48), 48u);
  ASSERT_EQ(dec.process_data(u8(out) + 48, 48, u8(out) + 48, 48), 48u);
  EXPECT_EQ(out, plain.substr(0, 96));
}

TEST(Aes, FinalPieceGetsPkcs7Padding) {
  const std::string key = patterned(32, 4), iv = patterned(16, 5);
  for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 48u}) {
    const std::string plain = patterned(n, 6);
    aes_encrypt enc;
    enc.set_key(u8(key), key.size(), cbc);
    enc.set_iv(u8(iv), iv.size());
    std::string out(enc.calc_output_size(n), '\0');
    std::size_t padding = 0;
    const std::size_t written = enc.process_data_final(u8(plain), n, u8(out), out.size(), &padding);
    EXPECT_EQ(padding, 16 - n % 16) << "n=" << n;
    EXPECT_EQ(written, n + padding) << "n=" << n;
    ASSERT_EQ(out.size(), written) << "n=" << n;
    EXPECT_EQ(out, referenceCbc(key, iv, plain, true)) << "n=" << n;

    // Decryption reports the last byte as padding and leaves it in place.
    aes_decrypt dec;
    dec.set_key(u8(key), key.size(), cbc);
    dec.set_iv(u8(iv), iv.size());
    std::string back(written, '\0');
    std::size_t found = 0;
    EXPECT_EQ(dec.process_data_final(u8(out), written, u8(back), back.size(), &found), written) << "n=" << n;
    EXPECT_EQ(found, padding) << "n=" << n;
    EXPECT_EQ(back.substr(0, n), plain) << "n=" << n;
    EXPECT_EQ(back.substr(n), std::string(padding, static_cast<char>(padding))) << "n=" << n;
  }
}

TEST(Aes, RefusesBadArguments) {
  const std::string key = patterned(32), block = patterned(32);
  std::string out(64, '\0');
  struct Case {
    const char* name;
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {"no key", [&] { aes_encrypt().set_key(nullptr, 32, cbc); }, "aes::set_key: invalid argument"},
      {"20-byte key", [&] { aes_encrypt().set_key(u8(key), 20, cbc); }, "aes::set_key: invalid key size"},
      {"mode 3", [&] { aes_decrypt().set_key(u8(key), 32, 3); }, "aes::set_key: invalid cipher mode"},
      {"mode 0", [&] { aes_encrypt().set_key(u8(key), 32, 0); }, "aes::set_key: invalid cipher mode"},
      {"8-byte iv in cbc",
       [&] {
         aes_encrypt a;
         a.set_key(u8(key), 32, cbc);
         a.set_iv(u8(key), 8);
       },
       "aes::set_iv: invalid iv size"},
      {"output too small",
       [&] {
         aes_encrypt a;
         a.set_key(u8(key), 32, ecb);
         a.process_data(u8(block), 32, u8(out), 16);
       },
       "aes::process_data: out of memory"},
      {"final output without room for padding",
       [&] {
         aes_encrypt a;
         a.set_key(u8(key), 32, ecb);
         a.process_data_final(u8(block), 32, u8(out), 32);
       },
       "aes::process_data: out of memory"},
      {"decrypt final of partial block",
       [&] {
         aes_decrypt a;
         a.set_key(u8(key), 32, ecb);
         a.process_data_final(u8(block), 20, u8(out), 64);
       },
       "aes::process_data: invalid input size"},
      {"no key set", [&] { aes_encrypt().process_data(u8(block), 32, u8(out), 64); },
       "aes::process_data: key not set"},
      {"cbc without iv",
       [&] {
         aes_encrypt a;
         a.set_key(u8(key), 32, cbc);
         a.process_data(u8(block), 32, u8(out), 64);
       },
       "aes::process_data: iv not set"},
  };
  for (const auto& c : cases) EXPECT_EQ(thrownMessage(c.call), c.message) << c.name;

  // In ECB mode an IV of any length is ignored.
  aes_encrypt a;
  a.set_key(u8(key), 32, ecb);
  EXPECT_NO_THROW(a.set_iv(u8(key), 8));
  EXPECT_EQ(a.get_mode(), ecb);
  EXPECT_EQ(a.get_block_size(), 16u);
  EXPECT_EQ(a.get_type(), 2);
}

TEST(Sha256, DigestsMatchPublishedValuesWhetherFedWholeOrInPieces) {
  struct Case {
    const char* name;
    std::string input;
    const char* digestHex;
  } cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
  };
  for (const auto& c : cases) {
    const auto whole = sha256::of(c.input.data(), c.input.size());
    EXPECT_EQ(referenceHex(std::string(whole.begin(), whole.end())), c.digestHex) << c.name;

    sha256 pieces;
    for (char ch : c.input) pieces.update(&ch, 1);
    std::string out(32, '\0');
    pieces.final(u8(out), out.size());
    EXPECT_EQ(referenceHex(out), c.digestHex) << c.name;
  }
  sha256 h;
  std::uint8_t small[16];
  EXPECT_EQ(thrownMessage([&] { h.final(small, sizeof small); }), "sha256::final: error");
  EXPECT_EQ(h.get_digest_size(), 32u);
  EXPECT_EQ(h.get_type(), 6);
}

TEST(HexString, EncodesLowerCaseWithNulAndRefusesSmallBuffers) {
  const std::string bytes = referenceUnhex("000fab");
  hex_string_encode enc;
  EXPECT_EQ(enc.calc_output_size(3), 7u);
  std::string out(7, 'x');
  EXPECT_EQ(enc.process_data_final(u8(bytes), 3, u8(out), out.size()), 7u);
  EXPECT_EQ(out, std::string("000fab\0", 7));

  std::string tight(6, 'x');
  EXPECT_EQ(enc.process_data(u8(bytes), 3, u8(tight), tight.size()), npos);
  EXPECT_EQ(tight, "xxxxxx") << "nothing is written on failure";

  const std::string all = patterned(256);
  std::string text(513, '\0');
  ASSERT_EQ(enc.process_data(u8(all), all.size(), u8(text), text.size()), 512u);
  EXPECT_EQ(text.substr(0, 512), referenceHex(all));
}

TEST(HexString, DecodesEitherCase) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t capacity;
    std::size_t result;
    std::string bytes;
  } cases[] = {
      {"upper case", "0FAB", 2, 2, "\x0f\xab"},
      {"lower case", "0fab", 2, 2, "\x0f\xab"},
      {"odd last character ignored", "0fabc", 2, 2, "\x0f\xab"},
      {"one character", "f", 4, npos, ""},
      {"empty", "", 4, npos, ""},
      {"output too small", "0fab", 1, npos, ""},
      {"not hexadecimal", "0fzz", 2, npos, ""},
  };
  hex_string_decode dec;
  for (const auto& c : cases) {
    std::string out(c.capacity, '\0');
    const std::size_t n = dec.process_data_final(u8(c.text), c.text.size(), u8(out), out.size());
    EXPECT_EQ(n, c.result) << c.name;
    if (n != npos) {
      EXPECT_EQ(out.substr(0, n), c.bytes) << c.name;
    }
  }
  EXPECT_EQ(dec.calc_output_size(5), 2u);
}

TEST(Itoa, WritesAnyBaseFromTwoToThirtySix) {
  struct Case {
    std::int32_t value;
    int base;
    const char* text;
  } cases[] = {
      {0, 10, "0"},          {255, 16, "ff"},    {-255, 16, "-ff"},       {5, 2, "101"},
      {35, 36, "z"},         {INT32_MAX, 10, "2147483647"},               {INT32_MIN, 10, "-2147483648"},
      {INT32_MIN, 2, "-10000000000000000000000000000000"},                 {7, 1, ""},
      {7, 37, ""},
  };
  for (const auto& c : cases) {
    char buffer[40];
    EXPECT_STREQ(itoa(c.value, buffer, c.base), c.text) << c.value << " base " << c.base;
  }
}

}  // namespace
}  // namespace greyfox::qb_crypt
