// The folder tree, the trash and file contents of the store.
#include <filesystem>

#include "Db.h"
#include "Store.h"

namespace fs = std::filesystem;

namespace greyfox::devservice {

namespace {

const char* kFolderColumns =
    "id, owner_id, parent_id, name, created, modified, update_time, secure, vdata, vhash, trashed, trashed_at, "
    "description, access";
const char* kFileColumns =
    "id, owner_id, folder_id, name, size, modified, held, version, trashed, trashed_at, description, access";

Folder readFolder(Statement& s) {
  Folder f;
  f.id = s.integer(0);
  f.ownerId = s.integer(1);
  f.parentId = s.integer(2);
  f.name = s.text(3);
  f.created = s.integer(4);
  f.modified = s.integer(5);
  f.updateTime = s.integer(6);
  f.secureMark = s.integer(7) != 0;
  f.verifierData = s.text(8);
  f.verifierHash = s.text(9);
  f.trashed = s.integer(10) != 0;
  f.trashedAt = s.integer(11);
  f.description = s.text(12);
  f.access = s.text(13);
  return f;
}

File readFile(Statement& s) {
  File f;
  f.id = s.integer(0);
  f.ownerId = s.integer(1);
  f.folderId = s.integer(2);
  f.name = s.text(3);
  f.size = s.integer(4);
  f.modified = s.integer(5);
  f.held = s.integer(6);
  f.version = s.integer(7);
  f.trashed = s.integer(8) != 0;
  f.trashedAt = s.integer(9);
  f.description = s.text(10);
  f.access = s.text(11);
  return f;
}

void checkName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos)
    throw ApiError(400, "Invalid name");
}

std::string textOf(const nlohmann::json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

}  // namespace

std::optional<Folder> Store::findFolder(int64_t id) {
  Statement s(db_->handle(), std::string("SELECT ") + kFolderColumns + " FROM folders WHERE id = ?");
  s.bind(id);
  if (!s.step()) return std::nullopt;
  return readFolder(s);
}

Folder Store::folder(int64_t id) {
  auto f = findFolder(id);
  if (!f) throw ApiError(404, "Folder not found");
  return *f;
}

std::optional<File> Store::findFile(int64_t id) {
  Statement s(db_->handle(), std::string("SELECT ") + kFileColumns + " FROM files WHERE id = ?");
  s.bind(id);
  if (!s.step()) return std::nullopt;
  return readFile(s);
}

File Store::file(int64_t id) {
  auto f = findFile(id);
  if (!f) throw ApiError(404, "File not found");
  return *f;
}

std::vector<Folder> Store::childFolders(int64_t parentId) {
  Statement s(db_->handle(), std::string("SELECT ") + kFolderColumns +
                                 " FROM folders WHERE parent_id = ? AND trashed = 0 ORDER BY name");
  s.bind(parentId);
  std::vector<Folder> out;
  while (s.step()) out.push_back(readFolder(s));
  return out;
}

std::vector<File> Store::childFiles(int64_t folderId) {
  Statement s(db_->handle(), std::string("SELECT ") + kFileColumns +
                                 " FROM files WHERE folder_id = ? AND trashed = 0 ORDER BY name");
  s.bind(folderId);
  std::vector<File> out;
  while (s.step()) out.push_back(readFile(s));
  return out;
}

std::optional<Folder> Store::childFolderNamed(int64_t parentId, const std::string& name) {
  Statement s(db_->handle(), std::string("SELECT ") + kFolderColumns +
                                 " FROM folders WHERE parent_id = ? AND name = ? AND trashed = 0");
  s.bind(parentId, name);
  if (!s.step()) return std::nullopt;
  return readFolder(s);
}

std::optional<File> Store::childFileNamed(int64_t folderId, const std::string& name) {
  Statement s(db_->handle(), std::string("SELECT ") + kFileColumns +
                                 " FROM files WHERE folder_id = ? AND name = ? AND trashed = 0");
  s.bind(folderId, name);
  if (!s.step()) return std::nullopt;
  return readFile(s);
}

bool Store::isLive(int64_t folderId) {
  for (int64_t id = folderId; id != 0;) {
    auto f = findFolder(id);
    if (!f || f->trashed) return false;
    id = f->parentId;
  }
  return true;
}

Access Store::access(int64_t folderId, int64_t userId) {
  auto start = findFolder(folderId);
  if (!start) return Access::None;
  if (start->ownerId == userId) return Access::Write;
  Access best = Access::None;
  for (int64_t id = folderId; id != 0;) {
    for (const auto& share : sharesOfFolder(id)) {
      if (share.targetId != userId) continue;
      Access a = share.mode == "1" ? Access::Write : Access::Read;
      if (a > best) best = a;
    }
    id = folder(id).parentId;
  }
  return best;
}

int64_t Store::secureRoot(int64_t folderId) {
  for (int64_t id = folderId; id != 0;) {
    Folder f = folder(id);
    if (f.secureMark) return f.id;
    id = f.parentId;
  }
  return 0;
}

std::string Store::folderPath(int64_t folderId) {
  std::string path;
  for (Folder f = folder(folderId); !f.isRoot(); f = folder(f.parentId)) path = path.empty() ? f.name : f.name + "/" + path;
  return path;
}

std::string Store::filePath(const File& f) {
  std::string parent = folderPath(f.folderId);
  return parent.empty() ? f.name : parent + "/" + f.name;
}

void Store::touch(int64_t folderId) {
  int64_t t = now();
  Statement(db_->handle(), "UPDATE folders SET update_time = MAX(update_time + 1, ?), modified = ? WHERE id = ?")
      .bind(t, t, folderId)
      .run();
}

void Store::touchTrash(int64_t userId) {
  Statement(db_->handle(), "UPDATE users SET trash_time = MAX(trash_time + 1, ?) WHERE id = ?").bind(now(), userId).run();
}

int64_t Store::createFolder(int64_t parentId, const std::string& name) {
  checkName(name);
  Folder parent = folder(parentId);
  if (childFolderNamed(parentId, name) || childFileNamed(parentId, name))
    throw ApiError(409, "A folder or file with this name already exists");
  int64_t t = now();
  Statement(db_->handle(),
            "INSERT INTO folders(owner_id, parent_id, name, created, modified, update_time) VALUES(?, ?, ?, ?, ?, ?)")
      .bind(parent.ownerId, parentId, name, t, t, t)
      .run();
  int64_t id = db_->lastInsertId();
  touch(parentId);
  return id;
}

int64_t Store::createFile(int64_t folderId, const std::string& name, int64_t mtime) {
  checkName(name);
  Folder parent = folder(folderId);
  if (childFolderNamed(folderId, name)) throw ApiError(409, "A folder with this name already exists");
  Statement(db_->handle(), "INSERT INTO files(owner_id, folder_id, name, modified) VALUES(?, ?, ?, ?)")
      .bind(parent.ownerId, folderId, name, mtime)
      .run();
  int64_t id = db_->lastInsertId();
  touch(folderId);
  return id;
}

void Store::setSecureMark(int64_t folderId) {
  Folder f = folder(folderId);
  if (f.isRoot()) throw ApiError(400, "The root folder cannot be a secure folder");
  Statement(db_->handle(), "UPDATE folders SET secure = 1, vdata = '', vhash = '' WHERE id = ?").bind(folderId).run();
  touch(f.parentId);
}

void Store::setVerifier(int64_t folderId, const std::string& data, const std::string& hash) {
  Statement(db_->handle(), "UPDATE folders SET vdata = ?, vhash = ? WHERE id = ?").bind(data, hash, folderId).run();
}

void Store::setFolderSettings(int64_t folderId, const nlohmann::json& params) {
  if (params.contains("folder_description"))
    Statement(db_->handle(), "UPDATE folders SET description = ? WHERE id = ?")
        .bind(textOf(params["folder_description"]), folderId)
        .run();
  if (params.contains("folder_access"))
    Statement(db_->handle(), "UPDATE folders SET access = ? WHERE id = ?")
        .bind(textOf(params["folder_access"]), folderId)
        .run();
}

void Store::setFileSettings(int64_t fileId, const nlohmann::json& params) {
  if (params.contains("file_description"))
    Statement(db_->handle(), "UPDATE files SET description = ? WHERE id = ?")
        .bind(textOf(params["file_description"]), fileId)
        .run();
  if (params.contains("file_access"))
    Statement(db_->handle(), "UPDATE files SET access = ? WHERE id = ?").bind(textOf(params["file_access"]), fileId).run();
}

void Store::collectSubtree(int64_t folderId, std::vector<int64_t>& folders, std::vector<File>& files) {
  folders.push_back(folderId);
  {
    Statement s(db_->handle(), std::string("SELECT ") + kFileColumns + " FROM files WHERE folder_id = ?");
    s.bind(folderId);
    while (s.step()) files.push_back(readFile(s));
  }
  std::vector<int64_t> children;
  {
    Statement s(db_->handle(), "SELECT id FROM folders WHERE parent_id = ?");
    s.bind(folderId);
    while (s.step()) children.push_back(s.integer(0));
  }
  for (int64_t child : children) collectSubtree(child, folders, files);
}

void Store::removeBlobs(const std::vector<std::string>& paths) {
  std::error_code ec;
  for (const auto& path : paths)
    if (!path.empty()) fs::remove(path, ec);
}

std::vector<std::string> Store::eraseFiles(const std::vector<File>& files) {
  std::vector<std::string> blobs;
  for (const auto& f : files) {
    blobs.push_back(blobPath(f));
    Statement(db_->handle(), "DELETE FROM files WHERE id = ?").bind(f.id).run();
    Statement uploads(db_->handle(), "SELECT temp FROM uploads WHERE file_id = ?");
    uploads.bind(f.id);
    std::vector<std::string> temps;
    while (uploads.step()) temps.push_back(uploads.text(0));
    for (const auto& temp : temps) dropUpload(temp);
  }
  return blobs;
}

int64_t Store::moveFile(int64_t fileId, int64_t dstFolder, const std::string& newName, bool copy, bool overwrite) {
  File f = file(fileId);
  Folder dst = folder(dstFolder);
  std::string name = newName.empty() ? f.name : newName;
  checkName(name);
  if (childFolderNamed(dstFolder, name)) throw ApiError(409, "A folder with this name already exists");
  auto existing = childFileNamed(dstFolder, name);
  if (existing && existing->id == f.id) return f.id;
  Transaction t(*db_);
  std::vector<std::string> replaced;
  if (existing) {
    if (!overwrite) throw ApiError(409, "A file with this name already exists");
    replaced = eraseFiles({*existing});
  }
  int64_t id = f.id;
  if (copy) {
    Statement(db_->handle(),
              "INSERT INTO files(owner_id, folder_id, name, size, modified, held, version, description, access) "
              "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(dst.ownerId, dstFolder, name, f.size, f.modified, f.held, f.version, f.description, f.access)
        .run();
    id = db_->lastInsertId();
    if (!blobPath(f).empty()) {
      File copied = file(id);
      fs::copy_file(blobPath(f), blobPath(copied), fs::copy_options::overwrite_existing);
    }
  } else {
    Statement(db_->handle(), "UPDATE files SET folder_id = ?, name = ?, owner_id = ? WHERE id = ?")
        .bind(dstFolder, name, dst.ownerId, f.id)
        .run();
    touch(f.folderId);
  }
  touch(dstFolder);
  t.commit();
  removeBlobs(replaced);
  return id;
}

int64_t Store::moveFolder(int64_t folderId, int64_t dstParent, const std::string& newName, bool copy) {
  Folder f = folder(folderId);
  if (f.isRoot()) throw ApiError(400, "The root folder cannot be moved");
  Folder dst = folder(dstParent);
  for (int64_t id = dstParent; id != 0; id = folder(id).parentId)
    if (id == folderId) throw ApiError(400, "A folder cannot be moved into itself");
  std::string name = newName.empty() ? f.name : newName;
  checkName(name);
  auto sameName = childFolderNamed(dstParent, name);
  if ((sameName && sameName->id != folderId) || childFileNamed(dstParent, name))
    throw ApiError(409, "A folder or file with this name already exists");
  Transaction t(*db_);
  int64_t id = folderId;
  if (copy) {
    int64_t now0 = now();
    Statement(db_->handle(),
              "INSERT INTO folders(owner_id, parent_id, name, created, modified, update_time, secure, vdata, vhash) "
              "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(dst.ownerId, dstParent, name, now0, now0, now0, static_cast<int64_t>(f.secureMark), f.verifierData,
              f.verifierHash)
        .run();
    id = db_->lastInsertId();
    for (const auto& child : childFolders(folderId))
      if (child.id != id) moveFolder(child.id, id, "", true);
    for (const auto& file : childFiles(folderId)) moveFile(file.id, id, "", true, false);
  } else {
    std::vector<int64_t> folders;
    std::vector<File> files;
    collectSubtree(folderId, folders, files);
    for (int64_t sub : folders)
      Statement(db_->handle(), "UPDATE folders SET owner_id = ? WHERE id = ?").bind(dst.ownerId, sub).run();
    for (const auto& file : files)
      Statement(db_->handle(), "UPDATE files SET owner_id = ? WHERE id = ?").bind(dst.ownerId, file.id).run();
    Statement(db_->handle(), "UPDATE folders SET parent_id = ?, name = ? WHERE id = ?").bind(dstParent, name, folderId).run();
    touch(f.parentId);
  }
  touch(dstParent);
  t.commit();
  return id;
}

std::vector<Folder> Store::trashedFolders(int64_t userId) {
  Statement s(db_->handle(), std::string("SELECT ") + kFolderColumns +
                                 " FROM folders WHERE owner_id = ? AND trashed = 1 ORDER BY trashed_at, id");
  s.bind(userId);
  std::vector<Folder> out;
  while (s.step()) out.push_back(readFolder(s));
  return out;
}

std::vector<File> Store::trashedFiles(int64_t userId) {
  Statement s(db_->handle(), std::string("SELECT ") + kFileColumns +
                                 " FROM files WHERE owner_id = ? AND trashed = 1 ORDER BY trashed_at, id");
  s.bind(userId);
  std::vector<File> out;
  while (s.step()) out.push_back(readFile(s));
  return out;
}

std::string Store::blobPath(const File& f) const {
  if (f.version == 0) return "";
  return dataDir_ + "/blobs/" + std::to_string(f.id) + "." + std::to_string(f.version);
}

void Store::replaceContent(int64_t fileId, const std::string& sourcePath, int64_t size, int64_t mtime) {
  File f = file(fileId);
  std::string oldBlob = blobPath(f);
  File next = f;
  next.version = f.version + 1;
  std::string newBlob = blobPath(next);
  int64_t held = static_cast<int64_t>(fs::file_size(sourcePath));
  fs::rename(sourcePath, newBlob);
  try {
    Statement(db_->handle(), "UPDATE files SET version = ?, held = ?, size = ?, modified = ? WHERE id = ?")
        .bind(next.version, held, size, mtime, fileId)
        .run();
  } catch (...) {
    std::error_code ec;
    fs::remove(newBlob, ec);
    throw;
  }
  std::error_code ec;
  if (!oldBlob.empty()) fs::remove(oldBlob, ec);
  touch(f.folderId);
}

}  // namespace greyfox::devservice
