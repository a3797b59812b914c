// Helpers of the filter programs' tests: the installed map.ini, fixtures, and runs of the built
// programs on a copy of a fixture.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/scramble.h"
#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"
#include "platform/process.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"

namespace feedtest {

using vtxtest::ReadFile;
using vtxtest::WriteFile;

// A fixture of tests/filters/<program>/fixtures.
inline std::string Fixture(const std::string& program, const std::string& name) {
  return ReadFile(vtxtest::SourcePath("tests/filters/" + program + "/fixtures/" + name));
}

// The map.ini that is installed beside the programs.
inline bool LoadInstalledMap(CMapIni& map) {
  std::string path = vtxtest::SourcePath("resources/filters/map.ini");
  return SUCCEEDED(LoadIniFile(&map, path.c_str(), g_MapIniTable, kMapIniTableRows));
}

// The text a conversion wrote (before scrambling).
inline std::string Text(const CFilterOutput& out) { return std::string(out.Text(), out.Length()); }

// The "[EUR]" lines of a rates text, in order, as "CODE = value".
inline std::vector<std::string> RateLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = text.find("[EUR]\r\n");
  if (at == std::string::npos) return lines;
  std::istringstream in(text.substr(at + 7));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '[') break;
    lines.push_back(line);
  }
  return lines;
}

// The value of the rate line of a code, or a negative number when there is none.
inline double Rate(const std::string& text, const std::string& code) {
  for (const std::string& line : RateLines(text))
    if (line.compare(0, code.size() + 3, code + " = ") == 0) return std::strtod(line.c_str() + code.size() + 3, nullptr);
  return -1;
}

// The value of a key as the server's INI reader reads the rates text, or "(none)" when the text
// does not read or lacks the key.
inline std::string IniValue(const std::string& text, const std::string& key) {
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text.c_str()) || ini.Load(nullptr, 0) != 0) return "(unreadable)";
  for (uint32_t i = 0; i < ini.GetCount(); ++i) {
    const char* name = CIniDataBuffer<char>::GetName(ini[i]);
    if (name && key == name) {
      const char* value = CIniDataBuffer<char>::GetStringValue(ini[i]);
      return value ? value : "";
    }
  }
  return "(none)";
}

struct Run {
  DWORD code = 0xFFFFFFFF;
  std::string file;  // the file afterwards, unscrambled when the run succeeded
};

// Runs the built program as the server does (file, address, filter name, index) on a copy of
// `input`.
inline Run RunFilter(const std::string& program, const std::string& input,
                     std::vector<std::string> args = {"http://example.com/rates", "filter", "0"}) {
  vtxtest::TempDir dir;
  std::string path = dir / "download.tmp";
  WriteFile(path, input);
  std::string exe = vtxtest::Program(program);
  std::vector<std::string> all = {exe, path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  Run run;
  pid_t pid = fork();
  if (pid == 0) {
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || !vtxtest::WaitStatus(pid, &status)) return run;
  run.code = vtx::CodeFromWaitStatus(status);
  run.file = ReadFile(path);
  if (run.code == 0) ScrambleBuffer(run.file.data(), static_cast<uint32_t>(run.file.size()));
  return run;
}

// The built program converts a fixture into exactly its expected rates file, marked as ours.
inline void ExpectFixtureConverts(const std::string& program, const std::string& input, const std::string& expected) {
  Run run = RunFilter(program, Fixture(program, input));
  ASSERT_EQ(run.code, 0u) << input;
  EXPECT_EQ(run.file, Fixture(program, expected)) << input;
  EXPECT_EQ(IniValue(run.file, "Application"), kFilterApplication) << input;
}

}  // namespace feedtest
