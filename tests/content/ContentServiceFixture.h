// Shared set-up of the content controller's component tests: one local
// service for the test program (demo seed and test controls), and per test a fresh root,
// a real cache, a client signed in through the session operation with its
// session stored under "default", and a content controller on both.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <memory>
#include <string>

#include "api/CurlTransport.h"
#include "api/QBApiClient.h"
#include "cache/QBCacheController.h"
#include "content/QBContentController.h"
#include "items/QBUserSessionItem.h"
#include "platform/Clock.h"
#include "platform/TestTempRoot.h"
#include "platform/Timings.h"
#include "support/LocalService.h"

namespace greyfox::test {

inline constexpr const char* kDemoUser = "demo@greyfox.test";
inline constexpr const char* kFriendUser = "friend@greyfox.test";
inline constexpr const char* kPassword = "greyfox-demo";

class ContentServiceTest : public ::testing::Test {
 protected:
  // One service for every suite of the program; it stops when the program ends.
  static void SetUpTestSuite() {
    if (!service_) service_ = std::make_unique<LocalService>();
    ::setenv("GREYFOX_SERVICE_URL", service_->baseUrl().c_str(), 1);
  }
  static void TearDownTestSuite() { ::unsetenv("GREYFOX_SERVICE_URL"); }

  void SetUp() override {
    root_ = std::make_unique<greyfox::testing::TempRoot>();
    Timings t;
    t.requestTimeout = 10;
    t.busyRetryDelay = 0.001;
    t.busyRetryWindow = 1;
    t.requestWaitSlice = 0.02;
    Timings::install(t);
    HttpTransport::install(std::make_shared<CurlTransport>(CurlTransportOptions{}));
    client_ = std::make_shared<QBApiClient>();
    QBApiClient::install(client_);
    signIn(kDemoUser);
    service_->clearFaults();
    service_->resetStats();
  }

  void TearDown() override {
    service_->clearFaults();
    QBContentController::install(nullptr);
    controller_.reset();
    QBCacheController::setSharedController(nullptr);
    cache_.reset();
    QBApiClient::install(nullptr);
    HttpTransport::install(nullptr);
    Timings::install(Timings{});
    root_.reset();
  }

  // Signs `user` in and starts over with an empty cache holding only the
  // session, as the shell does after sign-in.
  void signIn(const std::string& user) {
    ErrorPtr error;
    session_ = client_->authenticateUserSessionWithUsername(user, kPassword, &error);
    ASSERT_TRUE(session_) << user << ": " << (error ? error->message() : "");
    freshCache();
  }

  // A new, empty cache (in a new folder) with the session and a new
  // controller: what a later run that has never seen the account holds.
  void freshCache() {
    static std::atomic<int> counter{0};
    QBContentController::install(nullptr);
    controller_.reset();
    ErrorPtr error;
    cache_ = QBCacheController::cacheControllerAt(root_->path() + "/Cache" + std::to_string(++counter), &error);
    ASSERT_TRUE(cache_);
    ASSERT_TRUE(cache_->storeItem(session_));
    controller_ = std::make_shared<QBContentController>(client_, cache_);
    QBContentController::install(controller_);
  }

  // A new user with the demo password, signed in; answers the name.
  std::string signInNewUser(const std::string& hint) {
    static std::atomic<int> counter{0};
    std::string name = hint + std::to_string(++counter) + "@greyfox.test";
    service_->addUser({{"username", name}, {"password", kPassword}, {"drive_name", "Test"}});
    signIn(name);
    return name;
  }

  // Requests the service counted for "METHOD endpoint" since the last reset.
  static long requests(const std::string& key) { return service_->stats().value(key, 0L); }
  static long allRequests() {
    long total = 0;
    const nlohmann::json stats = service_->stats();
    for (const auto& [key, n] : stats.items()) total += n.get<long>();
    return total;
  }

  QBContentController& content() { return *controller_; }
  QBApiClientAuthContext ownContext() { return QBApiClientAuthContext(session_); }

  static inline std::unique_ptr<LocalService> service_;
  std::unique_ptr<greyfox::testing::TempRoot> root_;
  std::shared_ptr<QBApiClient> client_;
  std::shared_ptr<QBUserSessionItem> session_;
  std::shared_ptr<QBCacheController> cache_;
  std::shared_ptr<QBContentController> controller_;
};

}  // namespace greyfox::test
