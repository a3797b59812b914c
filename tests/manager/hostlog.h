// The log of the test hosts that run vtxmanager's main as a process: one line each, appended to
// the file $VTX_MANAGER_LOG names.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vtxtest {

inline void HostLog(const std::string& line) {
  const char* path = std::getenv("VTX_MANAGER_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

}  // namespace vtxtest
