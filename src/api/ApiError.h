// The error codes of the service API layer and the helpers that make them.
//
// Every error of this layer has the domain kQBErrorDomain ("__FILE__"), one of
// the codes below and the user information of Error.h: the failure reason, and
// the error the out-parameter held before as the underlying error. Safe from
// any thread.
#pragma once

#include <string>

#include "platform/Error.h"

namespace greyfox {

enum QBApiErrorCode : long {
  QBApiErrorRetryRefused = -96,   // a retry handler refused the retry
  QBApiErrorRequestBuild = -97,   // the request could not be built
  QBApiErrorBadReply = -98,       // the reply body is not a JSON object
  QBApiErrorNoData = -100,        // no body and no HTTP 200 after all retries
  QBApiErrorServer = -197,        // the service answered with an error reply
  QBApiErrorNoSharingId = -198,   // a sharing context without sharing ids
  QBApiErrorNoSession = -199,     // an auth context without a session
  QBApiErrorNetwork = -200,       // the transfer failed
};

// Replaces *out (when out is non-null) by an error of `code` whose user
// information holds only the previous error, as its underlying error, when
// there was one: no failure reason and no "nil" entry. Used by the codes whose
// meaning needs no text (-96, -97, -198, -199).
void setQBBareError(ErrorPtr* out, long code);

// The error of a failed transfer (not of this domain): `domain` names the
// transport, `code` its own code, `reason` its text.
ErrorPtr makeTransportError(const std::string& domain, long code, const std::string& reason);

}  // namespace greyfox
