// Lists of active currencies by their flags, for the warnings of an update run.
#pragma once
#include <cstdint>
#include <string>

#include "engine/currency/settings.h"

namespace vtx::update {

// Mode bits of CheckFlags.
enum : uint32_t {
  kFlagsAll = 1,          // a record must have every bit asked for (else: none of them)
  kFlagsEuroArea = 2,     // include euro-area currencies
  kFlagsPegged = 4,       // include currencies pegged to the euro
  kFlagsWithRate = 8,     // each entry "%s 1 = %s %s": code, rate in the base unit, base unit
  kFlagsMarkWarning = 16, // mark each listed record with flag 16
};

// The matching active currencies, TAB-separated, each followed by " (English name)" when the
// locale list has one; `count` receives their number.
std::string CheckFlags(CSettings& settings, uint32_t bits, uint32_t mode, uint32_t* count);

// Every active currency is fixed to the euro in the database (an empty list counts as fixed).
bool OnlyConstantCurrencies(const CSettings& settings);

// "CODE" or "CODE (English name)".
std::string CodeWithName(CSettings& settings, const char* code);

// Index of the record with that code (ignoring case) in a list of CurrencyInfo blocks; -1 when none.
int32_t FindRecord(const CStringList<char>& list, const char* code);

inline CurrencyInfo* Record(const CStringList<char>& list, uint32_t index) {
  return reinterpret_cast<CurrencyInfo*>(list[index]);
}

}  // namespace vtx::update
