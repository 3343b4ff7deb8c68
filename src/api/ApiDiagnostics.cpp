#include "api/ApiDiagnostics.h"

#include <execinfo.h>

#include <cstdlib>

#include "diag/DebugOptions.h"

namespace greyfox {

bool apiDebugOption(const char* name) { return QBDebugOptions::isOn(name); }

std::string callStackText() {
  void* frames[64];
  int n = backtrace(frames, 64);
  char** names = backtrace_symbols(frames, n);
  std::string text;
  for (int i = 1; i < n; ++i) {
    text += names ? names[i] : "?";
    text += '\n';
  }
  std::free(names);
  return text;
}

}  // namespace greyfox
