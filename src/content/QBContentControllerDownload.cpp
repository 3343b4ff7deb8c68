// The download wait of QBContentController and the download lock table.
//
// Every read of a file's bytes goes through downloadFileAt: it reuses the
// download in flight, answers a cached copy that already holds the wanted
// bytes, or starts the one download of the file, and then waits until the
// wanted prefix is in the cache, the download fails or ends short, or the
// wait's bound passes. Waiters are woken by the download itself on every
// stored batch, failure and end, so a read returns as soon as its bytes land.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <typeinfo>

#include "cache/QBCacheController.h"
#include "content/QBContentController.h"
#include "content/QBDownloadStarter.h"
#include "content/VolumePath.h"
#include "diag/Log.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"

namespace greyfox {

// --- The lock table ---

QBDownloadLockTable& QBDownloadLockTable::shared() {
  static QBDownloadLockTable* table = new QBDownloadLockTable();  // never destroyed: main-loop callbacks may outlive statics
  return *table;
}

std::shared_ptr<QBBinaryDataDescriptorItem> QBDownloadLockTable::tryLock(const std::string& identifier) {
  std::lock_guard lock(monitor_);
  if (table_.count(identifier)) return nullptr;
  auto descriptor = std::make_shared<QBBinaryDataDescriptorItem>();
  descriptor->identifier = identifier;
  descriptor->completedBytes = 0;
  table_.emplace(identifier, descriptor);
  return descriptor;
}

std::shared_ptr<QBBinaryDataDescriptorItem> QBDownloadLockTable::lockedItem(const std::string& identifier) {
  std::lock_guard lock(monitor_);
  auto it = table_.find(identifier);
  return it == table_.end() ? nullptr : it->second;
}

void QBDownloadLockTable::unlock(const QBBinaryDataDescriptorItem& descriptor) {
  {
    std::lock_guard lock(monitor_);
    auto it = table_.find(descriptor.identifier);
    if (it != table_.end() && it->second.get() == &descriptor) table_.erase(it);
  }
  notify();
}

void QBDownloadLockTable::notify() {
  std::lock_guard lock(waitersMutex_);
  // A posted task (not a bare wake) cannot be lost between a waiter's test of
  // its condition and its sleep: the loop tests the condition after the task.
  for (RunLoop* loop : waiters_) loop->post([] {});
}

bool QBDownloadLockTable::waitUntil(double seconds, const std::function<bool()>& done) {
  RunLoop& loop = RunLoop::current();
  auto test = [&] {
    std::lock_guard lock(monitor_);
    return done();
  };
  std::multiset<RunLoop*>::iterator entry;
  {
    std::lock_guard lock(waitersMutex_);
    entry = waiters_.insert(&loop);
  }
  bool result = loop.runUntil(seconds, test);
  std::lock_guard lock(waitersMutex_);
  waiters_.erase(entry);
  return result;
}

// --- The installed starter ---

namespace {

std::mutex starterMutex;
std::shared_ptr<QBDownloadStarter> installedStarter;  // guarded by starterMutex

// The wait's view of a descriptor. REQUIRES: the table's monitor held.
bool isReadyFor(const QBBinaryDataDescriptorItem& d, int64_t bytes) {
  // A complete descriptor is ready for any count, also an empty file's.
  return d.isBytesReady(bytes) || d.isCompleted();
}

bool isSecureFolderRecord(const QBContentItemPtr& item) {
  if (auto folder = std::dynamic_pointer_cast<QBFolderItem>(item)) return folder->isEncrypted();
  if (auto listing = std::dynamic_pointer_cast<QBFolderListItem>(item)) return listing->isEncrypted();
  return false;
}

}  // namespace

std::shared_ptr<QBDownloadStarter> QBDownloadStarter::current() {
  std::lock_guard lock(starterMutex);
  return installedStarter;
}

void QBDownloadStarter::install(std::shared_ptr<QBDownloadStarter> starter) {
  std::lock_guard lock(starterMutex);
  installedStarter = std::move(starter);
}

// --- The download wait ---

std::shared_ptr<QBBinaryDataDescriptorItem> QBContentController::downloadFileAt(const std::string& rawPath,
                                                                                ErrorPtr* error) {
  return downloadFileAt(rawPath, std::numeric_limits<std::uint64_t>::max(), error);
}

std::shared_ptr<QBBinaryDataDescriptorItem> QBContentController::downloadFileAt(const std::string& rawPath,
                                                                                std::uint64_t wanted,
                                                                                ErrorPtr* error) {
  const std::string path = volumePath(rawPath);
  const auto bytes = static_cast<int64_t>(std::min<std::uint64_t>(wanted, std::numeric_limits<int64_t>::max()));
  std::optional<std::string> identifier = resolvedIdentifier(path, true, "File not found!", error);
  if (!identifier) return nullptr;

  QBDownloadLockTable& table = QBDownloadLockTable::shared();
  std::shared_ptr<QBBinaryDataDescriptorItem> descriptor;
  std::shared_ptr<QBBinaryDataDescriptorItem> started;  // ours to start
  bool cachedButShort = false;
  {
    // Deciding under the monitor keeps a download from starting between the
    // look at the table and the look at the cache.
    std::lock_guard lock(table.monitor());
    descriptor = table.lockedItem(*identifier);
    if (!descriptor) {
      auto cached = cache_->fetchBinaryDataDescriptor(*identifier);
      bool otherVersion = false;
      if (cached && cached->isCompleted() && !cached->encrypted) {
        // A complete copy whose size is not the file's listed size is of
        // another version of the file (changed within the date's slack).
        auto file = cache_->fetchFileItem(*identifier, path);
        if (file && file->size && *file->size != cached->completedBytes.value_or(0)) {
          QBLOG("Cached copy of %s holds %lld bytes, the file has %lld", path.c_str(),
                static_cast<long long>(cached->completedBytes.value_or(0)), static_cast<long long>(*file->size));
          otherVersion = true;
        }
      }
      if (cached && !otherVersion && isReadyFor(*cached, bytes)) {
        descriptor = cached;
      } else {
        cachedButShort = cached != nullptr;
        started = descriptor = table.tryLock(*identifier);
      }
    }
  }

  if (started) {
    // Whatever the cache holds of the file is stale or short: a new download
    // always starts at byte 0 in an empty data file.
    if (cachedButShort) QBLOG("Cache invalidated, purging it and re-downloading");
    cache_->purgeItemForcedWithKey(*identifier, QBBinaryDataDescriptorItem::kClassName);
    cache_->purgeBinaryDataForcedOf(*identifier);

    QBContentItemPtr parent = minimalItemInfoAt(parentPath(path), error);
    std::shared_ptr<QBApiClientContext> context = parent ? contextForPath(path, error) : nullptr;
    std::shared_ptr<QBDownloadStarter> starter = QBDownloadStarter::current();
    if (parent && context && !starter) setQBError(error, -1, "Downloads are not available.");
    if (!parent || !context || !starter) {
      table.unlock(*started);
      return nullptr;
    }
    {
      std::lock_guard lock(table.monitor());
      started->path = path;
      started->encrypted = isSecureFolderRecord(parent);
    }
    cache_->storeItem(started);
    QBLOG("Starting download of: %s (in %p)", started->description().c_str(), static_cast<void*>(&RunLoop::current()));
    // The cache keeps a file's bytes only while it holds the file's record
    // (a look-up by path alone leaves none): list the parent when it is
    // missing, so the record is the one that listing refreshes keep current.
    std::shared_ptr<QBFileItem> file = cache_->fetchFileItem(*identifier, path);
    if (!file) {
      listFolderAt(parentPath(path), nullptr);
      file = cache_->fetchFileItem(*identifier, path);
    }
    if (!file) {
      itemInfoAt(path, false, nullptr);
      file = cache_->fetchFileItem(*identifier, path);
    }
    std::optional<std::int64_t> expectedBytes;
    if (file && !started->encrypted) expectedBytes = file->size.value_or(0);
    if (!starter->startDownload(QBDownloadJob{started, context, expectedBytes, client_, cache_}, error)) return nullptr;
  }

  enum class Outcome { Waiting, Ready, Failed, Ended };
  ErrorPtr failure;
  auto outcome = [&] {  // REQUIRES: the table's monitor held
    if (isReadyFor(*descriptor, bytes)) return Outcome::Ready;
    if (descriptor->error) {
      failure = descriptor->error;
      return Outcome::Failed;
    }
    if (table.lockedItem(*identifier) != descriptor) return Outcome::Ended;
    return Outcome::Waiting;
  };
  const Timings& timings = Timings::current();
  const double deadline = Clock::current().monotonic() + timings.downloadWait;
  Outcome result;
  for (;;) {
    {
      std::lock_guard lock(table.monitor());
      result = outcome();
    }
    if (result != Outcome::Waiting) break;
    double left = deadline - Clock::current().monotonic();
    if (left <= 0) {
      setQBError(error, kContentErrorDownloadTimedOut, "Download timed out!");
      return nullptr;
    }
    QBLOG("sleep in downloadFileAt");
    table.waitUntil(std::min(left, timings.downloadWaitStep), [&] { return outcome() != Outcome::Waiting; });
  }

  switch (result) {
    case Outcome::Ready:
      return descriptor;
    case Outcome::Failed:
      QBLOG("Descriptor got an error: %s", failure->message().c_str());
      if (error) *error = failure;
      return nullptr;
    default: {
      std::lock_guard lock(table.monitor());
      QBLOG("Invalid file size. Requested %llu bytes, downloaded %lld/%lld.", static_cast<unsigned long long>(wanted),
            static_cast<long long>(descriptor->completedBytes.value_or(0)),
            static_cast<long long>(descriptor->totalBytes.value_or(0)));
    }
      setQBError(error, kContentErrorInvalidFileSize, "Invalid file size.");
      return nullptr;
  }
}

std::optional<std::string> QBContentController::readFileAt(const std::string& path, std::uint64_t offset,
                                                           std::uint64_t size, ErrorPtr* error) {
  try {
    std::uint64_t end = offset > std::numeric_limits<std::uint64_t>::max() - size
                            ? std::numeric_limits<std::uint64_t>::max()
                            : offset + size;
    auto descriptor = downloadFileAt(path, end, error);
    if (!descriptor) return std::nullopt;
    return cache_->fetchBinaryDataOf(descriptor->identifier, offset, size, error);
  } catch (const std::exception& e) {
    std::string text = std::string("exception:reason=") + e.what() + ",name=" + typeid(e).name();
    QBLOG("Exception at readFileAt: %s", text.c_str());
    return std::nullopt;
  }
}

}  // namespace greyfox
