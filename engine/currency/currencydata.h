// The currency database's record and the built-in tables it starts from.
#pragma once
#include <cstdint>

#include "platform/types.h"

// Flags of a database record.
constexpr uint32_t kCurrencyLegalTender = 1;
constexpr uint32_t kCurrencyEuroArea = 2;
constexpr uint32_t kCurrencyPhysical = 4;
constexpr uint32_t kCurrencyPeggedEuro = 8;

// One database record; the same 48-byte layout in the built-in table, in memory and in the
// definitions update data.
struct CurrencyData {
  char szCode[4];
  uint32_t dwNumericCode;      // 0 where there is none
  double dRate;                // units per 1 EUR; fixed rate, or the last known one, or 0.0
  double dSmallest;            // smallest unit
  uint32_t dwSmallestDecimals;
  uint32_t dwRateDecimals;
  uint32_t dwFlags;
  FILETIME ftLastChange;
  uint32_t dwServers;
};
static_assert(sizeof(CurrencyData) == 48, "stored update records rely on this layout");

// A default name and symbol of one currency in one language.
struct CurrencyInfoData {
  const char* szCode;
  const char16_t* szName;
  const char16_t* szSymbol;
};

constexpr uint32_t kCurrencyDataCount = 237;
extern const CurrencyData g_CurrencyData[kCurrencyDataCount];
// When the built-in table last changed; stored data older than this are obsolete.
extern const FILETIME g_ftCurrencyDataStamp;
extern const CurrencyInfoData g_CurrencyInfoDataEnglish[kCurrencyDataCount];
extern const CurrencyInfoData g_CurrencyInfoDataGerman[kCurrencyDataCount];
extern const CurrencyInfoData g_CurrencyInfoDataItalian[kCurrencyDataCount];
