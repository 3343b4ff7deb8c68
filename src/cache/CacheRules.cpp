#include "cache/CacheRules.h"

#include <cmath>
#include <limits>
#include <map>
#include <mutex>

#include "cache/CacheText.h"
#include "cache/QBCacheController.h"
#include "diag/Log.h"
#include "diag/Utilities.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBFSIdItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderListItem.h"
#include "platform/Clock.h"
#include "platform/Timings.h"

namespace greyfox {

namespace {

constexpr double kNoInterval = std::numeric_limits<double>::quiet_NaN();

bool isFolderList(const QBContentItem& item) { return dynamic_cast<const QBFolderListItem*>(&item) != nullptr; }
bool isFSId(const QBContentItem& item) { return dynamic_cast<const QBFSIdItem*>(&item) != nullptr; }

double numberOr(const CacheMeta& meta, const char* name, double fallback) {
  auto it = meta.find(name);
  return it != meta.end() && it->is_number() ? it->get<double>() : fallback;
}

std::string stringOr(const CacheMeta& meta, const char* name) {
  auto it = meta.find(name);
  return it != meta.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Fresh instances by class name, made once: the rules only read them.
std::shared_ptr<QBContentItem> prototypeOf(std::string_view className) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<QBContentItem>, std::less<>> prototypes;
  std::lock_guard<std::mutex> guard(mutex);
  auto it = prototypes.find(className);
  if (it != prototypes.end()) return it->second;
  auto instance = QBContentItem::instanceOfClass(className);
  prototypes.emplace(std::string(className), instance);
  return instance;
}

bool baseValidate(const QBContentItem& prototype, const CacheMeta& meta) {
  if (stringOr(meta, "vhash") != cacheIndexVersioningHash(prototype)) return false;
  double interval = validateCacheMetaInterval(prototype);
  if (!std::isnan(interval)) {
    double elapsed = Clock::current().now() - numberOr(meta, "lastindex", 0);
    return interval > elapsed;
  }
  if (!validateCacheMetaUponAppClose(prototype) && !validateCacheMetaUponAppClose(prototype, meta)) return true;
  return stringOr(meta, "runtimeid") == Utilities::appRuntimeIdentifier();
}

bool descriptorValidate(const CacheMeta& meta, QBCacheController& controller) {
  double indexed = numberOr(meta, "lastindex", 0);
  auto file = controller.fetchFileItem(stringOr(meta, "key"), stringOr(meta, "path"));
  if (!file) return false;
  double d = file->dateModified.value_or(indexed) - indexed;
  if (d > Timings::current().descriptorModifiedSlack) {
    QBLOG("invalidated because file %s was updated (%f)", file->name.c_str(), d);
    return false;
  }
  return controller.backend().validateBinaryDataOf(*file);
}

}  // namespace

std::optional<std::string> cacheIndexKey(const QBContentItem& item) {
  if (auto fsid = dynamic_cast<const QBFSIdItem*>(&item)) {
    if (fsid->path.empty()) return std::nullopt;
    return cacheLowercase(fsid->path);
  }
  if (item.identifier.empty()) return std::nullopt;
  return item.identifier;
}

std::string cacheIndexClass(const QBContentItem& item) {
  if (isFolderList(item)) return std::string(QBFolderListItem::kClassName);
  if (isFSId(item)) return std::string(QBFSIdItem::kClassName);
  return item.className();
}

std::string cacheIndexClassOf(std::string_view className) {
  auto prototype = prototypeOf(className);
  return prototype ? cacheIndexClass(*prototype) : std::string(className);
}

CacheMeta cacheIndexMeta(const QBContentItem& item) {
  CacheMeta meta = {{"orig_class", item.className()}};
  if (auto list = dynamic_cast<const QBFolderListItem*>(&item)) {
    nlohmann::json files = nlohmann::json::array();
    for (const auto& file : list->files) files.push_back(file->name);
    nlohmann::json folders = nlohmann::json::array();
    for (const auto& folder : list->folders) folders.push_back(folder->name);
    meta["path"] = list->path;
    meta["files"] = std::move(files);
    meta["folders"] = std::move(folders);
    meta["encrypted"] = list->encrypted ? nlohmann::json(*list->encrypted) : nlohmann::json();
  } else if (auto fsid = dynamic_cast<const QBFSIdItem*>(&item)) {
    meta["path"] = cacheLowercase(fsid->path);
    // Lets a purge by folder identifier find the paths that resolve to it.
    meta["identifier"] = fsid->identifier;
  } else if (auto descriptor = dynamic_cast<const QBBinaryDataDescriptorItem*>(&item)) {
    meta["path"] = descriptor->path;
  }
  return meta;
}

std::string cacheIndexVersioningHash(const QBContentItem& item) {
  std::string text;
  for (const auto& field : item.encodeArray()) text += field + ":";
  return Utilities::md5HexDigest(text);
}

bool isBinaryDataDescriptor(const QBContentItem& item) {
  return dynamic_cast<const QBBinaryDataDescriptorItem*>(&item) != nullptr;
}

double validateCacheMetaInterval(const QBContentItem& item) {
  std::string name = item.className();
  if (name == "QBSharedFolderListItem" || name == "QBUploadFileHandle") return Timings::current().sharedListValidity;
  if (name == "QBStubFolderListItem") return Timings::current().stubListValidity;
  return kNoInterval;
}

bool validateCacheMetaUponAppClose(const QBContentItem& item) { return item.className() == "QBUserLinksItem"; }

bool validateCacheMetaUponAppClose(const QBContentItem& item, const CacheMeta& meta) {
  if (!isFolderList(item)) return false;
  auto encrypted = meta.find("encrypted");
  return !(encrypted != meta.end() && encrypted->is_number() && encrypted->get<double>() == 0);
}

bool validateCacheMeta(const CacheMeta& meta, QBCacheController& controller) {
  auto prototype = prototypeOf(stringOr(meta, "orig_class"));
  if (!prototype) return false;
  if (!baseValidate(*prototype, meta)) return false;
  if (isBinaryDataDescriptor(*prototype)) return descriptorValidate(meta, controller);
  return true;
}

}  // namespace greyfox
