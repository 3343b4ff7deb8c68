#include "cache/QBCacheIndex.h"

#include "cache/CacheText.h"
#include "diag/Utilities.h"
#include "platform/Clock.h"

namespace greyfox {

void QBCacheIndex::index(const std::string& key, CacheMeta itemMeta, const std::string& versioningHash) {
  if (!itemMeta.is_object()) itemMeta = CacheMeta::object();
  double now = Clock::current().now();
  itemMeta["vhash"] = versioningHash;
  itemMeta["runtimeid"] = Utilities::appRuntimeIdentifier();
  itemMeta["controller_version"] = kCacheControllerVersion;
  itemMeta["lastindex"] = now;
  itemMeta["invalidated"] = false;
  itemMeta["key"] = key;
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  index_[key] = key;
  meta_[key] = std::move(itemMeta);
  lastUpdateTime_ = now;
}

void QBCacheIndex::purgeIndexFor(const std::string& key) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  index_.erase(key);
  meta_.erase(key);
}

bool QBCacheIndex::haveIndexFor(const std::string& key) const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return index_.contains(key);
}

std::optional<CacheMeta> QBCacheIndex::metaFor(const std::string& key) const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  auto it = meta_.find(key);
  if (it == meta_.end()) return std::nullopt;
  return *it;
}

void QBCacheIndex::setMeta(CacheMeta meta, const std::string& key) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  meta_[key] = std::move(meta);
}

void QBCacheIndex::invalidateMetaFor(const std::string& key) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  auto it = meta_.find(key);
  if (it != meta_.end()) (*it)["invalidated"] = true;
}

QBCacheIndexMetaValidation QBCacheIndex::validateMetaFor(
    const std::string& key, const std::function<bool(const CacheMeta&)>& classRule) const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  auto it = meta_.find(key);
  if (it == meta_.end()) return QBCacheIndexMetaMissing;
  const CacheMeta& meta = *it;
  auto invalidated = meta.find("invalidated");
  if (invalidated != meta.end() && invalidated->is_boolean() && invalidated->get<bool>()) {
    return QBCacheIndexMetaInvalid;
  }
  auto version = meta.find("controller_version");
  if (version == meta.end() || !version->is_string() || version->get<std::string>() != kCacheControllerVersion) {
    return QBCacheIndexMetaInvalid;
  }
  return classRule(meta) ? QBCacheIndexMetaValid : QBCacheIndexMetaInvalid;
}

std::vector<CacheMeta> QBCacheIndex::queryUsingPredicate(const CacheMetaPredicate& predicate) const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  std::vector<CacheMeta> matches;
  for (const auto& meta : meta_) {
    if (predicate(meta)) matches.push_back(meta);
  }
  return matches;
}

size_t QBCacheIndex::count() const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return index_.size();
}

double QBCacheIndex::lastUpdateTime() const {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return lastUpdateTime_;
}

std::string QBCacheIndex::archivedData() const {
  // The map is written pair by pair, so the dictionaries are encoded where
  // they are instead of being copied into one document first.
  std::string bytes(1, static_cast<char>(0xA4));  // a CBOR map of four pairs
  auto append = [&bytes](const nlohmann::json& value) { nlohmann::json::to_cbor(value, bytes); };
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  append("$class");
  append("QBCacheIndex");
  append("lastUpdateTime");
  append(lastUpdateTime_);
  append("index");
  append(index_);
  append("meta");
  append(meta_);
  return bytes;
}

std::unique_ptr<QBCacheIndex> QBCacheIndex::unarchiveData(std::string_view bytes, ErrorPtr* error) {
  nlohmann::json root = nlohmann::json::from_cbor(bytes.begin(), bytes.end(), true, false);
  if (root.is_discarded() || !root.is_object()) {
    setError(error, kCacheErrorDomain, -1, "index archive does not decode");
    return nullptr;
  }
  auto cls = root.find("$class");
  auto index = root.find("index");
  auto meta = root.find("meta");
  if (cls == root.end() || *cls != "QBCacheIndex" || index == root.end() || !index->is_object() ||
      meta == root.end() || !meta->is_object()) {
    setError(error, kCacheErrorDomain, -1, "archive is not a cache index");
    return nullptr;
  }
  auto result = std::make_unique<QBCacheIndex>();
  auto time = root.find("lastUpdateTime");
  if (time != root.end() && time->is_number()) result->lastUpdateTime_ = time->get<double>();
  for (const auto& [key, value] : index->items()) {
    if (!value.is_string()) continue;
    auto entry = meta->find(key);
    if (entry == meta->end() || !entry->is_object()) continue;
    result->index_[key] = value;
    result->meta_[key] = *entry;
  }
  return result;
}

CacheMetaPredicate metaEquals(std::string name, std::string value) {
  return [name = std::move(name), value = std::move(value)](const CacheMeta& meta) {
    auto it = meta.find(name);
    return it != meta.end() && it->is_string() && it->get_ref<const std::string&>() == value;
  };
}

CacheMetaPredicate metaEqualsIgnoringCaseAndDiacritics(std::string name, std::string value) {
  return [name = std::move(name), folded = cacheFoldCaseAndDiacritics(value)](const CacheMeta& meta) {
    auto it = meta.find(name);
    return it != meta.end() && it->is_string() &&
           cacheFoldCaseAndDiacritics(it->get_ref<const std::string&>()) == folded;
  };
}

}  // namespace greyfox
