// Path resolution and contexts of the content controller against the local
// service with a real cache: which answers come from the cache, when the
// service's look-up by path is used, and how bad paths end.
#include "ContentServiceFixture.h"

#include <map>
#include <thread>
#include <vector>

#include "items/ItemValues.h"
#include "items/QBFileItem.h"
#include "items/QBFSIdItem.h"
#include "items/QBFolderListItem.h"

namespace greyfox::test {
namespace {

constexpr const char* kFileLookup = "POST file/idbypath.json";
constexpr const char* kFolderLookup = "POST folder/idbypath.json";

class ContentResolutionTest : public ContentServiceTest {
 protected:
  std::string serviceFileId(const std::string& path) {
    auto context = ownContext();
    ErrorPtr error;
    auto item = client_->fileIdAt(path, context, &error);
    return item ? item->identifier : "";
  }
  std::string serviceFolderId(const std::string& path) {
    auto context = ownContext();
    ErrorPtr error;
    auto item = client_->folderIdAt(path, context, &error);
    return item ? item->identifier : "";
  }
};

TEST_F(ContentResolutionTest, VirtualFoldersResolveWithoutTheService) {
  struct Case {
    const char* path;
    const char* identifier;
  };
  const Case cases[] = {{"/", "0"},      {"", "0"},           {"//", "0"},
                        {"/./", "0"},    {"/Trash", "-1"},    {"/Trash/", "-1"},
                        {"/Trash//", "-1"}, {"/Shared Folders", "-2"}, {"/Shared Folders/", "-2"}};
  for (const auto& c : cases) {
    EXPECT_EQ(content().identifierForFolderAt(c.path), c.identifier) << "'" << c.path << "'";
    EXPECT_EQ(content().identifierForFolderAt(c.path, true), c.identifier) << "'" << c.path << "' cache only";
  }
  EXPECT_EQ(allRequests(), 0);
}

TEST_F(ContentResolutionTest, CachedListingsAnswerWithoutLookUpByPath) {
  const std::string readme = serviceFileId("/Documents/readme.txt");
  const std::string letters = serviceFolderId("/Documents/Letters");
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(letters.empty());
  ErrorPtr error;
  ASSERT_TRUE(content().listFolderAt("/Documents", &error)) << error->message();
  service_->resetStats();

  struct Case {
    const char* name;
    const char* path;
    bool isFile;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"file", "/Documents/readme.txt", true, readme},
      {"other case", "/documents/README.TXT", true, readme},
      {"untidy path", "//Documents/./Letters/../readme.txt/", true, readme},
      {"folder", "/Documents/Letters", false, letters},
      {"folder with slash", "/Documents/Letters/", false, letters},
      {"folder wanted as file", "/Documents/Letters", true, std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = c.isFile ? content().identifierForFileAt(c.path) : content().identifierForFolderAt(c.path);
    EXPECT_EQ(got, c.expected) << c.name;
  }
  EXPECT_EQ(allRequests(), 0) << "every answer comes from the cached listings";
}

TEST_F(ContentResolutionTest, LookUpByPathIsCachedUnderTheLowerCasedPath) {
  // Nothing is cached: the service's look-up by path answers, once.
  auto id = content().identifierForFileAt("/Documents/readme.txt");
  ASSERT_TRUE(id);
  EXPECT_EQ(*id, serviceFileId("/Documents/readme.txt"));
  service_->resetStats();
  EXPECT_EQ(content().identifierForFileAt("/DOCUMENTS/Readme.txt"), id);
  EXPECT_EQ(content().identifierForFileAt("/Documents/readme.txt", true), id);
  EXPECT_EQ(allRequests(), 0);

  // A path the service does not know is remembered as "undefined".
  EXPECT_EQ(content().identifierForFileAt("/Documents/Missing.TXT"), std::nullopt);
  EXPECT_EQ(requests(kFileLookup), 1);
  EXPECT_EQ(content().identifierForFileAt("/documents/missing.txt"), std::nullopt);
  EXPECT_EQ(requests(kFileLookup), 1) << "the cached \"undefined\" answers the second time";
}

TEST_F(ContentResolutionTest, UndefinedRecordLastsUntilTheParentIsListed) {
  const std::string user = signInNewUser("late");
  service_->putFile(user, "/Inbox/first.txt", "1");
  EXPECT_EQ(content().identifierForFileAt("/Inbox/late.txt"), std::nullopt);
  service_->putFile(user, "/Inbox/late.txt", "2");
  service_->resetStats();
  EXPECT_EQ(content().identifierForFileAt("/Inbox/late.txt"), std::nullopt) << "still the cached answer";
  EXPECT_EQ(allRequests(), 0);

  ErrorPtr error;
  ASSERT_TRUE(content().listFolderAt("/Inbox", &error)) << error->message();
  auto id = content().identifierForFileAt("/Inbox/late.txt");
  ASSERT_TRUE(id) << "the listing replaced the \"undefined\" record";
  EXPECT_EQ(*id, serviceFileId("/Inbox/late.txt"));
}

TEST_F(ContentResolutionTest, FileAndFolderRecordsOfOnePathDoNotHideEachOther) {
  // The parent is not cached: both questions go to the service's look-up.
  EXPECT_EQ(content().identifierForFileAt("/Documents/Letters"), std::nullopt);
  auto folder = content().identifierForFolderAt("/Documents/Letters");
  ASSERT_TRUE(folder) << "a file look-up that found nothing must not hide the folder";
  EXPECT_EQ(*folder, serviceFolderId("/Documents/Letters"));
  service_->resetStats();
  EXPECT_EQ(content().identifierForFolderAt("/documents/letters"), folder);
  EXPECT_EQ(content().identifierForFileAt("/Documents/Letters"), std::nullopt) << "known to be a folder";
  EXPECT_EQ(allRequests(), 0);
}

TEST_F(ContentResolutionTest, NamesMatchInEitherUnicodeForm) {
  const std::string user = signInNewUser("unicode");
  const std::string decomposed = toNFD("Caf\u00e9/r\u00e9sum\u00e9.txt");  // the service keeps NFD
  service_->putFile(user, "/" + decomposed, "cv");
  const std::string expected = serviceFileId("/" + decomposed);
  ASSERT_FALSE(expected.empty());

  for (bool listed : {false, true}) {
    freshCache();
    ErrorPtr error;
    if (listed) {
      ASSERT_TRUE(content().listFolderAt("/" + toNFD("Caf\u00e9"), &error));
    }
    EXPECT_EQ(content().identifierForFileAt("/Caf\u00e9/r\u00e9sum\u00e9.txt"), expected)
        << "precomposed, parent listed: " << listed;
    EXPECT_EQ(content().identifierForFileAt("/" + decomposed), expected) << "decomposed, parent listed: " << listed;
    EXPECT_EQ(content().identifierForFileAt("/Cafe/resume.txt"), std::nullopt)
        << "accents matter, parent listed: " << listed;
    EXPECT_EQ(content().identifierForFolderAt("/Cafe"), std::nullopt) << "accents matter, listed: " << listed;
  }
}

TEST_F(ContentResolutionTest, NamesDifferingOnlyInCaseEachResolveToTheirOwnItem) {
  const std::string user = signInNewUser("dups");
  service_->putFile(user, "/Box/Dup.txt", "upper");
  service_->putFile(user, "/Box/dup.txt", "lower");
  ErrorPtr error;
  ASSERT_TRUE(content().listFolderAt("/Box", &error));
  for (const char* path : {"/Box/Dup.txt", "/Box/dup.txt"}) {
    auto minimal = std::dynamic_pointer_cast<QBFileItem>(content().minimalItemInfoAt(path, &error));
    ASSERT_TRUE(minimal) << path;
    EXPECT_EQ(content().identifierForFileAt(path), serviceFileId(path)) << path;
    EXPECT_EQ("/Box/" + minimal->name, path);
  }
  EXPECT_TRUE(content().identifierForFileAt("/Box/DUP.TXT")) << "another spelling still finds one of them";
}

TEST_F(ContentResolutionTest, ConcurrentCallersGetTheSameAnswersAsOne) {
  const std::vector<std::string> paths = {"/Documents/readme.txt", "/Documents/Letters/letter.txt",
                                          "/Shared Folders/friend@greyfox.test/Projects/plan.txt",
                                          "/Trash/old-draft.txt", "/Photos/sunset.jpg"};
  std::map<std::string, std::optional<std::string>> expected;
  for (const auto& path : paths) expected[path] = content().identifierForFileAt(path);
  for (const auto& [path, id] : expected) ASSERT_TRUE(id) << path;

  freshCache();
  constexpr int kThreads = 4;
  std::vector<std::map<std::string, std::optional<std::string>>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[(i + t) % paths.size()];
        ErrorPtr ignored;
        content().listFolderAt(path.substr(0, path.rfind('/')), &ignored);
        seen[t][path] = content().identifierForFileAt(path);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], expected) << "thread " << t;
}

TEST_F(ContentResolutionTest, BadPathsResolveToNothing) {
  ErrorPtr error;
  ASSERT_TRUE(content().listFolderAt("/Documents", &error));
  const std::string longName(4000, 'x');
  const char* paths[] = {"/Documents/../../../etc/passwd", "/Documents/\xff\xfe.txt", "/Documents/readme.txt/x"};
  for (const char* path : paths) EXPECT_EQ(content().identifierForFileAt(path), std::nullopt) << path;
  EXPECT_EQ(content().identifierForFileAt("/Documents/" + longName), std::nullopt) << "long name";
  EXPECT_EQ(content().identifierForFolderAt("/" + longName + "/" + longName), std::nullopt) << "long names";
}

TEST_F(ContentResolutionTest, TrashPathsAreNeverLookedUpByPath) {
  auto id = content().identifierForFileAt("/Trash/old-draft.txt");
  ASSERT_TRUE(id) << "found through the trash listing";
  EXPECT_EQ(content().identifierForFileAt("/Trash/missing.txt"), std::nullopt);
  EXPECT_EQ(content().identifierForFolderAt("/Trash/missing"), std::nullopt);
  EXPECT_EQ(requests(kFileLookup) + requests(kFolderLookup), 0);
  EXPECT_EQ(requests("GET folder/trashlist.json"), 1) << "the trash is listed once";
}

TEST_F(ContentResolutionTest, SharedFolderContextsComeFromTheCachedSharedUsers) {
  ErrorPtr error;
  auto context = content().contextForPath("/Shared Folders/friend@greyfox.test/Projects", &error);
  EXPECT_FALSE(context) << "nothing cached yet";
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -998);
  EXPECT_EQ(error->failureReason(), "Shared user not found.");
  EXPECT_EQ(error->domain, "__FILE__");

  error = nullptr;
  auto users = content().listFolderAt("/Shared Folders", &error);
  ASSERT_TRUE(users) << error->message();
  auto entry = users->itemNamed(kFriendUser);
  ASSERT_TRUE(entry);
  auto shared = std::dynamic_pointer_cast<QBApiClientSharingContext>(
      content().contextForPath("/Shared Folders/friend@greyfox.test/Projects/plan.txt", &error));
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->sharingId, entry->identifier);
  ASSERT_TRUE(shared->session);
  EXPECT_EQ(shared->session->sessionId, session_->sessionId);

  error = nullptr;
  EXPECT_FALSE(content().contextForPath("/Shared Folders/gone@greyfox.test/Stuff", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -998) << "a user missing from the cached listing";

  for (const char* own : {"/", "/Documents", "/Trash/x", "/Shared Folders"}) {
    auto context = content().contextForPath(own, &error);
    ASSERT_TRUE(context) << own;
    EXPECT_FALSE(std::dynamic_pointer_cast<QBApiClientSharingContext>(context)) << own;
  }
}

}  // namespace
}  // namespace greyfox::test
