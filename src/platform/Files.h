// Small file helpers shared by every layer that keeps state on disk.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace greyfox {

// Error domain of local file operations; codes are negated errno values.
inline constexpr const char* kFileErrorDomain = "greyfox.file";

// Writes `bytes` to a file beside `path` and renames it over `path`, so a
// reader (or a crash) sees the old file or the new one, never a torn one.
// The file gets `mode`. Makes missing parent directories (mode 0700).
bool writeFileAtomically(const std::string& path, std::string_view bytes, unsigned mode, ErrorPtr* error);

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

// Makes `path` and its missing parents with `mode`; true when it exists as a
// directory afterwards.
bool makeDirectories(const std::string& path, unsigned mode, ErrorPtr* error);

}  // namespace greyfox
