#include "diag/Log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diag/Logging.h"
#include "platform/Clock.h"

namespace greyfox {

namespace {

std::string expand(const char* format, va_list args) {
  char buffer[512];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(n));
  std::string text(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

bool toStandardError() { return std::getenv("GREYFOX_LOG_STDERR") != nullptr; }

// One write, so lines of different threads stay whole on the terminal too.
void writeStandardError(const std::string& line) {
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

// Logging must never take the program down: a failure to format or to
// allocate loses the line.
void _Log(const char*, const char*, int, const char*, const char* format, ...) {
  try {
    auto logging = QBLogging::sharedInstance();
    bool stderrToo = toStandardError();
    if (!logging && !stderrToo) return;
    va_list args;
    va_start(args, format);
    std::string message = expand(format, args);
    va_end(args);
    double now = Clock::current().now();
    std::string entry = "[" + QBLogging::formatTime(now, false) + "]: " + message + "\n";
    if (logging) logging->fileMessage(entry, false);
    if (stderrToo) writeStandardError("[" + QBLogging::formatTime(now, true) + "]: " + entry);
  } catch (...) {
  }
}

void _SuccinctlyLog(const char*, const char*, int, const char*, const char* format, ...) {
  try {
    auto logging = QBLogging::sharedInstance();
    bool stderrToo = toStandardError();
    if (!logging && !stderrToo) return;
    va_list args;
    va_start(args, format);
    std::string message = expand(format, args) + "\n";
    va_end(args);
    if (logging) logging->fileSuccinctMessage(message);
    if (stderrToo) writeStandardError(message);
  } catch (...) {
  }
}

}  // namespace greyfox
