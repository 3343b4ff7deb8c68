// Diagnostics of the API layer's logs: the debug switches that widen them and
// the call stack some log lines carry. Safe from any thread.
#pragma once

#include <string>

namespace greyfox {

// Whether the debug option `name` ("al_enabled", "al_callstack") is on.
bool apiDebugOption(const char* name);

// The calling thread's stack, one frame per line.
std::string callStackText();

}  // namespace greyfox
