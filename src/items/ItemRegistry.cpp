// The table from class name to class that unarchiving and the cache use to
// make an item of a class named in stored data. Every content item class is
// listed here, so none depends on static registration surviving the link.
#include <functional>
#include <map>

#include "items/QBAccountItems.h"
#include "items/QBAnonymousItem.h"
#include "items/QBBinaryDataDescriptorItem.h"
#include "items/QBContentItem.h"
#include "items/QBFSIdItem.h"
#include "items/QBFileItem.h"
#include "items/QBFolderItem.h"
#include "items/QBFolderListItem.h"
#include "items/QBSharingItems.h"
#include "items/QBSynchedItem.h"
#include "items/QBUploadFileHandle.h"
#include "items/QBUserSessionItem.h"

namespace greyfox {

namespace {

using Factory = std::function<std::shared_ptr<QBContentItem>()>;

template <class T>
std::pair<const std::string_view, Factory> entry() {
  return {T::kClassName, [] { return std::make_shared<T>(); }};
}

const std::map<std::string_view, Factory>& registry() {
  static const std::map<std::string_view, Factory> kClasses{
      entry<QBContentItem>(),
      entry<QBFileItem>(),
      entry<QBSharedFileItem>(),
      entry<QBFileInfoItem>(),
      entry<QBFileThumbnailItem>(),
      entry<QBFolderItem>(),
      entry<QBSharedFolderItem>(),
      entry<QBFolderInfoItem>(),
      entry<QBFolderListItem>(),
      entry<QBSharedFolderListItem>(),
      entry<QBTrashFolderListItem>(),
      entry<QBSharedUsersFolderListItem>(),
      entry<QBStubFolderListItem>(),
      entry<QBSynchedItem>(),
      entry<QBSharedXAttrs>(),
      entry<QBAnonymousItem>(),
      entry<QBUserSessionItem>(),
      entry<QBSharingUserItem>(),
      entry<QBSharingUsersItem>(),
      entry<QBFSIdItem>(),
      entry<QBFolderFSIdItem>(),
      entry<QBBinaryDataDescriptorItem>(),
      entry<QBUploadFileHandle>(),
      entry<QBChunkUploadResult>(),
      entry<QBUserInfoItem>(),
      entry<QBUserLinksItem>(),
      entry<QBNotificationsItem>(),
  };
  return kClasses;
}

}  // namespace

std::shared_ptr<QBContentItem> QBContentItem::instanceOfClass(std::string_view className) {
  const auto& classes = registry();
  auto it = classes.find(className);
  if (it == classes.end()) return nullptr;
  return it->second();
}

}  // namespace greyfox
