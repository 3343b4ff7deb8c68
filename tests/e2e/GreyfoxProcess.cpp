#include "GreyfoxProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace greyfox::test {

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

}  // namespace

bool isMountPoint(const std::string& path) {
  std::ifstream mounts("/proc/self/mounts");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string source, target;
    fields >> source >> target;
    if (unescapeMountField(target) == path) return true;
  }
  return false;
}

GreyfoxProcess::GreyfoxProcess(const std::string& root, const std::string& serviceUrl, const std::string& user,
                               const std::string& password, double timingsScale)
    : root_(root), stderrFile_(root + "/greyfox-stderr.txt") {
  const char* bin = std::getenv("GREYFOX_BIN_DIR");
  if (!bin) throw std::runtime_error("GREYFOX_BIN_DIR is not set");
  const std::string exe = std::string(bin) + "/greyfox";
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    setenv("GREYFOX_ROOT", root.c_str(), 1);
    setenv("GREYFOX_PASSWORD", password.c_str(), 1);
    setenv("GREYFOX_TIMINGS_SCALE", std::to_string(timingsScale).c_str(), 1);
    int err = open(stderrFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(pipeFds[1], STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    if (in >= 0) dup2(in, STDIN_FILENO);
    execl(exe.c_str(), exe.c_str(), "mount", "--service", serviceUrl.c_str(), "--user", user.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  out_ = pipeFds[0];
}

std::optional<std::string> GreyfoxProcess::waitForMount(double seconds) {
  const std::string marker = "mounted at ";
  std::string text;
  const double deadline = now() + seconds;
  while (now() < deadline) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char chunk[512];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    text.append(chunk, static_cast<std::size_t>(n));
    auto at = text.find(marker);
    auto end = at == std::string::npos ? at : text.find('\n', at);
    if (end != std::string::npos) {
      mountPoint_ = text.substr(at + marker.size(), end - at - marker.size());
      drainer_ = std::thread([this] { drain(); });
      return mountPoint_;
    }
  }
  return std::nullopt;
}

void GreyfoxProcess::drain() {
  char chunk[512];
  while (read(out_, chunk, sizeof chunk) > 0) {
  }
}

std::optional<int> GreyfoxProcess::stop(int signal, double seconds) {
  if (pid_ <= 0) return std::nullopt;
  kill(pid_, signal);
  const double deadline = now() + seconds;
  while (now() < deadline) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return std::nullopt;
    }
    usleep(20000);
  }
  return std::nullopt;
}

std::string GreyfoxProcess::errorOutput() const {
  std::ifstream in(stderrFile_);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

GreyfoxProcess::~GreyfoxProcess() {
  if (pid_ > 0 && !stop(SIGTERM, 10)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (!mountPoint_.empty() && isMountPoint(mountPoint_)) {
    std::string command = "fusermount3 -u '" + mountPoint_ + "' 2>/dev/null || fusermount3 -uz '" + mountPoint_ + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not unmount %s\n", mountPoint_.c_str());
  }
  if (drainer_.joinable()) drainer_.join();  // its read ends: the writer is gone
  if (out_ >= 0) close(out_);
}

}  // namespace greyfox::test
