// Secure-folder set-up from a password alone: the password check every
// handshake starts with, a new folder's verifier, and a file's stored form.
// The secure-folder runtime uses the password check and the error codes; the
// local service uses the rest to seed secure folders and their files the way a
// client would. Stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace greyfox {

inline constexpr const char* kSecureFoldersRuntimeErrorDomain = "QBContentSecureFoldersRuntime";
enum SecureFoldersRuntimeErrorCode : long {
  kSecureFolderPasswordMissing = 0,    // "You should enter the password"
  kSecureFolderPasswordIncorrect = 2,  // "Incorrect password for Secure Files."
  kSecureFolderVerifierFailed = 3,     // no failure reason
};

// True for a non-empty password; false with error code
// kSecureFolderPasswordMissing, "You should enter the password", otherwise.
bool checkSecureFolderPassword(std::string_view password, ErrorPtr* error);

// What the service keeps for one secure folder.
struct SecureFolderVerifier {
  std::string data;  // 372 lower-case hexadecimal digits
  std::string hash;  // 64 lower-case hexadecimal digits
};

// A new verifier for `password`. nullopt with error code
// kSecureFolderPasswordMissing for an empty password, or
// kSecureFolderVerifierFailed when it cannot be made.
std::optional<SecureFolderVerifier> makeSecureFolderVerifier(std::string_view password, ErrorPtr* error);

// The hash a client sends after opening `data` with `password`, or nullopt
// when that password does not open it.
std::optional<std::string> secureFolderHashForPassword(std::string_view password, std::string_view data);

// The 32-byte folder key of `password`.
std::string secureFolderKey(std::string_view password);

// `plaintext` in the form the service stores for a file of a secure folder
// whose password is `password`. nullopt with error as for empty passwords
// above, or the stream encryption's error.
std::optional<std::string> encryptSecureFileContents(std::string_view plaintext, std::string_view password,
                                                     ErrorPtr* error);

}  // namespace greyfox
