#include "LocalFolderDelegate.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "drive/QBUserFileSystem.h"

namespace greyfox::test {
namespace {

struct LocalHandle : QBFileHandle {
  explicit LocalHandle(int descriptor) : fd(descriptor) {}
  ~LocalHandle() override { ::close(fd); }
  LocalHandle(const LocalHandle&) = delete;
  LocalHandle& operator=(const LocalHandle&) = delete;
  const int fd;
};

int fdOf(const QBFileHandlePtr& handle) {
  auto* local = dynamic_cast<LocalHandle*>(handle.get());
  return local ? local->fd : -1;
}

bool failWithErrno(ErrorPtr* error) {
  setPOSIXError(error, errno);
  return false;
}

double secondsOf(const timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; }

}  // namespace

void LocalFolderDelegate::failPath(const std::string& path, int errnum) {
  std::lock_guard lock(mutex_);
  if (errnum == 0) {
    failures_.erase(path);
  } else {
    failures_[path] = errnum;
  }
}

void LocalFolderDelegate::throwOnPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  throwing_.insert(path);
}

void LocalFolderDelegate::setAfterMove(std::function<void(const std::string&, const std::string&)> hook) {
  std::lock_guard lock(mutex_);
  afterMove_ = std::move(hook);
}

std::vector<LocalFolderDelegate::Open> LocalFolderDelegate::opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}
std::vector<LocalFolderDelegate::Create> LocalFolderDelegate::creates() const {
  std::lock_guard lock(mutex_);
  return creates_;
}
std::vector<std::string> LocalFolderDelegate::moves() const {
  std::lock_guard lock(mutex_);
  return moves_;
}
std::vector<std::string> LocalFolderDelegate::removals() const {
  std::lock_guard lock(mutex_);
  return removals_;
}
std::vector<std::string> LocalFolderDelegate::releases() const {
  std::lock_guard lock(mutex_);
  return releases_;
}
std::size_t LocalFolderDelegate::writtenBytes() const {
  std::lock_guard lock(mutex_);
  return writtenBytes_;
}

bool LocalFolderDelegate::admit(const std::string& path, ErrorPtr* error) const {
  std::lock_guard lock(mutex_);
  if (throwing_.count(path)) throw std::runtime_error("injected failure for " + path);
  auto it = failures_.find(path);
  if (it == failures_.end()) return true;
  setPOSIXError(error, it->second);
  return false;
}

std::optional<std::vector<std::string>> LocalFolderDelegate::contentsOfDirectoryAtPath(const std::string& path,
                                                                                      ErrorPtr* error) {
  if (!admit(path, error)) return std::nullopt;
  DIR* dir = opendir(local(path).c_str());
  if (!dir) return failWithErrno(error), std::nullopt;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

std::optional<QBItemAttributes> LocalFolderDelegate::attributesOfItemAtPath(const std::string& path,
                                                                           const QBFileHandlePtr& userData,
                                                                           ErrorPtr* error) {
  if (!admit(path, error)) return std::nullopt;
  struct stat st {};
  int result = userData ? fstat(fdOf(userData), &st) : lstat(local(path).c_str(), &st);
  if (result != 0) return failWithErrno(error), std::nullopt;
  QBItemAttributes a;
  a.type = S_ISDIR(st.st_mode) ? QBFileType::directory
           : S_ISLNK(st.st_mode) ? QBFileType::symbolicLink
                                 : QBFileType::regular;
  a.size = static_cast<std::uint64_t>(st.st_size);
  a.permissions = st.st_mode & 07777;
  a.modificationDate = secondsOf(st.st_mtim);
  a.creationDate = secondsOf(st.st_ctim);
  return a;
}

std::optional<QBFileSystemAttributes> LocalFolderDelegate::attributesOfFileSystemForPath(const std::string& path,
                                                                                        ErrorPtr* error) {
  if (!admit(path, error)) return std::nullopt;
  struct statvfs st {};
  if (statvfs(root_.c_str(), &st) != 0) return failWithErrno(error), std::nullopt;
  return QBFileSystemAttributes{st.f_blocks * st.f_frsize, st.f_bavail * st.f_frsize};
}

bool LocalFolderDelegate::openLocal(const std::string& path, int flags, unsigned permissions,
                                    QBFileHandlePtr* userData, ErrorPtr* error) {
  int fd = ::open(local(path).c_str(), flags | O_CLOEXEC, permissions);
  if (fd < 0) return failWithErrno(error);
  *userData = std::make_shared<LocalHandle>(fd);
  return true;
}

bool LocalFolderDelegate::openFileAtPath(const std::string& path, int mode, QBFileHandlePtr* userData,
                                         ErrorPtr* error) {
  if (!admit(path, error)) return false;
  {
    std::lock_guard lock(mutex_);
    opens_.push_back({path, mode, QBUserFileSystem::callingProcessId()});
  }
  return openLocal(path, mode, 0, userData, error);
}

long LocalFolderDelegate::readFileAtPath(const std::string& path, const QBFileHandlePtr& userData, char* buffer,
                                         std::size_t size, off_t offset, ErrorPtr* error) {
  if (!admit(path, error)) return -1;
  ssize_t n = pread(fdOf(userData), buffer, size, offset);
  if (n < 0) return failWithErrno(error), -1;
  return n;
}

long LocalFolderDelegate::writeFileAtPath(const std::string& path, const QBFileHandlePtr& userData,
                                          const char* buffer, std::size_t size, off_t offset, ErrorPtr* error) {
  if (!admit(path, error)) return -1;
  ssize_t n = pwrite(fdOf(userData), buffer, size, offset);
  if (n < 0) return failWithErrno(error), -1;
  std::lock_guard lock(mutex_);
  writtenBytes_ += static_cast<std::size_t>(n);
  return n;
}

void LocalFolderDelegate::releaseFileAtPath(const std::string& path, const QBFileHandlePtr&) {
  std::lock_guard lock(mutex_);
  releases_.push_back(path);
}

bool LocalFolderDelegate::createFileAtPath(const std::string& path, const QBItemAttributes& attributes, int flags,
                                           QBFileHandlePtr* userData, ErrorPtr* error) {
  if (!admit(path, error)) return false;
  {
    std::lock_guard lock(mutex_);
    creates_.push_back({path, flags, attributes.permissions});
  }
  return openLocal(path, flags | O_CREAT, attributes.permissions, userData, error);
}

bool LocalFolderDelegate::createDirectoryAtPath(const std::string& path, const QBItemAttributes& attributes,
                                                ErrorPtr* error) {
  if (!admit(path, error)) return false;
  return ::mkdir(local(path).c_str(), attributes.permissions) == 0 || failWithErrno(error);
}

bool LocalFolderDelegate::removeItemAtPath(const std::string& path, ErrorPtr* error) {
  if (!admit(path, error)) return false;
  {
    std::lock_guard lock(mutex_);
    removals_.push_back(path);
  }
  return ::unlink(local(path).c_str()) == 0 || failWithErrno(error);
}

bool LocalFolderDelegate::removeDirectoryAtPath(const std::string& path, ErrorPtr* error) {
  if (!admit(path, error)) return false;
  return ::rmdir(local(path).c_str()) == 0 || failWithErrno(error);
}

bool LocalFolderDelegate::moveItemAtPath(const std::string& source, const std::string& destination, unsigned,
                                         ErrorPtr* error) {
  if (!admit(source, error)) return false;
  std::function<void(const std::string&, const std::string&)> hook;
  {
    std::lock_guard lock(mutex_);
    moves_.push_back(source + " -> " + destination);
    hook = afterMove_;
  }
  if (::rename(local(source).c_str(), local(destination).c_str()) != 0) return failWithErrno(error);
  if (hook) hook(source, destination);
  return true;
}

bool LocalFolderDelegate::setAttributes(const QBAttributeChanges& changes, const std::string& path,
                                        const QBFileHandlePtr& userData, ErrorPtr* error) {
  if (!admit(path, error)) return false;
  const std::string file = local(path);
  if (changes.size) {
    int result = userData ? ftruncate(fdOf(userData), static_cast<off_t>(*changes.size))
                          : ::truncate(file.c_str(), static_cast<off_t>(*changes.size));
    if (result != 0) return failWithErrno(error);
  }
  if (changes.permissions && ::chmod(file.c_str(), *changes.permissions) != 0) return failWithErrno(error);
  if (changes.modificationDate || changes.accessDate) {
    auto spec = [](const std::optional<double>& s) {
      if (!s) return timespec{0, UTIME_OMIT};
      return timespec{static_cast<time_t>(*s), static_cast<long>((*s - static_cast<double>(static_cast<time_t>(*s))) * 1e9)};
    };
    timespec times[2] = {spec(changes.accessDate), spec(changes.modificationDate)};
    if (utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return failWithErrno(error);
  }
  return true;
}

std::optional<std::vector<std::string>> LocalFolderDelegate::extendedAttributesOfItemAtPath(const std::string& path,
                                                                                           ErrorPtr* error) {
  if (!admit(path, error)) return std::nullopt;
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& [name, value] : xattrs_[path]) names.push_back(name);
  return names;
}

std::optional<std::string> LocalFolderDelegate::valueOfExtendedAttribute(const std::string& name,
                                                                         const std::string& path,
                                                                         std::uint64_t position, ErrorPtr* error) {
  if (!admit(path, error)) return std::nullopt;
  std::lock_guard lock(mutex_);
  auto& values = xattrs_[path];
  auto it = values.find(name);
  // A missing attribute answers nothing and no error, as the drive's store does.
  if (it == values.end() || position > it->second.size()) return std::nullopt;
  return it->second.substr(position);
}

bool LocalFolderDelegate::setExtendedAttribute(const std::string& name, const std::string& path,
                                               const std::string& value, std::uint64_t, int, ErrorPtr* error) {
  if (!admit(path, error)) return false;
  std::lock_guard lock(mutex_);
  xattrs_[path][name] = value;
  return true;
}

bool LocalFolderDelegate::removeExtendedAttribute(const std::string& name, const std::string& path,
                                                  ErrorPtr* error) {
  if (!admit(path, error)) return false;
  std::lock_guard lock(mutex_);
  xattrs_[path].erase(name);
  return true;
}

}  // namespace greyfox::test
