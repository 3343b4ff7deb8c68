// The staging area: a local folder tree that mirrors the volume's paths.
//
// It holds copies of service files while they are written (uploaded whole
// when closed) and the files that never go to the service: any path one of
// whose components contains ".DS_Store", ".MACOSX_XATTRS" or ".localized".
// The staged copy of volume path P is the staging root followed by P.
//
// The root is a directory only the user can use (0700); a root that is a
// symbolic link or belongs to someone else is refused. Operations take no
// locks and may be called from any thread; each is one short file operation.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"

namespace greyfox {

class QBTmpController {
 public:
  // Wipes `rootPath` and makes it again; on failure answers nullptr with the
  // error "Failed to create tmp directory at <root>" and keeps the shared
  // instance as it was. On success the new controller becomes the shared one.
  static std::shared_ptr<QBTmpController> initSharedController(const std::string& rootPath, ErrorPtr* error);
  // The instance of the running session; nullptr before the first sign-in.
  static std::shared_ptr<QBTmpController> sharedController();

  const std::string& rootPath() const { return root_; }

  // Local-only paths: a component contains ".DS_Store", ".MACOSX_XATTRS" or ".localized".
  static bool shouldIncludePath(const std::string& path);

  bool fileExistsAt(const std::string& path) const;
  std::string tempPathFor(const std::string& path) const;
  // An empty staged file, replacing an existing one.
  bool createFileAt(const std::string& path, ErrorPtr* error);
  // The staged file becomes a copy of `sourcePath` (an absolute local path).
  bool createFileAt(const std::string& path, const std::string& sourcePath, ErrorPtr* error);
  bool removeFileAt(const std::string& path, ErrorPtr* error);
  // Removes the staged file or folder with its contents.
  bool removeItemAt(const std::string& path, ErrorPtr* error);
  // The destination's parent must already exist in the mirror.
  bool moveFileAt(const std::string& from, const std::string& to, ErrorPtr* error);
  bool createDirectoryAt(const std::string& path, ErrorPtr* error);
  bool removeDirectoryAt(const std::string& path, ErrorPtr* error);
  // At most `size` bytes from `offset`; nullopt when the staged file does not exist.
  std::optional<std::string> readFileAt(const std::string& path, std::uint64_t offset, std::uint64_t size,
                                        ErrorPtr* error);
  // Writes into the existing staged file, overwriting and extending it (never
  // truncating). Answers true without writing when the file does not exist.
  bool writeFileAt(const std::string& path, std::uint64_t offset, const std::string& data, ErrorPtr* error);
  std::optional<struct stat> attributesOfItemAt(const std::string& path, ErrorPtr* error);
  // Sets the permission bits and, when given, the modification time and size.
  bool setAttributes(const std::string& path, std::optional<mode_t> mode, std::optional<double> modified,
                     std::optional<std::uint64_t> size, ErrorPtr* error);
  // True when the staged path lists no entries (also for a file or a missing path).
  bool isEmptyDirectory(const std::string& path) const;
  // Removes every file and empty folder directly inside the staged folder;
  // non-empty subfolders stay.
  void cleanupDirectory(const std::string& path);

 private:
  explicit QBTmpController(std::string root) : root_(std::move(root)) {}
  // Makes the staged path's parent folders, ignoring failures.
  void prepareParent(const std::string& path) const;

  const std::string root_;
};

}  // namespace greyfox
