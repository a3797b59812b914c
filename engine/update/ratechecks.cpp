#include "engine/update/ratechecks.h"

#include <cstring>

#include "engine/foundation/calculator.h"
#include "engine/foundation/stringutil.h"

namespace vtx::update {

int32_t FindRecord(const CStringList<char>& list, const char* code) {
  if (!code) return -1;
  for (uint32_t i = 0; i < list.GetCount(); ++i)
    if (CStringUtil<char>::StringICmp(Record(list, i)->szCode, code) == 0) return static_cast<int32_t>(i);
  return -1;
}

namespace {
// " (English name)", or empty.
std::string NameSuffix(CSettings& settings, const char* code) {
  CCurrencyLocaleList* locales = settings.GetLocaleList();
  CStringW wide;
  if (!locales || !code || !locales->GetCurrencyName(wide, code, false, 1033) || wide.IsEmpty()) return "";
  CStringA name;
  name = wide.c_str();
  return name.IsEmpty() ? "" : std::string(" (") + name.c_str() + ")";
}
}  // namespace

std::string CodeWithName(CSettings& settings, const char* code) {
  return std::string(code ? code : "") + NameSuffix(settings, code);
}

namespace {

// "CODE 1 = value BASE": one unit of the currency in the base unit, else in euros.
std::string RateEntry(CSettings& settings, const CurrencyInfo& record) {
  const CSettingsData& d = *settings.GetData();
  const char* base = d.BaseUnit;
  double value = 0.0;
  bool ok = false;
  if (record.dRate > 0.0) {
    if (CStringUtil<char>::StringICmp(base, "EUR") == 0) {
      value = ConvertCurrency(1.0, record.dRate, false, 1.0, true);
      ok = true;
    } else {
      int32_t b = FindRecord(settings.GetRates().Active, base);
      const CurrencyInfo* baseRecord = b >= 0 ? Record(settings.GetRates().Active, static_cast<uint32_t>(b)) : nullptr;
      if (baseRecord && baseRecord->dRate > 0.0) {
        value = ConvertCurrency(1.0, record.dRate, false, baseRecord->dRate, false);
        ok = true;
      }
    }
    if (!ok) {
      base = "EUR";
      value = ConvertCurrency(1.0, record.dRate, false, 1.0, true);
      ok = true;
    }
  }
  char number[32] = "?";
  if (ok && !DoubleToString(value, number, 12)) std::strcpy(number, "?");
  return std::string(record.szCode) + " 1 = " + number + " " + base;
}

}  // namespace

std::string CheckFlags(CSettings& settings, uint32_t bits, uint32_t mode, uint32_t* count) {
  if (count) *count = 0;
  std::string out;
  if (!settings.GetData()) return out;
  CStringList<char>& active = settings.GetRates().Active;
  for (uint32_t i = 0; i < active.GetCount(); ++i) {
    CurrencyInfo& record = *Record(active, i);
    bool match = (mode & kFlagsAll) ? (record.dwFlags & bits) == bits : (record.dwFlags & bits) == 0;
    if (!match) continue;
    if (!(mode & kFlagsEuroArea) && settings.IsEuroCurrency(record.szCode)) continue;
    if (!(mode & kFlagsPegged) && settings.IsPeggedToEURCurrency(record.szCode)) continue;
    if (mode & kFlagsMarkWarning) record.dwFlags |= kInfoWarning;
    std::string entry = (mode & kFlagsWithRate) ? RateEntry(settings, record) + NameSuffix(settings, record.szCode)
                                                 : CodeWithName(settings, record.szCode);
    if (!out.empty()) out += '\t';
    out += entry;
    if (count) ++*count;
  }
  return out;
}

bool OnlyConstantCurrencies(const CSettings& settings) {
  const CSettingsData* d = settings.GetData();
  if (!d) return true;
  for (char* block : d->Rates->Active) {
    const CurrencyInfo& record = *reinterpret_cast<const CurrencyInfo*>(block);
    int32_t i = d->Currencies.IFind(record.szCode);
    if (i < 0) return false;
    if (!(d->Currencies[static_cast<uint32_t>(i)]->dwFlags & (kCurrencyEuroArea | kCurrencyPeggedEuro))) return false;
  }
  return true;
}

}  // namespace vtx::update
