#include "diag/Utilities.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <set>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "diag/Log.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"
#include "platform/UIPort.h"

#ifndef GREYFOX_VERSION
#error "GREYFOX_VERSION must be defined by the build"
#endif

namespace greyfox {

namespace {

std::string applicationSupportDirectory(const std::string& component, const char* failureMessage) {
  ErrorPtr error;
  std::string path = Utilities::findOrCreateDirectory(component, &error);
  if (path.empty()) QBLOG(failureMessage, error ? error->message().c_str() : "(null)");
  return path;
}

constexpr const char* kAppSupportFailure = "Unable to find or create application support directory:\n%s";

struct Hooks {
  std::mutex mutex;
  Utilities::FileSystemChangedHook changed;        // guarded by mutex
  Utilities::DriveRootPathProvider driveRoot;      // guarded by mutex
};
Hooks& hooks() {
  static Hooks* h = new Hooks();  // never destroyed: fired from threads that may outlive static teardown
  return *h;
}

struct ErrorDisplayTable {
  std::mutex mutex;
  std::map<long, double> lastShown;  // error code -> wall time it was shown; guarded by mutex
};
ErrorDisplayTable& errorTable() {
  static ErrorDisplayTable* t = new ErrorDisplayTable();
  return *t;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buffer[128];
  va_list args;
  va_start(args, fmt);
  int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return n < 0 ? std::string() : std::string(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
}

}  // namespace

std::string Utilities::findOrCreateDirectory(const std::string& appendPathComponent, ErrorPtr* error) {
  std::string path = Paths::current().applicationSupport();
  if (!appendPathComponent.empty()) path += "/" + appendPathComponent;
  if (!makeDirectories(path, 0700, error)) return {};
  return path;
}

std::string Utilities::cacheRootPathFor(const std::string& userName) {
  return applicationSupportDirectory("Quillbox/" + userName + "/Cache", kAppSupportFailure);
}

std::string Utilities::cvbRootPathForAccount(const std::string& userName) {
  return applicationSupportDirectory("Quillbox/" + userName + "/CVB", kAppSupportFailure);
}

std::string Utilities::LogFilePath() { return applicationSupportDirectory("Quillbox/LogDirectory", kAppSupportFailure); }

std::string Utilities::renamingsLog() {
  return applicationSupportDirectory("Quillbox/rns", "Unable to find or create rns directory:\n%s");
}

std::string Utilities::driveMountDirectory() { return Paths::current().mountDirectory(); }

std::string Utilities::driveRootPathFor(const std::string& driveName) {
  return driveMountDirectory() + "/" + driveName;
}

std::string Utilities::appVersion() { return GREYFOX_VERSION; }

const std::string& Utilities::appRuntimeIdentifier() {
  static std::once_flag once;
  static std::string identifier;
  std::call_once(once, [] {
    unsigned char b[16];
    if (RAND_bytes(b, sizeof b) != 1) {
      // No entropy from OpenSSL: fall back to time and address bits, still unique per run.
      std::uint64_t seed = static_cast<std::uint64_t>(std::time(nullptr)) ^ reinterpret_cast<std::uintptr_t>(&b);
      for (unsigned char& c : b) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        c = static_cast<unsigned char>(seed >> 56);
      }
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    identifier = text;
  });
  return identifier;
}

std::string Utilities::md5HexDigest(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0x0f];
  }
  return out;
}

std::uint64_t Utilities::getFreeDiskSpaceOnThisMac() {
  std::string path;
  if (const char* root = std::getenv("GREYFOX_ROOT"); root && *root) {
    path = Paths::current().applicationSupport();
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    path = home;
  } else {
    path = Paths::current().applicationSupport();
  }
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

std::string Utilities::humanReadableFileType(const std::string&) { return "File"; }

std::string Utilities::dateToStr(double secondsSince1970) {
  std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  if (!::localtime_r(&t, &local)) return {};
  char text[64];
  size_t n = std::strftime(text, sizeof text, "%d/%m/%Y %I:%M:%S %p", &local);
  return std::string(text, n);
}

void Utilities::setFileSystemChangedHook(FileSystemChangedHook hook) {
  std::lock_guard lock(hooks().mutex);
  hooks().changed = std::move(hook);
}

void Utilities::setDriveRootPathProvider(DriveRootPathProvider provider) {
  std::lock_guard lock(hooks().mutex);
  hooks().driveRoot = std::move(provider);
}

void Utilities::fireFinderSyncEventAt(const std::string& absolutePath) {
  FileSystemChangedHook hook;
  {
    std::lock_guard lock(hooks().mutex);
    hook = hooks().changed;
  }
  if (hook) hook(absolutePath);
}

void Utilities::fireFinderSyncEventAtRelativePath(const std::string& relativePath) {
  DriveRootPathProvider provider;
  {
    std::lock_guard lock(hooks().mutex);
    provider = hooks().driveRoot;
  }
  std::string root = provider ? provider() : std::string();
  if (root.empty()) return;
  fireFinderSyncEventAt(root + relativePath);
}

void Utilities::fireFinderSyncEventAtRelativePathArray(const std::vector<std::string>& relativePaths) {
  std::set<std::string> fired;
  for (const auto& path : relativePaths) {
    if (fired.insert(path).second) fireFinderSyncEventAtRelativePath(path);
  }
}

void Utilities::presentError(const ErrorPtr& error, std::optional<std::string> title) {
  RunLoop::main().post([error, title = std::move(title)] { presentErrorInCurrentQueue(error, title); });
}

std::string Utilities::errorMessageBody(const ErrorPtr& error) {
  std::string body;
  for (const Error* e = error.get(); e; e = e->underlying.get()) {
    auto description = e->description();
    auto reason = e->failureReason();
    auto debug = e->debugDescription();
    if (!description && !reason && !debug) {
      body += "- Unknown error [" + std::to_string(e->code) + "]\n";
      continue;
    }
    const std::string* shown;
    if (description && reason && *reason != *description) {
      shown = &*reason;
    } else if (description) {
      shown = &*description;
    } else if (reason) {
      shown = &*reason;
    } else {
      shown = &*debug;
    }
    body += "- " + *shown + " [" + std::to_string(e->code) + "]\n";
  }
  if (body.empty()) body = "- Unknown error ((null))";
  return body;
}

void Utilities::presentErrorInCurrentQueue(const ErrorPtr& error, std::optional<std::string> title) {
  long code = error ? error->code : 0;
  double now = Clock::current().now();
  {
    auto& table = errorTable();
    std::lock_guard lock(table.mutex);
    auto it = table.lastShown.find(code);
    // A wall clock set back makes the age negative; that must not hide the
    // code until the clock catches up.
    if (it != table.lastShown.end()) {
      double age = now - it->second;
      if (age >= 0 && age < Timings::current().errorDisplayInterval) return;
    }
    table.lastShown[code] = now;
  }
  std::string text = title.value_or("Error") + ":\n" + errorMessageBody(error);
  QBLOG("%s", text.c_str());
  UIPort::shared().presentError(text);
}

std::optional<std::string> QBUIUtilities::getSizeFormattedStr(std::int64_t bytes) {
  if (bytes < 0) return std::nullopt;
  if (bytes == 0) return std::string("0 bytes");
  if (bytes < 1000) return format("%" PRId64 " bytes", bytes);
  if (bytes < 1000000) return format("%.1f KB", static_cast<double>(static_cast<float>(bytes) / 1000.0f));
  if (bytes < 1000000000) return format("%.2f MB", static_cast<double>(bytes) / 1e6);
  return format("%.2f GB", static_cast<double>(bytes) / 1e9);
}

std::string QBUIUtilities::formatStorageInfo(std::int64_t storageUsed, std::int64_t storageMaxMiB, bool isUnlimited) {
  std::string used = getSizeFormattedStr(storageUsed).value_or("(null)");
  if (isUnlimited) return used + " used | Unlimited";
  // Saturates rather than overflowing on an absurd maximum from the service.
  constexpr std::int64_t kLargestMiB = INT64_MAX >> 20;
  std::int64_t maxBytes = storageMaxMiB > kLargestMiB ? INT64_MAX : storageMaxMiB * 1048576;
  std::string max = getSizeFormattedStr(maxBytes).value_or("(null)");
  return used + " of " + max + " used";
}

}  // namespace greyfox
