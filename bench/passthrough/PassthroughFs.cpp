#include "PassthroughFs.h"

#define FUSE_USE_VERSION FUSE_MAKE_VERSION(3, 14)
#include <fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace greyfox::bench {
namespace {

std::string local(const char* path) {
  return static_cast<PassthroughFs*>(fuse_get_context()->private_data)->folder() + path;
}

int ptGetattr(const char* path, struct stat* st, fuse_file_info*) {
  return lstat(local(path).c_str(), st) == 0 ? 0 : -errno;
}

int ptReaddir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info*, fuse_readdir_flags) {
  DIR* dir = opendir(local(path).c_str());
  if (!dir) return -errno;
  while (dirent* e = readdir(dir)) filler(buf, e->d_name, nullptr, 0, fuse_fill_dir_flags{});
  closedir(dir);
  return 0;
}

int ptOpen(const char* path, fuse_file_info* fi) {
  int fd = open(local(path).c_str(), fi->flags & ~O_CREAT);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

int ptRead(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  ssize_t n = pread(static_cast<int>(fi->fh), buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int ptRelease(const char*, fuse_file_info* fi) {
  close(static_cast<int>(fi->fh));
  return 0;
}

int ptStatfs(const char* path, struct statvfs* st) { return statvfs(local(path).c_str(), st) == 0 ? 0 : -errno; }

// The drive adapter's settings: one-second names, attributes and misses; no
// kept pages across opens; no data drop on a size or time change; 1 MiB reads.
void* ptInit(fuse_conn_info* conn, fuse_config* cfg) {
  cfg->entry_timeout = cfg->attr_timeout = cfg->negative_timeout = 1;
  cfg->kernel_cache = 0;
  cfg->hard_remove = 1;
  conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
  conn->max_read = 1u << 20;
  conn->max_write = 1u << 20;
  return fuse_get_context()->private_data;
}

}  // namespace

PassthroughFs::PassthroughFs(std::string folder, const std::string& mountPoint)
    : folder_(std::move(folder)), mountPoint_(mountPoint) {
  fuse_operations ops{};
  ops.getattr = ptGetattr;
  ops.readdir = ptReaddir;
  ops.open = ptOpen;
  ops.read = ptRead;
  ops.release = ptRelease;
  ops.statfs = ptStatfs;
  ops.init = ptInit;
  std::vector<std::string> words = {"passthrough", "-o", "fsname=passthrough,subtype=passthrough,max_read=1048576"};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  struct fuse* f = fuse_new(&args, &ops, sizeof ops, this);
  if (!f) return;
  if (fuse_mount(f, mountPoint_.c_str()) != 0) {
    fuse_destroy(f);
    return;
  }
  fuse_ = f;
  loop_ = std::thread([f] {
    fuse_loop_config* config = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(config, 16);
    fuse_loop_mt(f, config);
    fuse_loop_cfg_destroy(config);
  });
}

PassthroughFs::~PassthroughFs() {
  if (!fuse_) return;
  if (umount2(mountPoint_.c_str(), MNT_FORCE | MNT_DETACH) != 0) fuse_unmount(fuse_);
  loop_.join();
  fuse_unmount(fuse_);
  fuse_destroy(fuse_);
}

}  // namespace greyfox::bench
