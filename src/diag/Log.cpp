#include "diag/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace greyfox {

// Placeholder writer until the log files are in place: lines go to standard
// error when GREYFOX_LOG_STDERR is set, and nowhere otherwise.
namespace {
void write(const char* format, va_list args) {
  if (!std::getenv("GREYFOX_LOG_STDERR")) return;
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}
}  // namespace

void _Log(const char*, const char*, int, const char*, const char* format, ...) {
  va_list args;
  va_start(args, format);
  write(format, args);
  va_end(args);
}

void _SuccinctlyLog(const char*, const char*, int, const char*, const char* format, ...) {
  va_list args;
  va_start(args, format);
  write(format, args);
  va_end(args);
}

}  // namespace greyfox
