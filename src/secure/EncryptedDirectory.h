// The secure-folder verifier and the block operations that the stream code
// and the secure-folder runtime build on.
//
// A verifier is the pair the service keeps per secure folder: "data", the
// hexadecimal text of 128 random bytes encrypted as one block with the folder
// key (372 digits), and "hash", the hexadecimal SHA-256 of those bytes (64
// digits). A client that can decrypt "data" can send the matching "hash"
// without the password ever leaving this computer. The folder key is SHA-256
// of the password's UTF-8 bytes.
//
// Everything here is stateless and may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace greyfox {

class encrypted_directory {
 public:
  virtual ~encrypted_directory() = default;

  // Makes a new verifier for `password` into `hash` and `data`.
  // Throws CQuillboxException when the crypto layer fails.
  void set_password(std::string_view password, std::string& hash, std::string& data);
  // Tries `password` against a folder's "data". True: `hash` is the hash to
  // send and `key` the 32-byte folder key. False when the password does not
  // open the data or the data is damaged; the outputs are then unchanged.
  bool open(std::string_view password, std::string_view data, std::string& hash, std::string& key);
  // One encrypted block of `in_length` plaintext bytes (at most 1024) into
  // `out`; with no `out`, the length needed. Throws CQuillboxException.
  std::size_t encryptBlock(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* key,
                           std::size_t key_length, std::size_t in_length);
  // The plaintext of one block of `in_length` bytes into `out`, which has room
  // for in_length - 10 bytes (the plaintext is followed there by its digest
  // and padding); returns the plaintext length. With no `out`, the room
  // needed. Throws CQuillboxException, with a "Password Error: ..." message
  // for a wrong key.
  std::size_t decryptBlock(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* key,
                           std::size_t key_length, std::size_t in_length);
};

// The plain-function interface: unmangled names, C types, and no exception
// ever escapes (any failure answers 0). Strings and buffers handed out are
// allocated with malloc and belong to the caller, who frees them with free()
// (after OPENSSL_cleanse for the key).
extern "C" {

// Makes a new verifier; on success *hash and *data are new NUL-terminated
// texts. Returns 1 on success, 0 on failure (outputs untouched).
int set_password(const char* password, char** hash, char** data);

// Tries `password` against `data`. *hash always becomes a new NUL-terminated
// text: the hash to send, or "" when the password did not open the data. On
// success *key becomes a new 32-byte buffer, *key_length 32, and the result
// is 1; otherwise 0.
int encryptDirectory(const char* password, const char* data, char** hash, unsigned char** key,
                     std::int32_t* key_length);

// encrypted_directory::encryptBlock and decryptBlock with 32-bit lengths;
// 0 on any failure. `out` must have room for the length given with no `out`.
std::int32_t encryptBlock(const unsigned char* in, unsigned char* out, const unsigned char* key,
                          std::int32_t key_length, std::int32_t in_length);
std::int32_t decryptBlock(const unsigned char* in, unsigned char* out, const unsigned char* key,
                          std::int32_t key_length, std::int32_t in_length);
}

}  // namespace greyfox
