// The local Quillbox service that `greyfox demo` signs in to: started as a
// child process (quillbox-devservice beside the running executable) with the
// demo account seeded into a data folder that is kept between runs.
//
// Used from the main thread only. The child ends with this object, and also
// when this process dies first.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/Error.h"

namespace greyfox {

class DemoService {
 public:
  DemoService() = default;
  ~DemoService();  // stops the service
  DemoService(const DemoService&) = delete;
  DemoService& operator=(const DemoService&) = delete;

  // Starts the service on a free loopback port with its data in `dataDir`
  // and waits for its "listening on URL" line. false with an error when it
  // cannot be started or does not answer within Timings::mountTimeout.
  bool start(const std::string& dataDir, ErrorPtr* error);
  // SIGTERM, then waits for the child.
  void stop();
  // The service's API base URL.
  const std::string& baseUrl() const { return baseUrl_; }

  // The service executable: quillbox-devservice beside this program.
  static std::string executablePath();

 private:
  pid_t pid_ = -1;
  std::string baseUrl_;
};

}  // namespace greyfox
