// Sign-in from the command line: finds the password (the saved sign-in
// password of the keychain store, else $GREYFOX_PASSWORD, else a question
// through the UI port), opens a session with the service, and asks for the
// two-factor code on the terminal when the account needs one.
//
// Called on the main thread before the main run loop runs; blocks while it
// talks to the service and waits for the user's answers.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"

namespace greyfox {

class QBApiClient;
class QBUserSessionItem;

// The keychain service of the saved sign-in password.
inline constexpr const char* kAutoLoginKeychainService = "QuillboxAutoLogin";

class CommandLineSignIn {
 public:
  explicit CommandLineSignIn(std::shared_ptr<QBApiClient> client);

  // The user's password; nullopt with an error when the user gave none.
  static std::optional<std::string> passwordFor(const std::string& user, ErrorPtr* error);

  // An open session, or nullptr with the service's error (a refused password,
  // a refused two-factor code) or the error of a cancelled question.
  std::shared_ptr<QBUserSessionItem> signIn(const std::string& user, const std::string& password, ErrorPtr* error);

 private:
  const std::shared_ptr<QBApiClient> client_;
};

}  // namespace greyfox
