// Sign-in, two-factor codes, sign-out, account creation and account figures.
#include <random>

#include "Service.h"

namespace greyfox::devservice {

namespace {

// The plan's quota in mebibytes, the unit the client reads "MaxStorage" in.
constexpr int64_t kMaxStorageMiB = 10LL * 1024;
constexpr int64_t kMaxBandwidth = 100LL * 1024 * 1024 * 1024;

nlohmann::json sessionJson(const User& u, const std::string& sessionId) {
  return {{"SessionID", sessionId},
          {"UserName", u.username},
          {"AccType", 1},
          {"DriveName", u.driveName},
          {"UserFirstName", u.firstName},
          {"UserLastName", u.lastName},
          {"UserID", std::to_string(u.id)},
          {"UploadSpeedLimit", u.uploadSpeedLimit},
          {"Active2FA", u.active2fa ? "1" : "0"},
          {"IsAccountUser", 0}};
}

const nlohmann::json kOk = {{"result", 1}};

}  // namespace

void registerSessionRoutes(Service& service) {
  using Auth = Service::Auth;
  Store& store = service.store();

  service.route("POST", "session/login.json", Auth::None, false, [&store](Call& call, httplib::Response& res) {
    auto user = store.findUser(call.require("username"));
    if (!user || user->password != call.require("passwd")) throw ApiError(401, "Invalid username or password");
    std::string id = store.createSession(user->id, !user->active2fa);
    replyJson(res, sessionJson(*user, id));
  });

  service.route("GET", "session/info.json", Auth::Session, true, [](Call& call, httplib::Response& res) {
    replyJson(res, sessionJson(call.user, call.session.id));
  });

  service.route("GET", "users/authytokenviamessage.json", Auth::PendingTwoFactor, true,
                [&store](Call& call, httplib::Response& res) {
                  static std::random_device device;
                  std::string code = std::to_string(100000 + device() % 900000);
                  store.setTwoFactorCode(call.user.id, code);
                  replyJson(res, kOk);
                });

  service.route("GET", "users/authylogin.json", Auth::PendingTwoFactor, true,
                [&store](Call& call, httplib::Response& res) {
                  const std::string& expected = call.user.lastTwoFactorCode;
                  if (expected.empty() || call.arg(0) != expected) throw ApiError(401, "Invalid two-factor code");
                  store.verifySession(call.session.id);
                  store.setTwoFactorCode(call.user.id, "");
                  replyJson(res, kOk);
                });

  service.route("POST", "session/logout.json", Auth::PendingTwoFactor, false,
                [&store](Call& call, httplib::Response& res) {
                  store.deleteSession(call.session.id);
                  replyJson(res, kOk);
                });

  service.route("POST", "users.json", Auth::None, false, [&store](Call& call, httplib::Response& res) {
    std::string username = call.has("username") ? call.param("username") : call.require("email");
    std::string password = call.require("passwd");
    if (username.empty() || username.find('@') == std::string::npos) throw ApiError(400, "Invalid e-mail address");
    if (password.empty()) throw ApiError(400, "Password is required");
    if (call.has("verify_passwd") && call.param("verify_passwd") != password)
      throw ApiError(400, "Passwords do not match");
    if (store.findUser(username)) throw ApiError(409, "User already exists");
    User u = store.upsertUser({{"username", username},
                               {"password", password},
                               {"first_name", call.param("first_name")},
                               {"last_name", call.param("last_name")}});
    replyJson(res, {{"result", 1}, {"UserID", std::to_string(u.id)}});
  });

  service.route("GET", "users/info.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    replyJson(res, {{"MaxStorage", kMaxStorageMiB},
                    {"StorageUsed", store.storageUsed(call.user.id)},
                    {"BwUsed", call.user.bandwidthUsed},
                    {"BwMax", kMaxBandwidth},
                    {"UserPlan", "Personal 10 GB"}});
  });

  service.route("GET", "users/link.json", Auth::Session, true, [&service](Call& call, httplib::Response& res) {
    std::string type = call.require("type");
    if (type != "0" && type != "1") throw ApiError(400, "Unknown link type");
    replyJson(res, {{"Link", service.rootUrl() + (type == "0" ? "/billing" : "/account")}});
  });

  service.route("GET", "users/notifications.json", Auth::Session, true,
                [&store](Call& call, httplib::Response& res) {
                  replyJson(res, {{"Notification", store.notifications(call.user.id)}});
                });
}

}  // namespace greyfox::devservice
