// Shared set-up of the API tests: every path under a temporary root, short
// timings, and a fresh transport and client per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "api/CurlTransport.h"
#include "api/QBApiClient.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Timings.h"

namespace greyfox::test {

class ApiTestEnvironment {
 public:
  ApiTestEnvironment() {
    root_ = std::filesystem::temp_directory_path() / ("greyfox-api-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root_);
    Paths::install(Paths::underRoot(root_.string()));
    Timings t;
    t.requestTimeout = 5;
    t.busyRetryDelay = 0.001;
    t.requestWaitSlice = 0.02;
    Timings::install(t);
    HttpTransport::install(std::make_shared<CurlTransport>(CurlTransportOptions{}));
    QBApiClient::install(std::make_shared<QBApiClient>());
  }
  ~ApiTestEnvironment() {
    QBApiClient::install(nullptr);
    HttpTransport::install(nullptr);
    Clock::install(nullptr);
    Timings::install(Timings{});
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  ApiTestEnvironment(const ApiTestEnvironment&) = delete;
  ApiTestEnvironment& operator=(const ApiTestEnvironment&) = delete;

 private:
  std::filesystem::path root_;
};

// Counts the activity delegate's calls.
class CountingDelegate : public QBApiClientActivityDelegate {
 public:
  void didStartedRequest() override { ++starts; }
  void didFinishedRequest() override { ++finishes; }
  int starts = 0;
  int finishes = 0;
};

}  // namespace greyfox::test
