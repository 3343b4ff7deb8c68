#include "content/VolumePath.h"

namespace greyfox {

std::vector<std::string> pathComponents(std::string_view path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string_view::npos) j = path.size();
    if (j > i) parts.emplace_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

std::string standardizedPath(std::string_view path) {
  if (path.empty()) return {};
  bool absolute = path.front() == '/';
  std::vector<std::string> kept;
  for (auto& part : pathComponents(path)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!kept.empty() && kept.back() != "..") {
        kept.pop_back();
      } else if (!absolute) {
        kept.push_back(part);
      }
      continue;
    }
    kept.push_back(part);
  }
  std::string out;
  for (const auto& part : kept) {
    if (absolute || !out.empty()) out.push_back('/');
    out.append(part);
  }
  if (absolute && out.empty()) out.push_back('/');
  return out.empty() ? std::string(".") : out;
}

std::string parentPath(std::string_view path) {
  std::string p = standardizedPath(path);
  auto slash = p.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

std::string lastComponent(std::string_view path) {
  auto parts = pathComponents(path);
  return parts.empty() ? std::string() : parts.back();
}

std::string appendComponent(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (out.empty() || out.back() != '/') out += '/';
  out += name;
  return out;
}

}  // namespace greyfox
