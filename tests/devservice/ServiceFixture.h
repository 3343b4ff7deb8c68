// One local service per test suite, shared by its tests; each test that
// changes state makes users of its own so that tests stay independent.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "ServiceClient.h"
#include "support/LocalService.h"

namespace greyfox::test {

class ServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = std::make_unique<LocalService>(); }
  static void TearDownTestSuite() { service_.reset(); }

  static LocalService& service() { return *service_; }
  ServiceClient api() const { return ServiceClient(service_->baseUrl()); }

  // A new user with the demo password; answers its name.
  static std::string newUser(const std::string& hint = "user") {
    static std::atomic<int> counter{0};
    std::string name = hint + std::to_string(++counter) + "@greyfox.test";
    service_->addUser({{"username", name}, {"password", "greyfox-demo"}, {"drive_name", "Test"}});
    return name;
  }

  // The id of the folder at `path` for the session (asserted to exist).
  std::string folderId(const std::string& session, const std::string& path, nlohmann::json extra = nlohmann::json::object()) const {
    nlohmann::json body = {{"session_id", session}, {"path", path}};
    if (extra.is_object()) body.update(extra);
    auto r = api().post("folder/idbypath.json", body);
    EXPECT_EQ(r.status, 200) << path << ": " << r.body;
    return r.json().value("FolderId", "");
  }
  std::string fileId(const std::string& session, const std::string& path, nlohmann::json extra = nlohmann::json::object()) const {
    nlohmann::json body = {{"session_id", session}, {"path", path}};
    if (extra.is_object()) body.update(extra);
    auto r = api().post("file/idbypath.json", body);
    EXPECT_EQ(r.status, 200) << path << ": " << r.body;
    return r.json().value("FileId", "");
  }
  nlohmann::json list(const std::string& session, const std::string& folder, const std::string& since = "0",
                      ServiceClient::Query extra = {}) const {
    ServiceClient::Query q = {{"last_request_time", since}, {"encryption_supported", "1"}};
    q.insert(extra.begin(), extra.end());
    return api().get("folder/list.json/" + session + "/" + folder, q).json();
  }
  static std::vector<std::string> names(const nlohmann::json& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.value("Name", ""));
    return out;
  }

  static inline std::unique_ptr<LocalService> service_;
};

}  // namespace greyfox::test
