#include <gtest/gtest.h>

#include "cache/CacheText.h"
#include "cache/QBCacheIndex.h"
#include "diag/Utilities.h"
#include "cache/CacheTestSupport.h"

namespace greyfox {
namespace {

TEST(CacheIndex, IndexingRecordsTheIndexingEntriesAndReplacesAnEarlierMetaWhole) {
  testing::ManualTime time;
  QBCacheIndex index;
  index.index("k", {{"orig_class", "QBFileInfoItem"}, {"path", "/a"}}, "hash1");
  auto meta = index.metaFor("k");
  ASSERT_TRUE(meta);
  EXPECT_EQ((*meta)["orig_class"], "QBFileInfoItem");
  EXPECT_EQ((*meta)["vhash"], "hash1");
  EXPECT_EQ((*meta)["runtimeid"], Utilities::appRuntimeIdentifier());
  EXPECT_EQ((*meta)["controller_version"], "1.0");
  EXPECT_EQ((*meta)["lastindex"], time.clock().now());
  EXPECT_EQ((*meta)["invalidated"], false);
  EXPECT_EQ((*meta)["key"], "k");

  index.index("k", {{"orig_class", "QBFileInfoItem"}}, "hash2");
  EXPECT_FALSE(index.metaFor("k")->contains("path"));
  index.purgeIndexFor("k");
  EXPECT_FALSE(index.haveIndexFor("k"));
  EXPECT_FALSE(index.metaFor("k"));
}

TEST(CacheIndex, ValidationChecksPresenceInvalidationAndVersionBeforeTheClassRule) {
  auto accept = [](const CacheMeta&) { return true; };
  auto refuse = [](const CacheMeta&) { return false; };
  struct Case {
    const char* name;
    std::function<void(QBCacheIndex&)> setUp;
    std::function<bool(const CacheMeta&)> rule;
    QBCacheIndexMetaValidation expected;
  } cases[] = {
      {"no meta", [](QBCacheIndex&) {}, accept, QBCacheIndexMetaMissing},
      {"valid", [](QBCacheIndex& i) { i.index("k", {}, "h"); }, accept, QBCacheIndexMetaValid},
      {"class rule says no", [](QBCacheIndex& i) { i.index("k", {}, "h"); }, refuse, QBCacheIndexMetaInvalid},
      {"invalidated",
       [](QBCacheIndex& i) {
         i.index("k", {}, "h");
         i.invalidateMetaFor("k");
       },
       accept, QBCacheIndexMetaInvalid},
      {"other controller version",
       [](QBCacheIndex& i) {
         i.index("k", {}, "h");
         auto meta = *i.metaFor("k");
         meta["controller_version"] = "0.9";
         i.setMeta(meta, "k");
       },
       accept, QBCacheIndexMetaInvalid},
  };
  for (const auto& c : cases) {
    QBCacheIndex index;
    c.setUp(index);
    EXPECT_EQ(index.validateMetaFor("k", c.rule), c.expected) << c.name;
  }
}

TEST(CacheIndex, ArchiveRoundTripsAndDamagedArchivesDoNotDecode) {
  QBCacheIndex index;
  index.index("a", {{"orig_class", "QBFolderListItem"}, {"files", {"x", "y"}}}, "h");
  index.index("b", {{"orig_class", "QBFolderListItem"}}, "h");
  index.invalidateMetaFor("b");
  std::string bytes = index.archivedData();

  auto decoded = QBCacheIndex::unarchiveData(bytes, nullptr);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->count(), 2u);
  EXPECT_EQ(decoded->metaFor("a"), index.metaFor("a"));
  EXPECT_EQ((*decoded->metaFor("b"))["invalidated"], true);
  EXPECT_EQ(decoded->lastUpdateTime(), index.lastUpdateTime());

  auto foreign = nlohmann::json::to_cbor(nlohmann::json{{"index", nlohmann::json::object()}});
  struct Case {
    const char* name;
    std::string bytes;
  } damaged[] = {
      {"truncated", bytes.substr(0, bytes.size() - 7)},
      {"empty", ""},
      {"text", "not an index"},
      {"a map without the index's class", std::string(foreign.begin(), foreign.end())},
  };
  for (const auto& c : damaged) {
    ErrorPtr error;
    EXPECT_EQ(QBCacheIndex::unarchiveData(c.bytes, &error), nullptr) << c.name;
    EXPECT_TRUE(error) << c.name;
  }
}

TEST(CacheIndex, PathQueriesIgnoreCaseAndDiacritics) {
  QBCacheIndex index;
  index.index("1", {{"path", "/Docs/Résumé"}}, "h");
  index.index("2", {{"path", "/Docs/Other"}}, "h");
  struct Case {
    const char* query;
    size_t matches;
  } cases[] = {
      {"/Docs/Résumé", 1},
      {"/docs/resume", 1},
      {"/DOCS/RE\xCC\x81SUME\xCC\x81", 1},  // decomposed accents
      {"/Docs/Resume2", 0},
      {"/Docs", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(index.queryUsingPredicate(metaEqualsIgnoringCaseAndDiacritics("path", c.query)).size(), c.matches)
        << c.query;
  }
  EXPECT_EQ(index.queryUsingPredicate(metaEquals("path", "/docs/other")).size(), 0u) << "exact match";
  EXPECT_EQ(cacheLowercase("/Ünïcode/ABC"), "/ünïcode/abc");
}

}  // namespace
}  // namespace greyfox
