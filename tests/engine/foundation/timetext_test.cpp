#include "engine/foundation/timetext.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/systime.h"
#include "tests/support/dates.h"
#include "tests/support/text.h"

namespace {

TEST(TimeText, ToStringDropsMilliseconds) {
  char buf[32];
  ASSERT_TRUE(TimeToString(vtxtest::Utc(2005, 8, 22, 9, 57, 19, 500), buf));
  EXPECT_STREQ(buf, "2005-08-22T09:57:19Z");
  char16_t wide[32];
  ASSERT_TRUE(TimeToString(vtxtest::Utc(1601, 1, 1, 0, 0, 0, 0), wide));
  EXPECT_EQ(std::u16string(wide), u"1601-01-01T00:00:00Z");
  char small[20];
  EXPECT_FALSE(TimeToString(vtxtest::Utc(2005, 8, 22, 9, 57, 19, 0), small));  // 20 characters and the NUL
  EXPECT_FALSE(TimeToString(U64ToFileTime(kFileTimeLimit), buf));
}

TEST(TimeText, FromString) {
  const struct {
    const char* text;
    bool ok;
  } rows[] = {
      {"2005-08-22T09:57:19Z", true},   {"2005-08-22T09:57:19Z trailing", true}, {"1601-01-01T00:00:00Z", true},
      {"2004-02-29T23:59:59Z", true},   {"2005-13-22T09:57:19Z", false},         {"2005-08-22T09:57:19", false},
      {"2005-02-30T00:00:00Z", false},  {"1600-12-31T00:00:00Z", false},         {"2005-08-22T24:00:00Z", false},
      {"2005-08-22T09:60:00Z", false},  {"2005-08-22 09:57:19Z", false},         {"2005--08-22T09:57:19Z", false},
      {"", false},                      {"99999999999-08-22T09:57:19Z", false},
      // Each field is read as strtol reads it: leading blanks and a sign are part of the number.
      {" 2005-08-22T09:57:19Z", true},  {"2005-08-22T09:57:+9Z", true},          {"\t2005- 8-+22T 9:57:19Z", true},
      {"-2005-08-22T09:57:19Z", false}, {"2005-08-22T09:57:-1Z", false},         {"2005-08-22T09:57: Z", false},
  };
  for (const auto& r : rows) {
    FILETIME ft{};
    EXPECT_EQ(StringToTime(r.text, &ft), r.ok) << r.text;
    EXPECT_EQ(StringToTime(vtxtest::Str<char16_t>(r.text).c_str(), &ft), r.ok) << r.text;
  }
  FILETIME ft{};
  for (const char* same : {"2005-08-22T09:57:19Z", "  2005-08-22T09:57:+19Z"}) {
    ASSERT_TRUE(StringToTime(same, &ft)) << same;
    EXPECT_EQ(FileTimeToU64(ft), FileTimeToU64(vtxtest::Utc(2005, 8, 22, 9, 57, 19, 0))) << same;
  }
}

TEST(TimeText, SecondArithmetic) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  FILETIME past = now;
  AddSeconds(past, -3600);
  int64_t s = SecondsSince(past);
  EXPECT_GE(s, 3600);
  EXPECT_LE(s, 3700);
  FILETIME future = now;
  AddSeconds(future, 120);
  EXPECT_LE(SecondsSince(future), -119);
  // "never" is four centuries back: far beyond 32 bits.
  EXPECT_GT(SecondsSince(FILETIME{0, 0}), 12000000000ll);
  FILETIME low{5, 0};
  AddSeconds(low, -10);
  EXPECT_EQ(FileTimeToU64(low), 0u);
  FILETIME high = U64ToFileTime(kFileTimeLimit - 5);
  AddSeconds(high, 1000000);
  EXPECT_EQ(FileTimeToU64(high), kFileTimeLimit - 1);
  AddSeconds(high, INT64_MIN);
  EXPECT_EQ(FileTimeToU64(high), 0u);
}

std::string Title(const char* text, BOOL all, LCID lcid = 1033) {
  CStringW out;
  std::u16string in = vtx::Utf8ToWide(text);
  EXPECT_EQ(TitleString(out, in.c_str(), lcid, all), S_OK);
  return vtx::WideToUtf8(out.c_str());
}

TEST(TimeText, TitleCase) {
  const struct {
    const char* text;
    BOOL all;
    const char* expected;
  } rows[] = {
      {"bank of england", 1, "Bank of England"},
      {"rate of", 1, "Rate Of"},
      {"pound: the sterling", 1, "Pound: The Sterling"},
      {"cross-over", 1, "Cross-Over"},
      {"of the people", 1, "Of the People"},
      {"franc de guinée", 1, "Franc de Guinée"},
      {"écu européen", 1, "Écu Européen"},
      {"dollar (the new one)", 1, "Dollar (the New One)"},
      {"mIXED case stays", 1, "MIXED Case Stays"},
      {"bank of england", 0, "Bank of england"},
      {"  leading blanks", 0, "  Leading blanks"},
      {"", 1, ""},
      {"ÿen", 1, "Ÿen"},
  };
  for (const auto& r : rows) EXPECT_EQ(Title(r.text, r.all), r.expected) << r.text;
  EXPECT_EQ(Title("istanbul lira", 1, 0x041F), "İstanbul Lira");
  CStringW out;
  EXPECT_EQ(TitleString(out, nullptr, 1033, 1), E_POINTER);
}

TEST(TimeText, SmallWords) {
  EXPECT_EQ(vtx::timetext::kUncapitalizeWordCount, 90u);
  EXPECT_EQ(std::u16string(vtx::timetext::kUncapitalizeWords[0]), u"de");
  EXPECT_EQ(std::u16string(vtx::timetext::kUncapitalizeWords[89]), u"without");
  EXPECT_TRUE(IsUncapitalizeWord(u"of england"));
  EXPECT_TRUE(IsUncapitalizeWord(u"OF england"));
  EXPECT_FALSE(IsUncapitalizeWord(u"of"));
  EXPECT_FALSE(IsUncapitalizeWord(u"often"));
  EXPECT_FALSE(IsUncapitalizeWord(u"over-the-top"));
  EXPECT_TRUE(IsUncapitalizeWord(u"over- x"));
}

TEST(TimeText, LanguageTags) {
  EXPECT_EQ(vtx::timetext::kLangCount, 125u);
  EXPECT_EQ(vtx::timetext::kLangs[0].lcid, 0x0436u);
  EXPECT_EQ(vtx::timetext::kLangs[124].lcid, 0x0435u);
  const struct {
    const char16_t* text;
    LCID lcid;
    uint32_t length;
  } rows[] = {
      {u"en-us;q=0.8", 0x0409, 5}, {u"en", 0x0009, 2},     {u"english", 0, 0},      {u"EN-GB", 0x0809, 5},
      {u"enus", 0x0409, 4},        {u"de-DE", 0x0407, 5},  {u"fr-FR,en;q=0.5", 0x040C, 5},
      {u"pt-PT", 0x0816, 5},       {u"pt-br", 0x0416, 5},  {u"ko", 0x0412, 2},      {u"zh-Hant-TW", 0, 0},
      {u"de-DE-1996;q=1", 0x0407, 10}, {u"xx-YY", 0, 0},   {u"cs", 0x0405, 2},      {u"de-", 0, 0},
      {u"", 0, 0},
  };
  for (const auto& r : rows) {
    uint32_t length = 99;
    EXPECT_EQ(LocalNameToLCID(r.text, &length), r.lcid) << vtx::WideToUtf8(r.text);
    EXPECT_EQ(length, r.length) << vtx::WideToUtf8(r.text);
  }
  char16_t buf[8];
  EXPECT_EQ(LCIDToLocalName(0x0804, buf, 8, TRUE), 5u);
  EXPECT_EQ(std::u16string(buf), u"zh-cn");
  EXPECT_EQ(LCIDToLocalName(0x0804, buf, 8, FALSE), 4u);
  EXPECT_EQ(std::u16string(buf), u"zhcn");
  EXPECT_EQ(LCIDToLocalName(0x0804, buf, 3, TRUE), 2u);
  EXPECT_EQ(std::u16string(buf), u"zh");
  EXPECT_EQ(LCIDToLocalName(0x0C0A, buf, 8, TRUE), 2u);  // a second row for es
  EXPECT_EQ(LCIDToLocalName(0x1234, buf, 8, TRUE), 0u);
  EXPECT_EQ(LCIDToLocalName(0x0409, nullptr, 8, TRUE), 0u);
  EXPECT_EQ(LCIDToLocalName(0x0409, buf, 0, TRUE), 0u);
}

TEST(TimeText, KeywordsAndSuffixes) {
  EXPECT_TRUE(IsKeyword(u"en;q", u"en"));
  EXPECT_TRUE(IsKeyword(u"EN", u"en"));
  EXPECT_FALSE(IsKeyword(u"en-us", u"en"));
  EXPECT_FALSE(IsKeyword(u"en2", u"en"));
  EXPECT_FALSE(IsKeyword(u"e", u"en"));
  EXPECT_TRUE(EndsWith("rates.ENI", ".eni"));
  EXPECT_FALSE(EndsWith("eni", ".eni"));
  EXPECT_FALSE(EndsWith(nullptr, ".eni"));
  EXPECT_TRUE(EndsWith("x", ""));
}

}  // namespace

namespace {

// The system's locale list is drawn from the same rows: every specific LCID has its abbreviation.
TEST(TimeText, EverySpecificRowHasAnAbbreviation) {
  for (size_t i = 0; i < vtx::timetext::kLangCount; ++i) {
    LCID lcid = vtx::timetext::kLangs[i].lcid;
    if (!(lcid & 0xFC00)) continue;
    char buf[8];
    EXPECT_EQ(GetLocaleInfoA(lcid, LOCALE_SABBREVLANGNAME, buf, sizeof buf), 4) << std::hex << lcid;
  }
}

}  // namespace
