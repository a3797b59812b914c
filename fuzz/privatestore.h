// A private registry store and runtime folder for a fuzz target, removed when the target ends.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/native/productpaths.h"

namespace fuzzstore {

// Makes /tmp/vtx-<name>-fuzz-XXXXXX and points the store's overrides there.
inline void UsePrivateStore(const char* name) {
  static std::string dir;
  dir = std::string("/tmp/vtx-") + name + "-fuzz-XXXXXX";
  if (!mkdtemp(dir.data())) std::abort();
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
  setenv(vtx::env::kRegistry, (dir + "/registry.db").c_str(), 1);
  setenv(vtx::env::kRuntimeDir, dir.c_str(), 1);
}

}  // namespace fuzzstore
