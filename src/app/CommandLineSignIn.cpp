#include "app/CommandLineSignIn.h"

#include <cstdlib>

#include "api/QBApiClient.h"
#include "diag/Log.h"
#include "items/QBUserSessionItem.h"
#include "platform/KeychainStore.h"
#include "platform/UIPort.h"

namespace greyfox {

namespace {
constexpr long kCancelledCode = -1;
}

CommandLineSignIn::CommandLineSignIn(std::shared_ptr<QBApiClient> client) : client_(std::move(client)) {}

std::optional<std::string> CommandLineSignIn::passwordFor(const std::string& user, ErrorPtr* error) {
  // A missing keychain entry is no failure: the next source is asked.
  if (auto saved = KeychainStore::shared().password(kAutoLoginKeychainService, user, nullptr)) return saved;
  if (const char* env = std::getenv("GREYFOX_PASSWORD"); env && *env) return std::string(env);
  PasswordRequest request;
  request.title = "Sign in";
  request.message = "Password for " + user + ":";
  auto answer = UIPort::shared().askPassword(request);
  if (!answer) {
    setError(error, "greyfox.signin", kCancelledCode, "No password was given.");
    return std::nullopt;
  }
  return answer->password;
}

std::shared_ptr<QBUserSessionItem> CommandLineSignIn::signIn(const std::string& user, const std::string& password,
                                                             ErrorPtr* error) {
  auto session = client_->authenticateUserSessionWithUsername(user, password, error);
  if (!session) return nullptr;
  if (session->active2FA.value_or("") != "1") return session;

  QBLOG("Two-factor code required for %s", user.c_str());
  if (!client_->sendToken(*session, error)) return nullptr;
  auto code = UIPort::shared().askText("Two-factor code sent to you: ", false);
  if (!code) {
    setError(error, "greyfox.signin", kCancelledCode, "No two-factor code was given.");
    return nullptr;
  }
  if (!client_->verifyToken(*session, *code, error)) return nullptr;
  return session;
}

}  // namespace greyfox
