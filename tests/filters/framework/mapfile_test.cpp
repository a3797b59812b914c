// Loading map.ini, and the names of the installed file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filters/framework/mapini.h"
#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"

namespace {

using vtxtest::WriteFile;

bool AnsiIsUtf8() {
  const char* e = std::getenv(vtx::env::kCodePage);
  return e && std::string(e) == "UTF-8";
}

std::string Utf16File(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::string Code(const char* c) { return c ? c : "(none)"; }

HRESULT Load(CMapIni& map, const std::string& path) {
  return LoadIniFile(&map, path.c_str(), g_MapIniTable, kMapIniTableRows);
}

std::string InstalledMap() { return vtxtest::SourcePath("resources/filters/map.ini"); }

TEST(LoadIniFile, Utf16AndAnsiFilesLoadAlike) {
  vtxtest::TempDir dir;
  const char* text =
      "; providers' names\r\n[Names]\r\nJPY = Japanese\\tyen, \"Yen, Japan\"\r\nXXX = Gold\r\n\r\n[Codes]\r\nCNY = RMB\r\n";
  WriteFile(dir / "ansi.ini", text);
  WriteFile(dir / "wide.ini", Utf16File(vtx::AnsiToWide(text)));
  for (const char* name : {"ansi.ini", "wide.ini"}) {
    CMapIni map;
    ASSERT_EQ(Load(map, dir / name), S_OK) << name;
    EXPECT_EQ(map.GetCount(), 5u) << name;
    EXPECT_EQ(Code(FindNameCode(map, "JAPANESE  YEN", true)), "JPY") << name;
    EXPECT_EQ(Code(FindNameCode(map, "Yen, Japan", true)), "JPY") << name;
    EXPECT_EQ(Code(FindNameCode(map, "Gold", true)), "(none)") << name;
    EXPECT_EQ(Code(FindCodeAlias(map, "rmb")), "CNY") << name;
  }
}

TEST(LoadIniFile, TextBeyondTheCodePageNeedsUtf16) {
  if (AnsiIsUtf8()) GTEST_SKIP() << "every character fits a UTF-8 code page";
  vtxtest::TempDir dir;
  WriteFile(dir / "map.ini", Utf16File(u"[Names]\r\nRUB = \u0420\u0443\u0431\u043B\u044C\r\nEUR = \u0415\u0432\u0440\u043E\r\n"));
  CMapIni map;
  ASSERT_EQ(Load(map, dir / "map.ini"), S_OK);
  // Cyrillic names are kept whole; a Windows-1252 page text cannot name them.
  EXPECT_EQ(Code(FindNameCodeW(map, u"\u0415\u0432\u0440\u043E", true)), "EUR");
  EXPECT_EQ(Code(FindNameCode(map, "????", true)), "(none)");
}

TEST(LoadIniFile, Failures) {
  vtxtest::TempDir dir;
  CMapIni map;
  EXPECT_EQ(Load(map, dir / "missing.ini"), 0x80070002u);
  EXPECT_TRUE(FAILED(Load(map, dir.path())));  // a folder
  WriteFile(dir / "bad.ini", "[Names]\r\nJPY Japanese yen\r\n");
  EXPECT_EQ(Load(map, dir / "bad.ini"), 0x8007000Du);
  WriteFile(dir / "empty.ini", "");
  EXPECT_EQ(Load(map, dir / "empty.ini"), S_OK);
  EXPECT_EQ(map.GetCount(), 0u);
  WriteFile(dir / "bom.ini", "\xFF\xFE");
  EXPECT_EQ(Load(map, dir / "bom.ini"), S_OK);
  WriteFile(dir / "odd.ini", Utf16File(u"[Codes]\r\nCNY = RMB") + "X");  // a stray last byte
  EXPECT_EQ(Load(map, dir / "odd.ini"), S_OK);
  EXPECT_EQ(Code(FindCodeAlias(map, "RMB")), "CNY");
  vtx::heap::FailAfter(0);
  HRESULT hr = Load(map, dir / "odd.ini");
  vtx::heap::FailAfter(-1);
  EXPECT_EQ(hr, E_OUTOFMEMORY);
  EXPECT_EQ(LoadIniFile(nullptr, "x", g_MapIniTable, kMapIniTableRows), E_POINTER);
}

TEST(LoadMapIni, ReadsTheFileBesideTheProgram) {
  CMapIni map;
  ASSERT_TRUE(LoadMapIni(&map));
  EXPECT_EQ(Code(FindNameCode(map, "Japanese yen", true)), "JPY");
}

class InstalledMapTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Load(map, InstalledMap()), S_OK); }
  CMapIni map;
};

TEST_F(InstalledMapTest, IsUtf16WithItsByteOrderMark) {
  FILE* f = std::fopen(InstalledMap().c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char bom[2] = {};
  ASSERT_EQ(std::fread(bom, 1, 2, f), 2u);
  std::fclose(f);
  EXPECT_EQ(bom[0], 0xFF);
  EXPECT_EQ(bom[1], 0xFE);
}

TEST_F(InstalledMapTest, ProvidersNamesGiveTheirCodes) {
  struct Case {
    const char* text;
    bool whole;
    const char* code;
  } cases[] = {
      // International Monetary Fund, whole cells.
      {"Euro", true, "EUR"}, {"Japanese yen", true, "JPY"}, {"U.K. pound", true, "GBP"}, {"U.S. dollar", true, "USD"},
      {"Chinese yuan", true, "CNY"}, {"Korean won", true, "KRW"}, {"Swiss franc", true, "CHF"},
      {"Israeli New Shekel", true, "ILS"}, {"Saudi Arabian riyal", true, "SAR"}, {"U.A.E. dirham", true, "AED"},
      {"Trinidad and Tobago dollar", true, "TTD"}, {"Brazilian real", true, "BRL"},
      // Bank of Canada, lines that begin with the name.
      {"U.S. Dollar (Noon)\t1.2345", false, "USD"}, {"U.S. Dollar (Closing) 1.2350", false, "(none)"},
      {"European Euro   1.5", false, "EUR"}, {"New Turkish Lira\t0.9", false, "TRY"}, {"Turkish Lira (1)\t0.9", false, "TRL"},
      {"Romanian New Leu 0.4", false, "RON"}, {"Venezuelan Bolivar Fuerte 0.5", false, "VEF"},
      {"Venezuelan Bolivar 0.0005", false, "VEB"}, {"Trinidad & Tobago Dollar 0.2", false, "TTD"},
      {"CFA Franc (African Financial Community) 0.002", false, "XOF"}, {"Neth. Antilles Guilder 0.6", false, "ANG"},
      // Federal Reserve Bank of New York.
      {"JAPAN YEN 110.50", false, "JPY"}, {"CHINA, P.R. YUAN 8.27", false, "CNY"}, {"EMU MEMBERS EURO 1.30", false, "EUR"},
      {"SOUTH AFRICA RAND 6.1", false, "ZAR"}, {"SOUTH KOREA WON 1000", false, "KRW"}, {"UNITED KINGDOM POUND 1.9", false, "GBP"},
      // Central Bank of the Russian Federation, English page.
      {"US Dollar", true, "USD"}, {"S.African Rand", true, "ZAR"}, {"SDR", true, "XDR"}, {"Kazakhstan Tenge", true, "KZT"},
      // Unknown names.
      {"Dollar", true, "(none)"}, {"Gold", false, "(none)"},
  };
  for (const Case& c : cases) EXPECT_EQ(Code(FindNameCode(map, c.text, c.whole)), c.code) << c.text;
  EXPECT_EQ(Code(FindNameCodeW(map, u"\u0414\u043E\u043B\u043B\u0430\u0440 \u0421\u0428\u0410", true)), "USD");
  EXPECT_EQ(Code(FindNameCodeW(map, u"\u042F\u043F\u043E\u043D\u0441\u043A\u0438\u0445 \u0438\u0435\u043D", true)), "JPY");
  EXPECT_EQ(Code(FindCodeAlias(map, "RMB")), "CNY");
  EXPECT_EQ(Code(FindCodeAlias(map, "XTS")), "XXX");
  EXPECT_EQ(Code(FindCodeAlias(map, "USD")), "(none)");
}

// No name may be taken for a longer name of another currency that it begins: a line starting
// with the longer name would get the wrong code.
TEST_F(InstalledMapTest, NoNameCapturesAnotherCurrencysName) {
  struct Name {
    std::string key;
    std::u16string name;
  };
  std::vector<Name> names;
  uint32_t section = IniNoId;
  for (CMapIni::Row row : map) {
    const char16_t* key = CMapIni::GetName(row);
    if (CMapIni::GetType(row) == IniTypeSection) {
      section = FindIniTableEntryID<char16_t>(key, nullptr, g_MapIniTable, kMapIniTableRows);
      continue;
    }
    if (section != kMapNamesSection) continue;
    std::string k = vtx::WideToUtf8(key);
    EXPECT_EQ(k.size(), 3u) << k;
    for (uint32_t i = 0; i < CMapIni::GetStringCount(row); ++i) names.push_back({k, CMapIni::GetStringN(row, i)});
  }
  EXPECT_GT(names.size(), 200u);
  for (const Name& n : names) {
    std::u16string text = n.name;
    for (char16_t& c : text)
      if (c == u'\t') c = u' ';
    std::string found = Code(FindNameCodeW(map, (text + u" 1.25").c_str(), false));
    if (n.key != "XXX") EXPECT_EQ(found, n.key) << vtx::WideToUtf8(n.name);
    else EXPECT_EQ(found, "(none)") << vtx::WideToUtf8(n.name);
  }
}

}  // namespace
