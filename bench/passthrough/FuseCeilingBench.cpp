// What a FUSE volume costs on this machine: a 512 MiB file and a folder of
// 10,000 files read directly, through the minimal passthrough file system
// (the ceiling), and through the drive's adapter serving the same folder with
// a local delegate. Prints each figure and its ratio to the direct one.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "MountedVolume.h"
#include "PassthroughFs.h"
#include "platform/Timings.h"

using namespace greyfox;
using Seconds = std::chrono::duration<double>;

namespace {

constexpr size_t kFileSize = 512u << 20;
constexpr int kListedFiles = 10'000;
constexpr int kRounds = 3;

double now() { return Seconds(std::chrono::steady_clock::now().time_since_epoch()).count(); }

bool makeBigFile(const std::string& path) {
  std::mt19937_64 gen(7);
  std::vector<uint64_t> block((1u << 20) / sizeof(uint64_t));
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  for (size_t done = 0; done < kFileSize; done += block.size() * sizeof(uint64_t)) {
    for (auto& v : block) v = gen();
    if (write(fd, block.data(), block.size() * sizeof(uint64_t)) < 0) return close(fd), false;
  }
  return close(fd) == 0;
}

// Reads the whole file with `chunk`-byte reads: seconds, or -1.
double readAll(const std::string& path, size_t chunk) {
  std::vector<char> buffer(chunk);
  double start = now();
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  size_t total = 0;
  ssize_t n;
  while ((n = read(fd, buffer.data(), chunk)) > 0) total += static_cast<size_t>(n);
  close(fd);
  return total == kFileSize ? now() - start : -1;
}

// Lists the folder and stats each entry, as `ls -l` does: seconds, or -1.
double listLong(const std::string& folder) {
  double start = now();
  DIR* dir = opendir(folder.c_str());
  if (!dir) return -1;
  int count = 0;
  struct stat st;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) ++count;
  }
  closedir(dir);
  return count == kListedFiles ? now() - start : -1;
}

template <typename F>
double best(F&& measure) {
  double result = 1e9;
  for (int i = 0; i < kRounds; ++i) {
    double t = measure();
    if (t < 0) return -1;
    result = std::min(result, t);
  }
  return result;
}

struct Figures {
  double sequential = -1, small = -1, listExpired = -1, listFresh = -1;
};

Figures measure(const std::string& root) {
  Figures f;
  const std::string file = root + "/big.bin", folder = root + "/many";
  f.sequential = best([&] { return readAll(file, 1u << 20); });
  f.small = best([&] { return readAll(file, 4096); });
  f.listExpired = best([&] {
    listLong(folder);
    std::this_thread::sleep_for(Seconds(Timings::current().kernelCacheTimeout + 0.1));
    return listLong(folder);
  });
  f.listFresh = best([&] { return listLong(folder); });
  return f;
}

void row(const char* name, double direct, double through, double adapter, bool throughput) {
  auto shown = [&](double t) { return throughput ? (kFileSize / double(1 << 20)) / t : t * 1000; };
  std::printf("%-34s %10.1f %12.1f (%5.2fx) %10.1f (%5.2fx)\n", name, shown(direct), shown(through), through / direct,
              shown(adapter), adapter / direct);
}

}  // namespace

int main() {
  test::MountedVolume adapter;
  if (!adapter.mounted()) {
    std::fprintf(stderr, "the adapter's volume did not mount (needs /dev/fuse and fusermount3)\n");
    return 1;
  }
  const std::string data = adapter.backing();
  if (!makeBigFile(data + "/big.bin")) return std::fprintf(stderr, "cannot write the test file\n"), 1;
  mkdir((data + "/many").c_str(), 0755);
  for (int i = 0; i < kListedFiles; ++i) test::writeFile(data + "/many/file-" + std::to_string(i) + ".txt", "x");
  readAll(data + "/big.bin", 1u << 20);  // the page cache is warm for the direct reads

  test::TempDir passthroughMount;
  bench::PassthroughFs passthrough(data, passthroughMount.path());
  if (!passthrough.mounted()) return std::fprintf(stderr, "the passthrough did not mount\n"), 1;

  // The adapter again with the kernel's usual 128 KiB requests, to show what
  // the larger reads bring.
  test::TempDir smallMount;
  test::MountReports smallReports;
  QBMountOptions smallOptions = QBMountOptions::forDrive("GreyfoxBench");
  smallOptions.maxRead = smallOptions.maxReadahead = 128u << 10;
  QBUserFileSystem small(std::make_shared<test::LocalFolderDelegate>(data), true);
  small.mountAtPath(smallMount.path(), smallOptions);
  if (!smallReports.waitFor(kGMUserFileSystemDidMount)) return std::fprintf(stderr, "the second volume did not mount\n"), 1;

  std::printf("FUSE ceiling, best of %d: 512 MiB file, folder of %d files, kernel cache time-out %.1f s\n", kRounds,
              kListedFiles, Timings::current().kernelCacheTimeout);
  Figures direct = measure(data), through = measure(passthroughMount.path()), served = measure(adapter.at());
  std::printf("%-34s %10s %21s %20s\n", "", "direct", "passthrough", "adapter");
  row("sequential 1 MiB reads (MiB/s)", direct.sequential, through.sequential, served.sequential, true);
  row("4 KiB reads (MiB/s)", direct.small, through.small, served.small, true);
  row("ls -l, names expired (ms)", direct.listExpired, through.listExpired, served.listExpired, false);
  row("ls -l, within the second (ms)", direct.listFresh, through.listFresh, served.listFresh, false);
  const double smallSequential = best([&] { return readAll(smallMount.path() + "/big.bin", 1u << 20); });
  const double smallSmall = best([&] { return readAll(smallMount.path() + "/big.bin", 4096); });
  std::printf("adapter with 128 KiB requests: sequential 1 MiB reads %.1f MiB/s (%.2fx), 4 KiB reads %.1f MiB/s (%.2fx)\n",
              (kFileSize >> 20) / smallSequential, smallSequential / direct.sequential, (kFileSize >> 20) / smallSmall,
              smallSmall / direct.small);
  std::printf("(ratios are time through the volume over time direct: 1.00x is no cost)\n");
  return 0;
}
