#include "transfer/QBDownloadController.h"

#include <algorithm>

#include "api/QBApiClient.h"
#include "api/QBApiClientContext.h"
#include "cache/QBCacheController.h"
#include "content/QBBackgroundFolderUpdateController.h"
#include "content/VolumePath.h"
#include "diag/Log.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBUserSessionItem.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"
#include "secure/SecureFilesData.h"

namespace greyfox {

namespace {

std::mutex runningMutex;
// Strong references that keep each controller alive until its request ends.
std::vector<std::shared_ptr<QBDownloadController>>& runningList() {  // guarded by runningMutex
  static auto* list = new std::vector<std::shared_ptr<QBDownloadController>>();
  return *list;
}

}  // namespace

QBDownloadController::QBDownloadController(QBDownloadJob job)
    : job_(std::move(job)), folderPath_(parentPath(job_.descriptor->path)) {}

std::shared_ptr<QBDownloadController> QBDownloadController::downloadControllerForDescriptor(const QBDownloadJob& job) {
  auto controller = std::make_shared<QBDownloadController>(job);
  auto request = QBApiRequest::requestWithMethod("GET", "download/file.json",
                                                 QBApiRequest::Arguments{job.descriptor->identifier},
                                                 nlohmann::json{{"offset", std::int64_t{0}}});
  std::weak_ptr<QBDownloadController> weak = controller;
  request->setNetworkResponseHandler([weak](long status) {
    if (auto self = weak.lock()) self->requestResponseHandler(status);
  });
  request->setDataHandler([weak](const std::optional<std::string>& data, ErrorPtr error) {
    if (auto self = weak.lock()) self->requestCompletedHandler(data, std::move(error));
  });
  request->setPartialDataHandler([weak](const std::string& chunk, std::int64_t, std::int64_t) {
    if (auto self = weak.lock()) self->requestDataHandler(chunk);
  });
  // A retry sends the whole file again from byte 0, which would land after
  // the bytes already stored: retry only while nothing has been answered.
  request->setRetryHandler([weak](const std::optional<std::string>&, ErrorPtr) {
    auto self = weak.lock();
    return self && self->status_.load() == kNoResponse;
  });
  controller->request_ = std::move(request);
  controller->session_ = job.cache->fetchUserSession("default");
  std::lock_guard lock(runningMutex);
  runningList().push_back(controller);
  return controller;
}

std::shared_ptr<QBBinaryDataDescriptorItem> QBDownloadController::tryLock(const std::string& identifier) {
  return QBDownloadLockTable::shared().tryLock(identifier);
}

std::shared_ptr<QBBinaryDataDescriptorItem> QBDownloadController::lockedItem(const std::string& identifier) {
  return QBDownloadLockTable::shared().lockedItem(identifier);
}

void QBDownloadController::unlock(const QBBinaryDataDescriptorItem& descriptor) {
  QBDownloadLockTable::shared().unlock(descriptor);
}

std::size_t QBDownloadController::runningCount() {
  std::lock_guard lock(runningMutex);
  return runningList().size();
}

ErrorPtr QBDownloadController::error() const {
  std::lock_guard lock(errorMutex_);
  return error_;
}

bool QBDownloadController::startWithError(ErrorPtr* error) {
  QBLOG("[Apr] Locking for download: %s", folderPath_.c_str());
  auto folders = QBBackgroundFolderUpdateController::sharedController();
  lockStatus_ = folders && folders->tryLockFor(folderPath_);

  if (!job_.context->preFill(*request_, *job_.client, error)) {
    finish();
    return false;
  }
  request_->sendAsync();

  QBDownloadLockTable& table = QBDownloadLockTable::shared();
  auto answered = [this] { return status_.load() == kResponseOK || ended_.load(); };
  while (!answered()) table.waitUntil(Timings::current().requestWaitSlice, answered);
  if (status_.load() == kResponseOK) return true;

  // Not started: wait for the end, which decodes the service's error reply
  // or records the transport's failure.
  while (!ended_.load()) table.waitUntil(Timings::current().requestWaitSlice, [this] { return ended_.load(); });
  ErrorPtr failure;
  if (status_.load() == kResponseOther) {
    failure = this->error();
    if (!failure) {
      failure = makeError(kQBErrorDomain, QBApiErrorNetwork, "Server communication error.", nullptr);
    }
  } else {
    std::lock_guard lock(table.monitor());
    failure = job_.descriptor->error;
  }
  if (error && failure) *error = failure;
  return false;
}

void QBDownloadController::requestResponseHandler(long status) {
  if (ended_.load()) return;
  if (status == 200) {
    const std::int64_t announced = request_->totalBytes;
    if (job_.expectedBytes && announced >= 0 && announced != *job_.expectedBytes) {
      // Not the file's bytes (an error page, or another version of the file).
      QBLOG("Download of %s announces %lld bytes, the file has %lld", job_.descriptor->identifier.c_str(),
            static_cast<long long>(announced), static_cast<long long>(*job_.expectedBytes));
      fail(invalidSizeError());
      return;
    }
    status_.store(kResponseOK);
  } else {
    status_.store(kResponseOther);
    // The body is the service's error reply: collect it for decoding.
    request_->setPartialDataHandler(nullptr);
  }
  QBDownloadLockTable::shared().notify();
}

void QBDownloadController::requestDataHandler(const std::string& data) {
  if (ended_.load()) return;
  receivedBytes_ += static_cast<std::int64_t>(data.size());
  transferBuffer_.append(data);
  if (transferBuffer_.size() > kDownloadFlushThreshold) storeBuffer();
}

bool QBDownloadController::storeBuffer() {
  QBBinaryDataDescriptorItem& item = *job_.descriptor;
  std::optional<std::string> plaintext;
  if (item.encrypted) {
    ErrorPtr decryptError;
    const std::string key = session_ ? session_->encryptionKey : std::string();
    plaintext = decryptWithKey(transferBuffer_, key, &decryptError);
    if (!plaintext && decryptError) {
      fail(decryptError);
      return false;
    }
  } else {
    plaintext = std::move(transferBuffer_);
    transferBuffer_ = std::string();
  }
  if (!plaintext || plaintext->empty()) return true;

  QBDownloadLockTable& table = QBDownloadLockTable::shared();
  bool stored;
  {
    std::lock_guard lock(table.monitor());
    const std::int64_t offset = item.completedBytes.value_or(0);
    QBLOG("completed %lld", static_cast<long long>(offset));
    stored = job_.cache->storeBinaryData(*plaintext, static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(-1),
                                         item.identifier);
    // The cache counts on the descriptor it holds, which is this one unless
    // it was dropped from the cache's memory meanwhile.
    const std::int64_t completed = offset + static_cast<std::int64_t>(plaintext->size());
    if (stored && item.completedBytes != completed) {
      item.completedBytes = completed;
      item.totalBytes = -1;
    }
  }
  if (!stored) {
    fail(makeError(kCacheErrorDomain, -1, "Could not store the downloaded data of file " + item.identifier +
                                              " in the cache.", nullptr));
    return false;
  }
  table.notify();
  return true;
}

void QBDownloadController::requestCompletedHandler(const std::optional<std::string>& data, ErrorPtr error) {
  if (ended_.load()) return;
  QBDownloadLockTable& table = QBDownloadLockTable::shared();
  QBBinaryDataDescriptorItem& item = *job_.descriptor;
  const std::int64_t status = status_.load();
  if (status == kResponseOther) {
    ErrorPtr decoded;
    auto reply = QBApiRequest::apiResponseFrom(data ? data : request_->mutableData, request_->uid, &decoded);
    if (reply) job_.client->checkServerError(&decoded, request_, *reply);
    std::lock_guard lock(errorMutex_);
    error_ = decoded;
  } else if (!error) {
    if (job_.expectedBytes && receivedBytes_ != *job_.expectedBytes) {
      QBLOG("Download of %s brought %lld bytes, the file has %lld", item.identifier.c_str(),
            static_cast<long long>(receivedBytes_), static_cast<long long>(*job_.expectedBytes));
      fail(invalidSizeError());
      return;
    }
    if (!storeBuffer()) return;
    if (!transferBuffer_.empty()) {
      // A secure file whose last block is incomplete: the data is damaged.
      fail(makeError(kSecureFilesDataErrorDomain, kSecureFilesDataDecryptionFailed,
                     "The downloaded data of file " + item.identifier + " ends inside a block.", nullptr));
      return;
    }
    std::lock_guard lock(table.monitor());
    item.totalBytes = item.completedBytes.value_or(0);
    job_.cache->storeItem(job_.descriptor);
  } else if (status == kNoResponse) {
    std::lock_guard lock(table.monitor());
    item.error = error;
  } else {
    // Cut after the answer: what arrived is a correct prefix; keep it and let
    // the waiters see a download that ended short.
    QBLOG("Download of %s ended early: %s", item.identifier.c_str(), error->message().c_str());
    if (!storeBuffer()) return;
  }
  finish();
}

ErrorPtr QBDownloadController::invalidSizeError() {
  return makeError(kQBErrorDomain, kContentErrorInvalidFileSize, "Invalid file size.", nullptr);
}

void QBDownloadController::fail(ErrorPtr failure) {
  QBLOG("Download of %s failed: %s", job_.descriptor->identifier.c_str(), failure->message().c_str());
  {
    std::lock_guard lock(QBDownloadLockTable::shared().monitor());
    job_.descriptor->error = std::move(failure);
  }
  request_->cancelAsync();
  finish();
}

void QBDownloadController::finish() {
  if (ended_.exchange(true)) return;
  if (lockStatus_) {
    if (auto folders = QBBackgroundFolderUpdateController::sharedController()) folders->unlockFor(folderPath_);
  }
  QBDownloadLockTable::shared().unlock(*job_.descriptor);
  std::shared_ptr<QBDownloadController> self = shared_from_this();  // the list may hold the last reference
  std::lock_guard lock(runningMutex);
  auto& list = runningList();
  list.erase(std::remove(list.begin(), list.end(), self), list.end());
}

bool QBDownloadStarterImpl::startDownload(const QBDownloadJob& job, ErrorPtr* error) {
  return QBDownloadController::downloadControllerForDescriptor(job)->startWithError(error);
}

}  // namespace greyfox
