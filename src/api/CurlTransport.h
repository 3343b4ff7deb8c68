// The HTTP transport over libcurl.
//
// Blocking exchanges run on the caller's thread with an easy handle taken from
// a pool (handles are reused, not made per request). Non-blocking exchanges
// run on one network thread that drives a multi handle and posts each
// exchange's events to RunLoop::main(). All handles share one connection,
// DNS and TLS-session cache, so consecutive requests reuse connections.
// TLS certificates are always verified; `caFile` adds the authority that
// signs the service's certificate (the local service's test certificate).
//
// Safe to use from any thread. The destructor stops the network thread; an
// exchange still in flight then ends without further events.
#pragma once

#include <memory>
#include <string>

#include "api/HttpTransport.h"

namespace greyfox {

struct CurlTransportOptions {
  std::string caFile;  // empty: the system's authorities only

  // GREYFOX_CA_FILE, else the preferences key "serviceCAFile", else none.
  static CurlTransportOptions fromEnvironment();
};

class CurlTransport : public HttpTransport {
 public:
  explicit CurlTransport(CurlTransportOptions options = CurlTransportOptions::fromEnvironment());
  ~CurlTransport() override;
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  HttpResult perform(const HttpRequest& request) override;
  std::shared_ptr<HttpTask> start(const HttpRequest& request, HttpEvents events) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace greyfox
