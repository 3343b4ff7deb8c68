#include "api/ApiError.h"

namespace greyfox {

void setQBBareError(ErrorPtr* out, long code) {
  if (!out) return;
  auto e = std::make_shared<Error>();
  e->domain = kQBErrorDomain;
  e->code = code;
  e->underlying = *out;
  *out = e;
}

ErrorPtr makeTransportError(const std::string& domain, long code, const std::string& reason) {
  auto e = std::make_shared<Error>();
  e->domain = domain;
  e->code = code;
  e->userInfo[kFailureReasonKey] = reason;
  return e;
}

}  // namespace greyfox
