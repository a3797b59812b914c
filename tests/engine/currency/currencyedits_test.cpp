// Edits of the active list, the currency database and the locales, and amounts converted in texts.
#include <gtest/gtest.h>

#include <string>

#include "engine/currency/convertbuffer.h"
#include "tests/engine/currency/settings_fixture.h"
#include "tests/support/clipboard.h"

namespace {

using vtxtest::SettingsTest;

constexpr char kRates[] = "[General]\nSource = Test\n[EUR]\nUSD = 1.25\nGBP = 0.8\nJPY = 160\n[Smallest]\nJPY = 1\n";

class CurrencyEdits : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    ASSERT_TRUE(s.Create(nullptr));
    ASSERT_EQ(Apply(s, kRates), 0u);
  }
  CSettings s;
};

}  // namespace

TEST_F(CurrencyEdits, EuroRecordsInTheActiveList) {
  const CurrencyInfo* dem = s.IsEuroCurrency("DEM");
  ASSERT_NE(dem, nullptr);
  ASSERT_EQ(Find(s, "DEM"), nullptr);
  EXPECT_TRUE(s.ResetEuro(*dem));
  ASSERT_NE(Find(s, "DEM"), nullptr);
  EXPECT_DOUBLE_EQ(Rate(s, "DEM"), 1.95583);
  EXPECT_FALSE(s.ResetEuro(*dem)) << "nothing differs";
  CurrencyInfo changed = *dem;
  changed.dRate = 2.0;
  Find(s, "DEM")->ftLastChange = FILETIME{};
  EXPECT_TRUE(s.ResetEuro(changed));
  EXPECT_DOUBLE_EQ(Rate(s, "DEM"), 2.0);
  EXPECT_NE(FileTimeToU64(Find(s, "DEM")->ftLastChange), 0u) << "a new rate is a change now";
  EXPECT_STREQ(s.GetRates()[0]->szCode, "DEM") << "added before the first code that sorts after it";

  EXPECT_TRUE(s.RemoveEuro());
  EXPECT_EQ(Find(s, "DEM"), nullptr);
  EXPECT_EQ(Find(s, "EUR"), nullptr);
  EXPECT_NE(Find(s, "USD"), nullptr);
  EXPECT_FALSE(s.RemoveEuro());
  EXPECT_TRUE(s.RemoveNonEuro());
  EXPECT_EQ(s.GetRates().Active.GetCount(), 0u);
}

TEST_F(CurrencyEdits, Tests) {
  EXPECT_TRUE(s.IsReplacedCurrency("dem"));
  EXPECT_TRUE(s.IsReplacedCurrency("276"));
  EXPECT_FALSE(s.IsReplacedCurrency("USD"));
  EXPECT_FALSE(s.IsReplacedCurrency("XYZ"));
  EXPECT_FALSE(s.IsReplacedCurrency(nullptr));
  EXPECT_TRUE(s.IsValidUnit("usd"));
  EXPECT_TRUE(s.IsValidUnit("840"));
  EXPECT_FALSE(s.IsValidUnit("CHF"));
  EXPECT_FALSE(s.IsValidUnit(nullptr));
  CCurrencyList a, b;
  ASSERT_TRUE(a.CopyFrom(s));
  ASSERT_TRUE(b.CopyFrom(a));
  ASSERT_TRUE(b.CopyFrom(a));
  EXPECT_EQ(b.GetCount(), 2 * a.GetCount()) << "copies are appended";
}

TEST_F(CurrencyEdits, DatabaseResetToTheBuiltInRows) {
  CAllCurrencies& db = s.GetData()->Currencies;
  CurrencyData usd = *db[static_cast<uint32_t>(db.IFind("USD"))];
  usd.dSmallest = 0.5;
  usd.dRate = 1.3;
  usd.dwServers = 2;
  EXPECT_TRUE(CAllCurrencies::Reset(usd));
  EXPECT_EQ(usd.dSmallest, 0.01);
  EXPECT_EQ(usd.dRate, 1.3) << "a rate of its own is kept";
  EXPECT_EQ(usd.dwServers, 2u);
  CurrencyData dem = *db[static_cast<uint32_t>(db.IFind("DEM"))];
  dem.dwFlags = 0;
  EXPECT_TRUE(CAllCurrencies::Reset(dem));
  EXPECT_EQ(dem.dwFlags, 6u);
  CurrencyData odd;
  InitCurrencyData(odd, "XYZ");
  EXPECT_FALSE(CAllCurrencies::Reset(odd));
  EXPECT_EQ(odd.dwFlags, 5u) << "new records are legal tender and physical";
  EXPECT_EQ(odd.dSmallest, 0.01);

  ASSERT_TRUE(db.Add(odd));
  ASSERT_TRUE(db.IRemove("DEM"));
  db[static_cast<uint32_t>(db.IFind("GBP"))]->dSmallest = 7;
  EXPECT_TRUE(db.Reset("gbp"));
  EXPECT_EQ(db[static_cast<uint32_t>(db.IFind("GBP"))]->dSmallest, 0.01);
  EXPECT_FALSE(db.Reset("XYZ")) << "no built-in row";
  EXPECT_FALSE(db.Reset("DEM")) << "not in the database";
  ASSERT_TRUE(db.Reset(nullptr));
  EXPECT_EQ(db.GetCount(), kCurrencyDataCount);
  EXPECT_LT(db.IFind("XYZ"), 0);
  EXPECT_GE(db.IFind("DEM"), 0);
  EXPECT_EQ(db.GetAddList().GetCount(), 0u);
  EXPECT_EQ(db.GetRemoveList().GetCount(), 0u);
}

TEST_F(CurrencyEdits, Locales) {
  CCurrencyLocaleList* list = s.GetLocaleList();
  ASSERT_NE(list, nullptr);
  CCurrencyLocale* de = list->GetLocale(0x0407);
  ASSERT_NE(de, nullptr);
  EXPECT_EQ(list->Find("DEU"), de);
  EXPECT_EQ(list->Find("de"), de) << "two letters match the beginning of the short name";
  list->SetDefaultLocale(0x0407);
  EXPECT_EQ(list->Find("no such locale"), de) << "the default locale";
  EXPECT_EQ(list->Find(static_cast<const char*>(nullptr)), de);

  CStringList<char> add, remove;
  add.Add("XYZ");
  add.Add("USD");
  remove.Add("GBP");
  const uint32_t before = de->GetInfoCount();
  ASSERT_EQ(de->NormalizeList(&add, &remove), S_OK);
  ASSERT_NE(de->IFind("XYZ"), nullptr);
  EXPECT_EQ(de->IFind("XYZ")->GetChanged(), 0u);
  EXPECT_EQ(de->IFind("GBP"), nullptr);
  EXPECT_EQ(de->GetInfoCount(), before);
  EXPECT_TRUE(list->RemoveCurrency("usd"));
  EXPECT_EQ(de->IFind("USD"), nullptr);
  EXPECT_FALSE(list->RemoveCurrency("QQQ"));
}

namespace {


std::string Converted(CSettings& s, const char* text, const char* from, const char* to, uint32_t* count,
                      HRESULT want = S_OK) {
  CWriteBuffer out;
  EXPECT_EQ(out.Create(0, CWriteBuffer::OneZero), S_OK);
  EXPECT_EQ(ConvertBuffer(text, out, from, to, s, true, false, count), want) << text;
  out.Close();
  return reinterpret_cast<const char*>(out.GetData());
}

}  // namespace

TEST_F(CurrencyEdits, AmountsInTexts) {
  setenv("LC_ALL", "en_US.UTF-8", 1);
  uint32_t n = 9;
  EXPECT_EQ(Converted(s, "Pay 10 EUR, or 2,000.40 EUR.", "EUR", "USD", &n), "Pay 12.50 EUR, or 2500.50 EUR.");
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(Converted(s, "no amounts here", "EUR", "USD", &n), "no amounts here");
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Converted(s, "1 x", "EUR", "CHF", &n, 0x80070490), "");

  EXPECT_EQ(ConvertClipboard(s, "EUR", "JPY", true, false, &n), 0x8007058Au) << "no desktop clipboard";
  vtxtest::MemoryClipboard desk;
  vtx::clipboard::SetBackend(&desk);
  EXPECT_EQ(ConvertClipboard(s, "EUR", "JPY", true, false, &n), S_OK) << "an empty clipboard";
  EXPECT_EQ(n, 0u);
  desk.text = u"Total: 3.1 EUR";
  EXPECT_EQ(ConvertClipboard(s, "EUR", "JPY", true, false, &n), S_OK);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(desk.text, u"Total: 496 EUR");
  vtx::clipboard::SetBackend(nullptr);
  unsetenv("LC_ALL");
}
