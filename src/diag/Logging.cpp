#include "diag/Logging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <tuple>

#include "diag/CrashHandler.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Preferences.h"

namespace greyfox {

namespace {

std::mutex instanceMutex;
std::shared_ptr<QBLogging>& instanceSlot() {
  static auto* slot = new std::shared_ptr<QBLogging>();  // never destroyed: threads log during static teardown
  return *slot;
}

constexpr std::size_t kLogFilesKept = 18;
constexpr std::size_t kExtensionLogFilesKept = 2;

// Birth time where the file system records one, else the modification time;
// the modification time breaks ties between files born in the same tick.
struct EntryAge {
  std::int64_t createdNs = 0;
  std::int64_t modifiedNs = 0;
};

bool readEntryAge(const std::string& path, EntryAge& age) {
  struct statx st {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &st) != 0) return false;
  auto ns = [](const statx_timestamp& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; };
  age.modifiedNs = ns(st.stx_mtime);
  age.createdNs = (st.stx_mask & STATX_BTIME) ? ns(st.stx_btime) : age.modifiedNs;
  return true;
}

}  // namespace

// --- LogWriter ---

LogWriter::LogWriter(std::string directory, std::string prefix, bool crashLog)
    : directory_(std::move(directory)), prefix_(std::move(prefix)), crashLog_(crashLog) {}

LogWriter::~LogWriter() {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  if (crashLog_) forgetCrashLogDescriptor(fd_);
  ::close(fd_);
}

bool LogWriter::openLocked() {
  if (fd_ >= 0) return true;
  if (file_.empty()) {
    file_ = directory_ + prefix_ + "Log-" + QBLogging::formatTime(Clock::current().now(), true) + ".txt";
  }
  if (!makeDirectories(directory_, 0700, nullptr)) return false;
  // Never truncates: the other writer of this run may have chosen the same name.
  fd_ = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd_ < 0) return false;
  if (crashLog_) setCrashLogDescriptor(fd_);
  return true;
}

void LogWriter::append(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (!openLocked()) return;
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // disk full or I/O error: the rest of the line is lost
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string LogWriter::currentFile() const {
  std::lock_guard lock(mutex_);
  return file_;
}

// --- QBLogging ---

std::shared_ptr<QBLogging> QBLogging::setupWithPrefix(const std::string& prefix) {
  auto logging = std::make_shared<QBLogging>(prefix, Paths::current().applicationSupport() + "/Quillbox/LogDirectory/");
  {
    std::lock_guard lock(instanceMutex);
    instanceSlot() = logging;
  }
  installCrashHandlers();
  return logging;
}

std::shared_ptr<QBLogging> QBLogging::sharedInstance() {
  std::lock_guard lock(instanceMutex);
  return instanceSlot();
}

void QBLogging::tearDown() {
  std::shared_ptr<QBLogging> old;
  std::lock_guard lock(instanceMutex);
  old.swap(instanceSlot());
}

QBLogging::QBLogging(std::string prefix, std::string path)
    : prefix_(std::move(prefix)), path_(std::move(path)), writer_(path_, prefix_, true), succinctWriter_(path_, prefix_) {}

void QBLogging::fileMessage(std::string_view message, bool succinct) {
  if (succinct) {
    writer_.append(message);
    return;
  }
  std::string line = "[" + formatTime(Clock::current().now(), true) + "]: ";
  line.append(message);
  writer_.append(line);
}

void QBLogging::fileSuccinctMessage(std::string_view message) { succinctWriter_.append(message); }

std::string QBLogging::extensionLogDirectory() {
  return Paths::current().applicationSupport() + "/Quillbox/Extension/LogDirectory";
}

std::vector<std::string> QBLogging::ongoingLogs() const {
  std::vector<std::string> files;
  for (const std::string& dir : {path_, extensionLogDirectory()}) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      files.push_back(it->path().string());
    }
  }
  return files;
}

void QBLogging::cleanup() const {
  cleanupLogsFolder(path_, kLogFilesKept);
  cleanupLogsFolder(extensionLogDirectory(), kExtensionLogFilesKept);
}

void QBLogging::cleanupLogsFolder(const std::string& folder, std::size_t maxItems) {
  struct Entry {
    std::string path;
    EntryAge age;
  };
  std::vector<Entry> entries;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    Entry e{it->path().string(), {}};
    if (readEntryAge(e.path, e.age)) entries.push_back(std::move(e));
  }
  if (entries.size() <= maxItems) return;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.age.createdNs, a.age.modifiedNs, a.path) > std::tie(b.age.createdNs, b.age.modifiedNs, b.path);
  });
  for (std::size_t i = maxItems; i < entries.size(); ++i) {
    std::filesystem::remove_all(entries[i].path, ec);
  }
}

bool QBLogging::checkQuitFlag() { return Preferences::standard().boolValue("running"); }

void QBLogging::setRunningFlag(bool running) { Preferences::standard().set("running", running); }

std::string QBLogging::formatTime(double secondsSince1970, bool hundredths) {
  double whole = std::floor(secondsSince1970);
  std::time_t t = static_cast<std::time_t>(whole);
  std::tm local{};
  if (!::localtime_r(&t, &local)) return {};
  char text[48];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  if (hundredths && n > 0) {
    int h = std::clamp(static_cast<int>((secondsSince1970 - whole) * 100), 0, 99);
    n += static_cast<std::size_t>(std::snprintf(text + n, sizeof text - n, ".%02d", h));
  }
  return std::string(text, n);
}

}  // namespace greyfox
