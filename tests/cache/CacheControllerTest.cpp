#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cache/CacheTestSupport.h"
#include "cache/CacheRules.h"
#include "cache/QBCacheController.h"
#include "items/QBFSIdItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "platform/Files.h"

namespace greyfox {
namespace {

using testing::CacheDir;
using testing::ManualTime;

std::shared_ptr<QBFileInfoItem> fileInfo(const std::string& id, const std::string& name = "a.txt") {
  auto item = std::make_shared<QBFileInfoItem>();
  item->identifier = id;
  item->name = name;
  return item;
}

template <class T = QBFolderListItem>
std::shared_ptr<T> listing(const std::string& id, const std::string& path, int64_t encrypted = 0) {
  auto item = std::make_shared<T>();
  item->identifier = id;
  item->path = path;
  item->encrypted = encrypted;
  return item;
}

std::shared_ptr<QBFolderItem> folder(const std::string& id, const std::string& name) {
  auto item = std::make_shared<QBFolderItem>();
  item->identifier = id;
  item->name = name;
  return item;
}

// Makes the entry look as if an earlier run of the application stored it.
void storedInEarlierRun(QBCacheController& cache, const std::string& key, std::string_view className) {
  auto index = cache.indexOf(cacheIndexClassOf(className));
  auto meta = *index->metaFor(key);
  meta["runtimeid"] = "an-earlier-run";
  index->setMeta(meta, key);
}

TEST(CacheController, StoresFetchesInvalidatesAndStoresAgain) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  auto item = fileInfo("7", "report.pdf");
  ASSERT_TRUE(cache.storeItem(item));
  EXPECT_EQ(cache.fetch<QBFileInfoItem>("7"), item) << "the same object from memory";

  cache.invalidateItem(item);
  EXPECT_EQ(cache.fetch<QBFileInfoItem>("7"), nullptr);
  EXPECT_TRUE(cache.fetchMetaOfItemWithKey("7", QBFileInfoItem::kClassName)) << "the entry stays, marked";

  ASSERT_TRUE(cache.storeItem(item));
  EXPECT_EQ(cache.fetch<QBFileInfoItem>("7"), item);

  cache.purgeItem(item);
  EXPECT_EQ(cache.fetch<QBFileInfoItem>("7"), nullptr);
  EXPECT_FALSE(testing::exists(cache.backend().pathForItemWithKey("7", "QBFileInfoItem")));
}

TEST(CacheController, MakingAControllerSharesItOrReportsWhyItCannot) {
  CacheDir dir;
  auto made = QBCacheController::cacheControllerAt(dir.path, nullptr);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(QBCacheController::sharedController(), made);

  ErrorPtr error;
  EXPECT_EQ(QBCacheController::cacheControllerAt(dir.path + "/no/such/parent", &error), nullptr);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), "Failed to create cache directory at " + dir.path + "/no/such/parent");
  EXPECT_EQ(QBCacheController::sharedController(), made);
  QBCacheController::setSharedController(nullptr);
}

TEST(CacheController, RefusesItemsWithoutAKey) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  ErrorPtr error;
  EXPECT_FALSE(cache.storeItem(nullptr, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), "cache controller received nil item!");
  error = nullptr;
  EXPECT_FALSE(cache.storeItem(fileInfo(""), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), "cache controller received item without .cacheIndexKey!");
}

TEST(CacheController, ExpiresEachClassAfterItsInterval) {
  ManualTime time;
  struct Case {
    const char* name;
    QBContentItemPtr item;
    double age;
    bool valid;
  } cases[] = {
      {"shared listing at 119 s", listing<QBSharedFolderListItem>("s1", "/Shared Folders/a"), 119, true},
      {"shared listing at 121 s", listing<QBSharedFolderListItem>("s2", "/Shared Folders/b"), 121, false},
      {"stub listing at 1.9 s", listing<QBStubFolderListItem>("t1", "/locked1"), 1.9, true},
      {"stub listing at 2.1 s", listing<QBStubFolderListItem>("t2", "/locked2"), 2.1, false},
      {"upload handle at 121 s", QBContentItem::instanceOfClass("QBUploadFileHandle"), 121, false},
      {"plain listing after a year", listing("p", "/plain"), 365 * 86400.0, true},
      {"file info after a year", fileInfo("f"), 365 * 86400.0, true},
  };
  cases[4].item->identifier = "u";
  for (const auto& c : cases) {
    CacheDir dir;
    QBCacheController cache(dir.path);
    ASSERT_TRUE(cache.storeItem(c.item)) << c.name;
    time.clock().advance(c.age);
    EXPECT_EQ(cache.fetchItemWithKey(c.item->identifier, c.item->className()) != nullptr, c.valid) << c.name;
    // Storing again restarts the interval.
    cache.touchItemForcedWithKey(c.item->identifier, c.item->className());
    cache.storeItem(c.item);
    EXPECT_NE(cache.fetchItemWithKey(c.item->identifier, c.item->className()), nullptr) << c.name;
  }
}

TEST(CacheController, RunBoundEntriesAreNotTrustedInANewRun) {
  struct Case {
    const char* name;
    QBContentItemPtr item;
    bool validInNewRun;
  } cases[] = {
      {"encrypted listing", listing("e", "/secure", 1), false},
      {"plain listing", listing("p", "/plain", 0), true},
      {"user links", QBContentItem::instanceOfClass("QBUserLinksItem"), false},
      {"file info", fileInfo("f"), true},
  };
  cases[2].item->identifier = "default";
  for (const auto& c : cases) {
    CacheDir dir;
    QBCacheController cache(dir.path);
    ASSERT_TRUE(cache.storeItem(c.item)) << c.name;
    EXPECT_NE(cache.fetchItemWithKey(c.item->identifier, c.item->className()), nullptr) << c.name << " (same run)";
    storedInEarlierRun(cache, c.item->identifier, c.item->className());
    EXPECT_EQ(cache.fetchItemWithKey(c.item->identifier, c.item->className()) != nullptr, c.validInNewRun)
        << c.name;
  }
}

TEST(CacheController, AChangedVersioningHashInvalidatesTheEntry) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  cache.storeItem(fileInfo("7"));
  auto index = cache.indexOf("QBFileInfoItem");
  auto meta = *index->metaFor("7");
  meta["vhash"] = "fields of an older build";
  index->setMeta(meta, "7");
  EXPECT_EQ(cache.fetch<QBFileInfoItem>("7"), nullptr);
}

TEST(CacheController, FindsListingsByPathIgnoringCaseAndDiacriticsAndRefusesTwoMatches) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  auto docs = listing("1", "/Docs/Résumés");
  cache.storeItem(docs);
  cache.storeItem(listing<QBTrashFolderListItem>("-1", "/Trash"));
  for (const char* path : {"/Docs/Résumés", "/docs/resumes", "/DOCS/RESUMÉS"}) {
    ErrorPtr error;
    EXPECT_EQ(cache.fetchFolderListAt(path, &error), docs) << path;
    EXPECT_FALSE(error) << path;
  }
  EXPECT_EQ(cache.fetchFolderListAt("/Docs"), nullptr);
  EXPECT_NE(cache.fetchFolderListAt("/trash"), nullptr) << "listing subclasses share the index";

  cache.storeItem(listing("2", "/docs/resumes"));
  ErrorPtr error;
  EXPECT_EQ(cache.fetchFolderListAt("/Docs/Résumés", &error), nullptr);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), "fetch item with predicate query resulted in more than 1 row (2).");
}

TEST(CacheController, AHandDeletedItemFileIsPurgedFromTheIndexOnTheNextFetch) {
  CacheDir dir;
  std::string path;
  {
    QBCacheController cache(dir.path);
    cache.storeItem(fileInfo("7"));
    path = cache.backend().pathForItemWithKey("7", "QBFileInfoItem");
  }
  ASSERT_EQ(::unlink(path.c_str()), 0);
  {
    QBCacheController cache(dir.path);
    EXPECT_TRUE(cache.indexOf("QBFileInfoItem")->haveIndexFor("7"));
    EXPECT_EQ(cache.fetch<QBFileInfoItem>("7"), nullptr);
    EXPECT_FALSE(cache.indexOf("QBFileInfoItem")->haveIndexFor("7"));
  }
  QBCacheController cache(dir.path);
  EXPECT_FALSE(cache.indexOf("QBFileInfoItem")->haveIndexFor("7")) << "the purge reached the index file";
}

TEST(CacheController, ADamagedIndexFileReadsAsAnEmptyIndexAndIsRewritten) {
  CacheDir dir;
  std::string indexPath;
  {
    QBCacheController cache(dir.path);
    cache.storeItem(fileInfo("7"));
    indexPath = cache.backend().pathForIndexOfClass("QBFileInfoItem");
  }
  std::string bytes = *readWholeFile(indexPath);
  ASSERT_TRUE(writeFileAtomically(indexPath, bytes.substr(0, bytes.size() / 3), 0600, nullptr));
  {
    QBCacheController cache(dir.path);
    EXPECT_EQ(cache.fetch<QBFileInfoItem>("7"), nullptr);
    EXPECT_EQ(cache.indexOf("QBFileInfoItem")->count(), 0u);
    cache.storeItem(fileInfo("8"));
  }
  auto index = QBCacheIndex::unarchiveData(*readWholeFile(indexPath), nullptr);
  ASSERT_NE(index, nullptr);
  EXPECT_TRUE(index->haveIndexFor("8"));
}

TEST(CacheController, AStoredIndexReachesTheDiskWithinASecondWithoutShutdown) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  std::string indexPath = cache.backend().pathForIndexOfClass("QBFileInfoItem");
  auto start = std::chrono::steady_clock::now();
  cache.storeItem(fileInfo("7"));
  bool written = false;
  while (!written && std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
    if (auto bytes = readWholeFile(indexPath)) {
      auto index = QBCacheIndex::unarchiveData(*bytes, nullptr);
      written = index && index->haveIndexFor("7");
    }
    if (!written) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(written);
}

TEST(CacheController, PurgesAFolderItsSubfoldersAndThePathLookupsThatNameThem) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  auto root = listing("0", "/");
  root->folders = {folder("1", "A")};
  auto a = listing("1", "/A");
  a->folders = {folder("2", "B")};
  a->files = {std::make_shared<QBFileItem>()};
  a->files[0]->identifier = "f";
  a->files[0]->name = "x.txt";
  auto b = listing("2", "/A/B");
  b->folders = {folder("1", "loop")};  // a listing that names an ancestor must not loop
  for (const auto& item : {QBContentItemPtr(root), QBContentItemPtr(a), QBContentItemPtr(b)}) cache.storeItem(item);
  for (const char* id : {"1", "2"}) {
    auto info = std::make_shared<QBFolderInfoItem>();
    info->identifier = id;
    cache.storeItem(info);
  }
  auto lookupA = std::make_shared<QBFolderFSIdItem>();
  lookupA->identifier = "1";
  lookupA->path = "/A";
  auto lookupB = std::make_shared<QBFolderFSIdItem>();
  lookupB->identifier = "2";
  lookupB->path = "/A/B";
  auto lookupOther = std::make_shared<QBFSIdItem>();
  lookupOther->identifier = "9";
  lookupOther->path = "/Other.txt";
  for (const auto& item : {lookupA, lookupB}) cache.storeItem(item);
  cache.storeItem(lookupOther);
  cache.storeItem(fileInfo("f"));

  cache.purgeCacheForFolder("1", "0");

  EXPECT_TRUE(cache.fetchFolderList("0")->folders.empty());
  EXPECT_EQ(cache.fetchFolderList("1"), nullptr);
  EXPECT_EQ(cache.fetchFolderList("2"), nullptr);
  EXPECT_EQ(cache.fetch<QBFolderInfoItem>("1"), nullptr);
  EXPECT_EQ(cache.fetch<QBFolderInfoItem>("2"), nullptr);
  EXPECT_EQ(cache.fetchItemWithKey("/a", QBFSIdItem::kClassName), nullptr);
  EXPECT_EQ(cache.fetchItemWithKey("/a/b", QBFSIdItem::kClassName), nullptr);
  EXPECT_NE(cache.fetchItemWithKey("/other.txt", QBFSIdItem::kClassName), nullptr);
  EXPECT_NE(cache.fetch<QBFileInfoItem>("f"), nullptr) << "files keep their entries";

  cache.purgeIdentifiersForcedAt("/OTHER.txt");
  EXPECT_EQ(cache.fetchItemWithKey("/other.txt", QBFSIdItem::kClassName), nullptr);
}

TEST(CacheController, ManyThreadsStoreAndFetchAtOnce) {
  CacheDir dir;
  QBCacheController cache(dir.path);
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        std::string id = std::to_string(t) + "-" + std::to_string(i % 40);
        auto item = fileInfo(id, "name" + id);
        if (!cache.storeItem(item)) ++failures;
        auto fetched = cache.fetch<QBFileInfoItem>(id);
        if (!fetched || fetched->identifier != id) ++failures;
        std::string listingId = "L" + std::to_string(t);
        cache.storeItem(listing(listingId, "/folder" + std::to_string(t)));
        if (!cache.fetchFolderListAt("/FOLDER" + std::to_string(t))) ++failures;
        if (i % 7 == 0) cache.purgeItemWithKey(id, QBFileInfoItem::kClassName);
        if (i % 11 == 0) {
          cache.invalidateItemWithKey(listingId, "QBFolderListItem");
          if (cache.fetchFolderList(listingId)) ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  cache.flush();

  QBCacheController reopened(dir.path);
  auto index = reopened.indexOf("QBFileInfoItem");
  EXPECT_EQ(index->count(), cache.indexOf("QBFileInfoItem")->count());
  for (const auto& meta : index->queryUsingPredicate([](const CacheMeta&) { return true; })) {
    EXPECT_NE(reopened.fetch<QBFileInfoItem>(meta["key"].get<std::string>()), nullptr) << meta["key"];
  }
}

}  // namespace
}  // namespace greyfox
