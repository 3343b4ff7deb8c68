// The client's log: one file per run in the log directory, lines appended
// whole from any thread. Use the macros; they pass the prefix "DEBUG " and the
// call site, and take a printf-style format (checked by the compiler).
//
//   QBLOG("[Apr] Lock acquired for path: %s", path.c_str());
//   QBLOG_SUCCINCT("%s", text.c_str());   // no time stamps
//
// Lines go to the files of QBLogging (diag/Logging.h) once it is set up, and
// nowhere before; GREYFOX_LOG_STDERR copies every line to standard error.
// Logging never throws and never stops the program: a line that cannot be
// written is lost.
#pragma once

namespace greyfox {

// Writes "[yyyy-MM-dd HH:mm:ss.SS]: [yyyy-MM-dd HH:mm:ss]: <message>\n".
// prefix, file, line and function are accepted and not written.
void _Log(const char* prefix, const char* file, int line, const char* function, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
// Writes "<message>\n" without time stamps, to the succinct writer's file.
void _SuccinctlyLog(const char* prefix, const char* file, int line, const char* function, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

}  // namespace greyfox

#define QBLOG(...) ::greyfox::_Log("DEBUG ", __FILE__, __LINE__, __func__, __VA_ARGS__)
#define QBLOG_SUCCINCT(...) ::greyfox::_SuccinctlyLog("DEBUG ", __FILE__, __LINE__, __func__, __VA_ARGS__)
