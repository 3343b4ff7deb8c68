// API contexts: how a request learns who is asking. Every API operation takes
// one; the content layer makes an auth context from the cached session, and a
// sharing context for items inside folders other users share.
//
// preFill runs on the caller's thread just before the request is sent; a
// context is not shared between concurrent calls while it is being changed.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "api/QBApiRequest.h"
#include "platform/Error.h"

namespace greyfox {

class QBApiClient;
class QBUserSessionItem;

class QBApiClientContext {
 public:
  virtual ~QBApiClientContext() = default;
  // Adds what the context contributes to `request`. The plain context adds
  // nothing and answers true.
  virtual bool preFill(QBApiRequest& request, QBApiClient& client, ErrorPtr* error);
  // The reply as the endpoint operations see it: unchanged.
  virtual nlohmann::json postFill(nlohmann::json reply, QBApiClient& client, QBApiRequest& request, ErrorPtr* error);
};

// Adds the session id: as the first path argument for the endpoints (and
// methods) of sessionPathEndpoints(), as the parameter "session_id" for all
// others. Without a session: -199, nothing sent.
class QBApiClientAuthContext : public QBApiClientContext {
 public:
  QBApiClientAuthContext() = default;
  explicit QBApiClientAuthContext(std::shared_ptr<QBUserSessionItem> s) : session(std::move(s)) {}

  bool preFill(QBApiRequest& request, QBApiClient& client, ErrorPtr* error) override;
  // Puts the session id into `request`. A session without an id is given the
  // empty id (kept in the session item) and sent with it.
  bool updateRequest(QBApiRequest& request, ErrorPtr* error);
  // The method ("*" for any) for which `endpoint` takes the session id in its
  // path, or nullptr when it never does.
  static const char* sessionPathMethod(const std::string& endpoint);

  std::shared_ptr<QBUserSessionItem> session;
};

// An auth context inside a folder that another user shares: also adds
// "src_sharing_id" and "dst_sharing_id" when both are set, else "sharing_id"
// (a path argument after the session id for "sharing/listsharedfolders.json").
// Without any: -198, nothing sent.
class QBApiClientSharingContext : public QBApiClientAuthContext {
 public:
  using QBApiClientAuthContext::QBApiClientAuthContext;

  bool preFill(QBApiRequest& request, QBApiClient& client, ErrorPtr* error) override;

  std::optional<std::string> sharingId;
  std::optional<std::string> sourceSharingId;
  std::optional<std::string> destinationSharingId;
};

}  // namespace greyfox
