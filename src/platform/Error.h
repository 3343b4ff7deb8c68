// The error object every layer hands back through its out-parameter.
//
// An operation that can fail returns a value that says failure (false, nullptr,
// an empty result) and fills `ErrorPtr* error`, its last argument, when that
// pointer is non-null. Errors chain: whatever the out-parameter already held
// becomes the new error's underlying error, so a caller sees the whole story.
// Errors are immutable once made and may be shared between threads.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace greyfox {

struct Error;
using ErrorPtr = std::shared_ptr<const Error>;

// The domain of the API and content layers' errors: that literal text.
inline constexpr const char* kQBErrorDomain = "__FILE__";

// User-information keys.
inline constexpr const char* kDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kFailureReasonKey = "NSLocalizedFailureReason";
inline constexpr const char* kDebugDescriptionKey = "NSDebugDescription";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kServerCodeKey = "QBApiClientServerCodeKey";
// Present with a null value when an error was made with no previous error.
inline constexpr const char* kNilKey = "nil";

struct Error {
  std::string domain;
  long code = 0;
  // Plain values (strings, numbers, null) keyed as above; the underlying error
  // is kept apart in `underlying`.
  nlohmann::json userInfo = nlohmann::json::object();
  ErrorPtr underlying;

  std::optional<std::string> description() const { return stringValue(kDescriptionKey); }
  std::optional<std::string> failureReason() const { return stringValue(kFailureReasonKey); }
  std::optional<std::string> debugDescription() const { return stringValue(kDebugDescriptionKey); }
  // The service's own error code, when the error came from an error reply.
  std::optional<long> serverCode() const;
  // The failure reason, else the description, else "" (for logs and tests).
  std::string message() const;

  std::optional<std::string> stringValue(const char* key) const;
};

// Makes an error of `domain` and `code` with `failureReason`; `previous` becomes
// the underlying error, or the key "nil" holds null when there is none.
// `extra` adds user-information entries (for example kServerCodeKey).
ErrorPtr makeError(const std::string& domain, long code, const std::string& failureReason,
                   const ErrorPtr& previous, nlohmann::json extra = nlohmann::json::object());

// The out-parameter form of makeError: when `out` is non-null, *out becomes the
// new error with the old *out as its underlying error. Does nothing when `out`
// is null.
void setError(ErrorPtr* out, const std::string& domain, long code, const std::string& failureReason,
              nlohmann::json extra = nlohmann::json::object());

// An error of the domain "__FILE__", the form the API and content layers use.
inline void setQBError(ErrorPtr* out, long code, const std::string& failureReason,
                       nlohmann::json extra = nlohmann::json::object()) {
  setError(out, kQBErrorDomain, code, failureReason, std::move(extra));
}

}  // namespace greyfox
