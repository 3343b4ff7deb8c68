#include "transfer/QBReadaheadController.h"

#include <algorithm>

#include "content/QBContentController.h"
#include "diag/Log.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/Timings.h"

namespace greyfox {

QBReadaheadController::QBReadaheadController(std::string path, std::shared_ptr<QBContentController> content)
    : path_(std::move(path)), content_(std::move(content)) {}

std::optional<std::string> QBReadaheadController::request(std::uint64_t location, std::uint64_t length) {
  if (location < offset_ || location > offset_ + buffer_.size()) {
    // A read outside the buffer restarts it 128 KiB before the read (not at
    // byte 0, and without buffering the gap of a forward jump), so a jump far
    // into a large file costs no more memory than reading on.
    cleanupBufferCompletely();
    offset_ = location > kReadaheadKeptBehind ? location - kReadaheadKeptBehind : 0;
  }
  const std::uint64_t end = location + length;
  if (end > offset_ + buffer_.size()) {
    int filled = fillBufferTo(end);
    if (filled == -1) return std::nullopt;
    if (filled == -2) return std::string();
  }
  std::string data = dataForRange(location, length);
  cleanupBufferFrom(location);
  return data;
}

std::optional<std::string> QBReadaheadController::readPiece(std::uint64_t at) {
  std::shared_ptr<QBContentController> content = content_ ? content_ : QBContentController::sharedController();
  if (!content) return std::nullopt;
  return content->readFileAt(path_, at, kReadaheadPiece, nullptr);
}

int QBReadaheadController::fillBufferTo(std::uint64_t end) {
  const Timings& timings = Timings::current();
  Clock& clock = Clock::current();
  const double start = clock.monotonic();
  if (atEndOfFile_ || offset_ + buffer_.size() >= end) return 0;
  for (;;) {
    if (clock.monotonic() - start > timings.readaheadFillTimeout) {
      QBLOG("Fill read buffer timeout for path: %s", path_.c_str());
      return -2;
    }
    const std::uint64_t at = offset_ + buffer_.size();
    std::optional<std::string> piece = readPiece(at);
    for (int attempt = 1; !piece && attempt <= 2; ++attempt) {
      clock.sleepFor(timings.readaheadRepeatPause);
      QBLOG("readFileAt fail %d", attempt);
      piece = readPiece(at);
    }
    if (!piece) {
      clock.sleepFor(timings.readaheadRepeatPause);
      QBLOG("RA: READ FAILED in %p", static_cast<void*>(&RunLoop::current()));
      return -1;
    }
    QBLOG("RA: READ %llu bytes, new buffer len %llu", static_cast<unsigned long long>(piece->size()),
          static_cast<unsigned long long>(buffer_.size()));
    buffer_.append(*piece);
    // The download wait answers a shorter piece only when the whole file is
    // in: the end of the file is reached.
    if (piece->size() < kReadaheadPiece) {
      atEndOfFile_ = true;
      return 0;
    }
    if (offset_ + buffer_.size() >= end) return 0;
  }
}

std::string QBReadaheadController::dataForRange(std::uint64_t location, std::uint64_t length) const {
  const std::uint64_t r = location >= offset_ ? location - offset_ : buffer_.size();
  const std::uint64_t n = r < buffer_.size() ? std::min<std::uint64_t>(length, buffer_.size() - r) : 0;
  QBLOG("[QBReadaheadController dataForRange] buffer length: %llu", static_cast<unsigned long long>(buffer_.size()));
  QBLOG_SUCCINCT("range.location: %llu", static_cast<unsigned long long>(r));
  QBLOG_SUCCINCT("range.length: %llu", static_cast<unsigned long long>(n));
  return n ? buffer_.substr(r, n) : std::string();
}

void QBReadaheadController::cleanupBufferCompletely() {
  buffer_ = std::string();
  offset_ = 0;
  atEndOfFile_ = false;
}

void QBReadaheadController::cleanupBufferFrom(std::uint64_t location) {
  if (location <= kReadaheadKeptBehind) return;
  const std::uint64_t newOffset = location - kReadaheadKeptBehind;
  if (newOffset <= offset_) return;
  const std::uint64_t drop = std::min<std::uint64_t>(newOffset - offset_, buffer_.size());
  buffer_.erase(0, drop);
  offset_ = newOffset;
}

}  // namespace greyfox
