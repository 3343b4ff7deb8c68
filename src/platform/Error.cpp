#include "platform/Error.h"

namespace greyfox {

std::optional<std::string> Error::stringValue(const char* key) const {
  auto it = userInfo.find(key);
  if (it == userInfo.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<long> Error::serverCode() const {
  auto it = userInfo.find(kServerCodeKey);
  if (it == userInfo.end() || !it->is_number()) return std::nullopt;
  return it->get<long>();
}

std::string Error::message() const {
  if (auto r = failureReason()) return *r;
  if (auto d = description()) return *d;
  return {};
}

ErrorPtr makeError(const std::string& domain, long code, const std::string& failureReason,
                   const ErrorPtr& previous, nlohmann::json extra) {
  auto e = std::make_shared<Error>();
  e->domain = domain;
  e->code = code;
  if (extra.is_object()) e->userInfo = std::move(extra);
  e->userInfo[kFailureReasonKey] = failureReason;
  if (previous) {
    e->underlying = previous;
  } else {
    e->userInfo[kNilKey] = nullptr;
  }
  return e;
}

void setError(ErrorPtr* out, const std::string& domain, long code, const std::string& failureReason,
              nlohmann::json extra) {
  if (!out) return;
  *out = makeError(domain, code, failureReason, *out, std::move(extra));
}

}  // namespace greyfox
