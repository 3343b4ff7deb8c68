#include "drive/QBSatellitesController.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <mutex>
#include <string_view>

#include "content/QBContentController.h"
#include "diag/Log.h"
#include "drive/QBUserFileSystem.h"
#include "items/QBFileItem.h"

namespace greyfox {

namespace {

// Locations of the system's own programs; an executable elsewhere is never
// classed by its name.
constexpr std::array<std::string_view, 4> kSystemLocations = {"/System", "/Library", "/usr", "/lib"};

// Executables that make thumbnails for file managers.
// A thumbnail maker that opens a file other than an image is refused, so a
// video or document thumbnailer never downloads the whole file.
constexpr std::array<std::string_view, 8> kThumbnailSuffixes = {
    "quicklookd.app/Contents/XPCServices/QuickLookSatellite.xpc/Contents/MacOS/QuickLookSatellite",
    "/gdk-pixbuf-thumbnailer",   // GNOME's image thumbnailer
    "/gnome-thumbnail-font",
    "/totem-video-thumbnailer",
    "/evince-thumbnailer",
    "/ffmpegthumbnailer",
    "/tumblerd",                 // Xfce's thumbnail service
    "/kf5/kio_thumbnail",        // KDE's thumbnail worker where it runs as a program of its own
};

// Other system services that open files on their own: media services and
// file indexers.
constexpr std::array<std::string_view, 10> kServiceSuffixes = {
    "com.apple.iTunesLibraryService.xpc/Contents/MacOS/com.apple.iTunesLibraryService",
    "qtkittrustedmoviesservice.xpc/Contents/MacOS/qtkittrustedmoviesservice",
    "/tracker-miner-fs",
    "/tracker-miner-fs-3",
    "/tracker-extract",
    "/tracker-extract-3",
    "/localsearch-3",            // tracker's miner under its newer name
    "/localsearch-extractor-3",
    "/baloo_file",               // KDE's file indexer
    "/baloo_file_extractor",
};

bool inSystemLocation(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  return std::any_of(kSystemLocations.begin(), kSystemLocations.end(), [&](std::string_view root) {
    return path.compare(0, root.size(), root) == 0 && (path.size() == root.size() || path[root.size()] == '/');
  });
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string lowercase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::mutex sharedMutex;
std::shared_ptr<QBSatellitesController>& installed() {
  static std::shared_ptr<QBSatellitesController> controller;
  return controller;
}

}  // namespace

QBSatellitesController::QBSatellitesController(std::shared_ptr<QBContentController> content)
    : content_(std::move(content)) {}

std::shared_ptr<QBSatellitesController> QBSatellitesController::sharedController() {
  std::lock_guard lock(sharedMutex);
  return installed();
}

void QBSatellitesController::install(std::shared_ptr<QBSatellitesController> controller) {
  std::lock_guard lock(sharedMutex);
  installed() = std::move(controller);
}

std::string QBSatellitesController::executableOfProcess(pid_t pid) {
  if (pid <= 0) return "";
  std::array<char, 4096> buffer{};
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size() - 1);
  if (n <= 0) return "";
  std::string path(buffer.data(), static_cast<std::size_t>(n));
  // A replaced executable reads as "<path> (deleted)"; it is still that program.
  constexpr std::string_view kDeleted = " (deleted)";
  if (endsWith(path, kDeleted)) path.resize(path.size() - kDeleted.size());
  return path;
}

std::string QBSatellitesController::getCallingProcessExecutable() {
  return executableOfProcess(QBUserFileSystem::callingProcessId());
}

std::string QBSatellitesController::getCallingProcessBundleExecutable() { return ""; }

bool QBSatellitesController::isThumbnailSatteliteWithFullExec(const std::string& path) {
  if (!inSystemLocation(path)) return false;
  return std::any_of(kThumbnailSuffixes.begin(), kThumbnailSuffixes.end(),
                     [&](std::string_view s) { return endsWith(path, s); });
}

bool QBSatellitesController::isMiscSatteliteWithFullExec(const std::string& path) {
  if (!inSystemLocation(path)) return false;
  return isThumbnailSatteliteWithFullExec(path) ||
         std::any_of(kServiceSuffixes.begin(), kServiceSuffixes.end(),
                     [&](std::string_view s) { return endsWith(path, s); });
}

bool QBSatellitesController::isMiscSatteliteWithBundleExec(const std::string& bundle) {
  if (bundle == "quicklookd.app") return true;
  std::string name = lowercase(bundle);
  for (std::string_view part : {"com.apple.qtkitserver.xpc", "mds", "com.apple.appkit.xpc.openandsavepanelservice"}) {
    if (name.find(part) != std::string::npos) return true;
  }
  return false;
}

QBCallingProcessClass QBSatellitesController::classify(const std::string& executable, const std::string& bundle) {
  if (isThumbnailSatteliteWithFullExec(executable)) return QBCallingProcessThumbnail;
  if (isMiscSatteliteWithFullExec(executable)) return QBCallingProcessSystemService;
  if (isMiscSatteliteWithBundleExec(bundle)) return QBCallingProcessSystemService;
  return QBCallingProcessOrdinary;
}

QBCallingProcessClass QBSatellitesController::testCallingProcess() const {
  return classify(getCallingProcessExecutable(), getCallingProcessBundleExecutable());
}

bool QBSatellitesController::openThumbnailAt(const std::string& path) const {
  std::string name = path.substr(path.find_last_of('/') + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string extension = lowercase(std::string_view(name).substr(dot + 1));
  return extension == "jpg" || extension == "jpeg" || extension == "png";
}

std::shared_ptr<QBContentController> QBSatellitesController::content() const {
  return content_ ? content_ : QBContentController::sharedController();
}

std::optional<std::string> QBSatellitesController::readThumbnailAt(const std::string& path, std::uint64_t offset,
                                                                   std::uint64_t size, ErrorPtr* error) {
  auto controller = content();
  if (!controller) {
    setQBError(error, -199, "No session.");
    return std::nullopt;
  }
  auto thumbnail = controller->fileThumbnailAt(path, error);
  if (!thumbnail) return std::nullopt;
  const std::string& data = thumbnail->data;
  std::uint64_t end = offset > UINT64_MAX - size ? UINT64_MAX : offset + size;
  end = std::min<std::uint64_t>(end, data.size());
  QBLOG("Thumb request %lld/%lld", static_cast<long long>(end), static_cast<long long>(data.size()));
  if (offset >= end) return std::string();
  return data.substr(offset, end - offset);
}

}  // namespace greyfox
