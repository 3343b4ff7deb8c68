// Class-level helpers that every layer calls: per-user directories under the
// application-data directory, the mount location, the application version and
// run identifier, the MD5 digest used for cache file names, free disk space,
// telling the file manager that a path changed, and showing an error to the
// user. QBUIUtilities formats sizes and the storage line for display.
//
// Every member is safe to call from any thread. The only state is process-wide:
// the run identifier, the error display table and the two hooks the volume
// installs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace greyfox {

class Utilities {
 public:
  using FileSystemChangedHook = std::function<void(const std::string& absolutePath)>;
  using DriveRootPathProvider = std::function<std::string()>;

  // --- Directories (all under Paths::current().applicationSupport()) ---

  // Makes "<application data>/<appendPathComponent>" with its missing parents
  // and answers its absolute path; an empty component answers the
  // application-data directory itself. On failure answers "" and fills
  // `error`.
  static std::string findOrCreateDirectory(const std::string& appendPathComponent, ErrorPtr* error);
  // "Quillbox/<userName>/Cache", created on demand; "" (logged) on failure.
  static std::string cacheRootPathFor(const std::string& userName);
  // "Quillbox/<userName>/CVB", created on demand; "" (logged) on failure.
  static std::string cvbRootPathForAccount(const std::string& userName);
  // "Quillbox/LogDirectory", created on demand; "" (logged) on failure.
  static std::string LogFilePath();
  // "Quillbox/rns", created on demand; "" (logged) on failure.
  static std::string renamingsLog();
  // The directory drives are mounted in.
  static std::string driveMountDirectory();
  // "<mount directory>/<driveName>".
  static std::string driveRootPathFor(const std::string& driveName);

  // --- Identity ---

  // The version the build was made as ("0.1.0").
  static std::string appVersion();
  // A random UUID string made on first use and unchanged for the life of the
  // process.
  static const std::string& appRuntimeIdentifier();
  // MD5 of the bytes as 32 lower-case hexadecimal digits.
  static std::string md5HexDigest(std::string_view bytes);

  // --- Local machine ---

  // Free bytes of the file system holding the home directory (the
  // application-data directory when GREYFOX_ROOT is set); 0 when unknown.
  static std::uint64_t getFreeDiskSpaceOnThisMac();
  // The kind of a file for the properties window; this platform has no kind
  // strings, so always "File".
  static std::string humanReadableFileType(const std::string& path);
  // Local time of `secondsSince1970` as "dd/mm/YYYY hh:MM:SS AM".
  static std::string dateToStr(double secondsSince1970);

  // --- File-manager refresh ---

  // Installs the call that tells the kernel and file managers that a path
  // changed (the volume installs it when mounted); nullptr removes it.
  static void setFileSystemChangedHook(FileSystemChangedHook hook);
  // Installs the source of the mounted drive's root path, used to make
  // volume-relative paths absolute; nullptr removes it.
  static void setDriveRootPathProvider(DriveRootPathProvider provider);
  // Calls the hook with `absolutePath`; nothing when no hook is installed.
  static void fireFinderSyncEventAt(const std::string& absolutePath);
  // The same for a volume path ("/a/b"), prefixed with the drive root path;
  // nothing when no drive root is known.
  static void fireFinderSyncEventAtRelativePath(const std::string& relativePath);
  // Once for each distinct path, in the order given, skipping repeats.
  static void fireFinderSyncEventAtRelativePathArray(const std::vector<std::string>& relativePaths);

  // --- Errors ---

  // Shows the error on the main run loop (posted; returns at once). A null
  // title means "Error".
  static void presentError(const ErrorPtr& error, std::optional<std::string> title = std::nullopt);
  // Shows the error on the calling thread, unless an error of the same code
  // was shown less than Timings::errorDisplayInterval ago. The text, logged
  // and handed to UIPort::shared().presentError, is "<title>:\n" followed by
  // one line "- <reason> [<code>]" per error of the chain.
  static void presentErrorInCurrentQueue(const ErrorPtr& error, std::optional<std::string> title = std::nullopt);
  // The body of that text for `error` and its underlying errors.
  static std::string errorMessageBody(const ErrorPtr& error);
};

class QBUIUtilities {
 public:
  // "0 bytes", "<n> bytes", "<n.n> KB", "<n.nn> MB" or "<n.nn> GB" in decimal
  // units; nullopt for a negative count.
  static std::optional<std::string> getSizeFormattedStr(std::int64_t bytes);
  // "<used> used | Unlimited", or "<used> of <max> used" with the plan's
  // maximum given in mebibytes.
  static std::string formatStorageInfo(std::int64_t storageUsed, std::int64_t storageMaxMiB, bool isUnlimited);
};

}  // namespace greyfox
