// Making items from decoded replies: each class's keys and conversions, the
// fields that fail an item, and the lists whose entries are dropped or fail.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "items/QBAccountItems.h"
#include "items/QBAnonymousItem.h"
#include "items/QBFSIdItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBSharingItems.h"
#include "items/QBUploadFileHandle.h"
#include "items/ItemValues.h"
#include "items/QBUserSessionItem.h"
#include "platform/Clock.h"
#include "platform/TestTempRoot.h"

namespace greyfox {
namespace {

using nlohmann::json;

// Item code logs; keep its log files under a temporary root.
const auto* const kTempRoot = ::testing::AddGlobalTestEnvironment([] {
  struct Env : ::testing::Environment {
    std::unique_ptr<testing::TempRoot> root;
    void SetUp() override { root = std::make_unique<testing::TempRoot>(); }
    void TearDown() override { root.reset(); }
  };
  return new Env;
}());

const std::string kPrecomposed = "caf\xC3\xA9";    // "café", é as U+00E9
const std::string kDecomposed = "cafe\xCC\x81";    // e + U+0301

struct MappingCase {
  const char* name;
  std::function<QBContentItemPtr(const json&)> make;
  json reply;
  std::function<void(const QBContentItem&)> check;  // null: the reply makes no item
};

template <class T>
std::function<QBContentItemPtr(const json&)> maker() {
  return [](const json& reply) -> QBContentItemPtr { return T::itemWithDict(reply, nullptr); };
}

template <class T>
const T& as(const QBContentItem& item) {
  return dynamic_cast<const T&>(item);
}

TEST(ItemMapping, EachClassFromItsReply) {
  const std::vector<MappingCase> cases = {
      {"file with size as text and a date", maker<QBFileItem>(),
       {{"FileId", 7}, {"Name", "a"}, {"Size", "12"}, {"DateModified", 1700000000}, {"RequireCompression", 1}},
       [](const QBContentItem& item) {
         const auto& file = as<QBFileItem>(item);
         EXPECT_EQ(file.identifier, "7");
         EXPECT_EQ(file.name, "a");
         EXPECT_EQ(file.size, 12);
         EXPECT_EQ(file.requireCompression, 1);
         EXPECT_EQ(file.dateModified, 1700000000.0);
         EXPECT_EQ(file.timeReceived, 0);
       }},
      {"file without Size, DateModified and RequireCompression reads them as 0", maker<QBFileItem>(),
       {{"FileId", "f1"}, {"Name", "a"}},
       [](const QBContentItem& item) {
         const auto& file = as<QBFileItem>(item);
         EXPECT_EQ(file.size, 0);
         EXPECT_EQ(file.requireCompression, 0);
         EXPECT_EQ(file.dateModified, 0.0);
       }},
      {"file without Name", maker<QBFileItem>(), {{"FileId", 7}, {"Size", 12}}, nullptr},
      {"file without FileId", maker<QBFileItem>(), {{"Name", "a"}}, nullptr},
      {"file whose Size is not a number", maker<QBFileItem>(), {{"FileId", 7}, {"Name", "a"}, {"Size", "12kB"}},
       nullptr},
      {"file whose Size is beyond 64 bits", maker<QBFileItem>(),
       {{"FileId", 7}, {"Name", "a"}, {"Size", "99999999999999999999"}}, nullptr},
      {"error reply", maker<QBFileItem>(), {{"error", {{"code", 5}, {"message", "File not found"}}}}, nullptr},
      {"file date formatted with a fraction, as the client writes its own entries", maker<QBFileItem>(),
       {{"FileId", 7}, {"Name", "a"}, {"DateModified", "1700000000.250000"}},
       [](const QBContentItem& item) { EXPECT_EQ(as<QBFileItem>(item).dateModified, 1700000000.0); }},
      {"file size above 4 GiB", maker<QBFileItem>(), {{"FileId", 7}, {"Name", "a"}, {"Size", 6000000000LL}},
       [](const QBContentItem& item) { EXPECT_EQ(as<QBFileItem>(item).size, 6000000000LL); }},
      {"shared file needs ShareMode and ignores RequireCompression", maker<QBSharedFileItem>(),
       {{"FileId", 7}, {"Name", "a"}, {"ShareMode", "2"}, {"RequireCompression", "x"}},
       [](const QBContentItem& item) {
         const auto& file = as<QBSharedFileItem>(item);
         EXPECT_EQ(file.shareMode, 2);
         EXPECT_FALSE(file.requireCompression.has_value());
       }},
      {"shared file without ShareMode", maker<QBSharedFileItem>(), {{"FileId", 7}, {"Name", "a"}}, nullptr},
      {"file info", maker<QBFileInfoItem>(),
       {{"FileId", "9"},
        {"Name", kPrecomposed},
        {"Size", 3},
        {"DateModified", 5},
        {"Link", "https://l/1"},
        {"DownloadLink", "https://l/d"},
        {"StreamingLink", "https://l/s"},
        {"Access", "public"},
        {"Description", "notes"}},
       [](const QBContentItem& item) {
         const auto& info = as<QBFileInfoItem>(item);
         EXPECT_EQ(info.name, kDecomposed);
         EXPECT_EQ(info.link, "https://l/1");
         EXPECT_EQ(info.downloadLink, "https://l/d");
         EXPECT_EQ(info.streamingLink, "https://l/s");
         EXPECT_EQ(info.access, "public");
         EXPECT_EQ(info.fileDescription, "notes");
       }},
      {"file info without Description", maker<QBFileInfoItem>(),
       {{"FileId", "9"}, {"Name", "a"}, {"Link", "l"}, {"DownloadLink", "d"}, {"StreamingLink", "s"},
        {"Access", "private"}},
       nullptr},
      {"folder with a precomposed name", maker<QBFolderItem>(),
       {{"FolderID", "12"}, {"Name", kPrecomposed}, {"Encrypted", "1"}, {"DateCreated", 10}, {"DateModified", 20}},
       [](const QBContentItem& item) {
         const auto& folder = as<QBFolderItem>(item);
         EXPECT_EQ(folder.identifier, "12");
         EXPECT_EQ(folder.name, kDecomposed);
         EXPECT_TRUE(folder.isEncrypted());
         EXPECT_EQ(folder.dateCreated, 10.0);
         EXPECT_EQ(folder.dateModified, 20.0);
       }},
      {"folder without Encrypted is not secure", maker<QBFolderItem>(), {{"FolderID", "12"}, {"Name", "d"}},
       [](const QBContentItem& item) { EXPECT_EQ(as<QBFolderItem>(item).encrypted, 0); }},
      {"folder without FolderID", maker<QBFolderItem>(), {{"FileId", "12"}, {"Name", "d"}}, nullptr},
      {"shared folder", maker<QBSharedFolderItem>(), {{"FolderID", "12"}, {"Name", "d"}, {"ShareMode", 1}},
       [](const QBContentItem& item) { EXPECT_EQ(as<QBSharedFolderItem>(item).shareMode, 1); }},
      {"folder info", maker<QBFolderInfoItem>(),
       {{"FolderID", "12"}, {"Name", "d"}, {"Link", "l"}, {"Description", "desc"}, {"Access", "a"}},
       [](const QBContentItem& item) {
         const auto& info = as<QBFolderInfoItem>(item);
         EXPECT_EQ(info.folderDescription, "desc");
         EXPECT_EQ(info.link, "l");
         EXPECT_EQ(info.access, "a");
       }},
      {"session from the sign-in reply", maker<QBUserSessionItem>(),
       {{"SessionID", "s-1"}, {"UserName", "ann"}, {"AccType", 2}, {"DriveName", "Ann's drive"},
        {"UserFirstName", "Ann"}, {"UserLastName", "Lee"}, {"UserID", 4411}, {"UploadSpeedLimit", 0.5},
        {"Active2FA", 1}, {"IsAccountUser", true}},
       [](const QBContentItem& item) {
         const auto& session = as<QBUserSessionItem>(item);
         EXPECT_EQ(session.identifier, "default");
         EXPECT_EQ(session.sessionId, "s-1");
         EXPECT_EQ(session.username, "ann");
         EXPECT_EQ(session.accountType, 2);
         EXPECT_EQ(session.driveName, "Ann's drive");
         EXPECT_EQ(session.firstName, "Ann");
         EXPECT_EQ(session.lastName, "Lee");
         EXPECT_EQ(session.userId, "4411");
         EXPECT_EQ(session.uploadSpeedLimit, 0.5);
         EXPECT_EQ(session.active2FA, "1");
         EXPECT_TRUE(session.isAccountUser);
       }},
      {"session without IsAccountUser is no account user", maker<QBUserSessionItem>(),
       {{"SessionID", "s"}, {"UserName", "u"}, {"AccType", "1"}, {"DriveName", "d"}, {"UserFirstName", "f"},
        {"UserLastName", "l"}, {"UserID", "1"}, {"UploadSpeedLimit", "0"}, {"Active2FA", "0"}},
       [](const QBContentItem& item) {
         EXPECT_FALSE(as<QBUserSessionItem>(item).isAccountUser);
         EXPECT_EQ(as<QBUserSessionItem>(item).active2FA, "0");
       }},
      {"session without Active2FA", maker<QBUserSessionItem>(),
       {{"SessionID", "s"}, {"UserName", "u"}, {"AccType", 1}, {"DriveName", "d"}, {"UserFirstName", "f"},
        {"UserLastName", "l"}, {"UserID", "1"}, {"UploadSpeedLimit", 0}},
       nullptr},
      {"sharing user with a numeric id", maker<QBSharingUserItem>(),
       {{"SharingID", 31}, {"Name", "bob@example.com"}, {"ShareMode", "r"}},
       [](const QBContentItem& item) {
         EXPECT_EQ(item.identifier, "31");
         EXPECT_EQ(as<QBSharingUserItem>(item).mode, "r");
       }},
      {"file path id", maker<QBFSIdItem>(), {{"FileId", "f9"}},
       [](const QBContentItem& item) { EXPECT_EQ(item.identifier, "f9"); }},
      {"folder path id reads FolderId", maker<QBFolderFSIdItem>(), {{"FolderId", "d9"}, {"FileId", "f9"}},
       [](const QBContentItem& item) { EXPECT_EQ(item.identifier, "d9"); }},
      {"upload handle", maker<QBUploadFileHandle>(),
       {{"TempLocation", "tmp/abc"}, {"RequireHash", 0}, {"RequireHashOnly", "1"}},
       [](const QBContentItem& item) {
         const auto& handle = as<QBUploadFileHandle>(item);
         EXPECT_EQ(handle.tempLocation, "tmp/abc");
         EXPECT_EQ(handle.requireHash, 0);
         EXPECT_EQ(handle.requireHashOnly, 1);
       }},
      {"upload handle without RequireHash", maker<QBUploadFileHandle>(), {{"TempLocation", "t"}}, nullptr},
      {"chunk result", maker<QBChunkUploadResult>(), {{"TotalWritten", "1048576"}},
       [](const QBContentItem& item) { EXPECT_EQ(as<QBChunkUploadResult>(item).bytesWritten, 1048576); }},
      {"chunk result without TotalWritten", maker<QBChunkUploadResult>(), {{"response", "true"}}, nullptr},
      {"user info with figures as text", maker<QBUserInfoItem>(),
       {{"MaxStorage", "107374182400"}, {"StorageUsed", 5}, {"BwUsed", "7"}, {"UserPlan", "Unlimited 1TB"}},
       [](const QBContentItem& item) {
         const auto& info = as<QBUserInfoItem>(item);
         EXPECT_EQ(info.identifier, "default");
         EXPECT_EQ(info.storageMax, 107374182400LL);
         EXPECT_EQ(info.storageUsed, 5);
         EXPECT_EQ(info.bandwidthUsed, 7);
         EXPECT_EQ(info.bandwidthMax, 0);
         EXPECT_TRUE(info.isUnlimited());
       }},
      {"user info without a plan", maker<QBUserInfoItem>(), {{"MaxStorage", 1}}, nullptr},
      {"user links", maker<QBUserLinksItem>(), {{"account", "https://a"}, {"billing", "https://b"}},
       [](const QBContentItem& item) {
         EXPECT_EQ(as<QBUserLinksItem>(item).accountLink, "https://a");
         EXPECT_EQ(as<QBUserLinksItem>(item).billingLink, "https://b");
       }},
      {"user links without billing", maker<QBUserLinksItem>(), {{"account", "https://a"}}, nullptr},
      {"notifications", maker<QBNotificationsItem>(), {{"Notification", json::array({{{"Text", "hi"}}})}},
       [](const QBContentItem& item) { EXPECT_EQ(as<QBNotificationsItem>(item).list[0]["Text"], "hi"); }},
      {"notifications without the list", maker<QBNotificationsItem>(), json::object(), nullptr},
  };
  for (const auto& c : cases) {
    auto item = c.make(c.reply);
    if (!c.check) {
      EXPECT_EQ(item, nullptr) << c.name;
      continue;
    }
    ASSERT_NE(item, nullptr) << c.name;
    SCOPED_TRACE(c.name);
    c.check(*item);
  }
}

TEST(ItemMapping, NumbersFromTextAndTheirLimits) {
  struct Case {
    const char* name;
    json value;
    std::optional<int64_t> expected;
  };
  const std::vector<Case> cases = {
      {"integer", 12, 12},
      {"decimal text", "12", 12},
      {"text with spaces", " 12 ", 12},
      {"negative text", "-3", -3},
      {"fraction dropped", 12.9, 12},
      {"text fraction dropped", "12.9", 12},
      {"null reads as 0", nullptr, 0},
      {"largest 64-bit", "9223372036854775807", INT64_MAX},
      {"one beyond 64 bits", "9223372036854775808", std::nullopt},
      {"unsigned beyond 64 bits", 18446744073709551615ULL, std::nullopt},
      {"empty text", "", std::nullopt},
      {"words", "twelve", std::nullopt},
      {"hexadecimal", "0x10", std::nullopt},
      {"list", json::array({1}), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(replyInteger(&c.value), c.expected) << c.name;
  }
  EXPECT_EQ(replyInteger(nullptr), 0) << "missing reads as 0";
  EXPECT_EQ(replyRequiredInteger(nullptr), std::nullopt) << "missing unchanged number";
}

TEST(ItemMapping, ListingDropsFailingEntries) {
  json reply = {{"DirUpdateTime", "1700000123"},
                {"Name", kPrecomposed},
                {"ParentFolderID", "0"},
                {"ResponseType", 1},
                {"Folders", json::array({{{"FolderID", "d1"}, {"Name", "Docs"}}, {{"Name", "no id"}}, "junk"})},
                {"Files", json::array({{{"FileId", "f1"}, {"Name", "a.txt"}, {"Size", 1}}, {{"Name", "no id"}}})}};
  auto listing = QBFolderListItem::itemWithDict(reply, nullptr);
  ASSERT_NE(listing, nullptr);
  EXPECT_EQ(listing->updateTime, 1700000123);
  EXPECT_EQ(listing->responseType, 1);
  EXPECT_EQ(listing->parentFolderId, "0");
  EXPECT_EQ(listing->name, kPrecomposed) << "a listing's own name is kept as sent";
  ASSERT_EQ(listing->folders.size(), 1u);
  EXPECT_EQ(listing->folders[0]->identifier, "d1");
  ASSERT_EQ(listing->files.size(), 1u);
  EXPECT_EQ(listing->files[0]->identifier, "f1");
  EXPECT_FALSE(listing->isEncrypted());

  auto trash = QBTrashFolderListItem::itemWithDict(reply, nullptr);
  ASSERT_NE(trash, nullptr);
  EXPECT_EQ(trash->folders.size(), 1u);
  EXPECT_EQ(trash->files.size(), 1u);
  EXPECT_TRUE(trash->name.empty()) << "the trash does not map Name";

  json bare = {{"Name", "x"}, {"ParentFolderID", "0"}, {"ResponseType", 0}};
  auto empty = QBFolderListItem::itemWithDict(bare, nullptr);
  ASSERT_NE(empty, nullptr) << "missing lists are empty";
  EXPECT_TRUE(empty->folders.empty());
  EXPECT_TRUE(empty->files.empty());

  json notAList = bare;
  notAList["Files"] = "a.txt";
  EXPECT_EQ(QBFolderListItem::itemWithDict(notAList, nullptr), nullptr) << "Files that is not a list";
  EXPECT_EQ(QBFolderListItem::itemWithDict(json{{"Name", "x"}, {"ResponseType", 1}}, nullptr), nullptr)
      << "listing without ParentFolderID";
}

TEST(ItemMapping, SharedListingsFailOnOneBadEntry) {
  json good = {{"FolderID", "s1"}, {"Name", "Shared"}, {"ShareMode", 1}};
  json reply = {{"ResponseType", 1}, {"DirUpdateTime", 5}, {"SharedFolders", json::array({good})}};
  auto shared = QBSharedFolderListItem::itemWithDict(reply, nullptr);
  ASSERT_NE(shared, nullptr);
  ASSERT_EQ(shared->folders.size(), 1u);
  EXPECT_NE(std::dynamic_pointer_cast<QBSharedFolderItem>(shared->folders[0]), nullptr);

  reply["SharedFolders"].push_back({{"Name", "no id"}, {"ShareMode", 1}});
  EXPECT_EQ(QBSharedFolderListItem::itemWithDict(reply, nullptr), nullptr);

  json users = {{"ShareWithUser", json::array({{{"SharingID", "u1"}, {"Name", "ann"}, {"ShareMode", "rw"}},
                                               {{"SharingID", "u2"}, {"Name", "Bob"}, {"ShareMode", "r"}}})}};
  auto sharing = QBSharingUsersItem::itemWithDict(users, nullptr);
  ASSERT_NE(sharing, nullptr);
  ASSERT_EQ(sharing->users.size(), 2u);
  ASSERT_NE(sharing->itemNamed("Bob"), nullptr);
  EXPECT_EQ(sharing->itemNamed("Bob")->identifier, "u2");
  EXPECT_EQ(sharing->itemNamed("bob"), nullptr) << "user names match exactly";

  users["ShareWithUser"].push_back({{"Name", "no id"}});
  EXPECT_EQ(QBSharingUsersItem::itemWithDict(users, nullptr), nullptr);
}

TEST(ItemMapping, SharedUsersBecomeFoldersDatedNow) {
  auto clock = std::make_shared<ManualClock>(1800000000);
  Clock::install(clock);
  json reply = {{"ResponseType", 1},
                {"DirUpdateTime", 5},
                {"SharedUsers", json::array({{{"SharingID", 31}, {"Name", kPrecomposed}}, {{"Name", "no id"}}})}};
  auto listing = QBSharedUsersFolderListItem::itemWithDict(reply, nullptr);
  Clock::install(nullptr);
  ASSERT_NE(listing, nullptr);
  ASSERT_EQ(listing->folders.size(), 1u) << "an entry without SharingID is left out";
  const auto& folder = *listing->folders[0];
  EXPECT_EQ(folder.identifier, "31");
  EXPECT_EQ(folder.name, kDecomposed);
  EXPECT_EQ(folder.dateModified, 1800000000.0);
  EXPECT_EQ(folder.dateCreated, 1800000000.0);
}

TEST(ItemMapping, AnonymousItemKeepsTheReplyOrStopsAtTheBlocksError) {
  json reply = {{"Data", "abc"}, {"Nested", {{"Key", 1}}}};
  auto item = QBAnonymousItem::itemWithDict(reply, nullptr);
  ASSERT_NE(item, nullptr);
  ASSERT_NE(item->valueForKeyPath("Nested.Key"), nullptr);
  EXPECT_EQ(*item->valueForKeyPath("Nested.Key"), 1);
  EXPECT_TRUE(item->setValueForKeyPath("Nested.Other", "x"));
  EXPECT_EQ(item->response["Nested"]["Other"], "x");
  EXPECT_FALSE(item->setValueForKeyPath("Data.Inner", 1)) << "Data holds text, not a dictionary";
  EXPECT_EQ(reply.contains("Other"), false) << "the item holds a copy";

  auto upper = QBAnonymousItem::itemWithDict(
      reply, [](const std::string&, const json& value, ErrorPtr*) -> std::optional<json> { return value.dump(); },
      nullptr);
  ASSERT_NE(upper, nullptr);
  EXPECT_EQ(upper->response["Data"], "\"abc\"");

  ErrorPtr error;
  auto failed = QBAnonymousItem::itemWithDict(
      reply,
      [](const std::string& key, const json& value, ErrorPtr* out) -> std::optional<json> {
        if (key == "Data") {
          setQBError(out, -98, "bad data");
          return std::nullopt;
        }
        return value;
      },
      &error);
  EXPECT_EQ(failed, nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, -98);
}

}  // namespace
}  // namespace greyfox
