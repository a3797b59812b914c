// The database's fixed rates back into the active list, the stored choice of the built-in euro rows,
// the euro reset pass, and the locale members the configuration pages use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "tests/engine/currency/settings_fixture.h"
#include "tests/support/paths.h"

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

// The pass's boxes, answered from a script.
std::vector<int> g_answers;
int g_asked = 0;
UINT g_type = 0;
int ScriptedBox(void*, const char*, const char*, UINT type) {
  ++g_asked;
  g_type = type;
  if (g_answers.empty()) return 0;
  int a = g_answers.front();
  g_answers.erase(g_answers.begin());
  return a;
}

class EuroResetPass : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    previous_ = vtx::SetMessageBoxHandler(ScriptedBox);
    g_asked = 0;
    g_answers.clear();
    if (!lib_) lib_ = LoadLibraryA(vtxtest::SourcePath("resources/0409/vantrex.cat").c_str());
    ASSERT_NE(lib_, nullptr);
    ASSERT_TRUE(s_.Create(lib_));
    Fill();
  }
  void TearDown() override {
    vtx::SetMessageBoxHandler(previous_);
    SettingsTest::TearDown();
  }
  void Fill() {
    g_asked = 0;
    s_.GetRates().Active.Empty();
    // EUR off its row, DEM replaced by the euro, one floating currency.
    CurrencyInfo r;
    for (const char* code : {"EUR", "DEM", "USD"}) {
      s_.InitCurrencyInfo(r, code);
      r.dRate = 2.0;
      r.dwRateDecimals = 1;
      r.ftLastChange = U64ToFileTime(5);
      ASSERT_NE(s_.Add(r), nullptr);
    }
  }
  std::string Codes() {
    std::string codes;
    for (char* e : s_.GetRates().Active) codes += std::string(reinterpret_cast<CurrencyInfo*>(e)->szCode) + " ";
    return codes;
  }
  static inline HMODULE lib_ = nullptr;
  CSettings s_;
  vtx::MessageBoxHandler previous_ = nullptr;
};

TEST_F(EuroResetPass, WithoutOwnerReplacedCurrenciesGo) {
  EXPECT_TRUE(s_.ResetEuroArea(nullptr));
  EXPECT_EQ(g_asked, 0);
  EXPECT_EQ(Codes(), "EUR USD ");
  EXPECT_EQ(Rate(s_, "EUR"), 1.0);
  EXPECT_EQ(Rate(s_, "USD"), 2.0);
  // Nothing left to change.
  EXPECT_FALSE(s_.ResetEuroArea(nullptr));
}

TEST_F(EuroResetPass, TheAnswerHoldsForThePass) {
  struct Case {
    int answer;  // 0: the box could not be shown
    bool kept;
  } cases[] = {{IDYES, true}, {IDNO, false}, {0, true}};
  for (const Case& c : cases) {
    Fill();
    g_answers = {c.answer};
    int owner = 0;
    EXPECT_TRUE(s_.ResetEuroArea(&owner));
    EXPECT_EQ(g_asked, 1) << c.answer;
    EXPECT_EQ(g_type, static_cast<UINT>(MB_YESNO | MB_DEFBUTTON2));
    const CurrencyInfo* dem = Find(s_, "DEM");
    if (c.kept) {
      ASSERT_NE(dem, nullptr) << c.answer;
      EXPECT_EQ(dem->dRate, 1.95583);
      EXPECT_EQ(dem->dwRateDecimals, 5u);
      EXPECT_NE(FileTimeToU64(dem->ftLastChange), 5u);
      // Every other replaced currency joins at its sorted place.
      ASSERT_NE(Find(s_, "FRF"), nullptr);
      EXPECT_EQ(Rate(s_, "FRF"), 6.55957);
      EXPECT_LT(s_.GetData()->IFind("ATS"), s_.GetData()->IFind("BEF"));
    } else {
      EXPECT_EQ(dem, nullptr);
      EXPECT_EQ(Codes(), "EUR USD ");
    }
  }
}

TEST_F(EuroResetPass, AReplacedCurrencyFoundByItsNumericCodeIsRemoved) {
  CurrencyInfo row;
  s_.InitCurrencyInfo(row, "DEM");
  std::strcpy(row.szCode, "276");
  row.dwFlags = kInfoEuroReplaced;
  int answer = IDNO;
  EXPECT_TRUE(s_.DoResetEuro(row, answer, nullptr));
  EXPECT_EQ(Codes(), "EUR USD ");
  EXPECT_FALSE(s_.DoResetEuro(row, answer, nullptr));
}

TEST_F(EuroResetPass, TheBuiltInRowsWhenAskedFor) {
  // The database's own DEM row with another rate; the stored choice takes the built-in one.
  Db(s_, "DEM")->dRate = 2.5;
  EXPECT_EQ(0u, vtx::currency::WriteDword(g_szAppKey, "ResetOriginalEuro", 1));
  g_answers = {IDYES};
  int owner = 0;
  s_.ResetEuroArea(&owner);
  EXPECT_EQ(Rate(s_, "DEM"), 1.95583);
  DeleteRegistryValue(HKEY_LOCAL_MACHINE, g_szAppKey, "ResetOriginalEMU");
  s_.GetData()->EuroCache.Empty();
  s_.ResetEuroArea(&owner);  // asked again, no answer left: kept
  EXPECT_EQ(Rate(s_, "DEM"), 2.5);
}

}  // namespace
