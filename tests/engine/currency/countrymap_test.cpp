// The country, domain and locale mappings to a currency, and their fallbacks.
#include <gtest/gtest.h>

#include <string>

#include "tests/engine/currency/settings_fixture.h"

namespace {

using vtxtest::SettingsTest;

// EUR, USD, GBP, JPY, CHF, CAD and TRL (the old lira, while TRY is not active).
constexpr char kRates[] =
    "[General]\nSource = Test\n[EUR]\nUSD = 1.25\nGBP = 0.8\nJPY = 160\nCHF = 1.5\nCAD = 1.6\nTRL = 1800000\n";

class CountryMap : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    ASSERT_TRUE(s.Create(nullptr));
    ASSERT_EQ(Apply(s, kRates), 0u);
    ASSERT_NE(s.GetLocaleList(), nullptr);
    s.GetLocaleList()->SetDefaultLocale(1033);
  }
  std::string Country(const char* text, bool activeOnly) {
    char out[4] = "???";
    EXPECT_EQ(s.CountryToCurrency(text, activeOnly, out), S_OK) << text;
    return out;
  }
  std::string Domain(const char* text, bool activeOnly, HRESULT want = S_OK) {
    char out[4] = "";
    EXPECT_EQ(s.DomainToCurrency(text, activeOnly, out), want) << text;
    return out;
  }
  std::string Locale(LCID lcid, bool activeOnly) {
    char out[4] = "???";
    EXPECT_EQ(s.LocaleToCurrency(lcid, activeOnly, out), S_OK);
    return out;
  }
  CSettings s;
};

}  // namespace

TEST_F(CountryMap, Countries) {
  const struct {
    const char* text;
    bool activeOnly;
    const char* currency;
  } cases[] = {
      {"de", false, "EUR"},  {"DEU", false, "EUR"}, {"276", false, "EUR"},
      {"040", false, "EUR"},  // Austria: decimal with leading zeros, not octal 32 (Argentina)
      {"450", false, "MGA"},  {"740", false, "SRD"}, {"792", false, "TRY"},  // country numbers, not currency ones
      {"969", false, "USD"},  // no country has the number of the ariary: the default locale's currency
      {"cs", false, "CSD"},   {"SCG", false, "CSD"}, {"891", false, "CSD"},
      {"uk", false, "GBP"},   {"gb", false, "GBP"},  {"XK", false, "USD"},
      {"gov", false, "USD"},  // three letters outside domain mode are an alpha-3 code: no row
      {"ch", true, "CHF"},    {"ca", true, "CAD"},
      {"tr", true, "TRL"},    // TRY is not active: the active code that begins with the same letters
      {"mg", true, "USD"},    // nothing begins with MG: the default locale's currency, which is active
      {"tr", false, "TRY"},   {"", false, "USD"},    {"1x", false, "USD"},
  };
  for (const auto& k : cases) EXPECT_EQ(Country(k.text, k.activeOnly), k.currency) << k.text << " " << k.activeOnly;
  char out[4];
  EXPECT_EQ(s.CountryToCurrency(nullptr, false, out), E_INVALIDARG);
  EXPECT_EQ(s.CountryToCurrency("de", false, nullptr), E_INVALIDARG);

  // The default locale's currency not active: the first active currency.
  s.GetLocaleList()->SetDefaultLocale(0x0419);
  EXPECT_EQ(Country("mg", true), s.GetRates()[0]->szCode);
  EXPECT_EQ(Country("mg", false), "MGA");
}

TEST_F(CountryMap, Domains) {
  EXPECT_EQ(Domain("www.ecb.europa.eu", true), "EUR");
  EXPECT_EQ(Domain("http://www.bankofengland.co.uk/rates?x=1", true), "GBP");
  EXPECT_EQ(Domain("data.treasury.gov", true), "USD");
  EXPECT_EQ(Domain("https://army.mil/", false), "USD");
  EXPECT_EQ(Domain("example.de.", false), "EUR");
  EXPECT_EQ(Domain("EXAMPLE.CH", true), "CHF");
  EXPECT_EQ(Domain("localhost", false), "USD") << "no dot: the whole host is looked up";
  EXPECT_EQ(Domain("http:///x", false, E_INVALIDARG), "");
  EXPECT_EQ(Domain(nullptr, false, E_INVALIDARG), "");
}

TEST_F(CountryMap, Locales) {
  EXPECT_EQ(Locale(1031, false), "EUR");
  EXPECT_EQ(Locale(0x0411, true), "JPY");
  EXPECT_EQ(Locale(0x0419, false), "RUB");
  EXPECT_EQ(Locale(0x0419, true), "USD") << "not active: the default locale's currency";
  EXPECT_EQ(Locale(LOCALE_SYSTEM_DEFAULT, false), "USD") << "no language part: the default locale";
  EXPECT_EQ(s.LocaleToCurrency(1031, false, nullptr), E_INVALIDARG);
}
