// The test-only control interface under "/_test/" (switched on by
// --test-controls): users, files behind the client's back, secure-folder
// marks, two-factor codes, notifications, request counts and faults.
// JSON in and out; large file bodies stream to and from disk.
#pragma once

#include <httplib.h>

#include "Faults.h"
#include "Store.h"

namespace greyfox::devservice {

void installTestControls(httplib::Server& server, Store& store, Faults& faults);

}  // namespace greyfox::devservice
