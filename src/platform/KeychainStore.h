// Saved secrets: (service, account) -> bytes, with add, read, delete and
// list. The sign-in password lives under "QuillboxAutoLogin" and the
// secure-folder password under "QuillboxSecureFolder", each with the user
// name as account.
//
// FileKeychainStore keeps them in a JSON file that only the user can read
// (mode 0600 in a 0700 directory). Safe from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Error.h"

namespace greyfox {

inline constexpr const char* kKeychainErrorDomain = "greyfox.keychain";
inline constexpr long kKeychainMissingArgument = -1001;
inline constexpr long kKeychainItemNotFound = -25300;
inline constexpr long kKeychainWriteFailed = -25293;

class KeychainStore {
 public:
  virtual ~KeychainStore() = default;

  // The store of the paths in force.
  static KeychainStore& shared();
  static void install(std::shared_ptr<KeychainStore> store);

  // Replaces any earlier item of (service, account). Empty service or account
  // fails with kKeychainMissingArgument.
  virtual bool setPasswordData(const std::string& bytes, const std::string& service, const std::string& account,
                               ErrorPtr* error) = 0;
  // The bytes, or nullopt (with kKeychainItemNotFound when there is no item).
  virtual std::optional<std::string> passwordData(const std::string& service, const std::string& account,
                                                  ErrorPtr* error) = 0;
  virtual bool deletePassword(const std::string& service, const std::string& account, ErrorPtr* error) = 0;
  // Attribute records {"svce": service, "acct": account} of the items of
  // `service`, or of every item when `service` is empty.
  virtual std::vector<nlohmann::json> accounts(const std::string& service, ErrorPtr* error) = 0;

  bool setPassword(const std::string& password, const std::string& service, const std::string& account,
                   ErrorPtr* error) {
    return setPasswordData(password, service, account, error);
  }
  std::optional<std::string> password(const std::string& service, const std::string& account, ErrorPtr* error) {
    return passwordData(service, account, error);
  }
};

class FileKeychainStore : public KeychainStore {
 public:
  explicit FileKeychainStore(std::string file);

  bool setPasswordData(const std::string& bytes, const std::string& service, const std::string& account,
                       ErrorPtr* error) override;
  std::optional<std::string> passwordData(const std::string& service, const std::string& account,
                                          ErrorPtr* error) override;
  bool deletePassword(const std::string& service, const std::string& account, ErrorPtr* error) override;
  std::vector<nlohmann::json> accounts(const std::string& service, ErrorPtr* error) override;

 private:
  nlohmann::json load() const;  // REQUIRES: mutex_ held
  bool store(const nlohmann::json& items, ErrorPtr* error);  // REQUIRES: mutex_ held

  const std::string file_;
  std::mutex mutex_;
};

}  // namespace greyfox
