// Every fixed location of the client, in one place.
//
// Defaults follow the XDG conventions: application data under $XDG_DATA_HOME
// (~/.local/share), configuration under $XDG_CONFIG_HOME/greyfox, sockets
// under $XDG_RUNTIME_DIR, the fixed "/tmp/..." files and folders under /tmp,
// and drives under a configurable mount directory (~/Drives, or
// $GREYFOX_MOUNT_DIR). When GREYFOX_ROOT is set, every one of them moves under
// that root (data/, config/, tmp/, run/, mnt/), so tests and the demo never
// touch the user's own files and can run side by side.
//
// Read-only after install; safe from any thread.
#pragma once

#include <string>

namespace greyfox {

class Paths {
 public:
  // The paths in force; made from the environment on first use.
  static const Paths& current();
  // Replaces the paths in force (tests, start-up with --mount-dir).
  static void install(const Paths& paths);
  // Paths from the environment variables above.
  static Paths fromEnvironment();
  // Every path under `root`.
  static Paths underRoot(const std::string& root);

  // The user's application-data directory (macOS's Application Support).
  const std::string& applicationSupport() const { return applicationSupport_; }
  // Where preferences and the file keychain live.
  const std::string& configDirectory() const { return config_; }
  // The directory drives are mounted in (macOS's "/Volumes").
  const std::string& mountDirectory() const { return mount_; }
  // Where the unix-domain command sockets live.
  const std::string& socketDirectory() const { return sockets_; }

  // A fixed "/tmp/<name>" path ("QuillboxTmp/temp", "QuillboxSession.id", ...).
  std::string tmp(const std::string& name) const;
  // A socket's path by its name ("quillbox.sock").
  std::string socket(const std::string& name) const;

  // The staging tree: "/tmp/QuillboxTmp/temp".
  std::string stagingRoot() const { return tmp("QuillboxTmp/temp"); }
  // The preferences file.
  std::string preferencesFile() const { return config_ + "/preferences.json"; }
  // The file keychain.
  std::string keychainFile() const { return config_ + "/keychain.json"; }

  Paths& setMountDirectory(std::string dir) {
    mount_ = std::move(dir);
    return *this;
  }

 private:
  std::string applicationSupport_;
  std::string config_;
  std::string mount_;
  std::string sockets_;
  std::string tmpRoot_;
};

}  // namespace greyfox
