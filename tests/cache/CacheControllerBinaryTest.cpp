#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "cache/CacheTestSupport.h"
#include "cache/QBCacheController.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderListItem.h"

namespace greyfox {
namespace {

using testing::CacheDir;
using testing::ManualTime;

// A cached file "7" at /Docs/report.pdf with an empty descriptor.
struct CachedFile {
  explicit CachedFile(QBCacheController& cache, std::optional<double> dateModified = std::nullopt) {
    info->identifier = "7";
    info->name = "report.pdf";
    info->dateModified = dateModified;
    cache.storeItem(info);
    descriptor->identifier = "7";
    descriptor->path = "/Docs/report.pdf";
    descriptor->completedBytes = 0;
    cache.storeItem(descriptor);
  }
  std::shared_ptr<QBFileInfoItem> info = std::make_shared<QBFileInfoItem>();
  std::shared_ptr<QBBinaryDataDescriptorItem> descriptor = std::make_shared<QBBinaryDataDescriptorItem>();
};

TEST(CacheControllerBinary, StoresRangesInOrderAndRecordsTheProgressInTheDescriptor) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  EXPECT_FALSE(cache.storeBinaryData("data", 0, 4, "no-descriptor"));
  EXPECT_FALSE(testing::exists(cache.pathForBinaryItemWithKey("no-descriptor"))) << "nothing changes";

  CachedFile file(cache);
  EXPECT_TRUE(cache.storeBinaryData(std::string(4096, 'a'), 0, 10000, "7"));
  EXPECT_TRUE(cache.storeBinaryData(std::string(4096, 'b'), 4096, 10000, "7"));
  EXPECT_FALSE(cache.storeBinaryData("gap", 9000, 10000, "7"));
  auto descriptor = cache.fetchBinaryDataDescriptor("7");
  ASSERT_NE(descriptor, nullptr);
  EXPECT_EQ(descriptor->completedBytes, 8192) << "a refused range does not count";
  EXPECT_EQ(descriptor->totalBytes, 10000);

  ErrorPtr error;
  EXPECT_EQ(cache.fetchBinaryDataOf("7", 4094, 4, &error), "aabb");
  EXPECT_FALSE(error);
  EXPECT_EQ(cache.fetchBinaryDataOf("8", 0, 4, &error), std::nullopt);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), "Binary item with identifier 8 not found.");
}

TEST(CacheControllerBinary, ADescriptorIsValidWhileItsFileIsNoNewerThanTheLastRangeAndItsBytesExist) {
  ManualTime time;
  double t = time.clock().now();
  auto changedOnService = [](double seconds) {
    return [seconds](QBCacheController& c, CachedFile& f) {
      f.info->dateModified = *f.info->dateModified + seconds;
      c.storeItem(f.info);
    };
  };
  struct Case {
    const char* name;
    std::function<void(QBCacheController&, CachedFile&)> change;
    bool valid;
  } cases[] = {
      {"unchanged", nullptr, true},
      {"file changed 1.5 s after the last range", changedOnService(1.5), true},
      {"file changed 2 s after the last range", changedOnService(2), false},
      {"binary file deleted",
       [](QBCacheController& c, CachedFile&) { ::unlink(c.pathForBinaryItemWithKey("7").c_str()); }, false},
      {"binary file shorter than the descriptor counts",
       [](QBCacheController& c, CachedFile&) {
         [[maybe_unused]] int rc = ::truncate(c.pathForBinaryItemWithKey("7").c_str(), 10);
       },
       false},
      {"file no longer cached", [](QBCacheController& c, CachedFile&) { c.purgeItemWithKey("7", "QBFileInfoItem"); },
       false},
  };
  for (const auto& c : cases) {
    CacheDir dir;
    QBCacheController cache(dir.path);
    CachedFile file(cache, t);
    ASSERT_TRUE(cache.storeBinaryData(std::string(100, 'x'), 0, 100, "7")) << c.name;
    if (c.change) c.change(cache, file);
    EXPECT_EQ(cache.fetchBinaryDataDescriptor("7") != nullptr, c.valid) << c.name;
    ErrorPtr error;
    EXPECT_EQ(cache.fetchBinaryDataOf("7", 0, 100, &error).has_value(), c.valid) << c.name;
  }
}

TEST(CacheControllerBinary, FindsTheFileInItsParentsListingWhenItHasNoInfoItem) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  CachedFile file(cache);
  cache.purgeItemWithKey("7", "QBFileInfoItem");
  auto parent = std::make_shared<QBFolderListItem>();
  parent->identifier = "docs";
  parent->path = "/Docs";
  auto entry = std::make_shared<QBFileItem>();
  entry->identifier = "7";
  entry->name = "Report.PDF";
  parent->files.push_back(entry);
  cache.storeItem(parent);
  EXPECT_EQ(cache.fetchFileItem("7", "/docs/report.pdf"), entry);
  EXPECT_NE(cache.fetchBinaryDataDescriptor("7"), nullptr);
}

TEST(CacheControllerBinary, ARunningDownloadsDescriptorStaysTheSameObjectAfterEviction) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  CachedFile file(cache);
  auto running = cache.fetchBinaryDataDescriptor("7");
  ASSERT_NE(running, nullptr);
  for (int i = 0; i < 150; ++i) {
    auto other = std::make_shared<QBFileInfoItem>();
    other->identifier = "other" + std::to_string(i);
    cache.storeItem(other);
  }
  ASSERT_FALSE(cache.backend().memcacheHolds(cache.backend().pathForItemWithKey("7", "QBBinaryDataDescriptorItem")));
  EXPECT_TRUE(cache.storeBinaryData("abc", 0, 3, "7"));
  EXPECT_EQ(cache.fetchBinaryDataDescriptor("7"), running);
  EXPECT_EQ(running->completedBytes, 3);
}

TEST(CacheControllerBinary, PurgingAFileRemovesItFromItsListingAndDropsItsDataAndDescriptor) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  CachedFile file(cache);
  ASSERT_TRUE(cache.storeBinaryData("abc", 0, 3, "7"));
  auto parent = std::make_shared<QBFolderListItem>();
  parent->identifier = "docs";
  parent->path = "/Docs";
  parent->files.push_back(std::make_shared<QBFileItem>());
  parent->files[0]->identifier = "7";
  parent->files[0]->name = "report.pdf";
  cache.storeItem(parent);

  cache.purgeCacheForFile("7", "docs");
  EXPECT_TRUE(cache.fetchFolderList("docs")->files.empty());
  EXPECT_EQ(cache.fetch<QBFileInfoItem>("7"), nullptr);
  EXPECT_EQ(cache.fetchBinaryDataDescriptor("7"), nullptr);
  EXPECT_EQ(testing::fileSize(cache.pathForBinaryItemWithKey("7")), 0u);
}

// Files written while it lives cannot grow past `bytes`, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previousHandler_);
  }

 private:
  struct rlimit saved_;
  sighandler_t previousHandler_;
};

TEST(CacheControllerBinary, AFullDiskLosesOnlyWhatDidNotFitAndLeavesNoStaleCopy) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  CachedFile file(cache);
  auto big = std::make_shared<QBFolderListItem>();
  big->identifier = "big";
  big->path = "/Big";
  cache.storeItem(big);
  cache.flush();
  {
    FileSizeLimit full(8192);
    EXPECT_TRUE(cache.storeBinaryData(std::string(4096, 'a'), 0, 20000, "7"));
    EXPECT_FALSE(cache.storeBinaryData(std::string(8192, 'b'), 4096, 20000, "7")) << "only half of it fits";
    EXPECT_EQ(testing::fileSize(cache.pathForBinaryItemWithKey("7")), 4096u) << "the partial append is undone";
    EXPECT_EQ(cache.fetchBinaryDataDescriptor("7")->completedBytes, 4096);
    EXPECT_TRUE(cache.storeBinaryData(std::string(2048, 'c'), 4096, 20000, "7")) << "what fits is taken";

    for (int i = 0; i < 400; ++i) {
      auto entry = std::make_shared<QBFileItem>();
      entry->identifier = std::to_string(i);
      entry->name = "a file with a long enough name " + std::to_string(i);
      big->files.push_back(entry);
    }
    cache.storeItem(big);  // its item file cannot be written
  }
  EXPECT_EQ(cache.fetchBinaryDataOf("7", 4094, 4, nullptr), "aacc");
  cache.flush();
  QBCacheController reopened(dir.path);
  EXPECT_EQ(reopened.fetchFolderList("big"), nullptr) << "the earlier, empty listing must not come back";
}

}  // namespace
}  // namespace greyfox
