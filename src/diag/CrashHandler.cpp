#include "diag/CrashHandler.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

#include "diag/Log.h"
#include "diag/Logging.h"

namespace greyfox {

namespace {

std::atomic<int> crashFd{-1};
std::atomic<bool> alsoStandardError{false};

constexpr int kMaxFrames = 128;

struct FatalSignal {
  int number;
  const char* name;
};
constexpr FatalSignal kFatalSignals[] = {
    {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"}, {SIGABRT, "SIGABRT"}, {SIGFPE, "SIGFPE"}, {SIGILL, "SIGILL"},
};

// Async-signal-safe: write(2) only.
void writeAll(int fd, const char* text, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void writeText(int fd, const char* text) { writeAll(fd, text, std::strlen(text)); }

void writeCrashReport(int fd, const char* name, void* const* frames, int count) {
  writeText(fd, "================= Signal: ");
  writeText(fd, name);
  writeText(fd, "\n");
  backtrace_symbols_fd(frames, count, fd);
}

void onFatalSignal(int number) {
  const char* name = "fatal signal";
  for (const auto& s : kFatalSignals) {
    if (s.number == number) name = s.name;
  }
  void* frames[kMaxFrames];
  int count = backtrace(frames, kMaxFrames);
  int fd = crashFd.load();
  if (fd >= 0) writeCrashReport(fd, name, frames, count);
  if (fd < 0 || alsoStandardError.load()) writeCrashReport(STDERR_FILENO, name, frames, count);
  // The handler was installed with SA_RESETHAND: the default action now ends
  // the process, either by this raise once the handler returns or by the
  // faulting instruction running again.
  ::raise(number);
}

std::string currentExceptionTypeName() {
  std::type_info* type = abi::__cxa_current_exception_type();
  if (!type) return "(null)";
  int status = 0;
  char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : type->name();
  std::free(demangled);
  return name;
}

[[noreturn]] void onTerminate() {
  std::string reason = "(null)";
  std::string type = "(null)";
  if (std::exception_ptr current = std::current_exception()) {
    type = currentExceptionTypeName();
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      reason = e.what();
    } catch (...) {
      reason = "non-standard exception";
    }
  } else {
    reason = "std::terminate called without an exception";
  }
  // Without a log (torn down), standard error is the only witness left.
  if (!QBLogging::sharedInstance()) std::fprintf(stderr, "================= Exception: %s\n", reason.c_str());
  QBLOG("================= Exception: %s", reason.c_str());
  QBLOG("%s", type.c_str());
  void* frames[kMaxFrames];
  int count = backtrace(frames, kMaxFrames);
  char** symbols = backtrace_symbols(frames, count);
  for (int i = 0; i < count; ++i) {
    QBLOG("%p :: %s", frames[i], symbols ? symbols[i] : "?");
  }
  std::free(symbols);
  // The exception is logged; the abort that follows needs no second report.
  ::signal(SIGABRT, SIG_DFL);
  std::abort();
}

}  // namespace

void setCrashLogDescriptor(int fd) { crashFd.store(fd); }

void forgetCrashLogDescriptor(int fd) {
  int expected = fd;
  crashFd.compare_exchange_strong(expected, -1);
}

void installCrashHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    alsoStandardError.store(std::getenv("GREYFOX_LOG_STDERR") != nullptr);
    // backtrace() loads its unwinder on first use, which allocates: do that
    // now rather than inside a signal handler.
    void* warmUp[1];
    backtrace(warmUp, 1);

    // A stack overflow arrives as SIGSEGV with no stack left: give the
    // handler one of its own on this thread.
    static char alternateStack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = alternateStack;
    ss.ss_size = sizeof alternateStack;
    ::sigaltstack(&ss, nullptr);

    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_ONSTACK;
    for (const auto& s : kFatalSignals) ::sigaction(s.number, &action, nullptr);

    std::set_terminate(onTerminate);
  });
}

}  // namespace greyfox
