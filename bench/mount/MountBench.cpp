// The drive measured as a user meets it: `greyfox mount` against the local
// service, and ordinary reads and listings through the mounted volume.
//
//   mount_bench [size in MiB, default 1024]
//
// Prints, each with the ratio its goal is stated in:
// - cold sequential read (nothing cached) against a raw download of the same
//   file from the same service (goal: at least 0.8 of its speed);
// - warm sequential read (fully cached) against the same bytes read through a
//   minimal passthrough FUSE file system over the cache file, the ceiling of
//   any FUSE drive here (goal: at least 0.8 of its speed);
// - 4 KiB reads of the cached file against the passthrough (goal: within 1.5x
//   its time);
// - `ls -l` of a folder of 10,000 cached files, once the kernel's 1-second
//   entries have expired, against a local folder (goal: within 4.5x);
// - the client's peak resident memory (goal: under 100 MiB).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "GreyfoxProcess.h"
#include "PassthroughFs.h"
#include "support/LocalService.h"

namespace fs = std::filesystem;
using greyfox::bench::PassthroughFs;
using greyfox::test::GreyfoxProcess;
using greyfox::test::LocalService;

namespace {

constexpr const char* kUser = "demo@greyfox.test";
constexpr const char* kPassword = "greyfox-demo";
constexpr std::uint64_t MiB = 1024 * 1024;
constexpr int kManyFiles = 10'000;

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Reads the whole file with reads of `chunk` bytes; answers the bytes read.
std::uint64_t readAll(const std::string& path, std::size_t chunk) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  std::vector<char> buffer(chunk);
  std::uint64_t total = 0;
  for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) total += static_cast<std::uint64_t>(n);
  ::close(fd);
  return total;
}

// Seconds taken by `work`.
template <class Work>
double timed(Work work) {
  double start = now();
  work();
  return now() - start;
}

// What `ls -l` does: list the folder and stat every entry.
int listWithAttributes(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) throw std::runtime_error("cannot list " + folder);
  int seen = 0;
  while (dirent* e = ::readdir(dir)) {
    struct stat st {};
    if (::lstat((folder + "/" + e->d_name).c_str(), &st) == 0) ++seen;
  }
  ::closedir(dir);
  return seen;
}

void writeRandomFile(const std::string& path, std::uint64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937_64 random(42);
  std::vector<std::uint64_t> block(MiB / 8);
  for (std::uint64_t done = 0; done < size; done += MiB) {
    for (auto& word : block) word = random();
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(std::min(MiB, size - done)));
  }
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// The client's peak resident memory in MiB (VmHWM).
double peakMemoryMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return -1;
}

// The cache's largest binary file: the downloaded bytes of the big file.
std::string largestBinaryFile(const std::string& root) {
  std::string best;
  std::uintmax_t bestSize = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file() && e.path().extension() == ".binary" && e.file_size() > bestSize) {
      best = e.path();
      bestSize = e.file_size();
    }
  }
  return best;
}

void report(const char* what, double ours, double reference, const char* referenceName, double goal, bool higherIsBetter) {
  double ratio = higherIsBetter ? reference / ours : ours / reference;
  std::printf("%-34s %8.3f s  %-22s %8.3f s  ratio %.2f (goal %s %.2f)\n", what, ours, referenceName, reference,
              ratio, higherIsBetter ? ">=" : "<=", goal);
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024) * MiB;
  const std::string root = fs::temp_directory_path() / ("greyfox-mount-bench-" + std::to_string(::getpid()));
  fs::create_directories(root + "/client");
  try {
    LocalService service;
    std::printf("preparing a %llu MiB file and %d small files on the service...\n",
                static_cast<unsigned long long>(size / MiB), kManyFiles);
    writeRandomFile(root + "/big.bin", size);
    service.putFileFrom(kUser, "/Bench/big.bin", root + "/big.bin");
    fs::remove(root + "/big.bin");
    for (int i = 0; i < kManyFiles; ++i) service.putFile(kUser, "/Many/file-" + std::to_string(i) + ".txt", "x");

    double raw = timed([&] { service.streamFile(kUser, "/Bench/big.bin", [](const char*, std::size_t) {}); });

    GreyfoxProcess greyfox(root + "/client", service.baseUrl(), kUser, kPassword, 1.0);
    auto mount = greyfox.waitForMount(60);
    if (!mount) throw std::runtime_error("greyfox did not mount: " + greyfox.errorOutput());
    const std::string big = *mount + "/Bench/big.bin";

    std::uint64_t got = 0;
    double cold = timed([&] { got = readAll(big, MiB); });
    if (got != size) throw std::runtime_error("cold read gave " + std::to_string(got) + " bytes");
    double warm = timed([&] { readAll(big, MiB); });
    double small = timed([&] { readAll(big, 4096); });

    std::string cacheFile = largestBinaryFile(root + "/client/data");  // not the mount point
    fs::create_directories(root + "/ceiling");
    double ceilingWarm = 0, ceilingSmall = 0;
    {
      PassthroughFs ceiling(fs::path(cacheFile).parent_path(), root + "/ceiling");
      if (!ceiling.mounted()) throw std::runtime_error("the passthrough did not mount");
      const std::string through = root + "/ceiling/" + fs::path(cacheFile).filename().string();
      readAll(through, MiB);  // same page-cache state as the drive's warm read
      ceilingWarm = timed([&] { readAll(through, MiB); });
      ceilingSmall = timed([&] { readAll(through, 4096); });
    }

    const std::string many = *mount + "/Many";
    if (listWithAttributes(many) < kManyFiles) throw std::runtime_error("the folder lists too few files");
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // the kernel's entries expire
    double listed = timed([&] { listWithAttributes(many); });
    fs::create_directories(root + "/local-many");
    for (int i = 0; i < kManyFiles; ++i) std::ofstream(root + "/local-many/file-" + std::to_string(i) + ".txt") << "x";
    listWithAttributes(root + "/local-many");
    double localListed = timed([&] { listWithAttributes(root + "/local-many"); });

    double peak = peakMemoryMiB(greyfox.pid());
    greyfox.stop(SIGTERM, 30);

    std::printf("\n");
    report("cold sequential read (1 MiB)", cold, raw, "raw download", 0.8, true);
    report("warm sequential read (1 MiB)", warm, ceilingWarm, "passthrough", 0.8, true);
    report("4 KiB reads, cached", small, ceilingSmall, "passthrough", 1.5, false);
    report("ls -l of 10,000 files, expired", listed, localListed, "local folder", 4.5, false);
    std::printf("%-34s %8.1f MiB (goal < 100)\n", "client peak memory", peak);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mount_bench: %s\n", e.what());
    fs::remove_all(root);
    return 1;
  }
  fs::remove_all(root);
  return 0;
}
