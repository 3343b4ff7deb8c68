// Sign-in, two-factor code, logout, account creation and account figures.
#include "api/QBApiClient.h"
#include "items/QBAccountItems.h"
#include "items/QBUserSessionItem.h"

namespace greyfox {

std::shared_ptr<QBUserSessionItem> QBApiClient::authenticateUserSessionWithUsername(const std::string& username,
                                                                                   const std::string& password,
                                                                                   ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod(
      "POST", "session/login.json",
      nlohmann::json{{"username", username}, {"passwd", password}, {"version", QBApiClientAPIVersion()}});
  return fillContentItemOfClass<QBUserSessionItem>(error, request);
}

bool QBApiClient::sendToken(const QBUserSessionItem& session, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "users/authytokenviamessage.json",
                                                 QBApiRequest::Arguments{session.sessionId});
  return sendStatusRequest(request, error);
}

bool QBApiClient::verifyToken(const QBUserSessionItem& session, const std::string& code, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "users/authylogin.json",
                                                 QBApiRequest::Arguments{session.sessionId, code});
  return sendStatusRequest(request, error);
}

bool QBApiClient::logoutWithContext(QBApiClientAuthContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "session/logout.json");
  QBReply reply = fillResponseError(error, context, request);
  if (!reply) return false;
  auto it = reply->find("result");
  return it != reply->end() && it->is_number() && it->get<double>() == 1;
}

bool QBApiClient::createUserWithEmail(const std::string& email, const std::string& password,
                                      const std::string& firstName, const std::string& lastName, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "users.json",
                                                 nlohmann::json{{"username", email},
                                                                {"email", email},
                                                                {"passwd", password},
                                                                {"verify_passwd", password},
                                                                {"first_name", firstName},
                                                                {"last_name", lastName},
                                                                {"created_by_id", "Quillbox"}});
  return sendStatusRequest(request, error);
}

std::shared_ptr<QBUserInfoItem> QBApiClient::userInfoWithContext(QBApiClientAuthContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "users/info.json");
  return fillContentItemOfClass<QBUserInfoItem>(error, context, request);
}

std::shared_ptr<QBUserSessionItem> QBApiClient::fillPropertyOfUserSessionItem(
    const std::shared_ptr<QBUserSessionItem>& session, ErrorPtr* error, const std::string& propertyName,
    const QBApiRequest::Ptr& request) {
  QBReply reply = sendRequest(request, error);
  // An error reply carries no limit: the session keeps the one it has.
  if (!reply || isErrorReply(*reply) || !session) return nullptr;
  auto it = reply->find(propertyName);
  if (it != reply->end() && it->is_number()) {
    session->uploadSpeedLimit = it->get<double>();
  } else if (it != reply->end() && it->is_string()) {
    try {
      session->uploadSpeedLimit = std::stod(it->get<std::string>());
    } catch (const std::exception&) {
      session->uploadSpeedLimit.reset();
    }
  } else {
    session->uploadSpeedLimit.reset();
  }
  return session;
}

std::shared_ptr<QBUserSessionItem> QBApiClient::getUploadSpeedLimit(const std::shared_ptr<QBUserSessionItem>& session,
                                                                    ErrorPtr* error) {
  if (!session) return nullptr;
  auto request = QBApiRequest::requestWithMethod("GET", "session/info.json", QBApiRequest::Arguments{session->sessionId});
  return fillPropertyOfUserSessionItem(session, error, "UploadSpeedLimit", request);
}

}  // namespace greyfox
