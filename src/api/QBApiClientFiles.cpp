// File operations of the service API.
#include "api/QBApiClient.h"

#include <cmath>

#include "items/QBFSIdItem.h"
#include "items/QBFileItem.h"
#include "items/QBUploadFileHandle.h"
#include "platform/Clock.h"

namespace greyfox {

namespace {

using Args = QBApiRequest::Arguments;
using nlohmann::json;

bool holds(const QBReply& reply, const char* key) { return reply && reply->is_object() && reply->contains(key); }

std::optional<std::string> slashPath(const QBReply& reply) {
  if (!reply) return std::nullopt;
  auto it = reply->find("Path");
  if (it == reply->end() || !it->is_string()) return std::nullopt;
  return "/" + it->get<std::string>();
}

}  // namespace

// Shared by fileIdAt and folderIdAt: a 404 error reply means "no such path".
template <class T>
static std::shared_ptr<T> lookUpPath(QBApiClient& client, const char* endpoint, const std::string& path,
                                     QBApiClientContext& context, ErrorPtr* error) {
  ErrorPtr local;
  ErrorPtr* slot = error ? error : &local;
  auto request = QBApiRequest::requestWithMethod("POST", endpoint, json{{"path", path}});
  auto item = client.fillContentItemOfClass<T>(slot, context, request);
  if (!item && *slot && (*slot)->serverCode() == 404) {
    item = std::make_shared<T>();
    item->identifier = "undefined";
  }
  if (item) item->path = path;
  return item;
}

std::shared_ptr<QBFSIdItem> QBApiClient::fileIdAt(const std::string& path, QBApiClientContext& context,
                                                  ErrorPtr* error) {
  return lookUpPath<QBFSIdItem>(*this, "file/idbypath.json", path, context, error);
}

std::shared_ptr<QBFolderFSIdItem> QBApiClient::folderIdAt(const std::string& path, QBApiClientContext& context,
                                                          ErrorPtr* error) {
  return lookUpPath<QBFolderFSIdItem>(*this, "folder/idbypath.json", path, context, error);
}

std::optional<std::string> QBApiClient::pathForFile(const std::string& fileId, QBApiClientContext& context,
                                                    ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "file/path.json", Args{fileId});
  return slashPath(fillResponseError(error, context, request));
}

std::optional<std::string> QBApiClient::pathForFolder(const std::string& folderId, QBApiClientContext& context,
                                                      ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "folder/path.json", Args{folderId});
  return slashPath(fillResponseError(error, context, request));
}

std::shared_ptr<QBFileItem> QBApiClient::createFile(const std::string& name, const std::string& folderId,
                                                    std::shared_ptr<QBUploadFileHandle>* uploadHandle,
                                                    QBApiClientContext& context, bool,
                                                    std::optional<std::uint64_t> size, ErrorPtr* error) {
  if (name.empty() || folderId.empty() || !size) return nullptr;
  auto request = QBApiRequest::requestWithMethod(
      "POST", "upload/create_file.json", json{{"folder_id", folderId}, {"file_name", name}, {"file_size", *size}});
  QBReply reply = fillResponseError(error, context, request);
  if (!reply) return nullptr;
  auto item = QBFileItem::itemWithDict(*reply, error);
  if (uploadHandle) *uploadHandle = QBUploadFileHandle::itemWithDict(*reply, error);
  return item;
}

bool QBApiClient::deleteFile(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("DELETE", "file.json", Args{fileId});
  return holds(fillResponseError(error, context, request), "DirUpdateTime");
}

bool QBApiClient::trashFile(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "file/trash.json", json{{"file_id", fileId}});
  return holds(fillResponseError(error, context, request), "DirUpdateTime");
}

bool QBApiClient::restoreFile(const std::string& fileId, QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "file/restore.json", json{{"file_id", fileId}});
  return fillContentItemOfClass<QBFileItem>(error, context, request) != nullptr;
}

std::shared_ptr<QBUploadFileHandle> QBApiClient::openFile(const std::string& fileId, std::uint64_t size,
                                                          QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("POST", "upload/open_file_upload.json",
                                                 json{{"file_id", fileId}, {"file_size", size}});
  auto handle = fillContentItemOfClass<QBUploadFileHandle>(error, context, request);
  if (handle) {
    handle->identifier = fileId;
    handle->size = static_cast<std::int64_t>(size);
  }
  return handle;
}

std::shared_ptr<QBFileItem> QBApiClient::moveFile(const std::string& fileId, const std::optional<std::string>& newName,
                                                  const std::string& destinationFolderId, QBApiClientContext& context,
                                                  ErrorPtr* error) {
  json params = {{"src_file_id", fileId},
                 {"dst_folder_id", destinationFolderId},
                 {"move", "true"},
                 {"overwrite_if_exists", "true"}};
  if (newName) params["new_file_name"] = *newName;
  auto request = QBApiRequest::requestWithMethod("POST", "file/move_copy.json", params);
  auto item = fillContentItemOfClass<QBFileItem>(error, context, request);
  if (item) item->identifier = fileId;
  return item;
}

QBApiRequest::Ptr QBApiClient::chunkUploadRequest(const std::string& bytes, std::uint64_t offset,
                                                  const std::string& fileId, const std::string& tempLocation,
                                                  QBApiClientContext& context, ErrorPtr* error) {
  json params = {{"temp_location", tempLocation},
                 {"chunk_offset", offset},
                 {"chunk_size", static_cast<std::uint64_t>(bytes.size())},
                 {"file_data", json::binary(std::vector<std::uint8_t>(bytes.begin(), bytes.end()))}};
  auto request = QBApiRequest::requestWithMethod("POST", "upload/upload_file_chunk2.json", Args{fileId}, params);
  request->parametersType = QBApiRequestParametersQueryAndMultipart;
  if (!context.preFill(*request, *this, error)) return nullptr;
  return request;
}

std::shared_ptr<QBChunkUploadResult> QBApiClient::uploadChunk(const std::string& bytes, std::uint64_t offset,
                                                              const std::string& fileId,
                                                              const std::string& tempLocation,
                                                              QBApiClientContext& context, ErrorPtr* error) {
  auto request = chunkUploadRequest(bytes, offset, fileId, tempLocation, context, error);
  if (!request) return nullptr;
  QBReply reply = sendRequest(request, error);
  if (!reply) return nullptr;
  return QBChunkUploadResult::itemWithDict(context.postFill(std::move(*reply), *this, *request, error), error);
}

std::shared_ptr<QBFileItem> QBApiClient::closeFileUpload(const std::string& fileId, std::uint64_t size,
                                                         const std::string& tempLocation, bool,
                                                         std::optional<std::int64_t> time,
                                                         QBApiClientContext& context, ErrorPtr* error) {
  std::int64_t fileTime = time ? *time : static_cast<std::int64_t>(std::floor(Clock::current().now()));
  auto request = QBApiRequest::requestWithMethod(
      "POST", "upload/close_file_upload.json",
      json{{"file_id", fileId}, {"file_size", size}, {"temp_location", tempLocation}, {"file_time", fileTime}});
  return fillContentItemOfClass<QBFileItem>(error, context, request);
}

std::shared_ptr<QBFileItem> QBApiClient::file(const std::string& fileId, QBApiClientContext& context,
                                              ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "file/info.json", json{{"file_id", fileId}});
  return fillContentItemOfClass<QBFileItem>(error, context, request);
}

bool QBApiClient::setSettingsForFile(const nlohmann::json& settings, const std::string& fileId,
                                     QBApiClientContext& context, ErrorPtr* error) {
  json params = settings.is_object() ? settings : json::object();
  params["file_id"] = fileId;
  // Without "file_access" there is nothing to copy, and no null is sent.
  if (settings.is_object() && settings.contains("file_access")) params["file_ispublic"] = settings["file_access"];
  auto request = QBApiRequest::requestWithMethod("PUT", "file/filesettings.json", params);
  return holds(fillResponseError(error, context, request), "FileId");
}

std::shared_ptr<QBFileInfoItem> QBApiClient::fileInfo(const std::string& fileId, QBApiClientContext& context,
                                                      ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "file/info.json", Args{fileId});
  return fillContentItemOfClass<QBFileInfoItem>(error, context, request);
}

std::shared_ptr<QBFileThumbnailItem> QBApiClient::fileThumbnail(const std::string& fileId,
                                                                QBApiClientContext& context, ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "file/thumb.json", Args{fileId});
  if (!context.preFill(*request, *this, error)) return nullptr;
  didStart();
  std::optional<std::string> body;
  std::shared_ptr<QBFileThumbnailItem> item;
  if (request->sendSyncWithExpectCode(error, &body, 200)) {
    item = std::make_shared<QBFileThumbnailItem>();
    item->identifier = fileId;
    item->data = body.value_or(std::string());
  }
  didFinish();
  return item;
}

std::optional<std::string> QBApiClient::downloadData(const std::string& fileId, QBApiClientContext& context,
                                                     ErrorPtr* error) {
  auto request = QBApiRequest::requestWithMethod("GET", "download/file.json", Args{fileId});
  if (!context.preFill(*request, *this, error)) return std::nullopt;
  didStart();
  std::optional<std::string> body;
  bool ok = request->sendSyncWith(error, &body);
  didFinish();
  if (!ok) return std::nullopt;
  return body;
}

}  // namespace greyfox
