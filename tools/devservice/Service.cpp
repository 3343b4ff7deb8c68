#include "Service.h"

#include <cstdio>

namespace greyfox::devservice {

namespace {
const std::string kApiPrefix = "/api/v1/";

std::string textOf(const nlohmann::json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
  if (v.is_null()) return "";
  return v.dump();
}
}  // namespace

std::string Call::param(const std::string& name) const {
  auto it = params.find(name);
  return it == params.end() ? std::string() : textOf(*it);
}

std::string Call::require(const std::string& name) const {
  if (!has(name)) throw ApiError(400, "Missing parameter: " + name);
  return param(name);
}

std::string Call::arg(size_t index) const {
  if (index >= args.size()) throw ApiError(400, "Missing path argument");
  return args[index];
}

Service::Service(Store& store, Faults& faults, std::string rootUrl)
    : store_(store), faults_(faults), rootUrl_(std::move(rootUrl)) {
  registerSessionRoutes(*this);
  registerTreeRoutes(*this);
  registerTransferRoutes(*this);
  registerSharingRoutes(*this);
}

void Service::route(const std::string& method, const std::string& endpoint, Auth auth, bool sessionInPath,
                    Handler handler) {
  routes_[method + " " + endpoint] = Route{auth, sessionInPath, std::move(handler)};
}

void Service::install(httplib::Server& server) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { dispatch(req, res); };
  std::string pattern = kApiPrefix + ".*";
  server.Get(pattern, handler);
  server.Post(pattern, handler);
  server.Put(pattern, handler);
  server.Delete(pattern, handler);
}

void Service::authenticate(Call& call, const Route& route) {
  std::string id;
  if (route.sessionInPath) {
    if (call.args.empty()) throw ApiError(401, "Invalid session");
    id = call.args.front();
    call.args.erase(call.args.begin());
  } else {
    id = call.param("session_id");
  }
  auto session = store_.findSession(id);
  if (!session) throw ApiError(401, "Invalid session");
  if (!session->verified && route.auth != Auth::PendingTwoFactor)
    throw ApiError(401, "Two-factor authentication required");
  call.session = *session;
  call.user = store_.user(session->userId);
}

void Service::dispatch(const httplib::Request& req, httplib::Response& res) {
  // "folder/list.json/S/F": the endpoint runs to the first component ending in
  // ".json"; the components after it are the path arguments.
  std::string rest = req.path.substr(kApiPrefix.size());
  std::vector<std::string> components;
  for (size_t start = 0; start <= rest.size();) {
    size_t slash = rest.find('/', start);
    if (slash == std::string::npos) slash = rest.size();
    components.push_back(rest.substr(start, slash - start));
    start = slash + 1;
  }
  std::string endpoint;
  size_t i = 0;
  for (; i < components.size(); ++i) {
    endpoint += (endpoint.empty() ? "" : "/") + components[i];
    if (components[i].ends_with(".json")) {
      ++i;
      break;
    }
  }
  std::string key = req.method + " " + endpoint;
  faults_.count(key);

  Call call{store_, req, req.method, endpoint, {}, nlohmann::json::object(), std::nullopt, {}, {}};
  for (; i < components.size(); ++i)
    if (!components[i].empty()) call.args.push_back(components[i]);

  if (auto fault = faults_.take(key)) {
    if (fault->kind == "busy") return replyError(res, 423, "Folder is busy");
    if (fault->kind == "empty503") {
      res.status = 503;
      return res.set_content("", "text/plain");
    }
    if (fault->kind == "malformed") {
      res.status = 200;
      return res.set_content("<html><body>Internal Server Error</body></html>", "text/html");
    }
    if (fault->kind == "delay") {
      if (!faults_.sleepFor(fault->seconds)) return replyError(res, 503, "Service is stopping");
    } else {
      call.fault = fault;
    }
  }

  auto it = routes_.find(key);
  if (it == routes_.end()) return replyError(res, 404, "Unknown endpoint: " + endpoint);

  try {
    for (const auto& [name, value] : req.params) call.params[name] = value;
    auto first = req.body.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && req.body[first] == '{') {
      auto body = nlohmann::json::parse(req.body, nullptr, false);
      if (!body.is_object()) throw ApiError(400, "Malformed JSON body");
      for (auto& [name, value] : body.items()) call.params[name] = value;
    }
    for (const auto& [name, part] : req.files)
      if (part.filename.empty()) call.params[name] = part.content;

    std::lock_guard lock(store_.mutex());
    if (it->second.auth != Auth::None) authenticate(call, it->second);
    it->second.handler(call, res);
  } catch (const ApiError& e) {
    replyError(res, e.status, e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s %s failed: %s\n", req.method.c_str(), req.path.c_str(), e.what());
    replyError(res, 500, std::string("Internal error: ") + e.what());
  }
}

void replyJson(httplib::Response& res, const nlohmann::json& body, int status) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

void replyError(httplib::Response& res, int status, const std::string& message) {
  replyJson(res, {{"error", {{"code", status}, {"message", message}}}}, status);
}

int64_t folderIdFrom(const Call& call, const std::string& text) {
  if (text == "0") return call.user.rootId;
  try {
    size_t used = 0;
    int64_t id = std::stoll(text, &used);
    if (used == text.size() && id > 0) return id;
  } catch (const std::logic_error&) {
  }
  throw ApiError(404, "Folder not found");
}

int64_t fileIdFrom(const std::string& text) {
  try {
    size_t used = 0;
    int64_t id = std::stoll(text, &used);
    if (used == text.size() && id > 0) return id;
  } catch (const std::logic_error&) {
  }
  throw ApiError(404, "File not found");
}

std::string apiFolderId(const Folder& f) { return f.isRoot() ? "0" : std::to_string(f.id); }

Folder folderFor(Call& call, int64_t folderId, Access needed, bool allowTrashed) {
  Store& store = call.store;
  auto f = store.findFolder(folderId);
  if (!f) throw ApiError(404, "Folder not found");
  if (!store.isLive(folderId) && !(allowTrashed && f->ownerId == call.user.id)) throw ApiError(404, "Folder not found");
  Access a = store.access(folderId, call.user.id);
  if (a == Access::None) throw ApiError(404, "Folder not found");
  if (needed == Access::Write && a != Access::Write)
    throw ApiError(403, "Access denied: the folder is shared with you for viewing only");
  return *f;
}

File fileFor(Call& call, int64_t fileId, Access needed, bool allowTrashed) {
  Store& store = call.store;
  auto f = store.findFile(fileId);
  if (!f) throw ApiError(404, "File not found");
  bool live = !f->trashed && store.isLive(f->folderId);
  if (!live && !(allowTrashed && f->ownerId == call.user.id)) throw ApiError(404, "File not found");
  Access a = store.access(f->folderId, call.user.id);
  if (a == Access::None) throw ApiError(404, "File not found");
  if (needed == Access::Write && a != Access::Write)
    throw ApiError(403, "Access denied: the folder is shared with you for viewing only");
  return *f;
}

namespace {
void addShareMode(Store& store, nlohmann::json& entry, int64_t folderId, int64_t ownerId, const User& viewer) {
  if (ownerId == viewer.id) return;
  entry["ShareMode"] = store.access(folderId, viewer.id) == Access::Write ? 1 : 0;
}
}  // namespace

nlohmann::json folderJson(Store& store, const Folder& f, const User& viewer) {
  nlohmann::json entry = {{"FolderID", apiFolderId(f)},
                          {"Name", f.name},
                          {"Encrypted", store.secureRoot(f.id) != 0 ? 1 : 0},
                          {"DateCreated", f.created},
                          {"DateModified", f.modified}};
  addShareMode(store, entry, f.id, f.ownerId, viewer);
  return entry;
}

nlohmann::json fileJson(Store& store, const File& f, const User& viewer) {
  nlohmann::json entry = {{"FileId", std::to_string(f.id)},
                          {"Name", f.name},
                          {"Size", f.size},
                          {"DateModified", f.modified},
                          {"RequireCompression", 0}};
  addShareMode(store, entry, f.folderId, f.ownerId, viewer);
  return entry;
}

}  // namespace greyfox::devservice
