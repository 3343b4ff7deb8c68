// Chunked uploads, streaming downloads, and what survives a kill.
#include <random>

#include "Seed.h"
#include "ServiceFixture.h"

namespace greyfox::test {
namespace {

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (auto& c : out) c = static_cast<char>(gen());
  return out;
}

class TransferTest : public ServiceTest {
 protected:
  struct Opened {
    std::string fileId, temp;
  };
  Opened open(const ServiceClient& client, const std::string& s, const std::string& path) {
    std::string id = fileId(s, path);
    auto r = client.post("upload/open_file_upload.json", {{"session_id", s}, {"file_id", id}, {"file_size", 0}});
    EXPECT_EQ(r.status, 200) << r.body;
    for (const char* key : {"TempLocation", "RequireHash", "RequireHashOnly"}) EXPECT_TRUE(r.json().contains(key)) << key;
    return {id, r.json().value("TempLocation", "")};
  }
  static Reply close(const ServiceClient& client, const std::string& s, const Opened& o, uint64_t size) {
    return client.post("upload/close_file_upload.json", {{"session_id", s}, {"file_id", o.fileId},
                                                         {"file_size", size}, {"temp_location", o.temp},
                                                         {"file_time", 1600000000}});
  }
};

TEST_F(TransferTest, ChunkedUploadThenStreamingDownload) {
  std::string user = newUser("up");
  std::string s = api().login(user);
  // The client's chunks are 20 MiB (5 MiB under a speed limit).
  std::string bytes = randomBytes(21 * 1024 * 1024 + 17, 1);
  auto closed = api().uploadFile(s, "0", "data.bin", bytes, 20 * 1024 * 1024);
  ASSERT_EQ(closed.status, 200) << closed.body;
  auto item = closed.json();
  EXPECT_EQ(item["Size"], bytes.size());
  EXPECT_EQ(item["DateModified"], 1700000000) << "the close's file_time";
  EXPECT_EQ(item["Name"], "data.bin");

  auto download = api().get("download/file.json/" + item["FileId"].get<std::string>(), {{"session_id", s}, {"offset", "0"}});
  EXPECT_EQ(download.status, 200);
  EXPECT_TRUE(download.body == bytes) << "downloaded " << download.body.size() << " bytes";
  EXPECT_TRUE(service().getFile(user, "/data.bin") == bytes);
}

TEST_F(TransferTest, DemoBigFileDownloadsWholeWithItsReproducibleContent) {
  std::string s = api().login("demo@greyfox.test");
  auto r = api().get("download/file.json/" + fileId(s, "/Big/big.bin"), {{"session_id", s}, {"offset", "0"}});
  ASSERT_EQ(r.body.size(), 64u * 1024 * 1024);
  size_t firstWrong = r.body.size();
  for (size_t i = 0; i < r.body.size(); ++i) {
    if (static_cast<unsigned char>(r.body[i]) != devservice::bigFileByte(i)) {
      firstWrong = i;
      break;
    }
  }
  EXPECT_EQ(firstWrong, r.body.size()) << "first differing byte";
}

TEST_F(TransferTest, ChunksMustArriveAtTheOffsetHeld) {
  std::string user = newUser("offset");
  std::string s = api().login(user);
  service().putFile(user, "/f.bin", "old");
  Opened o = open(api(), s, "/f.bin");

  auto first = api().uploadChunk(s, o.fileId, o.temp, 0, std::string(1000, 'a'));
  ASSERT_EQ(first.status, 200) << first.body;
  EXPECT_EQ(first.json()["TotalWritten"], 1000);
  struct Case {
    const char* name;
    uint64_t offset;
  };
  for (const Case& c : {Case{"repeated chunk", 0}, Case{"gap", 1500}, Case{"overlap", 999}}) {
    auto r = api().uploadChunk(s, o.fileId, o.temp, c.offset, "bbb");
    EXPECT_NE(r.status, 200) << c.name;
    EXPECT_EQ(r.errorMessage().rfind("Incorrect chunk offset: uploaded=1000,", 0), 0u) << c.name << ": " << r.body;
  }
  EXPECT_EQ(api().uploadChunk(s, o.fileId, o.temp, 1000, "bbb").json()["TotalWritten"], 1003);
  EXPECT_EQ(api().uploadChunk(s, o.fileId, "no-such-upload", 1003, "c").status, 404);
}

TEST_F(TransferTest, NewContentReplacesTheOldOnlyAtClose) {
  std::string user = newUser("atomic");
  std::string s = api().login(user);
  service().putFile(user, "/f.txt", "old content");
  Opened o = open(api(), s, "/f.txt");
  ASSERT_EQ(api().uploadChunk(s, o.fileId, o.temp, 0, "new").status, 200);
  EXPECT_EQ(service().getFile(user, "/f.txt"), "old content") << "before close";

  auto wrongSize = close(api(), s, o, 99);
  EXPECT_EQ(wrongSize.status, 400);
  EXPECT_EQ(wrongSize.errorMessage(), "Invalid file size: uploaded=3, file_size=99");
  EXPECT_EQ(service().getFile(user, "/f.txt"), "old content") << "a refused close changes nothing";

  ASSERT_EQ(close(api(), s, o, 3).status, 200);
  EXPECT_EQ(service().getFile(user, "/f.txt"), "new");
  EXPECT_EQ(close(api(), s, o, 3).status, 404) << "the upload is finished";
}

TEST_F(TransferTest, EmptyFileAndDownloadFromAnOffset) {
  std::string user = newUser("empty");
  std::string s = api().login(user);
  ASSERT_EQ(api().uploadFile(s, "0", "empty.txt", "").status, 200);
  auto empty = api().get("download/file.json/" + fileId(s, "/empty.txt"), {{"session_id", s}});
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.body, "");
  service().putFile(user, "/abc.txt", "abcdef");
  std::string id = fileId(s, "/abc.txt");
  EXPECT_EQ(api().get("download/file.json/" + id, {{"session_id", s}, {"offset", "2"}}).body, "cdef");
  EXPECT_EQ(api().get("download/file.json/" + id, {{"session_id", s}, {"offset", "7"}}).status, 416);
}

// A service of its own: it is killed in the middle of an upload.
TEST(TransferRestartTest, AKillLosesOnlyTheUnfinishedUpload) {
  LocalService service;
  ServiceClient client(service.baseUrl());
  std::string s = client.login("demo@greyfox.test");
  ASSERT_EQ(client.uploadFile(s, "0", "done.txt", "finished").status, 200);
  service.putFile("demo@greyfox.test", "/Documents/readme.txt", "before");
  auto idReply = client.post("file/idbypath.json", {{"session_id", s}, {"path", "/Documents/readme.txt"}});
  std::string readme = idReply.json()["FileId"];
  auto opened = client.post("upload/open_file_upload.json", {{"session_id", s}, {"file_id", readme}, {"file_size", 5}});
  std::string temp = opened.json()["TempLocation"];
  ASSERT_EQ(client.uploadChunk(s, readme, temp, 0, "af").status, 200);

  service.stop();
  EXPECT_LT(client.get("folder/list.json/" + s + "/0").status, 0) << "nobody answers while stopped";
  service.start();

  EXPECT_EQ(service.getFile("demo@greyfox.test", "/Documents/readme.txt"), "before");
  EXPECT_EQ(service.getFile("demo@greyfox.test", "/done.txt"), "finished");
  auto root = client.get("folder/list.json/" + s + "/0", {{"last_request_time", "0"}});
  EXPECT_EQ(root.status, 200) << "sessions survive a restart";
  EXPECT_EQ(root.json()["Files"].size(), 1u);
  EXPECT_EQ(service.getFile("demo@greyfox.test", "/Big/big.bin")->size(), 64u * 1024 * 1024)
      << "the seed is not written again";
}

}  // namespace
}  // namespace greyfox::test
