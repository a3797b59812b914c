#include "platform/resources.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/errors.h"
#include "platform/heap.h"
#include "tests/support/files.h"

namespace {

std::string Write(const vtxtest::TempDir& dir, const std::string& name, const std::string& body) {
  std::string path = dir / name;
  EXPECT_TRUE(vtxtest::WriteFile(path, body));
  return path;
}

const char* kCatalogue =
    "\xEF\xBB\xBF# test catalogue\r\n"
    "[strings]\r\n"
    "1 Hello\r\n"
    "2  and\n"
    "3 Line\\none\\ttab\\\\back\\r\n"
    "4\n"
    "0x10 Gr\xC3\xBC\xC3\x9F" "e\n"
    "65535 last\n"
    "[messages]\n"
    "0xC0000006 The resource library could not be loaded.\\r\\n\n"
    "0x40000001 %1\n";

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = Write(dir_, "en.cat", kCatalogue);
    module_ = LoadLibraryA(path_.c_str());
    ASSERT_NE(module_, nullptr) << vtx::LastCatalogueError();
  }
  void TearDown() override { EXPECT_TRUE(FreeLibrary(module_)); }
  vtxtest::TempDir dir_;
  std::string path_;
  HMODULE module_ = nullptr;
};

TEST_F(Catalogue, StringsAndEscapes) {
  char buf[64];
  EXPECT_EQ(LoadStringA(module_, 1, buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "Hello");
  EXPECT_EQ(LoadStringA(module_, 2, buf, sizeof buf), 4);
  EXPECT_STREQ(buf, " and");  // every character after the one blank is text
  LoadStringA(module_, 3, buf, sizeof buf);
  EXPECT_STREQ(buf, "Line\none\ttab\\back\r");
  EXPECT_EQ(LoadStringA(module_, 4, buf, sizeof buf), 0);
  EXPECT_EQ(LoadStringA(module_, 16, buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "Gr\xFC\xDF" "e");  // Windows-1252
  EXPECT_EQ(LoadStringA(module_, 65535, buf, sizeof buf), 4);
  SetLastError(0);
  EXPECT_EQ(LoadStringA(module_, 99, buf, sizeof buf), 0);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_STREQ(buf, "");
}

TEST_F(Catalogue, LengthLimitAndWideForms) {
  char small[4];
  EXPECT_EQ(LoadStringA(module_, 1, small, sizeof small), 3);
  EXPECT_STREQ(small, "Hel");
  char16_t wide[8];
  EXPECT_EQ(LoadStringW(module_, 16, wide, 8), 5);
  EXPECT_EQ(std::u16string(wide), u"Gr\u00fc\u00dfe");
  EXPECT_EQ(LoadStringW(module_, 1, wide, 3), 2);
  EXPECT_EQ(std::u16string(wide), u"He");
  const char16_t* direct = nullptr;
  EXPECT_EQ(LoadStringW(module_, 1, reinterpret_cast<LPWSTR>(&direct), 0), 5);
  EXPECT_EQ(std::u16string(direct, 5), u"Hello");
}

TEST_F(Catalogue, SameFileSharesOneHandle) {
  HMODULE again = LoadLibraryA((dir_.path() + "/./en.cat").c_str());
  EXPECT_EQ(again, module_);
  EXPECT_TRUE(FreeLibrary(again));
  char buf[8];
  EXPECT_EQ(LoadStringA(module_, 1, buf, sizeof buf), 5);  // still loaded once
}

// A catalogue is parsed once while its file stays the same, also after every handle was freed; a
// file that changed is parsed anew, and handles of the old parse keep their texts.
TEST_F(Catalogue, ParsedAgainOnlyWhenTheFileChanges) {
  std::string other = Write(dir_, "other.cat", "[strings]\n1 Old\n");
  HMODULE first = LoadLibraryA(other.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(FreeLibrary(first));
  HMODULE again = LoadLibraryA(other.c_str());
  EXPECT_EQ(again, first);
  Write(dir_, "other.cat", "[strings]\n1 New text\n");
  HMODULE changed = LoadLibraryA(other.c_str());
  ASSERT_NE(changed, nullptr);
  EXPECT_NE(changed, again);
  char buf[16];
  EXPECT_EQ(LoadStringA(again, 1, buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "Old");
  EXPECT_EQ(LoadStringA(changed, 1, buf, sizeof buf), 8);
  EXPECT_STREQ(buf, "New text");
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_FALSE(FreeLibrary(again));
  EXPECT_EQ(LoadLibraryA(other.c_str()), changed);
  EXPECT_TRUE(FreeLibrary(changed));
  EXPECT_TRUE(FreeLibrary(changed));
}

TEST_F(Catalogue, MessageTable) {
  char* text = nullptr;
  ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER, module_, 0xC0000006, 0,
                           reinterpret_cast<LPSTR>(&text), 0, nullptr),
            0u);
  EXPECT_STREQ(text, "The resource library could not be loaded.\r\n");
  LocalFree(text);
  std::string utf8;
  EXPECT_TRUE(vtx::MessageTableText(nullptr, 0x40000001, utf8));
  EXPECT_EQ(utf8, "%1");
  EXPECT_FALSE(vtx::MessageTableText(module_, 0x12345, utf8));
  SetLastError(0);
  char buf[64];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, module_, 0x12345, 0, buf, sizeof buf, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
}

TEST(CatalogueLoad, MalformedCataloguesAreRefusedWithTheLine) {
  const struct {
    const char* body;
    const char* reason;
  } rows[] = {
      {"1 entry before any section\n", ":1: an entry before the first section"},
      {"[strings]\n[texts]\n", ":2: unknown section [texts]"},
      {"[strings]\nabc text\n", ":2: expected a number"},
      {"[strings]\n12text\n", ":2: expected a blank"},
      {"[strings]\n70000 too big\n", ":2: string number above 65535"},
      {"[strings]\n1 a\n\n1 b\n", ":4: number 1 given twice"},
      {"[strings]\n1 bad \\q escape\n", ":2: unknown escape \\q"},
      {"[strings]\n1 ends in \\\n", ":2: a backslash at the end"},
      {"[strings]\n1 caf\xE9\n", "not UTF-8"},
      {"[messages]\n0x1FFFFFFFF big\n", ":2: expected a number"},
  };
  vtxtest::TempDir dir;
  for (const auto& r : rows) {
    std::string path = Write(dir, "bad.cat", r.body);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr) << r.body;
    EXPECT_EQ(GetLastError(), ERROR_BAD_FORMAT);
    EXPECT_NE(vtx::LastCatalogueError().find(r.reason), std::string::npos) << vtx::LastCatalogueError();
    EXPECT_NE(vtx::LastCatalogueError().find("bad.cat"), std::string::npos);
  }
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA((dir / "missing.cat").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA(dir.path().c_str()), nullptr);  // a folder
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  HMODULE empty = LoadLibraryA(Write(dir, "empty.cat", "").c_str());
  EXPECT_NE(empty, nullptr);
  EXPECT_TRUE(FreeLibrary(empty));
  EXPECT_FALSE(FreeLibrary(empty));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  char buf[4];
  EXPECT_EQ(LoadStringA(empty, 1, buf, sizeof buf), 0);
}

std::string Format(const char* text, FormatInserts* in, DWORD flags = 0) {
  char* out = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | flags, text, 0, 0,
                           reinterpret_cast<LPSTR>(&out), 0, in);
  std::string r = n ? std::string(out, n) : std::string("<fail>");
  LocalFree(out);
  return r;
}

TEST(FormatMessage, InsertsAndEscapes) {
  auto a = vtx::MakeInserts("file.ini", 42u, -7, u"wide", static_cast<uint64_t>(0x123456789ull));
  FormatInserts in = vtx::InsertsOf(a);
  const struct {
    const char* text;
    const char* expected;
  } rows[] = {
      {"Open %1 now", "Open file.ini now"},
      {"%2 items", "42 items"},
      {"%3", "-7"},
      {"%3!d! %3!u!", "-7 4294967289"},
      {"0x%2!08X!", "0x0000002A"},
      {"[%1!12s!][%1!-10.4s!]", "[    file.ini][file      ]"},
      {"%4 and %4!s!", "wide and wide"},
      {"%5!I64x! %5!x!", "123456789 23456789"},
      {"100%% sure%0 not this", "100% sure"},
      {"a%nb%tc%rd", "a\r\nb\tc\rd"},
      {"%! %. % x", "! .  x"},
      {"%2!c!", "*"},
      {"tail %", "tail %"},
  };
  for (const auto& r : rows) EXPECT_EQ(Format(r.text, &in), r.expected) << r.text;
  EXPECT_EQ(Format("keep %1 and %2!d!", &in, FORMAT_MESSAGE_IGNORE_INSERTS), "keep %1 and %2!d!");
  EXPECT_EQ(Format("line\r\nbreak%n", &in, FORMAT_MESSAGE_MAX_WIDTH_MASK), "linebreak\r\n");
}

TEST(FormatMessage, NeverReadsPastOrMisreadsInserts) {
  auto a = vtx::MakeInserts("one", 2u);
  FormatInserts in = vtx::InsertsOf(a);
  const char* failing[] = {"%3 is not there", "%1!d!", "%2!s!", "%1!*s!", "%1!q!", "%1!d", "%99"};
  for (const char* t : failing) {
    SetLastError(0);
    EXPECT_EQ(Format(t, &in), "<fail>") << t;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << t;
  }
  EXPECT_EQ(Format("%1", nullptr), "<fail>");
}

TEST(FormatMessage, CallerBufferAndSystemTexts) {
  auto a = vtx::MakeInserts("abc");
  FormatInserts in = vtx::InsertsOf(a);
  char buf[4];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "%1", 0, 0, buf, sizeof buf, &in), 3u);
  EXPECT_STREQ(buf, "abc");
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "x%1", 0, 0, buf, sizeof buf, &in), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  char big[200];
  EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 0x80070005, 0, big,
                           sizeof big, nullptr),
            0u);
  EXPECT_STREQ(big, "Access is denied.");
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x80041234, 0, big, sizeof big, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  char16_t wide[16];
  auto w = vtx::MakeInserts(u"\u00e9t\u00e9");
  FormatInserts win = vtx::InsertsOf(w);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"<%1>", 0, 0, wide, 16, &win), 5u);
  EXPECT_EQ(std::u16string(wide), u"<\u00e9t\u00e9>");
}

}  // namespace
