// The non-blocking sends of QBApiRequest: every event arrives on the main
// run loop, so the handlers and the fields they touch stay on that thread.
#include "api/QBApiRequest.h"

#include "diag/Log.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"

namespace greyfox {

void QBApiRequest::sendAsync() {
  if (!startTime) startTime = Clock::current().now();
  ErrorPtr buildError;
  if (!urlRequest(&buildError)) {
    if (dataHandler_) dataHandler_(std::nullopt, buildError);
    if (retryHandler_) retryHandler_(std::nullopt, buildError);
    return;
  }
  if (timeout == 0) QBLOG("Request timeout = 0! This will cause issues on older versions.");
  mutableData = std::string();
  state_.store(QBApiRequestStateRunning);
  startTransfer();
}

void QBApiRequest::startTransfer() {
  auto self = shared_from_this();
  HttpEvents events;
  events.response = [self](long status, std::int64_t expected) {
    self->totalBytes = expected;
    if (self->networkResponseHandler_) self->networkResponseHandler_(status);
  };
  events.data = [self](const std::string& chunk) {
    if (self->partialDataHandler_) {
      self->partialDataHandler_(chunk, self->receivedBytes, self->totalBytes);
    } else {
      if (!self->mutableData) self->mutableData = std::string();
      self->mutableData->append(chunk);
    }
    self->receivedBytes += static_cast<std::int64_t>(chunk.size());
    if (self->progressHandler_) self->progressHandler_(self->receivedBytes, self->totalBytes);
  };
  events.uploadProgress = [self](std::int64_t sent, std::int64_t expected) {
    if (self->uploadProgressHandler_) self->uploadProgressHandler_(sent, expected);
  };
  events.failure = [self](ErrorPtr error) { self->onFailure(std::move(error)); };
  events.completion = [self] { self->onFinish(); };
  connection_ = HttpTransport::current()->start(*request_, std::move(events));
}

void QBApiRequest::onFailure(ErrorPtr error) {
  if (tryRetry() && (!retryHandler_ || retryHandler_(mutableData, error))) {
    sendAsync();
    return;
  }
  if (apiResponseHandler_) apiResponseHandler_(std::nullopt, error);
  if (dataHandler_) dataHandler_(std::nullopt, error);
  endTime = Clock::current().now();
  state_.store(QBApiRequestStateFinished);
  RunLoop::main().wake();
}

void QBApiRequest::onFinish() {
  if (dataHandler_) dataHandler_(mutableData, nullptr);
  if (!partialDataHandler_ && apiResponseHandler_) {
    ErrorPtr error;
    auto reply = apiResponseFrom(mutableData, uid, &error);
    apiResponseHandler_(reply, reply ? nullptr : error);
  }
  endTime = Clock::current().now();
  state_.store(QBApiRequestStateFinished);
  RunLoop::main().wake();
}

void QBApiRequest::waitAsync() {
  while (isRunning() && !operationsCancelled()) waitFor(Timings::current().requestWaitSlice);
}

void QBApiRequest::waitFor(double seconds) {
  RunLoop::current().runFor(seconds / 10);
  Clock::current().sleepFor(seconds);
}

void QBApiRequest::cancelAsync() {
  if (connection_) connection_->cancel();
  connection_.reset();
  endTime = Clock::current().now();
  state_.store(QBApiRequestStateFinished);
}

}  // namespace greyfox
