// Editing listings in place, equality of items, and the small answers items
// give about themselves (download readiness, log text).
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFSIdItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBUploadFileHandle.h"
#include "items/QBUserSessionItem.h"

namespace greyfox {
namespace {

std::shared_ptr<QBFileItem> file(const std::string& id, const std::string& name) {
  auto item = std::make_shared<QBFileItem>();
  item->identifier = id;
  item->name = name;
  return item;
}

std::shared_ptr<QBFolderItem> folder(const std::string& id, const std::string& name) {
  auto item = std::make_shared<QBFolderItem>();
  item->identifier = id;
  item->name = name;
  return item;
}

std::vector<std::string> ids(const QBFolderListItem& listing) {
  std::vector<std::string> out;
  for (const auto& item : listing.combinedItems()) out.push_back(item->identifier);
  return out;
}

// A listing with a folder and a file of the same name, a decomposed name and
// two files whose names differ only in case.
class FolderListEditing : public ::testing::Test {
 protected:
  void SetUp() override {
    listing.folders = {folder("d1", "Docs"), folder("d2", "same")};
    listing.files = {file("f1", "a.txt"), file("f2", "same"), file("f3", "cafe\xCC\x81"), file("f4", "A.txt")};
  }
  QBFolderListItem listing;
};

TEST_F(FolderListEditing, ItemNamedIgnoresCaseAndCompositionAndPrefersFolders) {
  struct Case {
    const char* name;
    const char* query;
    const char* expectedId;  // nullptr: no item
  };
  const Case cases[] = {
      {"exact file name", "a.txt", "f1"},
      {"other case finds the first match", "A.TXT", "f1"},
      {"folder before a file of the same name", "SAME", "d2"},
      {"precomposed query finds the decomposed name", "caf\xC3\xA9", "f3"},
      {"upper-case precomposed query", "CAF\xC3\x89", "f3"},
      {"accent is not ignored", "cafe", nullptr},
      {"absent name", "b.txt", nullptr},
      {"empty name", "", nullptr},
  };
  for (const auto& c : cases) {
    auto item = listing.itemNamed(c.query);
    if (c.expectedId == nullptr) {
      EXPECT_EQ(item, nullptr) << c.name;
      EXPECT_FALSE(listing.containsItemNamed(c.query)) << c.name;
    } else {
      ASSERT_NE(item, nullptr) << c.name;
      EXPECT_EQ(item->identifier, c.expectedId) << c.name;
    }
  }
}

TEST_F(FolderListEditing, RemovalByNameIsExactButAcceptsEitherComposition) {
  listing.removeItemNamed("A.TXT");
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"d1", "d2", "f1", "f2", "f3", "f4"})) << "other case";

  listing.removeItemNamed("same");
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"d1", "f1", "f3", "f4"})) << "file and folder of that name";

  listing.removeItemNamed("caf\xC3\xA9");
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"d1", "f1", "f4"})) << "precomposed argument";

  listing.removeItemNamed("A.txt");
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"d1", "f1"})) << "exact case";
}

TEST_F(FolderListEditing, RemovalByIdentifierAndByObject) {
  listing.files.push_back(file("d1", "file sharing an id with a folder"));
  listing.removeItemWithIdentifier("d1");
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"d2", "f1", "f2", "f3", "f4"}));

  auto twin = file("f1", "a.txt");  // equal by name and id, but another object
  listing.removeItem(twin);
  EXPECT_EQ(listing.files.size(), 4u) << "removeItem removes only that object";
  listing.removeItem(listing.files[0]);
  listing.removeItem(listing.folders[0]);
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"f2", "f3", "f4"}));
}

TEST_F(FolderListEditing, InsertReplacesTheEqualEntryAndAppends) {
  auto replacement = file("f9", "a.txt");
  listing.insertItem(replacement);
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"d1", "d2", "f2", "f3", "f4", "f9"}));
  EXPECT_EQ(listing.files.back(), replacement);

  listing.insertItem(folder("d9", "same"));
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"d1", "d9", "f2", "f3", "f4", "f9"}))
      << "a folder replaces only the folder of that name";

  auto shared = std::make_shared<QBSharedFileItem>();
  shared->identifier = "s1";
  shared->name = "same";
  listing.insertItem(shared);
  EXPECT_EQ(ids(listing), (std::vector<std::string>{"d1", "d9", "f3", "f4", "f9", "s1"}))
      << "a file subclass goes to files and replaces the equal file";

  EXPECT_EQ(listing.itemNames(),
            (std::vector<std::string>{"Docs", "same", "cafe\xCC\x81", "A.txt", "a.txt", "same"}));
}

TEST_F(FolderListEditing, OnlyFilesAndFoldersCanBeInsertedOrRemoved) {
  auto other = std::make_shared<QBFSIdItem>();
  try {
    listing.insertItem(other);
    ADD_FAILURE() << "insertItem took a path id";
  } catch (const QBContentItemException& e) {
    EXPECT_STREQ(e.what(), "insertItem: only support QBFileItem or QBFolderItem instances.");
  }
  try {
    listing.removeItem(other);
    ADD_FAILURE() << "removeItem took a path id";
  } catch (const QBContentItemException& e) {
    EXPECT_STREQ(e.what(), "removeItem: only support QBFileItem or QBFolderItem instances.");
  }
  EXPECT_EQ(ids(listing).size(), 6u);
}

TEST(ItemEquality, FilesAndFoldersByNameOthersByIdentifier) {
  struct Case {
    const char* name;
    QBContentItemPtr a, b;
    bool equal;
  };
  auto handle = [](const std::string& id) {
    auto item = std::make_shared<QBUploadFileHandle>();
    item->identifier = id;
    return item;
  };
  const Case cases[] = {
      {"files of one name, other ids", file("1", "a"), file("2", "a"), true},
      {"files of one id, other names", file("1", "a"), file("1", "b"), false},
      {"names differing in case", file("1", "a"), file("1", "A"), false},
      {"folders of one name", folder("1", "d"), folder("2", "d"), true},
      {"folders of one id, other names", folder("1", "d"), folder("1", "e"), false},
      {"handles of one id", handle("7"), handle("7"), true},
      {"handles of other ids", handle("7"), handle("8"), false},
      {"file against a folder falls back to ids", file("1", "a"), folder("1", "b"), true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a->isEqualTo(*c.b), c.equal) << c.name;
  }
}

TEST(BinaryDataDescriptor, BytesReadyWhenPresentOrWhole) {
  struct Case {
    const char* name;
    std::optional<int64_t> completed, total;
    int64_t wanted;
    bool ready, completedFlag;
  };
  const Case cases[] = {
      {"whole file shorter than the request", 40, 40, 100, true, true},
      {"total of 0 is not whole", 40, 0, 100, false, false},
      {"no bytes and a total of 0", 0, 0, 1, false, true},
      {"enough bytes of a larger file", 512, 1000, 512, true, false},
      {"too few bytes", 511, 1000, 512, false, false},
      {"total unknown", 40, std::nullopt, 100, false, false},
  };
  for (const auto& c : cases) {
    QBBinaryDataDescriptorItem descriptor;
    descriptor.completedBytes = c.completed;
    descriptor.totalBytes = c.total;
    EXPECT_EQ(descriptor.isBytesReady(c.wanted), c.ready) << c.name;
    EXPECT_EQ(descriptor.isCompleted(), c.completedFlag) << c.name;
  }
}

TEST(ItemDescription, FormatsOfTheLogText) {
  auto fileItem = file("7", "a.txt");
  fileItem->size = 12;
  auto folderItem = folder("12", "Docs");
  QBFolderListItem listing;
  listing.name = "Docs";
  listing.updateTime = 1700000000;
  listing.folders = {folderItem};
  listing.files = {fileItem, file("8", "b")};
  QBFSIdItem fsid;
  fsid.identifier = "3";
  fsid.path = "/a/b";
  QBBinaryDataDescriptorItem descriptor;
  descriptor.identifier = "7";
  descriptor.completedBytes = 40;
  QBUserSessionItem session;
  session.username = "ann";
  session.sessionId = "s1";
  QBChunkUploadResult chunk;
  chunk.bytesWritten = 1048576;
  QBUploadFileHandle handle;
  handle.identifier = "7";
  handle.path = "/a.txt";
  handle.tempLocation = "tmp/abc";

  struct Case {
    const char* name;
    const QBContentItem& item;
    const char* className;
    const char* fields;
  };
  const Case cases[] = {
      {"file", *fileItem, "QBFileItem", " (name=a.txt, size=12, id=7, ...)"},
      {"folder", *folderItem, "QBFolderItem", " (name=Docs, encrypted=0, id=12, ...)"},
      {"listing", listing, "QBFolderListItem", " (name=Docs, time=1700000000, count=1,2, ...)"},
      {"path id", fsid, "QBFSIdItem", " (id=3, path=/a/b)"},
      {"descriptor", descriptor, "QBBinaryDataDescriptorItem", " (id=7, completed=40, total=(null))"},
      {"session", session, "QBUserSessionItem", " (username=ann, sessionId=s1, ...)"},
      {"chunk result", chunk, "QBChunkUploadResult", " (bytesWritten=1048576)"},
      {"upload handle", handle, "QBUploadFileHandle", " (id=7, path=/a.txt, temp=tmp/abc, ...)"},
  };
  for (const auto& c : cases) {
    std::regex expected("<" + std::string(c.className) + ": 0x[0-9a-f]+>" +
                        std::regex_replace(c.fields, std::regex(R"([().])"), R"(\$&)"));
    EXPECT_TRUE(std::regex_match(c.item.description(), expected)) << c.name << ": " << c.item.description();
  }
}

}  // namespace
}  // namespace greyfox
