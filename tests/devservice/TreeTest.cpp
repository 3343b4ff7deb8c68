// Listings, look-ups, create, move, copy, rename, trash, restore, delete,
// item information and thumbnails.
#include <thread>

#include "ServiceFixture.h"

namespace greyfox::test {
namespace {

class TreeTest : public ServiceTest {
 protected:
  std::string post(const std::string& endpoint, nlohmann::json body, long status = 200) {
    auto r = api().post(endpoint, body);
    EXPECT_EQ(r.status, status) << endpoint << " " << body.dump() << ": " << r.body;
    return r.body;
  }
  std::string mkdir(const std::string& s, const std::string& parent, const std::string& name) {
    auto r = api().post("folder.json", {{"session_id", s}, {"folder_name", name}, {"folder_sub_parent", parent}});
    EXPECT_EQ(r.status, 200) << name << ": " << r.body;
    return r.json().value("FolderID", "");
  }
};

TEST_F(TreeTest, DemoAccountListing) {
  std::string s = api().login("demo@greyfox.test");
  auto root = list(s, "0");
  EXPECT_EQ(root["ResponseType"], 1);
  EXPECT_EQ(names(root["Folders"]), (std::vector<std::string>{"Big", "Documents", "Photos", "Secure"}));
  for (const auto& f : root["Folders"]) {
    for (const char* key : {"FolderID", "Name", "Encrypted", "DateCreated", "DateModified"})
      EXPECT_TRUE(f.contains(key)) << f.dump() << " lacks " << key;
    EXPECT_EQ(f["Encrypted"], f["Name"] == "Secure" ? 1 : 0) << f["Name"];
  }
  auto documents = list(s, folderId(s, "/Documents"));
  EXPECT_EQ(names(documents["Folders"]), std::vector<std::string>{"Letters"});
  EXPECT_EQ(names(documents["Files"]), (std::vector<std::string>{"notes.md", "readme.txt"}));
  EXPECT_EQ(documents["ParentFolderID"], "0");
  auto big = list(s, folderId(s, "/Big"))["Files"];
  ASSERT_EQ(big.size(), 1u);
  EXPECT_EQ(big[0]["Size"], 64 * 1024 * 1024);
  EXPECT_EQ(service().getFile("demo@greyfox.test", "/Photos/sunset.jpg")->substr(0, 3), "\xff\xd8\xff");
  EXPECT_EQ(service().getFile("demo@greyfox.test", "/Photos/garden.png")->substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST_F(TreeTest, DirUpdateTimeMovesWithEveryChangeAndGatesTheShortReply) {
  std::string user = newUser("dut");
  std::string s = api().login(user);
  std::string folder = mkdir(s, "0", "work");
  auto first = list(s, folder);
  int64_t t0 = first["DirUpdateTime"];

  auto unchanged = list(s, folder, std::to_string(t0));
  EXPECT_NE(unchanged["ResponseType"], 1);
  for (const char* key : {"Name", "ParentFolderID", "DirUpdateTime", "ResponseType"})
    EXPECT_TRUE(unchanged.contains(key)) << key;
  EXPECT_FALSE(unchanged.contains("Files"));

  // Two changes within one second still give two different times.
  mkdir(s, folder, "a");
  int64_t t1 = list(s, folder)["DirUpdateTime"];
  mkdir(s, folder, "b");
  int64_t t2 = list(s, folder)["DirUpdateTime"];
  EXPECT_LT(t0, t1);
  EXPECT_LT(t1, t2);
  auto full = list(s, folder, std::to_string(t1));
  EXPECT_EQ(full["ResponseType"], 1) << "a listing older than the last change is full";
  EXPECT_EQ(names(full["Folders"]), (std::vector<std::string>{"a", "b"}));

  service().putFile(user, "/work/behind.txt", "hi");
  auto afterPut = list(s, folder, std::to_string(t2));
  EXPECT_EQ(afterPut["ResponseType"], 1) << "a change behind the client's back";
  EXPECT_EQ(names(afterPut["Files"]), std::vector<std::string>{"behind.txt"});
}

TEST_F(TreeTest, PathAndIdLookups) {
  std::string s = api().login("demo@greyfox.test");
  EXPECT_EQ(folderId(s, "/"), "0");
  std::string letters = folderId(s, "/Documents/Letters");
  EXPECT_EQ(api().get("folder/path.json/" + s + "/" + letters).json()["Path"], "Documents/Letters");
  std::string readme = fileId(s, "/Documents/readme.txt");
  EXPECT_EQ(api().get("file/path.json/" + s + "/" + readme).json()["Path"], "Documents/readme.txt");

  struct Case {
    const char* name;
    const char* endpoint;
    std::string path;
  };
  const Case missing[] = {
      {"missing folder", "folder/idbypath.json", "/Nope"},
      {"file looked up as folder", "folder/idbypath.json", "/Documents/readme.txt"},
      {"missing file", "file/idbypath.json", "/Documents/nope.txt"},
      {"folder looked up as file", "file/idbypath.json", "/Documents/Letters"},
  };
  for (const auto& c : missing) {
    auto r = api().post(c.endpoint, {{"session_id", s}, {"path", c.path}});
    EXPECT_EQ(r.status, 404) << c.name;
    EXPECT_EQ(r.json()["error"]["code"], 404) << c.name;
  }
  EXPECT_EQ(api().get("folder/list.json/" + s + "/999999", {{"last_request_time", "0"}}).status, 404);
  EXPECT_EQ(api().del("file.json/" + s + "/999999").status, 404);
  EXPECT_EQ(api().get("no/such.json/" + s).status, 404);
  EXPECT_EQ(api().get("folder/list.json/not-a-session/0").status, 401);
}

TEST_F(TreeTest, CreateMoveRenameCopy) {
  std::string user = newUser("move");
  std::string s = api().login(user);
  std::string a = mkdir(s, "0", "a"), b = mkdir(s, "0", "b");
  EXPECT_EQ(api().post("folder.json", {{"session_id", s}, {"folder_name", "a"}, {"folder_sub_parent", "0"}}).status, 409);
  service().putFile(user, "/a/f.txt", "one");
  service().putFile(user, "/b/g.txt", "two");
  std::string f = fileId(s, "/a/f.txt");

  auto moved = api().post("file/move_copy.json", {{"session_id", s}, {"src_file_id", f}, {"dst_folder_id", b},
                                                  {"move", "true"}, {"overwrite_if_exists", "true"},
                                                  {"new_file_name", "h.txt"}});
  ASSERT_EQ(moved.status, 200) << moved.body;
  EXPECT_EQ(moved.json()["FileId"], f) << "a move keeps the id";
  EXPECT_TRUE(list(s, a)["Files"].empty());
  EXPECT_EQ(names(list(s, b)["Files"]), (std::vector<std::string>{"g.txt", "h.txt"}));

  // Overwrite: moving h.txt onto g.txt replaces it.
  post("file/move_copy.json", {{"session_id", s}, {"src_file_id", f}, {"dst_folder_id", b}, {"move", "true"},
                               {"overwrite_if_exists", "false"}, {"new_file_name", "g.txt"}},
       409);
  post("file/move_copy.json", {{"session_id", s}, {"src_file_id", f}, {"dst_folder_id", b}, {"move", "true"},
                               {"overwrite_if_exists", "true"}, {"new_file_name", "g.txt"}});
  EXPECT_EQ(service().getFile(user, "/b/g.txt"), "one");

  auto copied = api().post("file/move_copy.json", {{"session_id", s}, {"src_file_id", f}, {"dst_folder_id", a},
                                                   {"move", "false"}, {"overwrite_if_exists", "true"}});
  ASSERT_EQ(copied.status, 200);
  EXPECT_NE(copied.json()["FileId"], f);
  EXPECT_EQ(service().getFile(user, "/a/g.txt"), "one");
  EXPECT_EQ(service().getFile(user, "/b/g.txt"), "one");

  std::string inner = mkdir(s, a, "inner");
  post("folder/move_copy.json", {{"session_id", s}, {"folder_id", a}, {"dst_folder_id", inner}, {"move", "true"}}, 400);
  auto renamed = api().post("folder/move_copy.json", {{"session_id", s}, {"folder_id", a}, {"dst_folder_id", b},
                                                      {"move", "true"}, {"new_folder_name", "a2"}});
  ASSERT_EQ(renamed.status, 200) << renamed.body;
  EXPECT_EQ(renamed.json()["FolderID"], a);
  EXPECT_EQ(folderId(s, "/b/a2/inner"), inner);
  EXPECT_EQ(service().getFile(user, "/b/a2/g.txt"), "one") << "contents travel with the folder";
}

TEST_F(TreeTest, TrashRestoreAndDelete) {
  std::string user = newUser("trash");
  std::string s = api().login(user);
  std::string docs = mkdir(s, "0", "docs");
  service().putFile(user, "/docs/keep.txt", "k");
  service().putFile(user, "/docs/sub/inner.txt", "i");
  std::string keep = fileId(s, "/docs/keep.txt"), sub = folderId(s, "/docs/sub");
  auto trashList = [&] { return api().get("folder/trashlist.json/" + s).json(); };

  auto trashed = api().post("file/trash.json", {{"session_id", s}, {"file_id", keep}});
  EXPECT_TRUE(trashed.json().contains("DirUpdateTime"));
  EXPECT_TRUE(list(s, docs)["Files"].empty());
  post("folder/trash.json", {{"session_id", s}, {"folder_id", sub}});
  auto t = trashList();
  EXPECT_EQ(t["ResponseType"], 1);
  EXPECT_EQ(names(t["Files"]), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(names(t["Folders"]), std::vector<std::string>{"sub"}) << "inner.txt travels inside sub";

  auto restored = api().post("file/restore.json", {{"session_id", s}, {"file_id", keep}});
  EXPECT_EQ(restored.json()["Name"], "keep.txt");
  EXPECT_EQ(names(list(s, docs)["Files"]), std::vector<std::string>{"keep.txt"});

  // A folder whose original parent is itself in the trash comes back to the root.
  post("folder/trash.json", {{"session_id", s}, {"folder_id", docs}});
  EXPECT_TRUE(api().post("folder/restore.json", {{"session_id", s}, {"folder_id", sub}}).json().contains("DirUpdateTime"));
  EXPECT_EQ(names(list(s, "0")["Folders"]), std::vector<std::string>{"sub"});
  EXPECT_EQ(service().getFile(user, "/sub/inner.txt"), "i");

  // A restored name that is taken gets a number.
  service().putFile(user, "/x.txt", "first");
  post("file/trash.json", {{"session_id", s}, {"file_id", fileId(s, "/x.txt")}});
  service().putFile(user, "/x.txt", "second");
  std::string firstX = trashList()["Files"][0]["FileId"];
  EXPECT_EQ(api().post("file/restore.json", {{"session_id", s}, {"file_id", firstX}}).json()["Name"], "x (1).txt");

  std::string inner = fileId(s, "/sub/inner.txt");
  EXPECT_TRUE(api().del("file.json/" + s + "/" + inner).json().contains("DirUpdateTime"));
  EXPECT_FALSE(service().getFile(user, "/sub/inner.txt"));
  EXPECT_EQ(api().del("folder/trash.json/" + s).body, "true");
  EXPECT_TRUE(trashList()["Folders"].empty());
  EXPECT_EQ(api().post("folder/restore.json", {{"session_id", s}, {"folder_id", docs}}).status, 404)
      << "emptied for good";
}

TEST_F(TreeTest, DemoTrashHoldsTheOldDraft) {
  std::string s = api().login("demo@greyfox.test");
  auto t = api().get("folder/trashlist.json/" + s).json();
  EXPECT_EQ(names(t["Files"]), std::vector<std::string>{"old-draft.txt"});
}

TEST_F(TreeTest, InformationSettingsAndThumbnails) {
  std::string s = api().login("demo@greyfox.test");
  std::string readme = fileId(s, "/Documents/readme.txt");
  auto byParam = api().get("file/info.json", {{"session_id", s}, {"file_id", readme}}).json();
  auto byPath = api().get("file/info.json/" + readme, {{"session_id", s}}).json();
  for (const char* key : {"FileId", "Name", "Size", "DateModified", "Link", "DownloadLink", "StreamingLink", "Access",
                          "Description"})
    EXPECT_TRUE(byPath.contains(key)) << key;
  EXPECT_EQ(byParam["Name"], "readme.txt");
  EXPECT_EQ(byParam["FileId"], byPath["FileId"]);

  std::string user = newUser("settings");
  std::string us = api().login(user);
  service().putFile(user, "/d/pic.PNG", "not really an image");
  service().putFile(user, "/d/text.txt", "t");
  std::string pic = fileId(us, "/d/pic.PNG"), d = folderId(us, "/d");
  auto set = api().put("file/filesettings.json", {{"session_id", us}, {"file_id", pic}, {"file_description", "mine"},
                                                  {"file_access", "public"}, {"folder_access", "public"},
                                                  {"file_ispublic", "public"}});
  EXPECT_EQ(set.json()["FileId"], pic);
  EXPECT_EQ(api().get("file/info.json/" + pic, {{"session_id", us}}).json()["Description"], "mine");
  EXPECT_EQ(api().put("folder/foldersettings.json", {{"session_id", us}, {"folder_id", d}, {"access_folder_id", d},
                                                     {"folder_description", "a folder"}})
                .status,
            200);
  auto folderInfo = api().get("folder/info.json/" + us + "/" + d).json();
  EXPECT_EQ(folderInfo["Description"], "a folder");
  EXPECT_TRUE(folderInfo.contains("Link"));

  auto thumb = api().get("file/thumb.json/" + pic, {{"session_id", us}});
  EXPECT_EQ(thumb.status, 200);
  EXPECT_EQ(thumb.body.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(api().get("file/thumb.json/" + fileId(us, "/d/text.txt"), {{"session_id", us}}).status, 404);
}

}  // namespace
}  // namespace greyfox::test
