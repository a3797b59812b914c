#include "platform/codepage.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "platform/errors.h"

namespace {

bool AnsiIsUtf8Requested() {
  const char* e = std::getenv("VANTREX_CODEPAGE");
  return e && std::string(e) == "UTF-8";
}

TEST(CodePage, Windows1252RoundTripsEveryByte) {
  if (AnsiIsUtf8Requested()) GTEST_SKIP();
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string w = vtx::AnsiToWide(all);
  ASSERT_EQ(w.size(), 255u);
  EXPECT_EQ(w[0x80 - 1], u'\u20AC');  // euro sign
  EXPECT_EQ(w[0x9F - 1], u'\u0178');
  EXPECT_EQ(w[0xE9 - 1], u'\u00E9');
  EXPECT_EQ(vtx::WideToAnsi(w), all);
}

TEST(CodePage, CharacterOutsideThePageGivesDefaultAndFlag) {
  if (AnsiIsUtf8Requested()) GTEST_SKIP();
  const char16_t text[] = u"a\u0100b\U0001F600c";
  char out[16];
  BOOL used = FALSE;
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, &used);
  ASSERT_EQ(n, 6);  // a ? b ? c NUL: the surrogate pair is one character
  EXPECT_STREQ(out, "a?b?c");
  EXPECT_TRUE(used);
  used = FALSE;
  n = WideCharToMultiByte(CP_ACP, 0, u"plain", -1, out, sizeof out, nullptr, &used);
  EXPECT_EQ(n, 6);
  EXPECT_FALSE(used);
}

TEST(CodePage, LengthQueryAndShortBuffer) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);
  char16_t small[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", -1, nullptr, 0), 0);
}

TEST(CodePage, Utf8BothWays) {
  const char* utf8 = "z\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  std::u16string w = vtx::Utf8ToWide(utf8);
  EXPECT_EQ(w, u"z\u00E9\u20AC\U0001F600");
  EXPECT_EQ(vtx::WideToUtf8(w), utf8);
  char16_t out[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3(", 2, out, 8), 2);  // invalid byte: U+FFFD
  EXPECT_EQ(out[0], 0xFFFD);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3(", 2, out, 8), 0);
}

TEST(CodePage, AnsiPageFromEnvironment) {
  if (!AnsiIsUtf8Requested()) {
    // Run this same test in a child whose environment names UTF-8.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setenv("VANTREX_CODEPAGE", "UTF-8", 1);
      execl("/proc/self/exe", "self", "--gtest_filter=CodePage.AnsiPageFromEnvironment", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    return;
  }
  EXPECT_TRUE(vtx::AnsiCodePageIsUtf8());
  EXPECT_EQ(vtx::AnsiToWide("\xC3\xA9"), u"\u00E9");
  BOOL used = TRUE;
  char out[8];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u0100", -1, out, 8, nullptr, &used), 3);
  EXPECT_STREQ(out, "\xC4\x80");
}

// Runs one test of this program in a child whose ANSI page is `page`; its exit status and output.
std::pair<int, std::string> RunWithPage(const char* test, const char* page) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, ""};
  pid_t pid = fork();
  if (pid < 0) return {-1, ""};
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    setenv("VANTREX_CODEPAGE", page, 1);
    setenv("VANTREX_TEST_PAGE_CHILD", "1", 1);
    std::string filter = std::string("--gtest_filter=CodePage.") + test;
    execl("/proc/self/exe", "self", filter.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string err;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) err.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, err};
}

bool InPageChild() { return std::getenv("VANTREX_TEST_PAGE_CHILD") != nullptr; }

TEST(CodePage, MultiBytePageFallsBackToWindows1252) {
  if (InPageChild()) {
    EXPECT_STREQ(vtx::AnsiCodePageName(), "WINDOWS-1252");
    EXPECT_EQ(vtx::AnsiToWide("\x93\xfa\x96\x7b"), u"\u201C\u00FA\u2013{");
    EXPECT_EQ(vtx::WideToAnsi(u"\u65E5\u672C \u20AC"), "?? \x80");
    return;
  }
  for (const char* page : {"CP932", "CP936", "CP949", "EUC-JP", "GB18030"}) {
    auto [code, err] = RunWithPage("MultiBytePageFallsBackToWindows1252", page);
    EXPECT_EQ(code, 0) << page << ": " << err;
    EXPECT_NE(err.find(std::string("code page \"") + page + "\" is not a single-byte code page known here; using Windows-1252"),
              std::string::npos)
        << page << ": " << err;
  }
}

TEST(CodePage, SingleBytePagesFromIconv) {
  // Cyrillic; Hebrew, whose letters iconv holds back for marks that may follow.
  const struct {
    const char* page;
    const char* bytes;
    std::u16string wide;
  } pages[] = {{"CP1251", "\xC6\xFF", u"\u0416\u044F"}, {"CP1255", "\xE0\xFA", u"\u05D0\u05EA"}};
  for (const auto& p : pages) {
    if (InPageChild()) {
      if (std::string(p.page) != std::getenv("VANTREX_CODEPAGE")) continue;
      EXPECT_STREQ(vtx::AnsiCodePageName(), p.page);
      EXPECT_EQ(vtx::AnsiToWide(p.bytes), p.wide);
      EXPECT_EQ(vtx::WideToAnsi(p.wide), p.bytes);
      continue;
    }
    auto [code, err] = RunWithPage("SingleBytePagesFromIconv", p.page);
    EXPECT_EQ(code, 0) << p.page << ": " << err;
    EXPECT_EQ(err.find("using Windows-1252"), std::string::npos) << p.page << ": " << err;
  }
}

TEST(CodePage, CaseInsensitiveCompares) {
  struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {{"abc", "ABC", 0}, {"abc", "abd", -1}, {"B", "a", 1}, {"_", "A", -1}, {"", "", 0}, {"a", "", 1},
               {"\xE9", "\xC9", 1}};  // only ASCII letters fold
  for (const auto& c : cases) {
    int r = _stricmp(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    std::u16string wa = vtx::AnsiToWide(c.a), wb = vtx::AnsiToWide(c.b);
    int rw = _wcsicmp(wa.c_str(), wb.c_str());
    EXPECT_EQ((rw > 0) - (rw < 0), c.sign) << c.a << " vs " << c.b;
  }
  EXPECT_EQ(_strnicmp("abcX", "ABCy", 3), 0);
  EXPECT_EQ(vtx::UnicodeICompare(u"\u00E9t\u00C9", u"\u00C9T\u00E9"), 0);
  EXPECT_NE(vtx::UnicodeICompare(u"a", u"b"), 0);
}

}  // namespace
