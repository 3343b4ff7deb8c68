// One exchange with the service: method, endpoint, path arguments, named
// parameters (or a body stream) and the rules that turn them into HTTP bytes.
// A request sends itself blocking (sendSyncWith...) or non-blocking
// (sendAsync, callbacks on the main run loop), retries a failed transfer
// within its retry budget, and decodes reply bodies (apiResponseFrom). It
// knows nothing of sessions or service error replies: QBApiClient adds the
// session before sending and judges the decoded reply after.
//
// A request is used by one caller at a time. The "CancelAllUploads"
// notification may arrive on any thread; it only sets operationsCancelled.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/HttpTransport.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

namespace greyfox {

// What all requests share: the base URL and the default retry budget.
struct QBApiRequestConfiguration {
  std::string requestHost;             // absolute URL whose path ends in "/api/v1/"
  std::uint64_t numberOfRetries = 3;   // copied into each new request

  // A new configuration with the service's base URL and 3 retries.
  static std::shared_ptr<QBApiRequestConfiguration> defaultConfiguration();
  // GREYFOX_SERVICE_URL, else the preferences key "serviceURL", else the
  // product's service. A missing final "/" is added.
  static std::string serviceBaseURL();
};

enum QBApiRequestParametersType : std::int64_t {
  QBApiRequestParametersJSON = 0,               // JSON object body
  QBApiRequestParametersQuery = 1,              // URL query, no body
  QBApiRequestParametersQueryAndMultipart = 2,  // query without "file_data", all as multipart
  QBApiRequestParametersMultipart = 3,          // multipart form body
  QBApiRequestParametersStream = 4,             // `stream` is the body
};

enum QBApiRequestState : std::int64_t {
  QBApiRequestStateIdle = 0,
  QBApiRequestStateRunning = 1,
  QBApiRequestStateFinished = 2,
};

class QBApiRequest : public std::enable_shared_from_this<QBApiRequest> {
 public:
  using Ptr = std::shared_ptr<QBApiRequest>;
  using Arguments = std::vector<std::string>;
  using StreamPtr = std::shared_ptr<std::istream>;

  using NetworkResponseHandler = std::function<void(long status)>;
  using ApiResponseHandler = std::function<void(const std::optional<nlohmann::json>& reply, ErrorPtr error)>;
  using DataHandler = std::function<void(const std::optional<std::string>& body, ErrorPtr error)>;
  using ProgressHandler = std::function<void(std::int64_t received, std::int64_t total)>;
  using UploadProgressHandler = std::function<void(std::int64_t written, std::int64_t expected)>;
  using PartialDataHandler =
      std::function<void(const std::string& chunk, std::int64_t receivedBefore, std::int64_t total)>;
  using RetryHandler = std::function<bool(const std::optional<std::string>& dataSoFar, ErrorPtr error)>;

  // Constructors. `parameters` null means none. "POST" and "PUT" encode
  // parameters as JSON, other methods as a query; with a stream and no
  // parameters the stream is the body. The time-out is the request time-out
  // of Timings, the retry budget the configuration's.
  static Ptr requestWithMethod(const std::string& method, const std::string& endpoint);
  static Ptr requestWithMethod(const std::string& method, const std::string& endpoint, const Arguments& arguments);
  static Ptr requestWithMethod(const std::string& method, const std::string& endpoint,
                               const nlohmann::json& parameters);
  static Ptr requestWithMethod(const std::string& method, const std::string& endpoint, const Arguments& arguments,
                               const nlohmann::json& parameters);
  static Ptr requestWithMethod(const std::string& method, const std::string& endpoint, StreamPtr stream);
  static Ptr requestWithMethod(const std::string& method, const std::string& endpoint, const Arguments& arguments,
                               StreamPtr stream);
  static Ptr initWithMethod(const std::string& method, const std::string& endpoint, const Arguments& arguments,
                            StreamPtr stream, const nlohmann::json& parameters);

  QBApiRequest();
  QBApiRequest(const QBApiRequest&) = delete;
  QBApiRequest& operator=(const QBApiRequest&) = delete;

  // --- Blocking sends (the calling thread waits) ---

  // The transfer with retries. True when a non-empty body or an HTTP 200
  // came back; the body goes to *data (nullopt when none arrived) and the
  // status to *status. False: -97 when the request cannot be built, -96 when
  // the retry handler refused, -100 when the retries ran out.
  bool sendSyncWith(ErrorPtr* error, std::optional<std::string>* data, long* status, bool logging);
  bool sendSyncWith(ErrorPtr* error, std::optional<std::string>* data);
  // As above; true only when also the HTTP status equals `expectCode`.
  bool sendSyncWithExpectCode(ErrorPtr* error, std::optional<std::string>* data, long expectCode);
  // As above; on success *returnCode is the HTTP status.
  bool sendSyncWithReturnCode(ErrorPtr* error, std::optional<std::string>* data, long* returnCode);
  // Sends and decodes: true only when a JSON object came out (in *response).
  bool sendSyncWith(ErrorPtr* error, nlohmann::json* response);

  // --- Non-blocking sends (handlers run on the main run loop) ---

  // Starts the transfer and returns; the handlers report progress and end.
  void sendAsync();
  // Blocks while the request runs and operationsCancelled is false.
  void waitAsync();
  // Runs the current run loop for t/10 seconds, then sleeps t.
  void waitFor(double seconds);
  // Stops the transfer; no handler is called after it.
  void cancelAsync();

  // Decodes a reply body: nullopt body -> failure; empty -> {}; "true" ->
  // {"response":"true"}; a JSON array -> {}; a JSON object -> itself;
  // anything else -> nullopt with -98 "Possible internal server error".
  static std::optional<nlohmann::json> apiResponseFrom(const std::optional<std::string>& body,
                                                       const std::string& uid, ErrorPtr* error);

  // The built HTTP request (made on the first call, reused by retries), or
  // nullptr with -97 when the parameters cannot be encoded.
  const HttpRequest* urlRequest(ErrorPtr* error);
  // The absolute URL of the endpoint (without arguments and query).
  std::string fullUrlFor(const std::string& endpoint) const;
  // Consumes one retry: false when none is left.
  bool tryRetry();
  // Logs method, uid, URL and parameters ("passwd" hidden).
  void logRequestDebug();
  // The parameter text of the request log.
  std::string parametersLogText() const;
  void cancelOperations() { operationsCancelled_.store(true); }

  bool operationsCancelled() const { return operationsCancelled_.load(); }
  std::int64_t state() const { return state_.load(); }
  bool isRunning() const { return state() == QBApiRequestStateRunning; }

  // Handlers, set before sending.
  void setNetworkResponseHandler(NetworkResponseHandler h) { networkResponseHandler_ = std::move(h); }
  void setApiResponseHandler(ApiResponseHandler h) { apiResponseHandler_ = std::move(h); }
  void setDataHandler(DataHandler h) { dataHandler_ = std::move(h); }
  void setProgressHandler(ProgressHandler h) { progressHandler_ = std::move(h); }
  void setUploadProgressHandler(UploadProgressHandler h) { uploadProgressHandler_ = std::move(h); }
  void setPartialDataHandler(PartialDataHandler h) { partialDataHandler_ = std::move(h); }
  void setRetryHandler(RetryHandler h) { retryHandler_ = std::move(h); }

  // Plain properties; set them before sending.
  std::shared_ptr<QBApiRequestConfiguration> configuration;
  std::string uid;
  std::optional<double> startTime;  // wall time of the first attempt
  std::optional<double> endTime;    // wall time the last attempt ended
  std::string endpoint;
  std::string method;
  Arguments arguments;
  nlohmann::json parameters;  // an object, or null for none
  StreamPtr stream;
  std::uint64_t numberOfRetries = 3;
  std::int64_t parametersType = QBApiRequestParametersQuery;
  std::int64_t receivedBytes = 0;  // main run loop only
  std::int64_t totalBytes = -1;    // main run loop only
  std::optional<std::string> mutableData;
  double timeout = 240;

 private:
  void startTransfer();
  void onFailure(ErrorPtr error);
  void onFinish();

  std::atomic<bool> operationsCancelled_{false};
  std::atomic<std::int64_t> state_{QBApiRequestStateIdle};
  std::optional<HttpRequest> request_;
  std::shared_ptr<HttpTask> connection_;
  ScopedObserver cancelObserver_;

  NetworkResponseHandler networkResponseHandler_;
  ApiResponseHandler apiResponseHandler_;
  DataHandler dataHandler_;
  ProgressHandler progressHandler_;
  UploadProgressHandler uploadProgressHandler_;
  PartialDataHandler partialDataHandler_;
  RetryHandler retryHandler_;
};

}  // namespace greyfox
