// The built-in currency table and the three default name tables.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "engine/currency/currencydata.h"
#include "platform/codepage.h"

namespace {

const CurrencyData* Row(const char* code) {
  for (const CurrencyData& d : g_CurrencyData)
    if (std::strcmp(d.szCode, code) == 0) return &d;
  return nullptr;
}

TEST(CurrencyTable, OrderCountsAndStamp) {
  EXPECT_STREQ(g_CurrencyData[0].szCode, "ADF");
  EXPECT_STREQ(g_CurrencyData[kCurrencyDataCount - 1].szCode, "XFU");
  EXPECT_EQ(FileTimeToU64(g_ftCurrencyDataStamp), 0x01C5A6FFE2A944CAull);

  std::map<uint32_t, int> byFlags;
  std::set<std::string> codes;
  int withRate = 0;
  for (const CurrencyData& d : g_CurrencyData) {
    ++byFlags[d.dwFlags];
    codes.insert(d.szCode);
    if (d.dRate != 0.0) ++withRate;
    EXPECT_EQ(std::strlen(d.szCode), 3u) << d.szCode;
    EXPECT_GT(d.dSmallest, 0.0) << d.szCode;
    EXPECT_EQ(FileTimeToU64(d.ftLastChange), 0u);
    EXPECT_EQ(d.dwServers, 0u);
    // Fixed rates only where the currency is tied to the euro.
    EXPECT_EQ(d.dRate != 0.0, (d.dwFlags & (kCurrencyEuroArea | kCurrencyPeggedEuro)) != 0) << d.szCode;
    if (d.dRate == 0.0) {
      EXPECT_EQ(d.dwRateDecimals, 1u) << d.szCode;
    }
  }
  EXPECT_EQ(codes.size(), kCurrencyDataCount);
  EXPECT_EQ(withRate, 21);
  std::map<uint32_t, int> expected{{5, 157}, {4, 36}, {1, 19}, {6, 12}, {13, 5}, {0, 4}, {12, 3}, {7, 1}};
  EXPECT_EQ(byFlags, expected);
}

TEST(CurrencyTable, TellingRows) {
  struct Want {
    const char* code;
    uint32_t numeric;
    double rate, smallest;
    uint32_t smallestDecimals, rateDecimals, flags;
  };
  const Want rows[] = {
      {"ADF", 250, 6.55957, 0.01, 2, 5, 12},      {"ATS", 40, 13.7603, 0.01, 2, 4, 6},
      {"BEF", 56, 40.3399, 0.5, 2, 4, 6},         {"DEM", 276, 1.95583, 0.01, 2, 5, 6},
      {"EUR", 978, 1.0, 0.01, 2, 5, 7},           {"ITL", 380, 1936.27, 1.0, 0, 2, 6},
      {"XPF", 953, 119.3317422, 1.0, 0, 7, 13},   {"USD", 840, 0.0, 0.01, 2, 1, 5},
      {"JPY", 392, 0.0, 1.0, 0, 1, 5},            {"KWD", 414, 0.0, 0.001, 3, 1, 5},
      {"XAU", 959, 0.0, 0.000001, 6, 1, 1},       {"XFU", 0, 0.0, 0.000001, 6, 1, 1},
  };
  for (const Want& w : rows) {
    const CurrencyData* d = Row(w.code);
    ASSERT_NE(d, nullptr) << w.code;
    EXPECT_EQ(d->dwNumericCode, w.numeric) << w.code;
    EXPECT_EQ(d->dRate, w.rate) << w.code;
    EXPECT_EQ(d->dSmallest, w.smallest) << w.code;
    EXPECT_EQ(d->dwSmallestDecimals, w.smallestDecimals) << w.code;
    EXPECT_EQ(d->dwRateDecimals, w.rateDecimals) << w.code;
    EXPECT_EQ(d->dwFlags, w.flags) << w.code;
  }
}

TEST(CurrencyNameTables, SameOrderAndTellingRows) {
  const CurrencyInfoData* tables[] = {g_CurrencyInfoDataEnglish, g_CurrencyInfoDataGerman, g_CurrencyInfoDataItalian};
  for (const CurrencyInfoData* t : tables) {
    for (uint32_t i = 0; i < kCurrencyDataCount; ++i) {
      EXPECT_STREQ(t[i].szCode, g_CurrencyData[i].szCode) << i;
      ASSERT_NE(t[i].szName, nullptr);
      EXPECT_NE(t[i].szName[0], 0) << t[i].szCode;
      // Symbols are shared by the three languages.
      EXPECT_EQ(std::u16string(t[i].szSymbol), std::u16string(g_CurrencyInfoDataEnglish[i].szSymbol)) << t[i].szCode;
    }
  }
  struct Want {
    uint32_t index;
    const char *en, *de, *it, *symbol;
  };
  const Want rows[] = {
      {0, "Andorran franc", "andorranischer Franc", "franco di Andorra", "F"},
      {1, "Andorran peseta", "andorranische Peseta", "peseta di Andorra", "pta"},
      {2, "UAE dirham", "Ver. Arab. Emir.-Dirham", "dirham degli EAU", nullptr},
      {kCurrencyDataCount - 1, "UIC franc", "UIC-Franc", "franco UIC", "XFU"},
  };
  for (const Want& w : rows) {
    EXPECT_EQ(vtx::WideToUtf8(g_CurrencyInfoDataEnglish[w.index].szName), w.en);
    EXPECT_EQ(vtx::WideToUtf8(g_CurrencyInfoDataGerman[w.index].szName), w.de);
    EXPECT_EQ(vtx::WideToUtf8(g_CurrencyInfoDataItalian[w.index].szName), w.it);
    if (w.symbol) {
      EXPECT_EQ(vtx::WideToUtf8(g_CurrencyInfoDataEnglish[w.index].szSymbol), w.symbol);
    }
  }
  // The dirham's symbol is written in Arabic script.
  const char16_t* aed = g_CurrencyInfoDataEnglish[2].szSymbol;
  ASSERT_NE(aed[0], 0);
  EXPECT_GE(aed[0], 0x0600);
  EXPECT_LE(aed[0], 0x06FF);
}

}  // namespace
