#include "platform/locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "tests/support/env.h"

namespace {

std::string Info(LCID lcid, LCTYPE type) {
  char buf[128];
  int n = GetLocaleInfoA(lcid, type, buf, sizeof buf);
  return n > 0 ? std::string(buf) : std::string("<fail>");
}

TEST(Locale, UsEnglishNumberAndCurrencyItems) {
  const struct {
    LCTYPE type;
    const char* expected;
  } rows[] = {
      {LOCALE_SDECIMAL, "."},       {LOCALE_STHOUSAND, ","},       {LOCALE_SGROUPING, "3;0"},
      {LOCALE_IDIGITS, "2"},        {LOCALE_SMONDECIMALSEP, "."},  {LOCALE_SMONTHOUSANDSEP, ","},
      {LOCALE_SMONGROUPING, "3;0"}, {LOCALE_ICURRDIGITS, "2"},     {LOCALE_ICURRENCY, "0"},
      {LOCALE_INEGCURR, "0"},       {LOCALE_SENGLANGUAGE, "English"}, {LOCALE_SENGCOUNTRY, "United States"},
      {LOCALE_SCURRENCY, "$"},      {LOCALE_SINTLSYMBOL, "USD"},   {LOCALE_ILANGUAGE, "0409"},
  };
  for (const auto& r : rows) EXPECT_EQ(Info(1033, r.type), r.expected) << std::hex << r.type;
}

TEST(Locale, OtherLocalesComeFromIcu) {
  EXPECT_EQ(Info(0x0407, LOCALE_SDECIMAL), ",");
  EXPECT_EQ(Info(0x0407, LOCALE_STHOUSAND), ".");
  EXPECT_EQ(Info(0x0407, LOCALE_ICURRENCY), "3");  // 1,1 $
  EXPECT_EQ(Info(0x0407, LOCALE_INEGCURR), "8");   // -1,1 $
  EXPECT_EQ(Info(0x0407, LOCALE_SENGLANGUAGE), "German");
  EXPECT_EQ(Info(0x0411, LOCALE_ICURRDIGITS), "0");  // yen
  EXPECT_EQ(Info(0x0439, LOCALE_SGROUPING), "3;2;0");  // Hindi: 12,34,567
  // The narrow no-break space of CLDR is given as the plain one, which single-byte pages hold.
  EXPECT_EQ(Info(0x040C, LOCALE_STHOUSAND), "\xA0");
}

TEST(Locale, ArabicScriptLocalesSeparateLikeTheirLatinDigits) {
  // Their native digits have their own separators (U+066B, U+066C), which the Latin digits we
  // print do not go with and no ANSI page outside Arabic holds.
  for (LCID lcid : {0x0401, 0x0429, 0x0801, 0x0C01, 0x2001, 0x2401, 0x2801, 0x2C01, 0x3001, 0x3401, 0x3C01, 0x4001}) {
    for (LCTYPE type : {LOCALE_SDECIMAL, LOCALE_STHOUSAND, LOCALE_SMONDECIMALSEP, LOCALE_SMONTHOUSANDSEP}) {
      char16_t wide[8] = {};
      ASSERT_EQ(GetLocaleInfoW(lcid, type, wide, 8), 2) << std::hex << lcid << " " << type;
      EXPECT_TRUE(wide[0] == u'.' || wide[0] == u',') << std::hex << lcid << " " << type << " " << static_cast<int>(wide[0]);
      EXPECT_EQ(Info(lcid, type), std::string(1, static_cast<char>(wide[0]))) << std::hex << lcid << " " << type;
    }
  }
  EXPECT_EQ(Info(0x0401, LOCALE_SMONDECIMALSEP), ".");
  EXPECT_EQ(Info(0x0401, LOCALE_SMONTHOUSANDSEP), ",");
}

TEST(Locale, UnknownLocaleAnswersWithUsValues) {
  EXPECT_EQ(Info(0x7777, LOCALE_SDECIMAL), ".");
  EXPECT_EQ(Info(0x7777, LOCALE_SGROUPING), "3;0");
  EXPECT_EQ(Info(0x7777, LOCALE_ICURRDIGITS), "2");
}

TEST(Locale, BufferRules) {
  EXPECT_EQ(GetLocaleInfoA(1033, LOCALE_SGROUPING, nullptr, 0), 4);
  char small[3];
  SetLastError(0);
  EXPECT_EQ(GetLocaleInfoA(1033, LOCALE_SGROUPING, small, sizeof small), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetLocaleInfoA(1033, 0x9999, small, sizeof small), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  DWORD digits = 0;
  EXPECT_GT(GetLocaleInfoW(1033, LOCALE_IDIGITS | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&digits), 2), 0);
  EXPECT_EQ(digits, 2u);
  EXPECT_EQ(GetLocaleInfoA(1033, LOCALE_SDECIMAL | LOCALE_RETURN_NUMBER, small, sizeof small), 0);
  char16_t wide[8];
  EXPECT_EQ(GetLocaleInfoW(1033, LOCALE_SMONGROUPING | LOCALE_NOUSEROVERRIDE, wide, 8), 4);
  EXPECT_EQ(std::u16string(wide), u"3;0");
}

TEST(Locale, UserDefaultFromEnvironment) {
  const struct {
    const char* lcAll;
    const char* lang;
    LCID expected;
  } rows[] = {
      {nullptr, "de_DE.UTF-8", 0x0407}, {"fr_FR@euro", "de_DE", 0x040C}, {"", "en_GB.UTF-8", 0x0809},
      {nullptr, "C.UTF-8", 0x0409},     {"POSIX", nullptr, 0x0409},     {nullptr, nullptr, 0x0409},
      {nullptr, "xx_YY", 0x0409},       {nullptr, "de_AT", 0x0C07},     {nullptr, "it", 0x0410},
  };
  for (const auto& r : rows) {
    vtxtest::ScopedEnv lcAll("LC_ALL", r.lcAll), lang("LANG", r.lang);
    EXPECT_EQ(GetUserDefaultLCID(), r.expected) << (r.lcAll ? r.lcAll : "-") << " " << (r.lang ? r.lang : "-");
    EXPECT_EQ(GetUserDefaultLangID(), static_cast<LANGID>(r.expected));
  }
  vtxtest::ScopedEnv lcAll("LC_ALL", nullptr), lang("LANG", "de_DE");
  EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL), ",");
}

TEST(Locale, CaseMappingKeepsLength) {
  char16_t out[8];
  EXPECT_EQ(LCMapStringW(1033, LCMAP_UPPERCASE, u"stra\u00dfe", -1, out, 8), 7);
  EXPECT_EQ(std::u16string(out), u"STRA\u00dfE");  // no expansion to SS
  EXPECT_EQ(LCMapStringW(0x041F, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, u"i", 1, out, 1), 1);
  EXPECT_EQ(out[0], u'\u0130');
  EXPECT_EQ(LCMapStringW(0x041F, LCMAP_UPPERCASE, u"i", 1, out, 1), 1);
  EXPECT_EQ(out[0], u'I');
  EXPECT_EQ(LCMapStringW(1033, LCMAP_UPPERCASE, u"abc", -1, nullptr, 0), 4);
  EXPECT_EQ(LCMapStringW(1033, LCMAP_UPPERCASE, u"abc", -1, out, 2), 0);
}

TEST(Locale, CharacterClasses) {
  EXPECT_TRUE(IsCharAlphaNumericW(u'\u00e9'));
  EXPECT_TRUE(IsCharAlphaNumericW(u'7'));
  EXPECT_FALSE(IsCharAlphaNumericW(u'-'));
  EXPECT_TRUE(IsCharAlphaNumericA(static_cast<char>(0xE9)));  // é in Windows-1252
  EXPECT_FALSE(IsCharAlphaNumericA(static_cast<char>(0xA0)));
}

}  // namespace

namespace {

TEST(Locale, CurrencyLocaleNames) {
  EXPECT_EQ(Info(1033, LOCALE_SABBREVLANGNAME), "ENU");
  EXPECT_EQ(Info(0x0407, LOCALE_SABBREVLANGNAME), "DEU");
  EXPECT_EQ(Info(0x0410, LOCALE_SABBREVLANGNAME), "ITA");
  EXPECT_EQ(Info(0x040C, LOCALE_SABBREVLANGNAME), "FRA");
  EXPECT_EQ(Info(0x0411, LOCALE_SABBREVLANGNAME), "JPN");
  EXPECT_EQ(Info(0x0C07, LOCALE_SENGCOUNTRY), "Austria");
  EXPECT_EQ(Info(0x0809, LOCALE_SENGCOUNTRY), "United Kingdom");
  // Names an unknown locale does not have fail, so that callers take their own fallback.
  for (LCTYPE t : {LOCALE_SABBREVLANGNAME, LOCALE_SENGLANGUAGE, LOCALE_SENGCOUNTRY}) {
    SetLastError(0);
    EXPECT_EQ(Info(0x7777, t), "<fail>");
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(Info(0x0481, LOCALE_SABBREVLANGNAME), "<fail>");  // known to ICU, not to our table
  char16_t wide[16];
  ASSERT_GT(GetLocaleInfoW(0x0481, LOCALE_SENGLANGUAGE, wide, 16), 0);
  EXPECT_EQ(std::u16string(wide), u"M\u0101ori");
}

TEST(Locale, SystemLocaleList) {
  DWORD n = vtx::EnumSystemLocalesList(nullptr, 0);
  ASSERT_GT(n, 100u);
  std::vector<LCID> ids(n);
  EXPECT_EQ(vtx::EnumSystemLocalesList(ids.data(), n), n);
  for (DWORD i = 1; i < n; ++i) EXPECT_LT(ids[i - 1], ids[i]);
  auto has = [&](LCID id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); };
  EXPECT_TRUE(has(0x0409));
  EXPECT_TRUE(has(0x0407));
  EXPECT_TRUE(has(0x0C07));
  EXPECT_FALSE(has(0x0009));  // neutral rows are not locales
  EXPECT_FALSE(has(0x0430));  // no ICU data for Sesotho
  for (LCID id : ids) {
    char buf[64];
    EXPECT_GT(GetLocaleInfoA(id, LOCALE_SABBREVLANGNAME, buf, sizeof buf), 0) << std::hex << id;
    EXPECT_GT(GetLocaleInfoA(id, LOCALE_SENGLANGUAGE, buf, sizeof buf), 0) << std::hex << id;
    DWORD pos = 99, neg = 99;
    GetLocaleInfoA(id, LOCALE_ICURRENCY | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&pos), 4);
    GetLocaleInfoA(id, LOCALE_INEGCURR | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&neg), 4);
    EXPECT_LE(pos, 3u) << std::hex << id;
    EXPECT_LE(neg, 15u) << std::hex << id;
  }
  LCID few[3];
  EXPECT_EQ(vtx::EnumSystemLocalesList(few, 3), n);  // a short array gets the first ones
  EXPECT_EQ(few[0], ids[0]);
}

// The first uses of the list come from many threads at once (each test runs in a process of its own).
TEST(Locale, ListsFromManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::vector<DWORD> counts(8), answered(8);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&counts, &answered, i] {
      std::vector<LCID> ids(300);
      counts[i] = vtx::EnumSystemLocalesList(ids.data(), 300);
      for (DWORD k = 0; k < counts[i] && k < 300; ++k)
        if (GetLocaleInfoA(ids[k], LOCALE_SMONGROUPING, nullptr, 0) > 0) ++answered[i];
    });
  for (auto& t : threads) t.join();
  const DWORD all = vtx::EnumSystemLocalesList(nullptr, 0);
  ASSERT_GT(all, 100u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(counts[i], all) << "thread " << i;
    EXPECT_EQ(answered[i], std::min<DWORD>(all, 300)) << "thread " << i;
  }
}

TEST(Locale, CurrencyPatternNumbers) {
  const struct {
    LCID lcid;
    DWORD positive, negative;
  } rows[] = {
      {0x0409, 0, 0},   // $1.1, ($1.1)
      {0x0407, 3, 8},   // 1,1 €, -1,1 €
      {0x0413, 2, 12},  // € 1,1, € -1,1
      {0x0809, 0, 1},   // £1.1, -£1.1
  };
  for (const auto& r : rows) {
    DWORD pos = 99, neg = 99;
    GetLocaleInfoA(r.lcid, LOCALE_ICURRENCY | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&pos), 4);
    GetLocaleInfoA(r.lcid, LOCALE_INEGCURR | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&neg), 4);
    EXPECT_EQ(pos, r.positive) << std::hex << r.lcid;
    EXPECT_EQ(neg, r.negative) << std::hex << r.lcid;
  }
}

}  // namespace
