// QBReadaheadController: the read buffer of one read-only open file. It pulls
// the file through the content controller's readFileAt in pieces of 512 KiB
// and answers the kernel's small reads from memory, keeping at most 128 KiB
// behind the last read position and the pieces read ahead of it.
//
// One per open file handle; used by one read at a time (the file system
// serializes the reads of a handle), so it has no lock of its own. Reads
// block while the piece they need downloads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace greyfox {

class QBContentController;

inline constexpr std::uint64_t kReadaheadPiece = 524288;
inline constexpr std::uint64_t kReadaheadKeptBehind = 131072;

class QBReadaheadController {
 public:
  // An empty buffer at offset 0 for the file at `path`, read through
  // `content` (nullptr: the shared content controller of each read).
  explicit QBReadaheadController(std::string path, std::shared_ptr<QBContentController> content = nullptr);
  QBReadaheadController(const QBReadaheadController&) = delete;
  QBReadaheadController& operator=(const QBReadaheadController&) = delete;

  // The file's bytes in [location, location + length), fewer at the end of
  // the file. Empty when the buffer could not be filled within
  // Timings::readaheadFillTimeout; nullopt when a piece could not be read
  // three times in a row.
  std::optional<std::string> request(std::uint64_t location, std::uint64_t length);

  // Reads pieces until the buffer reaches `end` or the end of the file.
  // 0 on success, -1 on read failure, -2 on time-out.
  int fillBufferTo(std::uint64_t end);
  // The buffered bytes of the range (fewer when the buffer ends first).
  std::string dataForRange(std::uint64_t location, std::uint64_t length) const;
  // An empty buffer at offset 0.
  void cleanupBufferCompletely();
  // Drops what lies more than 128 KiB before `location`.
  void cleanupBufferFrom(std::uint64_t location);

  const std::string& path() const { return path_; }
  std::uint64_t offset() const { return offset_; }
  std::uint64_t bufferLength() const { return buffer_.size(); }

 private:
  // One piece at the buffer's end: the bytes, "" at the end of the file,
  // nullopt when the read failed.
  std::optional<std::string> readPiece(std::uint64_t at);

  const std::string path_;
  const std::shared_ptr<QBContentController> content_;
  std::string buffer_;        // the file's bytes from offset_
  std::uint64_t offset_ = 0;
  bool atEndOfFile_ = false;  // the buffer reaches the file's end
};

}  // namespace greyfox
