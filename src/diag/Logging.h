// The log files of a run and the process's crash logging.
//
// QBLogging is made by setupWithPrefix() at start-up; from then on _Log and
// _SuccinctlyLog (diag/Log.h) append through it. It keeps two writers, each
// with its own file "<prefix>Log-<yyyy-MM-dd HH:mm:ss.SS>.txt" in the log
// directory, named by the time of that writer's first line and kept for the
// run: the ordinary one (lines with time stamps) and the succinct one.
// setupWithPrefix() also installs the handlers that log an uncaught exception
// or a fatal signal with its call stack before the process ends.
//
// Every member is safe to call from any thread. Each line is appended whole
// with one write, so lines from different threads never interleave. Writing
// never throws: when the directory or file cannot be made, the line is lost.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace greyfox {

// One log file, chosen at the first append and kept open for appending.
class LogWriter {
 public:
  // `crashLog`: the fatal-signal handler writes to this writer's file.
  LogWriter(std::string directory, std::string prefix, bool crashLog = false);
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Appends `bytes` with a single write. The first call names the file and
  // makes the directory and the file; while they cannot be made, every call
  // tries again and the bytes are lost.
  void append(std::string_view bytes);
  // The file's path, or "" before the first append.
  std::string currentFile() const;

 private:
  bool openLocked();  // REQUIRES: mutex_ held

  const std::string directory_;
  const std::string prefix_;
  const bool crashLog_;
  mutable std::mutex mutex_;
  std::string file_;  // guarded by mutex_
  int fd_ = -1;       // guarded by mutex_
};

class QBLogging {
 public:
  // Makes the process's logging with `prefix` ("QB") over the log directory of
  // the paths in force, replacing any earlier one, and installs the crash
  // handlers (once per process). Answers the new instance.
  static std::shared_ptr<QBLogging> setupWithPrefix(const std::string& prefix);
  // The instance in force, or nullptr before setup (lines then go nowhere).
  static std::shared_ptr<QBLogging> sharedInstance();
  // Removes the instance in force; later lines go nowhere.
  static void tearDown();

  QBLogging(std::string prefix, std::string path);
  QBLogging(const QBLogging&) = delete;
  QBLogging& operator=(const QBLogging&) = delete;

  const std::string& prefix() const { return prefix_; }
  // The log directory, ending in "/Quillbox/LogDirectory/".
  const std::string& path() const { return path_; }

  // Appends `message` to the ordinary file, after "[yyyy-MM-dd HH:mm:ss.SS]: "
  // unless `succinct`.
  void fileMessage(std::string_view message, bool succinct);
  // Appends `message` unchanged to the succinct writer's file.
  void fileSuccinctMessage(std::string_view message);
  std::string currentLogFile() const { return writer_.currentFile(); }
  std::string currentSuccinctLogFile() const { return succinctWriter_.currentFile(); }

  // Full paths of every file in the log directory and in the extension's.
  std::vector<std::string> ongoingLogs() const;
  // Keeps the 18 newest entries of the log directory and the 2 newest of the
  // extension's log directory, by creation time.
  void cleanup() const;
  // Removes every entry of `folder` beyond the `maxItems` newest by creation
  // time (the modification time where the file system keeps no birth time).
  static void cleanupLogsFolder(const std::string& folder, std::size_t maxItems);
  // The log directory of the file-manager extension.
  static std::string extensionLogDirectory();

  // The "running" preference: true while the volume is mounted, so a start
  // that finds it set knows the last run did not end normally.
  static bool checkQuitFlag();
  static void setRunningFlag(bool running);

  // Local time as "yyyy-MM-dd HH:mm:ss", with ".SS" (hundredths) when asked.
  static std::string formatTime(double secondsSince1970, bool hundredths);

 private:
  const std::string prefix_;
  const std::string path_;
  LogWriter writer_;
  LogWriter succinctWriter_;
};

}  // namespace greyfox
