#include "content/VolumePath.h"

#include <gtest/gtest.h>

namespace greyfox {
namespace {

TEST(VolumePath, StandardizedPathRemovesRedundantParts) {
  struct Case {
    const char* name;
    const char* in;
    const char* out;
  } cases[] = {
      {"root", "/", "/"},
      {"empty", "", ""},
      {"trailing slash", "/Trash/", "/Trash"},
      {"double slashes", "//a///b", "/a/b"},
      {"dot components", "/a/./b/.", "/a/b"},
      {"dot dot climbs", "/a/b/../c", "/a/c"},
      {"dot dot stops at root", "/../../a", "/a"},
      {"only dot dot", "/..", "/"},
      {"decomposed name kept", "/Cafe\xcc\x81/", "/Cafe\xcc\x81"},
  };
  for (const auto& c : cases) EXPECT_EQ(standardizedPath(c.in), c.out) << c.name;
}

TEST(VolumePath, ParentAndLastComponent) {
  EXPECT_EQ(parentPath("/a/b/"), "/a");
  EXPECT_EQ(parentPath("/a"), "/");
  EXPECT_EQ(lastComponent("/a/b/"), "b");
  EXPECT_EQ(lastComponent("/"), "");
  EXPECT_EQ(appendComponent("/", "x"), "/x");
  EXPECT_EQ(appendComponent("/a", "x"), "/a/x");
}

}  // namespace
}  // namespace greyfox
