// quillbox-devservice: a local Quillbox service for development, tests and the
// demo. Prints "listening on URL" (the API base) as its first line and stops
// cleanly on SIGINT and SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <httplib.h>

#include "Faults.h"
#include "Seed.h"
#include "Service.h"
#include "Store.h"
#include "TestControls.h"

using namespace greyfox::devservice;

namespace {

constexpr size_t kWorkerThreads = 32;
constexpr auto kStopGrace = std::chrono::milliseconds(500);

int usage(const char* message) {
  std::fprintf(stderr,
               "%s\nusage: quillbox-devservice --listen HOST:PORT --data DIR [--seed demo] [--test-controls]\n"
               "                            [--tls-cert FILE --tls-key FILE]\n",
               message);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string listen = "127.0.0.1:0", dataDir, seed, certFile, keyFile;
  bool testControls = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    bool ok = true;
    if (a == "--listen") ok = value(listen);
    else if (a == "--data") ok = value(dataDir);
    else if (a == "--seed") ok = value(seed);
    else if (a == "--tls-cert") ok = value(certFile);
    else if (a == "--tls-key") ok = value(keyFile);
    else if (a == "--test-controls") testControls = true;
    else return usage(("unknown option " + a).c_str());
    if (!ok) return usage(("missing value for " + a).c_str());
  }
  if (dataDir.empty()) return usage("--data is required");
  if (!seed.empty() && seed != "demo") return usage("the only seed is \"demo\"");
  if (certFile.empty() != keyFile.empty()) return usage("--tls-cert and --tls-key go together");
  auto colon = listen.rfind(':');
  if (colon == std::string::npos) return usage("--listen takes HOST:PORT");
  std::string host = listen.substr(0, colon);
  int port = std::atoi(listen.c_str() + colon + 1);

  // Signals are taken by one thread with sigwait; every other thread blocks them.
  // A shell starts background jobs with SIGINT ignored; take it back.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<Store> store;
  try {
    store = std::make_unique<Store>(dataDir);
    // A seed cut short by a kill left no users behind and is made again.
    if (seed == "demo" && !store->hasUsers()) {
      std::lock_guard lock(store->mutex());
      store->atomically([&] { seedDemo(*store); });
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillbox-devservice: %s\n", e.what());
    return 1;
  }

  std::unique_ptr<httplib::Server> server;
  if (!certFile.empty()) {
    auto tls = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
    if (!tls->is_valid()) {
      std::fprintf(stderr, "quillbox-devservice: cannot use the certificate or key\n");
      return 1;
    }
    server = std::move(tls);
  } else {
    server = std::make_unique<httplib::Server>();
  }
  server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  server->set_keep_alive_max_count(1000);
  server->set_read_timeout(60);
  server->set_write_timeout(60);

  int bound = port == 0 ? server->bind_to_any_port(host) : (server->bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    std::fprintf(stderr, "quillbox-devservice: cannot listen on %s\n", listen.c_str());
    return 1;
  }
  std::string shownHost = host == "0.0.0.0" ? "127.0.0.1" : host;
  std::string rootUrl = std::string(certFile.empty() ? "http" : "https") + "://" + shownHost + ":" + std::to_string(bound);

  Faults faults;
  Service service(*store, faults, rootUrl);
  service.install(*server);
  if (testControls) installTestControls(*server, *store, faults);

  // After stop(), idle keep-alive connections would hold the workers for up to
  // their time-out; every change is committed when its reply is sent, so the
  // process may end without waiting for them.
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  bool done = false;
  std::thread signalThread([&] {
    int received = 0;
    sigwait(&signals, &received);
    faults.shutdown();
    server->stop();
    std::unique_lock lock(doneMutex);
    if (!doneChanged.wait_for(lock, kStopGrace, [&] { return done; })) std::_Exit(0);
  });

  std::printf("listening on %s/api/v1/\n", rootUrl.c_str());
  std::fflush(stdout);
  server->listen_after_bind();

  {
    std::lock_guard lock(doneMutex);
    done = true;
  }
  doneChanged.notify_all();
  pthread_kill(signalThread.native_handle(), SIGTERM);
  signalThread.join();
  return 0;
}
