#include "drive/QBDriveFS.h"

#include <fcntl.h>

#include <execinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "cache/QBCacheController.h"
#include "content/QBBackgroundFolderUpdateController.h"
#include "content/QBContentController.h"
#include "content/QBTmpController.h"
#include "content/VolumePath.h"
#include "diag/Log.h"
#include "diag/Utilities.h"
#include "drive/QBSatellitesController.h"
#include "items/QBAccountItems.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"
#include "transfer/QBReadaheadController.h"

namespace greyfox {

namespace {

// The handle of a read-only open of a service file. The kernel may send
// reads of one open at once; the buffer serves one at a time.
struct ReadaheadHandle : QBFileHandle {
  ReadaheadHandle(const std::string& path, std::shared_ptr<QBContentController> content)
      : readahead(path, std::move(content)) {}
  std::mutex mutex;
  QBReadaheadController readahead;  // guarded by mutex
};

// The handle of a read-only open of a local-only (staged) file.
struct StagedHandle : QBFileHandle {};

constexpr std::uint64_t kUnlimitedVolumeSize = 1024000000000000ULL;

QBItemAttributes folderAttributes(double date) {
  QBItemAttributes a;
  a.type = QBFileType::directory;
  a.permissions = 0755;
  a.modificationDate = a.creationDate = date;
  return a;
}

std::optional<QBItemAttributes> attributesOfEntry(const QBContentItemPtr& entry) {
  if (auto file = std::dynamic_pointer_cast<QBFileItem>(entry)) {
    QBItemAttributes a;
    a.type = QBFileType::regular;
    a.size = static_cast<std::uint64_t>(std::max<int64_t>(file->size.value_or(0), 0));
    a.permissions = 0755;
    a.modificationDate = a.creationDate = file->dateModified.value_or(0);
    return a;
  }
  if (auto folder = std::dynamic_pointer_cast<QBFolderItem>(entry)) return folderAttributes(folder->dateModified.value_or(0));
  return std::nullopt;
}

QBItemAttributes attributesOfStat(const struct stat& st) {
  QBItemAttributes a;
  a.type = S_ISDIR(st.st_mode) ? QBFileType::directory : QBFileType::regular;
  a.size = static_cast<std::uint64_t>(st.st_size);
  a.permissions = st.st_mode & 07777;
  a.modificationDate = static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9;
  a.creationDate = static_cast<double>(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1e9;
  return a;
}

ErrorPtr newDisplayError(long code, const std::string& description) {
  return makeError("NSError", code, description, nullptr, {{kDescriptionKey, description}});
}

}  // namespace

QBDriveFS::QBDriveFS(QBDriveFSParts parts) : parts_(std::move(parts)) {}

std::shared_ptr<QBContentController> QBDriveFS::content() const {
  return parts_.content ? parts_.content : QBContentController::sharedController();
}
std::shared_ptr<QBTmpController> QBDriveFS::staging() const {
  return parts_.staging ? parts_.staging : QBTmpController::sharedController();
}
std::shared_ptr<QBBackgroundFolderUpdateController> QBDriveFS::background() const {
  return parts_.background ? parts_.background : QBBackgroundFolderUpdateController::sharedController();
}
std::shared_ptr<QBSatellitesController> QBDriveFS::satellites() const {
  return parts_.satellites ? parts_.satellites : QBSatellitesController::sharedController();
}

// --- Errors ---

QBDriveFS::Presentation QBDriveFS::presentationOf(const ErrorPtr& error) {
  switch (error->code) {
    case -1000:
    case -998:
      return {newDisplayError(501, "Item not found"), std::nullopt, "not found"};
    case -1003:
      return {newDisplayError(502, "Secure folder ID required. Please go to secure folder using Finder."),
              std::nullopt, "encryption key not found"};
    case -200:
      return {error, std::string("Network error"), "network"};
    case -197:
      return {error, std::string("Server error"), "server"};
    case -199:
    case -198:
    case 1000:
      return {newDisplayError(1000, error->failureReason().value_or("")), std::nullopt, "client"};
    default:
      return {error, std::nullopt, "???"};
  }
}

void QBDriveFS::displayQBError(const ErrorPtr& error) {
  if (!error) return;
  Presentation p = presentationOf(error);
  QBLOG("display error - %s (%s [%ld])", p.kind, error->message().c_str(), error->code);
  Utilities::presentError(p.error, p.title);
  void* frames[32];
  int count = backtrace(frames, 32);
  std::string trace;
  if (char** symbols = backtrace_symbols(frames, count)) {
    for (int i = 0; i < count; ++i) trace += std::string("\n") + symbols[i];
    std::free(symbols);
  }
  QBLOG("trace: %s", trace.c_str());
  QBLOG_SUCCINCT("-------------------------------------------\n");
}

bool QBDriveFS::fillPosixError(ErrorPtr* error, bool shouldDisplay) {
  if (!error) return false;
  if (shouldDisplay && *error) displayQBError(*error);
  int errnum = *error && (*error)->code == -1000 ? ENOENT : EIO;
  *error = nullptr;
  setPOSIXError(error, errnum);
  return false;
}

// --- Listings and attributes ---

std::optional<std::vector<std::string>> QBDriveFS::contentsOfDirectoryAtPath(const std::string& path,
                                                                             ErrorPtr* error) {
  if (error) *error = nullptr;
  auto controller = content();
  if (!controller) {
    setQBError(error, -199, "No session.");
    fillPosixError(error);
    return std::nullopt;
  }
  auto updater = background();
  const bool locked = updater && updater->tryLockFor(path);
  std::optional<std::vector<std::string>> names;
  auto listing = controller->listFolderAt(path, error);
  if (listing) {
    if (updater) updater->updateFolderListing(listing);
    if (!std::dynamic_pointer_cast<QBStubFolderListItem>(listing)) names = listing->itemNames();
  }
  if (locked) updater->unlockFor(path);
  if (!names) {
    fillPosixError(error);
    return std::nullopt;
  }
  return names;
}

std::optional<QBItemAttributes> QBDriveFS::attributesOfItemAtPath(const std::string& rawPath,
                                                                  const QBFileHandlePtr& /*userData*/,
                                                                  ErrorPtr* error) {
  auto controller = content();
  if (!controller) {
    setQBError(error, -199, "No session.");
    fillPosixError(error, false);
    return std::nullopt;
  }
  const std::string path = standardizedPath(rawPath);
  if (path == "/" || path.empty()) {
    auto root = controller->listFolderAt("/", error);
    if (!root) {
      fillPosixError(error, false);
      return std::nullopt;
    }
    return folderAttributes(static_cast<double>(root->updateTime.value_or(0)));
  }
  const std::string parent = parentPath(path);
  std::shared_ptr<QBFolderListItem> listing;
  if (controller->isSecureFolder(path)) {
    // No service call inside a secure folder, so no password is asked for.
    if (auto cache = QBCacheController::sharedController()) listing = cache->fetchFolderListAt(parent);
  } else {
    ErrorPtr listError;
    listing = controller->listFolderAt(parent, &listError);
    if (!listing && !QBTmpController::shouldIncludePath(path)) {
      if (error) *error = listError;
      fillPosixError(error, false);
      return std::nullopt;
    }
  }
  QBContentItemPtr entry = listing ? listing->itemNamed(lastComponent(path)) : nullptr;
  if (!entry) {
    auto stage = staging();
    if (stage && stage->fileExistsAt(path)) {
      auto st = stage->attributesOfItemAt(path, error);
      if (st) return attributesOfStat(*st);
      fillPosixError(error, false);
      return std::nullopt;
    }
    setPOSIXError(error, ENOENT);
    return std::nullopt;
  }
  auto attributes = attributesOfEntry(entry);
  if (!attributes) setPOSIXError(error, ENOENT);
  return attributes;
}

std::optional<QBFileSystemAttributes> QBDriveFS::attributesOfFileSystemForPath(const std::string& /*path*/,
                                                                               ErrorPtr* error) {
  auto controller = content();
  auto info = controller ? controller->userInfoWithError(error) : nullptr;
  if (!info) {
    if (!controller) setQBError(error, -199, "No session.");
    fillPosixError(error);
    return std::nullopt;
  }
  QBFileSystemAttributes a;
  a.totalSize = info->isUnlimited()
                    ? kUnlimitedVolumeSize
                    : static_cast<std::uint64_t>(std::max<int64_t>(info->storageMax.value_or(0), 0)) << 20;
  const auto used = static_cast<std::uint64_t>(std::max<int64_t>(info->storageUsed.value_or(0), 0));
  // More used than the plan holds (a plan made smaller): nothing is free.
  a.freeSize = used < a.totalSize ? a.totalSize - used : 0;
  return a;
}

// --- Opening, reading, releasing ---

bool QBDriveFS::openFileAtPath(const std::string& path, int mode, QBFileHandlePtr* userData, ErrorPtr* error) {
  if ((mode & O_ACCMODE) != O_RDONLY) return QBFileSystemDelegate::openFileAtPath(path, mode, userData, error);
  auto filter = satellites();
  QBCallingProcessClass caller = filter ? filter->testCallingProcess() : QBCallingProcessOrdinary;
  switch (caller) {
    case QBCallingProcessSystemService:
      QBLOG("Refused read-only open of %s by a system service", path.c_str());
      setPOSIXError(error, EACCES);
      return false;
    case QBCallingProcessThumbnail:
      if (!filter->openThumbnailAt(path)) {
        setPOSIXError(error, EACCES);
        return false;
      }
      *userData = filter;
      return true;
    case QBCallingProcessOrdinary:
      break;
  }
  if (QBTmpController::shouldIncludePath(path)) {
    auto stage = staging();
    if (!stage || !stage->fileExistsAt(path)) {
      setPOSIXError(error, ENOENT);
      return false;
    }
    *userData = std::make_shared<StagedHandle>();
    return true;
  }
  auto controller = content();
  if (!controller) {
    setQBError(error, -199, "No session.");
    return fillPosixError(error);
  }
  *userData = std::make_shared<ReadaheadHandle>(path, parts_.content);
  return true;
}

std::optional<std::string> QBDriveFS::readOnce(const std::string& path, const QBFileHandlePtr& handle,
                                               std::uint64_t offset, std::size_t size, bool* atEnd,
                                               ErrorPtr* error) {
  *atEnd = false;
  if (auto thumbnails = std::dynamic_pointer_cast<QBSatellitesController>(handle)) {
    QBLOG("COLLIERS 1");
    auto data = thumbnails->readThumbnailAt(path, offset, size, error);
    if (data && data->empty()) *atEnd = true;
    return data;
  }
  if (std::dynamic_pointer_cast<StagedHandle>(handle)) {
    QBLOG("COLLIERS 2");
    auto stage = staging();
    auto data = stage ? stage->readFileAt(path, offset, size, error) : std::nullopt;
    if (!data && !stage) setQBError(error, -1000, "File not found!");
    if (data && data->empty()) *atEnd = true;
    return data;
  }
  auto reader = std::dynamic_pointer_cast<ReadaheadHandle>(handle);
  if (!reader) {
    setPOSIXError(error, EBADF);
    return std::nullopt;
  }
  QBLOG("COLLIERS 3");
  std::optional<std::string> data;
  {
    std::lock_guard lock(reader->mutex);
    data = reader->readahead.request(offset, size);
  }
  if (data && !data->empty()) return data;
  // An empty answer is the file's end or a buffer that could not be filled
  // in time; the listed size tells which.
  auto controller = content();
  ErrorPtr ignored;
  auto file = controller ? std::dynamic_pointer_cast<QBFileItem>(controller->minimalItemInfoAt(path, &ignored))
                         : nullptr;
  if (file && offset >= static_cast<std::uint64_t>(std::max<int64_t>(file->size.value_or(0), 0))) {
    *atEnd = true;
    return std::string();
  }
  if (data) {
    setQBError(error, -1, "Reading the file timed out.");
    return std::nullopt;
  }
  // The buffer keeps no error of its own: one direct read brings the bytes
  // after all, or the cause of the failure for the user.
  if (!controller) {
    setQBError(error, -199, "No session.");
    return std::nullopt;
  }
  return controller->readFileAt(path, offset, size, error);
}

long QBDriveFS::readFileAtPath(const std::string& path, const QBFileHandlePtr& userData, char* buffer,
                               std::size_t size, off_t offset, ErrorPtr* error) {
  if (offset < 0) {
    setPOSIXError(error, EINVAL);
    return -1;
  }
  const bool isThumbnail = std::dynamic_pointer_cast<QBSatellitesController>(userData) != nullptr;
  const auto at = static_cast<std::uint64_t>(offset);
  bool atEnd = false;
  std::optional<std::string> data = readOnce(path, userData, at, size, &atEnd, error);
  const Timings& timings = Timings::current();
  for (int attempt = 1; !atEnd && (!data || data->empty()) && attempt <= 3; ++attempt) {
    QBLOG("Sleep 5 in readFile in %p", static_cast<void*>(&RunLoop::current()));
    Clock::current().sleepFor(timings.readRetryPause);
    QBLOG("Slept 5 in readFile in %p", static_cast<void*>(&RunLoop::current()));
    if (error) *error = nullptr;
    data = readOnce(path, userData, at, size, &atEnd, error);
    if (data && !data->empty()) {
      QBLOG("Broke out of readFile loop with success on %i in %p", attempt, static_cast<void*>(&RunLoop::current()));
    }
  }
  if (atEnd) return 0;
  if (!data || data->empty()) {
    fillPosixError(error, !isThumbnail);
    return -1;
  }
  const std::size_t n = std::min(size, data->size());
  std::memcpy(buffer, data->data(), n);
  return static_cast<long>(n);
}

}  // namespace greyfox
