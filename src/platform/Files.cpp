#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace greyfox {

namespace {
void setErrno(ErrorPtr* error, const std::string& what, const std::string& path, int err) {
  setError(error, kFileErrorDomain, -err, what + " " + path + ": " + std::strerror(err));
}
}  // namespace

bool makeDirectories(const std::string& path, unsigned mode, ErrorPtr* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return true;
  std::string parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && parent != path && !makeDirectories(parent, mode, error)) return false;
  if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
    setErrno(error, "cannot create directory", path, errno);
    return false;
  }
  return true;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, unsigned mode, ErrorPtr* error) {
  static std::atomic<unsigned> counter{0};
  std::string dir = std::filesystem::path(path).parent_path();
  if (!dir.empty() && !makeDirectories(dir, 0700, error)) return false;
  std::string temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    setErrno(error, "cannot create", temp, errno);
    return false;
  }
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(temp.c_str());
      setErrno(error, "cannot write", temp, err);
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  ::fchmod(fd, mode);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    setErrno(error, "cannot write", temp, err);
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    setErrno(error, "cannot replace", path, err);
    return false;
  }
  return true;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(out).str();
}

}  // namespace greyfox
