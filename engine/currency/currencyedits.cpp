// Members that edit the active list, the currency database and the locales from outside an
// update: the euro-area records, the built-in rows, and the lists of codes a locale carries.
#include <cstring>

#include "engine/currency/settings.h"
#include "platform/systime.h"

namespace {

CurrencyInfo* Record(const CSettings& settings, int32_t index) {
  return settings.GetRates()[static_cast<uint32_t>(index)];
}

}  // namespace

void CSettings::GetLastSaved(FILETIME* out) const {
  if (out) *out = GetLastSaved();
}

bool CSettings::ResetEuro(const CurrencyInfo& record) {
  if (!m_data) return false;
  CStringList<char>& active = m_data->Rates->Active;
  int32_t i = active.IFind(record.szCode);
  if (i < 0) i = active.IFind(m_data->GetCurrencyName(record.szCode));
  if (i < 0) return active.AddEx(&record, kListSorted, sizeof record);
  CurrencyInfo* own = Record(*this, i);
  bool changed = false;
  if (own->dRate != record.dRate) {
    own->dRate = record.dRate;
    GetSystemTimeAsFileTime(&own->ftLastChange);
    changed = true;
  }
  if (own->dSmallest != record.dSmallest || own->dwSmallestDecimals != record.dwSmallestDecimals ||
      own->dwRateDecimals != record.dwRateDecimals) {
    own->dSmallest = record.dSmallest;
    own->dwSmallestDecimals = record.dwSmallestDecimals;
    own->dwRateDecimals = record.dwRateDecimals;
    changed = true;
  }
  return changed;
}

bool CSettings::RemoveEuroRecords(bool euro) {
  if (!m_data) return false;
  CStringList<char>& active = m_data->Rates->Active;
  bool removed = false;
  for (uint32_t i = active.GetCount(); i-- > 0;) {
    if ((IsEuroCurrency(Record(*this, static_cast<int32_t>(i))->szCode) != nullptr) != euro) continue;
    active.Remove(i);
    removed = true;
  }
  return removed;
}

bool CSettings::RemoveNonEuro() { return RemoveEuroRecords(false); }
bool CSettings::RemoveEuro() { return RemoveEuroRecords(true); }

bool CSettings::IsReplacedCurrency(const char* code) const {
  if (!m_data || !code) return false;
  int32_t i = m_data->Currencies.IFind(code);
  return i >= 0 && !(m_data->Currencies[static_cast<uint32_t>(i)]->dwFlags & kCurrencyLegalTender);
}

bool CSettings::IsValidUnit(const char* code) const { return m_data && code && m_data->IFind(code) >= 0; }

bool CCurrencyList::CopyFrom(const CCurrencyList& other) {
  if (&other == this) return true;
  for (char* e : other)
    if (!AddEx(e, kListAppend, sizeof(CurrencyInfo))) return false;
  return true;
}

bool CAllCurrencies::Reset(CurrencyData& record) {
  int32_t builtin = IFindHardcoded(record.szCode);
  if (builtin < 0) return false;
  const CurrencyData& row = g_CurrencyData[builtin];
  CurrencyData fresh = row;
  // A rate of its own (a fixed rate set by the user or the last known rate) outlives the reset.
  if (record.dRate != 0.0 && record.dRate != row.dRate) {
    fresh.dRate = record.dRate;
    fresh.dwRateDecimals = record.dwRateDecimals;
    fresh.ftLastChange = record.ftLastChange;
    fresh.dwServers = record.dwServers;
  }
  record = fresh;
  return true;
}

bool CAllCurrencies::Reset(const char* code) {
  if (code) {
    int32_t i = IFindCode(code);
    return i >= 0 && Reset(*(*this)[static_cast<uint32_t>(i)]);
  }
  for (uint32_t i = m_records.GetCount(); i-- > 0;)
    if (!Reset(*(*this)[i])) m_records.Remove(i);
  for (const CurrencyData& row : g_CurrencyData)
    if (IFindCode(row.szCode) < 0 && !m_records.AddEx(&row, kListSorted, sizeof row)) return false;
  m_add.Empty();
  m_remove.Empty();
  return true;
}

HRESULT CCurrencyLocale::NormalizeList(const CStringList<char>* add, const CStringList<char>* remove) {
  if (add) {
    for (char* code : *add) {
      if (IFind(code)) continue;
      CCurrencyLocaleInfo* info = AddLocaleInfo(code);
      if (!info) return E_OUTOFMEMORY;
      info->SetChanged(0);
    }
  }
  if (remove)
    for (char* code : *remove) RemoveLocaleInfo(code);
  return S_OK;
}

bool CCurrencyLocaleList::RemoveCurrency(const char* code) {
  bool removed = false;
  for (CCurrencyLocale* locale : m_locales)
    if (locale->RemoveLocaleInfo(code)) removed = true;
  return removed;
}

CCurrencyLocale* CCurrencyLocaleList::Find(const char* name) const {
  if (name) {
    if (std::strlen(name) == 2)
      for (CCurrencyLocale* l : m_locales)
        if (l->GetName() && _strnicmp(l->GetName(), name, 2) == 0) return l;
    for (CCurrencyLocale* l : m_locales)
      if (l->GetName() && _stricmp(l->GetName(), name) == 0) return l;
  }
  if (CCurrencyLocale* l = Find(m_defaultLCID)) return l;
  for (CCurrencyLocale* l : m_locales)
    if (PRIMARYLANGID(LANGIDFROMLCID(l->GetLCID())) == LANG_ENGLISH) return l;
  return m_locales.GetCount() ? m_locales[0] : nullptr;
}

bool CCurrencyLocale::RemoveLocaleInfo(const char* code) {
  if (!code) return false;
  for (uint32_t i = 0; i < m_infos.GetCount(); ++i) {
    CCurrencyLocaleInfo* info = m_infos[i];
    if (info->GetCurrency() && _stricmp(info->GetCurrency(), code) == 0) {
      m_infos.Remove(i);
      delete info;
      return true;
    }
  }
  return false;
}
