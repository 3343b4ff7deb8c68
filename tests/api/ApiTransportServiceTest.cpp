// Requests sent over the real transport to the local service: retries, reply
// shapes, time-outs, dropped connections and the non-blocking path.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ApiTestSupport.h"
#include "api/QBApiRequest.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "support/LocalService.h"

namespace greyfox {
namespace {

using nlohmann::json;

class ApiTransport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new test::LocalService(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  void SetUp() override {
    ::setenv("GREYFOX_SERVICE_URL", service_->baseUrl().c_str(), 1);
    service_->clearFaults();
    service_->resetStats();
  }
  void TearDown() override { ::unsetenv("GREYFOX_SERVICE_URL"); }

  static long count(const std::string& key) { return service_->stats().value(key, 0L); }
  void fault(const std::string& key, const std::string& kind, int times, json extra = json::object()) {
    auto space = key.find(' ');
    json f = {{"method", key.substr(0, space)}, {"endpoint", key.substr(space + 1)}, {"kind", kind}, {"count", times}};
    f.update(extra);
    service_->addFault(f);
  }
  // A signed-in demo session id (not counted: stats are reset after).
  std::string login() {
    json reply;
    auto r = QBApiRequest::requestWithMethod("POST", "session/login.json",
                                             json{{"username", "demo@greyfox.test"}, {"passwd", "greyfox-demo"}});
    EXPECT_TRUE(r->sendSyncWith(nullptr, &reply));
    service_->resetStats();
    return reply.value("SessionID", "");
  }

  test::ApiTestEnvironment env;
  static test::LocalService* service_;
};

test::LocalService* ApiTransport::service_ = nullptr;

TEST_F(ApiTransport, EmptyNon200RepliesAreRetriedWithinTheBudget) {
  struct Case {
    const char* name;
    int empty503s;
    bool ok;
    long sends;
  } cases[] = {
      {"always empty: 4 sends then -100", 10, false, 4},
      {"three empty then a reply", 3, true, 4},
      {"no fault", 0, true, 1},
  };
  for (const auto& c : cases) {
    service_->clearFaults();
    service_->resetStats();
    if (c.empty503s) fault("GET users/info.json", "empty503", c.empty503s);
    auto r = QBApiRequest::requestWithMethod("GET", "users/info.json", QBApiRequest::Arguments{"nosuchsession"});
    ErrorPtr error;
    std::optional<std::string> body;
    EXPECT_EQ(r->sendSyncWith(&error, &body), c.ok) << c.name;
    EXPECT_EQ(count("GET users/info.json"), c.sends) << c.name;
    EXPECT_EQ(r->state(), QBApiRequestStateFinished) << c.name;
    if (!c.ok) {
      ASSERT_TRUE(error) << c.name;
      EXPECT_EQ(error->code, -100) << c.name;
      EXPECT_EQ(error->message(), "Server returned no data") << c.name;
    } else {
      EXPECT_NE(body.value_or("").find("Invalid session"), std::string::npos) << c.name;
    }
  }
}

TEST_F(ApiTransport, RetryHandlerCanRefuse) {
  fault("GET users/info.json", "empty503", 10);
  auto r = QBApiRequest::requestWithMethod("GET", "users/info.json");
  int asked = 0;
  r->setRetryHandler([&](const std::optional<std::string>& data, ErrorPtr) {
    EXPECT_FALSE(data.has_value());
    return ++asked < 2;
  });
  ErrorPtr error;
  std::optional<std::string> body;
  EXPECT_FALSE(r->sendSyncWith(&error, &body));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(count("GET users/info.json"), 2);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -96);
}

TEST_F(ApiTransport, MalformedBodyFailsDecoding) {
  fault("POST session/login.json", "malformed", 1);
  auto r = QBApiRequest::requestWithMethod("POST", "session/login.json", json{{"username", "x"}});
  ErrorPtr error;
  json reply;
  EXPECT_FALSE(r->sendSyncWith(&error, &reply));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -98);
  EXPECT_EQ(count("POST session/login.json"), 1) << "a body that came back is not retried";
}

TEST_F(ApiTransport, SlowServiceEndsAtTheTimeout) {
  fault("GET users/info.json", "delay", 1, {{"seconds", 5}});
  auto r = QBApiRequest::requestWithMethod("GET", "users/info.json");
  r->timeout = 0.5;
  r->numberOfRetries = 0;
  ErrorPtr error;
  std::optional<std::string> body;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(r->sendSyncWith(&error, &body));
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(took, 2.5);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -100);
  ASSERT_TRUE(error->underlying) << "the transport's error is kept";
  EXPECT_EQ(error->underlying->domain, kHttpTransportErrorDomain);
}

TEST_F(ApiTransport, ServiceGoneGivesNoData) {
  auto r = QBApiRequest::requestWithMethod("GET", "users/info.json");
  r->configuration->requestHost = "http://127.0.0.1:1/api/v1/";
  ErrorPtr error;
  std::optional<std::string> body;
  EXPECT_FALSE(r->sendSyncWith(&error, &body));
  EXPECT_FALSE(body.has_value());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -100);
  EXPECT_EQ(r->numberOfRetries, 0u) << "every retry was used";
}

TEST_F(ApiTransport, ChunkUploadGoesOutAsQueryAndMultipart) {
  std::string session = login();
  json created;
  auto create = QBApiRequest::requestWithMethod(
      "POST", "upload/create_file.json",
      json{{"session_id", session}, {"folder_id", "0"}, {"file_name", "wire.bin"}, {"file_size", 0}});
  ASSERT_TRUE(create->sendSyncWith(nullptr, &created));
  ASSERT_TRUE(created.contains("FileId")) << created.dump();
  std::string bytes("a\0b\r\n--c", 8);
  auto chunk = QBApiRequest::requestWithMethod(
      "POST", "upload/upload_file_chunk2.json", QBApiRequest::Arguments{session, created["FileId"].get<std::string>()},
      json{{"temp_location", created["TempLocation"]},
           {"chunk_offset", std::uint64_t{0}},
           {"chunk_size", bytes.size()},
           {"file_data", json::binary(std::vector<std::uint8_t>(bytes.begin(), bytes.end()))}});
  chunk->parametersType = QBApiRequestParametersQueryAndMultipart;
  json reply;
  ASSERT_TRUE(chunk->sendSyncWith(nullptr, &reply));
  EXPECT_EQ(reply.value("TotalWritten", -1), 8) << reply.dump();
}

TEST_F(ApiTransport, TransferCutPartWayIsNotTakenForTheBody) {
  std::string content(64 * 1024, 'z');
  service_->putFile("demo@greyfox.test", "/cut-sync.bin", content);
  std::string session = login();
  json id;
  ASSERT_TRUE(QBApiRequest::requestWithMethod("POST", "file/idbypath.json",
                                              json{{"session_id", session}, {"path", "/cut-sync.bin"}})
                  ->sendSyncWith(nullptr, &id));
  service_->resetStats();
  fault("GET download/file.json", "cut", 1, {{"after_bytes", 1000}});
  auto r = QBApiRequest::requestWithMethod("GET", "download/file.json", QBApiRequest::Arguments{id.value("FileId", "")},
                                           json{{"session_id", session}});
  std::optional<std::string> body;
  EXPECT_TRUE(r->sendSyncWith(nullptr, &body));
  EXPECT_EQ(count("GET download/file.json"), 2) << "the cut transfer is sent again";
  EXPECT_TRUE(body == content) << "received " << body.value_or("").size() << " bytes";
}

class AsyncDownload : public ApiTransport {
 protected:
  // Runs the main loop on this thread until the request ends.
  void runUntilDone(const QBApiRequest::Ptr& r) {
    EXPECT_TRUE(RunLoop::main().runUntil(10, [&] { return !r->isRunning(); }));
  }
  QBApiRequest::Ptr download(const std::string& session, const std::string& fileId) {
    return QBApiRequest::requestWithMethod("GET", "download/file.json", QBApiRequest::Arguments{fileId},
                                           json{{"session_id", session}});
  }
  std::string fileIdOf(const std::string& session, const std::string& path) {
    json reply;
    auto r = QBApiRequest::requestWithMethod("POST", "file/idbypath.json", json{{"session_id", session}, {"path", path}});
    EXPECT_TRUE(r->sendSyncWith(nullptr, &reply));
    return reply.value("FileId", "");
  }
};

TEST_F(AsyncDownload, EventsArriveInOrderOnTheMainLoop) {
  std::string content(300 * 1024, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  service_->putFile("demo@greyfox.test", "/async.bin", content);
  std::string session = login();
  auto r = download(session, fileIdOf(session, "/async.bin"));

  std::vector<std::string> events;
  std::int64_t lastProgress = 0;
  std::optional<std::string> finalData;
  r->setNetworkResponseHandler([&](long status) {
    events.push_back("response " + std::to_string(status));
    EXPECT_EQ(r->totalBytes, static_cast<std::int64_t>(content.size()));
  });
  r->setProgressHandler([&](std::int64_t received, std::int64_t total) {
    EXPECT_TRUE(RunLoop::main().isRunningOnThisThread());
    EXPECT_GT(received, lastProgress);
    EXPECT_EQ(total, static_cast<std::int64_t>(content.size()));
    lastProgress = received;
    if (events.back() != "progress") events.push_back("progress");
  });
  r->setDataHandler([&](const std::optional<std::string>& data, ErrorPtr error) {
    EXPECT_FALSE(error);
    finalData = data;
    events.push_back("data");
  });
  r->setApiResponseHandler([&](const std::optional<json>&, ErrorPtr error) {
    EXPECT_TRUE(error) << "raw bytes are not a JSON object";
    events.push_back("api");
  });
  r->sendAsync();
  runUntilDone(r);
  EXPECT_EQ(events, (std::vector<std::string>{"response 200", "progress", "data", "api"}));
  EXPECT_EQ(lastProgress, static_cast<std::int64_t>(content.size()));
  ASSERT_TRUE(finalData);
  EXPECT_TRUE(*finalData == content);
}

TEST_F(AsyncDownload, CutTransferIsRetriedThenFails) {
  service_->putFile("demo@greyfox.test", "/cut.bin", std::string(64 * 1024, 'x'));
  std::string session = login();
  std::string id = fileIdOf(session, "/cut.bin");
  service_->resetStats();
  fault("GET download/file.json", "cut", 10, {{"after_bytes", 1000}});
  auto r = download(session, id);
  std::vector<std::optional<std::string>> retryData;
  r->setRetryHandler([&](const std::optional<std::string>& data, ErrorPtr error) {
    EXPECT_TRUE(error);
    retryData.push_back(data);
    return true;
  });
  ErrorPtr finalError;
  int dataCalls = 0;
  r->setDataHandler([&](const std::optional<std::string>& data, ErrorPtr error) {
    ++dataCalls;
    EXPECT_FALSE(data);
    finalError = error;
  });
  r->sendAsync();
  runUntilDone(r);
  EXPECT_EQ(count("GET download/file.json"), 4);
  EXPECT_EQ(retryData.size(), 3u);
  EXPECT_EQ(dataCalls, 1);
  ASSERT_TRUE(finalError);
  EXPECT_EQ(finalError->domain, kHttpTransportErrorDomain);
  EXPECT_GE(r->receivedBytes, 4000) << "received bytes keep counting across retries";
}

TEST_F(AsyncDownload, CancelStopsHandlersAndCancelAllUploadsEndsTheWait) {
  std::string session = login();
  fault("GET download/file.json", "delay", 1, {{"seconds", 3}});
  auto r = download(session, "1");
  bool called = false;
  r->setDataHandler([&](const std::optional<std::string>&, ErrorPtr) { called = true; });
  r->sendAsync();
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    NotificationCenter::defaultCenter().post("CancelAllUploads");
  });
  auto start = std::chrono::steady_clock::now();
  r->waitAsync();
  poster.join();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  EXPECT_TRUE(r->operationsCancelled());
  EXPECT_TRUE(r->isRunning()) << "the flag stops the waiter, not the transfer";
  r->cancelAsync();
  EXPECT_EQ(r->state(), QBApiRequestStateFinished);
  RunLoop::main().runFor(3.5);
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace greyfox
