// A private registry store and runtime folder for a fuzz target, removed when the target ends.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>

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
  setenv("VANTREX_REGISTRY", (dir + "/registry.db").c_str(), 1);
  setenv("VANTREX_RUNTIME_DIR", dir.c_str(), 1);
}

}  // namespace fuzzstore
