#include "cache/QBCacheController.h"

#include "cache/CacheGuard.h"
#include "cache/CacheRules.h"
#include "diag/Log.h"
#include "items/QBContentItem.h"

namespace greyfox {

namespace {

std::mutex sharedMutex;
std::shared_ptr<QBCacheController> sharedInstance;  // guarded by sharedMutex

// The key of an item fit to be cached, or nullopt with `error` and a log line.
std::optional<std::string> checkItem(const QBContentItemPtr& item, ErrorPtr* error) {
  const char* reason = nullptr;
  std::optional<std::string> key;
  if (!item) {
    reason = "cache controller received nil item!";
  } else {
    key = cacheIndexKey(*item);
    if (!key) reason = "cache controller received item without .cacheIndexKey!";
  }
  if (reason) {
    QBLOG("Caught exception %s in QBCacheController.checkItem() with the reason %s", kCacheErrorDomain, reason);
    setError(error, kCacheErrorDomain, -1, reason);
  }
  return key;
}

}  // namespace

std::shared_ptr<QBCacheController> QBCacheController::cacheControllerAt(const std::string& rootPath, ErrorPtr* error) {
  std::shared_ptr<QBCacheController> controller;
  try {
    controller = std::make_shared<QBCacheController>(rootPath);
  } catch (const QBCacheException& e) {
    QBLOG("Caught exception %s in QBCacheController.cacheControllerAt with the reason %s", e.name().c_str(), e.what());
    setError(error, kCacheErrorDomain, -1, e.what());
    return nullptr;
  } catch (const std::exception& e) {
    QBLOG("Caught exception %s in QBCacheController.cacheControllerAt with the reason %s", "std::exception", e.what());
    setError(error, kCacheErrorDomain, -1, e.what());
    return nullptr;
  }
  setSharedController(controller);
  return controller;
}

std::shared_ptr<QBCacheController> QBCacheController::sharedController() {
  std::lock_guard<std::mutex> guard(sharedMutex);
  return sharedInstance;
}

void QBCacheController::setSharedController(std::shared_ptr<QBCacheController> controller) {
  // The previous controller is released outside the lock: its destructor
  // writes its pending indexes.
  std::shared_ptr<QBCacheController> previous;
  {
    std::lock_guard<std::mutex> guard(sharedMutex);
    previous = std::exchange(sharedInstance, std::move(controller));
  }
}

QBCacheController::QBCacheController(const std::string& rootPath)
    : backend_(std::make_unique<QBCacheFileBackend>(rootPath)), writer_(std::make_unique<CacheIndexWriter>(*backend_)) {}

QBCacheController::~QBCacheController() { writer_.reset(); }

void QBCacheController::flush() { writer_->flush(); }

std::shared_ptr<QBCacheIndex> QBCacheController::indexOf(std::string_view className) {
  std::lock_guard<std::recursive_mutex> guard(indexTableLock_);
  auto it = indexes_.find(className);
  if (it != indexes_.end()) return it->second;
  std::shared_ptr<QBCacheIndex> index;
  guardCacheCall("QBCacheController.indexOf", [&] { index = backend_->restoreIndex(std::string(className)); });
  if (!index) index = std::make_shared<QBCacheIndex>();
  indexes_.emplace(std::string(className), index);
  return index;
}

QBContentItemPtr QBCacheController::fetchLocked(QBCacheIndex& index, const std::string& key,
                                                const std::string& indexClass) {
  QBContentItemPtr item;
  guardCacheCall("QBCacheController.fetchItemWithKey", [&] {
    QBCacheIndexMetaValidation validation =
        index.validateMetaFor(key, [this](const CacheMeta& meta) { return validateCacheMeta(meta, *this); });
    if (validation == QBCacheIndexMetaInvalid) {
      QBLOG("QBCacheController.fetchItemWithKey: QBCacheIndexMetaInvalid");
    } else if (validation == QBCacheIndexMetaValid) {
      item = backend_->restoreItem(key, indexClass);
      if (!item) {
        index.purgeIndexFor(key);
        writer_->scheduleWrite(indexOf(indexClass), indexClass);
        QBLOG("QBCacheController.fetchItemWithKey: index purged.");
      }
    }
  });
  if (item && isBinaryDataDescriptor(*item) && !binaryDataCoversDescriptor(*item)) {
    // The bytes on disk are fewer than the descriptor counts (a crash or a
    // hand-edited file): the data must be downloaded again.
    index.invalidateMetaFor(key);
    writer_->scheduleWrite(indexOf(indexClass), indexClass);
    item = nullptr;
  }
  if (!item) QBLOG("Item was not restored for: %s", key.c_str());
  return item;
}

QBContentItemPtr QBCacheController::fetchItemWithKey(const std::string& key, std::string_view className) {
  std::string indexClass = cacheIndexClassOf(className);
  std::shared_ptr<QBCacheIndex> index = indexOf(indexClass);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  return fetchLocked(*index, key, indexClass);
}

std::vector<QBContentItemPtr> QBCacheController::fetchItemsUsing(const CacheMetaPredicate& predicate,
                                                                 std::string_view className) {
  std::string indexClass = cacheIndexClassOf(className);
  std::shared_ptr<QBCacheIndex> index = indexOf(indexClass);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  std::vector<QBContentItemPtr> items;
  for (const CacheMeta& meta : index->queryUsingPredicate(predicate)) {
    auto key = meta.find("key");
    if (key == meta.end() || !key->is_string()) continue;
    if (auto item = fetchLocked(*index, key->get<std::string>(), indexClass)) items.push_back(std::move(item));
  }
  return items;
}

QBContentItemPtr QBCacheController::fetchItemWithPredicate(const CacheMetaPredicate& predicate,
                                                           std::string_view className, ErrorPtr* error) {
  std::string indexClass = cacheIndexClassOf(className);
  std::shared_ptr<QBCacheIndex> index = indexOf(indexClass);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  std::vector<CacheMeta> matches = index->queryUsingPredicate(predicate);
  if (matches.size() > 1) {
    std::string reason =
        "fetch item with predicate query resulted in more than 1 row (" + std::to_string(matches.size()) + ").";
    QBLOG("QBCacheController: %s", reason.c_str());
    setError(error, kCacheErrorDomain, -1, reason);
    return nullptr;
  }
  if (matches.empty()) return nullptr;
  auto key = matches.front().find("key");
  if (key == matches.front().end() || !key->is_string()) return nullptr;
  return fetchLocked(*index, key->get<std::string>(), indexClass);
}

std::optional<CacheMeta> QBCacheController::fetchMetaOfItem(const QBContentItemPtr& item, ErrorPtr* error) {
  std::optional<std::string> key = checkItem(item, error);
  if (!key) return std::nullopt;
  return indexOf(cacheIndexClass(*item))->metaFor(*key);
}

std::optional<CacheMeta> QBCacheController::fetchMetaOfItemWithKey(const std::string& key,
                                                                  std::string_view className) {
  return indexOf(cacheIndexClassOf(className))->metaFor(key);
}

bool QBCacheController::storeItem(const QBContentItemPtr& item, ErrorPtr* error) {
  std::optional<std::string> key = checkItem(item, error);
  if (!key) return false;
  std::string indexClass = cacheIndexClass(*item);
  std::shared_ptr<QBCacheIndex> index = indexOf(indexClass);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  index->index(*key, cacheIndexMeta(*item), cacheIndexVersioningHash(*item));
  guardCacheCall("QBCacheBackend.storeItem()", [&] { backend_->storeItem(item); });
  writer_->scheduleWrite(index, indexClass);
  return true;
}

void QBCacheController::touchItemForcedWithKey(const std::string& key, std::string_view className) {
  if (auto item = fetchItemWithKey(key, className)) storeItem(item);
}

void QBCacheController::purgeLocked(const std::shared_ptr<QBCacheIndex>& index, const std::string& key,
                                    const std::string& indexClass) {
  index->purgeIndexFor(key);
  writer_->scheduleWrite(index, indexClass);
  guardCacheCall("[QBCacheFileBackend purgeItemWithKey:of:]", [&] { backend_->purgeItemWithKey(key, indexClass); });
}

void QBCacheController::purgeItemWithKey(const std::string& key, std::string_view className) {
  std::string indexClass = cacheIndexClassOf(className);
  std::shared_ptr<QBCacheIndex> index = indexOf(indexClass);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  purgeLocked(index, key, indexClass);
}

bool QBCacheController::purgeItem(const QBContentItemPtr& item, ErrorPtr* error) {
  std::optional<std::string> key = checkItem(item, error);
  if (!key) return false;
  purgeItemWithKey(*key, item->className());
  return true;
}

void QBCacheController::purgeItemForced(const QBContentItemPtr& item) {
  if (!item) return;
  if (std::optional<std::string> key = cacheIndexKey(*item)) purgeItemForcedWithKey(*key, item->className());
}

void QBCacheController::purgeItemForcedWithKey(const std::string& key, std::string_view className) {
  std::string indexClass = cacheIndexClassOf(className);
  std::shared_ptr<QBCacheIndex> index = indexOf(indexClass);
  std::lock_guard<std::recursive_mutex> guard(index->lock());
  if (index->haveIndexFor(key)) purgeLocked(index, key, indexClass);
}

void QBCacheController::invalidateItem(const QBContentItemPtr& item) {
  if (!item) return;
  if (std::optional<std::string> key = cacheIndexKey(*item)) invalidateItemWithKey(*key, item->className());
}

void QBCacheController::invalidateItemWithKey(const std::string& key, std::string_view className) {
  std::string indexClass = cacheIndexClassOf(className);
  std::shared_ptr<QBCacheIndex> index = indexOf(indexClass);
  {
    std::lock_guard<std::recursive_mutex> guard(index->lock());
    if (!index->haveIndexFor(key)) return;
    index->invalidateMetaFor(key);
  }
  // Written at once: a later run must not trust an entry this run found stale.
  writer_->writeNow(index, indexClass);
}

}  // namespace greyfox
