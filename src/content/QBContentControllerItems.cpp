// QBContentController: item records, thumbnails, sharing users and the
// account's information, links and notifications.
#include "api/ApiError.h"
#include "content/QBContentController.h"
#include "content/VolumePath.h"
#include "items/QBAccountItems.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBSharingItems.h"
#include "items/QBUserSessionItem.h"
#include "platform/OperationQueue.h"
#include "platform/Timings.h"

namespace greyfox {

namespace {

std::shared_ptr<QBFolderItem> minimalFolderRecord(const char* identifier) {
  auto folder = std::make_shared<QBFolderItem>();
  folder->identifier = identifier;
  folder->encrypted = 0;
  return folder;
}

}  // namespace

QBContentItemPtr QBContentController::itemInfoAt(const std::string& rawPath, bool noCache, ErrorPtr* error) {
  const std::string path = volumePath(rawPath);
  // The virtual folders resolve whatever kind is asked for; they are folders.
  auto asFile = identifiableItemAt(path, true, false);
  const bool isFile = asFile && !std::dynamic_pointer_cast<QBFolderItem>(asFile);
  std::string identifier;
  if (isFile) {
    identifier = asFile->identifier;
  } else {
    auto folderIdentifier = resolvedIdentifier(path, false, "Folder not found!", error);
    if (!folderIdentifier) return nullptr;
    identifier = *folderIdentifier;
  }
  auto context = contextForPath(path, error);
  if (!context) return nullptr;

  const std::string_view className = isFile ? QBFileInfoItem::kClassName : QBFolderInfoItem::kClassName;
  return checkItem(identifier, className, noCache, [&]() -> QBContentItemPtr {
    if (isFile) {
      auto info = client_->fileInfo(identifier, *context, error);
      if (info) info->path = path;
      return info;
    }
    auto info = client_->folderInfo(identifier, *context, error);
    if (info) info->path = path;
    return info;
  });
}

QBContentItemPtr QBContentController::minimalItemInfoAt(const std::string& rawPath, ErrorPtr* error) {
  const std::string path = volumePath(rawPath);
  if (path == "/") return minimalFolderRecord(kRootIdentifier);
  if (path == appendComponent("/", kTrashName)) return minimalFolderRecord(kTrashIdentifier);
  if (auto parent = listFolderAt(parentPath(path), error)) {
    if (auto entry = entryNamed(*parent, lastComponent(path))) return entry;
  }
  return itemInfoAt(path, error);
}

bool QBContentController::isFileEmptyAt(const std::string& path) {
  ErrorPtr ignored;
  auto file = std::dynamic_pointer_cast<QBFileItem>(minimalItemInfoAt(path, &ignored));
  return file && file->size == 0;
}

std::shared_ptr<QBFileThumbnailItem> QBContentController::fileThumbnailAt(const std::string& rawPath,
                                                                          ErrorPtr* error) {
  const std::string path = volumePath(rawPath);
  auto identifier = resolvedIdentifier(path, true, "File not found!", error);
  if (!identifier) return nullptr;
  return std::dynamic_pointer_cast<QBFileThumbnailItem>(
      checkItem(*identifier, QBFileThumbnailItem::kClassName, false, [&]() -> QBContentItemPtr {
        auto context = contextForPath(path, error);
        if (!context) return nullptr;
        auto thumbnail = client_->fileThumbnail(*identifier, *context, error);
        if (thumbnail) thumbnail->identifier = *identifier;
        return thumbnail;
      }));
}

std::shared_ptr<QBSharingUsersItem> QBContentController::sharingUsersOfFolderAt(const std::string& rawPath,
                                                                               ErrorPtr* error) {
  const std::string path = volumePath(rawPath);
  auto identifier = resolvedIdentifier(path, false, "Folder not found!", error);
  if (!identifier) return nullptr;
  auto context = contextForPath(path, error);
  if (!context) return nullptr;
  return client_->listSharingUsersOf(*identifier, *context, error);
}

std::shared_ptr<QBUserInfoItem> QBContentController::userInfoNoCache(bool noCache, ErrorPtr* error) {
  return std::dynamic_pointer_cast<QBUserInfoItem>(
      checkItem("default", QBUserInfoItem::kClassName, noCache, [&]() -> QBContentItemPtr {
        auto context = authContext();
        if (!context->session) {
          setQBBareError(error, QBApiErrorNoSession);
          return nullptr;
        }
        const ErrorPtr before = error ? *error : nullptr;
        std::shared_ptr<QBUserInfoItem> info;
        ErrorPtr infoError = before;
        std::optional<std::int64_t> trashCount;
        ErrorPtr trashError = before;
        {
          // The figures and the trash count are fetched side by side.
          OperationQueue queue(2, "userInfo");
          queue.add([&] { info = client_->userInfoWithContext(*context, &infoError); });
          if (!context->session->isAccountUser) {
            queue.add([&] {
              if (auto trash = listFolderAt(appendComponent("/", kTrashName), &trashError))
                trashCount = static_cast<std::int64_t>(trash->itemNames().size());
            });
          }
          while (!queue.waitUntilEmpty(Timings::current().requestTimeout)) {
          }
        }
        if (error) *error = !info ? infoError : trashError;
        if (!info) return nullptr;
        info->trashCount = trashCount.value_or(0);
        return info;
      }));
}

std::shared_ptr<QBUserLinksItem> QBContentController::userLinksWithError(ErrorPtr* error) {
  return std::dynamic_pointer_cast<QBUserLinksItem>(
      checkItem("default", QBUserLinksItem::kClassName, false, [&]() -> QBContentItemPtr {
        auto context = contextForPath("/", error);
        if (!context) return nullptr;
        return client_->userLinksWithContext(*context, error);
      }));
}

std::shared_ptr<QBNotificationsItem> QBContentController::userNotificationsError(ErrorPtr* error) {
  auto context = contextForPath("/", error);
  if (!context) return nullptr;
  return client_->userNotificationsContext(*context, error);
}

}  // namespace greyfox
