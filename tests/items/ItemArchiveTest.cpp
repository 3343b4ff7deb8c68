// Archiving: every class survives a round trip through CBOR bytes, an archive
// written by an earlier run reads back, and bad bytes give nullptr.
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "items/QBAccountItems.h"
#include "items/QBAnonymousItem.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFSIdItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBSharingItems.h"
#include "items/QBSynchedItem.h"
#include "items/QBUploadFileHandle.h"
#include "items/QBUserSessionItem.h"

namespace greyfox {
namespace {

using nlohmann::json;

std::shared_ptr<QBFileItem> sampleFile() {
  auto file = std::make_shared<QBFileItem>();
  file->identifier = "f1";
  file->name = "cafe\xCC\x81.txt";
  file->size = 6000000000LL;
  file->requireCompression = 0;
  file->dateModified = 1700000000;
  return file;
}

std::shared_ptr<QBFolderItem> sampleFolder() {
  auto folder = std::make_shared<QBFolderItem>();
  folder->identifier = "d1";
  folder->name = "Docs";
  folder->encrypted = 1;
  folder->dateCreated = 1600000000;
  folder->dateModified = 1650000000;
  return folder;
}

template <class List>
void fillListing(List& listing) {
  listing.identifier = "42";
  listing.updateTime = 1700000100;
  listing.name = "Projects";
  listing.path = "/Projects";
  listing.parentFolderId = "0";
  listing.directFolderLink = "https://example.test/d/42";
  listing.responseType = 1;
  listing.encrypted = 1;
  listing.folders = {sampleFolder()};
  listing.files = {sampleFile()};
}

// One item of every class with every archived field set.
std::vector<QBContentItemPtr> everyClass() {
  std::vector<QBContentItemPtr> items;
  auto base = std::make_shared<QBContentItem>();
  base->identifier = "b";
  items.push_back(base);

  items.push_back(sampleFile());
  auto sharedFile = std::make_shared<QBSharedFileItem>();
  *static_cast<QBFileItem*>(sharedFile.get()) = *sampleFile();
  sharedFile->shareMode = 2;
  items.push_back(sharedFile);
  auto fileInfo = std::make_shared<QBFileInfoItem>();
  *static_cast<QBFileItem*>(fileInfo.get()) = *sampleFile();
  fileInfo->path = "/a";
  fileInfo->link = "l";
  fileInfo->downloadLink = "dl";
  fileInfo->streamingLink = "sl";
  fileInfo->fileDescription = "desc";
  fileInfo->price = "0";
  fileInfo->access = "public";
  items.push_back(fileInfo);
  auto thumbnail = std::make_shared<QBFileThumbnailItem>();
  thumbnail->identifier = "f1";
  thumbnail->data = std::string("\x89PNG\0\x01\xff", 7);
  items.push_back(thumbnail);

  items.push_back(sampleFolder());
  auto sharedFolder = std::make_shared<QBSharedFolderItem>();
  *static_cast<QBFolderItem*>(sharedFolder.get()) = *sampleFolder();
  sharedFolder->shareMode = 1;
  items.push_back(sharedFolder);
  auto folderInfo = std::make_shared<QBFolderInfoItem>();
  *static_cast<QBFolderItem*>(folderInfo.get()) = *sampleFolder();
  folderInfo->path = "/Docs";
  folderInfo->link = "l";
  folderInfo->folderDescription = "desc";
  folderInfo->access = "private";
  items.push_back(folderInfo);

  auto listing = std::make_shared<QBFolderListItem>();
  fillListing(*listing);
  items.push_back(listing);
  auto sharedListing = std::make_shared<QBSharedFolderListItem>();
  fillListing(*sharedListing);
  sharedListing->folders = {sharedFolder};
  items.push_back(sharedListing);
  auto trash = std::make_shared<QBTrashFolderListItem>();
  fillListing(*trash);
  items.push_back(trash);
  auto users = std::make_shared<QBSharedUsersFolderListItem>();
  fillListing(*users);
  items.push_back(users);
  auto stub = std::make_shared<QBStubFolderListItem>();
  fillListing(*stub);
  items.push_back(stub);

  auto synched = std::make_shared<QBSynchedItem>();
  synched->dateModified = 1700000000.5;
  items.push_back(synched);
  auto xattrs = std::make_shared<QBSharedXAttrs>();
  xattrs->dateModified = 1700000000;
  xattrs->xattrsByPath = {{"/a.txt", {{"com.apple.metadata:_kMDItemUserTags", "Red"},
                                      {"com.apple.FinderInfo", json::binary({0, 1, 2, 255})}}}};
  items.push_back(xattrs);
  auto anonymous = std::make_shared<QBAnonymousItem>();
  anonymous->identifier = "anon";
  items.push_back(anonymous);

  auto session = std::make_shared<QBUserSessionItem>();
  session->sessionId = "s-1";
  session->isAccountUser = true;
  session->userIdentifier = 3;
  session->accountType = 2;
  session->username = "ann";
  session->firstName = "Ann";
  session->lastName = "Lee";
  session->driveName = "Ann's drive";
  session->userLevel = 1;
  session->userId = "4411";
  session->encryptionKey = std::string("\x00\x10key", 5);
  session->uploadSpeedLimit = 0.5;
  session->active2FA = "1";
  items.push_back(session);
  auto sharingUser = std::make_shared<QBSharingUserItem>();
  sharingUser->identifier = "u1";
  sharingUser->name = "bob";
  sharingUser->mode = "rw";
  items.push_back(sharingUser);
  auto sharingUsers = std::make_shared<QBSharingUsersItem>();
  sharingUsers->identifier = "d1";
  sharingUsers->users = {sharingUser};
  items.push_back(sharingUsers);

  auto fsid = std::make_shared<QBFSIdItem>();
  fsid->identifier = "f1";
  fsid->path = "/a.txt";
  items.push_back(fsid);
  auto folderFsid = std::make_shared<QBFolderFSIdItem>();
  folderFsid->identifier = "d1";
  folderFsid->path = "/Docs";
  items.push_back(folderFsid);
  auto descriptor = std::make_shared<QBBinaryDataDescriptorItem>();
  descriptor->identifier = "f1";
  descriptor->completedBytes = 40;
  descriptor->totalBytes = 100;
  descriptor->path = "/a.txt";
  descriptor->encrypted = true;
  items.push_back(descriptor);
  auto handle = std::make_shared<QBUploadFileHandle>();
  handle->identifier = "f1";
  handle->isUploading = 1;
  handle->path = "/a.txt";
  handle->tempLocation = "tmp/abc";
  handle->requireHash = 0;
  handle->requireHashOnly = 1;
  items.push_back(handle);
  auto chunk = std::make_shared<QBChunkUploadResult>();
  chunk->identifier = "c";
  items.push_back(chunk);

  auto info = std::make_shared<QBUserInfoItem>();
  info->storageMax = 107374182400LL;
  info->storageUsed = 1;
  info->bandwidthUsed = 2;
  info->bandwidthMax = 3;
  info->plan = "Unlimited 1TB";
  info->trashCount = 4;
  items.push_back(info);
  auto links = std::make_shared<QBUserLinksItem>();
  links->accountLink = "https://a";
  links->billingLink = "https://b";
  items.push_back(links);
  auto notifications = std::make_shared<QBNotificationsItem>();
  notifications->list = json::array({"n"});
  items.push_back(notifications);
  for (auto& item : items) item->timeReceived = 1700000200.25;
  return items;
}

TEST(ItemArchive, EveryClassSurvivesARoundTrip) {
  for (const auto& item : everyClass()) {
    const std::string name = item->className();
    json archive = item->archive();
    EXPECT_EQ(archive["$class"], name) << name;
    for (const auto& field : item->encodeArray()) {
      EXPECT_TRUE(archive.contains(field)) << name << " does not write " << field;
    }
    auto restored = QBContentItem::unarchiveData(item->archivedData());
    ASSERT_NE(restored, nullptr) << name;
    EXPECT_EQ(restored->className(), name);
    EXPECT_EQ(restored->timeReceived, 1700000200.25) << name;
    EXPECT_EQ(restored->archive(), archive) << name;
    auto fresh = QBContentItem::instanceOfClass(name);
    ASSERT_NE(fresh, nullptr) << name;
    EXPECT_EQ(fresh->className(), name);
  }
}

TEST(ItemArchive, WhatIsAndIsNotKept) {
  auto session = std::dynamic_pointer_cast<QBUserSessionItem>(QBContentItem::unarchiveData([] {
    QBUserSessionItem item;
    item.encryptionKey = std::string("\x00\xff", 2);
    item.uploadSpeedLimit = 0.5;
    return item.archivedData();
  }()));
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->encryptionKey, std::string("\x00\xff", 2)) << "key bytes with a zero byte";
  EXPECT_EQ(session->uploadSpeedLimit, 0.5);
  EXPECT_FALSE(session->accountType.has_value()) << "a number never set stays unset";

  QBUploadFileHandle handle;
  handle.size = 99;
  auto restoredHandle = std::dynamic_pointer_cast<QBUploadFileHandle>(QBContentItem::unarchiveData(handle.archivedData()));
  ASSERT_NE(restoredHandle, nullptr);
  EXPECT_FALSE(restoredHandle->size.has_value()) << "the handle's size is not archived";

  QBBinaryDataDescriptorItem descriptor;
  descriptor.error = makeError(kQBErrorDomain, -996, "Download timed out!", nullptr);
  auto restoredDescriptor =
      std::dynamic_pointer_cast<QBBinaryDataDescriptorItem>(QBContentItem::unarchiveData(descriptor.archivedData()));
  ASSERT_NE(restoredDescriptor, nullptr);
  EXPECT_EQ(restoredDescriptor->error, nullptr) << "a transfer's error is not archived";

  auto links = QBContentItem::unarchiveData(QBUserLinksItem().archivedData());
  ASSERT_NE(links, nullptr);
  EXPECT_EQ(links->identifier, "default") << "the links keep their fixed key though it is not archived";
}

TEST(ItemArchive, ArchiveOfAnEarlierRunReadsBack) {
  // Written by archivedData() of this code in an earlier process: the listing
  // "/Projects" (id 42, encrypted, received at 1700000200.25) holding the
  // folder "Docs" (d1) and the file "café.txt" (f1, 6,000,000,000 bytes).
  std::ifstream in(ITEMS_TEST_DATA_DIR "/folder_list.cbor", std::ios::binary);
  ASSERT_TRUE(in) << "fixture missing";
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  auto listing = std::dynamic_pointer_cast<QBFolderListItem>(QBContentItem::unarchiveData(bytes));
  ASSERT_NE(listing, nullptr);
  EXPECT_EQ(listing->className(), "QBFolderListItem");
  EXPECT_EQ(listing->identifier, "42");
  EXPECT_EQ(listing->path, "/Projects");
  EXPECT_EQ(listing->timeReceived, 1700000200.25);
  EXPECT_TRUE(listing->isEncrypted());
  EXPECT_EQ(listing->updateTime, 1700000100);
  ASSERT_EQ(listing->folders.size(), 1u);
  EXPECT_EQ(listing->folders[0]->name, "Docs");
  EXPECT_TRUE(listing->folders[0]->isEncrypted());
  ASSERT_EQ(listing->files.size(), 1u);
  EXPECT_EQ(listing->files[0]->size, 6000000000LL);
  EXPECT_NE(listing->itemNamed("CAF\xC3\x89.TXT"), nullptr);
  EXPECT_EQ(listing->archivedData(), bytes) << "the archive format changed: cached items of earlier runs";
}

TEST(ItemArchive, BadArchivesGiveNothing) {
  auto listing = std::make_shared<QBFolderListItem>();
  fillListing(*listing);
  const std::string good = listing->archivedData();
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_EQ(QBContentItem::unarchiveData(std::string_view(good).substr(0, length)), nullptr)
        << "truncated to " << length << " bytes";
  }

  json archive = listing->archive();
  auto cbor = [](const json& value) {
    std::string bytes;
    json::to_cbor(value, bytes);
    return bytes;
  };
  auto with = [&](const std::string& key, json value) {
    json changed = archive;
    changed[key] = std::move(value);
    return cbor(changed);
  };
  json strayFile = archive;
  strayFile["files"].push_back(sampleFolder()->archive());
  json noClass = archive;
  noClass.erase("$class");
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"JSON text", archive.dump()},
      {"random bytes", std::string("\xde\xad\xbe\xef\x00\x01", 6)},
      {"a list", cbor(json::array({archive}))},
      {"unknown class", with("$class", "QBNoSuchItem")},
      {"class that is not text", with("$class", 7)},
      {"no class", cbor(noClass)},
      {"name that is a number", with("name", 5)},
      {"files that are not a list", with("files", "a.txt")},
      {"a folder among the files", cbor(strayFile)},
      {"timeReceived as text", with("timeReceived", "now")},
      {"trailing bytes", good + "x"},
      {"lists nested a million deep", std::string(1000000, '\x81') + '\x01'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QBContentItem::unarchiveData(c.bytes), nullptr) << c.name;
  }
}

}  // namespace
}  // namespace greyfox
