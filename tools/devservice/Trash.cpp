// The trash of the store: trashing, restoring and deleting for good.
#include "Db.h"
#include "Store.h"

namespace greyfox::devservice {

std::string Store::freeName(int64_t folderId, const std::string& name, bool forFolder) {
  auto taken = [&](const std::string& n) { return childFolderNamed(folderId, n) || childFileNamed(folderId, n); };
  if (!taken(name)) return name;
  auto dot = forFolder ? std::string::npos : name.rfind('.');
  if (dot == 0) dot = std::string::npos;
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  for (int n = 1;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
    if (!taken(candidate)) return candidate;
  }
}

void Store::trashFile(int64_t fileId) {
  File f = file(fileId);
  Statement(db_->handle(), "UPDATE files SET trashed = 1, trashed_at = ? WHERE id = ?").bind(now(), fileId).run();
  touch(f.folderId);
  touchTrash(f.ownerId);
}

void Store::trashFolder(int64_t folderId) {
  Folder f = folder(folderId);
  if (f.isRoot()) throw ApiError(400, "The root folder cannot be trashed");
  Statement(db_->handle(), "UPDATE folders SET trashed = 1, trashed_at = ? WHERE id = ?").bind(now(), folderId).run();
  touch(f.parentId);
  touchTrash(f.ownerId);
}

void Store::restoreFile(int64_t fileId) {
  File f = file(fileId);
  if (!f.trashed) throw ApiError(400, "The file is not in the trash");
  int64_t target = isLive(f.folderId) ? f.folderId : user(f.ownerId).rootId;
  std::string name = freeName(target, f.name, false);
  Statement(db_->handle(), "UPDATE files SET trashed = 0, trashed_at = 0, folder_id = ?, name = ? WHERE id = ?")
      .bind(target, name, fileId)
      .run();
  touch(target);
  touchTrash(f.ownerId);
}

void Store::restoreFolder(int64_t folderId) {
  Folder f = folder(folderId);
  if (!f.trashed) throw ApiError(400, "The folder is not in the trash");
  int64_t target = isLive(f.parentId) ? f.parentId : user(f.ownerId).rootId;
  std::string name = freeName(target, f.name, true);
  Statement(db_->handle(), "UPDATE folders SET trashed = 0, trashed_at = 0, parent_id = ?, name = ? WHERE id = ?")
      .bind(target, name, folderId)
      .run();
  touch(target);
  touchTrash(f.ownerId);
}

void Store::deleteFile(int64_t fileId) {
  File f = file(fileId);
  Transaction t(*db_);
  auto blobs = eraseFiles({f});
  touch(f.folderId);
  if (f.trashed) touchTrash(f.ownerId);
  t.commit();
  removeBlobs(blobs);
}

void Store::deleteFolder(int64_t folderId) {
  Folder f = folder(folderId);
  if (f.isRoot()) throw ApiError(400, "The root folder cannot be deleted");
  std::vector<int64_t> folders;
  std::vector<File> files;
  collectSubtree(folderId, folders, files);
  Transaction t(*db_);
  auto blobs = eraseFiles(files);
  for (int64_t id : folders) {
    Statement(db_->handle(), "DELETE FROM folders WHERE id = ?").bind(id).run();
    Statement(db_->handle(), "DELETE FROM shares WHERE folder_id = ?").bind(id).run();
    Statement(db_->handle(), "DELETE FROM secure_open WHERE folder_id = ?").bind(id).run();
  }
  touch(f.parentId);
  if (f.trashed) touchTrash(f.ownerId);
  t.commit();
  removeBlobs(blobs);
}

void Store::emptyTrash(int64_t userId) {
  for (const auto& f : trashedFolders(userId)) deleteFolder(f.id);
  for (const auto& f : trashedFiles(userId)) deleteFile(f.id);
  touchTrash(userId);
}

}  // namespace greyfox::devservice
