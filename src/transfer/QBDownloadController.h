// QBDownloadController: one running download of one file. It sends the
// streaming GET of the whole file from byte 0, collects the received bytes
// and stores them into the cache in batches of just over 512 KiB (decrypted
// first for files of secure folders), and at the end marks the descriptor
// complete or failed and releases the file's download lock and its folder's
// transfer lock.
//
// The class keeps the running list, the only owner of a controller from its
// creation until its request has ended; the request's handlers hold it
// weakly. startWithError runs on the calling (file-system) thread; every
// request callback, and so every store into the cache, runs on the main run
// loop. The descriptor's counters and error are written with the download
// lock table's monitor held (QBDownloadStarter.h).
//
// QBDownloadStarterImpl is the transfer layer's QBDownloadStarter: install it
// at start-up so the content layer's download wait can start downloads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/QBApiRequest.h"
#include "content/QBDownloadStarter.h"
#include "platform/Error.h"

namespace greyfox {

class QBUserSessionItem;

// Received bytes are stored once more than this many are held.
inline constexpr std::size_t kDownloadFlushThreshold = 524288;

class QBDownloadController : public std::enable_shared_from_this<QBDownloadController> {
 public:
  enum Status : std::int64_t { kNoResponse = 0, kResponseOK = 1, kResponseOther = 2 };

  // A new controller for the job, already in the running list, its request
  // built ("GET download/file.json" for the descriptor's identifier with
  // "offset" 0) but not sent. REQUIRES: the job's fields are all set and the
  // descriptor's identifier is in the download lock table.
  static std::shared_ptr<QBDownloadController> downloadControllerForDescriptor(const QBDownloadJob& job);

  // Takes the folder's transfer lock when free (the download goes on either
  // way), sends the request and blocks, running the caller's run loop, until
  // the service's answer is known. true: HTTP 200, bytes flow into the
  // cache. false with `error`: the request could not be prepared, the
  // transfer failed before any answer (the transport's error), or the
  // service answered another status (its decoded error reply, else -200).
  // On false the locks are released once the request has ended.
  bool startWithError(ErrorPtr* error);

  // The download lock table's operations.
  static std::shared_ptr<QBBinaryDataDescriptorItem> tryLock(const std::string& identifier);
  static std::shared_ptr<QBBinaryDataDescriptorItem> lockedItem(const std::string& identifier);
  static void unlock(const QBBinaryDataDescriptorItem& descriptor);
  // How many controllers are in the running list.
  static std::size_t runningCount();

  Status status() const { return static_cast<Status>(status_.load()); }
  // The error decoded from a reply that was not HTTP 200.
  ErrorPtr error() const;
  const std::shared_ptr<QBBinaryDataDescriptorItem>& item() const { return job_.descriptor; }

  explicit QBDownloadController(QBDownloadJob job);  // use downloadControllerForDescriptor
  QBDownloadController(const QBDownloadController&) = delete;
  QBDownloadController& operator=(const QBDownloadController&) = delete;

 private:
  // Request callbacks, on the main run loop.
  void requestResponseHandler(long status);
  void requestDataHandler(const std::string& data);
  void requestCompletedHandler(const std::optional<std::string>& data, ErrorPtr error);
  // Stores the transfer buffer's bytes (their plaintext for secure files)
  // after the bytes already stored. false when they could not be decrypted
  // or stored: the download has then been ended with that error.
  bool storeBuffer();
  // Records `failure` on the descriptor, stops the request and ends.
  void fail(ErrorPtr failure);
  // -995 "Invalid file size.": the body is not the listed file's size.
  static ErrorPtr invalidSizeError();
  // Releases both locks, wakes the waiters and leaves the running list.
  void finish();

  const QBDownloadJob job_;
  const std::string folderPath_;  // the file's parent folder
  std::shared_ptr<QBUserSessionItem> session_;
  QBApiRequest::Ptr request_;
  bool lockStatus_ = false;  // the folder's transfer lock was taken; set before sending

  std::string transferBuffer_;  // main run loop only
  std::int64_t receivedBytes_ = 0;  // body bytes of the 200 answer; main run loop only
  std::atomic<std::int64_t> status_{kNoResponse};
  std::atomic<bool> ended_{false};
  mutable std::mutex errorMutex_;
  ErrorPtr error_;  // guarded by errorMutex_
};

class QBDownloadStarterImpl : public QBDownloadStarter {
 public:
  bool startDownload(const QBDownloadJob& job, ErrorPtr* error) override;
};

}  // namespace greyfox
