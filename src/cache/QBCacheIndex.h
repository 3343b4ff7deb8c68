// The index of one item class in the cache: which keys are cached, and for
// each a meta dictionary by which the controller judges whether the cached
// copy may still be used.
//
// Every member locks the index's own monitor, so single calls are safe from
// any thread; a caller that needs several calls to see one state (validate
// then restore, query then fetch) holds lock() around them. Lock order: taken
// after the controller's lock, before the controller's index-table lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Error.h"

namespace greyfox {

// A meta dictionary: a JSON object keyed by the meta names ("vhash", "path"...).
using CacheMeta = nlohmann::json;
using CacheMetaPredicate = std::function<bool(const CacheMeta& meta)>;

enum QBCacheIndexMetaValidation {
  QBCacheIndexMetaInvalid = 1,
  QBCacheIndexMetaMissing = 2,
  QBCacheIndexMetaValid = 3,
};

// Domain of the errors the cache reports.
inline constexpr const char* kCacheErrorDomain = "QBCacheController";

// The version every meta records; another value makes the entry invalid.
inline constexpr const char* kCacheControllerVersion = "1.0";

class QBCacheIndex {
 public:
  QBCacheIndex() = default;
  QBCacheIndex(const QBCacheIndex&) = delete;
  QBCacheIndex& operator=(const QBCacheIndex&) = delete;

  // The index's monitor, for callers that span several calls.
  std::recursive_mutex& lock() const { return mutex_; }

  // Records `key` with `itemMeta` (the item class's own entries) plus "vhash"
  // = `versioningHash`, "runtimeid" = this run's identifier,
  // "controller_version", "lastindex" = now, "invalidated" = false and "key".
  // A second indexing of the key replaces its meta whole.
  void index(const std::string& key, CacheMeta itemMeta, const std::string& versioningHash);
  void purgeIndexFor(const std::string& key);
  bool haveIndexFor(const std::string& key) const;
  // A copy of the key's meta, or nullopt when the key has none.
  std::optional<CacheMeta> metaFor(const std::string& key) const;
  void setMeta(CacheMeta meta, const std::string& key);
  // Sets "invalidated" of the key's meta, when it has one.
  void invalidateMetaFor(const std::string& key);
  // Missing without meta; Invalid when marked invalidated or of another
  // controller version; otherwise Valid exactly when `classRule` accepts the
  // meta. `classRule` runs with this index locked.
  QBCacheIndexMetaValidation validateMetaFor(const std::string& key,
                                             const std::function<bool(const CacheMeta&)>& classRule) const;
  // Copies of the metas that `predicate` accepts, in key order.
  std::vector<CacheMeta> queryUsingPredicate(const CacheMetaPredicate& predicate) const;
  size_t count() const;
  double lastUpdateTime() const;

  // The archive: a CBOR map {"$class": "QBCacheIndex", "lastUpdateTime",
  // "index", "meta"}.
  std::string archivedData() const;
  // The index an archive holds; nullptr (and `error`) when the bytes are not
  // such an archive. Entries of a foreign shape are dropped one by one.
  static std::unique_ptr<QBCacheIndex> unarchiveData(std::string_view bytes, ErrorPtr* error);

 private:
  mutable std::recursive_mutex mutex_;
  double lastUpdateTime_ = 0;                      // guarded by mutex_
  nlohmann::json index_ = nlohmann::json::object();  // key -> key; guarded by mutex_
  nlohmann::json meta_ = nlohmann::json::object();   // key -> meta; guarded by mutex_
};

// Predicates over meta dictionaries, for queryUsingPredicate.
// The string entry `name` equals `value` exactly.
CacheMetaPredicate metaEquals(std::string name, std::string value);
// The string entry `name` equals `value` ignoring case and diacritics.
CacheMetaPredicate metaEqualsIgnoringCaseAndDiacritics(std::string name, std::string value);

}  // namespace greyfox
