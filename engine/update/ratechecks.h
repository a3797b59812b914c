// Lists of active currencies by their flags, for the warnings of an update run.
#pragma once
#include <cstdint>
#include <string>

#include "engine/currency/settings.h"

namespace vtx::update {

// CSettings::CheckFlags as a text (modes CSettings::kCheck*).
std::string CheckFlags(CSettings& settings, uint32_t bits, uint32_t mode, uint32_t* count);

// "CODE" or "CODE (English name)".
std::string CodeWithName(CSettings& settings, const char* code);
// The same with the names of a locale list (null: none).
std::string CodeWithName(CCurrencyLocaleList* locales, const char* code);

// Index of the record with that code (ignoring case) in a list of CurrencyInfo blocks; -1 when none.
int32_t FindRecord(const CStringList<char>& list, const char* code);

inline CurrencyInfo* Record(const CStringList<char>& list, uint32_t index) {
  return reinterpret_cast<CurrencyInfo*>(list[index]);
}

}  // namespace vtx::update
