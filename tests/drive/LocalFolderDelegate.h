// A file-system delegate that serves a local folder, for driving the FUSE
// adapter in tests and benchmarks. It records what reached it (opens with
// their flags and requesting process, creates, writes, moves, releases) and
// can be told to fail or throw for a path.
//
// Thread-safe: the adapter calls it from several threads at once.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "drive/QBFileSystemDelegate.h"

namespace greyfox::test {

class LocalFolderDelegate : public QBFileSystemDelegate {
 public:
  struct Open {
    std::string path;
    int mode = 0;
    pid_t pid = 0;
  };
  struct Create {
    std::string path;
    int flags = 0;
    unsigned permissions = 0;
  };

  explicit LocalFolderDelegate(std::string root) : root_(std::move(root)) {}

  // Every callback on `path` fails with `errnum` (0 clears).
  void failPath(const std::string& path, int errnum);
  // Every callback on `path` throws.
  void throwOnPath(const std::string& path);
  // Called inside each successful move callback.
  void setAfterMove(std::function<void(const std::string&, const std::string&)> hook);

  std::vector<Open> opens() const;
  std::vector<Create> creates() const;
  std::vector<std::string> moves() const;
  std::vector<std::string> removals() const;
  std::vector<std::string> releases() const;
  std::size_t writtenBytes() const;

  std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                   ErrorPtr* error) override;
  std::optional<QBItemAttributes> attributesOfItemAtPath(const std::string& path, const QBFileHandlePtr& userData,
                                                        ErrorPtr* error) override;
  std::optional<QBFileSystemAttributes> attributesOfFileSystemForPath(const std::string& path,
                                                                     ErrorPtr* error) override;
  bool openFileAtPath(const std::string& path, int mode, QBFileHandlePtr* userData, ErrorPtr* error) override;
  long readFileAtPath(const std::string& path, const QBFileHandlePtr& userData, char* buffer, std::size_t size,
                      off_t offset, ErrorPtr* error) override;
  long writeFileAtPath(const std::string& path, const QBFileHandlePtr& userData, const char* buffer,
                       std::size_t size, off_t offset, ErrorPtr* error) override;
  void releaseFileAtPath(const std::string& path, const QBFileHandlePtr& userData) override;
  bool createFileAtPath(const std::string& path, const QBItemAttributes& attributes, int flags,
                        QBFileHandlePtr* userData, ErrorPtr* error) override;
  bool createDirectoryAtPath(const std::string& path, const QBItemAttributes& attributes, ErrorPtr* error) override;
  bool removeItemAtPath(const std::string& path, ErrorPtr* error) override;
  bool removeDirectoryAtPath(const std::string& path, ErrorPtr* error) override;
  bool moveItemAtPath(const std::string& source, const std::string& destination, unsigned options,
                      ErrorPtr* error) override;
  bool setAttributes(const QBAttributeChanges& attributes, const std::string& path, const QBFileHandlePtr& userData,
                     ErrorPtr* error) override;
  std::optional<std::vector<std::string>> extendedAttributesOfItemAtPath(const std::string& path,
                                                                        ErrorPtr* error) override;
  std::optional<std::string> valueOfExtendedAttribute(const std::string& name, const std::string& path,
                                                      std::uint64_t position, ErrorPtr* error) override;
  bool setExtendedAttribute(const std::string& name, const std::string& path, const std::string& value,
                            std::uint64_t position, int options, ErrorPtr* error) override;
  bool removeExtendedAttribute(const std::string& name, const std::string& path, ErrorPtr* error) override;

 private:
  // False (with the error filled) when `path` was told to fail; throws when
  // it was told to throw.
  bool admit(const std::string& path, ErrorPtr* error) const;
  std::string local(const std::string& path) const { return root_ + path; }
  bool openLocal(const std::string& path, int flags, unsigned permissions, QBFileHandlePtr* userData,
                 ErrorPtr* error);

  const std::string root_;
  mutable std::mutex mutex_;
  std::map<std::string, int> failures_;                                  // guarded by mutex_
  std::set<std::string> throwing_;                                       // guarded by mutex_
  std::vector<Open> opens_;                                              // guarded by mutex_
  std::vector<Create> creates_;                                          // guarded by mutex_
  std::vector<std::string> moves_, removals_, releases_;                 // guarded by mutex_
  std::size_t writtenBytes_ = 0;                                         // guarded by mutex_
  std::function<void(const std::string&, const std::string&)> afterMove_;  // guarded by mutex_
  std::map<std::string, std::map<std::string, std::string>> xattrs_;     // guarded by mutex_
};

}  // namespace greyfox::test
