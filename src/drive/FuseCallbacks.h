// The libfuse operation table of QBUserFileSystem: each operation finds the
// file system in the request's context, calls its delegate and turns the
// answer into what the kernel expects. Internal to the adapter.
#pragma once

#define FUSE_USE_VERSION FUSE_MAKE_VERSION(3, 14)
#include <fuse.h>

namespace greyfox {

class QBUserFileSystem;

struct FuseCallbacks {
  static fuse_operations operations();
  static void* init(fuse_conn_info* conn, fuse_config* cfg);
};

}  // namespace greyfox
