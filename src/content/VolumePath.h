// Helpers for volume paths: absolute, slash-separated paths rooted at the
// volume ("/" is the root). Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace greyfox {

// The path with redundant parts removed: repeated slashes, "." components,
// ".." components (which climb, but never above the root of an absolute
// path) and a trailing slash. "" stays "", "/" stays "/".
std::string standardizedPath(std::string_view path);

// The non-empty components of a path ("/a//b/" -> {"a", "b"}).
std::vector<std::string> pathComponents(std::string_view path);

// The parent folder of a standardized path ("/a/b" -> "/a", "/a" -> "/").
std::string parentPath(std::string_view path);

// The last component ("/a/b" -> "b", "/" -> "").
std::string lastComponent(std::string_view path);

// `folder` joined with `name` by one slash.
std::string appendComponent(std::string_view folder, std::string_view name);

}  // namespace greyfox
