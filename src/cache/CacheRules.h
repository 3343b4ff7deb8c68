// How each content item class is cached: under which key and class index,
// which meta entries it records, and how long a cached copy stays valid.
// The rules dispatch on the item's class (subclasses inherit their base's
// rules unless they override them):
//
//   class                              key           index class        validity
//   QBContentItem (all others)         identifier    own class          versioning hash only
//   QBFolderListItem and subclasses    identifier    QBFolderListItem   run-bound unless "encrypted" is 0
//     QBSharedFolderListItem                                            sharedListValidity
//     QBStubFolderListItem                                              stubListValidity
//   QBFSIdItem, QBFolderFSIdItem       path lower    QBFSIdItem         base
//   QBBinaryDataDescriptorItem         identifier    own class          base, then the file's date rule
//   QBUploadFileHandle                                                  sharedListValidity
//   QBUserLinksItem                                                     run-bound
//
// Pure functions of the item and the meta; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cache/QBCacheIndex.h"

namespace greyfox {

class QBContentItem;
class QBCacheController;

// The item's cache key; nullopt when it has none (an empty identifier or path).
std::optional<std::string> cacheIndexKey(const QBContentItem& item);
// The name of the class index the item is kept under.
std::string cacheIndexClass(const QBContentItem& item);
// The same for a class named `className`; `className` itself when unknown.
std::string cacheIndexClassOf(std::string_view className);
// The class's own meta entries: "orig_class", and per class "path", "files",
// "folders", "encrypted", "identifier".
CacheMeta cacheIndexMeta(const QBContentItem& item);
// MD5 hex of "<field>:" for each archived field of the item's class, in order.
std::string cacheIndexVersioningHash(const QBContentItem& item);
bool isBinaryDataDescriptor(const QBContentItem& item);

// Seconds a cached copy of the item's class stays valid, NaN for no limit.
double validateCacheMetaInterval(const QBContentItem& item);
// Whether cached copies of the class are trusted only within the run that
// stored them (a class-wide rule, and one that reads the meta).
bool validateCacheMetaUponAppClose(const QBContentItem& item);
bool validateCacheMetaUponAppClose(const QBContentItem& item, const CacheMeta& meta);

// Whether `meta` describes a copy still valid, by the rules of the class its
// "orig_class" names; false for an unknown class. Descriptors are checked
// against their file's cached item through `controller`.
bool validateCacheMeta(const CacheMeta& meta, QBCacheController& controller);

}  // namespace greyfox
