// Folder, sharing, secure-folder and user operations of the service API.
#include "api/QBApiClient.h"

#include "items/QBAccountItems.h"
#include "items/QBAnonymousItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBSharingItems.h"

namespace greyfox {

namespace {

using Args = QBApiRequest::Arguments;
using nlohmann::json;

bool holds(const QBReply& reply, const char* key) { return reply && reply->is_object() && reply->contains(key); }

}  // namespace

std::shared_ptr<QBFolderItem> QBApiClient::createFolder(const std::string& name, const std::string& parentId,
                                                        QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "folder.json",
                                                 json{{"folder_name", name}, {"folder_sub_parent", parentId}});
  return fillContentItemOfClass<QBFolderItem>(error, context, request);
}

std::shared_ptr<QBFolderListItem> QBApiClient::listFolder(const std::string& folderId,
                                                          std::optional<std::int64_t> lastRequestTime,
                                                          QBApiClientContext& context, ErrorPtr* error) {
  json params = {{"last_request_time", lastRequestTime ? json(*lastRequestTime) : json("0")},
                 {"encryption_supported", "1"}};
  auto request = QBApiRequest::requestWithMethod("GET", "folder/list.json", Args{folderId}, params);
  auto item = fillContentItemOfClass<QBFolderListItem>(error, context, request);
  if (item) item->identifier = folderId;
  return item;
}

std::shared_ptr<QBFolderItem> QBApiClient::moveFolder(const std::string& folderId,
                                                      const std::optional<std::string>& newName,
                                                      const std::string& destinationFolderId,
                                                      QBApiClientContext& context, ErrorPtr* error) {
  json params = {{"folder_id", folderId}, {"dst_folder_id", destinationFolderId}, {"move", "true"}};
  if (newName) params["new_folder_name"] = *newName;
  auto request = QBApiRequest::requestWithMethod("POST", "folder/move_copy.json", params);
  auto item = fillContentItemOfClass<QBFolderItem>(error, context, request);
  if (item) item->identifier = folderId;
  return item;
}

bool QBApiClient::deleteFolder(const std::string& folderId, QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "folder/remove.json", json{{"folder_id", folderId}});
  return holds(fillResponseError(error, context, request), "DirUpdateTime");
}

bool QBApiClient::trashFolder(const std::string& folderId, QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "folder/trash.json", json{{"folder_id", folderId}});
  return holds(fillResponseError(error, context, request), "DirUpdateTime");
}

bool QBApiClient::restoreFolder(const std::string& folderId, QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "folder/restore.json", json{{"folder_id", folderId}});
  return holds(fillResponseError(error, context, request), "DirUpdateTime");
}

bool QBApiClient::setSettingsForFolder(const nlohmann::json& settings, const std::string& folderId,
                                       const std::string& accessFolderId, QBApiClientContext& context,
                                       ErrorPtr* error) {
  json params = settings.is_object() ? settings : json::object();
  params["access_folder_id"] = accessFolderId;
  params["folder_id"] = folderId;
  auto request = QBApiRequest::requestWithMethod("PUT", "folder/foldersettings.json", params);
  return sendStatusRequest(request, &context, error);
}

std::shared_ptr<QBFolderInfoItem> QBApiClient::folderInfo(const std::string& folderId, QBApiClientContext& context,
                                                          ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "folder/info.json", Args{folderId});
  return fillContentItemOfClass<QBFolderInfoItem>(error, context, request);
}

std::shared_ptr<QBTrashFolderListItem> QBApiClient::listTrashFolderWithContext(QBApiClientContext& context,
                                                                               ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "folder/trashlist.json");
  auto item = fillContentItemOfClass<QBTrashFolderListItem>(error, context, request);
  if (item) item->identifier = "-1";
  return item;
}

bool QBApiClient::emptyTrashWithContext(QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("DELETE", "folder/trash.json");
  return fillResponseError(error, context, request).has_value();
}

std::shared_ptr<QBSharedUsersFolderListItem> QBApiClient::listSharedUsersWithContext(QBApiClientContext& context,
                                                                                     ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "sharing/listsharedusers.json");
  auto item = fillContentItemOfClass<QBSharedUsersFolderListItem>(error, context, request);
  if (item) item->identifier = "-2";
  return item;
}

std::shared_ptr<QBSharedFolderListItem> QBApiClient::sharedFoldersWithContext(QBApiClientSharingContext& context,
                                                                              ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "sharing/listsharedfolders.json");
  auto item = fillContentItemOfClass<QBSharedFolderListItem>(error, context, request);
  if (item) item->identifier = context.sharingId.value_or(std::string());
  return item;
}

std::shared_ptr<QBSharingUsersItem> QBApiClient::listSharingUsersOf(const std::string& folderId,
                                                                    QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "sharing/listusers.json", Args{folderId});
  auto item = fillContentItemOfClass<QBSharingUsersItem>(error, context, request);
  if (item) item->identifier = folderId;
  return item;
}

bool QBApiClient::shareFolder(const std::string& folderId, const std::string& user, const std::string& mode,
                              QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "sharing.json",
                                                 json{{"folder_id", folderId}, {"username", user}, {"sharemode", mode}});
  return holds(fillResponseError(error, context, request), "DirUpdateTime");
}

bool QBApiClient::deleteSharing(const std::string& sharingId, QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("DELETE", "sharing.json", Args{sharingId});
  return holds(fillResponseError(error, context, request), "DirUpdateTime");
}

bool QBApiClient::changeSharing(const std::string& sharingId, const std::string& mode, QBApiClientContext& context,
                                ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("PUT", "sharing/setmode.json",
                                                 json{{"sharing_id", sharingId}, {"sharemode", mode}});
  return sendStatusRequest(request, &context, error);
}

std::shared_ptr<QBAnonymousItem> QBApiClient::secureFoldersAuth(const std::string& folderId,
                                                                QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "securefolders/auth.json", Args{folderId});
  QBReply reply = fillResponseError(error, context, request);
  if (!reply) return nullptr;
  return QBAnonymousItem::itemWithDict(*reply, error);
}

bool QBApiClient::secureFoldersAuth(const std::string& folderId, const std::string& hash,
                                    QBApiClientContext& context, ErrorPtr* error) {
  ErrorPtr local;
  ErrorPtr* slot = error ? error : &local;
  auto request = QBApiRequest::requestWithMethod("POST", "securefolders/auth.json",
                                                 json{{"folder_id", folderId}, {"hash", hash}});
  if (sendStatusRequest(request, &context, slot)) return true;
  return *slot && (*slot)->failureReason() == std::optional<std::string>("Open encrypted directory failed");
}

bool QBApiClient::secureFoldersInit(const std::string& folderId, const std::string& data, const std::string& hash,
                                    QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "securefolders/init.json",
                                                 json{{"folder_id", folderId}, {"data", data}, {"hash", hash}});
  return sendStatusRequest(request, &context, error);
}

std::shared_ptr<QBUserLinksItem> QBApiClient::userLinksWithContext(QBApiClientContext& context, ErrorPtr* error) {
  QBReply billing = fillResponseError(
      error, context, QBApiRequest::requestWithMethod("GET", "users/link.json", json{{"type", "0"}}));
  if (!billing) return nullptr;
  QBReply account = fillResponseError(
      error, context, QBApiRequest::requestWithMethod("GET", "users/link.json", json{{"type", "1"}}));
  if (!account) return nullptr;
  if (!account->contains("Link") || !billing->contains("Link")) return nullptr;
  return QBUserLinksItem::itemWithDict(json{{"account", (*account)["Link"]}, {"billing", (*billing)["Link"]}}, error);
}

std::shared_ptr<QBNotificationsItem> QBApiClient::userNotificationsContext(QBApiClientContext& context,
                                                                           ErrorPtr* error) {
  auto request =
      QBApiRequest::requestWithMethod("GET", "users/notifications.json", json{{"app_version", QBApiClientAPIVersion()}});
  return fillContentItemOfClass<QBNotificationsItem>(error, context, request);
}

}  // namespace greyfox
