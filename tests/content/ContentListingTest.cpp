// Folder listings of the content controller against the local service: the
// root's virtual folders, the trash's unique names, shared folders, secure
// folders, refreshes and failures part-way through a walk.
#include "ContentServiceFixture.h"

#include <ctime>
#include <set>

#include "items/ItemValues.h"
#include "items/QBFSIdItem.h"
#include "items/QBFolderListItem.h"

namespace greyfox::test {
namespace {

std::set<std::string> namesOf(const QBFolderListItem& listing) {
  auto names = listing.itemNames();
  return {names.begin(), names.end()};
}

// "MM-dd-yy" in local time.
std::string shortDate(double seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_r(&t, &local);
  char text[16];
  std::strftime(text, sizeof text, "%m-%d-%y", &local);
  return text;
}

class ContentListingTest : public ContentServiceTest {
 protected:
  // Puts a file at `path` for the signed-in `user` and trashes it; answers its id.
  std::string trashNewFile(const std::string& user, const std::string& path) {
    service_->putFile(user, path, "bytes of " + path);
    auto context = ownContext();
    ErrorPtr error;
    auto id = client_->fileIdAt(path, context, &error);
    EXPECT_TRUE(id && id->identifier != "undefined") << path;
    if (!id) return "";
    EXPECT_TRUE(client_->trashFile(id->identifier, context, &error)) << path;
    return id->identifier;
  }
};

TEST_F(ContentListingTest, RootListingAlwaysHoldsTheVirtualFolders) {
  for (bool noCache : {false, true, false}) {
    ErrorPtr error;
    auto root = content().listFolderAt("/", noCache, &error);
    ASSERT_TRUE(root) << error->message();
    EXPECT_EQ(namesOf(*root),
              (std::set<std::string>{"Documents", "Photos", "Big", "Secure", "Shared Folders", "Trash"}))
        << "noCache " << noCache;
    auto shared = root->itemNamed("Shared Folders");
    auto trash = root->itemNamed("Trash");
    ASSERT_TRUE(shared && trash);
    EXPECT_EQ(shared->identifier, "-2");
    EXPECT_EQ(trash->identifier, "-1");
  }
  EXPECT_EQ(requests("GET folder/list.json"), 2) << "the first and the uncached listing";
  auto cached = cache_->fetchFolderList("0");
  ASSERT_TRUE(cached);
  EXPECT_TRUE(cached->containsItemNamed("Shared Folders") && cached->containsItemNamed("Trash"));

  signInNewUser("empty");
  ErrorPtr error;
  auto empty = content().listFolderAt("", &error);
  ASSERT_TRUE(empty);
  EXPECT_EQ(namesOf(*empty), (std::set<std::string>{"Shared Folders", "Trash"}));
}

TEST_F(ContentListingTest, TrashNamesAreUniqueAndFilesAreNamedFirst) {
  const std::string user = signInNewUser("trash");
  auto context = ownContext();
  ErrorPtr error;
  // The folder is trashed first, and the service lists folders first; the
  // files still get the plain names.
  auto folder = client_->createFolder("a.txt", "0", context, &error);
  ASSERT_TRUE(folder);
  ASSERT_TRUE(client_->trashFolder(folder->identifier, context, &error));
  std::vector<std::string> files;
  for (int i = 0; i < 3; ++i) files.push_back(trashNewFile(user, "/a.txt"));

  auto raw = client_->listTrashFolderWithContext(context, &error);
  ASSERT_TRUE(raw);
  ASSERT_EQ(raw->files.size(), 3u);
  const std::string day = shortDate(raw->files[1]->dateModified.value_or(0));
  ASSERT_EQ(shortDate(raw->files[2]->dateModified.value_or(0)), day) << "made within moments";

  auto trash = content().listFolderAt("/Trash", &error);
  ASSERT_TRUE(trash) << error->message();
  ASSERT_EQ(trash->files.size(), 3u);
  ASSERT_EQ(trash->folders.size(), 1u);
  const std::string expected[] = {"a.txt", "a.txt (from " + day + ")", "a.txt (2)"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(trash->files[i]->identifier, raw->files[i]->identifier) << i;
    EXPECT_EQ(trash->files[i]->name, expected[i]) << i;
    EXPECT_EQ(content().identifierForFileAt("/Trash/" + expected[i]), raw->files[i]->identifier) << expected[i];
  }
  EXPECT_EQ(trash->folders[0]->name, "a.txt (3)");
  EXPECT_EQ(content().identifierForFolderAt("/Trash/a.txt (3)"), folder->identifier);
}

TEST_F(ContentListingTest, TrashNamesDifferingOnlyInCaseAreEachReachable) {
  const std::string user = signInNewUser("case");
  std::set<std::string> ids = {trashNewFile(user, "/Note.txt"), trashNewFile(user, "/note.txt"),
                               trashNewFile(user, "/NOTE.TXT")};
  ErrorPtr error;
  auto trash = content().listFolderAt("/Trash", &error);
  ASSERT_TRUE(trash);
  std::set<std::string> reached;
  for (const auto& name : trash->itemNames()) {
    auto id = content().identifierForFileAt("/Trash/" + name);
    ASSERT_TRUE(id) << name;
    reached.insert(*id);
  }
  EXPECT_EQ(reached, ids) << "each trashed file has a name of its own";
}

TEST_F(ContentListingTest, SharedFoldersAreListedInTheSharingUsersContext) {
  ErrorPtr error;
  auto projects = content().listFolderAt("/Shared Folders/friend@greyfox.test/Projects", &error);
  ASSERT_TRUE(projects) << error->message();
  EXPECT_EQ(namesOf(*projects), (std::set<std::string>{"plan.txt", "todo.md"}));
  EXPECT_EQ(requests("POST file/idbypath.json") + requests("POST folder/idbypath.json"), 0)
      << "shared paths are resolved through listings";

  auto user = content().listFolderAt("/Shared Folders/friend@greyfox.test", &error);
  ASSERT_TRUE(user);
  EXPECT_EQ(namesOf(*user), (std::set<std::string>{"Projects", "Archive"}));
  EXPECT_EQ(user->name, kFriendUser);
  EXPECT_TRUE(content().identifierForFileAt("/Shared Folders/friend@greyfox.test/Projects/plan.txt"));

  error = nullptr;
  EXPECT_FALSE(content().listFolderAt("/Shared Folders/gone@greyfox.test/Projects", &error));
  ASSERT_TRUE(error) << "a sharing user who went away";
}

TEST_F(ContentListingTest, SecureFoldersAreJudgedFromTheCacheOnly) {
  EXPECT_FALSE(content().isSecureFolder("/Secure")) << "nothing cached";
  EXPECT_EQ(allRequests(), 0);
  ErrorPtr error;
  ASSERT_TRUE(content().listFolderAt("/", &error));
  service_->resetStats();
  struct Case {
    const char* path;
    bool secure;
  };
  const Case cases[] = {{"/Secure", true},     {"/secure/", true},    {"/Secure/a/b.txt", true},
                        {"/Documents", false}, {"/Documents/readme.txt", false}, {"/", false}};
  for (const auto& c : cases) EXPECT_EQ(content().isSecureFolder(c.path), c.secure) << c.path;
  EXPECT_EQ(allRequests(), 0);
}

TEST_F(ContentListingTest, LockedSecureFolderFailsWithTheServicesError) {
  const std::string user = signInNewUser("vault");
  service_->putFile(user, "/Vault/x.txt", "x");
  service_->encryptFolder(user, "/Vault");  // marked secure, no password set up
  ErrorPtr error;
  ASSERT_TRUE(content().listFolderAt("/", &error));
  service_->resetStats();
  for (int i = 0; i < 2; ++i) {
    error = nullptr;
    EXPECT_FALSE(content().listFolderAt("/Vault", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->failureReason(), "List subdir failed. Folder requires encryption key to be set");
  }
  EXPECT_EQ(requests("GET folder/list.json"), 2) << "one request per attempt, no second try while locked";
  EXPECT_TRUE(content().isSecureFolder("/Vault/x.txt"));
}

TEST_F(ContentListingTest, UpdateStoresAChangedFolderAndTouchesAnUnchangedOne) {
  const std::string user = signInNewUser("update");
  service_->putFile(user, "/Work/a.txt", "a");
  ErrorPtr error;
  auto listing = content().listFolderAt("/Work", &error);
  ASSERT_TRUE(listing);
  EXPECT_EQ(content().updateFolderListItem(*listing, &error), 1) << "unchanged";

  service_->putFile(user, "/Work/b.txt", "b");
  QBFolderListItem older = *listing;  // held from before the change
  older.updateTime = *listing->updateTime - 1;
  EXPECT_EQ(content().updateFolderListItem(older, &error), 0);
  auto stored = cache_->fetchFolderList(listing->identifier);
  ASSERT_TRUE(stored);
  EXPECT_EQ(namesOf(*stored), (std::set<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(stored->path, "/Work");

  auto root = content().listFolderAt("/", &error);
  ASSERT_TRUE(root);
  QBFolderListItem olderRoot = *root;
  olderRoot.updateTime = *root->updateTime - 1;
  EXPECT_EQ(content().updateFolderListItem(olderRoot, &error), 0);
  auto storedRoot = cache_->fetchFolderList("0");
  ASSERT_TRUE(storedRoot);
  EXPECT_EQ(namesOf(*storedRoot), (std::set<std::string>{"Work", "Shared Folders", "Trash"}))
      << "a refreshed root keeps its virtual folders";

  QBFolderListItem ghost;
  ghost.path = "/Nowhere";
  error = nullptr;
  EXPECT_EQ(content().updateFolderListItem(ghost, &error), -1);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -1000);
  EXPECT_EQ(error->failureReason(), "Folder not found!");
}

TEST_F(ContentListingTest, FailureMidWalkReportsAndLeavesNothingBehind) {
  struct Case {
    const char* name;
    const char* endpoint;  // "METHOD endpoint" that fails
    const char* path;
  };
  const Case cases[] = {
      {"shared folders", "GET sharing/listsharedfolders.json", "/Shared Folders/friend@greyfox.test/Projects"},
      {"shared users", "GET sharing/listsharedusers.json", "/Shared Folders/friend@greyfox.test/Projects"},
      {"look-up by path", "POST folder/idbypath.json", "/Documents/Letters"},
      {"trash", "GET folder/trashlist.json", "/Trash"},
  };
  for (const auto& c : cases) {
    freshCache();
    std::string method = c.endpoint;
    std::string endpoint = method.substr(method.find(' ') + 1);
    method.resize(method.find(' '));
    service_->addFault({{"method", method}, {"endpoint", endpoint}, {"kind", "empty503"}, {"count", 50}});
    ErrorPtr error;
    EXPECT_FALSE(content().listFolderAt(c.path, &error)) << c.name;
    EXPECT_TRUE(error) << c.name;
    service_->clearFaults();
    error = nullptr;
    EXPECT_TRUE(content().listFolderAt(c.path, &error)) << c.name << ": " << (error ? error->message() : "");
  }
}

}  // namespace
}  // namespace greyfox::test
