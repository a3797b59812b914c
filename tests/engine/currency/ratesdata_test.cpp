#include <cmath>
#include <string>

#include "engine/foundation/inidataregistry.h"
#include "engine/foundation/timetext.h"
#include "platform/systime.h"
#include "tests/engine/currency/settings_fixture.h"

namespace {

using vtxtest::SettingsTest;

TEST(ParseDecimal, WholeTextMustBeADecimalNumber) {
  static const std::string kHuge(400, '9');
  struct Case {
    const char* text;
    bool ok;
    double value;
    uint32_t decimals;
  } cases[] = {
      {"1.23", true, 1.23, 2},     {" 1.23450 ", true, 1.2345, 5}, {"+7", true, 7, 0},
      {"-1", true, -1, 0},         {"0", true, 0, 0},              {"12.", true, 12, 0},
      {".5", true, 0.5, 1},        {"\t3\t", true, 3, 0},          {"1,23", false, 0, 0},
      {"abc", false, 0, 0},        {"inf", false, 0, 0},           {"nan", false, 0, 0},
      {"1e5", false, 0, 0},        {"0x10", false, 0, 0},          {"", false, 0, 0},
      {" ", false, 0, 0},          {".", false, 0, 0},             {"-", false, 0, 0},
      {"1.2.3", false, 0, 0},      {"1 2", false, 0, 0},           {"--1", false, 0, 0},
      {kHuge.c_str(), false, 0, 0},
  };
  for (const auto& c : cases) {
    double v = -42;
    uint32_t d = 99;
    bool ok = vtx::rates::ParseDecimal(c.text, &v, &d);
    EXPECT_EQ(c.ok, ok) << '"' << c.text << '"';
    if (ok && c.ok) {
      EXPECT_DOUBLE_EQ(c.value, v) << c.text;
      EXPECT_EQ(c.decimals, d) << c.text;
    }
  }
  EXPECT_FALSE(vtx::rates::ParseDecimal(nullptr, nullptr, nullptr));
}

class RatesTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    ASSERT_TRUE(s.Create(nullptr));
  }
  static uint64_t Now() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return FileTimeToU64(t);
  }
  CSettings s;
};

TEST_F(RatesTest, GeneralTextsAccumulateAndOwnDataIsRecognised) {
  ASSERT_EQ(0u, Apply(s, "[General]\nApplication = hulvane(r) vantrex(tm)\nSource = A\nCopyright = C1\n"
                         "Message = M1\nMessage.45 = M2\nWarning = W\n[EUR]\nUSD = 1\n"));
  EXPECT_EQ(1u, s.GetRates().OwnData);
  ASSERT_EQ(0u, Apply(s, "[General]\nApplication = Filter\nSource = B\nCopyright = C2\n[EUR]\nUSD = 1\n"));
  const CRatesData& r = s.GetRates();
  EXPECT_EQ(0u, r.OwnData);
  EXPECT_EQ("A - B", Text(r.Source));
  EXPECT_EQ("C1 - C2", Text(r.Copyright));
  EXPECT_EQ("M1\r\n\r\nM2", Text(r.Message));
  EXPECT_EQ("W", Text(r.Warning));
  ASSERT_EQ(0u, Apply(s, std::string("[General]\nApplication = ") + g_szOwnApplicationSign + "\n"));
  EXPECT_EQ(1u, s.GetRates().OwnData);
  // Load clears the warning and error texts.
  s.Load(false);
  EXPECT_TRUE(s.GetRates().Warning.IsNull());
}

TEST_F(RatesTest, DatesKeepTheLaterCreatedAndTheEarlierExpiry) {
  CStringA next;
  ASSERT_EQ(0u, Apply(s,
                      "[General]\nDate = 2026-12-01T10:00:00Z\nTime = 2026-12-03T10:00:00Z\nDate = \"  2026-12-04T10:00:00Z\"\n"
                      "Expires = 2026-12-09T00:00:00Z\nExpires = 2026-12-08T00:00:00Z\nNext = 2026-12-04T00:00:00Z\n"
                      "[Private-HulvaneVantrex]\nDateOnly = 1\nLastLoaded = 2026-12-03T11:00:00Z\n",
                      false, nullptr, &next));
  const CRatesData& r = s.GetRates();
  char text[32];
  ASSERT_TRUE(TimeToString(r.Created, text));
  EXPECT_STREQ("2026-12-04T10:00:00Z", text);  // the quoted date with leading blanks counts
  ASSERT_TRUE(TimeToString(r.Expires, text));
  EXPECT_STREQ("2026-12-08T00:00:00Z", text);
  ASSERT_TRUE(TimeToString(r.LastLoaded, text));
  EXPECT_STREQ("2026-12-03T11:00:00Z", text);
  EXPECT_EQ("2026-12-04T00:00:00Z", Text(next));
  EXPECT_EQ(1u, r.DateNoTime);
  // A file without a Date leaves DateNoTime as it was; one with a Date sets this file's value.
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1\n"));
  EXPECT_EQ(1u, s.GetRates().DateNoTime);
  ASSERT_EQ(0u, Apply(s, "[General]\nDate = 2026-11-01T00:00:00Z\n"));
  EXPECT_EQ(0u, s.GetRates().DateNoTime);
}

TEST_F(RatesTest, RatesDecimalsCodesAndSkippedRows) {
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1.23450\nGBP = 0\n840 = 1.5\nLONG = 3\n[Foo]\nJPY = 160\n"
                         "[EUR-Replaced]\nXYZ = 2.5\n[Smallest]\nXYZ = 0.5\n"
                         "[Names]\nUSD = Dollar\n"));
  const CurrencyInfo* usd = Find(s, "usd");
  ASSERT_NE(nullptr, usd);
  EXPECT_EQ(1.5, usd->dRate);  // the numeric code names the same record
  EXPECT_EQ(1u, usd->dwRateDecimals);
  EXPECT_EQ(0.0, Rate(s, "GBP"));  // zero is "no rate", not an error
  EXPECT_EQ(nullptr, Find(s, "LONG"));
  EXPECT_EQ(nullptr, Find(s, "JPY"));
  const CurrencyInfo* xyz = Find(s, "XYZ");
  ASSERT_NE(nullptr, xyz);
  EXPECT_EQ(kInfoFromRatesFile | kInfoEuroReplaced, xyz->dwFlags);
  EXPECT_EQ(0.5, xyz->dSmallest);
  EXPECT_EQ(1u, xyz->dwSmallestDecimals);

  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1.23450\n"));
  EXPECT_EQ(5u, Find(s, "USD")->dwRateDecimals);
  // Currencies the file does not name leave the list; the euro stays (AlwaysRetainEuro).
  EXPECT_EQ(nullptr, Find(s, "GBP"));
  EXPECT_NE(nullptr, Find(s, "EUR"));
}

TEST_F(RatesTest, MalformedRowsRefuseTheWholeFile) {
  ASSERT_EQ(0u, Apply(s, "[General]\nSource = Old\n[EUR]\nUSD = 1.1\n"));
  const char* bad[] = {
      "[EUR]\nUSD = -1\n",  "[EUR]\nUSD = 1,23\n", "[EUR]\nUSD = abc\n",  "[EUR]\nUSD = inf\n",
      "[EUR]\nUSD = 1e3\n", "[EUR]\nUSD =\n",       "[EUR]\nUSD = 1 2\n",  "[EUR-Replaced]\nUSD = -0.5\n",
      "[Smallest]\nUSD = 0\n", "[Smallest]\nUSD = -0.01\n", "[Smallest]\nUSD = x\n",
  };
  for (const char* rows : bad) {
    std::string text = std::string("[General]\nSource = New\nDate = 2026-12-01T00:00:00Z\n[EUR]\nGBP = 0.9\n") + rows;
    uint32_t line = 0;
    EXPECT_EQ(E_INVALIDARG, Apply(s, text, false, &line)) << rows;
    EXPECT_EQ(7u, line) << rows;
    EXPECT_EQ("Old", Text(s.GetRates().Source)) << rows;
    EXPECT_EQ(0u, FileTimeToU64(s.GetRates().Created)) << rows;
    EXPECT_EQ(nullptr, Find(s, "GBP")) << rows;
    EXPECT_EQ(1.1, Rate(s, "USD")) << rows;
  }
  // "-0" is zero, not negative.
  EXPECT_EQ(0u, Apply(s, "[EUR]\nUSD = -0\n"));
  EXPECT_EQ(0.0, Rate(s, "USD"));
  EXPECT_FALSE(std::signbit(Rate(s, "USD")));
}

TEST_F(RatesTest, LastChangeRules) {
  CSettingsData& d = *s.GetData();
  d.MaxFluctuation = 10;
  // Old rate zero, new rate differs: changed now, no fluctuation check.
  CurrencyInfo rec;
  ASSERT_TRUE(s.InitCurrencyInfo(rec, "USD"));
  rec.dRate = 0;
  ASSERT_NE(nullptr, s.Add(rec));
  ASSERT_TRUE(s.InitCurrencyInfo(rec, "GBP"));
  rec.dRate = 0.9;  // unchanged below, but never had a time
  ASSERT_NE(nullptr, s.Add(rec));
  ASSERT_TRUE(s.InitCurrencyInfo(rec, "CHF"));
  rec.dRate = 1.0;
  rec.ftLastChange = U64ToFileTime(12345);  // unchanged below: keeps its time
  ASSERT_NE(nullptr, s.Add(rec));
  ASSERT_TRUE(s.InitCurrencyInfo(rec, "SEK"));
  rec.dRate = 10.0;
  rec.ftLastChange = U64ToFileTime(12345);
  ASSERT_NE(nullptr, s.Add(rec));

  uint64_t before = Now();
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1.05\nGBP = 0.9\nCHF = 1.0\nSEK = 11.5\nNOK = 11\n"));
  uint64_t after = Now();
  // In whole seconds, as the stored rates keep it: a reload gives the same time back.
  auto changedNow = [&](const char* code) {
    uint64_t t = FileTimeToU64(Find(s, code)->ftLastChange);
    return t % kFileTimeTicksPerSecond == 0 && t >= before - before % kFileTimeTicksPerSecond && t <= after;
  };
  EXPECT_TRUE(changedNow("USD"));
  EXPECT_EQ(0u, Find(s, "USD")->dwFlags & kInfoFluctuation);
  EXPECT_TRUE(changedNow("GBP"));
  EXPECT_EQ(12345u, FileTimeToU64(Find(s, "CHF")->ftLastChange));
  EXPECT_TRUE(changedNow("SEK"));
  EXPECT_NE(0u, Find(s, "SEK")->dwFlags & kInfoFluctuation);  // 15 % with a limit of 10 %
  EXPECT_TRUE(changedNow("NOK"));                              // new record

  // Within the limit the flag goes; stored data never move times or set flags.
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1.05\nGBP = 0.9\nCHF = 1.0\nSEK = 11.0\nNOK = 11\n"));
  EXPECT_EQ(0u, Find(s, "SEK")->dwFlags & kInfoFluctuation);
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 5\nGBP = 0.9\nCHF = 7\nSEK = 11.0\nNOK = 11\n", true));
  EXPECT_EQ(12345u, FileTimeToU64(Find(s, "CHF")->ftLastChange));
  EXPECT_EQ(0u, Find(s, "USD")->dwFlags & kInfoFluctuation);
}

TEST_F(RatesTest, FixedEuroAndPeggedRatesReplaceIncomingOnes) {
  ASSERT_EQ(0u, Apply(s, "[EUR]\nDEM = 2\nEUR = 1.1\nXPF = 100\nFRF = 6.55957\n"));
  const CurrencyInfo* dem = Find(s, "DEM");
  ASSERT_NE(nullptr, dem);
  EXPECT_EQ(1.95583, dem->dRate);
  EXPECT_EQ(5u, dem->dwRateDecimals);
  EXPECT_EQ(0u, dem->dwFlags & kInfoFixedRate);  // AlwaysRetainEuro: not marked
  EXPECT_STREQ("DEM", dem->szEuroCode);
  EXPECT_EQ(1.0, Rate(s, "EUR"));
  EXPECT_EQ(5u, Find(s, "EUR")->dwRateDecimals);
  const CurrencyInfo* xpf = Find(s, "XPF");
  EXPECT_EQ(119.3317422, xpf->dRate);
  EXPECT_NE(0u, xpf->dwFlags & kInfoFixedRate);
  EXPECT_EQ(0u, Find(s, "FRF")->dwFlags & kInfoFixedRate);

  s.GetData()->AlwaysRetainEuro = 0;
  ASSERT_EQ(0u, Apply(s, "[EUR]\nDEM = 2\n"));
  EXPECT_NE(0u, Find(s, "DEM")->dwFlags & kInfoFixedRate);
  s.GetData()->ConflictingEMU = 2;
  s.GetData()->ConflictingPegged = 2;
  ASSERT_EQ(0u, Apply(s, "[EUR]\nDEM = 2\nXPF = 100\n"));
  EXPECT_EQ(2.0, Rate(s, "DEM"));
  EXPECT_EQ(100.0, Rate(s, "XPF"));
  EXPECT_EQ(0u, Find(s, "DEM")->dwFlags & kInfoFixedRate);
}

TEST_F(RatesTest, OnlyUpdateExistingIgnoresNewCurrenciesAndKeepsUnnamedOnes) {
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1.1\nGBP = 0.9\n"));
  s.GetData()->OnlyUpdateExisting = 1;
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1.2\nJPY = 160\n[Smallest]\nUSD = 1\n"));
  EXPECT_EQ(1.2, Rate(s, "USD"));
  EXPECT_EQ(0.01, Find(s, "USD")->dSmallest);
  EXPECT_EQ(nullptr, Find(s, "JPY"));
  EXPECT_EQ(0.9, Rate(s, "GBP"));
}

TEST_F(RatesTest, PrivateSectionsApplyOnlyToStoredData) {
  const std::string text =
      "[EUR]\nUSD = 1.1\n[Private-HulvaneVantrex_LastChange]\nUSD = 2026-01-02T03:04:05Z\n"
      "[Private-HulvaneVantrex_Warning]\nUSD = 1\n[Private-HulvaneVantrex_Servers]\nUSD = 3\n";
  ASSERT_EQ(0u, Apply(s, text));
  EXPECT_EQ(0u, Find(s, "USD")->dwServers);
  EXPECT_EQ(0u, Find(s, "USD")->dwFlags & kInfoWarning);
  ASSERT_EQ(0u, Apply(s, text, true));
  const CurrencyInfo* usd = Find(s, "USD");
  EXPECT_EQ(3u, usd->dwServers);
  EXPECT_NE(0u, usd->dwFlags & kInfoWarning);
  char t[32];
  ASSERT_TRUE(TimeToString(usd->ftLastChange, t));
  EXPECT_STREQ("2026-01-02T03:04:05Z", t);
}

TEST_F(RatesTest, SaveIniStoresTheRatesForTheNextLoad) {
  ASSERT_EQ(0u, Apply(s, "[General]\nSource = Bank\nDate = 2026-12-09T00:00:00Z\n"
                         "[EUR]\nUSD = 1.05230\nJPY = 163\n[Smallest]\nJPY = 1\n"));
  Find(s, "USD")->dwFlags |= kInfoWarning;
  // A record without a rate is not written, so that it cannot spoil the stored data.
  CurrencyInfo never;
  ASSERT_TRUE(s.InitCurrencyInfo(never, "GBP"));
  ASSERT_NE(nullptr, s.Add(never));
  ASSERT_EQ(0u, s.SaveINI());
  EXPECT_NE(0u, FileTimeToU64(s.GetLastSaved()));

  CIniDataRegistry<char> ini;
  ASSERT_TRUE(ini.SetBaseKey(HKEY_LOCAL_MACHINE, g_szIniKey));
  ASSERT_EQ(0u, ini.Load(g_IniTable, kIniTableCount));

  CSettings t;
  ASSERT_TRUE(t.Create(nullptr));
  EXPECT_EQ("Bank", Text(t.GetRates().Source));
  EXPECT_EQ(1.0523, Rate(t, "USD"));
  EXPECT_EQ(5u, Find(t, "USD")->dwRateDecimals);
  EXPECT_NE(0u, Find(t, "USD")->dwFlags & kInfoWarning);
  EXPECT_EQ(1.0, Find(t, "JPY")->dSmallest);
  EXPECT_EQ(nullptr, Find(t, "GBP"));
  EXPECT_NE(nullptr, Find(t, "EUR"));
  // Times are stored to the second.
  EXPECT_EQ(FileTimeToU64(Find(s, "USD")->ftLastChange) / 10000000, FileTimeToU64(Find(t, "USD")->ftLastChange) / 10000000);
}

TEST_F(RatesTest, UnreadableStoredRatesFallBackToTheEuro) {
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1.05\n"));
  ASSERT_EQ(0u, s.SaveINI());
  ASSERT_EQ(0u, SaveRegistryCStringA("-3", HKEY_LOCAL_MACHINE, "SOFTWARE\\Hulvane\\Vantrex\\4.0\\INI\\EUR", "USD"));
  s.Load(false);
  ASSERT_EQ(1u, s.GetRates().Active.GetCount());
  EXPECT_STREQ("EUR", s.GetRates()[0]->szCode);
}

TEST_F(RatesTest, LookUps) {
  EXPECT_STREQ("EUR", s.IsEuroCurrency("978")->szCode);
  EXPECT_EQ(1.0, s.IsEuroCurrency("eur")->dRate);
  EXPECT_EQ(1.95583, s.IsEuroCurrency("dem")->dRate);
  EXPECT_EQ(nullptr, s.IsEuroCurrency("USD"));
  EXPECT_EQ(nullptr, s.IsEuroCurrency(nullptr));
  ASSERT_NE(nullptr, s.IsPeggedToEURCurrency("XPF"));
  EXPECT_EQ(nullptr, s.IsPeggedToEURCurrency("DEM"));
  EXPECT_STREQ("USD", s.GetData()->GetCurrencyName("840"));
  EXPECT_STREQ("84x", s.GetData()->GetCurrencyName("84x"));
  EXPECT_EQ(-1, s.GetData()->IFind("USD"));
  EXPECT_EQ(0, s.GetData()->IFind("978"));
  EXPECT_TRUE(s.Remove("eur"));
  EXPECT_EQ(0u, s.GetRates().Active.GetCount());
}

}  // namespace
