// Sharing between users, access checks of shared folders, and the
// secure-folder handshake.
#include "ServiceFixture.h"
#include "secure/SecureFilesData.h"
#include "secure/SecureFolderSeed.h"

namespace greyfox::test {
namespace {

class SharingTest : public ServiceTest {
 protected:
  static constexpr const char* kFriend = "friend@greyfox.test";
  std::string friendSharingId(const std::string& s) {
    auto users = api().get("sharing/listsharedusers.json/" + s).json();
    for (const auto& u : users["SharedUsers"])
      if (u["Name"] == kFriend) return u["SharingID"];
    ADD_FAILURE() << "friend not among " << users.dump();
    return "";
  }
};

TEST_F(SharingTest, DemoSeesTheFriendsFoldersWithTheirModes) {
  std::string s = api().login("demo@greyfox.test");
  std::string sharing = friendSharingId(s);
  auto shared = api().get("sharing/listsharedfolders.json/" + s + "/" + sharing).json();
  EXPECT_EQ(shared["ResponseType"], 1);
  std::map<std::string, int> modes;
  for (const auto& f : shared["SharedFolders"]) modes[f["Name"]] = f["ShareMode"];
  EXPECT_EQ(modes, (std::map<std::string, int>{{"Archive", 0}, {"Projects", 1}}));

  std::string projects = folderId(s, "/Shared Folders/friend@greyfox.test/Projects");
  EXPECT_EQ(folderId(s, "/Projects", {{"sharing_id", sharing}}), projects) << "the same folder by sharing id";
  auto listing = list(s, projects, "0", {{"sharing_id", sharing}});
  EXPECT_EQ(names(listing["Files"]), (std::vector<std::string>{"plan.txt", "todo.md"}));
  std::string plan = fileId(s, "/Shared Folders/friend@greyfox.test/Projects/plan.txt");
  EXPECT_EQ(api().get("download/file.json/" + plan, {{"session_id", s}, {"sharing_id", sharing}}).body,
            service().getFile(kFriend, "/Projects/plan.txt"));
  EXPECT_EQ(api().get("sharing/listsharedfolders.json/" + s + "/u99999").status, 404);
}

TEST_F(SharingTest, ViewModeRefusesWritesThatFullModeAllows) {
  std::string s = api().login("demo@greyfox.test");
  std::string sharing = friendSharingId(s);
  std::string projects = folderId(s, "/Shared Folders/friend@greyfox.test/Projects");
  std::string archive = folderId(s, "/Shared Folders/friend@greyfox.test/Archive");
  std::string report = fileId(s, "/Shared Folders/friend@greyfox.test/Archive/2019-report.txt");

  ASSERT_EQ(api().uploadFile(s, projects, "from-demo.txt", "hello friend").status, 200);
  EXPECT_EQ(service().getFile(kFriend, "/Projects/from-demo.txt"), "hello friend") << "lands in the owner's tree";

  struct Case {
    const char* name;
    std::string endpoint;
    nlohmann::json body;
  };
  const Case writes[] = {
      {"create file", "upload/create_file.json", {{"folder_id", archive}, {"file_name", "x.txt"}, {"file_size", 1}}},
      {"create folder", "folder.json", {{"folder_name", "x"}, {"folder_sub_parent", archive}}},
      {"open upload", "upload/open_file_upload.json", {{"file_id", report}, {"file_size", 1}}},
      {"trash file", "file/trash.json", {{"file_id", report}}},
      {"rename file", "file/move_copy.json",
       {{"src_file_id", report}, {"dst_folder_id", archive}, {"move", "true"}, {"new_file_name", "y.txt"}}},
      {"move file out", "file/move_copy.json", {{"src_file_id", report}, {"dst_folder_id", "0"}, {"move", "true"}}},
  };
  for (auto c : writes) {
    c.body["session_id"] = s;
    c.body["sharing_id"] = sharing;
    auto r = api().post(c.endpoint, c.body);
    EXPECT_EQ(r.status, 403) << c.name << ": " << r.body;
  }
  EXPECT_EQ(api().del("file.json/" + s + "/" + report).status, 403) << "delete";
  EXPECT_EQ(service().getFile(kFriend, "/Archive/2019-report.txt")->substr(0, 6), "Annual") << "untouched";
  EXPECT_EQ(api().get("download/file.json/" + report, {{"session_id", s}}).status, 200) << "reading is allowed";
}

TEST_F(SharingTest, OwnerSharesChangesAndRemovesAShare) {
  std::string owner = newUser("owner"), guest = newUser("guest");
  std::string so = api().login(owner), sg = api().login(guest);
  service().putFile(owner, "/team/doc.txt", "d");
  std::string team = folderId(so, "/team");

  auto share = [&](const std::string& user, const std::string& mode) {
    return api().post("sharing.json", {{"session_id", so}, {"folder_id", team}, {"username", user}, {"sharemode", mode}});
  };
  EXPECT_EQ(share("nobody@greyfox.test", "0").status, 404);
  EXPECT_EQ(share(owner, "0").status, 400);
  EXPECT_EQ(share(guest, "7").status, 400);
  EXPECT_TRUE(share(guest, "0").json().contains("DirUpdateTime"));

  auto users = api().get("sharing/listusers.json/" + so + "/" + team).json()["ShareWithUser"];
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0]["Name"], guest);
  EXPECT_EQ(users[0]["ShareMode"], "0");
  std::string shareId = users[0]["SharingID"];
  EXPECT_EQ(api().get("sharing/listusers.json/" + sg + "/" + team).status, 403) << "only the owner sees the list";

  auto guestCreate = [&] {
    return api().post("folder.json", {{"session_id", sg}, {"folder_name", "new"}, {"folder_sub_parent", team}}).status;
  };
  EXPECT_EQ(guestCreate(), 403);
  EXPECT_EQ(api().put("sharing/setmode.json", {{"session_id", sg}, {"sharing_id", shareId}, {"sharemode", "1"}}).status,
            404)
      << "the guest cannot change the share";
  EXPECT_EQ(api().put("sharing/setmode.json", {{"session_id", so}, {"sharing_id", shareId}, {"sharemode", "1"}}).status,
            200);
  EXPECT_EQ(guestCreate(), 200);

  EXPECT_TRUE(api().del("sharing.json/" + so + "/" + shareId).json().contains("DirUpdateTime"));
  EXPECT_TRUE(api().get("sharing/listsharedusers.json/" + sg).json()["SharedUsers"].empty());
  EXPECT_EQ(api().get("folder/list.json/" + sg + "/" + team, {{"last_request_time", "0"}}).status, 404);
}

TEST_F(SharingTest, ItemsMoveIntoAndOutOfASharedFolder) {
  std::string owner = newUser("mover"), guest = newUser("helper");
  std::string so = api().login(owner), sg = api().login(guest);
  service().putFile(owner, "/shared/a.txt", "a");
  service().putFile(guest, "/mine/b.txt", "b");
  std::string shared = folderId(so, "/shared");
  ASSERT_EQ(api().post("sharing.json", {{"session_id", so}, {"folder_id", shared}, {"username", guest}, {"sharemode", "1"}})
                .status,
            200);
  std::string b = fileId(sg, "/mine/b.txt"), mine = folderId(sg, "/mine");
  auto in = api().post("file/move_copy.json", {{"session_id", sg}, {"src_file_id", b}, {"dst_folder_id", shared},
                                               {"move", "true"}, {"overwrite_if_exists", "true"}});
  ASSERT_EQ(in.status, 200) << in.body;
  EXPECT_EQ(service().getFile(owner, "/shared/b.txt"), "b");
  EXPECT_FALSE(service().getFile(guest, "/mine/b.txt"));

  std::string a = fileId(so, "/shared/a.txt");
  auto out = api().post("file/move_copy.json", {{"session_id", sg}, {"src_file_id", a}, {"dst_folder_id", mine},
                                                {"move", "true"}, {"overwrite_if_exists", "true"}});
  ASSERT_EQ(out.status, 200) << out.body;
  EXPECT_EQ(service().getFile(guest, "/mine/a.txt"), "a");
  const std::pair<const char*, nlohmann::json> ownerOnly[] = {
      {"folder/move_copy.json", {{"folder_id", shared}, {"dst_folder_id", mine}, {"move", "true"}}},
      {"folder/move_copy.json", {{"folder_id", shared}, {"dst_folder_id", "0"}, {"move", "true"}, {"new_folder_name", "r"}}},
      {"folder/trash.json", {{"folder_id", shared}}},
      {"folder/remove.json", {{"folder_id", shared}}},
  };
  for (auto [endpoint, body] : ownerOnly) {
    body["session_id"] = sg;
    EXPECT_EQ(api().post(endpoint, body).status, 403) << endpoint << " " << body.dump();
  }
  EXPECT_EQ(service().getFile(owner, "/shared/b.txt"), "b") << "the shared folder itself stays with its owner";
}

// --- Secure folders ---

class SecureFolderTest : public ServiceTest {};

TEST_F(SecureFolderTest, DemoSecureFolderOpensWithItsPasswordOnly) {
  std::string s = api().login("demo@greyfox.test");
  std::string secure = folderId(s, "/Secure");
  auto locked = api().get("folder/list.json/" + s + "/" + secure, {{"last_request_time", "0"}});
  EXPECT_EQ(locked.status, 403);
  EXPECT_TRUE(locked.errorMessage().ends_with("Folder requires encryption authentication")) << locked.body;

  std::string data = api().get("securefolders/auth.json/" + s + "/" + secure).json().value("Data", "");
  EXPECT_FALSE(secureFolderHashForPassword("greyfox-demo", data)) << "another password must not open it";
  auto hash = secureFolderHashForPassword("greyfox-secure", data);
  ASSERT_TRUE(hash);
  ASSERT_EQ(api().post("securefolders/auth.json", {{"session_id", s}, {"folder_id", secure}, {"hash", *hash}}).status, 200);
  auto listing = list(s, secure);
  EXPECT_EQ(names(listing["Files"]), std::vector<std::string>{"secret.txt"}) << listing.dump();

  auto stored = service().getFile("demo@greyfox.test", "/Secure/secret.txt");
  ASSERT_TRUE(stored);
  std::string buffer = *stored;
  auto plain = decryptWithKey(buffer, secureFolderKey("greyfox-secure"));
  ASSERT_TRUE(plain);
  EXPECT_NE(plain->find("encrypted"), std::string::npos);
  EXPECT_EQ(listing["Files"][0].value("Size", int64_t{-1}), static_cast<int64_t>(plain->size()))
      << "a secure file is listed with its plaintext size";
}

TEST_F(SecureFolderTest, HandshakeOpensTheFolderForThatSessionOnly) {
  std::string user = newUser("secure");
  service().encryptFolder(user, "/vault");
  std::string s = api().login(user), other = api().login(user);
  std::string vault = folderId(s, "/vault");
  auto listVault = [&](const std::string& session) {
    return api().get("folder/list.json/" + session + "/" + vault, {{"last_request_time", "0"}, {"encryption_supported", "1"}});
  };
  EXPECT_TRUE(listVault(s).errorMessage().ends_with("List subdir failed. Folder requires encryption key to be set"));
  EXPECT_EQ(api().get("securefolders/auth.json/" + s + "/" + vault).status, 403) << "no verifier yet";

  const std::string data = "00ff" + std::string(368, 'a'), hash = std::string(64, 'b');
  ASSERT_EQ(api().post("securefolders/init.json", {{"session_id", s}, {"folder_id", vault}, {"data", data}, {"hash", hash}})
                .status,
            200);
  EXPECT_EQ(api().post("securefolders/init.json", {{"session_id", s}, {"folder_id", vault}, {"data", "x"}, {"hash", "y"}})
                .status,
            409)
      << "the verifier is set once";
  EXPECT_TRUE(listVault(s).errorMessage().ends_with("Folder requires encryption authentication"));
  EXPECT_EQ(api().get("securefolders/auth.json/" + s + "/" + vault).json()["Data"], data);

  for (std::string wrong : {std::string(64, 'c'), std::string()}) {
    auto refused = api().post("securefolders/auth.json", {{"session_id", s}, {"folder_id", vault}, {"hash", wrong}});
    EXPECT_EQ(refused.status, 403) << "hash '" << wrong << "'";
    EXPECT_FALSE(refused.errorMessage().empty()) << "an error reply";
    EXPECT_NE(refused.errorMessage(), "Open encrypted directory failed") << "the client reads that as success";
  }
  EXPECT_EQ(listVault(s).status, 403);

  ASSERT_EQ(api().post("securefolders/auth.json", {{"session_id", s}, {"folder_id", vault}, {"hash", hash}}).status, 200);
  EXPECT_EQ(listVault(s).json()["ResponseType"], 1);
  EXPECT_EQ(listVault(other).status, 403) << "another session has not proved the hash";

  // A subfolder is part of the secure folder: listed as encrypted, opened by the same proof.
  auto sub = api().post("folder.json", {{"session_id", s}, {"folder_name", "inner"}, {"folder_sub_parent", vault}});
  EXPECT_EQ(sub.json()["Encrypted"], 1);
  std::string inner = sub.json()["FolderID"];
  EXPECT_EQ(api().get("folder/list.json/" + s + "/" + inner, {{"last_request_time", "0"}}).status, 200);
  EXPECT_EQ(api().get("securefolders/auth.json/" + other + "/" + inner).json()["Data"], data);
}

TEST_F(SecureFolderTest, CiphertextIsKeptAsSentWithThePlaintextSize) {
  std::string user = newUser("cipher");
  service().encryptFolder(user, "/vault");
  std::string s = api().login(user);
  std::string vault = folderId(s, "/vault");
  std::string ciphertext = std::string("\x00\x01\xfe\xff", 4) + std::string(186, '\x7f');
  auto created = api().post("upload/create_file.json",
                            {{"session_id", s}, {"folder_id", vault}, {"file_name", "p.txt"}, {"file_size", 100}});
  std::string id = created.json()["FileId"], temp = created.json()["TempLocation"];
  ASSERT_EQ(api().uploadChunk(s, id, temp, 0, ciphertext).status, 200);
  auto closed = api().post("upload/close_file_upload.json",
                           {{"session_id", s}, {"file_id", id}, {"file_size", 100}, {"temp_location", temp}});
  ASSERT_EQ(closed.status, 200) << closed.body;
  EXPECT_EQ(closed.json()["Size"], 100);
  EXPECT_TRUE(service().getFile(user, "/vault/p.txt") == ciphertext);
  EXPECT_TRUE(api().get("download/file.json/" + id, {{"session_id", s}}).body == ciphertext);
}

}  // namespace
}  // namespace greyfox::test
