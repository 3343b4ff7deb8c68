// Users, sessions, notifications, shares and uploads of the store; the tree
// and contents are in Tree.cpp.
#include "Store.h"


#include <chrono>
#include <filesystem>
#include <random>

#include "Db.h"

namespace fs = std::filesystem;

namespace greyfox::devservice {

namespace {

const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS users(id INTEGER PRIMARY KEY, username TEXT UNIQUE NOT NULL,
  password TEXT NOT NULL DEFAULT '', drive_name TEXT NOT NULL DEFAULT '', first_name TEXT NOT NULL DEFAULT '',
  last_name TEXT NOT NULL DEFAULT '', active_2fa INTEGER NOT NULL DEFAULT 0,
  upload_speed_limit INTEGER NOT NULL DEFAULT 0, last_2fa TEXT NOT NULL DEFAULT '',
  trash_time INTEGER NOT NULL DEFAULT 0, bw_used INTEGER NOT NULL DEFAULT 0, root_id INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS sessions(id TEXT PRIMARY KEY, user_id INTEGER NOT NULL, verified INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS secure_open(session_id TEXT NOT NULL, folder_id INTEGER NOT NULL,
  PRIMARY KEY(session_id, folder_id));
CREATE TABLE IF NOT EXISTS folders(id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, parent_id INTEGER NOT NULL,
  name TEXT NOT NULL, created INTEGER NOT NULL, modified INTEGER NOT NULL, update_time INTEGER NOT NULL,
  secure INTEGER NOT NULL DEFAULT 0, vdata TEXT NOT NULL DEFAULT '', vhash TEXT NOT NULL DEFAULT '',
  trashed INTEGER NOT NULL DEFAULT 0, trashed_at INTEGER NOT NULL DEFAULT 0,
  description TEXT NOT NULL DEFAULT '', access TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS folders_parent ON folders(parent_id);
CREATE TABLE IF NOT EXISTS files(id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, folder_id INTEGER NOT NULL,
  name TEXT NOT NULL, size INTEGER NOT NULL DEFAULT 0, modified INTEGER NOT NULL, held INTEGER NOT NULL DEFAULT 0,
  version INTEGER NOT NULL DEFAULT 0, trashed INTEGER NOT NULL DEFAULT 0, trashed_at INTEGER NOT NULL DEFAULT 0,
  description TEXT NOT NULL DEFAULT '', access TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS files_folder ON files(folder_id);
CREATE TABLE IF NOT EXISTS shares(id INTEGER PRIMARY KEY, folder_id INTEGER NOT NULL, owner_id INTEGER NOT NULL,
  target_id INTEGER NOT NULL, mode TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS uploads(temp TEXT PRIMARY KEY, file_id INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS notifications(id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL, type INTEGER NOT NULL,
  text TEXT NOT NULL, url TEXT NOT NULL);
)";

const char* kUserColumns =
    "id, username, password, drive_name, first_name, last_name, active_2fa, upload_speed_limit, last_2fa, "
    "trash_time, bw_used, root_id";

User readUser(Statement& s) {
  User u;
  u.id = s.integer(0);
  u.username = s.text(1);
  u.password = s.text(2);
  u.driveName = s.text(3);
  u.firstName = s.text(4);
  u.lastName = s.text(5);
  u.active2fa = s.integer(6) != 0;
  u.uploadSpeedLimit = s.integer(7);
  u.lastTwoFactorCode = s.text(8);
  u.trashTime = s.integer(9);
  u.bandwidthUsed = s.integer(10);
  u.rootId = s.integer(11);
  return u;
}

std::string randomHex(size_t bytes) {
  static std::random_device device;
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes; ++i) {
    unsigned v = device() & 0xff;
    out += digits[v >> 4];
    out += digits[v & 15];
  }
  return out;
}

// Accepts a JSON string or number as text ("1", 1 and true all give "1").
std::string asText(const nlohmann::json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "1" : "0";
  if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
  return v.dump();
}

}  // namespace

Store::Store(const std::string& dataDir) : dataDir_(dataDir) {
  fs::create_directories(dataDir_ + "/blobs");
  fs::create_directories(dataDir_ + "/uploads");
  std::string dbPath = dataDir_ + "/metadata.db";
  db_ = std::make_unique<Db>(dbPath);
  migrate();
  removeOrphans();
}

Store::~Store() = default;

int64_t Store::now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void Store::migrate() { db_->exec(kSchema); }

bool Store::hasUsers() { return Statement(db_->handle(), "SELECT 1 FROM users LIMIT 1").step(); }

void Store::atomically(const std::function<void()>& body) {
  Transaction t(*db_);
  body();
  t.commit();
}

void Store::removeOrphans() {
  // Blobs are named "<file id>.<version>"; anything else under blobs/ is left
  // over from a kill between writing a new version and switching to it.
  for (const auto& entry : fs::directory_iterator(dataDir_ + "/blobs")) {
    std::string name = entry.path().filename().string();
    auto dot = name.find('.');
    bool keep = false;
    if (dot != std::string::npos) {
      Statement s(db_->handle(), "SELECT 1 FROM files WHERE id = ? AND version = ?");
      try {
        s.bind(static_cast<int64_t>(std::stoll(name.substr(0, dot))),
               static_cast<int64_t>(std::stoll(name.substr(dot + 1))));
        keep = s.step();
      } catch (const std::logic_error&) {
      }
    }
    if (!keep) fs::remove(entry.path());
  }
  for (const auto& entry : fs::directory_iterator(dataDir_ + "/uploads")) {
    if (!findUpload(entry.path().filename().string())) fs::remove(entry.path());
  }
}

// --- Users ---

std::optional<User> Store::findUser(const std::string& username) {
  Statement s(db_->handle(), std::string("SELECT ") + kUserColumns + " FROM users WHERE username = ?");
  s.bind(username);
  if (!s.step()) return std::nullopt;
  return readUser(s);
}

User Store::user(int64_t id) {
  Statement s(db_->handle(), std::string("SELECT ") + kUserColumns + " FROM users WHERE id = ?");
  s.bind(id);
  if (!s.step()) throw ApiError(404, "User not found");
  return readUser(s);
}

User Store::upsertUser(const nlohmann::json& fields) {
  if (!fields.contains("username") || asText(fields["username"]).empty())
    throw ApiError(400, "Missing parameter: username");
  std::string username = asText(fields["username"]);
  Transaction t(*db_);
  auto existing = findUser(username);
  int64_t id;
  if (existing) {
    id = existing->id;
  } else {
    Statement(db_->handle(), "INSERT INTO users(username, drive_name) VALUES(?, ?)").bind(username, "Quillbox").run();
    id = db_->lastInsertId();
    int64_t t0 = now();
    Statement(db_->handle(),
              "INSERT INTO folders(owner_id, parent_id, name, created, modified, update_time) VALUES(?, 0, '', ?, ?, ?)")
        .bind(id, t0, t0, t0)
        .run();
    Statement(db_->handle(), "UPDATE users SET root_id = ?, trash_time = ? WHERE id = ?")
        .bind(db_->lastInsertId(), t0, id)
        .run();
  }
  static const std::pair<const char*, const char*> textFields[] = {
      {"password", "password"}, {"drive_name", "drive_name"}, {"first_name", "first_name"}, {"last_name", "last_name"}};
  for (auto [key, column] : textFields) {
    if (fields.contains(key))
      Statement(db_->handle(), std::string("UPDATE users SET ") + column + " = ? WHERE id = ?")
          .bind(asText(fields[key]), id)
          .run();
  }
  if (fields.contains("active_2fa"))
    Statement(db_->handle(), "UPDATE users SET active_2fa = ? WHERE id = ?")
        .bind(static_cast<int64_t>(asText(fields["active_2fa"]) == "1"), id)
        .run();
  if (fields.contains("upload_speed_limit"))
    Statement(db_->handle(), "UPDATE users SET upload_speed_limit = ? WHERE id = ?")
        .bind(static_cast<int64_t>(std::stoll(asText(fields["upload_speed_limit"]))), id)
        .run();
  t.commit();
  return user(id);
}

void Store::setTwoFactorCode(int64_t userId, const std::string& code) {
  Statement(db_->handle(), "UPDATE users SET last_2fa = ? WHERE id = ?").bind(code, userId).run();
}

void Store::addBandwidth(int64_t userId, int64_t bytes) {
  Statement(db_->handle(), "UPDATE users SET bw_used = bw_used + ? WHERE id = ?").bind(bytes, userId).run();
}

int64_t Store::storageUsed(int64_t userId) {
  Statement s(db_->handle(), "SELECT COALESCE(SUM(held), 0) FROM files WHERE owner_id = ?");
  s.bind(userId);
  s.step();
  return s.integer(0);
}

// --- Sessions ---

std::string Store::createSession(int64_t userId, bool verified) {
  std::string id = randomHex(16);
  Statement(db_->handle(), "INSERT INTO sessions(id, user_id, verified) VALUES(?, ?, ?)")
      .bind(id, userId, static_cast<int64_t>(verified))
      .run();
  return id;
}

std::optional<Session> Store::findSession(const std::string& id) {
  Statement s(db_->handle(), "SELECT id, user_id, verified FROM sessions WHERE id = ?");
  s.bind(id);
  if (!s.step()) return std::nullopt;
  return Session{s.text(0), s.integer(1), s.integer(2) != 0};
}

void Store::verifySession(const std::string& id) {
  Statement(db_->handle(), "UPDATE sessions SET verified = 1 WHERE id = ?").bind(id).run();
}

void Store::deleteSession(const std::string& id) {
  Statement(db_->handle(), "DELETE FROM sessions WHERE id = ?").bind(id).run();
  Statement(db_->handle(), "DELETE FROM secure_open WHERE session_id = ?").bind(id).run();
}

void Store::openSecureFolder(const std::string& sessionId, int64_t folderId) {
  Statement(db_->handle(), "INSERT OR IGNORE INTO secure_open(session_id, folder_id) VALUES(?, ?)")
      .bind(sessionId, folderId)
      .run();
}

bool Store::isSecureFolderOpen(const std::string& sessionId, int64_t folderId) {
  Statement s(db_->handle(), "SELECT 1 FROM secure_open WHERE session_id = ? AND folder_id = ?");
  s.bind(sessionId, folderId);
  return s.step();
}

// --- Notifications ---

void Store::addNotification(int64_t userId, int64_t type, const std::string& text, const std::string& url) {
  Statement(db_->handle(), "INSERT INTO notifications(user_id, type, text, url) VALUES(?, ?, ?, ?)")
      .bind(userId, type, text, url)
      .run();
}

nlohmann::json Store::notifications(int64_t userId) {
  Statement s(db_->handle(), "SELECT id, type, text, url FROM notifications WHERE user_id = ? ORDER BY id");
  s.bind(userId);
  nlohmann::json list = nlohmann::json::array();
  while (s.step())
    list.push_back({{"NotificationID", std::to_string(s.integer(0))},
                    {"Type", s.integer(1)},
                    {"Text", s.text(2)},
                    {"URL", s.text(3)}});
  return list;
}

// --- Shares ---

int64_t Store::addShare(int64_t folderId, int64_t targetId, const std::string& mode) {
  Folder f = folder(folderId);
  Statement existing(db_->handle(), "SELECT id FROM shares WHERE folder_id = ? AND target_id = ?");
  existing.bind(folderId, targetId);
  if (existing.step()) {
    int64_t id = existing.integer(0);
    setShareMode(id, mode);
    return id;
  }
  Statement(db_->handle(), "INSERT INTO shares(folder_id, owner_id, target_id, mode) VALUES(?, ?, ?, ?)")
      .bind(folderId, f.ownerId, targetId, mode)
      .run();
  return db_->lastInsertId();
}

std::optional<Share> Store::findShare(int64_t id) {
  Statement s(db_->handle(), "SELECT id, folder_id, owner_id, target_id, mode FROM shares WHERE id = ?");
  s.bind(id);
  if (!s.step()) return std::nullopt;
  return Share{s.integer(0), s.integer(1), s.integer(2), s.integer(3), s.text(4)};
}

void Store::setShareMode(int64_t id, const std::string& mode) {
  Statement(db_->handle(), "UPDATE shares SET mode = ? WHERE id = ?").bind(mode, id).run();
}

void Store::deleteShare(int64_t id) { Statement(db_->handle(), "DELETE FROM shares WHERE id = ?").bind(id).run(); }

std::vector<Share> Store::sharesOfFolder(int64_t folderId) {
  Statement s(db_->handle(),
              "SELECT id, folder_id, owner_id, target_id, mode FROM shares WHERE folder_id = ? ORDER BY id");
  s.bind(folderId);
  std::vector<Share> out;
  while (s.step()) out.push_back({s.integer(0), s.integer(1), s.integer(2), s.integer(3), s.text(4)});
  return out;
}

std::vector<Share> Store::sharesWith(int64_t targetId) {
  Statement s(db_->handle(),
              "SELECT id, folder_id, owner_id, target_id, mode FROM shares WHERE target_id = ? ORDER BY id");
  s.bind(targetId);
  std::vector<Share> all, live;
  while (s.step()) all.push_back({s.integer(0), s.integer(1), s.integer(2), s.integer(3), s.text(4)});
  for (const auto& share : all)
    if (isLive(share.folderId)) live.push_back(share);
  return live;
}

// --- Uploads ---

std::string Store::openUpload(int64_t fileId) {
  std::string temp = "upload-" + std::to_string(fileId) + "-" + randomHex(8);
  Statement(db_->handle(), "INSERT INTO uploads(temp, file_id) VALUES(?, ?)").bind(temp, fileId).run();
  return temp;
}

std::optional<Upload> Store::findUpload(const std::string& tempLocation) {
  Statement s(db_->handle(), "SELECT temp, file_id FROM uploads WHERE temp = ?");
  s.bind(tempLocation);
  if (!s.step()) return std::nullopt;
  return Upload{s.text(0), s.integer(1)};
}

std::string Store::uploadPath(const std::string& tempLocation) const {
  return dataDir_ + "/uploads/" + tempLocation;
}

void Store::dropUpload(const std::string& tempLocation) {
  Statement(db_->handle(), "DELETE FROM uploads WHERE temp = ?").bind(tempLocation).run();
  std::error_code ec;
  fs::remove(uploadPath(tempLocation), ec);
}

}  // namespace greyfox::devservice
