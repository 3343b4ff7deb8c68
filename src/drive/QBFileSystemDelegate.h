// The callbacks a mounted volume answers: QBUserFileSystem (the libfuse
// adapter) turns every kernel request on the volume into one of these calls.
//
// Callbacks arrive on libfuse's worker threads, several at once, so an
// implementation must be thread-safe. Paths are volume paths ("/" is the
// volume root). Each callback that can fail takes an `ErrorPtr* error` last
// and answers failure (nullopt, false or -1); an error of kPOSIXErrorDomain
// reaches the calling program as that error number, any other error (or none)
// as EIO. An exception that escapes a callback is logged and answered with
// EIO. The base class answers every callback with ENOSYS ("not supported"),
// so an implementation overrides what it serves (an unsupported
// getxattr/listxattr/setxattr/removexattr then stays unsupported for the
// rest of the mount).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"

namespace greyfox {

// Errors whose code is an errno value.
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";

// Fills `error` (when non-null) with a kPOSIXErrorDomain error of `errnum`.
void setPOSIXError(ErrorPtr* error, int errnum);
// The errno value that reaches the calling program for `error`: its code for
// a POSIX-domain error with a positive code, EIO for anything else.
int posixCodeOf(const ErrorPtr& error);

enum class QBFileType { regular, directory, symbolicLink };

// What a listing shows of an item. Dates are seconds since 1970.
struct QBItemAttributes {
  QBFileType type = QBFileType::regular;
  std::uint64_t size = 0;
  unsigned permissions = 0755;      // permission bits only
  double modificationDate = 0;      // st_mtime and st_atime
  double creationDate = 0;          // st_ctime (the nearest field the kernel keeps)
};

// Total and free bytes of the volume.
struct QBFileSystemAttributes {
  std::uint64_t totalSize = 0;
  std::uint64_t freeSize = 0;
};

// The changes of one setattr request; an empty field is left as it is.
struct QBAttributeChanges {
  std::optional<std::uint64_t> size;
  std::optional<unsigned> permissions;
  std::optional<uid_t> owner;
  std::optional<gid_t> group;
  std::optional<double> modificationDate;
  std::optional<double> accessDate;
};

// The per-open user data: what an open or create hands back comes back to
// read, write, attribute calls and release of that open. Derive from it.
class QBFileHandle {
 public:
  virtual ~QBFileHandle() = default;
};
using QBFileHandlePtr = std::shared_ptr<QBFileHandle>;

class QBFileSystemDelegate {
 public:
  virtual ~QBFileSystemDelegate() = default;

  // The names in the folder without "." and ".." (the adapter adds them).
  virtual std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                           ErrorPtr* error);
  // The item's attributes. `userData` is the open's handle when the request
  // comes through an open file (fstat), else null.
  virtual std::optional<QBItemAttributes> attributesOfItemAtPath(const std::string& path,
                                                                const QBFileHandlePtr& userData,
                                                                ErrorPtr* error);
  virtual std::optional<QBFileSystemAttributes> attributesOfFileSystemForPath(const std::string& path,
                                                                             ErrorPtr* error);

  // Opens an existing file. `mode` holds the open(2) flags the program gave
  // (the kernel's own O_LARGEFILE removed), so a plain read-only open is 0;
  // test `mode & O_ACCMODE` for the access. True and a handle in *userData
  // (it may stay null) on success; release follows every successful open.
  virtual bool openFileAtPath(const std::string& path, int mode, QBFileHandlePtr* userData, ErrorPtr* error);
  // Places up to `size` bytes from `offset` into `buffer`: the count placed
  // (0 at the end of the file), or -1.
  virtual long readFileAtPath(const std::string& path, const QBFileHandlePtr& userData, char* buffer,
                              std::size_t size, off_t offset, ErrorPtr* error);
  // Takes `size` bytes at `offset`: the count taken, or -1.
  virtual long writeFileAtPath(const std::string& path, const QBFileHandlePtr& userData, const char* buffer,
                               std::size_t size, off_t offset, ErrorPtr* error);
  // Once per successful open or create, when the last descriptor of that open
  // closes. `path` is "" when the file was removed while open.
  virtual void releaseFileAtPath(const std::string& path, const QBFileHandlePtr& userData);

  // Creates and opens a file (open(2) with O_CREAT, and mknod(2) of a regular
  // file, which arrives as O_CREAT | O_EXCL | O_WRONLY and an immediate
  // release); `flags` as for openFileAtPath. True and a handle on success;
  // release follows. The base class forwards to the variant without flags.
  virtual bool createFileAtPath(const std::string& path, const QBItemAttributes& attributes, int flags,
                                QBFileHandlePtr* userData, ErrorPtr* error);
  // Creates and opens a file when the open flags do not matter.
  virtual bool createFileAtPath(const std::string& path, const QBItemAttributes& attributes,
                                QBFileHandlePtr* userData, ErrorPtr* error);
  virtual bool createDirectoryAtPath(const std::string& path, const QBItemAttributes& attributes,
                                     ErrorPtr* error);
  virtual bool removeItemAtPath(const std::string& path, ErrorPtr* error);
  virtual bool removeDirectoryAtPath(const std::string& path, ErrorPtr* error);
  // `options` holds rename(2)'s flags (RENAME_NOREPLACE, RENAME_EXCHANGE).
  virtual bool moveItemAtPath(const std::string& source, const std::string& destination, unsigned options,
                              ErrorPtr* error);
  // chmod, chown, truncate and utimes; `userData` as for attributesOfItemAtPath.
  virtual bool setAttributes(const QBAttributeChanges& attributes, const std::string& path,
                             const QBFileHandlePtr& userData, ErrorPtr* error);
  virtual bool createSymbolicLinkAtPath(const std::string& path, const std::string& destination,
                                        ErrorPtr* error);
  virtual bool linkItemAtPath(const std::string& path, const std::string& toPath, ErrorPtr* error);

  // Extended attributes. A value that fails without an error is a missing
  // attribute (ENODATA to the caller).
  virtual std::optional<std::vector<std::string>> extendedAttributesOfItemAtPath(const std::string& path,
                                                                                ErrorPtr* error);
  // The value from `position` to its end.
  virtual std::optional<std::string> valueOfExtendedAttribute(const std::string& name, const std::string& path,
                                                              std::uint64_t position, ErrorPtr* error);
  // `options` holds setxattr(2)'s flags (XATTR_CREATE, XATTR_REPLACE).
  virtual bool setExtendedAttribute(const std::string& name, const std::string& path, const std::string& value,
                                    std::uint64_t position, int options, ErrorPtr* error);
  virtual bool removeExtendedAttribute(const std::string& name, const std::string& path, ErrorPtr* error);
};

}  // namespace greyfox
