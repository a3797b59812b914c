// One record of the active currency list: the currency's current rate and what is known about it.
#pragma once
#include <cstdint>

#include "platform/types.h"

// Flags of an active record.
constexpr uint32_t kInfoFromRatesFile = 1;
constexpr uint32_t kInfoFluctuation = 2;
constexpr uint32_t kInfoFixedRate = 4;
constexpr uint32_t kInfoEuroReplaced = 8;
constexpr uint32_t kInfoWarning = 16;
constexpr uint32_t kInfoCrossCheck = 32;
constexpr uint32_t kInfoNotFromEverySource = 64;

// Records are copied whole, as blocks of an explicit size.
struct CurrencyInfo {
  char szCode[8];
  double dRate;  // units per 1 EUR; -1.0 when never set
  double dSmallest;
  uint32_t dwSmallestDecimals;
  uint32_t dwRateDecimals;
  FILETIME ftLastChange;
  uint32_t dwFlags;
  char szEuroCode[104];  // the code again for a euro-area currency, else empty
  uint32_t dwServers;
};
