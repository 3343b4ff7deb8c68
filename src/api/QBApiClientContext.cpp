#include "api/QBApiClientContext.h"

#include <algorithm>
#include <cstring>

#include "api/ApiError.h"
#include "diag/Log.h"
#include "items/QBUserSessionItem.h"

namespace greyfox {

namespace {

struct SessionPathEntry {
  const char* endpoint;
  const char* method;  // "*": any method
};

// The endpoints that take the session id as their first path argument.
constexpr SessionPathEntry kSessionPathEndpoints[] = {
    {"file.json", "*"},
    {"file/path.json", "*"},
    {"sharing/listsharedusers.json", "*"},
    {"sharing/listsharedfolders.json", "*"},
    {"sharing/listusers.json", "*"},
    {"folder/list.json", "*"},
    {"folder/info.json", "*"},
    {"folder/path.json", "*"},
    {"folder/trash.json", "DELETE"},
    {"folder/trashlist.json", "*"},
    {"securefolders/auth.json", "GET"},
    {"users/info.json", "*"},
    {"users/link.json", "*"},
    {"users/notifications.json", "*"},
    {"upload/upload_file_chunk2.json", "*"},
    {"sharing.json", "DELETE"},
};

void ensureParameters(QBApiRequest& request) {
  if (!request.parameters.is_object()) request.parameters = nlohmann::json::object();
}

}  // namespace

bool QBApiClientContext::preFill(QBApiRequest&, QBApiClient&, ErrorPtr*) { return true; }

nlohmann::json QBApiClientContext::postFill(nlohmann::json reply, QBApiClient&, QBApiRequest&, ErrorPtr*) {
  return reply;
}

const char* QBApiClientAuthContext::sessionPathMethod(const std::string& endpoint) {
  for (const auto& e : kSessionPathEndpoints) {
    if (endpoint == e.endpoint) return e.method;
  }
  return nullptr;
}

bool QBApiClientAuthContext::preFill(QBApiRequest& request, QBApiClient&, ErrorPtr* error) {
  if (!session) {
    setQBBareError(error, QBApiErrorNoSession);
    return false;
  }
  return updateRequest(request, error);
}

bool QBApiClientAuthContext::updateRequest(QBApiRequest& request, ErrorPtr*) {
  const char* method = sessionPathMethod(request.endpoint);
  if (session->sessionId.empty()) {
    QBLOG("sessionId assigned, %s", method ? method : "(null)");
  }
  if (method && (std::strcmp(method, "*") == 0 || request.method == method)) {
    request.arguments.insert(request.arguments.begin(), session->sessionId);
  } else {
    ensureParameters(request);
    request.parameters["session_id"] = session->sessionId;
  }
  return true;
}

bool QBApiClientSharingContext::preFill(QBApiRequest& request, QBApiClient& client, ErrorPtr* error) {
  if (!QBApiClientAuthContext::preFill(request, client, error)) return false;
  ensureParameters(request);
  if (sourceSharingId && destinationSharingId) {
    request.parameters["src_sharing_id"] = *sourceSharingId;
    request.parameters["dst_sharing_id"] = *destinationSharingId;
    return true;
  }
  if (!sharingId) {
    setQBBareError(error, QBApiErrorNoSharingId);
    return false;
  }
  if (request.endpoint == "sharing/listsharedfolders.json") {
    auto pos = request.arguments.begin() + std::min<size_t>(1, request.arguments.size());
    request.arguments.insert(pos, *sharingId);
  } else {
    request.parameters["sharing_id"] = *sharingId;
  }
  return true;
}

}  // namespace greyfox
