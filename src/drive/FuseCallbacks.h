// The libfuse operation table of QBUserFileSystem: each operation finds the
// file system in the request's context, calls its delegate and turns the
// answer into what the kernel expects. Internal to the adapter.
#pragma once

#define FUSE_USE_VERSION FUSE_MAKE_VERSION(3, 14)
#include <fuse.h>

#include <string>

#include "drive/QBFileSystemDelegate.h"

namespace greyfox {

class QBUserFileSystem;

// What fuse_file_info::fh points to between an open and its release.
struct OpenFile {
  QBFileHandlePtr handle;
  std::string path;  // at open
};

struct FuseCallbacks {
  static fuse_operations operations();
  static void* init(fuse_conn_info* conn, fuse_config* cfg);
  // Releases, with the path each had at its open, the files still open when
  // the volume went away (the kernel sends no release after a forced end).
  // REQUIRES: the loop has ended.
  static void releaseOpenFiles(QBUserFileSystem& fs);
  // Keep and drop the record of an open between open and release.
  static void rememberOpenFile(QBUserFileSystem& fs, OpenFile* file);
  static void forgetOpenFile(QBUserFileSystem& fs, OpenFile* file);
};

}  // namespace greyfox
