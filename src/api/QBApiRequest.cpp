#include "api/QBApiRequest.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#include "api/ApiError.h"
#include "api/ApiDiagnostics.h"
#include "api/RequestEncoding.h"
#include "diag/Log.h"
#include "platform/Clock.h"
#include "platform/Preferences.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"

namespace greyfox {

namespace {

// The product's service, used when neither the environment nor the
// preferences name another.
constexpr const char* kDefaultServiceURL = "https://api.quillbox.com/api/v1/";

// Four hex digits that differ between consecutive requests of a process: a
// counter scattered by an odd multiplier over a random start.
std::string nextUid() {
  static std::atomic<std::uint32_t> counter{static_cast<std::uint32_t>(std::random_device{}())};
  std::uint32_t n = counter.fetch_add(1) * 40503u;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", n & 0xFFFFu);
  return buf;
}

double wallNow() { return Clock::current().now(); }

}  // namespace

std::string QBApiRequestConfiguration::serviceBaseURL() {
  std::string url;
  if (const char* env = std::getenv("GREYFOX_SERVICE_URL"); env && *env) {
    url = env;
  } else if (auto pref = Preferences::standard().get("serviceURL"); pref.is_string() && !pref.get<std::string>().empty()) {
    url = pref.get<std::string>();
  } else {
    url = kDefaultServiceURL;
  }
  if (url.back() != '/') url += '/';
  return url;
}

std::shared_ptr<QBApiRequestConfiguration> QBApiRequestConfiguration::defaultConfiguration() {
  auto c = std::make_shared<QBApiRequestConfiguration>();
  c->requestHost = serviceBaseURL();
  c->numberOfRetries = 3;
  return c;
}

QBApiRequest::QBApiRequest()
    : configuration(QBApiRequestConfiguration::defaultConfiguration()), uid(nextUid()) {
  cancelObserver_ = ScopedObserver(kCancelAllUploadsNotification, [this](const Notification&) { cancelOperations(); });
}

QBApiRequest::Ptr QBApiRequest::requestWithMethod(const std::string& method, const std::string& endpoint) {
  return initWithMethod(method, endpoint, {}, nullptr, nullptr);
}
QBApiRequest::Ptr QBApiRequest::requestWithMethod(const std::string& method, const std::string& endpoint,
                                                  const Arguments& arguments) {
  return initWithMethod(method, endpoint, arguments, nullptr, nullptr);
}
QBApiRequest::Ptr QBApiRequest::requestWithMethod(const std::string& method, const std::string& endpoint,
                                                  const nlohmann::json& parameters) {
  return initWithMethod(method, endpoint, {}, nullptr, parameters);
}
QBApiRequest::Ptr QBApiRequest::requestWithMethod(const std::string& method, const std::string& endpoint,
                                                  const Arguments& arguments, const nlohmann::json& parameters) {
  return initWithMethod(method, endpoint, arguments, nullptr, parameters);
}
QBApiRequest::Ptr QBApiRequest::requestWithMethod(const std::string& method, const std::string& endpoint,
                                                  StreamPtr stream) {
  return initWithMethod(method, endpoint, {}, std::move(stream), nullptr);
}
QBApiRequest::Ptr QBApiRequest::requestWithMethod(const std::string& method, const std::string& endpoint,
                                                  const Arguments& arguments, StreamPtr stream) {
  return initWithMethod(method, endpoint, arguments, std::move(stream), nullptr);
}

QBApiRequest::Ptr QBApiRequest::initWithMethod(const std::string& method, const std::string& endpoint,
                                               const Arguments& arguments, StreamPtr stream,
                                               const nlohmann::json& parameters) {
  auto r = std::make_shared<QBApiRequest>();
  r->method = method;
  r->endpoint = endpoint;
  r->timeout = Timings::current().requestTimeout;
  r->numberOfRetries = r->configuration->numberOfRetries;
  r->arguments = arguments;
  r->parametersType = (method == "POST" || method == "PUT") ? QBApiRequestParametersJSON : QBApiRequestParametersQuery;
  if (!parameters.is_null()) {
    r->parameters = parameters;
  } else if (stream) {
    r->stream = std::move(stream);
    r->parametersType = QBApiRequestParametersStream;
  }
  return r;
}

std::string QBApiRequest::fullUrlFor(const std::string& ep) const {
  return resolveEndpoint(configuration->requestHost, ep);
}

const HttpRequest* QBApiRequest::urlRequest(ErrorPtr* error) {
  if (request_) return &*request_;
  HttpRequest r;
  r.method = method;
  r.timeout = timeout;
  std::string url = fullUrlFor(endpoint);

  std::string path;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) path += '/';
    path += urlEncode(arguments[i]);
  }
  if (!path.empty()) {
    if (url.back() != '/') url += '/';
    url += path;
  }

  bool failed = false;
  switch (parametersType) {
    case QBApiRequestParametersJSON:
      if (!parameters.is_null()) {
        try {
          // Byte buffers have no JSON form: the body cannot be made.
          bool hasBinary = false;
          if (parameters.is_object()) {
            for (const auto& v : parameters) hasBinary = hasBinary || v.is_binary();
          }
          if (hasBinary || !parameters.is_object()) {
            setError(error, "JSONSerialization", 0, "The parameters cannot be written as JSON");
            failed = true;
          } else {
            r.headers.emplace_back("Content-Type", "application/json");
            r.body = parameters.dump();
          }
        } catch (const nlohmann::json::exception& e) {
          setError(error, "JSONSerialization", e.id, e.what());
          failed = true;
        }
      }
      break;
    case QBApiRequestParametersQuery:
      url += "?" + queryString(parameters);
      break;
    case QBApiRequestParametersQueryAndMultipart:
      url += "?" + queryString(parameters, "file_data");
      [[fallthrough]];
    case QBApiRequestParametersMultipart:
      r.headers.emplace_back("Content-Type", std::string("multipart/form-data; boundary=") + kMultipartBoundary);
      r.body = multipartBody(parameters);
      break;
    case QBApiRequestParametersStream:
      r.bodyStream = stream;
      break;
    default:
      break;
  }
  if (failed) {
    setQBBareError(error, QBApiErrorRequestBuild);
    return nullptr;
  }
  r.url = url;
  request_ = std::move(r);
  return &*request_;
}

bool QBApiRequest::tryRetry() {
  if (numberOfRetries == 0) return false;
  --numberOfRetries;
  return true;
}

bool QBApiRequest::sendSyncWith(ErrorPtr* error, std::optional<std::string>* data, long* status, bool) {
  const HttpRequest* built = urlRequest(error);
  if (!built) return false;
  state_.store(QBApiRequestStateRunning);
  if (!startTime) startTime = wallNow();

  HttpResult result = HttpTransport::current()->perform(*built);
  // A transfer that failed part-way has no body: its bytes are incomplete
  // and must not pass for the reply.
  if (result.error) result.body.clear();
  if (data) {
    if (result.error) {
      data->reset();
    } else {
      *data = result.body;
    }
  }
  if (status) *status = result.status;
  if (result.error && error) *error = result.error;

  endTime = wallNow();
  state_.store(QBApiRequestStateFinished);

  if (!result.body.empty()) return true;
  QBLOG("dataFailure");
  if (result.status == 200 && !result.error) return true;

  if (tryRetry()) {
    QBLOG("retry request for request uid %s", uid.c_str());
    if (retryHandler_) {
      ErrorPtr current = error ? *error : result.error;
      if (!retryHandler_(std::nullopt, current)) {
        if (error) {
          auto e = std::make_shared<Error>();
          e->domain = kQBErrorDomain;
          e->code = QBApiErrorRetryRefused;
          e->underlying = current;
          *error = e;
        }
        return false;
      }
    }
    return sendSyncWith(error, data, status, true);
  }
  if (error) {
    *error = makeError(kQBErrorDomain, QBApiErrorNoData, "Server returned no data", result.error);
  }
  return false;
}

bool QBApiRequest::sendSyncWith(ErrorPtr* error, std::optional<std::string>* data) {
  long status = 0;
  return sendSyncWith(error, data, &status, true);
}

bool QBApiRequest::sendSyncWithExpectCode(ErrorPtr* error, std::optional<std::string>* data, long expectCode) {
  long status = 0;
  bool ok = sendSyncWith(error, data, &status, true);
  return ok && status == expectCode;
}

bool QBApiRequest::sendSyncWithReturnCode(ErrorPtr* error, std::optional<std::string>* data, long* returnCode) {
  long status = 0;
  bool ok = sendSyncWith(error, data, &status, true);
  if (ok && returnCode) *returnCode = status;
  return ok;
}

bool QBApiRequest::sendSyncWith(ErrorPtr* error, nlohmann::json* response) {
  if (!startTime) startTime = wallNow();
  std::optional<std::string> body;
  long status = 0;
  bool ok = sendSyncWith(error, &body, &status, true);
  endTime = wallNow();
  if (!ok) return false;
  auto decoded = apiResponseFrom(body, uid, error);
  if (!decoded) return false;
  if (response) *response = std::move(*decoded);
  return true;
}

std::optional<nlohmann::json> QBApiRequest::apiResponseFrom(const std::optional<std::string>& body,
                                                            const std::string& uid, ErrorPtr* error) {
  std::optional<nlohmann::json> result;
  ErrorPtr parseError;
  if (!body) {
    QBLOG("QBApiRequest:apiResponseFrom data=nil");
  } else if (body->empty()) {
    QBLOG("QBApiRequest:apiResponseFrom data.length==0");
    result = nlohmann::json::object();
  } else {
    QBLOG("QBApiRequest:apiResponseFrom data.length!=0");
    if (*body == "true") {
      QBLOG_SUCCINCT("QBApiRequest:apiResponseFrom response true");
      result = nlohmann::json{{"response", "true"}};
    } else {
      QBLOG_SUCCINCT("QBApiRequest:apiResponseFrom response other than true");
      try {
        result = nlohmann::json::parse(*body);
      } catch (const nlohmann::json::parse_error& e) {
        parseError = makeTransportError("JSONParse", e.id, e.what());
      }
    }
  }
  if (result && result->is_array()) {
    QBLOG("QBApiRequest:apiResponseFrom isKindOfClass");
    result = nlohmann::json::object();
  }
  if (result && result->is_object()) return result;

  QBLOG("........... #%s ERROR in response: %s", uid.c_str(), body ? body->c_str() : "(null)");
  if (error) {
    *error = makeError(kQBErrorDomain, QBApiErrorBadReply, "Possible internal server error", parseError);
  }
  return std::nullopt;
}

std::string QBApiRequest::parametersLogText() const {
  std::string text = "{\n";
  if (parameters.is_object()) {
    for (const auto& [key, value] : parameters.items()) {
      std::string shown;
      if (key == "passwd") {
        shown = "user_password";
      } else if (value.is_binary()) {
        shown = "NSData of " + std::to_string(value.get_binary().size());
      } else {
        shown = parameterText(value);
      }
      text += "  " + key + " = \"" + shown + "\"\n";
    }
  }
  return text;
}

void QBApiRequest::logRequestDebug() {
  std::string url = request_ ? request_->url : fullUrlFor(endpoint);
  QBLOG("%s request #%s with endpoint \"%s\", params %s}", method.c_str(), uid.c_str(), url.c_str(),
        parametersLogText().c_str());
  if (apiDebugOption("al_callstack")) QBLOG("   :: %s", callStackText().c_str());
}

}  // namespace greyfox
