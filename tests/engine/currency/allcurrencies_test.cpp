// The currency database: look-ups, edits, comparison, its registry form and the active list.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencylocale.h"
#include "engine/foundation/regvalue.h"
#include "platform/heap.h"
#include "tests/engine/currency/store_fixture.h"
#include "tests/support/storetest.h"

namespace {

using vtxtest::CurrencyStoreTest;

// Creating a database checks the stored stamp and may reset the stored update: a store of the
// test's own, never the host's.
class CurrencyDatabase : public vtxtest::PrivateStoreTest {};

const char kUpdateKey[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0\\Update";

std::vector<std::string> Codes(const CAllCurrencies& db) {
  std::vector<std::string> v;
  for (CurrencyData* d : db) v.push_back(d->szCode);
  return v;
}

std::string TakeText(char* text) {
  std::string s = text ? text : "";
  if (text) GlobalFree(text);
  return s;
}

CurrencyInfo Active(const char* code, double rate, uint32_t rateDecimals) {
  CurrencyInfo i{};
  std::strncpy(i.szCode, code, sizeof i.szCode - 1);
  i.dRate = rate;
  i.dSmallest = 0.01;
  i.dwSmallestDecimals = 2;
  i.dwRateDecimals = rateDecimals;
  i.ftLastChange = U64ToFileTime(0x01D0000000000000ull);
  i.dwServers = 3;
  return i;
}

std::vector<std::string> ActiveCodes(const CStringList<char>& list) {
  std::vector<std::string> v;
  for (char* e : list) v.push_back(reinterpret_cast<CurrencyInfo*>(e)->szCode);
  return v;
}

void MarkUpdate() { ASSERT_EQ(vtx::currency::WriteDword(kUpdateKey, "Marker", 1), 0u); }

TEST_F(CurrencyDatabase, LookUps) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  EXPECT_EQ(db.GetCount(), kCurrencyDataCount);
  EXPECT_EQ(CAllCurrencies::IFindHardcoded("dem"), CAllCurrencies::IFindHardcoded("DEM"));
  EXPECT_EQ(CAllCurrencies::IFindHardcoded(nullptr), -1);
  EXPECT_EQ(CAllCurrencies::IFindHardcoded("QQQ"), -1);

  int32_t dem = db.IFind("dem");
  ASSERT_GE(dem, 0);
  EXPECT_EQ(db.IFind("276"), dem);
  // Zero-padded codes are decimal, never octal.
  EXPECT_STREQ(db[static_cast<uint32_t>(db.IFind("036"))]->szCode, "AUD");
  EXPECT_STREQ(db[static_cast<uint32_t>(db.IFind("048"))]->szCode, "BHD");
  // Several records have no numeric code; 0 names none of them.
  EXPECT_EQ(db.Find(0), -1);
  EXPECT_EQ(db.IFind("0"), -1);
  EXPECT_EQ(db.IFind("12x"), -1);
  EXPECT_EQ(db.IFind(nullptr), -1);
}

TEST_F(CurrencyDatabase, AddAndRemoveKeepTheirLists) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  ASSERT_TRUE(db.IRemove("dem"));
  EXPECT_EQ(db.IFind("DEM"), -1);
  EXPECT_EQ(db.GetRemoveList().IFind("DEM"), 0);
  EXPECT_FALSE(db.IRemove("DEM"));

  ASSERT_TRUE(db.Add(g_CurrencyData[CAllCurrencies::IFindHardcoded("DEM")]));
  EXPECT_EQ(db.GetRemoveList().GetCount(), 0u);
  EXPECT_EQ(db.GetAddList().GetCount(), 0u);

  CurrencyData xyz;
  InitCurrencyData(xyz, "XYZ");
  EXPECT_EQ(xyz.dSmallest, 0.01);
  EXPECT_EQ(xyz.dwFlags, 5u);
  EXPECT_EQ(xyz.dwRateDecimals, 0u);
  ASSERT_TRUE(db.Add(xyz));
  EXPECT_EQ(db.IFind("1234"), -1);
  xyz.dwNumericCode = 1234;
  ASSERT_TRUE(db.Add(xyz));  // replaces, does not duplicate
  EXPECT_EQ(db.GetCount(), kCurrencyDataCount + 1);
  EXPECT_EQ(db[static_cast<uint32_t>(db.IFind("xyz"))]->dwNumericCode, 1234u);
  // The numeric look-up follows a record whose number changed in place.
  EXPECT_EQ(db.IFind("1234"), db.IFind("xyz"));
  CurrencyData dem = *db[static_cast<uint32_t>(db.IFind("DEM"))];
  dem.dwNumericCode = 1235;
  ASSERT_TRUE(db.Add(dem));
  EXPECT_EQ(db.IFind("276"), -1);
  EXPECT_EQ(db.IFind("1235"), db.IFind("DEM"));
  EXPECT_EQ(db.GetAddList().GetCount(), 1u);
  ASSERT_TRUE(db.IRemove("XYZ"));
  EXPECT_EQ(db.GetAddList().GetCount(), 0u);
  EXPECT_EQ(db.GetRemoveList().GetCount(), 0u);
}

TEST_F(CurrencyDatabase, CompareListsDifferencesInOrder) {
  CAllCurrencies a, b;
  ASSERT_EQ(a.Create(true), 1u);
  ASSERT_TRUE(b.CopyFrom(a));

  char* text = reinterpret_cast<char*>(1);
  uint32_t count = 99;
  ASSERT_EQ(a.Compare(&b, &text, &count), 0u);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(count, 0u);

  CurrencyData* usd = b[static_cast<uint32_t>(b.IFind("USD"))];
  usd->dRate = 1.25;          // rates are not compared
  usd->dwFlags |= 1u << 27;   // nor flags above bit 25
  ASSERT_EQ(a.Compare(&b, &text, &count), 0u);
  EXPECT_EQ(count, 0u);

  usd->dSmallest = 0.05;
  ASSERT_TRUE(b.IRemove("JPY"));
  CurrencyData xyz;
  InitCurrencyData(xyz, "XYZ");
  ASSERT_TRUE(b.Add(xyz));
  ASSERT_EQ(a.Compare(&b, &text, &count), 0u);
  EXPECT_EQ(TakeText(text), "JPY\tUSD\tXYZ");
  EXPECT_EQ(count, 3u);

  EXPECT_EQ(a.Compare(nullptr, &text, &count), 0x80004003u);
}

TEST_F(CurrencyDatabase, EuroCurrencies) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  CStringList<char> list;
  ASSERT_EQ(db.GetEuroCurrencies(list, 3), 1);
  EXPECT_EQ(ActiveCodes(list), std::vector<std::string>{"EUR"});

  ASSERT_EQ(db.GetEuroCurrencies(list, 0), 1);
  EXPECT_EQ(list.GetCount(), 13u);
  ASSERT_EQ(db.GetEuroCurrencies(list, 4), 1);
  EXPECT_EQ(list.GetCount(), 12u);
  auto* dem = reinterpret_cast<CurrencyInfo*>(list[2]);
  EXPECT_STREQ(dem->szCode, "DEM");
  EXPECT_STREQ(dem->szEuroCode, "DEM");
  EXPECT_EQ(dem->dRate, 1.95583);
  EXPECT_EQ(dem->dwRateDecimals, 5u);
  EXPECT_EQ(dem->dwFlags, kInfoEuroReplaced);

  // The built-in table, whatever the database says.
  ASSERT_TRUE(db.IRemove("DEM"));
  ASSERT_EQ(db.GetEuroCurrencies(list, 4), 1);
  EXPECT_EQ(list.GetCount(), 11u);
  ASSERT_EQ(db.GetEuroCurrencies(list, 5), 1);
  EXPECT_EQ(list.GetCount(), 12u);

  CStringA text;
  ASSERT_TRUE(db.GetEuroCurrencies(text, 1));
  EXPECT_EQ(std::string(text.c_str()), "ATS, BEF, DEM, ESP, EUR, FIM, FRF, GRD, IEP, ITL, LUF, NLG, PTE");
}

TEST_F(CurrencyStoreTest, StampResetsStoredUpdateOnlyWhenOlder) {
  MarkUpdate();
  CAllCurrencies db;
  ASSERT_EQ(db.Create(false), 1u);
  EXPECT_FALSE(vtx::currency::KeyExists(kUpdateKey));
  uint64_t stamp = 0;
  ASSERT_EQ(0u, vtx::currency::ReadStamp(g_szAppKey, g_szAllCurrenciesStamp, &stamp));
  EXPECT_EQ(stamp, FileTimeToU64(g_ftCurrencyDataStamp));

  MarkUpdate();
  ASSERT_EQ(db.Create(false), 1u);
  EXPECT_TRUE(vtx::currency::KeyExists(kUpdateKey));

  const uint64_t builtIn = FileTimeToU64(g_ftCurrencyDataStamp);
  struct Case {
    const char* what;
    uint64_t stored;
    bool resets;
  };
  const Case cases[] = {
      // Byte by byte this one compares greater (its first byte is), yet it is the older time.
      {"older, greater first byte", builtIn - 0xFF, true},
      {"one tick older", builtIn - 1, true},
      {"newer", builtIn + 0x100, false},
      {"same", builtIn, false},
  };
  for (const Case& c : cases) {
    MarkUpdate();
    ASSERT_TRUE(vtx::currency::WriteStamp(g_szAppKey, g_szAllCurrenciesStamp, c.stored));
    ASSERT_EQ(db.Create(false), 1u);
    EXPECT_EQ(vtx::currency::KeyExists(kUpdateKey), !c.resets) << c.what;
    ASSERT_EQ(0u, vtx::currency::ReadStamp(g_szAppKey, g_szAllCurrenciesStamp, &stamp));
    EXPECT_EQ(stamp, c.resets ? builtIn : c.stored) << c.what;
  }
}

TEST_F(CurrencyStoreTest, ShortStampCountsAsMissing) {
  RegBinaryValue shortStamp;
  const unsigned char four[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_TRUE(shortStamp.Copy(four, sizeof four));
  ASSERT_EQ(shortStamp.Save(HKEY_LOCAL_MACHINE, g_szAppKey, g_szAllCurrenciesStamp), 0u);
  MarkUpdate();
  CAllCurrencies db;
  ASSERT_EQ(db.Create(false), 1u);
  EXPECT_FALSE(vtx::currency::KeyExists(kUpdateKey));
}

TEST_F(CurrencyStoreTest, ShortOfMemoryIsReportedNotPatchedOver) {
  {
    CAllCurrencies db;
    ASSERT_EQ(db.Create(true), 1u);
    ASSERT_TRUE(db.IRemove("DEM"));
    ASSERT_EQ(db.Save(), 0u);
  }
  MarkUpdate();
  for (long n = 0;; n = n < 16 ? n + 1 : n * 5 / 4) {
    CAllCurrencies db;
    vtx::heap::FailAfter(n);
    HRESULT hr = db.Create(false);
    vtx::heap::FailAfter(-1);
    ASSERT_TRUE(hr == 0 || hr == 0x8007000Eu) << n << " " << hr;
    ASSERT_TRUE(vtx::currency::KeyExists(kUpdateKey)) << n;
    if (hr == 0) {
      EXPECT_EQ(db.IFind("DEM"), -1);
      EXPECT_GT(n, 16);  // the early attempts did run short
      EXPECT_EQ(db.GetCount(), kCurrencyDataCount - 1);
      break;
    }
  }
}

TEST_F(CurrencyStoreTest, RegistryRoundTripKeepsEverything) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  ASSERT_TRUE(db.IRemove("DEM"));
  CurrencyData xyz;
  InitCurrencyData(xyz, "XYZ");
  xyz.dRate = 12.345;
  xyz.dwRateDecimals = 3;
  xyz.dwNumericCode = 36;
  xyz.dSmallest = 0.05;
  xyz.dwFlags = kCurrencyPhysical | kCurrencyPeggedEuro;
  xyz.ftLastChange = U64ToFileTime(0x01C5A6FFE2A944CAull - 0x01C5A6FFE2A944CAull % 10000000ull);
  xyz.dwServers = 7;
  ASSERT_TRUE(db.Add(xyz));
  // Amounts whose shortest text needs more digits than a display: stored plain, read back whole.
  CurrencyData huge;
  InitCurrencyData(huge, "XZZ");
  huge.dRate = 1e16;
  huge.dSmallest = 1.5e-15;
  huge.dwSmallestDecimals = 16;
  huge.dwNumericCode = 999;
  ASSERT_TRUE(db.Add(huge));
  ASSERT_EQ(db.Save(), 0u);

  CAllCurrencies back;
  ASSERT_EQ(back.Create(false), 0u);
  EXPECT_EQ(back.GetLoadError(), 0u);
  ASSERT_EQ(Codes(back), Codes(db));
  for (uint32_t i = 0; i < db.GetCount(); ++i) {
    const CurrencyData& a = *db[i];
    const CurrencyData& b = *back[i];
    SCOPED_TRACE(a.szCode);
    EXPECT_EQ(b.dwNumericCode, a.dwNumericCode);
    EXPECT_EQ(b.dRate, a.dRate);
    EXPECT_EQ(b.dSmallest, a.dSmallest);
    EXPECT_EQ(b.dwSmallestDecimals, a.dwSmallestDecimals);
    if (a.dRate != 0.0) {
      EXPECT_EQ(b.dwRateDecimals, a.dwRateDecimals);
    }
    EXPECT_EQ(b.dwFlags, a.dwFlags);
    EXPECT_EQ(FileTimeToU64(b.ftLastChange), FileTimeToU64(a.ftLastChange));
    EXPECT_EQ(b.dwServers, a.dwServers);
  }
  EXPECT_EQ(back.GetAddList().IFind("XYZ"), 0);
  EXPECT_EQ(back.GetRemoveList().IFind("DEM"), 0);
}

TEST_F(CurrencyStoreTest, StoredLayout) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  ASSERT_TRUE(db.IRemove("ITL"));
  ASSERT_EQ(db.Save(), 0u);
  auto key = [](const char* section) { return std::string(g_szAllCurrenciesKey) + "\\" + section; };
  auto text = [&](const char* section, const char* name) {
    RegStringValueA v;
    return v.Load(HKEY_LOCAL_MACHINE, key(section).c_str(), name) == 0 ? std::string(v.GetString()) : "<none>";
  };
  auto number = [&](const char* section, const char* name) {
    RegDwordValue v;
    return v.Load(HKEY_LOCAL_MACHINE, key(section).c_str(), name) == 0 ? static_cast<int64_t>(v.m_dwValue) : -1;
  };
  EXPECT_EQ(text("EUR", "DEM"), "1.95583");
  EXPECT_EQ(text("EUR", "EUR"), "1.00000");
  EXPECT_EQ(text("EUR", "GRD"), "340.750");
  EXPECT_EQ(text("EUR", "USD"), "<none>");
  EXPECT_EQ(number("NumericalCodes", "AUD"), 36);
  EXPECT_EQ(text("Smallest", "BEF"), "0.50");
  EXPECT_EQ(text("Smallest", "JPY"), "1");
  EXPECT_EQ(text("Smallest", "XAU"), "0.000001");
  EXPECT_EQ(number("LegalTender", "DEM"), 0);
  EXPECT_EQ(number("LegalTender", "USD"), -1);
  EXPECT_EQ(number("EMU", "DEM"), 1);
  EXPECT_EQ(number("Pegged-EUR", "XPF"), 1);
  EXPECT_EQ(number("Physical", "XAU"), 0);
  EXPECT_EQ(number("Physical", "USD"), -1);
  EXPECT_EQ(number("Remove", "ITL"), 1);
  EXPECT_TRUE(vtx::currency::KeyExists(key("LastChange").c_str()));
  EXPECT_TRUE(vtx::currency::KeyExists(key("Add").c_str()));
}

TEST_F(CurrencyStoreTest, StoredRowsAreReadAsTheyWereMeant) {
  ASSERT_EQ(vtxtest::WriteKey<char>(g_szAllCurrenciesKey, [](CIniData<char>& d) {
              d.AddSection("NumericalCode");  // the old name of the section
              d.AddString("AUD", "036");
              d.AddString("QQQ", "048");
              d.AddString("TOOLONG", "1");
              d.AddSection("EUR");
              d.AddString("QQQ", "2.50");
              d.AddSection("Smallest");
              d.AddString("QQQ", "0.5");
              d.AddSection("EMU");
              d.AddULong("QQQ", 1);
              d.AddSection("Pegged-EUR");
              d.AddULong("QQQ", 1);  // a peg ends euro-area membership
              d.AddSection("LegalTender");
              d.AddULong("QQQ", 0);
              d.AddSection("Add");
              d.AddULong("QQQ", 1);
            }),
            0u);
  CAllCurrencies db;
  ASSERT_EQ(db.Create(false), 0u);
  EXPECT_EQ(Codes(db), (std::vector<std::string>{"AUD", "QQQ"}));
  EXPECT_EQ(db[0]->dwNumericCode, 36u);
  const CurrencyData& q = *db[1];
  EXPECT_EQ(q.dwNumericCode, 48u);
  EXPECT_EQ(q.dRate, 2.5);
  EXPECT_EQ(q.dwRateDecimals, 2u);
  EXPECT_EQ(q.dSmallest, 0.5);
  EXPECT_EQ(q.dwSmallestDecimals, 1u);
  EXPECT_EQ(q.dwFlags, kCurrencyPhysical | kCurrencyPeggedEuro);
}

TEST_F(CurrencyStoreTest, BadStoredDatabaseFallsBackWhole) {
  struct Case {
    const char* section;
    const char* value;
  };
  const Case cases[] = {
      {"EUR", "-1.5"}, {"EUR", "1,5"},        {"EUR", "inf"},         {"Smallest", "0"},
      {"Smallest", "-0.01"}, {"NumericalCodes", "abc"}, {"LastChange", "2005-13-01T00:00:00Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + " = " + c.value);
    ASSERT_EQ(vtxtest::WriteKey<char>(g_szAllCurrenciesKey, [&](CIniData<char>& d) {
                d.AddSection("NumericalCodes");
                d.AddString("AUD", "36");
                d.AddString("USD", "840");
                d.AddSection(c.section);
                d.AddString("USD", c.value);
              }),
              0u);
    CAllCurrencies db;
    EXPECT_EQ(db.Create(false), 1u);
    EXPECT_EQ(db.GetCount(), kCurrencyDataCount);
    EXPECT_EQ(db.GetLoadError(), 0x80070057u);
    EXPECT_GT(db.GetLoadErrorLine(), 0u);
  }

  vtxtest::MemoryIni<char> data;
  data.AddSection("EUR");
  data.AddString("ATS", "13.7603");
  data.AddString("USD", "-2");
  CAllCurrencies db;
  uint32_t line = 0;
  EXPECT_EQ(db.Load(data, &line), 0x80070057u);
  EXPECT_EQ(line, 3u);
}

class FakeUpdate : public ICurrencyUpdate {
 public:
  HRESULT Reset() override {
    ++resets;
    return 0;
  }
  HRESULT Create() override {
    ++creates;
    return 0;
  }
  bool Defines(const char* code) const override { return std::string(code) == "NEW"; }
  HRESULT Update(CAllCurrencies& db, const char* code) override {
    CurrencyData rec;
    InitCurrencyData(rec, code);
    rec.dwNumericCode = 1;
    return db.Add(rec) ? 0 : 0x8007000E;
  }
  HRESULT Update(CCurrencyLocaleList&, const char* code) override {
    localeCodes.insert(code);
    return 0;
  }
  int resets = 0, creates = 0;
  std::set<std::string> localeCodes;
};

TEST_F(CurrencyDatabase, SetRatesFollowsTheActiveList) {
  struct Case {
    uint32_t mode;
    std::vector<std::string> activeAfter;
    bool flagged;
  };
  const Case cases[] = {
      {0, {"USD", "JPY", "QQQ", "NEW"}, false},
      {1 | 4, {"USD"}, false},
      {2 | 8, {"USD", "JPY", "QQQ", "NEW"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    FakeUpdate update;
    CCurrencyLocaleList locales;
    CAllCurrencies db;
    db.SetUpdate(&update);
    ASSERT_EQ(db.Create(true), 1u);
    ASSERT_TRUE(db.IRemove("JPY"));
    CStringList<char> active;
    for (const CurrencyInfo& i : {Active("USD", 1.2345, 4), Active("JPY", 130.5, 1), Active("QQQ", 5.0, 2), Active("NEW", 2.0, 1)})
      ASSERT_TRUE(active.Add(&i, kListAppend, sizeof i));

    char *unknown = nullptr, *added = nullptr;
    uint32_t nUnknown = 0, nNew = 0;
    ASSERT_EQ(db.SetRates(active, &locales, c.mode, &unknown, &nUnknown, &added, &nNew), 0u);
    EXPECT_EQ(TakeText(unknown), "QQQ");
    EXPECT_EQ(nUnknown, 1u);
    EXPECT_EQ(TakeText(added), "JPY\tNEW");
    EXPECT_EQ(nNew, 2u);
    EXPECT_EQ(update.creates, 1);
    EXPECT_EQ(ActiveCodes(active), c.activeAfter);
    for (char* e : active) {
      auto* i = reinterpret_cast<CurrencyInfo*>(e);
      EXPECT_EQ((i->dwFlags & kInfoWarning) != 0, c.flagged && std::string(i->szCode) != "USD") << i->szCode;
    }

    const CurrencyData* usd = db[static_cast<uint32_t>(db.IFind("USD"))];
    EXPECT_EQ(usd->dRate, 1.2345);
    EXPECT_EQ(usd->dwRateDecimals, 4u);
    EXPECT_EQ(usd->dwServers, 3u);
    EXPECT_EQ(FileTimeToU64(usd->ftLastChange), 0x01D0000000000000ull);
    if (c.mode & 1) {
      EXPECT_EQ(db.IFind("QQQ"), -1);
      EXPECT_EQ(db.IFind("JPY"), -1);
      continue;
    }
    const CurrencyData* jpy = db[static_cast<uint32_t>(db.IFind("JPY"))];
    EXPECT_EQ(jpy->dwNumericCode, 392u);
    EXPECT_EQ(jpy->dRate, 130.5);
    const CurrencyData* qqq = db[static_cast<uint32_t>(db.IFind("QQQ"))];
    EXPECT_EQ(qqq->dwFlags, 5u);
    EXPECT_EQ(qqq->dRate, 5.0);
    EXPECT_EQ(qqq->dwRateDecimals, 2u);
    EXPECT_EQ(db[static_cast<uint32_t>(db.IFind("NEW"))]->dwNumericCode, 1u);
    EXPECT_EQ(update.localeCodes, (std::set<std::string>{"JPY", "NEW"}));
  }
}

TEST_F(CurrencyDatabase, SetRatesKeepsKnownRateForNeverSetOne) {
  CAllCurrencies db;
  ASSERT_EQ(db.Create(true), 1u);
  CStringList<char> active;
  CurrencyInfo dem = Active("DEM", -1.0, 2);
  ASSERT_TRUE(active.Add(&dem, kListAppend, sizeof dem));
  ASSERT_EQ(db.SetRates(active, nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(db[static_cast<uint32_t>(db.IFind("DEM"))]->dRate, 1.95583);
}

}  // namespace
