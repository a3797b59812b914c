#include "platform/locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"

namespace {

std::string Info(LCID lcid, LCTYPE type) {
  char buf[128];
  int n = GetLocaleInfoA(lcid, type, buf, sizeof buf);
  return n > 0 ? std::string(buf) : std::string("<fail>");
}

class Env {
 public:
  Env(const char* lcAll, const char* lang) {
    Set("LC_ALL", lcAll);
    Set("LANG", lang);
  }
  ~Env() {
    unsetenv("LC_ALL");
    unsetenv("LANG");
  }

 private:
  static void Set(const char* name, const char* value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
};

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
    Env env(r.lcAll, r.lang);
    EXPECT_EQ(GetUserDefaultLCID(), r.expected) << (r.lcAll ? r.lcAll : "-") << " " << (r.lang ? r.lang : "-");
    EXPECT_EQ(GetUserDefaultLangID(), static_cast<LANGID>(r.expected));
  }
  Env env(nullptr, "de_DE");
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
