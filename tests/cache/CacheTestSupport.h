// Shared pieces of the cache tests: a cache directory under a fresh root, file
// helpers, and a manual clock installed for the test's duration.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/TestTempRoot.h"
#include "platform/Timings.h"

namespace greyfox::testing {

struct CacheDir {
  TempRoot root;
  std::string path = root.path() + "/Cache";
};

inline std::uint64_t fileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Sets the file's modification time to `seconds` since 1970.
inline void setModified(const std::string& path, double seconds) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

inline double modified(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
}

// A file of `size` bytes that takes no disk space.
inline void makeSparseFile(const std::string& path, std::uint64_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd >= 0) {
    [[maybe_unused]] int rc = ::ftruncate(fd, static_cast<off_t>(size));
    ::close(fd);
  }
}

// Installs a ManualClock and the default timings; restores both at the end.
class ManualTime {
 public:
  ManualTime() : clock_(std::make_shared<ManualClock>()) {
    Clock::install(clock_);
    Timings::install(Timings{});
  }
  ~ManualTime() { Clock::install(nullptr); }
  ManualClock& clock() { return *clock_; }

 private:
  std::shared_ptr<ManualClock> clock_;
};

}  // namespace greyfox::testing
