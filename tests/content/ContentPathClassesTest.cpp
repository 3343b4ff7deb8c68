// The content controller's path classes: pure tests on path strings, split
// the platform's way ("/Trash/" has the components "/", "Trash", "/").
#include <gtest/gtest.h>

#include "content/QBContentController.h"

namespace greyfox {
namespace {

TEST(ContentPathClasses, SplitKeepsTheRootAndATrailingSlash) {
  using V = std::vector<std::string>;
  EXPECT_EQ(QBContentController::splitComponents("/Trash/"), (V{"/", "Trash", "/"}));
  EXPECT_EQ(QBContentController::splitComponents("//Shared Folders//bob"), (V{"/", "Shared Folders", "bob"}));
  EXPECT_EQ(QBContentController::splitComponents("/"), (V{"/"}));
  EXPECT_EQ(QBContentController::splitComponents(""), (V{}));
}

TEST(ContentPathClasses, TrashSharedAndTopLevelFolders) {
  struct Case {
    const char* name;
    const char* path;
    bool trash, shared, trashRoot, sharedRoot;
  };
  const Case cases[] = {
      {"root", "/", false, false, false, false},
      {"empty", "", false, false, false, false},
      {"trash", "/Trash", true, false, true, false},
      {"trash slash", "/Trash/", true, false, true, false},
      {"in trash", "/Trash/a.txt", true, false, false, false},
      {"in trash slash", "/Trash/a/", true, false, false, false},
      {"shared root", "/Shared Folders", false, false, false, true},
      {"shared root slash", "/Shared Folders/", false, false, false, true},
      {"shared user", "/Shared Folders/bob@x", false, true, false, false},
      {"in shared", "/Shared Folders/bob@x/Projects/a", false, true, false, false},
      {"nested names", "/Documents/Trash", false, false, false, false},
      {"nested shared", "/Documents/Shared Folders/bob", false, false, false, false},
      {"prefix only", "/TrashCan", false, false, false, false},
      {"other case", "/trash", false, false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QBContentController::isTrashFolder(c.path), c.trash) << c.name;
    EXPECT_EQ(QBContentController::isSharedFolder(c.path), c.shared) << c.name;
    EXPECT_EQ(QBContentController::isPath(c.path, "Trash"), c.trashRoot) << c.name;
    EXPECT_EQ(QBContentController::isPath(c.path, "Shared Folders"), c.sharedRoot) << c.name;
  }
}

}  // namespace
}  // namespace greyfox
