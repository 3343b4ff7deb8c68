// The HTTP client under every service request, behind a small interface so a
// test can swap it or make it fail.
//
// perform() is a blocking exchange on the caller's thread. start() begins a
// non-blocking exchange whose events are posted, in order, to RunLoop::main():
// response headers (status and expected length), body chunks, body-upload
// progress, and then exactly one of failure or completion. A cancelled
// exchange posts nothing further. Both may be called from any thread.
//
// HttpTransport::current() is the transport installed for the running session
// (by default a CurlTransport configured from the environment).
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"

namespace greyfox {

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;                          // used when bodyStream is null
  std::shared_ptr<std::istream> bodyStream;  // read to its end as the body
  // The exchange fails when nothing moves for this long (and when connecting
  // takes this long); a slow but steady transfer may run longer.
  double timeout = 240;
};

// The outcome of a blocking exchange. `error` is set when no complete HTTP
// reply came back (connection refused or cut, time-out, TLS failure); `status`
// and `body` then hold what had arrived (status 0 when no headers did).
struct HttpResult {
  long status = 0;
  std::string body;
  ErrorPtr error;
};

struct HttpEvents {
  // Status code and the expected body length (-1 when unknown).
  std::function<void(long status, std::int64_t expectedLength)> response;
  std::function<void(const std::string& chunk)> data;
  std::function<void(std::int64_t sent, std::int64_t expected)> uploadProgress;
  std::function<void(ErrorPtr error)> failure;
  std::function<void()> completion;
};

// A non-blocking exchange in flight.
class HttpTask {
 public:
  virtual ~HttpTask() = default;
  // Stops the exchange; no event is delivered after cancel() returns when it
  // is called on the main run loop's thread.
  virtual void cancel() = 0;
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  virtual HttpResult perform(const HttpRequest& request) = 0;
  virtual std::shared_ptr<HttpTask> start(const HttpRequest& request, HttpEvents events) = 0;

  static std::shared_ptr<HttpTransport> current();
  // Installs `transport` for the process; nullptr restores the default.
  static void install(std::shared_ptr<HttpTransport> transport);
};

// The domain of transport errors.
inline constexpr const char* kHttpTransportErrorDomain = "HttpTransport";

}  // namespace greyfox
