#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "platform/sync.h"
#include "tests/support/files.h"

using vtxtest::TempDir;

namespace {

void WriteScript(const TempDir& dir, const std::string& name, const std::string& body) {
  ASSERT_TRUE(vtxtest::WriteScript(dir / name, body + "\n"));
}

// A process that is gone or a zombie no longer runs.
bool ProcessRuns(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return false;
  std::string line;
  std::getline(stat, line);
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

bool ProcessExists(pid_t pid) { return access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0; }

template <class F>
bool Eventually(F f) {
  for (int i = 0; i < 500; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST(ExitCodes, EncodeAndDecode) {
  struct Case {
    DWORD code;
    int status;
    DWORD back;
  } cases[] = {
      {0, 0, 0},
      {0x80042000, 16, 0x80042000},  // family 1, low 0
      {0x80042001, 17, 0x80042001},
      {0x80044004, 36, 0x80044004},
      {0x80046002, 50, 0x80046002},
      {0x8004600A, 58, 0x8004600A},
      {0x80048000, 64, 0x80048000},
      {0x8004C003, 99, 0x8004C003},
      {0x8004E00F, 127, 0x8004E00F},
      {0x80040005, 1, E_FAIL},       // family 0 cannot be carried
      {0x80042010, 1, E_FAIL},       // low bits above 15
      {0x80070002, 1, E_FAIL},       // another facility
      {7, 7, E_FAIL},                // small plain codes stay, and read back as a failure
      {200, 1, E_FAIL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(vtx::ExitStatusFromCode(c.code), c.status);
    EXPECT_EQ(vtx::CodeFromExitStatus(c.status), c.back);
  }
  EXPECT_EQ(vtx::CodeFromExitStatus(128), E_FAIL);
  EXPECT_EQ(vtx::CodeFromExitStatus(255), E_FAIL);
}

TEST(ExitCodes, ExitWithCodeEndsTheProgram) {
  EXPECT_EXIT(vtx::ExitWithCode(0x8004C001), testing::ExitedWithCode(97), "");
  EXPECT_EXIT(vtx::ExitWithCode(0x80070057), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(vtx::ExitWithCode(0), testing::ExitedWithCode(0), "");
}

TEST(SplitParameterText, WindowsRules) {
  using V = std::vector<std::string>;
  struct Case {
    const char* text;
    V args;
  } cases[] = {
      {"", V{}},
      {"  \t ", V{}},
      {"a b\tc", V{"a", "b", "c"}},
      {"\"a b\" c", V{"a b", "c"}},
      {"\"\" x", V{"", "x"}},
      {"pre\"fix mid\"post", V{"prefix midpost"}},
      {"a\\\\b", V{"a\\\\b"}},                  // backslashes without a quote are literal
      {"C:\\dir\\ x", V{"C:\\dir\\", "x"}},
      {"\\\"quoted\\\"", V{"\"quoted\""}},      // 1 backslash + quote: literal quote
      {"\"a\\\\\" b", V{"a\\", "b"}},           // 2 backslashes + quote: 1 backslash, closes
      {"\"a\\\\\\\"b\"", V{"a\\\"b"}},          // 3 backslashes + quote
      {"\"say \"\"hi\"\"\"", V{"say \"hi\""}},  // "" inside quotes
      {"\"open to the end", V{"open to the end"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(vtx::SplitParameterText(c.text), c.args);
  }
  EXPECT_TRUE(vtx::SplitParameterText(nullptr).empty());
}

class Programs : public testing::Test {
 protected:
  TempDir dir;
  vtx::ProgramStart Start(const std::string& program, std::vector<std::string> args = {}) {
    vtx::ProgramStart s;
    s.program = program;
    s.arguments = std::move(args);
    s.directory = dir.path();
    return s;
  }
};

TEST_F(Programs, FilterRewritesItsFileWithExactArguments) {
  // Writes its arguments one per line over the file named first, from the folder it runs in.
  WriteScript(dir, "rewrite", "f=\"$1\"; { pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$f\"");
  std::string file = dir / "input.tmp";
  ASSERT_EQ(vtx::WriteWholeFile(file.c_str(), "old", 3), S_OK);
  const std::string url = "http://host/a b\"c?x=1&y=$HOME";
  DWORD code = 123;
  ASSERT_EQ(vtx::RunProgram(Start("rewrite", {file, url, "Bank.ini", "-1"}), 5000, &code), S_OK);
  EXPECT_EQ(code, 0u);
  char real[4096];
  ASSERT_TRUE(realpath(dir.path().c_str(), real));
  EXPECT_EQ(vtxtest::ReadFile(file), std::string(real) + "\n" + file + "\n" + url + "\nBank.ini\n-1\n");
}

TEST_F(Programs, NameCaseAndExeEndingAreTolerated) {
  WriteScript(dir, "sovfeed", "exit 0");
  DWORD code = 1;
  EXPECT_EQ(vtx::RunProgram(Start("SovFeed.EXE"), 5000, &code), S_OK);
  EXPECT_EQ(code, 0u);
}

TEST_F(Programs, ExitStatusIsDecoded) {
  struct Case {
    const char* body;
    DWORD code;
  } cases[] = {
      {"exit 0", 0},
      {"exit 99", 0x8004C003},
      {"exit 17", 0x80042001},
      {"exit 1", E_FAIL},
      {"exit 200", E_FAIL},
      {"kill -TERM $$", E_KILLED_BY_SIGNAL},
      {"kill -SEGV $$", E_KILLED_BY_SIGNAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    WriteScript(dir, "f", c.body);
    DWORD code = 0xDEAD;
    EXPECT_EQ(vtx::RunProgram(Start("f"), 5000, &code), S_OK);
    EXPECT_EQ(code, c.code);
  }
}

TEST_F(Programs, HungProgramAndItsChildrenAreKilledAtTheLimit) {
  std::string pidFile = dir / "child.pid";
  WriteScript(dir, "hang", "sleep 60 & echo $! > '" + pidFile + "'; wait");
  DWORD code = 0;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(vtx::RunProgram(Start("hang"), 300, &code), E_TIMEOUT);
  EXPECT_EQ(code, E_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
  std::string pid = vtxtest::ReadFile(pidFile);
  ASSERT_FALSE(pid.empty());
  pid_t grandchild = std::stoi(pid);
  EXPECT_TRUE(Eventually([&] { return !ProcessRuns(grandchild); }));
}

// A program that stops kills the program it waits for, with its children, whatever its limit.
TEST_F(Programs, AStopEndsTheWaitAndTheProgram) {
  std::string pidFile = dir / "child.pid";
  WriteScript(dir, "hang", "sleep 60 & echo $! > '" + pidFile + "'; wait");
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    vtx::sync::RequestStop();
  });
  DWORD code = 0;
  auto t0 = std::chrono::steady_clock::now();
  HRESULT hr = vtx::RunProgram(Start("hang"), INFINITE, &code);
  auto waited = std::chrono::steady_clock::now() - t0;
  stopper.join();
  vtx::sync::ClearStop();
  EXPECT_EQ(hr, 0x800703E3u);
  EXPECT_EQ(code, 0x800703E3u);
  EXPECT_LT(waited, std::chrono::seconds(10));
  std::string pid = vtxtest::ReadFile(pidFile);
  ASSERT_FALSE(pid.empty());
  pid_t grandchild = std::stoi(pid);
  EXPECT_TRUE(Eventually([&] { return !ProcessRuns(grandchild); }));
  // Taken back, the next program runs to its end.
  WriteScript(dir, "ok", "exit 0");
  EXPECT_EQ(vtx::RunProgram(Start("ok"), 5000, &code), S_OK);
}

TEST_F(Programs, StartFailures) {
  DWORD code = 0;
  EXPECT_EQ(vtx::RunProgram(Start("missing"), 1000, &code), 0x80070002u);
  EXPECT_EQ(code, 0x80070002u);
  std::ofstream(dir / "plain") << "#!/bin/sh\nexit 0\n";  // not executable
  EXPECT_EQ(vtx::RunProgram(Start("plain"), 1000, &code), E_ACCESSDENIED);
  std::string garbage = dir / "garbage";
  std::ofstream(garbage) << "\x01\x02\x03 not a program";
  chmod(garbage.c_str(), 0755);
  EXPECT_EQ(vtx::RunProgram(Start("garbage"), 1000, &code), 0x8007000Bu);
  // No PATH search for a bare name.
  vtx::ProgramStart sh = Start("sh");
  EXPECT_EQ(vtx::RunProgram(sh, 1000, &code), 0x80070002u);
}

TEST_F(Programs, LostStatusIsAFailure) {
  WriteScript(dir, "quick", "exit 0");
  vtx::ChildProcess child;
  ASSERT_EQ(child.Start(Start("quick")), S_OK);
  int st;
  ASSERT_EQ(waitpid(child.Pid(), &st, 0), child.Pid());  // someone else took the status
  DWORD code = 0;
  EXPECT_EQ(child.Wait(1000, &code), E_FAIL);
  EXPECT_EQ(code, E_FAIL);
}

TEST_F(Programs, DetachedProgramRunsAndIsReaped) {
  std::string marker = dir / "ran";
  WriteScript(dir, "action", "printf '%s' \"$1\" > '" + marker + "'");
  pid_t pid = 0;
  ASSERT_EQ(vtx::StartDetached(Start("action", {"arg with blank"}), &pid), S_OK);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(Eventually([&] { return vtxtest::ReadFile(marker) == "arg with blank"; }));
  EXPECT_TRUE(Eventually([&] { return !ProcessExists(pid); }));  // no zombie left
  EXPECT_EQ(vtx::StartDetached(Start("missing")), 0x80070002u);
}

TEST(ProcessStartTime, NamesRunningProcessesOnly) {
  uint64_t first = 0, again = 0;
  ASSERT_TRUE(vtx::ProcessStartTime(getpid(), &first));
  ASSERT_TRUE(vtx::ProcessStartTime(getpid(), &again));
  EXPECT_EQ(first, again);
  EXPECT_GT(first, 0u);
  // A child that has ended is not running, reaped or not.
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  uint64_t t = 0;
  EXPECT_TRUE(Eventually([&] { return !vtx::ProcessStartTime(child, &t); }));
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_FALSE(vtx::ProcessStartTime(child, &t));
  EXPECT_FALSE(vtx::ProcessStartTime(0, &t));
}
