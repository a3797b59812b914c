// The orders of the currency lists: the active currencies, the currency database, the locales, and
// one locale's currencies. Each compares two rows by a column and a direction: < 0, 0 or > 0.
// Codes compare as ASCII without case, names by the user's collation without case.
#pragma once
#include <cstdint>

#include "platform/locale.h"

namespace vtx::manager {

// A row of the active currency list.
struct CurrencyRowKey {
  const char* code = nullptr;
  const char16_t* name = nullptr;  // null counts as empty
  bool hasValue = false;           // the rate in the base currency could be worked out
  double value = 0;                // one unit in the base currency
  uint32_t servers = 0;
  uint32_t hits = 0;
  bool warning = false;
};
// Columns: 0 code, 1 name, 2 the value in the base currency (rows without one last), 3 servers,
// 4 hits, 5 the warning; ties by code. Descending turns the whole result round.
int CompareCurrencyRows(const CurrencyRowKey& a, const CurrencyRowKey& b, int column, bool descending);

// A row of the currency database.
struct DatabaseRowKey {
  const char* code = nullptr;
  const char16_t* name = nullptr;
  uint32_t regime = 0;  // 1 euro area, 2 pegged to the euro, 0 other
  bool legalTender = false;
  bool active = false;
};
// Columns: 0 code, 1 name, 2 regime, 3 legal tender, 4 in the active list; ties by code.
int CompareDatabaseRows(const DatabaseRowKey& a, const DatabaseRowKey& b, int column, bool descending);

// A row of the locale list.
struct LocaleRowKey {
  LCID lcid = 0;
  const char* name = nullptr;  // ANSI code page
};
// Columns: 0 LCID, 1 name; ties by LCID.
int CompareLocaleRows(const LocaleRowKey& a, const LocaleRowKey& b, int column, bool descending);

// A row of one locale's currencies.
struct LocaleInfoRowKey {
  const char* code = nullptr;
  const char16_t* name = nullptr;
  const char16_t* symbol = nullptr;
  const char16_t* custom = nullptr;
  bool active = false;
};
// Columns: 0 code, 1 name, 2 symbol, 3 custom text (a missing text before a present one), 4 in the
// active list (not in it first); -1 (no column chosen yet) by code. Descending turns the column's
// result round; equal values stay in ascending code order both ways.
int CompareLocaleInfoRows(const LocaleInfoRowKey& a, const LocaleInfoRowKey& b, int column, bool descending);

}  // namespace vtx::manager
