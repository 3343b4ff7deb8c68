#include "secure/SecureFolderSeed.h"

#include "crypto/CQuillboxException.h"
#include "crypto/Cleanse.h"
#include "crypto/Cryptography.h"
#include "diag/Log.h"
#include "secure/EncryptedDirectory.h"
#include "secure/SecureFilesData.h"

namespace greyfox {

bool checkSecureFolderPassword(std::string_view password, ErrorPtr* error) {
  if (!password.empty()) return true;
  setError(error, kSecureFoldersRuntimeErrorDomain, kSecureFolderPasswordMissing, "You should enter the password");
  return false;
}

std::optional<SecureFolderVerifier> makeSecureFolderVerifier(std::string_view password, ErrorPtr* error) {
  if (!checkSecureFolderPassword(password, error)) return std::nullopt;
  SecureFolderVerifier verifier;
  try {
    encrypted_directory().set_password(password, verifier.hash, verifier.data);
  } catch (const CQuillboxException& e) {
    QBLOG("%s", e.what());
    setError(error, kSecureFoldersRuntimeErrorDomain, kSecureFolderVerifierFailed, "");
    return std::nullopt;
  }
  return verifier;
}

std::optional<std::string> secureFolderHashForPassword(std::string_view password, std::string_view data) {
  std::string hash, key;
  qb_crypt::cleanse_guard wipeKey(key);
  if (!encrypted_directory().open(password, data, hash, key)) return std::nullopt;
  return hash;
}

std::string secureFolderKey(std::string_view password) {
  std::string key(cryptography::kKeySize, '\0');
  cryptography::create_key(password, reinterpret_cast<std::uint8_t*>(key.data()), key.size());
  return key;
}

std::optional<std::string> encryptSecureFileContents(std::string_view plaintext, std::string_view password,
                                                     ErrorPtr* error) {
  if (!checkSecureFolderPassword(password, error)) return std::nullopt;
  std::string key = secureFolderKey(password);
  qb_crypt::cleanse_guard wipeKey(key);
  return encryptWithKey(plaintext, key, error);
}

}  // namespace greyfox
