#include "platform/launcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/errors.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/wait.h"

using vtxtest::ReadFile;
using vtxtest::ScopedEnv;
using vtxtest::TempDir;

namespace {

void WriteScript(const std::string& path, const std::string& body) { ASSERT_TRUE(vtxtest::WriteScript(path, body + "\n")); }

// Waits for a file that a started program writes whole.
std::string WaitForFile(const std::string& path) {
  std::string s;
  vtxtest::Eventually([&] {
    s = ReadFile(path);
    return !s.empty() && s.back() == '\n';
  }, std::chrono::seconds(5));
  return s;
}

// $PATH for the test; the old one comes back afterwards.
class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override { mkdir((dir_ / "bin").c_str(), 0755); }
  // An opener that records the number of its arguments and each argument on a line.
  void StubOpener(const std::string& extra = "") {
    WriteScript(dir_ / "bin/xdg-open", extra + "\nprintf '%s\\n' \"$#\" \"$@\" \"$(pwd)\" > '" + (dir_ / "args") +
                                           ".tmp'\nmv '" + (dir_ / "args") + ".tmp' '" + (dir_ / "args") + "'");
  }
  std::string Recorded() { return WaitForFile(dir_ / "args"); }

  TempDir dir_;
  ScopedEnv path_{"PATH", (dir_ / "bin") + ":/usr/bin:/bin"};
};

TEST_F(LauncherTest, AnAddressIsTheOpenersOneArgument) {
  StubOpener();
  char here[4096];
  ASSERT_TRUE(getcwd(here, sizeof here));
  std::string cwd = here;
  const char* addresses[] = {
      "https://www.example.com/a b/c.html",
      "http://example.com/?q=\"quoted\"&a=1;b=2 | rm -rf /",
      "mailto:someone@example.com?subject=Gr\xC3\xBC\xC3\x9F" "e",
      "ftp://ftp.example.com/pub/file name.txt",
      "HTTPS://EXAMPLE.COM/$(id)",
      "file:///tmp/a;b&c",
  };
  for (const char* a : addresses) {
    unlink((dir_ / "args").c_str());
    EXPECT_EQ(vtx::OpenUrl(a), S_OK) << a;
    EXPECT_EQ(Recorded(), std::string("1\n") + a + "\n" + cwd + "\n") << a;
  }
}

TEST_F(LauncherTest, OtherSchemesAndPathsStartNothing) {
  StubOpener();
  const char* refused[] = {"-h", "--version", "javascript:x", "/etc/passwd", "", "httpx://a", "www.example.com",
                           "data:text/html,x", " http://example.com"};
  for (const char* a : refused) EXPECT_EQ(vtx::OpenUrl(a), E_INVALIDARG) << a;
  EXPECT_EQ(vtx::OpenUrl(nullptr), E_INVALIDARG);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(access((dir_ / "args").c_str(), F_OK), -1);
}

TEST_F(LauncherTest, OpenerMissingOrFailing) {
  ScopedEnv onlyBin("PATH", dir_ / "bin");
  EXPECT_EQ(vtx::OpenUrl("https://example.com/"), E_FAIL);  // none on PATH
  WriteScript(dir_ / "bin/xdg-open", "exit 4");
  EXPECT_EQ(vtx::OpenUrl("https://example.com/"), E_FAIL);
  // Only absolute folders of PATH are searched.
  ScopedEnv relative("PATH", "bin");
  char here[4096];
  ASSERT_TRUE(getcwd(here, sizeof here));
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  EXPECT_EQ(vtx::OpenUrl("https://example.com/"), E_FAIL);
  ASSERT_EQ(chdir(here), 0);
}

TEST_F(LauncherTest, AnOpenerThatStaysCountsAsStarted) {
  StubOpener("exec >/dev/null 2>&1\nsleep 5");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vtx::OpenUrl("https://example.com/"), S_OK);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(vtx::kOpenerWaitMs + 2000));
}

TEST_F(LauncherTest, FilesRunOrGoToTheOpener) {
  StubOpener();
  std::string folder = dir_ / "actions";
  mkdir(folder.c_str(), 0755);
  mkdir((folder + "/sub").c_str(), 0755);
  // An executable runs itself, without arguments, in the given folder.
  WriteScript(folder + "/sub/run me.sh",
              "printf '%s\\n' \"$#\" \"$(pwd)\" > '" + (dir_ / "ran") + ".tmp'; mv '" + (dir_ / "ran") + ".tmp' '" +
                  (dir_ / "ran") + "'");
  EXPECT_EQ(vtx::OpenFile((folder + "/sub/run me.sh").c_str(), folder.c_str()), S_OK);
  EXPECT_EQ(WaitForFile(dir_ / "ran"), "0\n" + folder + "\n");
  // Anything else is the opener's, with the absolute path as its one argument, run in the folder.
  std::ofstream(folder + "/-h & notes.txt") << "text\n";
  EXPECT_EQ(vtx::OpenFile("-h & notes.txt", folder.c_str()), S_OK);
  EXPECT_EQ(Recorded(), "1\n" + folder + "/-h & notes.txt\n" + folder + "\n");
  EXPECT_EQ(vtx::OpenFile((folder + "/missing").c_str(), folder.c_str()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

// The desktop's real opener, with a mimeapps.list that sends the schemes to a recorder.
TEST_F(LauncherTest, ThroughTheRealOpener) {
  ASSERT_EQ(access("/usr/bin/xdg-open", X_OK), 0) << "xdg-utils is not installed";
  std::string apps = dir_ / "data/applications";
  std::filesystem::create_directories(apps);
  std::filesystem::create_directories(dir_ / "config");
  std::string recorder = dir_ / "bin/recorder";
  WriteScript(recorder, "printf '%s\\n' \"$#\" \"$@\" >> '" + (dir_ / "opened") + "'");
  std::ofstream(apps + "/recorder.desktop") << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" << recorder
                                             << " %u\n";
  std::ofstream(dir_ / "config/mimeapps.list")
      << "[Default Applications]\n"
      << "x-scheme-handler/http=recorder.desktop\nx-scheme-handler/https=recorder.desktop\n"
      << "x-scheme-handler/ftp=recorder.desktop\nx-scheme-handler/mailto=recorder.desktop\n";
  unlink((dir_ / "bin/xdg-open").c_str());
  ScopedEnv configHome("XDG_CONFIG_HOME", dir_ / "config"), dataHome("XDG_DATA_HOME", dir_ / "data"),
      dataDirs("XDG_DATA_DIRS", dir_ / "none"), configDirs("XDG_CONFIG_DIRS", dir_ / "none"),
      desktop("XDG_CURRENT_DESKTOP", nullptr), session("DESKTOP_SESSION", nullptr), browser("BROWSER", nullptr),
      display("DISPLAY", ":99");
  const char* addresses[] = {"https://www.example.com/a b?x=\"1\"&y=2;z", "http://example.com/\xC3\xA4",
                             "mailto:someone@example.com", "ftp://ftp.example.com/pub/x"};
  std::string expected;
  for (const char* a : addresses) {
    EXPECT_EQ(vtx::OpenUrl(a), S_OK) << a;
    expected += std::string("1\n") + a + "\n";
  }
  EXPECT_EQ(ReadFile(dir_ / "opened"), expected);
}

}  // namespace
