#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <iterator>

#include "platform/errors.h"
#include "platform/native/productpaths.h"
#include "tests/support/child.h"

namespace {

bool AnsiIsUtf8Requested() {
  const char* e = std::getenv(vtx::env::kCodePage);
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

// The ANSI page as a program started with VANTREX_CODEPAGE=UTF-8 sees it: 0, or the check that failed.
VTX_CHILD(Utf8AnsiPage) {
  if (!vtx::AnsiCodePageIsUtf8()) return 1;
  if (vtx::AnsiToWide("\xC3\xA9") != u"\u00E9") return 2;
  BOOL used = TRUE;
  char out[8];
  if (WideCharToMultiByte(CP_ACP, 0, u"\u0100", -1, out, 8, nullptr, &used) != 3) return 3;
  if (std::string(out) != "\xC4\x80") return 4;
  return 0;
}

TEST(CodePage, AnsiPageFromEnvironment) {
  vtxtest::Child child("Utf8AnsiPage", {}, {{vtx::env::kCodePage, "UTF-8"}});
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Wait(), 0) << "the check that failed; " << child.Output();
}

// The ANSI page of a program started with a multi-byte VANTREX_CODEPAGE: 0, or the check that failed.
VTX_CHILD(FallbackAnsiPage) {
  if (std::string(vtx::AnsiCodePageName()) != "WINDOWS-1252") return 1;
  if (vtx::AnsiToWide("\x93\xfa\x96\x7b") != u"\u201C\u00FA\u2013{") return 2;
  if (vtx::WideToAnsi(u"\u65E5\u672C \u20AC") != "?? \x80") return 3;
  return 0;
}

TEST(CodePage, MultiBytePageFallsBackToWindows1252) {
  for (const char* page : {"CP932", "CP936", "CP949", "EUC-JP", "GB18030"}) {
    vtxtest::Child child("FallbackAnsiPage", {}, {{vtx::env::kCodePage, page}});
    EXPECT_EQ(child.Wait(), 0) << page << ": " << child.Output();
    EXPECT_NE(child.Output().find(std::string("code page \"") + page +
                                  "\" is not a single-byte code page known here; using Windows-1252"),
              std::string::npos)
        << page << ": " << child.Output();
  }
}

struct PageCase {
  const char* page;
  const char* bytes;
  std::u16string wide;
};
// Cyrillic; Hebrew, whose letters iconv holds back for marks that may follow.
const PageCase kSingleBytePages[] = {{"CP1251", "\xC6\xFF", u"\u0416\u044F"}, {"CP1255", "\xE0\xFA", u"\u05D0\u05EA"}};

// The page of kSingleBytePages[<index>] as the program's ANSI page: 0, or the check that failed.
VTX_CHILD(SingleBytePage) {
  const PageCase& p = kSingleBytePages[std::stoul(args.at(0))];
  if (std::string(vtx::AnsiCodePageName()) != p.page) return 1;
  if (vtx::AnsiToWide(p.bytes) != p.wide) return 2;
  if (vtx::WideToAnsi(p.wide) != p.bytes) return 3;
  return 0;
}

TEST(CodePage, SingleBytePagesFromIconv) {
  for (size_t i = 0; i < std::size(kSingleBytePages); ++i) {
    const PageCase& p = kSingleBytePages[i];
    vtxtest::Child child("SingleBytePage", {std::to_string(i)}, {{vtx::env::kCodePage, p.page}});
    EXPECT_EQ(child.Wait(), 0) << p.page << ": " << child.Output();
    EXPECT_EQ(child.Output().find("using Windows-1252"), std::string::npos) << p.page << ": " << child.Output();
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
