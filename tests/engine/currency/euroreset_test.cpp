// The database's fixed rates back into the active list, the stored choice of the built-in euro rows,
// the euro reset pass, and the locale members the configuration pages use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/registry.h"
#include "tests/engine/currency/settings_fixture.h"

namespace {

using vtxtest::SettingsTest;

std::string Utf8(const char16_t* text) { return text ? vtx::WideToUtf8(text) : std::string(); }

CurrencyData* Db(CSettings& s, const char* code) {
  int32_t i = s.GetData()->Currencies.IFind(code);
  return i < 0 ? nullptr : s.GetData()->Currencies[i];
}

TEST_F(SettingsTest, DatabaseIndexOutOfRangeThrows) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  const CAllCurrencies& db = s.GetData()->Currencies;
  EXPECT_STREQ(db[0]->szCode, "ADF");
  EXPECT_THROW(db[db.GetCount()], int);
  EXPECT_THROW(db[-1], int);
}

TEST_F(SettingsTest, DatabaseFixedRatesGoToTheActiveRecords) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  ASSERT_EQ(0u, Apply(s, "[EUR]\nDEM = 1.9\nUSD = 1.2\nGBP = 0.7\n"));
  CAllCurrencies& db = s.GetData()->Currencies;
  Db(s, "DEM")->ftLastChange = U64ToFileTime(77);
  Db(s, "DEM")->dwServers = 3;
  const double dem = Db(s, "DEM")->dRate;
  Db(s, "GBP")->dRate = 0.0;  // floating, no rate stored

  struct Case {
    const char* code;
    bool done;
  } cases[] = {{"DEM", true}, {"dem", true}, {"276", true}, {"GBP", false}, {"FRF", false}, {"QQQ", false}};
  for (const Case& c : cases) {
    Find(s, "DEM")->dRate = 9.9;
    EXPECT_EQ(db.Update(&s, c.code), c.done) << c.code;
    EXPECT_EQ(Rate(s, "DEM"), c.done ? dem : 9.9) << c.code;
  }
  const CurrencyInfo* d = Find(s, "DEM");
  EXPECT_EQ(d->dwRateDecimals, Db(s, "DEM")->dwRateDecimals);
  EXPECT_EQ(FileTimeToU64(d->ftLastChange), 77u);
  EXPECT_EQ(d->dwServers, 3u);
  EXPECT_FALSE(db.Update(nullptr, "DEM"));

  // Without a code every active currency with a database rate: USD's stored last rate too.
  Find(s, "DEM")->dRate = 9.9;
  Find(s, "USD")->dRate = 5.0;
  Find(s, "GBP")->dRate = 5.0;
  Db(s, "USD")->dRate = 1.25;
  EXPECT_TRUE(db.Update(&s, nullptr));
  EXPECT_EQ(Rate(s, "DEM"), dem);
  EXPECT_EQ(Rate(s, "USD"), 1.25);
  EXPECT_EQ(Rate(s, "GBP"), 5.0);
  s.Remove("DEM");
  s.Remove("USD");
  s.Remove("EUR");
  EXPECT_FALSE(db.Update(&s, nullptr));
}

TEST_F(SettingsTest, ResetOriginalEuroMovesTheOlderName) {
  struct Case {
    const char* name;
    int euro, emu;  // stored values, -1 for none
    bool failedWrite;
    uint32_t result;
    int euroAfter, emuAfter;
  } cases[] = {
      {"old only", 1, -1, false, 1, -1, 1},   {"new only", -1, 5, false, 5, -1, 5},
      {"both", 0, 7, false, 0, -1, 0},        {"neither", -1, -1, false, 0, -1, -1},
      {"failed write", 3, 4, true, 3, 3, 4},
  };
  auto read = [](const char* name) {
    uint32_t v = 0;
    return vtx::currency::ReadDword(g_szAppKey, name, &v) ? static_cast<int>(v) : -1;
  };
  for (const Case& c : cases) {
    for (const char* n : {"ResetOriginalEuro", "ResetOriginalEMU"}) DeleteRegistryValue(HKEY_LOCAL_MACHINE, g_szAppKey, n);
    if (c.euro >= 0) {
      ASSERT_EQ(0u, vtx::currency::WriteDword(g_szAppKey, "ResetOriginalEuro", c.euro));
    }
    if (c.emu >= 0) {
      ASSERT_EQ(0u, vtx::currency::WriteDword(g_szAppKey, "ResetOriginalEMU", c.emu));
    }
    uint32_t result;
    if (c.failedWrite) {
      // Inside a read scope every write is refused.
      vtx::RegTransaction readOnly(vtx::RegTransaction::Read);
      ASSERT_EQ(readOnly.Status(), 0u);
      result = ResetOriginalEuro();
    } else {
      result = ResetOriginalEuro();
    }
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(read("ResetOriginalEuro"), c.euroAfter) << c.name;
    EXPECT_EQ(read("ResetOriginalEMU"), c.emuAfter) << c.name;
  }
}

TEST_F(SettingsTest, LocaleCopyThatRunsShortKeepsWholeEntries) {
  CCurrencyLocale source(1031);
  ASSERT_TRUE(source.ResetList());
  for (long n = 0;; ++n) {
    CCurrencyLocale copy(1033);
    vtx::heap::FailAfter(n);
    bool ok = copy.CopyFrom(source);
    vtx::heap::FailAfter(-1);
    for (CCurrencyLocaleInfo* info : copy) {
      CCurrencyLocaleInfo* from = source.IFind(info->GetCurrency());
      ASSERT_NE(from, nullptr) << n;
      ASSERT_EQ(Utf8(info->GetName()), Utf8(from->GetName())) << n << " " << info->GetCurrency();
      ASSERT_EQ(Utf8(info->GetSymbol()), Utf8(from->GetSymbol())) << n << " " << info->GetCurrency();
    }
    if (ok) {
      EXPECT_EQ(copy.GetInfoCount(), source.GetInfoCount());
      EXPECT_GT(n, 10);
      break;
    }
    n = n < 50 ? n : n + 97;  // a sample of the later allocations
  }
}

TEST_F(SettingsTest, ResetListsRestoresTheBuiltInTextsOfCreatedLocales) {
  CCurrencyLocaleList list;
  ASSERT_EQ(list.Create(false), 0u);
  CCurrencyLocale* de = list.GetLocale(1031);
  ASSERT_NE(de, nullptr);
  ASSERT_TRUE(de->IFind("USD")->SetName(u"Greenback"));
  ASSERT_TRUE(de->IFind("USD")->SetCustom(u"note"));
  ASSERT_NE(de->AddLocaleInfo("QQQ"), nullptr);
  const uint32_t uncreated = [&] {
    uint32_t n = 0;
    for (CCurrencyLocale* l : list) n += l->IsCreated() ? 0 : 1;
    return n;
  }();
  ASSERT_TRUE(list.ResetLists());
  EXPECT_EQ(Utf8(de->IFind("USD")->GetName()), "US-Dollar");
  EXPECT_EQ(Utf8(de->IFind("USD")->GetCustom()), "");
  EXPECT_EQ(de->IFind("QQQ"), nullptr);
  EXPECT_EQ(de->GetInfoCount(), kCurrencyDataCount);
  uint32_t stillUncreated = 0;
  for (CCurrencyLocale* l : list) stillUncreated += l->IsCreated() ? 0 : 1;
  EXPECT_EQ(stillUncreated, uncreated);
}

TEST_F(SettingsTest, LocaleTakesAnothersFormatsAndTextsButKeepsItsIdentity) {
  CCurrencyLocale de(1031), it(1040);
  ASSERT_TRUE(de.ResetList());
  ASSERT_TRUE(it.ResetList());
  de.SetDecimalSeparator(u"#");
  de.SetNegativeSymFmt(15);
  ASSERT_TRUE(de.IFind("EUR")->SetCustom(u"Gemeinschaftsw\u00e4hrung"));
  const std::string itName = it.GetName(), itDisplay = it.GetDisplayName();
  ASSERT_TRUE(it.CopyFormatsAndTexts(de));
  EXPECT_EQ(it.GetLCID(), 1040u);
  EXPECT_EQ(std::string(it.GetName()), itName);
  EXPECT_EQ(std::string(it.GetDisplayName()), itDisplay);
  EXPECT_EQ(Utf8(it.GetDecimalSeparator()), "#");
  EXPECT_EQ(it.GetNegativeSymFmt(), 15u);
  EXPECT_EQ(Utf8(it.IFind("USD")->GetName()), "US-Dollar");
  EXPECT_EQ(Utf8(it.IFind("EUR")->GetCustom()), "Gemeinschaftsw\xc3\xa4hrung");
  EXPECT_TRUE(it.MustBeSaved());
}

}  // namespace
