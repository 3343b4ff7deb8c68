// The service's HTTP face: every endpoint under "/api/v1/", with the client's
// encodings (JSON bodies for POST and PUT, query pairs for GET and DELETE,
// multipart chunk uploads), the session id where the client puts it, request
// counting and injected faults, and error replies
// {"error":{"code":N,"message":"..."}}.
//
// Handlers run on httplib's worker threads, one request at a time under the
// store's mutex; a download's bytes stream afterwards without it.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "Faults.h"
#include "Store.h"

namespace greyfox::devservice {

// One API request as the handlers see it.
struct Call {
  Store& store;
  const httplib::Request& req;
  std::string method, endpoint;
  std::vector<std::string> args;  // path components after the endpoint (and after the session id)
  nlohmann::json params = nlohmann::json::object();
  std::optional<Fault> fault;  // a fault for the handler to act out ("stall", "cut", "offset", "processing")
  Session session;
  User user;

  bool has(const std::string& name) const { return params.contains(name); }
  // The parameter as text ("" when missing).
  std::string param(const std::string& name) const;
  // The parameter as text; 400 "Missing parameter: NAME" when missing.
  std::string require(const std::string& name) const;
  // The path argument at `index`; 400 when missing.
  std::string arg(size_t index) const;
};

class Service {
 public:
  enum class Auth { None, Session, PendingTwoFactor };
  using Handler = std::function<void(Call&, httplib::Response&)>;

  // `rootUrl` is the scheme and authority ("http://127.0.0.1:8080"), used in links.
  Service(Store& store, Faults& faults, std::string rootUrl);
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Registers the API routes on `server`.
  void install(httplib::Server& server);
  // Adds one endpoint. `sessionInPath`: the session id is the first path
  // argument, else the parameter "session_id". PendingTwoFactor admits a
  // session whose two-factor code is not yet verified.
  void route(const std::string& method, const std::string& endpoint, Auth auth, bool sessionInPath, Handler handler);

  Store& store() { return store_; }
  Faults& faults() { return faults_; }
  const std::string& rootUrl() const { return rootUrl_; }

 private:
  struct Route {
    Auth auth;
    bool sessionInPath;
    Handler handler;
  };
  void dispatch(const httplib::Request& req, httplib::Response& res);
  void authenticate(Call& call, const Route& route);

  Store& store_;
  Faults& faults_;
  std::string rootUrl_;
  std::map<std::string, Route> routes_;  // "METHOD endpoint"; filled before serving, read-only after
};

// --- Helpers shared by the route files ---

void replyJson(httplib::Response& res, const nlohmann::json& body, int status = 200);
void replyError(httplib::Response& res, int status, const std::string& message);

// Folder and file ids as the client sends them: "0" is the caller's root.
int64_t folderIdFrom(const Call& call, const std::string& text);
int64_t fileIdFrom(const std::string& text);
std::string apiFolderId(const Folder& f);

// The folder or file, checked: it exists, is not in the trash (unless
// `allowTrashed` and the caller owns it), and the caller has `needed` access
// (404 when it has none, 403 for a write into a view-only share).
Folder folderFor(Call& call, int64_t folderId, Access needed, bool allowTrashed = false);
File fileFor(Call& call, int64_t fileId, Access needed, bool allowTrashed = false);

// Listing entries; ShareMode is added for a caller who is not the owner.
nlohmann::json folderJson(Store& store, const Folder& f, const User& viewer);
nlohmann::json fileJson(Store& store, const File& f, const User& viewer);

void registerSessionRoutes(Service& service);
void registerTreeRoutes(Service& service);
void registerTransferRoutes(Service& service);
void registerSharingRoutes(Service& service);

}  // namespace greyfox::devservice
