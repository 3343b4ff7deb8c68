// A minimal passthrough FUSE file system over a local folder, mounted with
// the same libfuse and the same options as the drive's adapter: the ceiling
// that the drive's benchmarks compare against. Benchmark code only.
#pragma once

#include <string>
#include <thread>

struct fuse;

namespace greyfox::bench {

class PassthroughFs {
 public:
  // Mounts `folder` at `mountPoint` and serves it on its own threads; check
  // mounted() afterwards.
  PassthroughFs(std::string folder, const std::string& mountPoint);
  // Unmounts and waits for the loop to end.
  ~PassthroughFs();
  PassthroughFs(const PassthroughFs&) = delete;
  PassthroughFs& operator=(const PassthroughFs&) = delete;

  bool mounted() const { return fuse_ != nullptr; }
  const std::string& folder() const { return folder_; }

 private:
  const std::string folder_;
  std::string mountPoint_;
  struct fuse* fuse_ = nullptr;
  std::thread loop_;
};

}  // namespace greyfox::bench
