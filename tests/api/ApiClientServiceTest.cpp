// The API client against the local service: sign-in, busy retries, contexts
// and every group of endpoints, with the service's faults and counters.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "ApiTestSupport.h"
#include "api/QBApiClient.h"
#include "items/QBAccountItems.h"
#include "items/QBAnonymousItem.h"
#include "items/QBFSIdItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBSharingItems.h"
#include "items/QBUploadFileHandle.h"
#include "items/QBUserSessionItem.h"
#include "support/LocalService.h"

namespace greyfox {
namespace {

using nlohmann::json;
constexpr const char* kDemo = "demo@greyfox.test";
constexpr const char* kPassword = "greyfox-demo";

class ApiClientService : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new test::LocalService(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  void SetUp() override {
    ::setenv("GREYFOX_SERVICE_URL", service_->baseUrl().c_str(), 1);
    service_->clearFaults();
    client = QBApiClient::sharedClient();
    ErrorPtr error;
    session = client->authenticateUserSessionWithUsername(kDemo, kPassword, &error);
    ASSERT_TRUE(session) << (error ? error->message() : "");
    context = std::make_unique<QBApiClientAuthContext>(session);
    service_->resetStats();
  }
  void TearDown() override { ::unsetenv("GREYFOX_SERVICE_URL"); }

  static long count(const std::string& key) { return service_->stats().value(key, 0L); }
  static long totalRequests() {
    long n = 0;
    for (const auto& [k, v] : service_->stats().items()) n += v.get<long>();
    return n;
  }
  void fault(const std::string& key, const std::string& kind, int times) {
    auto space = key.find(' ');
    service_->addFault({{"method", key.substr(0, space)}, {"endpoint", key.substr(space + 1)}, {"kind", kind}, {"count", times}});
  }
  std::string folderId(const std::string& path) {
    auto item = client->folderIdAt(path, *context, nullptr);
    return item ? item->identifier : "";
  }

  test::ApiTestEnvironment env;
  std::shared_ptr<QBApiClient> client;
  std::shared_ptr<QBUserSessionItem> session;
  std::unique_ptr<QBApiClientAuthContext> context;
  static test::LocalService* service_;
};

test::LocalService* ApiClientService::service_ = nullptr;

TEST_F(ApiClientService, SignInMapsTheSessionAndRefusesWrongPasswords) {
  EXPECT_FALSE(session->sessionId.empty());
  EXPECT_EQ(session->username, kDemo);
  EXPECT_EQ(session->driveName, "Greyfox");
  EXPECT_NE(session->active2FA, std::optional<std::string>("1"));

  ErrorPtr error;
  EXPECT_FALSE(client->authenticateUserSessionWithUsername(kDemo, "wrong", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -197);
  EXPECT_EQ(error->serverCode(), 401);
  EXPECT_EQ(error->message(), "Invalid username or password");
}

TEST_F(ApiClientService, TwoFactorCodeIsSentAndChecked) {
  auto pending = client->authenticateUserSessionWithUsername("twofa@greyfox.test", kPassword, nullptr);
  ASSERT_TRUE(pending);
  EXPECT_EQ(pending->active2FA, std::optional<std::string>("1"));
  QBApiClientAuthContext ctx(pending);
  ErrorPtr error;
  EXPECT_FALSE(client->userInfoWithContext(ctx, &error)) << "the session is not usable before the code";

  ASSERT_TRUE(client->sendToken(*pending, nullptr));
  error.reset();
  EXPECT_FALSE(client->verifyToken(*pending, "000000x", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -197);
  ASSERT_TRUE(client->sendToken(*pending, nullptr));
  EXPECT_TRUE(client->verifyToken(*pending, service_->twoFactorCode("twofa@greyfox.test"), nullptr));
  EXPECT_TRUE(client->userInfoWithContext(ctx, nullptr));
}

TEST_F(ApiClientService, LogoutEndsTheSession) {
  EXPECT_TRUE(client->logoutWithContext(*context, nullptr));
  ErrorPtr error;
  EXPECT_FALSE(client->listFolder("0", std::nullopt, *context, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -197);
  EXPECT_EQ(error->serverCode(), 401);
  EXPECT_FALSE(client->logoutWithContext(*context, nullptr));
}

TEST_F(ApiClientService, CreatesAccounts) {
  EXPECT_TRUE(client->createUserWithEmail("new@greyfox.test", "pw", "New", "User", nullptr));
  ErrorPtr error;
  EXPECT_FALSE(client->createUserWithEmail("new@greyfox.test", "pw", "New", "User", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), "User already exists");
  EXPECT_TRUE(client->authenticateUserSessionWithUsername("new@greyfox.test", "pw", nullptr));
}

TEST_F(ApiClientService, BusyRepliesAreResentWithinTheLimits) {
  struct Case {
    const char* name;
    int busyReplies;
    double delay;  // busyRetryDelay, on a manual clock
    bool listed;
    long sends;
  } cases[] = {
      {"busy three times", 3, 5, true, 4},
      {"always busy: 35 re-sends", 100, 5, false, 36},
      {"always busy: 181 s window", 100, 10, false, 20},
  };
  for (const auto& c : cases) {
    service_->clearFaults();
    service_->resetStats();
    Clock::install(std::make_shared<ManualClock>());
    Timings t = Timings::current();
    t.busyRetryDelay = c.delay;
    Timings::install(t);
    auto delegate = std::make_shared<test::CountingDelegate>();
    client->setActivityDelegate(delegate);
    fault("GET folder/list.json", "busy", c.busyReplies);

    ErrorPtr error;
    auto listing = client->listFolder("0", std::nullopt, *context, &error);
    EXPECT_EQ(listing != nullptr, c.listed) << c.name;
    EXPECT_EQ(count("GET folder/list.json"), c.sends) << c.name;
    EXPECT_EQ(delegate->starts, delegate->finishes) << c.name;
    EXPECT_EQ(delegate->starts, c.sends) << c.name;
    if (!c.listed) {
      ASSERT_TRUE(error) << c.name;
      EXPECT_EQ(error->message(), "Folder is busy") << c.name;
    }
    Clock::install(nullptr);
    client->setActivityDelegate(nullptr);
  }
}

TEST_F(ApiClientService, MissingOrEmptySessionIds) {
  QBApiClientAuthContext none;
  ErrorPtr error;
  EXPECT_FALSE(client->listFolder("0", std::nullopt, none, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -199);
  QBApiClientSharingContext noSharing(session);
  error.reset();
  EXPECT_FALSE(client->sharedFoldersWithContext(noSharing, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -198);
  EXPECT_EQ(totalRequests(), 0) << "nothing is sent without the ids";

  auto blank = std::make_shared<QBUserSessionItem>();
  QBApiClientAuthContext blankContext(blank);
  error.reset();
  EXPECT_FALSE(client->listFolder("0", std::nullopt, blankContext, &error));
  EXPECT_EQ(count("GET folder/list.json"), 1) << "sent with an empty session id";
  ASSERT_TRUE(error);
  EXPECT_EQ(error->serverCode(), 401);
  EXPECT_EQ(blank->sessionId, "");
}

TEST_F(ApiClientService, BadRepliesBecomeNetworkErrors) {
  fault("GET folder/list.json", "malformed", 1);
  ErrorPtr error;
  EXPECT_FALSE(client->listFolder("0", std::nullopt, *context, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -200);
  EXPECT_EQ(error->message(), "Server communication error.");
  ASSERT_TRUE(error->underlying);
  EXPECT_EQ(error->underlying->code, -98);

  fault("GET folder/list.json", "empty503", 4);
  error.reset();
  EXPECT_FALSE(client->listFolder("0", std::nullopt, *context, &error));
  ASSERT_TRUE(error && error->underlying);
  EXPECT_EQ(error->underlying->code, -100);
}

TEST_F(ApiClientService, ListsFoldersAndRefreshesByTime) {
  auto root = client->listFolder("0", std::nullopt, *context, nullptr);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->identifier, "0");
  EXPECT_TRUE(root->containsItemNamed("Documents"));
  EXPECT_TRUE(root->containsItemNamed("Photos"));
  std::string docs = folderId("/Documents");
  auto listing = client->listFolder(docs, std::nullopt, *context, nullptr);
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->identifier, docs);
  EXPECT_TRUE(listing->containsItemNamed("readme.txt"));
  ASSERT_TRUE(listing->updateTime);
  auto unchanged = client->listFolder(docs, listing->updateTime, *context, nullptr);
  ASSERT_TRUE(unchanged);
  EXPECT_EQ(unchanged->responseType, 0) << "nothing changed since the given time";
  EXPECT_TRUE(unchanged->files.empty());
}

TEST_F(ApiClientService, SendsEachOperationInItsWireForm) {
  const std::string S = session->sessionId;
  service_->putFile(kDemo, "/wire.txt", "w");
  std::string fileId = client->fileIdAt("/wire.txt", *context, nullptr)->identifier;
  std::string docs = folderId("/Documents");
  auto scratch = client->createFolder("Wire", "0", *context, nullptr);
  ASSERT_TRUE(scratch);
  struct Case {
    const char* name;
    std::function<void()> call;
    std::string method;
    std::string urlTail;
    json body;  // null: no body
  } cases[] = {
      {"list without time", [&] { client->listFolder(docs, std::nullopt, *context, nullptr); }, "GET",
       "folder/list.json/" + S + "/" + docs + "?encryption_supported=1&last_request_time=0", nullptr},
      {"list with time", [&] { client->listFolder(docs, 1234, *context, nullptr); }, "GET",
       "folder/list.json/" + S + "/" + docs + "?encryption_supported=1&last_request_time=1234", nullptr},
      {"file info", [&] { client->fileInfo(fileId, *context, nullptr); }, "GET",
       "file/info.json/" + fileId + "?session_id=" + S, nullptr},
      {"move without a name", [&] { client->moveFile(fileId, std::nullopt, docs, *context, nullptr); }, "POST",
       "file/move_copy.json",
       {{"src_file_id", fileId}, {"dst_folder_id", docs}, {"move", "true"}, {"overwrite_if_exists", "true"}, {"session_id", S}}},
      {"trash a folder", [&] { client->trashFolder(scratch->identifier, *context, nullptr); }, "POST",
       "folder/trash.json", {{"folder_id", scratch->identifier}, {"session_id", S}}},
      {"empty the trash", [&] { client->emptyTrashWithContext(*context, nullptr); }, "DELETE",
       "folder/trash.json/" + S + "?", nullptr},
      {"notifications", [&] { client->userNotificationsContext(*context, nullptr); }, "GET",
       "users/notifications.json/" + S + "?app_version=" + QBApiClientAPIVersion(), nullptr},
      {"logout", [&] { client->logoutWithContext(*context, nullptr); }, "POST", "session/logout.json",
       {{"session_id", S}}},
  };
  for (const auto& c : cases) {
    c.call();
    auto stack = client->requestsStack();
    ASSERT_FALSE(stack.empty()) << c.name;
    const HttpRequest* sent = stack.back().first->urlRequest(nullptr);
    ASSERT_TRUE(sent) << c.name;
    EXPECT_EQ(sent->method, c.method) << c.name;
    EXPECT_EQ(sent->url, service_->baseUrl() + c.urlTail) << c.name;
    if (c.body.is_null()) {
      EXPECT_EQ(sent->body, "") << c.name;
    } else {
      EXPECT_EQ(json::parse(sent->body, nullptr, false), c.body) << c.name;
    }
  }
}

TEST_F(ApiClientService, PathLookUps) {
  ErrorPtr error;
  auto file = client->fileIdAt("/Documents/readme.txt", *context, &error);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->path, "/Documents/readme.txt");
  EXPECT_EQ(client->pathForFile(file->identifier, *context, nullptr), "/Documents/readme.txt");
  EXPECT_EQ(client->pathForFolder(folderId("/Documents/Letters"), *context, nullptr), "/Documents/Letters");

  struct Case {
    const char* name;
    bool folder;
    std::string path;
  } missing[] = {{"file", false, "/Documents/none.txt"}, {"folder", true, "/No Such Folder"}};
  for (const auto& c : missing) {
    ErrorPtr e;
    std::shared_ptr<QBFSIdItem> item;
    if (c.folder) {
      item = client->folderIdAt(c.path, *context, &e);
    } else {
      item = client->fileIdAt(c.path, *context, &e);
    }
    ASSERT_TRUE(item) << c.name;
    EXPECT_EQ(item->identifier, "undefined") << c.name;
    EXPECT_EQ(item->path, c.path) << c.name;
    ASSERT_TRUE(e) << c.name;
    EXPECT_EQ(e->serverCode(), 404) << c.name;
  }
  QBApiClientAuthContext stale(std::make_shared<QBUserSessionItem>());
  EXPECT_FALSE(client->fileIdAt("/Documents/readme.txt", stale, nullptr)) << "other errors give no item";
}

TEST_F(ApiClientService, UploadsAFileInChunks) {
  std::shared_ptr<QBUploadFileHandle> handle;
  auto created = client->createFile("chunks.bin", "0", &handle, *context, false, 10, nullptr);
  ASSERT_TRUE(created && handle);
  EXPECT_EQ(created->name, "chunks.bin");
  EXPECT_FALSE(handle->tempLocation.empty());
  EXPECT_FALSE(client->createFile("", "0", nullptr, *context, false, 10, nullptr));
  EXPECT_FALSE(client->createFile("x", "0", nullptr, *context, false, std::nullopt, nullptr));
  EXPECT_EQ(count("POST upload/create_file.json"), 1) << "incomplete input is not sent";

  auto first = client->uploadChunk(std::string("01234", 5), 0, created->identifier, handle->tempLocation, *context, nullptr);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->bytesWritten, 5);
  auto second = client->uploadChunk(std::string("\0\r\n--", 5), 5, created->identifier, handle->tempLocation, *context, nullptr);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->bytesWritten, 10);
  auto closed = client->closeFileUpload(created->identifier, 10, handle->tempLocation, false, 1600000000, *context, nullptr);
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->size, 10);
  EXPECT_EQ(closed->dateModified, 1600000000.0) << "the given time is sent unchanged";
  EXPECT_EQ(service_->getFile(kDemo, "/chunks.bin"), std::string("01234\0\r\n--", 10));
  EXPECT_EQ(client->downloadData(created->identifier, *context, nullptr), std::string("01234\0\r\n--", 10));

  auto reopened = client->openFile(created->identifier, 3, *context, nullptr);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->identifier, created->identifier);
  EXPECT_EQ(reopened->size, 3);
  ASSERT_TRUE(client->uploadChunk("abc", 0, created->identifier, reopened->tempLocation, *context, nullptr));
  double before = std::floor(Clock::current().now());
  auto now = client->closeFileUpload(created->identifier, 3, reopened->tempLocation, false, std::nullopt, *context, nullptr);
  ASSERT_TRUE(now && now->dateModified);
  EXPECT_GE(*now->dateModified, before) << "no time: the current time is sent";
  EXPECT_LE(*now->dateModified, before + 5);
}

TEST_F(ApiClientService, CloseIsRetriedWhileBusyAndEndsOnProcessing) {
  std::shared_ptr<QBUploadFileHandle> handle;
  auto created = client->createFile("close.bin", "0", &handle, *context, false, 0, nullptr);
  ASSERT_TRUE(created && handle);
  fault("POST upload/close_file_upload.json", "busy", 2);
  EXPECT_TRUE(client->closeFileUpload(created->identifier, 0, handle->tempLocation, false, std::nullopt, *context, nullptr));
  EXPECT_EQ(count("POST upload/close_file_upload.json"), 3);

  service_->resetStats();
  auto again = client->openFile(created->identifier, 0, *context, nullptr);
  ASSERT_TRUE(again);
  fault("POST upload/close_file_upload.json", "processing", 1);
  ErrorPtr error;
  EXPECT_FALSE(client->closeFileUpload(created->identifier, 0, again->tempLocation, false, std::nullopt, *context, &error));
  EXPECT_EQ(count("POST upload/close_file_upload.json"), 1) << "no busy retry";
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -197);
  EXPECT_EQ(error->message(),
            "This file is already being processed. Please wait until previous upload operation will be finished.");
}

TEST_F(ApiClientService, MovesTrashesRestoresAndDeletesFiles) {
  service_->putFile(kDemo, "/move-me.txt", "m");
  auto id = client->fileIdAt("/move-me.txt", *context, nullptr);
  ASSERT_TRUE(id && id->identifier != "undefined");
  std::string docs = folderId("/Documents");
  auto moved = client->moveFile(id->identifier, std::nullopt, docs, *context, nullptr);
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->identifier, id->identifier);
  auto renamed = client->moveFile(id->identifier, std::string("renamed.txt"), docs, *context, nullptr);
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->name, "renamed.txt");
  EXPECT_EQ(service_->getFile(kDemo, "/Documents/renamed.txt"), "m");

  EXPECT_TRUE(client->trashFile(id->identifier, *context, nullptr));
  auto trash = client->listTrashFolderWithContext(*context, nullptr);
  ASSERT_TRUE(trash);
  EXPECT_EQ(trash->identifier, "-1");
  EXPECT_TRUE(trash->containsItemNamed("renamed.txt"));
  EXPECT_TRUE(client->restoreFile(id->identifier, *context, nullptr));
  EXPECT_EQ(service_->getFile(kDemo, "/Documents/renamed.txt"), "m");
  EXPECT_TRUE(client->deleteFile(id->identifier, *context, nullptr));
  EXPECT_FALSE(service_->getFile(kDemo, "/Documents/renamed.txt"));
  ErrorPtr error;
  EXPECT_FALSE(client->deleteFile(id->identifier, *context, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -197);
}

TEST_F(ApiClientService, FolderOperationsAndTheTrash) {
  // A precomposed name comes back decomposed.
  auto folder = client->createFolder("Caf\xC3\xA9", "0", *context, nullptr);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->name, "Cafe\xCC\x81");
  auto info = client->folderInfo(folder->identifier, *context, nullptr);
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->link.empty());

  auto inner = client->createFolder("Inner", folder->identifier, *context, nullptr);
  ASSERT_TRUE(inner);
  auto moved = client->moveFolder(inner->identifier, std::string("Moved"), "0", *context, nullptr);
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->identifier, inner->identifier);
  EXPECT_EQ(moved->name, "Moved");

  EXPECT_TRUE(client->trashFolder(folder->identifier, *context, nullptr));
  auto trash = client->listTrashFolderWithContext(*context, nullptr);
  ASSERT_TRUE(trash);
  EXPECT_TRUE(trash->containsItemNamed("Caf\xC3\xA9"));
  EXPECT_TRUE(client->restoreFolder(folder->identifier, *context, nullptr));
  EXPECT_TRUE(client->deleteFolder(moved->identifier, *context, nullptr));
  EXPECT_TRUE(client->trashFolder(folder->identifier, *context, nullptr));

  EXPECT_TRUE(client->emptyTrashWithContext(*context, nullptr));
  auto emptied = client->listTrashFolderWithContext(*context, nullptr);
  ASSERT_TRUE(emptied);
  EXPECT_TRUE(emptied->folders.empty() && emptied->files.empty());
  QBApiClientAuthContext stale(std::make_shared<QBUserSessionItem>());
  EXPECT_FALSE(client->emptyTrashWithContext(stale, nullptr)) << "an error reply";
}

TEST_F(ApiClientService, SharedFoldersOfOtherUsers) {
  auto users = client->listSharedUsersWithContext(*context, nullptr);
  ASSERT_TRUE(users);
  EXPECT_EQ(users->identifier, "-2");
  ASSERT_EQ(users->folders.size(), 1u);
  EXPECT_EQ(users->folders[0]->name, "friend@greyfox.test");

  QBApiClientSharingContext sharing(session);
  sharing.sharingId = users->folders[0]->identifier;
  auto shared = client->sharedFoldersWithContext(sharing, nullptr);
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->identifier, *sharing.sharingId);
  EXPECT_TRUE(shared->containsItemNamed("Projects"));
  EXPECT_TRUE(shared->containsItemNamed("Archive"));

  // Inside a shared folder the sharing id rides along as "sharing_id".
  std::string projects;
  for (const auto& f : shared->folders)
    if (f->name == "Projects") projects = f->identifier;
  auto listing = client->listFolder(projects, std::nullopt, sharing, nullptr);
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->identifier, projects);
}

TEST_F(ApiClientService, SharesAFolderWithAnotherUser) {
  auto folder = client->createFolder("To Share", "0", *context, nullptr);
  ASSERT_TRUE(folder);
  EXPECT_TRUE(client->shareFolder(folder->identifier, "friend@greyfox.test", "1", *context, nullptr));
  auto users = client->listSharingUsersOf(folder->identifier, *context, nullptr);
  ASSERT_TRUE(users);
  EXPECT_EQ(users->identifier, folder->identifier);
  auto friendUser = users->itemNamed("friend@greyfox.test");
  ASSERT_TRUE(friendUser);
  EXPECT_TRUE(client->changeSharing(friendUser->identifier, "0", *context, nullptr));
  EXPECT_TRUE(client->deleteSharing(friendUser->identifier, *context, nullptr));
  auto after = client->listSharingUsersOf(folder->identifier, *context, nullptr);
  ASSERT_TRUE(after);
  EXPECT_TRUE(after->users.empty());
}

TEST_F(ApiClientService, SecureFolderHandshake) {
  auto folder = client->createFolder("Vault", "0", *context, nullptr);
  ASSERT_TRUE(folder);
  EXPECT_FALSE(client->secureFoldersAuth(folder->identifier, *context, nullptr)) << "no verifier yet";
  EXPECT_TRUE(client->secureFoldersInit(folder->identifier, "DATA", "HASH", *context, nullptr));
  auto challenge = client->secureFoldersAuth(folder->identifier, *context, nullptr);
  ASSERT_TRUE(challenge);
  EXPECT_EQ(challenge->response.value("Data", ""), "DATA");
  ErrorPtr error;
  EXPECT_FALSE(client->secureFoldersAuth(folder->identifier, "WRONG", *context, &error));
  EXPECT_TRUE(client->secureFoldersAuth(folder->identifier, "HASH", *context, nullptr));
}

TEST_F(ApiClientService, FileDetailsThumbnailsAndAccountQueries) {
  auto id = client->fileIdAt("/Photos/sunset.jpg", *context, nullptr);
  ASSERT_TRUE(id);
  auto thumb = client->fileThumbnail(id->identifier, *context, nullptr);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(thumb->identifier, id->identifier);
  ASSERT_GE(thumb->data.size(), 8u);
  EXPECT_EQ(thumb->data.substr(0, 4), "\x89PNG") << "raw image bytes, not decoded";

  auto info = client->fileInfo(id->identifier, *context, nullptr);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->name, "sunset.jpg");
  auto plain = client->file(id->identifier, *context, nullptr);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->size, info->size);
  EXPECT_TRUE(client->setSettingsForFile({{"file_access", "public"}}, id->identifier, *context, nullptr));

  auto user = client->userInfoWithContext(*context, nullptr);
  ASSERT_TRUE(user);
  EXPECT_GT(user->storageMax.value_or(0), 0);
  auto links = client->userLinksWithContext(*context, nullptr);
  ASSERT_TRUE(links);
  EXPECT_NE(links->accountLink.find("/account"), std::string::npos);
  EXPECT_NE(links->billingLink.find("/billing"), std::string::npos);
  service_->addNotification({{"user", kDemo}, {"text", "hello"}});
  auto notes = client->userNotificationsContext(*context, nullptr);
  ASSERT_TRUE(notes);
  session->uploadSpeedLimit = 99;
  EXPECT_EQ(client->getUploadSpeedLimit(session, nullptr), session);
  EXPECT_EQ(session->uploadSpeedLimit, 0.0);
}

}  // namespace
}  // namespace greyfox
