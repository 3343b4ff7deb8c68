// Runs the greyfox executable for an end-to-end test: `greyfox mount`
// against a given service with every path under a temporary root, waiting
// for its "mounted at PATH" line. Destroying it ends the process and takes
// away any volume left at the mount point (fusermount3 -u, then -uz), so a
// failing test leaves no mount behind.
//
// Use from one thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <thread>

namespace greyfox::test {

class GreyfoxProcess {
 public:
  // REQUIRES: `root` exists. The process gets GREYFOX_ROOT=root,
  // GREYFOX_PASSWORD=password and GREYFOX_TIMINGS_SCALE=timingsScale.
  GreyfoxProcess(const std::string& root, const std::string& serviceUrl, const std::string& user,
                 const std::string& password, double timingsScale);
  ~GreyfoxProcess();
  GreyfoxProcess(const GreyfoxProcess&) = delete;
  GreyfoxProcess& operator=(const GreyfoxProcess&) = delete;

  // The mount point once "mounted at PATH" was printed within `seconds`;
  // nullopt when the process ended or stayed silent.
  std::optional<std::string> waitForMount(double seconds);
  // Sends `signal` and waits up to `seconds` for the exit: the exit status,
  // or nullopt when it did not end (or ended by a signal).
  std::optional<int> stop(int signal, double seconds);
  // Everything the process printed on standard error so far.
  std::string errorOutput() const;
  pid_t pid() const { return pid_; }

 private:
  void drain();

  const std::string root_;
  pid_t pid_ = -1;
  int out_ = -1;
  std::string stderrFile_;
  std::string mountPoint_;
  std::thread drainer_;  // reads standard output after the mount line
};

// Whether `path` is a mount point now (listed in /proc/self/mounts).
bool isMountPoint(const std::string& path);

}  // namespace greyfox::test
