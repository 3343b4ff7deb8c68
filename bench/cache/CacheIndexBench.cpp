// What a growing descriptor index costs a download. A download stores its
// descriptor after every 512 KiB range, and every store changes the
// descriptor index; these benchmarks measure one such store, a whole 64 MiB
// download, and the cost of writing the index whole (what each store would
// pay if the index were written through), each with 10, 1,000 and 10,000
// other files cached.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cache/QBCacheController.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFileItem.h"

namespace greyfox {
namespace {

constexpr std::uint64_t kRange = 512 * 1024;
constexpr std::uint64_t kDownloadSize = 64 * 1024 * 1024;

// A cache directory holding `entries` descriptors of other files, plus the
// file "big" with its info item and an empty descriptor.
class CacheWithEntries {
 public:
  explicit CacheWithEntries(int entries) {
    char pattern[] = "/tmp/greyfox-bench-XXXXXX";
    root_ = ::mkdtemp(pattern);
    cache_ = std::make_unique<QBCacheController>(root_ + "/Cache");
    for (int i = 0; i < entries; ++i) {
      auto other = std::make_shared<QBBinaryDataDescriptorItem>();
      other->identifier = "other-" + std::to_string(i);
      other->path = "/files/other-" + std::to_string(i);
      other->completedBytes = 0;
      cache_->storeItem(other);
    }
    auto info = std::make_shared<QBFileInfoItem>();
    info->identifier = "big";
    info->name = "big.bin";
    cache_->storeItem(info);
    resetDownload();
    cache_->flush();
  }
  ~CacheWithEntries() {
    cache_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  QBCacheController& cache() { return *cache_; }

  void resetDownload() {
    cache_->purgeBinaryDataForcedOf("big");
    auto descriptor = std::make_shared<QBBinaryDataDescriptorItem>();
    descriptor->identifier = "big";
    descriptor->path = "/files/big.bin";
    descriptor->completedBytes = 0;
    cache_->storeItem(descriptor);
  }

 private:
  std::string root_;
  std::unique_ptr<QBCacheController> cache_;
};

CacheWithEntries& cacheWith(int entries) {
  static std::map<int, std::unique_ptr<CacheWithEntries>> caches;
  auto& slot = caches[entries];
  if (!slot) slot = std::make_unique<CacheWithEntries>(entries);
  return *slot;
}

// The least of the repetitions: the figure least disturbed by other load.
double minimum(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

// One descriptor store, as a download makes after each range.
void BM_DescriptorStore(benchmark::State& state) {
  CacheWithEntries& fixture = cacheWith(static_cast<int>(state.range(0)));
  auto descriptor = fixture.cache().fetchBinaryDataDescriptor("big");
  for (auto _ : state) {
    descriptor->completedBytes = descriptor->completedBytes.value_or(0) + 1;
    fixture.cache().storeItem(descriptor);
  }
  fixture.cache().flush();
  fixture.resetDownload();
}
BENCHMARK(BM_DescriptorStore)->MeasureProcessCPUTime()->ComputeStatistics("min", minimum)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// A whole 64 MiB download in 512 KiB ranges.
void BM_Download64MiB(benchmark::State& state) {
  CacheWithEntries& fixture = cacheWith(static_cast<int>(state.range(0)));
  std::string range(kRange, 'x');
  for (auto _ : state) {
    for (std::uint64_t offset = 0; offset < kDownloadSize; offset += kRange) {
      if (!fixture.cache().storeBinaryData(range, offset, kDownloadSize, "big")) {
        state.SkipWithError("range refused");
        return;
      }
    }
    state.PauseTiming();
    fixture.cache().flush();
    fixture.resetDownload();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDownloadSize));
}
// CPU of the whole process (the background index writer included), then of
// the storing thread alone.
BENCHMARK(BM_Download64MiB)
    ->MeasureProcessCPUTime()
    ->ComputeStatistics("min", minimum)
    ->Arg(0)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Download64MiB)
    ->Name("BM_Download64MiB_storingThread")
    ->ComputeStatistics("min", minimum)
    ->Arg(0)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

// Writing the descriptor index whole: the price of every store if the index
// were written through.
void BM_WholeIndexWrite(benchmark::State& state) {
  CacheWithEntries& fixture = cacheWith(static_cast<int>(state.range(0)));
  auto index = fixture.cache().indexOf(QBBinaryDataDescriptorItem::kClassName);
  for (auto _ : state) fixture.cache().backend().storeIndex(*index, std::string(QBBinaryDataDescriptorItem::kClassName));
  state.counters["entries"] = static_cast<double>(index->count());
}
BENCHMARK(BM_WholeIndexWrite)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace greyfox
