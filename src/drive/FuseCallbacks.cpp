#include "drive/FuseCallbacks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <set>

#include "diag/Log.h"
#include "drive/QBUserFileSystem.h"
#include "platform/Clock.h"
#include "platform/Timings.h"

namespace greyfox {
namespace {

// The kernel adds O_LARGEFILE to every open on 64-bit systems, while the C
// library defines it as 0 there; its kernel value differs between machines.
#if defined(__x86_64__) || defined(__i386__)
constexpr int kKernelLargeFile = 0100000;
#elif defined(__aarch64__) || defined(__arm__)
constexpr int kKernelLargeFile = 0400000;
#else
constexpr int kKernelLargeFile = O_LARGEFILE;
#endif

constexpr unsigned kStatfsBlockSize = 4096;

QBUserFileSystem& fileSystem() {
  return *static_cast<QBUserFileSystem*>(fuse_get_context()->private_data);
}

QBFileSystemDelegate& delegate() { return fileSystem().delegate(); }

std::string pathOf(const char* path) { return path ? std::string(path) : std::string(); }

// Runs one callback; an escaping exception becomes a logged EIO.
template <typename F>
int guarded(const char* operation, const char* path, F&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    QBLOG("%s %s: exception: %s", operation, path ? path : "", e.what());
  } catch (...) {
    QBLOG("%s %s: unknown exception", operation, path ? path : "");
  }
  return -EIO;
}

int failure(const char* operation, const char* path, const ErrorPtr& error, int fallback = EIO) {
  int code = error ? posixCodeOf(error) : fallback;
  if (code == EIO) QBLOG("%s %s: EIO (%s)", operation, path ? path : "", error ? error->message().c_str() : "no error");
  return -code;
}

QBFileHandlePtr handleOf(const fuse_file_info* fi) {
  if (!fi || fi->fh == 0) return nullptr;
  return reinterpret_cast<OpenFile*>(fi->fh)->handle;
}

void storeHandle(fuse_file_info* fi, QBFileHandlePtr handle, const char* path) {
  auto* file = new OpenFile{std::move(handle), pathOf(path)};
  FuseCallbacks::rememberOpenFile(fileSystem(), file);
  fi->fh = reinterpret_cast<uint64_t>(file);
  // The kernel drops the file's cached pages at each open and maps the file
  // through the page cache.
  fi->keep_cache = 0;
  fi->direct_io = 0;
}

// Forgets the open of `fi` and gives back what it held.
std::unique_ptr<OpenFile> takeOpenFile(fuse_file_info* fi) {
  auto* file = reinterpret_cast<OpenFile*>(fi->fh);
  fi->fh = 0;
  if (!file) return nullptr;
  FuseCallbacks::forgetOpenFile(fileSystem(), file);
  return std::unique_ptr<OpenFile>(file);
}

timespec timespecOf(double seconds) {
  double whole = std::floor(seconds);
  return timespec{static_cast<time_t>(whole), static_cast<long>((seconds - whole) * 1e9)};
}

void fillStat(const QBItemAttributes& a, struct stat* st) {
  std::memset(st, 0, sizeof(*st));
  switch (a.type) {
    case QBFileType::directory: st->st_mode = S_IFDIR; st->st_nlink = 2; break;
    case QBFileType::symbolicLink: st->st_mode = S_IFLNK; st->st_nlink = 1; break;
    case QBFileType::regular: st->st_mode = S_IFREG; st->st_nlink = 1; break;
  }
  st->st_mode |= a.permissions & 07777;
  st->st_uid = geteuid();
  st->st_gid = getegid();
  st->st_size = static_cast<off_t>(a.size);
  st->st_blksize = kStatfsBlockSize;
  st->st_blocks = static_cast<blkcnt_t>((a.size + 511) / 512);
  st->st_mtim = timespecOf(a.modificationDate);
  st->st_atim = st->st_mtim;
  st->st_ctim = timespecOf(a.creationDate);
}

double secondsOf(const timespec& t) {
  if (t.tv_nsec == UTIME_NOW) return Clock::current().now();
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// Answers a getxattr/listxattr: the length when `size` is 0, ERANGE when the
// buffer is too small, else the bytes copied.
int copyOut(const std::string& bytes, char* buffer, size_t size) {
  if (size == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > size) return -ERANGE;
  std::memcpy(buffer, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

int opGetattr(const char* path, struct stat* st, fuse_file_info* fi) {
  return guarded("getattr", path, [&] {
    ErrorPtr error;
    auto attributes = delegate().attributesOfItemAtPath(pathOf(path), handleOf(fi), &error);
    if (!attributes) return failure("getattr", path, error);
    fillStat(*attributes, st);
    return 0;
  });
}

int opReaddir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info*, fuse_readdir_flags) {
  return guarded("readdir", path, [&] {
    ErrorPtr error;
    auto names = delegate().contentsOfDirectoryAtPath(pathOf(path), &error);
    if (!names) return failure("readdir", path, error);
    filler(buf, ".", nullptr, 0, fuse_fill_dir_flags{});
    filler(buf, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const auto& name : *names) {
      if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
          name.find('\0') != std::string::npos) {
        QBLOG("readdir %s: skipped an unusable name \"%s\"", path, name.c_str());
        continue;
      }
      if (filler(buf, name.c_str(), nullptr, 0, fuse_fill_dir_flags{}) != 0) break;
    }
    return 0;
  });
}

int opStatfs(const char* path, struct statvfs* st) {
  return guarded("statfs", path, [&] {
    ErrorPtr error;
    auto attributes = delegate().attributesOfFileSystemForPath(pathOf(path), &error);
    if (!attributes) return failure("statfs", path, error);
    std::memset(st, 0, sizeof(*st));
    st->f_bsize = kStatfsBlockSize;
    st->f_frsize = kStatfsBlockSize;
    st->f_blocks = attributes->totalSize / kStatfsBlockSize;
    st->f_bfree = std::min(attributes->freeSize, attributes->totalSize) / kStatfsBlockSize;
    st->f_bavail = st->f_bfree;
    st->f_namemax = 255;
    return 0;
  });
}

int opOpen(const char* path, fuse_file_info* fi) {
  return guarded("open", path, [&] {
    ErrorPtr error;
    QBFileHandlePtr handle;
    if (!delegate().openFileAtPath(pathOf(path), fi->flags & ~kKernelLargeFile, &handle, &error))
      return failure("open", path, error);
    storeHandle(fi, std::move(handle), path);
    return 0;
  });
}

int opRead(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  return guarded("read", path, [&] {
    ErrorPtr error;
    long count = delegate().readFileAtPath(pathOf(path), handleOf(fi), buffer, size, offset, &error);
    if (count < 0) return failure("read", path, error);
    return static_cast<int>(std::min<long>(count, static_cast<long>(size)));
  });
}

int opWrite(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  return guarded("write", path, [&] {
    ErrorPtr error;
    long count = delegate().writeFileAtPath(pathOf(path), handleOf(fi), buffer, size, offset, &error);
    if (count < 0) return failure("write", path, error);
    return static_cast<int>(std::min<long>(count, static_cast<long>(size)));
  });
}

int opRelease(const char* path, fuse_file_info* fi) {
  std::unique_ptr<OpenFile> file = takeOpenFile(fi);
  return guarded("release", path, [&] {
    delegate().releaseFileAtPath(pathOf(path), file ? file->handle : nullptr);
    return 0;
  });
}

int opCreate(const char* path, mode_t mode, fuse_file_info* fi) {
  return guarded("create", path, [&] {
    ErrorPtr error;
    QBFileHandlePtr handle;
    QBItemAttributes attributes;
    attributes.permissions = mode & 07777;
    if (!delegate().createFileAtPath(pathOf(path), attributes, fi->flags & ~kKernelLargeFile, &handle, &error))
      return failure("create", path, error);
    storeHandle(fi, std::move(handle), path);
    return 0;
  });
}

int opMkdir(const char* path, mode_t mode) {
  return guarded("mkdir", path, [&] {
    ErrorPtr error;
    QBItemAttributes attributes;
    attributes.type = QBFileType::directory;
    attributes.permissions = mode & 07777;
    if (!delegate().createDirectoryAtPath(pathOf(path), attributes, &error)) return failure("mkdir", path, error);
    return 0;
  });
}

int opUnlink(const char* path) {
  return guarded("unlink", path, [&] {
    ErrorPtr error;
    return delegate().removeItemAtPath(pathOf(path), &error) ? 0 : failure("unlink", path, error);
  });
}

int opRmdir(const char* path) {
  return guarded("rmdir", path, [&] {
    ErrorPtr error;
    return delegate().removeDirectoryAtPath(pathOf(path), &error) ? 0 : failure("rmdir", path, error);
  });
}

int opRename(const char* from, const char* to, unsigned int flags) {
  return guarded("rename", from, [&] {
    ErrorPtr error;
    return delegate().moveItemAtPath(pathOf(from), pathOf(to), flags, &error) ? 0 : failure("rename", from, error);
  });
}

int setAttributes(const char* operation, const char* path, const QBAttributeChanges& changes, fuse_file_info* fi) {
  return guarded(operation, path, [&] {
    ErrorPtr error;
    return delegate().setAttributes(changes, pathOf(path), handleOf(fi), &error) ? 0
                                                                                 : failure(operation, path, error);
  });
}

int opChmod(const char* path, mode_t mode, fuse_file_info* fi) {
  QBAttributeChanges changes;
  changes.permissions = mode & 07777;
  return setAttributes("chmod", path, changes, fi);
}

int opChown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
  QBAttributeChanges changes;
  if (uid != static_cast<uid_t>(-1)) changes.owner = uid;
  if (gid != static_cast<gid_t>(-1)) changes.group = gid;
  return setAttributes("chown", path, changes, fi);
}

int opTruncate(const char* path, off_t size, fuse_file_info* fi) {
  if (size < 0) return -EINVAL;
  QBAttributeChanges changes;
  changes.size = static_cast<std::uint64_t>(size);
  return setAttributes("truncate", path, changes, fi);
}

int opUtimens(const char* path, const timespec tv[2], fuse_file_info* fi) {
  QBAttributeChanges changes;
  if (!tv) {
    changes.accessDate = changes.modificationDate = Clock::current().now();
  } else {
    if (tv[0].tv_nsec != UTIME_OMIT) changes.accessDate = secondsOf(tv[0]);
    if (tv[1].tv_nsec != UTIME_OMIT) changes.modificationDate = secondsOf(tv[1]);
  }
  return setAttributes("utimens", path, changes, fi);
}

int opSymlink(const char* target, const char* linkPath) {
  return guarded("symlink", linkPath, [&] {
    ErrorPtr error;
    return delegate().createSymbolicLinkAtPath(pathOf(linkPath), pathOf(target), &error)
               ? 0
               : failure("symlink", linkPath, error);
  });
}

int opLink(const char* from, const char* to) {
  return guarded("link", from, [&] {
    ErrorPtr error;
    return delegate().linkItemAtPath(pathOf(from), pathOf(to), &error) ? 0 : failure("link", from, error);
  });
}

int opListxattr(const char* path, char* list, size_t size) {
  return guarded("listxattr", path, [&] {
    ErrorPtr error;
    auto names = delegate().extendedAttributesOfItemAtPath(pathOf(path), &error);
    if (!names) return failure("listxattr", path, error);
    std::string joined;
    for (const auto& name : *names) {
      if (name.empty() || name.find('\0') != std::string::npos) continue;
      joined += name;
      joined.push_back('\0');
    }
    return copyOut(joined, list, size);
  });
}

int opGetxattr(const char* path, const char* name, char* value, size_t size) {
  return guarded("getxattr", path, [&] {
    ErrorPtr error;
    auto bytes = delegate().valueOfExtendedAttribute(pathOf(name), pathOf(path), 0, &error);
    // An attribute that is simply not there comes back without an error.
    if (!bytes) return failure("getxattr", path, error, ENODATA);
    return copyOut(*bytes, value, size);
  });
}

int opSetxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
  return guarded("setxattr", path, [&] {
    ErrorPtr error;
    return delegate().setExtendedAttribute(pathOf(name), pathOf(path), std::string(value, size), 0, flags, &error)
               ? 0
               : failure("setxattr", path, error);
  });
}

int opRemovexattr(const char* path, const char* name) {
  return guarded("removexattr", path, [&] {
    ErrorPtr error;
    return delegate().removeExtendedAttribute(pathOf(name), pathOf(path), &error)
               ? 0
               : failure("removexattr", path, error);
  });
}

}  // namespace

fuse_operations FuseCallbacks::operations() {
  fuse_operations ops{};
  ops.getattr = opGetattr;
  ops.readdir = opReaddir;
  ops.statfs = opStatfs;
  ops.open = opOpen;
  ops.read = opRead;
  ops.write = opWrite;
  ops.release = opRelease;
  ops.create = opCreate;
  ops.mkdir = opMkdir;
  ops.unlink = opUnlink;
  ops.rmdir = opRmdir;
  ops.rename = opRename;
  ops.chmod = opChmod;
  ops.chown = opChown;
  ops.truncate = opTruncate;
  ops.utimens = opUtimens;
  ops.symlink = opSymlink;
  ops.link = opLink;
  ops.listxattr = opListxattr;
  ops.getxattr = opGetxattr;
  ops.setxattr = opSetxattr;
  ops.removexattr = opRemovexattr;
  ops.init = FuseCallbacks::init;
  return ops;
}

void* FuseCallbacks::init(fuse_conn_info* conn, fuse_config* cfg) {
  QBUserFileSystem& fs = fileSystem();
  const double timeout = Timings::current().kernelCacheTimeout;
  cfg->entry_timeout = timeout;
  cfg->attr_timeout = timeout;
  cfg->negative_timeout = timeout;
  cfg->kernel_cache = 0;
  cfg->auto_cache = 0;
  cfg->direct_io = 0;
  cfg->use_ino = 0;
  cfg->nullpath_ok = 0;
  // An unlink or a rename over an open file removes it at once instead of
  // renaming it to a hidden name, which would reach the delegate as a move.
  cfg->hard_remove = 1;
  // Only the file system says when a file's data changed; a size or time
  // change seen on a look-up does not drop the cached pages.
  conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
  conn->max_readahead = std::min(conn->max_readahead, fs.options_.maxReadahead);
  // Reads and writes of up to maxRead bytes travel as one request.
  conn->max_read = fs.options_.maxRead;
  conn->max_write = std::max(conn->max_write, fs.options_.maxRead);
  fs.didInit();
  return &fs;
}

void FuseCallbacks::rememberOpenFile(QBUserFileSystem& fs, OpenFile* file) {
  std::lock_guard lock(fs.openFilesMutex_);
  fs.openFiles_.insert(file);
}

void FuseCallbacks::forgetOpenFile(QBUserFileSystem& fs, OpenFile* file) {
  std::lock_guard lock(fs.openFilesMutex_);
  fs.openFiles_.erase(file);
}

void FuseCallbacks::releaseOpenFiles(QBUserFileSystem& fs) {
  std::set<OpenFile*> left;
  {
    std::lock_guard lock(fs.openFilesMutex_);
    left.swap(fs.openFiles_);
  }
  for (OpenFile* raw : left) {
    std::unique_ptr<OpenFile> file(raw);
    QBLOG("release %s: the volume ended while it was open", file->path.c_str());
    try {
      fs.delegate().releaseFileAtPath(file->path, file->handle);
    } catch (...) {
      QBLOG("release %s: exception", file->path.c_str());
    }
  }
}

}  // namespace greyfox
