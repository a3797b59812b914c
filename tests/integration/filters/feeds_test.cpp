// Each filter program on its provider's document as the server gets it: served by a real HTTP
// server, downloaded through the platform's internet calls with the update run's request flags,
// converted by the program started with the server's four arguments, read back, unscrambled and
// read by the INI reader.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "engine/foundation/scramble.h"
#include "platform/inet.h"
#include "platform/process.h"
#include "tests/filters/feedtest.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"

namespace {

constexpr DWORD kRunFlags = 0x84402100;  // the update run's request flags

struct Feed {
  const char* program;
  const char* fixture;
};

const Feed kFeeds[] = {
    {"sovfeed", "rates.html"}, {"tolfeed", "rates.html"}, {"tolfeed", "two.html"}, {"sdrfeed", "rates.tsv"},
    {"cadfeed", "rates.html"}, {"quofeed", "rates.csv"},  {"usdfeed", "rates.html"},
};

std::string Expected(const Feed& feed) {
  std::string name = feed.fixture;
  return feedtest::Fixture(feed.program, name.substr(0, name.find('.')) + ".expected");
}

TEST(FilterFeeds, DownloadedConvertedAndReadBack) {
  vtxtest::TempDir dir;
  std::string www = dir / "www";
  ASSERT_EQ(mkdir(www.c_str(), 0700), 0);
  for (const Feed& f : kFeeds)
    vtxtest::WriteFile(www + "/" + f.program + "-" + f.fixture, feedtest::Fixture(f.program, f.fixture));

  int port = vtxtest::FreePort();
  vtxtest::ServerProcess http;
  ASSERT_EQ(http.Start({"/usr/bin/python3", "-m", "http.server", std::to_string(port), "--bind", "127.0.0.1",
                        "--directory", www},
                       port, dir / "http.log"),
            "");

  HINTERNET session = InternetOpenA("Vantrex test", 0, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  for (const Feed& f : kFeeds) {
    SCOPED_TRACE(std::string(f.program) + " " + f.fixture);
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/" + f.program + "-" + f.fixture;
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0, kRunFlags, 0);
    ASSERT_NE(request, nullptr);
    std::string download;
    char chunk[4096];
    DWORD got = 0;
    while (InternetReadFile(request, chunk, sizeof chunk, &got) && got) download.append(chunk, got);
    InternetCloseHandle(request);
    ASSERT_EQ(download, feedtest::Fixture(f.program, f.fixture));
    std::string temp = dir / (std::string(f.program) + ".tmp");
    vtxtest::WriteFile(temp, download);

    vtx::ProgramStart start;
    start.program = vtxtest::Program(f.program);
    start.arguments = {temp, url, f.program, "0"};
    DWORD code = 0xFFFFFFFF;
    ASSERT_EQ(vtx::RunProgram(start, INFINITE, &code), S_OK);
    ASSERT_EQ(code, 0u);

    std::string rates = vtxtest::ReadFile(temp);
    ScrambleBuffer(rates.data(), static_cast<uint32_t>(rates.size()));
    EXPECT_EQ(rates, Expected(f));
    EXPECT_EQ(feedtest::IniValue(rates, "Application"), kFilterApplication);
  }
  InternetCloseHandle(session);
}

// Run by hand without their arguments, the programs say what they want in one line and end with
// their exit codes as ever.
TEST(FilterFeeds, WrongArgumentsGetAOneLineUsage) {
  vtxtest::TempDir dir;
  std::string page = dir / "page.html";
  vtxtest::WriteFile(page, "<html></html>");
  for (const char* program : {"sovfeed", "sdrfeed", "cadfeed", "quofeed", "usdfeed", "eurfeed", "tolfeed"}) {
    SCOPED_TRACE(program);
    std::string path = vtxtest::Program(program);
    for (const std::string& args : {std::string(), " " + page}) {
      std::string err = dir / "err";
      int status = system((path + args + " 2>" + err).c_str());
      ASSERT_TRUE(WIFEXITED(status));
      DWORD code = vtx::CodeFromExitStatus(WEXITSTATUS(status));
      EXPECT_TRUE(code == 0x80042000u || code == 0x80042001u || code == 0x80042002u) << std::hex << code;
      EXPECT_EQ(vtxtest::ReadFile(err),
                std::string("usage: ") + program + " <downloaded file> <address> [<filter definition> <page index>]\n");
    }
  }
}

}  // namespace

namespace {

// The programs beside no map.ini: every one but tolfeed refuses to run, and leaves the file.
TEST(FilterFeeds, WithoutMapIni) {
  struct Case {
    Feed feed;
    DWORD code;
  } cases[] = {
      {{"sovfeed", "rates.html"}, 0x8004600A}, {{"sdrfeed", "rates.tsv"}, 0x8004600A},
      {{"cadfeed", "rates.html"}, 0x80046002}, {{"quofeed", "rates.csv"}, 0x8004600A},
      {{"usdfeed", "rates.html"}, 0x8004600A}, {{"tolfeed", "rates.html"}, 0},
  };
  vtxtest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.feed.program);
    std::string exe = dir / c.feed.program;
    std::string copy = "cp '" + vtxtest::Program(c.feed.program) + "' '" + exe + "'";
    ASSERT_EQ(std::system(copy.c_str()), 0);
    std::string input = feedtest::Fixture(c.feed.program, c.feed.fixture);
    std::string temp = dir / "download.tmp";
    vtxtest::WriteFile(temp, input);
    vtx::ProgramStart start;
    start.program = exe;
    start.arguments = {temp, "http://example.com/", c.feed.program, "-1"};
    DWORD code = 0xFFFFFFFF;
    ASSERT_EQ(vtx::RunProgram(start, INFINITE, &code), S_OK);
    EXPECT_EQ(code, c.code);
    if (c.code) {
      EXPECT_EQ(vtxtest::ReadFile(temp), input);
    }
  }
}

}  // namespace
