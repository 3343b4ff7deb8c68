#include "app/CommandLine.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "api/QBApiClient.h"
#include "app/AppDelegate.h"
#include "app/CommandLineSignIn.h"
#include "app/DemoService.h"
#include "diag/Log.h"
#include "diag/Logging.h"
#include "diag/Utilities.h"
#include "items/QBUserSessionItem.h"
#include "platform/Paths.h"
#include "platform/Timings.h"

namespace greyfox {

namespace {

constexpr const char* kUsage =
    "usage: greyfox mount [--service URL] [--user EMAIL] [--mount-dir DIR]\n"
    "       greyfox demo\n";
constexpr const char* kDemoUser = "demo@greyfox.test";
constexpr const char* kDemoPassword = "greyfox-demo";

struct MountOptions {
  std::optional<std::string> service, user, mountDir;
};

std::optional<MountOptions> parseMountOptions(int argc, char** argv, int first) {
  MountOptions o;
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string>* slot = arg == "--service"     ? &o.service
                                       : arg == "--user"      ? &o.user
                                       : arg == "--mount-dir" ? &o.mountDir
                                                              : nullptr;
    if (!slot || i + 1 >= argc) return std::nullopt;
    *slot = argv[++i];
  }
  return o;
}

void installTimingsFromEnvironment() {
  const char* scale = std::getenv("GREYFOX_TIMINGS_SCALE");
  if (!scale || !*scale) return;
  double f = std::atof(scale);
  if (f <= 0) return;
  Timings t = Timings::current();
  t.folderRefreshAge *= f;
  t.specialFolderRefreshAge *= f;
  t.readRetryPause *= f;
  t.readaheadRepeatPause *= f;
  t.errorDisplayInterval *= f;
  Timings::install(t);
}

// The running client, for the signal thread; null before sign-in ends.
std::atomic<AppDelegate*> runningApp{nullptr};

// Waits for SIGINT and SIGTERM (blocked in every thread) and asks the client
// to end; before there is one, ends the process at once.
void startSignalThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0) continue;
      AppDelegate* app = runningApp.load();
      if (!app) {
        std::fprintf(stderr, "Interrupted.\n");
        std::_Exit(1);
      }
      app->requestQuit();
    }
  }).detach();
}

// Signs in and serves the drive until the client ends. `announce` is told
// the mount point once the drive is usable.
int serve(const std::string& user, std::optional<std::string> password,
          const std::function<void(const std::string&)>& announce) {
  QBLogging::setupWithPrefix("QB");
  QBLOG("Greyfox %s starting for %s", Utilities::appVersion().c_str(), user.c_str());
  ErrorPtr error;
  if (!password) password = CommandLineSignIn::passwordFor(user, &error);
  auto client = QBApiClient::sharedClient();
  std::shared_ptr<QBUserSessionItem> session;
  if (password) session = CommandLineSignIn(client).signIn(user, *password, &error);
  if (!session) {
    std::fprintf(stderr, "Login failed:\n%s", Utilities::errorMessageBody(error).c_str());
    return 1;
  }
  auto app = std::make_shared<AppDelegate>(client);
  app->setMountedHandler(announce);
  if (!app->loginSuccess(session, &error)) {
    std::fprintf(stderr, "Sign-in could not be completed:\n%s", Utilities::errorMessageBody(error).c_str());
    return 1;
  }
  runningApp = app.get();
  int status = app->run();
  runningApp = nullptr;
  return status;
}

int runMount(const MountOptions& o) {
  if (o.service) setenv("GREYFOX_SERVICE_URL", o.service->c_str(), 1);
  if (o.mountDir) {
    Paths paths = Paths::current();
    paths.setMountDirectory(*o.mountDir);
    Paths::install(paths);
  }
  std::string user = o.user.value_or("");
  if (user.empty()) {
    if (const char* env = std::getenv("GREYFOX_USER")) user = env;
  }
  if (user.empty()) {
    std::fprintf(stderr, "No user: give --user EMAIL.\n%s", kUsage);
    return 2;
  }
  return serve(user, std::nullopt, [](const std::string& path) {
    std::printf("mounted at %s\n", path.c_str());
    std::fflush(stdout);
  });
}

int runDemo() {
  ErrorPtr error;
  std::string data = Utilities::findOrCreateDirectory("Quillbox/DemoService", &error);
  DemoService service;
  if (data.empty() || !service.start(data, &error)) {
    std::fprintf(stderr, "The demo service could not be started:\n%s", Utilities::errorMessageBody(error).c_str());
    return 1;
  }
  setenv("GREYFOX_SERVICE_URL", service.baseUrl().c_str(), 1);
  std::printf("Local Quillbox service at %s (data in %s)\n", service.baseUrl().c_str(), data.c_str());
  std::fflush(stdout);
  int status = serve(kDemoUser, std::string(kDemoPassword), [](const std::string& path) {
    std::printf("mounted at %s\n", path.c_str());
    std::printf("The drive of %s is at %s: use it with any program (ls, cat, cp, a file manager).\n", kDemoUser,
                path.c_str());
    std::printf("Press Ctrl-C to stop.\n");
    std::fflush(stdout);
  });
  service.stop();
  return status;
}

}  // namespace

int runCommandLine(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  std::string command = argv[1];
  installTimingsFromEnvironment();
  if (command == "mount") {
    auto options = parseMountOptions(argc, argv, 2);
    if (!options) {
      std::fprintf(stderr, "%s", kUsage);
      return 2;
    }
    startSignalThread();
    return runMount(*options);
  }
  if (command == "demo" && argc == 2) {
    startSignalThread();
    return runDemo();
  }
  std::fprintf(stderr, "%s", kUsage);
  return 2;
}

}  // namespace greyfox
