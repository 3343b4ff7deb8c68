// QBApiClient: the one object through which the client calls the service.
// It lets an API context add the session (and sharing ids) to a request,
// sends the request, judges the decoded reply (turning the service's error
// replies into -197 errors), re-sends while the service answers "Folder is
// busy", and keeps the last five judged requests for the failure log.
//
// Any thread may call it; sends block the caller's thread. Reply judging and
// the request history are serialized by judgeMutex_; sending is not.
// sharedClient() answers the instance installed for the running session.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/ApiError.h"
#include "api/QBApiClientContext.h"
#include "api/QBApiRequest.h"

namespace greyfox {

class QBUserSessionItem;
class QBFileItem;
class QBFolderItem;
class QBFolderListItem;
class QBFolderInfoItem;
class QBFileInfoItem;
class QBFileThumbnailItem;
class QBTrashFolderListItem;
class QBSharedFolderListItem;
class QBSharedUsersFolderListItem;
class QBFSIdItem;
class QBFolderFSIdItem;
class QBUploadFileHandle;
class QBChunkUploadResult;
class QBUserInfoItem;
class QBUserLinksItem;
class QBNotificationsItem;
class QBSharingUsersItem;
class QBAnonymousItem;

// Told when a request starts and ends, on the caller's thread (the
// implementation moves to the main thread itself).
class QBApiClientActivityDelegate {
 public:
  virtual ~QBApiClientActivityDelegate() = default;
  virtual void didStartedRequest() = 0;
  virtual void didFinishedRequest() = 0;
};

enum QBApiClientCheckResponseStatus : long {
  QBApiClientCheckResponseStatusNormal = 0,
  QBApiClientCheckResponseStatusBusy = 1,
  QBApiClientCheckResponseStatusFailed = 2,
};

// The application's version, sent as "version" at sign-in and "app_version"
// with the notifications query.
std::string QBApiClientAPIVersion();
void setQBApiClientAPIVersion(const std::string& version);

using QBReply = std::optional<nlohmann::json>;

class QBApiClient {
 public:
  // One history entry: the request and its decoded reply (null when none).
  using StackEntry = std::pair<QBApiRequest::Ptr, nlohmann::json>;

  QBApiClient() = default;
  QBApiClient(const QBApiClient&) = delete;
  QBApiClient& operator=(const QBApiClient&) = delete;

  // The instance installed for the running session, made on first use.
  static std::shared_ptr<QBApiClient> sharedClient();
  // Installs `client` (nullptr: the next sharedClient() makes a fresh one).
  static void install(std::shared_ptr<QBApiClient> client);

  void setActivityDelegate(std::shared_ptr<QBApiClientActivityDelegate> delegate);
  std::vector<StackEntry> requestsStack() const;

  // --- Core ---

  // Sends and judges; re-sends after "Folder is busy" every busyRetryDelay
  // while fewer than 35 re-sends were made and fewer than busyRetryWindow
  // whole seconds passed since the first attempt. Answers the decoded reply,
  // also an error reply (with -197 in *error); nullopt with -200 when the
  // transfer or decoding failed.
  QBReply sendRequest(const QBApiRequest::Ptr& request, ErrorPtr* error);
  QBReply sendRequest(const QBApiRequest::Ptr& request, int iteration, ErrorPtr* error);
  // For replies that only say yes or no: true when the reply is judged
  // normal. No busy retry.
  bool sendStatusRequest(const QBApiRequest::Ptr& request, QBApiClientContext* context, ErrorPtr* error);
  bool sendStatusRequest(const QBApiRequest::Ptr& request, ErrorPtr* error) {
    return sendStatusRequest(request, nullptr, error);
  }
  // Judges a decoded reply and records it in the history.
  QBApiClientCheckResponseStatus checkResponseStatus(const nlohmann::json& reply, const QBApiRequest::Ptr& request,
                                                     ErrorPtr* error);
  // true when the reply is judged normal.
  bool checkServerError(ErrorPtr* error, const QBApiRequest::Ptr& request, const nlohmann::json& reply) {
    return checkResponseStatus(reply, request, error) == QBApiClientCheckResponseStatusNormal;
  }

  // Sends without a context and makes a T from the reply; nullptr on failure.
  template <class T>
  std::shared_ptr<T> fillContentItemOfClass(ErrorPtr* error, const QBApiRequest::Ptr& request) {
    QBReply reply = sendRequest(request, error);
    if (!reply) return nullptr;
    return T::itemWithDict(*reply, error);
  }
  // The context fills the request, the reply passes its postFill, and a T is
  // made from it; nullptr on any failure.
  template <class T>
  std::shared_ptr<T> fillContentItemOfClass(ErrorPtr* error, QBApiClientContext& context,
                                            const QBApiRequest::Ptr& request) {
    if (!context.preFill(*request, *this, error)) return nullptr;
    QBReply reply = sendRequest(request, error);
    if (!reply) return nullptr;
    nlohmann::json filled = context.postFill(std::move(*reply), *this, *request, error);
    return T::itemWithDict(filled, error);
  }
  // The reply after the context's postFill; nullopt on failure and for an
  // error reply (-197).
  QBReply fillResponseError(ErrorPtr* error, QBApiClientContext& context, const QBApiRequest::Ptr& request);
  // Sends without a context and stores the reply's `propertyName` (the
  // upload speed limit) into the session item; nullptr on failure.
  std::shared_ptr<QBUserSessionItem> fillPropertyOfUserSessionItem(const std::shared_ptr<QBUserSessionItem>& session,
                                                                   ErrorPtr* error, const std::string& propertyName,
                                                                   const QBApiRequest::Ptr& request);
  // *error becomes -200 "Server communication error." around the old error.
  static void fillNetworkError(ErrorPtr* error);
  // { failure reason: "error.message", server code: "error.code" }, each
  // present only when the reply has it.
  static nlohmann::json userInfoFromServerErrorResponse(const nlohmann::json& reply);
  // true for the service's error reply: an object whose only key is "error".
  static bool isErrorReply(const nlohmann::json& reply);

  // --- Session ---

  std::shared_ptr<QBUserSessionItem> authenticateUserSessionWithUsername(const std::string& username,
                                                                        const std::string& password, ErrorPtr* error);
  bool sendToken(const QBUserSessionItem& session, ErrorPtr* error);
  bool verifyToken(const QBUserSessionItem& session, const std::string& code, ErrorPtr* error);
  bool logoutWithContext(QBApiClientAuthContext& context, ErrorPtr* error);
  bool createUserWithEmail(const std::string& email, const std::string& password, const std::string& firstName,
                           const std::string& lastName, ErrorPtr* error);
  // Storage and plan figures.
  std::shared_ptr<QBUserInfoItem> userInfoWithContext(QBApiClientAuthContext& context, ErrorPtr* error);

  // --- Files ---
  // Every operation answers nullptr, nullopt or false on failure with the
  // error in *error: -200 for transfer failures, -197 for error replies,
  // -199/-198 when the context lacks a session or sharing id. Operations
  // judged by a reply key answer false without an error when it is missing.

  // The id of the file at a volume path. A path the service does not know
  // (error code 404) gives an item whose identifier is "undefined", with the
  // error left in *error. The item's path is the asked path.
  std::shared_ptr<QBFSIdItem> fileIdAt(const std::string& path, QBApiClientContext& context, ErrorPtr* error);
  // "/" followed by the service's path of the file.
  std::optional<std::string> pathForFile(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error);
  // Creates an empty file and answers it; *uploadHandle (when given) gets
  // the upload handle from the same reply. An empty name or folder id, or
  // no size, answers nullptr at once with no error. The compression flag is
  // not sent.
  std::shared_ptr<QBFileItem> createFile(const std::string& name, const std::string& folderId,
                                         std::shared_ptr<QBUploadFileHandle>* uploadHandle,
                                         QBApiClientContext& context, bool forCompression,
                                         std::optional<std::uint64_t> size, ErrorPtr* error);
  bool deleteFile(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error);
  bool trashFile(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error);
  bool restoreFile(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error);
  // The handle of a new upload of the file; identifier and size are set.
  std::shared_ptr<QBUploadFileHandle> openFile(const std::string& fileId, std::uint64_t size,
                                               QBApiClientContext& context, ErrorPtr* error);
  // Moves (and renames when newName is given) a file; the answered item
  // carries the source file's id.
  std::shared_ptr<QBFileItem> moveFile(const std::string& fileId, const std::optional<std::string>& newName,
                                       const std::string& destinationFolderId, QBApiClientContext& context,
                                       ErrorPtr* error);
  // Sends `bytes` as the chunk at `offset`; the result's bytesWritten is
  // what the service holds for the file afterwards.
  std::shared_ptr<QBChunkUploadResult> uploadChunk(const std::string& bytes, std::uint64_t offset,
                                                   const std::string& fileId, const std::string& tempLocation,
                                                   QBApiClientContext& context, ErrorPtr* error);
  // The chunk upload request itself, for callers that send it on their own
  // (progress, non-blocking): already filled by the context, or nullptr.
  QBApiRequest::Ptr chunkUploadRequest(const std::string& bytes, std::uint64_t offset, const std::string& fileId,
                                       const std::string& tempLocation, QBApiClientContext& context, ErrorPtr* error);
  // Ends an upload; "file_time" is `time` or now, in whole seconds.
  std::shared_ptr<QBFileItem> closeFileUpload(const std::string& fileId, std::uint64_t size,
                                              const std::string& tempLocation, bool withFileCompression,
                                              std::optional<std::int64_t> time, QBApiClientContext& context,
                                              ErrorPtr* error);
  std::shared_ptr<QBFileItem> file(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error);
  bool setSettingsForFile(const nlohmann::json& settings, const std::string& fileId, QBApiClientContext& context,
                          ErrorPtr* error);
  std::shared_ptr<QBFileInfoItem> fileInfo(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error);
  // The thumbnail from the raw body of an HTTP 200; the body is not judged.
  std::shared_ptr<QBFileThumbnailItem> fileThumbnail(const std::string& fileId, QBApiClientContext& context,
                                                     ErrorPtr* error);
  // The whole file as the raw body.
  std::optional<std::string> downloadData(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error);

  // --- Folders ---

  // As fileIdAt, for folders.
  std::shared_ptr<QBFolderFSIdItem> folderIdAt(const std::string& path, QBApiClientContext& context, ErrorPtr* error);
  std::optional<std::string> pathForFolder(const std::string& folderId, QBApiClientContext& context, ErrorPtr* error);
  std::shared_ptr<QBFolderItem> createFolder(const std::string& name, const std::string& parentId,
                                             QBApiClientContext& context, ErrorPtr* error);
  // The listing of a folder; its identifier is the folder id. Without a
  // time "0" is sent as "last_request_time".
  std::shared_ptr<QBFolderListItem> listFolder(const std::string& folderId, std::optional<std::int64_t> lastRequestTime,
                                               QBApiClientContext& context, ErrorPtr* error);
  std::shared_ptr<QBFolderItem> moveFolder(const std::string& folderId, const std::optional<std::string>& newName,
                                           const std::string& destinationFolderId, QBApiClientContext& context,
                                           ErrorPtr* error);
  bool deleteFolder(const std::string& folderId, QBApiClientContext& context, ErrorPtr* error);
  bool trashFolder(const std::string& folderId, QBApiClientContext& context, ErrorPtr* error);
  bool restoreFolder(const std::string& folderId, QBApiClientContext& context, ErrorPtr* error);
  bool setSettingsForFolder(const nlohmann::json& settings, const std::string& folderId,
                            const std::string& accessFolderId, QBApiClientContext& context, ErrorPtr* error);
  std::shared_ptr<QBFolderInfoItem> folderInfo(const std::string& folderId, QBApiClientContext& context,
                                               ErrorPtr* error);
  // The trash listing, identifier "-1".
  std::shared_ptr<QBTrashFolderListItem> listTrashFolderWithContext(QBApiClientContext& context, ErrorPtr* error);
  // true when a reply came back that is not an error reply.
  bool emptyTrashWithContext(QBApiClientContext& context, ErrorPtr* error);

  // --- Sharing ---

  // The users who share folders with the user, identifier "-2".
  std::shared_ptr<QBSharedUsersFolderListItem> listSharedUsersWithContext(QBApiClientContext& context,
                                                                          ErrorPtr* error);
  // The folders one user shares, identifier = the context's sharingId.
  std::shared_ptr<QBSharedFolderListItem> sharedFoldersWithContext(QBApiClientSharingContext& context,
                                                                   ErrorPtr* error);
  std::shared_ptr<QBSharingUsersItem> listSharingUsersOf(const std::string& folderId, QBApiClientContext& context,
                                                         ErrorPtr* error);
  bool shareFolder(const std::string& folderId, const std::string& user, const std::string& mode,
                   QBApiClientContext& context, ErrorPtr* error);
  bool deleteSharing(const std::string& sharingId, QBApiClientContext& context, ErrorPtr* error);
  bool changeSharing(const std::string& sharingId, const std::string& mode, QBApiClientContext& context,
                     ErrorPtr* error);

  // --- Secure folders ---

  // The folder's challenge reply, kept as it came.
  std::shared_ptr<QBAnonymousItem> secureFoldersAuth(const std::string& folderId, QBApiClientContext& context,
                                                     ErrorPtr* error);
  // true when the service accepts the hash, and also when it answers
  // "Open encrypted directory failed".
  bool secureFoldersAuth(const std::string& folderId, const std::string& hash, QBApiClientContext& context,
                         ErrorPtr* error);
  bool secureFoldersInit(const std::string& folderId, const std::string& data, const std::string& hash,
                         QBApiClientContext& context, ErrorPtr* error);

  // --- User ---

  // Refreshes the session's uploadSpeedLimit and answers the session.
  std::shared_ptr<QBUserSessionItem> getUploadSpeedLimit(const std::shared_ptr<QBUserSessionItem>& session,
                                                         ErrorPtr* error);
  // The account ("type" 1) and billing ("type" 0) links.
  std::shared_ptr<QBUserLinksItem> userLinksWithContext(QBApiClientContext& context, ErrorPtr* error);
  std::shared_ptr<QBNotificationsItem> userNotificationsContext(QBApiClientContext& context, ErrorPtr* error);

 private:
  void didStart();
  void didFinish();
  void writeFailureLog(const QBApiRequest::Ptr& request, const nlohmann::json& reply);  // REQUIRES: judgeMutex_ held

  mutable std::mutex delegateMutex_;
  std::shared_ptr<QBApiClientActivityDelegate> activityDelegate_;  // guarded by delegateMutex_

  mutable std::mutex judgeMutex_;
  std::vector<StackEntry> requestsStack_;  // guarded by judgeMutex_; oldest first, at most 5
};

}  // namespace greyfox
