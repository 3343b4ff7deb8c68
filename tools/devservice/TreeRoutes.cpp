// Folders and files: look-ups by path and id, listings, create, move, copy,
// rename, trash, restore, delete, settings and item information.
#include "Service.h"

namespace greyfox::devservice {

namespace {

using Auth = Service::Auth;

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> out;
  for (size_t start = 0; start < path.size();) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) out.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return out;
}

// The owner named by a shared-user id "u<N>" as the shared-users listing gives it.
std::optional<int64_t> ownerOfSharingId(const std::string& id) {
  if (id.size() < 2 || id[0] != 'u') return std::nullopt;
  try {
    return std::stoll(id.substr(1));
  } catch (const std::logic_error&) {
    return std::nullopt;
  }
}

// The folder at the path's components, or nullopt. Paths inside folders shared
// with the caller start at "/Shared Folders/<owner>/<shared folder>", or at
// "/<shared folder>" when "sharing_id" names the owner.
std::optional<int64_t> resolveFolder(Call& call, std::vector<std::string> parts) {
  Store& store = call.store;
  int64_t current = call.user.rootId;
  std::optional<int64_t> owner;
  if (!parts.empty() && parts[0] == "Shared Folders") {
    if (parts.size() < 2) return std::nullopt;
    auto u = store.findUser(parts[1]);
    if (!u) return std::nullopt;
    owner = u->id;
    parts.erase(parts.begin(), parts.begin() + 2);
  } else if (call.has("sharing_id")) {
    owner = ownerOfSharingId(call.param("sharing_id"));
    if (!owner) return std::nullopt;
  }
  if (owner && *owner != call.user.id) {
    if (parts.empty()) return std::nullopt;
    bool found = false;
    for (const auto& share : store.sharesWith(call.user.id)) {
      Folder shared = store.folder(share.folderId);
      if (share.ownerId == *owner && shared.name == parts[0]) {
        current = shared.id;
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
    parts.erase(parts.begin());
  }
  for (const auto& name : parts) {
    auto child = store.childFolderNamed(current, name);
    if (!child) return std::nullopt;
    current = child->id;
  }
  return current;
}

std::string parentIdOf(Store& store, const Folder& f) {
  return f.isRoot() ? std::string() : apiFolderId(store.folder(f.parentId));
}

nlohmann::json dirUpdate(Store& store, int64_t folderId) {
  return {{"DirUpdateTime", store.folder(folderId).updateTime}};
}

nlohmann::json fileInfoJson(Service& service, const File& f, const User& viewer) {
  nlohmann::json j = fileJson(service.store(), f, viewer);
  std::string id = std::to_string(f.id);
  j["Link"] = service.rootUrl() + "/file/" + id;
  j["DownloadLink"] = service.rootUrl() + "/file/" + id + "/download";
  j["StreamingLink"] = service.rootUrl() + "/file/" + id + "/stream";
  j["Access"] = f.access.empty() ? "private" : f.access;
  j["Description"] = f.description;
  return j;
}

// A folder shared with the caller may be changed inside, but the shared folder
// itself (renamed, moved, trashed, deleted) only by its owner.
void requireOwnPlace(Call& call, const Folder& f) {
  if (f.ownerId != call.user.id && !f.isRoot() && call.store.access(f.parentId, call.user.id) != Access::Write)
    throw ApiError(403, "Access denied: a shared folder can only be changed by its owner");
}

bool wantsCopy(const Call& call) { return call.has("move") && call.param("move") != "true" && call.param("move") != "1"; }

}  // namespace

void registerTreeRoutes(Service& service) {
  Store& store = service.store();

  service.route("POST", "folder/idbypath.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    auto id = resolveFolder(call, splitPath(call.require("path")));
    if (!id || !store.isLive(*id) || store.access(*id, call.user.id) == Access::None)
      throw ApiError(404, "Folder not found");
    replyJson(res, {{"FolderId", apiFolderId(store.folder(*id))}});
  });

  service.route("POST", "file/idbypath.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    auto parts = splitPath(call.require("path"));
    if (parts.empty()) throw ApiError(404, "File not found");
    std::string name = parts.back();
    parts.pop_back();
    auto folder = resolveFolder(call, parts);
    std::optional<File> file;
    if (folder && store.isLive(*folder) && store.access(*folder, call.user.id) != Access::None)
      file = store.childFileNamed(*folder, name);
    if (!file) throw ApiError(404, "File not found");
    replyJson(res, {{"FileId", std::to_string(file->id)}});
  });

  service.route("GET", "folder/path.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.arg(0)), Access::Read);
    replyJson(res, {{"Path", store.folderPath(f.id)}});
  });

  service.route("GET", "file/path.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    File f = fileFor(call, fileIdFrom(call.arg(0)), Access::Read);
    replyJson(res, {{"Path", store.filePath(f)}});
  });

  service.route("POST", "folder.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder parent = folderFor(call, folderIdFrom(call, call.require("folder_sub_parent")), Access::Write);
    int64_t id = store.createFolder(parent.id, call.require("folder_name"));
    replyJson(res, folderJson(store, store.folder(id), call.user));
  });

  service.route("GET", "folder/list.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.arg(0)), Access::Read);
    if (int64_t secure = store.secureRoot(f.id)) {
      if (store.folder(secure).verifierHash.empty())
        throw ApiError(403, "List subdir failed. Folder requires encryption key to be set");
      if (!store.isSecureFolderOpen(call.session.id, secure))
        throw ApiError(403, "List subdir failed. Folder requires encryption authentication");
    }
    nlohmann::json reply = {{"Name", f.name}, {"ParentFolderID", parentIdOf(store, f)}, {"DirUpdateTime", f.updateTime}};
    int64_t since = 0;
    try {
      since = call.has("last_request_time") ? std::stoll(call.param("last_request_time")) : 0;
    } catch (const std::logic_error&) {
      throw ApiError(400, "Invalid last_request_time");
    }
    if (since > 0 && since >= f.updateTime) {
      reply["ResponseType"] = 0;
      return replyJson(res, reply);
    }
    reply["ResponseType"] = 1;
    reply["Folders"] = nlohmann::json::array();
    reply["Files"] = nlohmann::json::array();
    for (const auto& child : store.childFolders(f.id)) reply["Folders"].push_back(folderJson(store, child, call.user));
    for (const auto& child : store.childFiles(f.id)) reply["Files"].push_back(fileJson(store, child, call.user));
    replyJson(res, reply);
  });

  service.route("POST", "folder/move_copy.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    bool copy = wantsCopy(call);
    Folder src = folderFor(call, folderIdFrom(call, call.require("folder_id")), copy ? Access::Read : Access::Write);
    Folder dst = folderFor(call, folderIdFrom(call, call.require("dst_folder_id")), Access::Write);
    if (!copy) requireOwnPlace(call, src);
    int64_t id = store.moveFolder(src.id, dst.id, call.param("new_folder_name"), copy);
    replyJson(res, folderJson(store, store.folder(id), call.user));
  });

  service.route("POST", "folder/remove.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.require("folder_id")), Access::Write, true);
    if (f.isRoot()) throw ApiError(400, "The root folder cannot be deleted");
    requireOwnPlace(call, f);
    store.deleteFolder(f.id);
    replyJson(res, dirUpdate(store, f.parentId));
  });

  service.route("POST", "folder/trash.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.require("folder_id")), Access::Write);
    if (f.isRoot()) throw ApiError(400, "The root folder cannot be trashed");
    requireOwnPlace(call, f);
    store.trashFolder(f.id);
    replyJson(res, dirUpdate(store, f.parentId));
  });

  service.route("POST", "folder/restore.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.require("folder_id")), Access::Write, true);
    store.restoreFolder(f.id);
    replyJson(res, dirUpdate(store, store.folder(f.id).parentId));
  });

  service.route("PUT", "folder/foldersettings.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.require("folder_id")), Access::Write);
    store.setFolderSettings(f.id, call.params);
    replyJson(res, {{"result", 1}});
  });

  service.route("GET", "folder/info.json", Auth::Session, true, [&service, &store](Call& call, httplib::Response& res) {
    Folder f = folderFor(call, folderIdFrom(call, call.arg(0)), Access::Read);
    nlohmann::json j = folderJson(store, f, call.user);
    j["Link"] = service.rootUrl() + "/folder/" + std::to_string(f.id);
    j["Description"] = f.description;
    j["Access"] = f.access.empty() ? "0" : f.access;
    replyJson(res, j);
  });

  service.route("GET", "folder/trashlist.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    // Items inside a trashed folder travel with it and are not listed apart.
    nlohmann::json reply = {{"Name", "Trash"},
                            {"ParentFolderID", "0"},
                            {"DirUpdateTime", call.user.trashTime},
                            {"ResponseType", 1},
                            {"Folders", nlohmann::json::array()},
                            {"Files", nlohmann::json::array()}};
    for (const auto& f : store.trashedFolders(call.user.id))
      if (store.isLive(f.parentId)) reply["Folders"].push_back(folderJson(store, f, call.user));
    for (const auto& f : store.trashedFiles(call.user.id))
      if (store.isLive(f.folderId)) reply["Files"].push_back(fileJson(store, f, call.user));
    replyJson(res, reply);
  });

  service.route("DELETE", "folder/trash.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    store.emptyTrash(call.user.id);
    res.set_content("true", "application/json");
  });

  service.route("DELETE", "file.json", Auth::Session, true, [&store](Call& call, httplib::Response& res) {
    File f = fileFor(call, fileIdFrom(call.arg(0)), Access::Write, true);
    store.deleteFile(f.id);
    replyJson(res, dirUpdate(store, f.folderId));
  });

  service.route("POST", "file/trash.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    File f = fileFor(call, fileIdFrom(call.require("file_id")), Access::Write);
    store.trashFile(f.id);
    replyJson(res, dirUpdate(store, f.folderId));
  });

  service.route("POST", "file/restore.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    File f = fileFor(call, fileIdFrom(call.require("file_id")), Access::Write, true);
    store.restoreFile(f.id);
    replyJson(res, fileJson(store, store.file(f.id), call.user));
  });

  service.route("POST", "file/move_copy.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    bool copy = wantsCopy(call);
    File src = fileFor(call, fileIdFrom(call.require("src_file_id")), copy ? Access::Read : Access::Write);
    Folder dst = folderFor(call, folderIdFrom(call, call.require("dst_folder_id")), Access::Write);
    bool overwrite = call.param("overwrite_if_exists") == "true" || call.param("overwrite_if_exists") == "1";
    int64_t id = store.moveFile(src.id, dst.id, call.param("new_file_name"), copy, overwrite);
    replyJson(res, fileJson(store, store.file(id), call.user));
  });

  // One endpoint, two forms: "file_id" as a parameter, or the id as a path argument.
  service.route("GET", "file/info.json", Auth::Session, false, [&service](Call& call, httplib::Response& res) {
    std::string id = call.has("file_id") ? call.param("file_id") : call.arg(0);
    File f = fileFor(call, fileIdFrom(id), Access::Read);
    replyJson(res, fileInfoJson(service, f, call.user));
  });

  service.route("PUT", "file/filesettings.json", Auth::Session, false,
                [&service, &store](Call& call, httplib::Response& res) {
                  File f = fileFor(call, fileIdFrom(call.require("file_id")), Access::Write);
                  store.setFileSettings(f.id, call.params);
                  replyJson(res, fileInfoJson(service, store.file(f.id), call.user));
                });
}

}  // namespace greyfox::devservice
