// The meeting point of the content layer's download wait and the transfer
// layer's downloads.
//
// QBDownloadLockTable is the table of downloads in flight: file identifier ->
// the descriptor the download fills. An entry exists exactly while a download
// of that file is being started or is running, so a missing entry tells a
// waiter that the download has ended. The table's monitor also guards the
// counters and error of every descriptor in it: the download writes them
// (through the cache) with the monitor held, and waiters read them with it
// held. Every change a waiter may be waiting for (bytes stored, the end, a
// failure, a response) is followed by notify(), which wakes the waiters at
// once; a waiter runs its own thread's run loop meanwhile, so a waiter on the
// main thread still delivers the callbacks that feed the download.
//
// QBDownloadStarter is implemented by the transfer layer and installed at
// start-up; the content layer calls it to start the download of a file whose
// entry it has just taken in the table.
//
// Any thread may call both.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/Error.h"

namespace greyfox {

class QBApiClient;
class QBApiClientContext;
class QBBinaryDataDescriptorItem;
class QBCacheController;
class RunLoop;

// Codes of the download wait's errors (domain "__FILE__").
inline constexpr long kContentErrorDownloadTimedOut = -996;  // "Download timed out!"
inline constexpr long kContentErrorInvalidFileSize = -995;   // "Invalid file size."

class QBDownloadLockTable {
 public:
  QBDownloadLockTable() = default;
  QBDownloadLockTable(const QBDownloadLockTable&) = delete;
  QBDownloadLockTable& operator=(const QBDownloadLockTable&) = delete;

  // The process's table.
  static QBDownloadLockTable& shared();

  // A new descriptor for `identifier` (0 bytes completed), entered in the
  // table; nullptr when the table already holds the identifier.
  std::shared_ptr<QBBinaryDataDescriptorItem> tryLock(const std::string& identifier);
  // The descriptor of the download in flight, or nullptr.
  std::shared_ptr<QBBinaryDataDescriptorItem> lockedItem(const std::string& identifier);
  // Removes the descriptor's identifier from the table (when it is that
  // descriptor's entry) and wakes the waiters.
  void unlock(const QBBinaryDataDescriptorItem& descriptor);

  // Guards the counters and error of the descriptors in the table. Taken
  // before any cache lock; nothing waits while holding it.
  std::recursive_mutex& monitor() { return monitor_; }

  // Wakes every waiter so it tests its condition again.
  void notify();
  // Runs the calling thread's run loop until `done` holds (tested with the
  // monitor held) or `seconds` pass; answers done().
  bool waitUntil(double seconds, const std::function<bool()>& done);

 private:
  std::recursive_mutex monitor_;
  std::map<std::string, std::shared_ptr<QBBinaryDataDescriptorItem>> table_;  // guarded by monitor_

  std::mutex waitersMutex_;  // taken after monitor_ (never the other way)
  std::multiset<RunLoop*> waiters_;  // loops of the threads in waitUntil; guarded by waitersMutex_
};

// What a download needs, gathered by the content layer.
struct QBDownloadJob {
  // The descriptor the download fills; its identifier is entered in the lock
  // table, its path and encrypted flag are set and it is cached.
  std::shared_ptr<QBBinaryDataDescriptorItem> descriptor;
  std::shared_ptr<QBApiClientContext> context;  // the file's request context
  // The file's size as last listed, when known: a plain file's download must
  // bring exactly this many bytes (a secure file's stored form is longer).
  std::optional<std::int64_t> expectedBytes;
  std::shared_ptr<QBApiClient> client;
  std::shared_ptr<QBCacheController> cache;
};

class QBDownloadStarter {
 public:
  virtual ~QBDownloadStarter() = default;

  // Starts the streaming download of the job's file from byte 0 into the
  // cache and blocks until the service's answer is known. true: the service
  // answered 200 and bytes flow into the cache. false with `error`: the
  // download did not start. Either way the lock-table entry is removed when
  // the download ends (at once when nothing was sent).
  virtual bool startDownload(const QBDownloadJob& job, ErrorPtr* error) = 0;

  // The starter installed for the running session, or nullptr.
  static std::shared_ptr<QBDownloadStarter> current();
  static void install(std::shared_ptr<QBDownloadStarter> starter);
};

}  // namespace greyfox
