// Runs a command through the shell, or Debian's Python on a script (the reference that a result
// is checked against), and returns what it printed.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/files.h"

namespace vtxtest {

// The command's standard output; `status` gets its exit status (-1 when it did not exit).
inline std::string RunCommand(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

// The script's standard output; `input` is its standard input.
inline std::string RunPython(const std::string& script, const std::string& input = "", int* status = nullptr) {
  TempDir dir;
  std::ofstream(dir / "script.py") << script;
  std::ofstream(dir / "input", std::ios::binary) << input;
  return RunCommand("/usr/bin/python3 " + (dir / "script.py") + " < " + (dir / "input"), status);
}

}  // namespace vtxtest
