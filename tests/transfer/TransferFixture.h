// A signed-in client against one local service per test suite: a fresh cache,
// content controller, transfer-lock table and download starter per test, the
// main run loop on a thread of its own (as in the application), and short
// timings.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "api/CurlTransport.h"
#include "api/QBApiClient.h"
#include "cache/QBCacheController.h"
#include "content/QBBackgroundFolderUpdateController.h"
#include "content/QBContentController.h"
#include "content/QBDownloadStarter.h"
#include "items/QBUserSessionItem.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"
#include "support/LocalService.h"
#include "transfer/QBDownloadController.h"

namespace greyfox::test {

inline constexpr const char* kDemo = "demo@greyfox.test";
inline constexpr const char* kDemoPassword = "greyfox-demo";

// `size` bytes that differ from position to position and from seed to seed,
// so a byte read from the wrong offset or file shows.
inline std::string patternBytes(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class TransferService : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new LocalService(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }

  static Timings shortTimings() {
    Timings t;
    t.requestTimeout = 10;
    t.requestWaitSlice = 0.05;
    t.downloadWait = 2;
    t.downloadWaitStep = 0.25;
    t.readaheadRepeatPause = 0.05;
    t.readaheadFillTimeout = 5;
    return t;
  }

  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("greyfox-transfer-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    Paths::install(Paths::underRoot(root_.string()));
    Timings::install(shortTimings());
    ::setenv("GREYFOX_SERVICE_URL", service_->baseUrl().c_str(), 1);
    HttpTransport::install(std::make_shared<CurlTransport>(CurlTransportOptions{}));
    client = std::make_shared<QBApiClient>();
    QBApiClient::install(client);
    mainLoop_ = std::thread([] { RunLoop::main().run(); });

    service_->clearFaults();
    service_->resetStats();
    ErrorPtr error;
    session = client->authenticateUserSessionWithUsername(kDemo, kDemoPassword, &error);
    ASSERT_TRUE(session) << (error ? error->message() : "");
    cache = QBCacheController::cacheControllerAt((root_ / "cache").string(), &error);
    ASSERT_TRUE(cache);
    cache->storeItem(session);
    content = std::make_shared<QBContentController>(client, cache);
    QBContentController::install(content);
    folders = std::make_shared<QBBackgroundFolderUpdateController>();
    QBBackgroundFolderUpdateController::install(folders);
    QBDownloadStarter::install(std::make_shared<QBDownloadStarterImpl>());
  }

  void TearDown() override {
    service_->clearFaults();
    // Downloads still running (a stalled one) end before the next test.
    auto start = std::chrono::steady_clock::now();
    while (QBDownloadController::runningCount() > 0 && secondsSince(start) < 20)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(QBDownloadController::runningCount(), 0u) << "a download never ended";
    RunLoop::main().post([] { RunLoop::main().stop(); });
    mainLoop_.join();
    QBDownloadStarter::install(nullptr);
    QBBackgroundFolderUpdateController::install(nullptr);
    QBContentController::install(nullptr);
    content.reset();
    cache.reset();
    QBApiClient::install(nullptr);
    HttpTransport::install(nullptr);
    Timings::install(Timings{});
    ::unsetenv("GREYFOX_SERVICE_URL");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  LocalService& service() { return *service_; }
  // What the service holds for the demo user's file.
  std::string serviceBytes(const std::string& path) { return service_->getFile(kDemo, path).value_or("<missing>"); }
  std::int64_t downloadRequests() { return service_->stats().value("GET download/file.json", std::int64_t{0}); }
  std::string identifierOf(const std::string& path) { return content->identifierForFileAt(path, false).value_or(""); }

  std::shared_ptr<QBApiClient> client;
  std::shared_ptr<QBUserSessionItem> session;
  std::shared_ptr<QBCacheController> cache;
  std::shared_ptr<QBContentController> content;
  std::shared_ptr<QBBackgroundFolderUpdateController> folders;

 private:
  static inline LocalService* service_ = nullptr;
  std::filesystem::path root_;
  std::thread mainLoop_;
};

}  // namespace greyfox::test
