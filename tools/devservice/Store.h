// The service's state: users, sessions, the folder tree of each user, file
// contents, uploads in progress, shares, secure-folder verifiers and
// notifications. Metadata lives in SQLite ("metadata.db" in the data
// directory); each file's bytes live in their own file under "blobs/", and an
// upload in progress collects its bytes under "uploads/".
//
// A closed upload becomes a new blob whose name carries a new version, and the
// database switches to it in one transaction; a kill at any point leaves
// either the old content or the new one, and only the unfinished upload is
// lost. Blobs that no row names are removed at start.
//
// Threads: every operation REQUIRES mutex() held by the caller (the HTTP
// layer holds it for a whole request). Model failures throw ApiError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace greyfox::devservice {

class Db;

// A failure that becomes the error reply {"error":{"code":status,"message":...}}.
struct ApiError : std::runtime_error {
  ApiError(int status, const std::string& message) : std::runtime_error(message), status(status) {}
  int status;
};

struct User {
  int64_t id = 0;
  std::string username, password, driveName, firstName, lastName;
  bool active2fa = false;
  int64_t uploadSpeedLimit = 0;
  std::string lastTwoFactorCode;
  int64_t trashTime = 0;  // the trash's DirUpdateTime
  int64_t bandwidthUsed = 0;
  int64_t rootId = 0;
};

struct Session {
  std::string id;
  int64_t userId = 0;
  bool verified = false;  // two-factor code checked, or not needed
};

struct Folder {
  int64_t id = 0, ownerId = 0, parentId = 0;  // parentId 0: the user's root
  std::string name;
  int64_t created = 0, modified = 0, updateTime = 0;
  bool secureMark = false;  // marked as a secure folder (its subfolders inherit)
  std::string verifierData, verifierHash;
  bool trashed = false;
  int64_t trashedAt = 0;
  std::string description, access;
  bool isRoot() const { return parentId == 0; }
};

struct File {
  int64_t id = 0, ownerId = 0, folderId = 0;
  std::string name;
  int64_t size = 0, modified = 0, held = 0, version = 0;
  bool trashed = false;
  int64_t trashedAt = 0;
  std::string description, access;
};

struct Share {
  int64_t id = 0, folderId = 0, ownerId = 0, targetId = 0;
  std::string mode;  // "1" full, "0" view
};

struct Upload {
  std::string tempLocation;
  int64_t fileId = 0;
};

enum class Access { None, Read, Write };

class Store {
 public:
  explicit Store(const std::string& dataDir);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  bool hasUsers();
  // Runs `body` in one transaction: all of its changes, or (when it throws or
  // the process dies) none.
  void atomically(const std::function<void()>& body);
  std::mutex& mutex() { return mutex_; }
  const std::string& dataDir() const { return dataDir_; }
  static int64_t now();

  // --- Users and sessions (Store.cpp) ---
  std::optional<User> findUser(const std::string& username);
  User user(int64_t id);
  // Adds a user or changes the fields present in `fields` ("username" required;
  // "password", "drive_name", "first_name", "last_name", "active_2fa",
  // "upload_speed_limit").
  User upsertUser(const nlohmann::json& fields);
  void setTwoFactorCode(int64_t userId, const std::string& code);
  void addBandwidth(int64_t userId, int64_t bytes);
  int64_t storageUsed(int64_t userId);
  std::string createSession(int64_t userId, bool verified);
  std::optional<Session> findSession(const std::string& id);
  void verifySession(const std::string& id);
  void deleteSession(const std::string& id);
  void openSecureFolder(const std::string& sessionId, int64_t folderId);
  bool isSecureFolderOpen(const std::string& sessionId, int64_t folderId);
  void addNotification(int64_t userId, int64_t type, const std::string& text, const std::string& url);
  nlohmann::json notifications(int64_t userId);

  // --- Shares (Store.cpp) ---
  int64_t addShare(int64_t folderId, int64_t targetId, const std::string& mode);
  std::optional<Share> findShare(int64_t id);
  void setShareMode(int64_t id, const std::string& mode);
  void deleteShare(int64_t id);
  std::vector<Share> sharesOfFolder(int64_t folderId);
  std::vector<Share> sharesWith(int64_t targetId);  // live shared folders only

  // --- Uploads (Store.cpp) ---
  std::string openUpload(int64_t fileId);
  std::optional<Upload> findUpload(const std::string& tempLocation);
  std::string uploadPath(const std::string& tempLocation) const;
  void dropUpload(const std::string& tempLocation);

  // --- The tree (Tree.cpp) ---
  std::optional<Folder> findFolder(int64_t id);
  Folder folder(int64_t id);  // 404 "Folder not found"
  std::optional<File> findFile(int64_t id);
  File file(int64_t id);  // 404 "File not found"
  std::vector<Folder> childFolders(int64_t parentId);  // not trashed
  std::vector<File> childFiles(int64_t folderId);      // not trashed
  std::optional<Folder> childFolderNamed(int64_t parentId, const std::string& name);
  std::optional<File> childFileNamed(int64_t folderId, const std::string& name);
  // false when the folder or one of its ancestors is in the trash or gone.
  bool isLive(int64_t folderId);
  // What `userId` may do in the folder: its owner writes; a share of the folder
  // or an ancestor gives its mode.
  Access access(int64_t folderId, int64_t userId);
  // The nearest folder at or above `folderId` marked secure, or 0.
  int64_t secureRoot(int64_t folderId);
  // The path below the owner's root, without a leading slash ("" for the root).
  std::string folderPath(int64_t folderId);
  std::string filePath(const File& f);
  // Moves the folder's DirUpdateTime forward (strictly: two changes within one
  // second still give two values) and its modification date to now.
  void touch(int64_t folderId);

  int64_t createFolder(int64_t parentId, const std::string& name);
  int64_t createFile(int64_t folderId, const std::string& name, int64_t mtime);
  void setSecureMark(int64_t folderId);
  void setVerifier(int64_t folderId, const std::string& data, const std::string& hash);
  void setFolderSettings(int64_t folderId, const nlohmann::json& params);
  void setFileSettings(int64_t fileId, const nlohmann::json& params);

  // Moves or copies into `dstFolder`; `newName` empty keeps the name. A file of
  // the same name there is replaced when `overwrite`, else 409. Answers the id.
  int64_t moveFile(int64_t fileId, int64_t dstFolder, const std::string& newName, bool copy, bool overwrite);
  int64_t moveFolder(int64_t folderId, int64_t dstParent, const std::string& newName, bool copy);

  void trashFile(int64_t fileId);
  void trashFolder(int64_t folderId);
  // Back into the original folder when that is live, else the root; a name
  // taken there gets " (N)" before the extension.
  void restoreFile(int64_t fileId);
  void restoreFolder(int64_t folderId);
  void deleteFile(int64_t fileId);
  void deleteFolder(int64_t folderId);
  void emptyTrash(int64_t userId);
  std::vector<Folder> trashedFolders(int64_t userId);
  std::vector<File> trashedFiles(int64_t userId);
  void touchTrash(int64_t userId);

  // --- Contents (Tree.cpp) ---
  // The blob of the file's current version ("" when it has no bytes yet).
  std::string blobPath(const File& f) const;
  // Makes the bytes at `sourcePath` the file's new content (the source is
  // renamed away), with `size` as the reported size.
  void replaceContent(int64_t fileId, const std::string& sourcePath, int64_t size, int64_t mtime);

 private:
  void migrate();
  void removeOrphans();
  std::string freeName(int64_t folderId, const std::string& name, bool forFolder);
  void collectSubtree(int64_t folderId, std::vector<int64_t>& folders, std::vector<File>& files);
  // Deletes the rows; answers the blobs to remove once the change is committed.
  std::vector<std::string> eraseFiles(const std::vector<File>& files);
  static void removeBlobs(const std::vector<std::string>& paths);

  std::string dataDir_;
  std::mutex mutex_;  // guards everything below and the files in dataDir_
  std::unique_ptr<Db> db_;
};

}  // namespace greyfox::devservice
