#include "filters/framework/mapini.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/native/productpaths.h"

namespace {

bool AnsiIsUtf8() {
  const char* e = std::getenv(vtx::env::kCodePage);
  return e && std::string(e) == "UTF-8";
}

struct Line {
  std::u16string name;  // "[Section]" or a key
  std::vector<std::u16string> values;
};

void Fill(CMapIni& map, std::initializer_list<Line> lines) {
  for (const Line& l : lines) {
    if (l.name.size() > 1 && l.name.front() == u'[') {
      ASSERT_TRUE(map.AddSection(l.name.substr(1, l.name.size() - 2).c_str()));
      continue;
    }
    std::vector<const char16_t*> v;
    for (const auto& s : l.values) v.push_back(s.c_str());
    ASSERT_TRUE(map.AddMultiString(l.name.c_str(), v.data(), static_cast<uint32_t>(v.size())));
  }
}

// U+00A0 in the ANSI code page.
std::string Nbsp() { return AnsiIsUtf8() ? "\xC2\xA0" : "\xA0"; }

std::string Code(const char* c) { return c ? c : "(none)"; }

class MapIniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fill(map, {
                  {u"[General]", {}},
                  {u"GBP", {u"Euro"}},  // outside [Names]: never looked at
                  {u"[names]", {}},
                  {u"XXX", {u"Gold", u"Euro\tarea\tmembers"}},
                  {u"EUR", {u"Euro"}},
                  {u"JPY", {u"Japanese\tyen"}},
                  {u"USD", {u"U.S.\tdollar", u"US\tDollar"}},
                  {u"AUD", {u"Australian\tdollar\tx", u"Australian"}},
                  {u"LONG", {u"Longname"}},
                  {u"[Codes]", {}},
                  {u"XXX", {u"ABC"}},
                  {u"TRY", {u"TRL", u"ytl"}},
                  {u"CNY", {u"RMB"}},
                  {u"WIDE", {u"WID"}},
              });
  }
  CMapIni map;
};

TEST_F(MapIniTest, WholeMatchAndPrefixMatch) {
  EXPECT_EQ(Code(FindNameCode(map, "EURO", true)), "EUR");
  EXPECT_EQ(Code(FindNameCode(map, "Euro area", true)), "(none)");
  EXPECT_EQ(Code(FindNameCode(map, "Euro area", false)), "EUR");
  EXPECT_EQ(Code(FindNameCode(map, "Eur", false)), "(none)");  // a shorter text fails
  EXPECT_EQ(Code(FindNameCode(map, "Euro ", true)), "(none)");
  EXPECT_EQ(Code(FindNameCode(map, "", false)), "(none)");
  EXPECT_EQ(Code(FindNameCode(map, nullptr, false)), "(none)");
}

TEST_F(MapIniTest, TabStandsForAnyRunOfBlanks) {
  for (const std::string& text : {std::string("Japanese yen"), std::string("Japanese  yen"), std::string("JAPANESE\tYEN"),
                                  "Japanese" + Nbsp() + "yen", std::string("Japaneseyen"), "Japanese \t" + Nbsp() + " yen"})
    EXPECT_EQ(Code(FindNameCode(map, text.c_str(), true)), "JPY") << text;
  EXPECT_EQ(Code(FindNameCode(map, "Japanese ye", true)), "(none)");
  EXPECT_EQ(Code(FindNameCode(map, "Japanes yen", true)), "(none)");
  EXPECT_EQ(Code(FindNameCode(map, "U.S.  Dollar (noon)", false)), "USD");
}

TEST_F(MapIniTest, EveryNameStartsAgainFromTheWholeText) {
  // "Australian dollar x" fails half-way through; the next name is tried from the start.
  EXPECT_EQ(Code(FindNameCode(map, "Australian dollar", true)), "(none)");
  EXPECT_EQ(Code(FindNameCode(map, "Australian dollar", false)), "AUD");
  EXPECT_EQ(Code(FindNameCode(map, "Australian", true)), "AUD");
}

TEST_F(MapIniTest, IgnoredNamesAndOverlongKeysGiveNoCode) {
  EXPECT_EQ(Code(FindNameCode(map, "gold", true)), "(none)");
  EXPECT_EQ(Code(FindNameCode(map, "Euro area members", true)), "(none)");  // XXX comes first
  EXPECT_EQ(Code(FindNameCode(map, "Longname", true)), "(none)");
  EXPECT_EQ(Code(FindCodeAlias(map, "WID")), "(none)");
}

TEST_F(MapIniTest, EmptyItemsMatchNothing) {
  Fill(map, {{u"[Names]", {}}, {u"ZZZ", {u"", u"\t"}}, {u"[Codes]", {}}, {u"YYY", {u""}}});
  EXPECT_EQ(Code(FindNameCode(map, "Something else", false)), "(none)");
  EXPECT_EQ(Code(FindNameCode(map, "", true)), "(none)");
  EXPECT_EQ(Code(FindCodeAlias(map, "")), "(none)");
}

TEST_F(MapIniTest, CodeAliases) {
  EXPECT_EQ(Code(FindCodeAlias(map, "ABC")), "XXX");
  EXPECT_EQ(Code(FindCodeAlias(map, "abc")), "XXX");
  EXPECT_EQ(Code(FindCodeAlias(map, "YTL")), "TRY");
  EXPECT_EQ(Code(FindCodeAlias(map, "EUR")), "(none)");
  EXPECT_EQ(Code(FindCodeAlias(map, "RM")), "(none)");
  EXPECT_EQ(Code(FindCodeAlias(map, nullptr)), "(none)");
  // The two kinds of look-up keep their own results.
  const char* name = FindNameCode(map, "Euro", true);
  const char* code = FindCodeAlias(map, "RMB");
  EXPECT_EQ(Code(name), "EUR");
  EXPECT_EQ(Code(code), "CNY");
}

TEST_F(MapIniTest, CombinedLookups) {
  Fill(map, {{u"[Names]", {}}, {u"TRL", {u"Turkish\tlira"}}, {u"ABC", {u"Alphabet"}}});
  char code[4] = "---";
  EXPECT_TRUE(LookupCurrencyName(map, "Turkish lira", true, code));
  EXPECT_STREQ(code, "TRY");
  EXPECT_FALSE(LookupCurrencyName(map, "Alphabet", true, code));  // its code is ignored
  EXPECT_FALSE(LookupCurrencyName(map, "Nothing", true, code));
  EXPECT_TRUE(LookupCurrencyCode(map, "RMB", code));
  EXPECT_STREQ(code, "CNY");
  EXPECT_TRUE(LookupCurrencyCode(map, "SEK", code));
  EXPECT_STREQ(code, "SEK");
  EXPECT_FALSE(LookupCurrencyCode(map, "ABC", code));
  EXPECT_FALSE(LookupCurrencyCode(map, "ABCD", code));
}

// Looking names up in a converted document gives what converting the rest each time gives.
TEST_F(MapIniTest, DocumentLookupsMatchTheTextLookups) {
  std::string doc = "Rates\r\n+U.S. dollar 1.25\r\nJapanese " + Nbsp() +
                    "yen 110\r\nEuro area\r\nAustralian dollar x\tGold\r\nJapanese";
  CMapDocument document;
  ASSERT_TRUE(document.Set(doc.c_str()));
  EXPECT_EQ(document.GetText(), doc.c_str());
  int found = 0;
  for (size_t i = 0; i <= doc.size(); ++i)
    for (bool whole : {false, true}) {
      std::string expected = Code(FindNameCode(map, doc.c_str() + i, whole));
      EXPECT_EQ(Code(FindNameCodeAt(map, document, doc.c_str() + i, whole)), expected) << i;
      if (expected != "(none)") ++found;
    }
  EXPECT_GE(found, 4);
  char code[4];
  EXPECT_TRUE(LookupCurrencyNameAt(map, document, doc.c_str() + doc.find("Japanese"), false, code));
  EXPECT_STREQ(code, "JPY");
  if (!AnsiIsUtf8()) {
    EXPECT_EQ(document.At(doc.c_str() + 5)[0], u'\r');
    EXPECT_EQ(document.At(doc.c_str() + doc.size() + 1), nullptr);
  }
}

TEST_F(MapIniTest, TheNameIndexFindsWhatTheWalkFinds) {
  std::string doc = "Rates\r\n+U.S. dollar 1.25\r\nJapanese " + Nbsp() +
                    "yen 110\r\nEuro area\r\nAustralian dollar x\tGold\r\njapanese yen\r\nXTS test";
  CMapDocument document;
  ASSERT_TRUE(document.Set(doc.c_str()));
  CNameIndex index;
  ASSERT_TRUE(index.Build(map));
  int found = 0;
  for (size_t i = 0; i < doc.size(); ++i) {
    const char16_t* wide = document.At(doc.c_str() + i);
    if (AnsiIsUtf8() && (doc[i] & 0xC0) == 0x80) {
      EXPECT_EQ(wide, nullptr) << i;  // inside a character
      continue;
    }
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(Code(index.Find(wide)), Code(FindNameCodeW(map, wide, false))) << i;
    char a[4] = "", b[4] = "";
    bool viaIndex = index.Lookup(wide, a), viaWalk = LookupCurrencyNameAt(map, document, doc.c_str() + i, false, b);
    EXPECT_EQ(viaIndex, viaWalk) << i;
    EXPECT_STREQ(a, b) << i;
    found += viaIndex;
  }
  EXPECT_GE(found, 3);
}

// Under UTF-8 a place of the text finds its character of the wide text whatever the order of the
// questions: characters of one to four bytes, invalid bytes (one U+FFFD each), and places inside a
// character, which begin none.
TEST(MapDocument, PlacesFindTheirCharacters) {
  std::string doc;
  for (int i = 0; i < 40; ++i) doc += std::string("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFF") + (i % 3 ? "b" : "\xC3");
  CMapDocument document;
  ASSERT_TRUE(document.Set(doc.c_str()));
  if (!AnsiIsUtf8()) {
    EXPECT_EQ(document.At(doc.c_str() + 1)[0], u'\u00C3');  // one character per byte
    return;
  }
  // The expected place of each byte, decoded here the slow way.
  std::vector<long> expected(doc.size() + 1, -1);
  std::u16string wide;
  for (size_t i = 0; i < doc.size();) {
    expected[i] = static_cast<long>(wide.size());
    uint32_t cp;
    size_t n = vtx::Utf8Next(doc.c_str() + i, doc.size() - i, &cp);
    wide += vtx::Utf8ToWide(doc.substr(i, n));
    i += n;
  }
  expected[doc.size()] = static_cast<long>(wide.size());
  std::vector<size_t> order;
  for (size_t i = 0; i <= doc.size(); ++i) order.push_back(i);
  for (size_t i = doc.size() + 1; i-- > 0;) order.push_back(i);  // backwards as well
  for (size_t i = 0; i <= doc.size(); i += 7) order.push_back((i * 131) % (doc.size() + 1));
  const char16_t* base = document.At(doc.c_str());
  ASSERT_NE(base, nullptr);
  for (size_t i : order) {
    const char16_t* at = document.At(doc.c_str() + i);
    if (expected[i] < 0) {
      EXPECT_EQ(at, nullptr) << i;
    } else {
      ASSERT_NE(at, nullptr) << i;
      EXPECT_EQ(at - base, expected[i]) << i;
    }
  }
  EXPECT_EQ(std::u16string(base), wide);
}

TEST_F(MapIniTest, AddingWithoutMemoryLeavesTheRows) {
  uint32_t rows = map.GetCount();
  const char16_t* v[] = {u"a"};
  vtx::heap::FailAfter(0);
  bool added = map.AddMultiString(u"ABC", v, 1);
  vtx::heap::FailAfter(-1);
  EXPECT_FALSE(added);
  EXPECT_EQ(map.GetCount(), rows);
  EXPECT_FALSE(map.AddSection(nullptr));
}

}  // namespace
