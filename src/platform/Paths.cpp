#include "platform/Paths.h"

#include <cstdlib>
#include <mutex>

namespace greyfox {

namespace {
std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : std::string();
}

std::string homeDirectory() {
  std::string home = env("HOME");
  return home.empty() ? std::string("/tmp") : home;
}

std::mutex pathsMutex;
// Readers use the reference current() gave them without the lock, so a
// replaced set of paths is never freed or overwritten.
const Paths*& slot() {
  static const Paths* paths = nullptr;
  return paths;
}
}  // namespace

const Paths& Paths::current() {
  std::lock_guard lock(pathsMutex);
  if (!slot()) slot() = new Paths(fromEnvironment());
  return *slot();
}

void Paths::install(const Paths& paths) {
  std::lock_guard lock(pathsMutex);
  slot() = new Paths(paths);
}

Paths Paths::underRoot(const std::string& root) {
  Paths p;
  p.applicationSupport_ = root + "/data";
  p.config_ = root + "/config";
  p.tmpRoot_ = root + "/tmp";
  p.sockets_ = root + "/run";
  p.mount_ = root + "/mnt";
  return p;
}

Paths Paths::fromEnvironment() {
  Paths p;
  if (std::string root = env("GREYFOX_ROOT"); !root.empty()) {
    p = underRoot(root);
  } else {
    std::string home = homeDirectory();
    std::string data = env("XDG_DATA_HOME");
    std::string config = env("XDG_CONFIG_HOME");
    std::string runtime = env("XDG_RUNTIME_DIR");
    p.applicationSupport_ = data.empty() ? home + "/.local/share" : data;
    p.config_ = (config.empty() ? home + "/.config" : config) + "/greyfox";
    p.tmpRoot_ = "/tmp";
    p.sockets_ = runtime.empty() ? std::string("/tmp") : runtime;
    p.mount_ = home + "/Drives";
  }
  if (std::string mount = env("GREYFOX_MOUNT_DIR"); !mount.empty()) p.mount_ = mount;
  return p;
}

std::string Paths::tmp(const std::string& name) const { return tmpRoot_ + "/" + name; }

std::string Paths::socket(const std::string& name) const { return sockets_ + "/" + name; }

}  // namespace greyfox
