// A fresh directory per test with every client path moved under it, removed
// again at the end. Tests of every layer use it so none touches the user's
// own files.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/Paths.h"

namespace greyfox::testing {

class TempRoot {
 public:
  TempRoot() {
    char pattern[] = "/tmp/greyfox-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    root_ = made ? made : "";
    Paths::install(Paths::underRoot(root_));
  }
  ~TempRoot() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return root_; }

 private:
  std::string root_;
};

}  // namespace greyfox::testing
