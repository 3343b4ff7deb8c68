#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "cache/QBCacheFileBackend.h"
#include "cache/CacheTestSupport.h"
#include "diag/Utilities.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "platform/Files.h"

namespace greyfox {
namespace {

using testing::CacheDir;

std::shared_ptr<QBFileInfoItem> fileInfo(const std::string& id, const std::string& name = "a.txt") {
  auto item = std::make_shared<QBFileInfoItem>();
  item->identifier = id;
  item->name = name;
  item->size = 12;
  return item;
}

TEST(CacheFileBackend, MakesTheDirectoryForTheUserAloneAndNamesFilesByClassAndKeyDigest) {
  CacheDir dir;
  QBCacheFileBackend backend(dir.path);
  struct stat st;
  ASSERT_EQ(::stat(dir.path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  std::string digest = Utilities::md5HexDigest("7");
  EXPECT_EQ(backend.pathForIndexOfClass("QBFolderListItem"), dir.path + "/QBFolderListItem.index");
  EXPECT_EQ(backend.pathForItemWithKey("7", "QBFileInfoItem"), dir.path + "/QBFileInfoItem." + digest + ".cache");
  EXPECT_EQ(backend.pathForBinaryItemWithKey("7"), dir.path + "/" + digest + ".binary");
  // Keys that differ only in case are different files.
  EXPECT_NE(backend.pathForBinaryItemWithKey("/Docs"), backend.pathForBinaryItemWithKey("/docs"));
}

TEST(CacheFileBackend, RefusesADirectoryItCannotMake) {
  CacheDir dir;
  EXPECT_THROW(QBCacheFileBackend(dir.path + "/missing-parent/Cache"), QBCacheException);
}

TEST(CacheFileBackend, BinaryFilesGrowOnlyByExactAppends) {
  CacheDir dir;
  QBCacheFileBackend backend(dir.path);
  std::string first(4096, 'a'), second(4096, 'b');
  EXPECT_TRUE(backend.storeBinaryData(first, "f", 0));
  EXPECT_TRUE(backend.storeBinaryData(second, "f", 4096));
  EXPECT_FALSE(backend.storeBinaryData("late", "f", 16384)) << "a gap";
  EXPECT_FALSE(backend.storeBinaryData("again", "f", 4096)) << "an overlap";
  EXPECT_EQ(testing::fileSize(backend.pathForBinaryItemWithKey("f")), 8192u);

  EXPECT_EQ(backend.restoreBinaryDataOf("f", 4090, 12), std::string(6, 'a') + std::string(6, 'b'));
  EXPECT_EQ(backend.restoreBinaryDataOf("f", 8000, 1000), std::string(192, 'b')) << "short at the end";
  EXPECT_EQ(backend.restoreBinaryDataOf("f", 9000, 10), "") << "past the end";
  EXPECT_THROW(backend.restoreBinaryDataOf("never-stored", 0, 10), QBCacheException);
}

TEST(CacheFileBackend, PurgingBinaryDataEmptiesTheFileAndCreatesNone) {
  CacheDir dir;
  QBCacheFileBackend backend(dir.path);
  ASSERT_TRUE(backend.storeBinaryData("bytes", "f", 0));
  backend.purgeBinaryData("f");
  EXPECT_TRUE(testing::exists(backend.pathForBinaryItemWithKey("f")));
  EXPECT_EQ(backend.binaryDataSize("f"), 0u);
  EXPECT_TRUE(backend.storeBinaryData("new", "f", 0)) << "an emptied file takes data from 0 again";

  backend.purgeBinaryData("g");
  EXPECT_FALSE(testing::exists(backend.pathForBinaryItemWithKey("g")));
}

TEST(CacheFileBackend, StoredItemsComeBackFromDiskInANewBackend) {
  CacheDir dir;
  {
    QBCacheFileBackend backend(dir.path);
    backend.storeItem(fileInfo("7", "report.pdf"));
  }
  QBCacheFileBackend backend(dir.path);
  auto item = std::dynamic_pointer_cast<QBFileInfoItem>(backend.restoreItem("7", "QBFileInfoItem"));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->name, "report.pdf");
  EXPECT_EQ(item->size, 12);
  EXPECT_EQ(backend.restoreItem("7", "QBFolderInfoItem"), nullptr);
  EXPECT_EQ(backend.restoreItem("8", "QBFileInfoItem"), nullptr);

  struct stat st;
  ASSERT_EQ(::stat(backend.pathForItemWithKey("7", "QBFileInfoItem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(CacheFileBackend, DamagedOrForeignItemFilesReadAsMissing) {
  CacheDir dir;
  std::string path;
  std::string whole;
  {
    QBCacheFileBackend backend(dir.path);
    backend.storeItem(fileInfo("7"));
    path = backend.pathForItemWithKey("7", "QBFileInfoItem");
    whole = *readWholeFile(path);
  }
  auto folder = std::make_shared<QBFolderItem>();
  folder->identifier = "7";
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"truncated", whole.substr(0, whole.size() / 2)},
      {"empty", ""},
      {"not CBOR", "hello, world"},
      {"an item of another class", folder->archivedData()},
      {"another key's item", fileInfo("8")->archivedData()},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(writeFileAtomically(path, c.bytes, 0600, nullptr)) << c.name;
    QBCacheFileBackend backend(dir.path);
    EXPECT_EQ(backend.restoreItem("7", "QBFileInfoItem"), nullptr) << c.name;
  }
}

TEST(CacheFileBackend, MemoryCacheHandsOutTheSameObjectsAndEvictsTheLeastRecentlyUsed) {
  CacheDir dir;
  QBCacheFileBackend backend(dir.path);
  std::vector<std::shared_ptr<QBFileInfoItem>> items;
  for (int i = 0; i < 100; ++i) {
    items.push_back(fileInfo("id" + std::to_string(i)));
    backend.storeItem(items.back());
  }
  // A restored entry moves to the most recent place; a stored one keeps its place.
  EXPECT_EQ(backend.restoreItem("id0", "QBFileInfoItem"), items[0]);
  backend.storeItem(items[1]);
  backend.storeItem(fileInfo("id100"));

  std::string evicted = backend.pathForItemWithKey("id1", "QBFileInfoItem");
  EXPECT_FALSE(backend.memcacheHolds(evicted)) << "the 101st store evicts the least recently used";
  EXPECT_TRUE(backend.memcacheHolds(backend.pathForItemWithKey("id0", "QBFileInfoItem")));
  EXPECT_TRUE(backend.memcacheHolds(backend.pathForItemWithKey("id2", "QBFileInfoItem")));

  items[1]->name = "changed in memory only";
  auto fromDisk = std::dynamic_pointer_cast<QBFileInfoItem>(backend.restoreItem("id1", "QBFileInfoItem"));
  ASSERT_NE(fromDisk, nullptr) << "the evicted item's file stays";
  EXPECT_NE(fromDisk, items[1]);
  EXPECT_EQ(fromDisk->name, "a.txt");
  EXPECT_EQ(backend.restoreItem("id1", "QBFileInfoItem"), fromDisk) << "a disk read is remembered";
}

TEST(CacheFileBackend, ReadingAnItemFromDiskMarksItsFileAsRecentlyUsed) {
  CacheDir dir;
  std::string path;
  {
    QBCacheFileBackend backend(dir.path);
    backend.storeItem(fileInfo("7"));
    path = backend.pathForItemWithKey("7", "QBFileInfoItem");
  }
  testing::setModified(path, 1'000'000);
  QBCacheFileBackend backend(dir.path);
  ASSERT_NE(backend.restoreItem("7", "QBFileInfoItem"), nullptr);
  EXPECT_GT(testing::modified(path), 1'000'000 + 1e6);
}

TEST(CacheFileBackend, CleanupRemovesTheOldestItemAndBinaryFilesDownToTheLimitAndKeepsIndexes) {
  CacheDir dir;
  ASSERT_TRUE(makeDirectories(dir.path, 0700, nullptr));
  constexpr std::uint64_t MiB = 1024 * 1024;
  // 130 MiB of item and binary files, oldest first, and 5 MiB of index.
  std::vector<std::string> files;
  for (int i = 0; i < 13; ++i) {
    std::string name = dir.path + "/" + std::to_string(i) + (i % 2 ? ".binary" : ".x.cache");
    testing::makeSparseFile(name, 10 * MiB);
    testing::setModified(name, 1'600'000'000 + i * 10);
    files.push_back(name);
  }
  std::string index = dir.path + "/QBFolderListItem.index";
  testing::makeSparseFile(index, 5 * MiB);
  testing::setModified(index, 1'500'000'000);
  std::string stray = dir.path + "/QBFolderListItem.index.tmp-1-0";
  testing::makeSparseFile(stray, 1);

  QBCacheFileBackend backend(dir.path);
  EXPECT_FALSE(testing::exists(files[0])) << "oldest";
  EXPECT_TRUE(testing::exists(files[1])) << "the next fits: 120 MiB left";
  EXPECT_TRUE(testing::exists(files[12]));
  EXPECT_TRUE(testing::exists(index));
  EXPECT_FALSE(testing::exists(stray)) << "a torn write of a crash";
  EXPECT_EQ(backend.totalCacheSize(), 120 * MiB);
  EXPECT_LE(backend.totalCacheSize(), QBCacheFileBackend::kDefaultCacheSizeLimit);

  EXPECT_EQ(backend.cleanupCacheUpToSize(25 * MiB), 10u);
  EXPECT_EQ(backend.sortedFilesForCleanup(), (std::vector<std::string>{files[11], files[12]}));
  EXPECT_TRUE(testing::exists(index));
}

}  // namespace
}  // namespace greyfox
