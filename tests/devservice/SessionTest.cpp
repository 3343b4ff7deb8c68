// Sign-in, two-factor accounts, sign-out, account creation and account figures.
#include "ServiceFixture.h"

namespace greyfox::test {
namespace {

class SessionTest : public ServiceTest {};

TEST_F(SessionTest, SignInAnswersTheSessionKeysOrAnErrorReply) {
  struct Case {
    const char* name;
    std::string user, password;
    long status;
  };
  const Case cases[] = {
      {"demo account", "demo@greyfox.test", "greyfox-demo", 200},
      {"wrong password", "demo@greyfox.test", "nope", 401},
      {"unknown user", "nobody@greyfox.test", "greyfox-demo", 401},
      {"empty password", "demo@greyfox.test", "", 401},
  };
  for (const auto& c : cases) {
    auto r = api().post("session/login.json", {{"username", c.user}, {"passwd", c.password}, {"version", "1"}});
    EXPECT_EQ(r.status, c.status) << c.name;
    auto j = r.json();
    if (c.status == 200) {
      for (const char* key : {"SessionID", "UserName", "AccType", "DriveName", "UserFirstName", "UserLastName", "UserID",
                              "UploadSpeedLimit", "Active2FA", "IsAccountUser"})
        EXPECT_TRUE(j.contains(key)) << c.name << " lacks " << key;
      EXPECT_EQ(j["DriveName"], "Greyfox") << c.name;
      EXPECT_EQ(j["Active2FA"], "0") << c.name;
    } else {
      ASSERT_EQ(j.size(), 1u) << c.name << ": " << r.body;
      EXPECT_EQ(j["error"]["code"], c.status) << c.name;
      EXPECT_EQ(r.errorMessage(), "Invalid username or password") << c.name;
    }
  }
}

TEST_F(SessionTest, SessionsAreRandomAndEndAtLogout) {
  std::string a = api().login("demo@greyfox.test"), b = api().login("demo@greyfox.test");
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(api().post("session/logout.json", {{"session_id", a}}).json()["result"], 1);
  auto refused = api().get("folder/list.json/" + a + "/0", {{"last_request_time", "0"}});
  EXPECT_EQ(refused.status, 401);
  EXPECT_EQ(refused.errorMessage(), "Invalid session");
  EXPECT_EQ(api().get("folder/list.json/" + b + "/0", {{"last_request_time", "0"}}).status, 200)
      << "another session of the same user stays";
}

TEST_F(SessionTest, TwoFactorSessionIsRefusedUntilTheSentCodeIsVerified) {
  auto login = api().post("session/login.json", {{"username", "twofa@greyfox.test"}, {"passwd", "greyfox-demo"}});
  ASSERT_EQ(login.json()["Active2FA"], "1");
  std::string s = login.json()["SessionID"];

  auto early = api().get("users/info.json/" + s);
  EXPECT_EQ(early.status, 401);
  EXPECT_EQ(early.errorMessage(), "Two-factor authentication required");
  EXPECT_EQ(api().get("users/authylogin.json/" + s + "/000000").status, 401) << "no code sent yet";

  ASSERT_EQ(api().get("users/authytokenviamessage.json/" + s).status, 200);
  std::string code = service().twoFactorCode("twofa@greyfox.test");
  ASSERT_EQ(code.size(), 6u);
  std::string wrong = code == "123456" ? "654321" : "123456";
  EXPECT_EQ(api().get("users/authylogin.json/" + s + "/" + wrong).errorMessage(), "Invalid two-factor code");
  EXPECT_EQ(api().get("users/info.json/" + s).status, 401) << "a wrong code opens nothing";

  EXPECT_EQ(api().get("users/authylogin.json/" + s + "/" + code).status, 200);
  EXPECT_EQ(api().get("users/info.json/" + s).status, 200);
}

TEST_F(SessionTest, AccountCreation) {
  auto body = [](const std::string& email, const std::string& p1, const std::string& p2) {
    return nlohmann::json{{"username", email}, {"email", email},        {"passwd", p1},
                          {"verify_passwd", p2}, {"first_name", "New"}, {"last_name", "Person"},
                          {"created_by_id", "Quillbox"}};
  };
  EXPECT_EQ(api().post("users.json", body("made@greyfox.test", "pw1", "pw1")).status, 200);
  std::string s = api().login("made@greyfox.test", "pw1");
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(list(s, "0")["ResponseType"], 1) << "a new account has an empty root";

  EXPECT_EQ(api().post("users.json", body("made@greyfox.test", "pw1", "pw1")).status, 409) << "taken";
  EXPECT_EQ(api().post("users.json", body("other@greyfox.test", "pw1", "pw2")).status, 400) << "mismatch";
  EXPECT_EQ(api().post("users.json", body("not-an-address", "pw1", "pw1")).status, 400) << "no address";
}

TEST_F(SessionTest, StorageFiguresFollowTheBytesStored) {
  std::string user = newUser("storage");
  std::string s = api().login(user);
  auto used = [&] { return api().get("users/info.json/" + s).json()["StorageUsed"].get<int64_t>(); };
  auto info = api().get("users/info.json/" + s).json();
  for (const char* key : {"MaxStorage", "StorageUsed", "BwUsed", "BwMax", "UserPlan"})
    EXPECT_TRUE(info.contains(key)) << key;
  EXPECT_EQ(info["MaxStorage"], 10240) << "the quota is given in mebibytes";
  EXPECT_EQ(used(), 0);

  service().putFile(user, "/a/one.bin", std::string(1000, 'x'));
  EXPECT_EQ(used(), 1000);
  ASSERT_EQ(api().uploadFile(s, "0", "two.bin", std::string(300, 'y')).status, 200);
  EXPECT_EQ(used(), 1300);
  ASSERT_EQ(api().uploadFile(s, "0", "two.bin", std::string(100, 'z')).status, 200);
  EXPECT_EQ(used(), 1100) << "replaced content counts once";

  std::string id = fileId(s, "/a/one.bin");
  ASSERT_EQ(api().post("file/trash.json", {{"session_id", s}, {"file_id", id}}).status, 200);
  EXPECT_EQ(used(), 1100) << "the trash still holds the bytes";
  ASSERT_EQ(api().del("folder/trash.json/" + s).status, 200);
  EXPECT_EQ(used(), 100);
}

TEST_F(SessionTest, SpeedLimitNotificationsAndLinks) {
  std::string user = newUser("limits");
  service().addUser({{"username", user}, {"upload_speed_limit", 1000}});
  std::string s = api().login(user);
  EXPECT_EQ(api().get("session/info.json/" + s).json()["UploadSpeedLimit"], 1000);
  service().addUser({{"username", user}, {"upload_speed_limit", 0}});
  EXPECT_EQ(api().get("session/info.json/" + s).json()["UploadSpeedLimit"], 0) << "changes show at once";

  EXPECT_TRUE(api().get("users/notifications.json/" + s, {{"app_version", "1"}}).json()["Notification"].empty());
  service().addNotification({{"user", user}, {"type", 1}, {"text", "Update ready"}, {"url", "https://x.test/u"}});
  auto list = api().get("users/notifications.json/" + s, {{"app_version", "1"}}).json()["Notification"];
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["Type"], 1);
  EXPECT_EQ(list[0]["Text"], "Update ready");
  EXPECT_EQ(list[0]["URL"], "https://x.test/u");

  auto billing = api().get("users/link.json/" + s, {{"type", "0"}}).json();
  auto account = api().get("users/link.json/" + s, {{"type", "1"}}).json();
  ASSERT_TRUE(billing.contains("Link"));
  ASSERT_TRUE(account.contains("Link"));
  EXPECT_NE(billing["Link"], account["Link"]);
}

}  // namespace
}  // namespace greyfox::test
