// Logging of the process's end by an uncaught exception or a fatal signal.
//
// installCrashHandlers() sets a std::terminate handler, which logs
// "================= Exception: <reason>", the exception's type and one line
// "<address> :: <symbol>" per frame of the call stack, and handlers for
// SIGSEGV, SIGBUS, SIGABRT, SIGFPE and SIGILL, which write the signal's name
// and the call stack to the log file with async-signal-safe calls only. Both
// then let the process end as it would have without them.
//
// QBLogging::setupWithPrefix() installs them; installing again does nothing.
// The descriptor calls are made by the ordinary log writer when it opens and
// closes its file; the signal path reads the descriptor without locking.
#pragma once

namespace greyfox {

void installCrashHandlers();

// The file the fatal-signal handler writes to (standard error while none is set).
void setCrashLogDescriptor(int fd);
// Stops writing to `fd` if it is the one set.
void forgetCrashLogDescriptor(int fd);

}  // namespace greyfox
