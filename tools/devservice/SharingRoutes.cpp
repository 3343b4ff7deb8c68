// Sharing folders between users, and the secure-folder verifier handshake.
#include <set>

#include "Service.h"

namespace greyfox::devservice {

namespace {

using Auth = Service::Auth;

std::string checkedMode(const std::string& mode) {
  if (mode != "0" && mode != "1") throw ApiError(400, "Invalid share mode");
  return mode;
}

Share ownShare(Call& call, const std::string& text) {
  std::optional<Share> share;
  try {
    share = call.store.findShare(std::stoll(text));
  } catch (const std::logic_error&) {
  }
  if (!share || share->ownerId != call.user.id) throw ApiError(404, "Sharing not found");
  return *share;
}

// The secure folder that governs `folderId`; 400 when there is none.
Folder secureFolderOf(Call& call, int64_t folderId) {
  int64_t root = call.store.secureRoot(folderId);
  if (root == 0) throw ApiError(400, "Folder is not encrypted");
  return call.store.folder(root);
}

}  // namespace

void registerSharingRoutes(Service& service) {
  Store& store = service.store();

  service.route("GET", "sharing/listsharedusers.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    nlohmann::json users = nlohmann::json::array();
    std::set<int64_t> seen;
    for (const auto& share : store.sharesWith(call.user.id)) {
      if (!seen.insert(share.ownerId).second) continue;
      users.push_back({{"Name", store.user(share.ownerId).username}, {"SharingID", "u" + std::to_string(share.ownerId)}});
    }
    replyJson(res, {{"ResponseType", 1}, {"DirUpdateTime", Store::now()}, {"SharedUsers", users}});
  });

  service.route("GET", "sharing/listsharedfolders.json", Auth::Session, true,
                [&store](Call& call, httplib::Response& res) {
                  std::string id = call.arg(0);
                  nlohmann::json folders = nlohmann::json::array();
                  bool known = false;
                  for (const auto& share : store.sharesWith(call.user.id)) {
                    if ("u" + std::to_string(share.ownerId) != id) continue;
                    known = true;
                    folders.push_back(folderJson(store, store.folder(share.folderId), call.user));
                  }
                  if (!known) throw ApiError(404, "Sharing not found");
                  replyJson(res, {{"ResponseType", 1}, {"DirUpdateTime", Store::now()}, {"SharedFolders", folders}});
                });

  service.route("GET", "sharing/listusers.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.arg(0)), Access::Read);
    if (f.ownerId != call.user.id) throw ApiError(403, "Only the owner can see who a folder is shared with");
    nlohmann::json users = nlohmann::json::array();
    for (const auto& share : store.sharesOfFolder(f.id))
      users.push_back({{"SharingID", std::to_string(share.id)},
                       {"Name", store.user(share.targetId).username},
                       {"ShareMode", share.mode}});
    replyJson(res, {{"ShareWithUser", users}});
  });

  service.route("POST", "sharing.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.require("folder_id")), Access::Read);
    if (f.ownerId != call.user.id) throw ApiError(403, "Only the owner can share a folder");
    if (f.isRoot()) throw ApiError(400, "The root folder cannot be shared");
    std::string mode = checkedMode(call.require("sharemode"));
    auto target = store.findUser(call.require("username"));
    if (!target) throw ApiError(404, "User not found");
    if (target->id == call.user.id) throw ApiError(400, "A folder cannot be shared with its owner");
    store.addShare(f.id, target->id, mode);
    replyJson(res, {{"DirUpdateTime", store.folder(f.id).updateTime}});
  });

  service.route("DELETE", "sharing.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    Share share = ownShare(call, call.arg(0));
    store.deleteShare(share.id);
    replyJson(res, {{"DirUpdateTime", store.folder(share.folderId).updateTime}});
  });

  service.route("PUT", "sharing/setmode.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Share share = ownShare(call, call.require("sharing_id"));
    store.setShareMode(share.id, checkedMode(call.require("sharemode")));
    replyJson(res, {{"result", 1}});
  });

  service.route("GET", "securefolders/auth.json", Auth::Session, true, [](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.arg(0)), Access::Read);
    Folder secure = secureFolderOf(call, f.id);
    if (secure.verifierHash.empty()) throw ApiError(403, "List subdir failed. Folder requires encryption key to be set");
    replyJson(res, {{"Data", secure.verifierData}});
  });

  service.route("POST", "securefolders/auth.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.require("folder_id")), Access::Read);
    Folder secure = secureFolderOf(call, f.id);
    if (secure.verifierHash.empty()) throw ApiError(403, "List subdir failed. Folder requires encryption key to be set");
    if (call.param("hash").empty() || call.param("hash") != secure.verifierHash)
      throw ApiError(403, "Incorrect password for the secure folder");
    store.openSecureFolder(call.session.id, secure.id);
    replyJson(res, {{"result", 1}});
  });

  // A folder that is not yet a secure folder becomes one here.
  service.route("POST", "securefolders/init.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.require("folder_id")), Access::Write);
    std::string data = call.require("data"), hash = call.require("hash");
    if (data.empty() || hash.empty()) throw ApiError(400, "Encryption data and hash must not be empty");
    int64_t root = store.secureRoot(f.id);
    if (root == 0) {
      store.setSecureMark(f.id);
      root = f.id;
    }
    if (!store.folder(root).verifierHash.empty()) throw ApiError(409, "Encryption key is already set");
    store.setVerifier(root, data, hash);
    replyJson(res, {{"result", 1}});
  });
}

}  // namespace greyfox::devservice
