#include "support/LocalService.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace greyfox::test {

namespace {

constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(10);
const std::string kListening = "listening on ";

std::string binary() {
  const char* dir = std::getenv("GREYFOX_BIN_DIR");
  if (!dir || !*dir) throw std::runtime_error("GREYFOX_BIN_DIR is not set");
  return std::string(dir) + "/quillbox-devservice";
}

std::string escape(const std::string& text) {
  char* e = curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.size()));
  std::string out = e ? e : "";
  curl_free(e);
  return out;
}

size_t collect(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

// Waits up to `limit` for the child to end; true when it has.
bool reap(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

LocalService::LocalService(Options options) : options_(std::move(options)) {
  static std::once_flag curlInit;
  std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  dataDir_ = options_.dataDir;
  if (dataDir_.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "greyfox-devservice-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary data folder");
    dataDir_ = pattern;
    ownsDataDir_ = true;
  }
  launch("127.0.0.1:0");
}

LocalService::LocalService() : LocalService(Options{}) {}

LocalService::~LocalService() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    if (!reap(pid_, kStopWait)) {
      ::kill(pid_, SIGKILL);
      reap(pid_, kStopWait);
    }
  }
  if (ownsDataDir_) {
    std::error_code ec;
    std::filesystem::remove_all(dataDir_, ec);
  }
}

void LocalService::launch(const std::string& listen) {
  std::vector<std::string> args = {binary(), "--listen", listen, "--data", dataDir_};
  if (options_.seedDemo) args.insert(args.end(), {"--seed", "demo"});
  if (options_.testControls) args.push_back("--test-controls");
  if (!options_.tlsCert.empty()) args.insert(args.end(), {"--tls-cert", options_.tlsCert, "--tls-key", options_.tlsKey});

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(out[1]);

  std::string line;
  auto deadline = std::chrono::steady_clock::now() + kStartWait;
  bool ended = false;
  while (line.find('\n') == std::string::npos && !ended) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) ended = true;
    else line.append(buffer, static_cast<size_t>(n));
  }
  ::close(out[0]);
  auto newline = line.find('\n');
  if (newline == std::string::npos || line.rfind(kListening, 0) != 0) {
    ::kill(pid, SIGKILL);
    reap(pid, kStopWait);
    throw std::runtime_error("quillbox-devservice did not start: \"" + line + "\"");
  }
  pid_ = pid;
  baseUrl_ = line.substr(kListening.size(), newline - kListening.size());
  rootUrl_ = baseUrl_.substr(0, baseUrl_.size() - std::string("/api/v1/").size());
  port_ = std::stoi(rootUrl_.substr(rootUrl_.rfind(':') + 1));
}

void LocalService::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  reap(pid_, kStopWait);
  pid_ = -1;
}

void LocalService::start() {
  if (pid_ > 0) return;
  // The port may still be held for a moment by the stopped process's sockets.
  auto deadline = std::chrono::steady_clock::now() + kStartWait;
  while (true) {
    try {
      launch("127.0.0.1:" + std::to_string(port_));
      return;
    } catch (const std::runtime_error&) {
      if (std::chrono::steady_clock::now() >= deadline) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

std::string LocalService::controlUrl(const std::string& pathAndQuery) const { return rootUrl_ + pathAndQuery; }

long LocalService::control(const std::string& method, const std::string& pathAndQuery, const std::string& payload,
                           std::string* body) {
  CURL* curl = curl_easy_init();
  if (!curl) throw std::runtime_error("curl_easy_init failed");
  std::string url = controlUrl(pathAndQuery), received;
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  if (method == "POST" || method == "PUT") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
  }
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK)
    throw std::runtime_error(method + " " + pathAndQuery + ": " + curl_easy_strerror(rc));
  if (body) *body = std::move(received);
  else if (status != 200) throw std::runtime_error(method + " " + pathAndQuery + " refused: " + received);
  return status;
}

void LocalService::addUser(const nlohmann::json& user) { control("POST", "/_test/users", user.dump(), nullptr); }

void LocalService::putFile(const std::string& user, const std::string& path, const std::string& bytes) {
  control("PUT", "/_test/files?user=" + escape(user) + "&path=" + escape(path), bytes, nullptr);
}

std::optional<std::string> LocalService::getFile(const std::string& user, const std::string& path) {
  std::string body;
  long status = control("GET", "/_test/files?user=" + escape(user) + "&path=" + escape(path), "", &body);
  if (status == 404) return std::nullopt;
  if (status != 200) throw std::runtime_error("GET /_test/files refused: " + body);
  return body;
}

namespace {
size_t readFromFile(char* buffer, size_t size, size_t n, void* file) {
  return std::fread(buffer, 1, size * n, static_cast<std::FILE*>(file));
}
size_t toSink(char* data, size_t size, size_t n, void* sink) {
  (*static_cast<const std::function<void(const char*, std::size_t)>*>(sink))(data, size * n);
  return size * n;
}

// One streamed exchange with a test control; throws unless it answers 200.
void streamedExchange(const std::string& url, std::FILE* upload, std::uint64_t uploadSize,
                      const std::function<void(const char*, std::size_t)>& sink) {
  CURL* curl = curl_easy_init();
  if (!curl) throw std::runtime_error("curl_easy_init failed");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (upload) {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readFromFile);
    curl_easy_setopt(curl, CURLOPT_READDATA, upload);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(uploadSize));
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, toSink);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK) throw std::runtime_error(url + ": " + curl_easy_strerror(rc));
  if (status != 200) throw std::runtime_error(url + " answered " + std::to_string(status));
}
}  // namespace

void LocalService::putFileFrom(const std::string& user, const std::string& path, const std::string& localFile) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(localFile.c_str(), "rb"), &std::fclose);
  if (!in) throw std::runtime_error("cannot open " + localFile);
  std::uint64_t size = std::filesystem::file_size(localFile);
  streamedExchange(controlUrl("/_test/files?user=" + escape(user) + "&path=" + escape(path)), in.get(), size,
                   [](const char*, std::size_t) {});
}

std::uint64_t LocalService::streamFile(const std::string& user, const std::string& path,
                                       const std::function<void(const char*, std::size_t)>& sink) {
  std::uint64_t received = 0;
  streamedExchange(controlUrl("/_test/files?user=" + escape(user) + "&path=" + escape(path)), nullptr, 0,
                   [&](const char* data, std::size_t n) {
                     received += n;
                     sink(data, n);
                   });
  return received;
}

void LocalService::encryptFolder(const std::string& user, const std::string& path) {
  control("POST", "/_test/encrypt", nlohmann::json{{"user", user}, {"path", path}}.dump(), nullptr);
}

std::string LocalService::twoFactorCode(const std::string& user) {
  std::string body;
  if (control("GET", "/_test/2fa?user=" + escape(user), "", &body) != 200)
    throw std::runtime_error("GET /_test/2fa refused: " + body);
  return nlohmann::json::parse(body).at("code").get<std::string>();
}

void LocalService::addNotification(const nlohmann::json& n) {
  control("POST", "/_test/notifications", n.dump(), nullptr);
}

nlohmann::json LocalService::stats() {
  std::string body;
  if (control("GET", "/_test/stats", "", &body) != 200) throw std::runtime_error("GET /_test/stats refused: " + body);
  return nlohmann::json::parse(body).at("requests");
}

void LocalService::resetStats() { control("DELETE", "/_test/stats", "", nullptr); }

void LocalService::addFault(const nlohmann::json& fault) { control("POST", "/_test/faults", fault.dump(), nullptr); }

void LocalService::clearFaults() { control("DELETE", "/_test/faults", "", nullptr); }

}  // namespace greyfox::test
