// The background folder refresh against the local service: when a served
// listing makes its folder due, and what a check brings up to date.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "ContentServiceFixture.h"
#include "content/QBBackgroundFolderUpdateController.h"
#include "content/QBTmpController.h"
#include "diag/Utilities.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderListItem.h"

namespace greyfox::test {
namespace {

constexpr double kAge = 0.3;         // ordinary folders
constexpr double kSpecialAge = 3;    // the root, the trash, shared folders

class BackgroundFolderRefresh : public ContentServiceTest {
 protected:
  void SetUp() override {
    ContentServiceTest::SetUp();
    Timings t = Timings::current();
    t.folderRefreshAge = kAge;
    t.specialFolderRefreshAge = kSpecialAge;
    Timings::install(t);
    signInNewUser("refresh");
    ErrorPtr error;
    staging_ = QBTmpController::initSharedController(root_->path() + "/staging", &error);
    ASSERT_TRUE(staging_);
    updater_ = std::make_shared<QBBackgroundFolderUpdateController>();
    QBBackgroundFolderUpdateController::install(updater_);
    Utilities::setDriveRootPathProvider([] { return std::string("/mnt/Drive"); });
    Utilities::setFileSystemChangedHook([this](const std::string& path) {
      std::lock_guard lock(changedMutex_);
      changed_.push_back(path);
    });
  }

  void TearDown() override {
    Utilities::setFileSystemChangedHook(nullptr);
    Utilities::setDriveRootPathProvider(nullptr);
    QBBackgroundFolderUpdateController::install(nullptr);
    updater_.reset();
    ContentServiceTest::TearDown();
  }

  std::string user() const { return session_->username; }

  // The listing the file system would serve now.
  std::shared_ptr<QBFolderListItem> served(const std::string& path) {
    ErrorPtr error;
    auto listing = content().listFolderAt(path, &error);
    EXPECT_TRUE(listing) << path << ": " << (error ? error->message() : "");
    return listing;
  }

  // Hands the listing to the refresh and waits for its check, if any.
  void serve(const std::shared_ptr<QBFolderListItem>& listing) {
    updater_->updateFolderListing(listing);
    ASSERT_TRUE(updater_->waitForChecks(10));
  }

  static void sleepFor(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

  std::vector<std::string> changed() {
    std::lock_guard lock(changedMutex_);
    return changed_;
  }

  std::shared_ptr<QBTmpController> staging_;
  std::shared_ptr<QBBackgroundFolderUpdateController> updater_;
  std::mutex changedMutex_;
  std::vector<std::string> changed_;  // guarded by changedMutex_
};

TEST_F(BackgroundFolderRefresh, AFolderIsCheckedOnlyOnceItsListingIsOlderThanItsAge) {
  service_->putFile(user(), "/Work/a.txt", "a");
  struct Case {
    const char* name;
    std::string path, endpoint;
    bool checkedAfterOrdinaryAge;
  } cases[] = {
      {"ordinary folder", "/Work", "GET folder/list.json", true},
      {"root", "/", "GET folder/list.json", false},
      {"trash", "/Trash", "GET folder/trashlist.json", false},
  };
  for (const auto& c : cases) {
    auto listing = served(c.path);
    ASSERT_TRUE(listing) << c.name;
    service_->resetStats();
    serve(listing);
    EXPECT_EQ(requests(c.endpoint), 0) << c.name << ": a fresh listing";
    sleepFor(kAge + 0.2);
    serve(served(c.path));
    EXPECT_EQ(requests(c.endpoint), c.checkedAfterOrdinaryAge ? 1 : 0) << c.name;
  }
}

TEST_F(BackgroundFolderRefresh, ACheckReplacesTheListingDropsStaleBytesAndEmptyStagingFolders) {
  service_->putFile(user(), "/Work/a.txt", "one");
  service_->putFile(user(), "/Work/Old/x.txt", "x");
  auto before = served("/Work");
  ASSERT_TRUE(before);
  // The file's bytes as a finished download leaves them in the cache.
  auto fileId = content().identifierForFileAt("/Work/a.txt");
  ASSERT_TRUE(fileId);
  auto descriptor = std::make_shared<QBBinaryDataDescriptorItem>();
  descriptor->identifier = *fileId;
  descriptor->path = "/Work/a.txt";
  ASSERT_TRUE(cache_->storeItem(descriptor));
  ASSERT_TRUE(cache_->storeBinaryData("one", 0, 3, *fileId));
  ASSERT_TRUE(cache_->fetchBinaryDataDescriptor(*fileId));
  ASSERT_TRUE(staging_->createDirectoryAt("/Work/Old", nullptr));
  auto oldId = content().identifierForFolderAt("/Work/Old");
  ASSERT_TRUE(oldId);

  service_->putFile(user(), "/Work/a.txt", "two, longer");
  auto context = ownContext();
  ErrorPtr error;
  ASSERT_TRUE(client_->trashFolder(*oldId, context, &error)) << (error ? error->message() : "");
  sleepFor(kAge + 0.2);
  serve(before);

  auto after = cache_->fetchFolderListAt("/Work");
  ASSERT_TRUE(after);
  EXPECT_FALSE(after->containsItemNamed("Old"));
  auto file = std::dynamic_pointer_cast<QBFileItem>(after->itemNamed("a.txt"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size.value_or(0), 11);
  EXPECT_FALSE(staging_->fileExistsAt("/Work/Old")) << "the vanished entry's empty staging folder";
  EXPECT_FALSE(cache_->fetchBinaryDataDescriptor(*fileId)) << "the changed file's cached bytes";
  auto paths = changed();
  EXPECT_NE(std::find(paths.begin(), paths.end(), "/mnt/Drive/Work"), paths.end());
  EXPECT_NE(std::find(paths.begin(), paths.end(), "/mnt/Drive/Work/a.txt"), paths.end());
}

TEST_F(BackgroundFolderRefresh, ALockedFolderIsSkippedUntilItsLockIsFree) {
  service_->putFile(user(), "/Work/a.txt", "a");
  auto listing = served("/Work");
  sleepFor(kAge + 0.2);
  service_->resetStats();
  ASSERT_TRUE(updater_->tryLockFor("/Work"));
  serve(listing);
  EXPECT_EQ(requests("GET folder/list.json"), 0) << "while a transfer holds the folder";
  updater_->unlockFor("/Work");
  serve(listing);
  EXPECT_EQ(requests("GET folder/list.json"), 1);
}

}  // namespace
}  // namespace greyfox::test
