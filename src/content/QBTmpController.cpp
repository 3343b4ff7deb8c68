#include "content/QBTmpController.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "content/VolumePath.h"
#include "diag/Log.h"
#include "platform/Files.h"

namespace greyfox {

namespace fs = std::filesystem;

namespace {
std::mutex sharedMutex;
std::shared_ptr<QBTmpController>& installed() {
  static std::shared_ptr<QBTmpController> controller;
  return controller;
}

bool fail(ErrorPtr* error, const std::string& what, const std::string& path, int err) {
  setError(error, kFileErrorDomain, -err, what + " " + path + ": " + std::strerror(err));
  return false;
}

bool fail(ErrorPtr* error, const std::string& what, const std::string& path, const std::error_code& ec) {
  return fail(error, what, path, ec.value() ? ec.value() : EIO);
}

// The root may be wiped and made again only when it is ours: a real folder
// (not a link) owned by this user, or absent.
bool rootIsSafe(const std::string& root, std::string* why) {
  struct stat st {};
  if (::lstat(root.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISLNK(st.st_mode)) {
    *why = "it is a symbolic link";
    return false;
  }
  if (st.st_uid != ::getuid()) {
    *why = "it belongs to another user";
    return false;
  }
  return true;
}
}  // namespace

std::shared_ptr<QBTmpController> QBTmpController::initSharedController(const std::string& rootPath,
                                                                      ErrorPtr* error) {
  std::string why;
  std::error_code ec;
  bool ok = rootIsSafe(rootPath, &why);
  if (ok) {
    fs::remove_all(rootPath, ec);
    ok = makeDirectories(rootPath, 0700, nullptr) && ::chmod(rootPath.c_str(), 0700) == 0 &&
         rootIsSafe(rootPath, &why);
  }
  if (!ok) {
    std::string reason = "Failed to create tmp directory at " + rootPath;
    if (!why.empty()) reason += " (" + why + ")";
    QBLOG("%s", reason.c_str());
    setError(error, kFileErrorDomain, -EACCES, reason);
    return nullptr;
  }
  std::shared_ptr<QBTmpController> controller(new QBTmpController(rootPath));
  std::lock_guard lock(sharedMutex);
  installed() = controller;
  return controller;
}

std::shared_ptr<QBTmpController> QBTmpController::sharedController() {
  std::lock_guard lock(sharedMutex);
  return installed();
}

bool QBTmpController::shouldIncludePath(const std::string& path) {
  for (const auto& part : pathComponents(path)) {
    if (part.find(".DS_Store") != std::string::npos || part.find(".MACOSX_XATTRS") != std::string::npos ||
        part.find(".localized") != std::string::npos)
      return true;
  }
  return false;
}

std::string QBTmpController::tempPathFor(const std::string& path) const {
  // ".." components are resolved inside the mirror so a path cannot leave the root.
  std::string p = standardizedPath("/" + path);
  return p == "/" ? root_ : root_ + p;
}

void QBTmpController::prepareParent(const std::string& path) const {
  std::string staged = tempPathFor(path);
  makeDirectories(fs::path(staged).parent_path(), 0700, nullptr);
}

bool QBTmpController::fileExistsAt(const std::string& path) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(tempPathFor(path), ec));
}

bool QBTmpController::createFileAt(const std::string& path, ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return fail(error, "cannot create", staged, errno);
  ::close(fd);
  return true;
}

bool QBTmpController::createFileAt(const std::string& path, const std::string& sourcePath, ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  QBLOG("Removing file before creating %s", staged.c_str());
  std::error_code ec;
  fs::remove_all(staged, ec);
  if (!fs::copy_file(sourcePath, staged, fs::copy_options::overwrite_existing, ec))
    return fail(error, "cannot copy to", staged, ec);
  return true;
}

bool QBTmpController::removeFileAt(const std::string& path, ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  QBLOG("Removing file at %s", staged.c_str());
  if (::unlink(staged.c_str()) != 0) return fail(error, "cannot remove", staged, errno);
  return true;
}

bool QBTmpController::removeItemAt(const std::string& path, ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  QBLOG("Removing file item at %s", staged.c_str());
  std::error_code ec;
  if (fs::remove_all(staged, ec) == 0 || ec) return fail(error, "cannot remove", staged, ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory));
  return true;
}

bool QBTmpController::moveFileAt(const std::string& from, const std::string& to, ErrorPtr* error) {
  std::string source = tempPathFor(from), target = tempPathFor(to);
  if (::rename(source.c_str(), target.c_str()) != 0) return fail(error, "cannot move to", target, errno);
  return true;
}

bool QBTmpController::createDirectoryAt(const std::string& path, ErrorPtr* error) {
  prepareParent(path);
  return makeDirectories(tempPathFor(path), 0700, error);
}

bool QBTmpController::removeDirectoryAt(const std::string& path, ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  QBLOG("Removing directory at %s", staged.c_str());
  std::error_code ec;
  if (fs::remove_all(staged, ec) == 0 || ec) return fail(error, "cannot remove", staged, ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory));
  return true;
}

std::optional<std::string> QBTmpController::readFileAt(const std::string& path, std::uint64_t offset,
                                                       std::uint64_t size, ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  int fd = ::open(staged.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fail(error, "cannot open", staged, errno);
    return std::nullopt;
  }
  std::string out;
  out.resize(size);
  std::uint64_t got = 0;
  while (got < size) {
    ssize_t n = ::pread(fd, out.data() + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      fail(error, "cannot read", staged, err);
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::uint64_t>(n);
  }
  ::close(fd);
  out.resize(got);
  return out;
}

bool QBTmpController::writeFileAt(const std::string& path, std::uint64_t offset, const std::string& data,
                                  ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  int fd = ::open(staged.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? true : fail(error, "cannot open", staged, errno);
  std::uint64_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      ::close(fd);
      return fail(error, "cannot write", staged, err);
    }
    done += static_cast<std::uint64_t>(n);
  }
  if (::close(fd) != 0) return fail(error, "cannot write", staged, errno);
  return true;
}

std::optional<struct stat> QBTmpController::attributesOfItemAt(const std::string& path, ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  struct stat st {};
  if (::lstat(staged.c_str(), &st) != 0) {
    fail(error, "cannot read attributes of", staged, errno);
    return std::nullopt;
  }
  return st;
}

bool QBTmpController::setAttributes(const std::string& path, std::optional<mode_t> mode,
                                    std::optional<double> modified, std::optional<std::uint64_t> size,
                                    ErrorPtr* error) {
  prepareParent(path);
  std::string staged = tempPathFor(path);
  if (size && ::truncate(staged.c_str(), static_cast<off_t>(*size)) != 0)
    return fail(error, "cannot resize", staged, errno);
  if (mode && ::chmod(staged.c_str(), *mode & 07777) != 0) return fail(error, "cannot change mode of", staged, errno);
  if (modified) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(*modified);
    times[1].tv_nsec = static_cast<long>((*modified - static_cast<double>(times[1].tv_sec)) * 1e9);
    if (::utimensat(AT_FDCWD, staged.c_str(), times, 0) != 0) return fail(error, "cannot set time of", staged, errno);
  }
  return true;
}

bool QBTmpController::isEmptyDirectory(const std::string& path) const {
  std::error_code ec;
  fs::directory_iterator it(tempPathFor(path), ec);
  return ec || it == fs::directory_iterator();
}

void QBTmpController::cleanupDirectory(const std::string& path) {
  std::string staged = tempPathFor(path);
  std::error_code ec;
  for (fs::directory_iterator it(staged, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code inner;
    fs::directory_iterator child(it->path(), inner);
    if (inner || child == fs::directory_iterator()) {
      QBLOG("Removing file before creating %s", staged.c_str());
      fs::remove_all(it->path(), inner);
    }
  }
}

}  // namespace greyfox
