// Injected faults and request counts of the test controls.
#include <chrono>
#include <functional>

#include "ServiceFixture.h"

namespace greyfox::test {
namespace {

class FaultTest : public ServiceTest {
 protected:
  void SetUp() override { service().clearFaults(); }
  void TearDown() override { service().clearFaults(); }
};

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(FaultTest, ReplyFaultsHitTheNamedEndpointForCountRequests) {
  std::string s = api().login("demo@greyfox.test");
  auto listRoot = [&] { return api().get("folder/list.json/" + s + "/0", {{"last_request_time", "0"}}); };
  struct Case {
    const char* name;
    nlohmann::json fault;
    std::function<void(const Reply&)> check;
  };
  const Case cases[] = {
      {"busy", {{"kind", "busy"}},
       [](const Reply& r) {
         EXPECT_EQ(r.errorMessage(), "Folder is busy");
         EXPECT_EQ(r.json()["error"]["code"], r.status);
       }},
      {"empty503", {{"kind", "empty503"}},
       [](const Reply& r) {
         EXPECT_EQ(r.status, 503);
         EXPECT_EQ(r.body, "");
       }},
      {"malformed", {{"kind", "malformed"}},
       [](const Reply& r) {
         EXPECT_EQ(r.status, 200);
         EXPECT_TRUE(r.json().is_discarded()) << r.body;
       }},
  };
  for (const auto& c : cases) {
    nlohmann::json fault = c.fault;
    fault.update({{"method", "GET"}, {"endpoint", "folder/list.json"}, {"count", 2}});
    service().addFault(fault);
    EXPECT_EQ(api().get("users/info.json/" + s).status, 200) << c.name << ": other endpoints are untouched";
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(std::string(c.name) + " #" + std::to_string(i));
      c.check(listRoot());
    }
    EXPECT_EQ(listRoot().json()["ResponseType"], 1) << c.name << ": the third request is served";
  }
}

TEST_F(FaultTest, DelayServesTheNormalReplyLate) {
  std::string s = api().login("demo@greyfox.test");
  service().addFault({{"method", "GET"}, {"endpoint", "users/info.json"}, {"kind", "delay"}, {"seconds", 0.5}});
  auto start = Clock::now();
  auto r = api().get("users/info.json/" + s);
  EXPECT_GE(secondsSince(start), 0.5);
  EXPECT_TRUE(r.json().contains("StorageUsed"));
}

TEST_F(FaultTest, OffsetAndProcessingFaultsOfAnUpload) {
  std::string user = newUser("faults");
  std::string s = api().login(user);
  auto created = api().post("upload/create_file.json",
                            {{"session_id", s}, {"folder_id", "0"}, {"file_name", "f.bin"}, {"file_size", 6}});
  std::string id = created.json()["FileId"], temp = created.json()["TempLocation"];
  ASSERT_EQ(api().uploadChunk(s, id, temp, 0, "abc").status, 200);

  service().addFault({{"method", "POST"}, {"endpoint", "upload/upload_file_chunk2.json"}, {"kind", "offset"}});
  auto refused = api().uploadChunk(s, id, temp, 3, "def");
  EXPECT_EQ(refused.errorMessage().rfind("Incorrect chunk offset: uploaded=3,", 0), 0u) << refused.body;
  EXPECT_EQ(api().uploadChunk(s, id, temp, 3, "def").json()["TotalWritten"], 6) << "the refused chunk was not kept";

  service().addFault({{"method", "POST"}, {"endpoint", "upload/close_file_upload.json"}, {"kind", "processing"}});
  nlohmann::json close = {{"session_id", s}, {"file_id", id}, {"file_size", 6}, {"temp_location", temp}};
  EXPECT_EQ(api().post("upload/close_file_upload.json", close).errorMessage(),
            "This file is already being processed. Please wait until previous upload operation will be finished.");
  EXPECT_EQ(service().getFile(user, "/f.bin"), "");
  EXPECT_EQ(api().post("upload/close_file_upload.json", close).status, 200);
  EXPECT_EQ(service().getFile(user, "/f.bin"), "abcdef");
}

TEST_F(FaultTest, StalledAndCutDownloads) {
  std::string user = newUser("stream");
  std::string bytes(2 * 1024 * 1024, 'q');
  service().putFile(user, "/f.bin", bytes);
  std::string s = api().login(user);
  std::string id = fileId(s, "/f.bin");
  auto download = [&] { return api().get("download/file.json/" + id, {{"session_id", s}, {"offset", "0"}}); };

  service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", "stall"}, {"after_bytes", 1000},
                      {"seconds", 1}});
  auto start = Clock::now();
  auto stalled = download();
  EXPECT_GE(secondsSince(start), 1.0);
  EXPECT_EQ(stalled.status, 200);
  EXPECT_TRUE(stalled.body == bytes) << "goes on after the stall: " << stalled.body.size() << " bytes";

  service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", "cut"}, {"after_bytes", 1000}});
  auto cut = download();
  EXPECT_LT(cut.status, 0) << "the transfer fails";
  EXPECT_EQ(cut.body.size(), 1000u);
  EXPECT_TRUE(download().body == bytes) << "one cut only";
}

TEST_F(FaultTest, StatsCountRequestsByMethodAndEndpoint) {
  std::string s = api().login("demo@greyfox.test");
  service().resetStats();
  for (int i = 0; i < 3; ++i) api().get("folder/list.json/" + s + "/0", {{"last_request_time", "0"}});
  api().post("folder/idbypath.json", {{"session_id", s}, {"path", "/Documents"}});
  auto stats = service().stats();
  EXPECT_EQ(stats, (nlohmann::json{{"GET folder/list.json", 3}, {"POST folder/idbypath.json", 1}}));
  service().resetStats();
  EXPECT_TRUE(service().stats().empty());
}

TEST_F(FaultTest, ClearedFaultsAndBadFaultsAreNotServed) {
  std::string s = api().login("demo@greyfox.test");
  service().addFault({{"method", "GET"}, {"endpoint", "users/info.json"}, {"kind", "busy"}, {"count", 5}});
  service().clearFaults();
  EXPECT_EQ(api().get("users/info.json/" + s).status, 200);
  EXPECT_THROW(service().addFault({{"method", "GET"}, {"endpoint", "users/info.json"}, {"kind", "explode"}}),
               std::runtime_error);
  EXPECT_THROW(service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", "cut"}}),
               std::runtime_error)
      << "cut needs after_bytes";
}

}  // namespace
}  // namespace greyfox::test
