// Uploads (create, open, chunks at the offset held, close), streaming
// downloads and thumbnails.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "Images.h"
#include "Service.h"

namespace greyfox::devservice {

namespace {

using Auth = Service::Auth;

const char* kProcessing =
    "This file is already being processed. Please wait until previous upload operation will be finished.";

int64_t heldBytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

int64_t numberParam(const Call& call, const std::string& name) {
  std::string text = call.require(name);
  try {
    size_t used = 0;
    int64_t v = std::stoll(text, &used);
    if (used == text.size() && v >= 0) return v;
  } catch (const std::logic_error&) {
  }
  throw ApiError(400, "Invalid parameter: " + name);
}

// Owns a descriptor for the life of a streamed download.
struct OpenBlob {
  explicit OpenBlob(int fd) : fd(fd) {}
  ~OpenBlob() {
    if (fd >= 0) ::close(fd);
  }
  OpenBlob(const OpenBlob&) = delete;
  OpenBlob& operator=(const OpenBlob&) = delete;
  int fd;
};

bool isImageName(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* known : {"jpg", "jpeg", "png", "gif", "bmp", "tif", "tiff", "heic", "webp"})
    if (ext == known) return true;
  return false;
}

nlohmann::json handleJson(const std::string& temp) {
  return {{"TempLocation", temp}, {"RequireHash", 0}, {"RequireHashOnly", 0}};
}

}  // namespace

void registerTransferRoutes(Service& service) {
  Store& store = service.store();
  Faults& faults = service.faults();

  // A name that is taken by a file opens a new upload of that file.
  service.route("POST", "upload/create_file.json", Auth::Session, false, [&store](Call& call, httplib::Response& res) {
    Folder folder = folderFor(call, folderIdFrom(call, call.require("folder_id")), Access::Write);
    std::string name = call.require("file_name");
    auto existing = store.childFileNamed(folder.id, name);
    int64_t id = existing ? existing->id : store.createFile(folder.id, name, Store::now());
    nlohmann::json reply = fileJson(store, store.file(id), call.user);
    reply.update(handleJson(store.openUpload(id)));
    replyJson(res, reply);
  });

  service.route("POST", "upload/open_file_upload.json", Auth::Session, false,
                [&store](Call& call, httplib::Response& res) {
                  File f = fileFor(call, fileIdFrom(call.require("file_id")), Access::Write);
                  replyJson(res, handleJson(store.openUpload(f.id)));
                });

  service.route("POST", "upload/upload_file_chunk2.json", Auth::Session, true,
                [&store](Call& call, httplib::Response& res) {
                  File f = fileFor(call, fileIdFrom(call.arg(0)), Access::Write);
                  auto upload = store.findUpload(call.require("temp_location"));
                  if (!upload || upload->fileId != f.id) throw ApiError(404, "Upload not found");
                  int64_t offset = numberParam(call, "chunk_offset");
                  auto part = call.req.files.find("file_data");
                  if (part == call.req.files.end()) throw ApiError(400, "Missing parameter: file_data");
                  const std::string& data = part->second.content;
                  if (call.has("chunk_size") && numberParam(call, "chunk_size") != static_cast<int64_t>(data.size()))
                    throw ApiError(400, "Chunk size does not match the data sent");
                  std::string path = store.uploadPath(upload->tempLocation);
                  int64_t held = heldBytes(path);
                  if (offset != held || (call.fault && call.fault->kind == "offset"))
                    throw ApiError(400, "Incorrect chunk offset: uploaded=" + std::to_string(held) +
                                            ", chunk_offset=" + std::to_string(offset));
                  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                  if (fd < 0) throw std::runtime_error("cannot open " + path);
                  OpenBlob guard(fd);
                  size_t done = 0;
                  while (done < data.size()) {
                    ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, held + done);
                    if (n <= 0) throw std::runtime_error("cannot write " + path);
                    done += static_cast<size_t>(n);
                  }
                  replyJson(res, {{"TotalWritten", held + static_cast<int64_t>(data.size())}});
                });

  // The size given is the file's reported size. Outside secure folders it must
  // equal the bytes held; inside them the bytes are ciphertext and the size is
  // the plaintext's.
  service.route("POST", "upload/close_file_upload.json", Auth::Session, false,
                [&store](Call& call, httplib::Response& res) {
                  if (call.fault && call.fault->kind == "processing") throw ApiError(409, kProcessing);
                  File f = fileFor(call, fileIdFrom(call.require("file_id")), Access::Write);
                  auto upload = store.findUpload(call.require("temp_location"));
                  if (!upload || upload->fileId != f.id) throw ApiError(404, "Upload not found");
                  int64_t size = numberParam(call, "file_size");
                  int64_t mtime = call.has("file_time") ? numberParam(call, "file_time") : Store::now();
                  std::string path = store.uploadPath(upload->tempLocation);
                  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                  if (fd < 0) throw std::runtime_error("cannot open " + path);
                  {
                    OpenBlob guard(fd);
                    ::fdatasync(fd);
                  }
                  int64_t held = heldBytes(path);
                  if (store.secureRoot(f.folderId) == 0 && held != size)
                    throw ApiError(400, "Invalid file size: uploaded=" + std::to_string(held) +
                                            ", file_size=" + std::to_string(size));
                  store.replaceContent(f.id, path, size, mtime);
                  store.dropUpload(upload->tempLocation);
                  replyJson(res, fileJson(store, store.file(f.id), call.user));
                });

  service.route("GET", "download/file.json", Auth::Session, false, [&store, &faults](Call& call, httplib::Response& res) {
    File f = fileFor(call, fileIdFrom(call.arg(0)), Access::Read, true);
    int64_t start = call.has("offset") ? numberParam(call, "offset") : 0;
    if (start > f.held) throw ApiError(416, "Offset beyond the end of the file");
    store.addBandwidth(f.ownerId, f.held - start);
    std::string blob = store.blobPath(f);
    if (blob.empty() || f.held == start) return res.set_content("", "application/octet-stream");
    auto open = std::make_shared<OpenBlob>(::open(blob.c_str(), O_RDONLY | O_CLOEXEC));
    if (open->fd < 0) throw std::runtime_error("cannot open " + blob);
    auto fault = call.fault;
    auto stalled = std::make_shared<bool>(false);
    res.set_content_provider(
        static_cast<size_t>(f.held - start), "application/octet-stream",
        [open, start, fault, stalled, &faults](size_t offset, size_t length, httplib::DataSink& sink) {
          size_t want = std::min<size_t>(length, 256 * 1024);
          if (fault && (fault->kind == "cut" || fault->kind == "stall")) {
            size_t limit = static_cast<size_t>(fault->afterBytes);
            if (offset < limit) {
              want = std::min(want, limit - offset);
            } else if (fault->kind == "cut") {
              return false;
            } else if (!*stalled) {
              *stalled = true;
              if (!faults.sleepFor(fault->seconds)) return false;
            }
          }
          std::string buffer(want, '\0');
          ssize_t n = ::pread(open->fd, buffer.data(), want, start + static_cast<off_t>(offset));
          if (n <= 0) return false;
          return sink.write(buffer.data(), static_cast<size_t>(n));
        });
  });

  service.route("GET", "file/thumb.json", Auth::Session, false, [](Call& call, httplib::Response& res) {
    File f = fileFor(call, fileIdFrom(call.arg(0)), Access::Read);
    if (!isImageName(f.name)) throw ApiError(404, "No thumbnail for this file");
    res.set_content(pngImage(32, 32, static_cast<uint32_t>(f.id * 2654435761u)), "image/png");
  });
}

}  // namespace greyfox::devservice
