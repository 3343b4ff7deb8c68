// A cold sequential read of a large file through the content controller's
// readFileAt in 1 MiB steps, against a raw download of the same file with
// libcurl from the same local service. Prints both times, their ratio (raw
// time / read time: 1.0 means the client reads as fast as a bare download)
// and the process's peak resident memory, and the time of the same reads
// once the file is cached.
//
//   read_bench [size in MiB, default 1024]
//
// The file is written to disk and sent to the service from there, so the
// process never holds it in memory.
#include <curl/curl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "api/CurlTransport.h"
#include "api/QBApiClient.h"
#include "cache/QBCacheController.h"
#include "content/QBContentController.h"
#include "content/QBDownloadStarter.h"
#include "items/QBUserSessionItem.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "support/LocalService.h"
#include "transfer/QBDownloadController.h"

using namespace greyfox;

namespace {

constexpr const char* kUser = "demo@greyfox.test";
constexpr const char* kPassword = "greyfox-demo";
constexpr const char* kPath = "/Bench/cold.bin";
constexpr std::uint64_t MiB = 1024 * 1024;

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A checksum of every 512th byte with its position: cheap enough not to weigh
// on either timing, and it shows both reads saw the same bytes in the same
// places.
struct Checksum {
  std::uint64_t value = 0;
  std::uint64_t bytes = 0;
  void add(const char* p, std::size_t n) {
    for (std::size_t i = (512 - bytes % 512) % 512; i < n; i += 512)
      value += static_cast<unsigned char>(p[i]) * (bytes + i + 1);
    bytes += n;
  }
};

void writeSourceFile(const std::string& path, std::uint64_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string block(MiB, '\0');
  std::uint32_t x = 12345;
  for (std::uint64_t written = 0; written < size; written += block.size()) {
    for (auto& c : block) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    out.write(block.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), size - written)));
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::size_t discardInto(char* data, std::size_t size, std::size_t n, void* user) {
  static_cast<Checksum*>(user)->add(data, size * n);
  return size * n;
}

// The raw download: the same request the client sends, with a bare easy handle.
double rawDownload(const HttpRequest& request, Checksum* sum) {
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  for (const auto& [name, value] : request.headers) headers = curl_slist_append(headers, (name + ": " + value).c_str());
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discardInto);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, sum);
  double start = now();
  CURLcode code = curl_easy_perform(curl);
  double took = now() - start;
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) throw std::runtime_error(std::string("raw download failed: ") + curl_easy_strerror(code));
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024) * MiB;
  if (!std::getenv("GREYFOX_BIN_DIR")) ::setenv("GREYFOX_BIN_DIR", GREYFOX_DEFAULT_BIN_DIR, 1);
  const auto root = std::filesystem::temp_directory_path() / ("greyfox-read-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  Paths::install(Paths::underRoot(root.string()));
  curl_global_init(CURL_GLOBAL_DEFAULT);
  int rc = 0;
  try {
    test::LocalService service;
    const std::string source = (root / "source.bin").string();
    writeSourceFile(source, size);
    service.putFileFrom(kUser, kPath, source);
    std::filesystem::remove(source);

    ::setenv("GREYFOX_SERVICE_URL", service.baseUrl().c_str(), 1);
    HttpTransport::install(std::make_shared<CurlTransport>(CurlTransportOptions{}));
    auto client = std::make_shared<QBApiClient>();
    QBApiClient::install(client);
    std::thread mainLoop([] { RunLoop::main().run(); });
    ErrorPtr error;
    auto session = client->authenticateUserSessionWithUsername(kUser, kPassword, &error);
    if (!session) throw std::runtime_error("sign-in failed");
    auto cache = QBCacheController::cacheControllerAt((root / "cache").string(), &error);
    cache->storeItem(session);
    auto content = std::make_shared<QBContentController>(client, cache);
    QBDownloadStarter::install(std::make_shared<QBDownloadStarterImpl>());
    auto identifier = content->identifierForFileAt(kPath, false);
    if (!identifier) throw std::runtime_error("the file is not listed");

    auto request = QBApiRequest::requestWithMethod("GET", "download/file.json", QBApiRequest::Arguments{*identifier},
                                                   nlohmann::json{{"offset", 0}});
    if (!content->authContext()->preFill(*request, *client, &error) || !request->urlRequest(&error))
      throw std::runtime_error("cannot build the download request");
    const HttpRequest http = *request->urlRequest(nullptr);

    Checksum warm, raw, read;
    rawDownload(http, &warm);  // the service's page cache holds the file for both timed runs
    double rawTime = rawDownload(http, &raw);

    double start = now();
    for (std::uint64_t offset = 0; offset < size; offset += MiB) {
      auto piece = content->readFileAt(kPath, offset, MiB, &error);
      if (!piece || piece->empty()) throw std::runtime_error("read failed at " + std::to_string(offset));
      read.add(piece->data(), piece->size());
    }
    double readTime = now() - start;

    // The same reads again, all from the cache: what the client adds to a read.
    Checksum again;
    start = now();
    for (std::uint64_t offset = 0; offset < size; offset += MiB) {
      auto piece = content->readFileAt(kPath, offset, MiB, &error);
      if (!piece || piece->empty()) throw std::runtime_error("cached read failed at " + std::to_string(offset));
      again.add(piece->data(), piece->size());
    }
    double cachedTime = now() - start;

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("file size:            %llu MiB\n", static_cast<unsigned long long>(size / MiB));
    std::printf("raw libcurl download: %.2f s (%.0f MiB/s)\n", rawTime, size / MiB / rawTime);
    std::printf("readFileAt, 1 MiB:    %.2f s (%.0f MiB/s)\n", readTime, size / MiB / readTime);
    std::printf("ratio raw/read:       %.2f (goal >= 0.8)\n", rawTime / readTime);
    std::printf("readFileAt, cached:   %.2f s (%.0f MiB/s)\n", cachedTime, size / MiB / cachedTime);
    std::printf("peak RSS:             %.1f MiB (goal < 100)\n", usage.ru_maxrss / 1024.0);
    bool same = raw.value == read.value && raw.bytes == read.bytes && again.value == raw.value;
    std::printf("same bytes:           %s\n", same ? "yes" : "NO");
    if (!same) rc = 1;

    RunLoop::main().post([] { RunLoop::main().stop(); });
    mainLoop.join();
    QBDownloadStarter::install(nullptr);
    QBApiClient::install(nullptr);
    HttpTransport::install(nullptr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "read_bench: %s\n", e.what());
    rc = 1;
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return rc;
}
