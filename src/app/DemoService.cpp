#include "app/DemoService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

#include "diag/Log.h"
#include "platform/Clock.h"
#include "platform/Timings.h"

namespace greyfox {

namespace {
constexpr const char* kDomain = "greyfox.demo";
constexpr const char* kListeningPrefix = "listening on ";
}  // namespace

std::string DemoService::executablePath() {
  std::array<char, PATH_MAX> buffer{};
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "quillbox-devservice";
  std::string self(buffer.data(), static_cast<std::size_t>(n));
  return self.substr(0, self.find_last_of('/') + 1) + "quillbox-devservice";
}

bool DemoService::start(const std::string& dataDir, ErrorPtr* error) {
  const std::string exe = executablePath();
  if (access(exe.c_str(), X_OK) != 0) {
    setError(error, kDomain, errno, "The local service is missing: " + exe);
    return false;
  }
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    setError(error, kDomain, errno, std::string("pipe: ") + std::strerror(errno));
    return false;
  }
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    setError(error, kDomain, errno, std::string("fork: ") + std::strerror(errno));
    close(out[0]);
    close(out[1]);
    return false;
  }
  if (pid == 0) {
    // The service goes when the client goes, however it ends; a Ctrl-C at
    // the terminal reaches only the client, which signs out before it stops
    // the service.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    setpgid(0, 0);
    if (getppid() != parent) _exit(1);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Lines it prints after the first go nowhere instead of ending it.
    signal(SIGPIPE, SIG_IGN);
    dup2(out[1], STDOUT_FILENO);
    execl(exe.c_str(), exe.c_str(), "--listen", "127.0.0.1:0", "--data", dataDir.c_str(), "--seed", "demo",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  pid_ = pid;

  // Read the first line within the bound.
  std::string line;
  const double deadline = Clock::current().monotonic() + Timings::current().mountTimeout;
  while (line.find('\n') == std::string::npos) {
    double left = deadline - Clock::current().monotonic();
    pollfd p{out[0], POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) break;
    char chunk[256];
    ssize_t n = read(out[0], chunk, sizeof chunk);
    if (n <= 0) break;
    line.append(chunk, static_cast<std::size_t>(n));
  }
  close(out[0]);
  line = line.substr(0, line.find('\n'));
  if (line.rfind(kListeningPrefix, 0) != 0) {
    stop();
    setError(error, kDomain, -1, "The local service did not start (" + exe + ").");
    return false;
  }
  baseUrl_ = line.substr(std::strlen(kListeningPrefix));
  QBLOG("Local service at %s (pid %d)", baseUrl_.c_str(), static_cast<int>(pid_));
  return true;
}

void DemoService::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

DemoService::~DemoService() { stop(); }

}  // namespace greyfox
