// The download wait and the download controller against the local service:
// what readers get, how many requests the service sees, and what survives a
// stalled, cut or refused download, a full disk and a missing service.
#include <sys/resource.h>

#include <csignal>
#include <future>
#include <vector>

#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFolderItem.h"
#include "secure/SecureFolderSeed.h"
#include "transfer/TransferFixture.h"

namespace greyfox::test {
namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * 1024;

std::string messageOf(const ErrorPtr& e) { return e ? e->message() : "(no error)"; }

// Reads one range and compares it with the service's bytes without printing
// megabytes on a mismatch.
void expectRange(QBContentController& content, const std::string& path, const std::string& expected,
                 std::uint64_t offset, std::uint64_t size, const std::string& name) {
  ErrorPtr error;
  auto got = content.readFileAt(path, offset, size, &error);
  ASSERT_TRUE(got) << name << ": " << messageOf(error);
  std::string want = offset < expected.size() ? expected.substr(offset, size) : std::string();
  EXPECT_EQ(got->size(), want.size()) << name;
  EXPECT_TRUE(*got == want) << name << ": bytes differ";
}

using TransferDownload = TransferService;

TEST_F(TransferDownload, ReadsWholeFilesAndRangesByteForByte) {
  const std::size_t size = MiB + 700 * KiB + 123;
  service().putFile(kDemo, "/Transfer/ranges.bin", patternBytes(size, 1));
  service().putFile(kDemo, "/Transfer/empty.bin", "");
  const std::string expected = serviceBytes("/Transfer/ranges.bin");
  ASSERT_EQ(expected.size(), size);

  struct Case {
    const char* name;
    std::uint64_t offset, size;
  } cases[] = {
      {"first 4 KiB of an uncached file", 0, 4 * KiB},
      {"across the first stored batch", 512 * KiB - 100, 200},
      {"the last bytes, asked past the end", size - 10, 4 * KiB},
      {"wholly past the end", size + 5, 10},
      {"the whole file", 0, size},
  };
  for (const Case& c : cases) expectRange(*content, "/Transfer/ranges.bin", expected, c.offset, c.size, c.name);

  ErrorPtr error;
  auto descriptor = content->downloadFileAt("/Transfer/ranges.bin", &error);
  ASSERT_TRUE(descriptor) << messageOf(error);
  EXPECT_TRUE(descriptor->isCompleted());
  EXPECT_EQ(descriptor->completedBytes, static_cast<std::int64_t>(size));

  for (int i = 0; i < 2; ++i) {
    auto empty = content->readFileAt("/Transfer/empty.bin", 0, 4 * KiB, &error);
    ASSERT_TRUE(empty) << "empty file, read " << i << ": " << messageOf(error);
    EXPECT_EQ(*empty, "");
  }
  EXPECT_EQ(downloadRequests(), 2) << "one download per file; a complete empty file is not fetched again";

  auto missing = content->readFileAt("/Transfer/none.bin", 0, 10, &error);
  EXPECT_FALSE(missing);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -1000);
  EXPECT_EQ(error->message(), "File not found!");
}

TEST_F(TransferDownload, ConcurrentReadersOfOneUncachedFileShareOneRequest) {
  const std::size_t size = 3 * MiB;
  service().putFile(kDemo, "/Transfer/shared.bin", patternBytes(size, 2));
  const std::string expected = serviceBytes("/Transfer/shared.bin");
  ASSERT_FALSE(identifierOf("/Transfer/shared.bin").empty());  // the listing is cached before the race
  service().resetStats();
  // The download holds still after 1 MiB, so every reader is waiting on it at once.
  service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", "stall"},
                      {"after_bytes", MiB}, {"seconds", 0.5}});

  std::promise<void> go;
  std::shared_future<void> start = go.get_future().share();
  const std::uint64_t offsets[] = {0, 600 * KiB, 2 * MiB, size - 4 * KiB};
  std::vector<std::future<std::optional<std::string>>> readers;
  for (std::uint64_t offset : offsets) {
    readers.push_back(std::async(std::launch::async, [&, offset] {
      start.wait();
      return content->readFileAt("/Transfer/shared.bin", offset, 4 * KiB, nullptr);
    }));
  }
  go.set_value();
  for (std::size_t i = 0; i < readers.size(); ++i) {
    auto got = readers[i].get();
    ASSERT_TRUE(got) << "reader at " << offsets[i];
    EXPECT_TRUE(*got == expected.substr(offsets[i], 4 * KiB)) << "reader at " << offsets[i];
  }
  EXPECT_EQ(downloadRequests(), 1);
}

TEST_F(TransferDownload, AReaderOnTheMainThreadDeliversTheCallbacksOfItsOwnDownload) {
  const std::size_t size = MiB + 1;
  service().putFile(kDemo, "/Transfer/main.bin", patternBytes(size, 8));
  const std::string expected = serviceBytes("/Transfer/main.bin");
  auto result = std::make_shared<std::promise<std::optional<std::string>>>();
  RunLoop::main().post([this, result] { result->set_value(content->readFileAt("/Transfer/main.bin", 0, MiB + 1, nullptr)); });
  auto future = result->get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the main loop is stuck";
  auto got = future.get();
  ASSERT_TRUE(got);
  EXPECT_TRUE(*got == expected);
}

TEST_F(TransferDownload, TheFirstBytesOfALargeFileArriveBeforeTheRest) {
  const std::string path = "/Big/big.bin";
  const std::string id = identifierOf(path);
  ASSERT_FALSE(id.empty());
  service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", "stall"},
                      {"after_bytes", 2 * MiB}, {"seconds", 3}});
  auto begin = std::chrono::steady_clock::now();
  ErrorPtr error;
  auto head = content->readFileAt(path, 0, 4 * KiB, &error);
  double took = secondsSince(begin);
  ASSERT_TRUE(head) << messageOf(error);
  EXPECT_LT(took, 2.0) << "answered from the first stored batch, not after the stall";
  auto inFlight = QBDownloadController::lockedItem(id);
  ASSERT_TRUE(inFlight) << "the download is still running";
  EXPECT_TRUE(serviceBytes(path).substr(0, 4 * KiB) == *head);
}

TEST_F(TransferDownload, AStalledDownloadTimesOutAndALaterReadSucceedsOnTheSameDownload) {
  const std::size_t size = 2 * MiB;
  service().putFile(kDemo, "/Transfer/stall.bin", patternBytes(size, 3));
  const std::string expected = serviceBytes("/Transfer/stall.bin");
  const std::string id = identifierOf("/Transfer/stall.bin");
  Timings t = shortTimings();
  t.downloadWait = 1;
  Timings::install(t);
  service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", "stall"},
                      {"after_bytes", 600 * KiB}, {"seconds", 3}});

  auto begin = std::chrono::steady_clock::now();
  ErrorPtr error;
  EXPECT_FALSE(content->readFileAt("/Transfer/stall.bin", MiB, 4 * KiB, &error));
  double took = secondsSince(begin);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -996);
  EXPECT_EQ(error->message(), "Download timed out!");
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 2.5);
  EXPECT_TRUE(QBDownloadController::lockedItem(id)) << "the download goes on";
  EXPECT_FALSE(folders->tryLockFor("/Transfer")) << "the download holds its folder's transfer lock";

  std::optional<std::string> got;
  for (int attempt = 0; attempt < 8 && !got; ++attempt) {
    error = nullptr;
    got = content->readFileAt("/Transfer/stall.bin", MiB, 4 * KiB, &error);
    if (!got) {
      ASSERT_EQ(error->code, -996) << "attempt " << attempt << ": " << messageOf(error);
    }
  }
  ASSERT_TRUE(got);
  EXPECT_TRUE(*got == expected.substr(MiB, 4 * KiB));
  EXPECT_EQ(downloadRequests(), 1) << "later reads wait on the running download";
  ASSERT_TRUE(content->downloadFileAt("/Transfer/stall.bin", nullptr));
  // The descriptor is complete just before the download releases its locks.
  auto begin2 = std::chrono::steady_clock::now();
  while (QBDownloadController::lockedItem(id) && secondsSince(begin2) < 5)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(folders->tryLockFor("/Transfer")) << "released at the end";
  folders->unlockFor("/Transfer");
}

TEST_F(TransferDownload, ACutDownloadFailsWithInvalidSizeAndTheNextReadFetchesAgain) {
  const std::size_t size = 2 * MiB;
  service().putFile(kDemo, "/Transfer/cut.bin", patternBytes(size, 4));
  const std::string expected = serviceBytes("/Transfer/cut.bin");
  service().resetStats();
  service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", "cut"},
                      {"after_bytes", 700 * KiB}});

  ErrorPtr error;
  EXPECT_FALSE(content->readFileAt("/Transfer/cut.bin", MiB, 4 * KiB, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -995);
  EXPECT_EQ(error->message(), "Invalid file size.");

  expectRange(*content, "/Transfer/cut.bin", expected, 0, 4 * KiB, "the prefix that did arrive");
  EXPECT_EQ(downloadRequests(), 1) << "the prefix is answered from the cache";
  expectRange(*content, "/Transfer/cut.bin", expected, MiB, 4 * KiB, "past the cut, after a new download");
  expectRange(*content, "/Transfer/cut.bin", expected, 0, size, "the whole file");
  EXPECT_EQ(downloadRequests(), 2);
}

TEST_F(TransferDownload, ACompleteCachedCopyIsAnsweredWithoutTheService) {
  const std::size_t size = MiB + 5;
  service().putFile(kDemo, "/Transfer/cached.bin", patternBytes(size, 5));
  const std::string expected = serviceBytes("/Transfer/cached.bin");
  ASSERT_TRUE(content->downloadFileAt("/Transfer/cached.bin", nullptr));

  service().stop();
  expectRange(*content, "/Transfer/cached.bin", expected, 100, 4 * KiB, "a range");
  expectRange(*content, "/Transfer/cached.bin", expected, size - 5, MiB, "past the end of a complete copy");
  EXPECT_TRUE(content->downloadFileAt("/Transfer/cached.bin", nullptr)) << "the whole file";
  service().start();
}

TEST_F(TransferDownload, AFileChangedOnTheServiceIsFetchedAgainOnceItsListingShowsTheChange) {
  service().putFile(kDemo, "/Transfer/changing.bin", patternBytes(700 * KiB, 30));
  const std::string before = serviceBytes("/Transfer/changing.bin");
  expectRange(*content, "/Transfer/changing.bin", before, 0, before.size(), "the first version");

  service().putFile(kDemo, "/Transfer/changing.bin", patternBytes(900 * KiB, 31));
  const std::string after = serviceBytes("/Transfer/changing.bin");
  expectRange(*content, "/Transfer/changing.bin", before, 0, 4 * KiB, "before the listing knows of the change");
  ASSERT_TRUE(content->listFolderAt("/Transfer", true, nullptr));
  expectRange(*content, "/Transfer/changing.bin", after, 0, after.size(), "the second version");
  EXPECT_EQ(downloadRequests(), 2);
}

TEST_F(TransferDownload, RefusedOrBrokenAnswersGiveAnErrorAndTheNextReadTheRightBytes) {
  struct Case {
    const char* name;
    const char* fault;  // nullptr: the service goes away
  } cases[] = {{"empty 503", "empty503"}, {"an HTML page with HTTP 200", "malformed"}, {"service gone", nullptr}};
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    service().putFile(kDemo, "/Transfer/broken-" + std::to_string(i) + ".bin", patternBytes(300 * KiB + i, 10 + i));
    expected.push_back(serviceBytes("/Transfer/broken-" + std::to_string(i) + ".bin"));
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const std::string path = "/Transfer/broken-" + std::to_string(i) + ".bin";
    ASSERT_FALSE(identifierOf(path).empty()) << c.name;
    if (c.fault) {
      service().addFault({{"method", "GET"}, {"endpoint", "download/file.json"}, {"kind", c.fault}});
    } else {
      service().stop();
    }
    ErrorPtr error;
    auto got = content->readFileAt(path, 0, 4 * KiB, &error);
    EXPECT_FALSE(got) << c.name << ": got " << (got ? got->size() : 0) << " bytes";
    EXPECT_TRUE(error) << c.name;
    if (!c.fault) service().start();
    expectRange(*content, path, expected[i], 0, expected[i].size(), std::string(c.name) + ", read again");
  }
}

// Keeps this process's files under `bytes` while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST_F(TransferDownload, AFullDiskFailsTheReadWithoutWrongBytes) {
  const std::size_t size = 3 * MiB;
  service().putFile(kDemo, "/Transfer/full.bin", patternBytes(size, 6));
  const std::string expected = serviceBytes("/Transfer/full.bin");
  ASSERT_FALSE(identifierOf("/Transfer/full.bin").empty());
  {
    FileSizeLimit limit(3 * MiB / 2);
    ErrorPtr error;
    EXPECT_FALSE(content->readFileAt("/Transfer/full.bin", 2 * MiB, 4 * KiB, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, kCacheErrorDomain) << messageOf(error);
    expectRange(*content, "/Transfer/full.bin", expected, 4 * KiB, 4 * KiB, "the stored prefix");
  }
  expectRange(*content, "/Transfer/full.bin", expected, 0, size, "with room again");
}

TEST_F(TransferDownload, FilesOfASecureFolderArriveDecrypted) {
  const std::string password = "vault-password";
  auto context = content->authContext();
  auto folder = client->createFolder("Vault", "0", *context, nullptr);
  ASSERT_TRUE(folder);
  service().encryptFolder(kDemo, "/Vault");
  ErrorPtr error;
  auto verifier = makeSecureFolderVerifier(password, &error);
  ASSERT_TRUE(verifier) << messageOf(error);
  ASSERT_TRUE(client->secureFoldersInit(folder->identifier, verifier->data, verifier->hash, *context, &error))
      << messageOf(error);
  ASSERT_TRUE(client->secureFoldersAuth(folder->identifier, verifier->hash, *context, &error)) << messageOf(error);
  const std::string plain = patternBytes(MiB + 300 * KiB + 77, 7);
  for (const char* name : {"secret.bin", "other.bin"}) {
    auto stored = encryptSecureFileContents(plain, password, &error);
    ASSERT_TRUE(stored) << messageOf(error);
    service().putFile(kDemo, std::string("/Vault/") + name, *stored);
  }
  session->encryptionKey = secureFolderKey(password);
  cache->storeItem(session);

  expectRange(*content, "/Vault/secret.bin", plain, 700 * KiB, 4 * KiB, "a range inside");
  expectRange(*content, "/Vault/secret.bin", plain, 0, plain.size() + 10, "the whole file");

  session->encryptionKey = secureFolderKey("another password");
  cache->storeItem(session);
  EXPECT_FALSE(content->readFileAt("/Vault/other.bin", 0, 4 * KiB, &error)) << "a wrong key gives no bytes";
  EXPECT_TRUE(error);
}

}  // namespace
}  // namespace greyfox::test
