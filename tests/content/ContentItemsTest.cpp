// Item records, thumbnails, sharing users and account information of the
// content controller against the local service.
#include "ContentServiceFixture.h"

#include "items/QBAccountItems.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBSharingItems.h"

namespace greyfox::test {
namespace {

class ContentItemsTest : public ContentServiceTest {};

TEST_F(ContentItemsTest, ItemInformationOfFilesFoldersAndTheRoot) {
  struct Case {
    const char* name;
    const char* path;
    bool isFile;
    const char* storedPath;
  };
  const Case cases[] = {
      {"file", "/Documents/readme.txt", true, "/Documents/readme.txt"},
      {"folder", "/Documents/Letters", false, "/Documents/Letters"},
      {"root", "/", false, "/"},
      {"untidy file path", "/Documents/./readme.txt/", true, "/Documents/readme.txt"},
  };
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : cases) {
      ErrorPtr error;
      auto item = content().itemInfoAt(c.path, &error);
      ASSERT_TRUE(item) << c.name << ": " << (error ? error->message() : "");
      if (c.isFile) {
        auto info = std::dynamic_pointer_cast<QBFileInfoItem>(item);
        ASSERT_TRUE(info) << c.name;
        EXPECT_EQ(info->path, c.storedPath) << c.name;
        EXPECT_EQ(info->name, "readme.txt") << c.name;
      } else {
        auto info = std::dynamic_pointer_cast<QBFolderInfoItem>(item);
        ASSERT_TRUE(info) << c.name;
        EXPECT_EQ(info->path, c.storedPath) << c.name;
      }
    }
    if (round == 0) service_->resetStats();
  }
  EXPECT_EQ(requests("GET file/info.json") + requests("GET folder/info.json"), 0) << "the second round is cached";

  ErrorPtr error;
  EXPECT_FALSE(content().itemInfoAt("/Documents/none", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -1000);
  EXPECT_EQ(error->failureReason(), "Folder not found!");
}

TEST_F(ContentItemsTest, MinimalRecordsComeFromTheParentsListing) {
  const std::string user = signInNewUser("sizes");
  service_->putFile(user, "/empty.txt", "");
  service_->putFile(user, "/full.txt", "x");
  service_->putFile(user, "/Dir/inner.txt", "y");

  ErrorPtr error;
  auto root = content().minimalItemInfoAt("", &error);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->identifier, "0");
  auto trash = std::dynamic_pointer_cast<QBFolderItem>(content().minimalItemInfoAt("/Trash/", &error));
  ASSERT_TRUE(trash);
  EXPECT_EQ(trash->identifier, "-1");
  EXPECT_EQ(trash->encrypted, 0);

  struct Case {
    const char* path;
    bool empty;
  };
  const Case cases[] = {{"/empty.txt", true}, {"/full.txt", false}, {"/Dir", false},
                        {"/Dir/inner.txt", false}, {"/missing.txt", false}, {"/", false}};
  for (const auto& c : cases) EXPECT_EQ(content().isFileEmptyAt(c.path), c.empty) << c.path;
  EXPECT_EQ(requests("GET file/info.json"), 0) << "sizes come from the listings";
}

TEST_F(ContentItemsTest, ThumbnailsAreCachedPerFile) {
  ErrorPtr error;
  for (int i = 0; i < 2; ++i) {
    auto thumbnail = content().fileThumbnailAt("/Photos/sunset.jpg", &error);
    ASSERT_TRUE(thumbnail) << error->message();
    EXPECT_EQ(thumbnail->data.substr(0, 4), "\x89PNG");
  }
  EXPECT_EQ(requests("GET file/thumb.json"), 1);

  EXPECT_FALSE(content().fileThumbnailAt("/Photos/none.jpg", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -1000);
  EXPECT_EQ(error->failureReason(), "File not found!");
  EXPECT_FALSE(content().fileThumbnailAt("/Documents/readme.txt", &error)) << "the service has none for text";
  EXPECT_FALSE(content().fileThumbnailAt("/Documents/readme.txt", &error)) << "and none was cached";
  EXPECT_EQ(requests("GET file/thumb.json"), 3);
}

TEST_F(ContentItemsTest, SharingUsersOfAnOwnFolderAreAskedEachTime) {
  signIn(kFriendUser);
  ErrorPtr error;
  for (int i = 0; i < 2; ++i) {
    auto users = content().sharingUsersOfFolderAt("/Projects", &error);
    ASSERT_TRUE(users) << error->message();
    EXPECT_TRUE(users->itemNamed(kDemoUser));
  }
  EXPECT_EQ(requests("GET sharing/listusers.json"), 2);
  EXPECT_FALSE(content().sharingUsersOfFolderAt("/NoSuchFolder", &error));
  EXPECT_EQ(error->code, -1000);
}

TEST_F(ContentItemsTest, UserInformationCarriesTheTrashCount) {
  ErrorPtr error;
  auto info = content().userInfoWithError(&error);
  ASSERT_TRUE(info) << error->message();
  EXPECT_EQ(info->trashCount, 1) << "the demo trash holds old-draft.txt";
  EXPECT_FALSE(info->plan.empty());
  EXPECT_EQ(requests("GET users/info.json"), 1);
  EXPECT_EQ(requests("GET folder/trashlist.json"), 1);

  EXPECT_TRUE(content().userInfoWithError(&error));
  EXPECT_EQ(requests("GET users/info.json"), 1) << "cached";
  auto fresh = content().userInfoNoCache(true, &error);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(requests("GET users/info.json"), 2);
  EXPECT_EQ(fresh->trashCount, 1);
}

TEST_F(ContentItemsTest, UserInformationErrorsPreferTheFigures) {
  auto failOn = [](const char* endpoint) {
    service_->addFault({{"method", "GET"}, {"endpoint", endpoint}, {"kind", "empty503"}, {"count", 50}});
  };
  // The trash count fails: the figures come back with a count of 0 and the error.
  failOn("folder/trashlist.json");
  ErrorPtr error;
  auto info = content().userInfoNoCache(true, &error);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->trashCount, 0);
  EXPECT_TRUE(error) << "the trash listing's error is reported";

  // Both fail: no information, and the figures' error.
  failOn("users/info.json");
  freshCache();
  error = nullptr;
  EXPECT_FALSE(content().userInfoNoCache(true, &error));
  ASSERT_TRUE(error);
  service_->clearFaults();
  error = nullptr;
  EXPECT_TRUE(content().userInfoNoCache(true, &error)) << "nothing bad was cached";
}

TEST_F(ContentItemsTest, LinksAreCachedAndNotificationsAreNot) {
  ErrorPtr error;
  for (int i = 0; i < 2; ++i) {
    auto links = content().userLinksWithError(&error);
    ASSERT_TRUE(links) << error->message();
    EXPECT_TRUE(links->accountLink.ends_with("/account"));
    EXPECT_TRUE(links->billingLink.ends_with("/billing"));
  }
  EXPECT_EQ(requests("GET users/link.json"), 2) << "two link types, asked once";

  service_->addNotification({{"user", kDemoUser}, {"type", 1}, {"text", "Maintenance tonight"}, {"url", ""}});
  for (int i = 0; i < 2; ++i) {
    auto notes = content().userNotificationsError(&error);
    ASSERT_TRUE(notes) << error->message();
    EXPECT_NE(notes->list.dump().find("Maintenance tonight"), std::string::npos);
  }
  EXPECT_EQ(requests("GET users/notifications.json"), 2);
}

}  // namespace
}  // namespace greyfox::test
