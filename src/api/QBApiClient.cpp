#include "api/QBApiClient.h"

#include <cmath>

#include "api/ApiDiagnostics.h"
#include "diag/Log.h"
#include "platform/Clock.h"
#include "platform/Timings.h"

namespace greyfox {

namespace {

// A busy reply is re-sent at most this many times.
constexpr int kMaxBusyResends = 35;

const char* const kBusyMessage = "Folder is busy";
const char* const kAlreadyProcessingMessage =
    "This file is already being processed. Please wait until previous upload operation will be finished.";

std::mutex gVersionMutex;
std::string gVersion = "1.0";  // guarded by gVersionMutex

std::mutex gClientMutex;
std::shared_ptr<QBApiClient> gClient;  // guarded by gClientMutex

std::string timeText(const std::optional<double>& t) {
  return t ? std::to_string(static_cast<long long>(std::floor(*t))) : "(null)";
}

}  // namespace

std::string QBApiClientAPIVersion() {
  std::lock_guard<std::mutex> lock(gVersionMutex);
  return gVersion;
}

void setQBApiClientAPIVersion(const std::string& version) {
  std::lock_guard<std::mutex> lock(gVersionMutex);
  gVersion = version;
}

std::shared_ptr<QBApiClient> QBApiClient::sharedClient() {
  std::lock_guard<std::mutex> lock(gClientMutex);
  if (!gClient) gClient = std::make_shared<QBApiClient>();
  return gClient;
}

void QBApiClient::install(std::shared_ptr<QBApiClient> client) {
  std::lock_guard<std::mutex> lock(gClientMutex);
  gClient = std::move(client);
}

void QBApiClient::setActivityDelegate(std::shared_ptr<QBApiClientActivityDelegate> delegate) {
  std::lock_guard<std::mutex> lock(delegateMutex_);
  activityDelegate_ = std::move(delegate);
}

std::vector<QBApiClient::StackEntry> QBApiClient::requestsStack() const {
  std::lock_guard<std::mutex> lock(judgeMutex_);
  return requestsStack_;
}

void QBApiClient::didStart() {
  std::shared_ptr<QBApiClientActivityDelegate> d;
  {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    d = activityDelegate_;
  }
  if (d) d->didStartedRequest();
}

void QBApiClient::didFinish() {
  std::shared_ptr<QBApiClientActivityDelegate> d;
  {
    std::lock_guard<std::mutex> lock(delegateMutex_);
    d = activityDelegate_;
  }
  if (d) d->didFinishedRequest();
}

bool QBApiClient::isErrorReply(const nlohmann::json& reply) {
  return reply.is_object() && reply.size() == 1 && reply.contains("error");
}

nlohmann::json QBApiClient::userInfoFromServerErrorResponse(const nlohmann::json& reply) {
  nlohmann::json info = nlohmann::json::object();
  auto it = reply.find("error");
  if (it == reply.end() || !it->is_object()) return info;
  if (auto m = it->find("message"); m != it->end() && !m->is_null()) {
    info[kFailureReasonKey] = m->is_string() ? m->get<std::string>() : m->dump();
  }
  if (auto c = it->find("code"); c != it->end() && !c->is_null()) info[kServerCodeKey] = *c;
  return info;
}

void QBApiClient::fillNetworkError(ErrorPtr* error) {
  setQBError(error, QBApiErrorNetwork, "Server communication error.");
}

QBReply QBApiClient::sendRequest(const QBApiRequest::Ptr& request, ErrorPtr* error) {
  return sendRequest(request, 0, error);
}

QBReply QBApiClient::sendRequest(const QBApiRequest::Ptr& request, int iteration, ErrorPtr* error) {
  didStart();
  nlohmann::json reply;
  QBReply result;
  if (!request->sendSyncWith(error, &reply)) {
    QBLOG("=== FAILED REQUEST Caused by previous request: ===");
    request->logRequestDebug();
    fillNetworkError(error);
  } else {
    QBApiClientCheckResponseStatus status = checkResponseStatus(reply, request, error);
    if (status == QBApiClientCheckResponseStatusBusy) {
      const Timings& timings = Timings::current();
      double start = request->startTime.value_or(Clock::current().now());
      double elapsed = std::floor(Clock::current().now() - start);
      if (iteration < kMaxBusyResends && elapsed < timings.busyRetryWindow) {
        QBLOG("retry file close request due to QBApiClientCheckResponseStatusBusy");
        Clock::current().sleepFor(timings.busyRetryDelay);
        didFinish();
        return sendRequest(request, iteration + 1, error);
      }
    } else {
      request->logRequestDebug();
    }
    result = std::move(reply);
  }
  didFinish();
  return result;
}

QBApiClientCheckResponseStatus QBApiClient::checkResponseStatus(const nlohmann::json& reply,
                                                                const QBApiRequest::Ptr& request, ErrorPtr* error) {
  std::lock_guard<std::mutex> lock(judgeMutex_);
  QBApiClientCheckResponseStatus status = QBApiClientCheckResponseStatusNormal;
  try {
    QBLOG("checkResponseStatus synchronized");
    if (isErrorReply(reply)) {
      QBLOG("checkResponseStatus i");
      nlohmann::json info = userInfoFromServerErrorResponse(reply);
      QBLOG_SUCCINCT("checkResponseStatus errorInfo");
      if (error) {
        auto e = std::make_shared<Error>();
        e->domain = kQBErrorDomain;
        e->code = QBApiErrorServer;
        e->userInfo = info;
        if (*error) {
          e->underlying = *error;
        } else {
          e->userInfo[kNilKey] = nullptr;
        }
        *error = e;
      }
      QBLOG_SUCCINCT("checkResponseStatus FILL_ERROR_UI");
      std::string message = info.value(kFailureReasonKey, std::string());
      if (message == kBusyMessage) {
        QBLOG_SUCCINCT("checkResponseStatus i i");
        status = QBApiClientCheckResponseStatusBusy;
      } else if (message == kAlreadyProcessingMessage) {
        QBLOG_SUCCINCT("checkResponseStatus processed");
      } else {
        status = QBApiClientCheckResponseStatusFailed;
      }
      if (status != QBApiClientCheckResponseStatusNormal) writeFailureLog(request, reply);
    }
    if (status == QBApiClientCheckResponseStatusNormal) {
      QBLOG_SUCCINCT("checkResponseStatus QBApiClientCheckResponseStatusNormal");
      if (apiDebugOption("al_enabled")) {
        QBLOG_SUCCINCT("checkResponseStatus t s i");
        request->logRequestDebug();
        QBLOG("........... #%s response: %s", request->uid.c_str(), reply.dump().c_str());
      }
    }
    requestsStack_.emplace_back(request, reply);
    while (requestsStack_.size() > 5) requestsStack_.erase(requestsStack_.begin());
  } catch (const std::exception& e) {
    QBLOG("Exception in checkResponseStatus:: %s", e.what());
  }
  return status;
}

void QBApiClient::writeFailureLog(const QBApiRequest::Ptr& request, const nlohmann::json& reply) {
  QBLOG_SUCCINCT("checkResponseStatus default");
  QBLOG("=== REQUEST FAILURE. REQUESTS STACK(%d): ===", static_cast<int>(requestsStack_.size()));
  for (const auto& [r, rep] : requestsStack_) {
    r->logRequestDebug();
    QBLOG("........... #%s %s %s response: %s", r->uid.c_str(), timeText(r->startTime).c_str(),
          timeText(r->endTime).c_str(), rep.dump().c_str());
  }
  QBLOG("== FAILED REQUEST: ===");
  request->logRequestDebug();
  QBLOG("   :: %s", callStackText().c_str());
  QBLOG("........... #%s, %s, %s, response: %s", request->uid.c_str(), timeText(request->startTime).c_str(),
        timeText(request->endTime).c_str(), reply.dump().c_str());
  QBLOG("=== FAILURE LOG END ===\n\n");
}

bool QBApiClient::sendStatusRequest(const QBApiRequest::Ptr& request, QBApiClientContext* context, ErrorPtr* error) {
  if (context && !context->preFill(*request, *this, error)) return false;
  nlohmann::json reply;
  if (!request->sendSyncWith(error, &reply)) {
    QBLOG("=== FAILED REQUEST Caused by previous request: ===");
    request->logRequestDebug();
    fillNetworkError(error);
    return false;
  }
  return checkResponseStatus(reply, request, error) == QBApiClientCheckResponseStatusNormal;
}

QBReply QBApiClient::fillResponseError(ErrorPtr* error, QBApiClientContext& context, const QBApiRequest::Ptr& request) {
  if (!context.preFill(*request, *this, error)) return std::nullopt;
  QBReply reply = sendRequest(request, error);
  if (!reply) return std::nullopt;
  if (isErrorReply(*reply)) {
    // sendRequest has already put the service's error (-197) in the slot.
    return std::nullopt;
  }
  return context.postFill(std::move(*reply), *this, *request, error);
}

}  // namespace greyfox
