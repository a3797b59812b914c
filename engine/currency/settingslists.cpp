// The staleness look-ups of the active list that the warnings of the server are built from.
#include <new>

#include "engine/currency/settings.h"
#include "platform/systime.h"

namespace {

uint64_t NowOr(const FILETIME* now) {
  if (now) return FileTimeToU64(*now);
  FILETIME t;
  GetSystemTimeAsFileTime(&t);
  return FileTimeToU64(t);
}


// Collects "CODE (name)" entries separated by TABs.
class CodeList {
 public:
  explicit CodeList(CSettings& settings) : m_locales(settings.GetLocaleList()) {}
  bool Add(const char* code) {
    if (!m_text.IsEmpty() && !m_text.Merge("\t")) return false;
    if (!m_text.Merge(code)) return false;
    CStringW name;
    if (m_locales && m_locales->GetCurrencyName(name, code, false, 1033) && !name.IsEmpty()) {
      CStringA narrow;
      narrow = name.GetBuffer();
      if (!narrow.IsEmpty() && (!m_text.Merge(" (") || !m_text.Merge(narrow.GetBuffer()) || !m_text.Merge(")")))
        return false;
    }
    return true;
  }
  char* Detach() { return m_text.IsEmpty() ? nullptr : m_text.Detach(); }

 private:
  CCurrencyLocaleList* m_locales;
  CString<char> m_text;
};

}  // namespace

FILETIME CSettings::GetLastChange() const {
  uint64_t latest = 0;
  if (!m_data) return FILETIME{};
  const CRatesData& r = *m_data->Rates;
  for (uint32_t i = 0; i < r.Active.GetCount(); ++i) {
    uint64_t t = FileTimeToU64(r[i]->ftLastChange);
    if (t > latest) latest = t;
  }
  return U64ToFileTime(latest);
}

FILETIME CSettings::GetLeastRecentChange(const FILETIME* now) {
  if (!m_data) return FILETIME{};
  const uint64_t current = NowOr(now);
  uint64_t oldest = 0;
  bool any = false;
  const CRatesData& r = *m_data->Rates;
  for (uint32_t i = 0; i < r.Active.GetCount(); ++i) {
    const CurrencyInfo& rec = *r[i];
    if (IsEuroCurrency(rec.szCode) || IsPeggedToEURCurrency(rec.szCode)) continue;
    uint64_t t = FileTimeToU64(rec.ftLastChange);
    if (t == 0) t = current;
    if (!any || t < oldest) oldest = t;
    any = true;
  }
  return U64ToFileTime(oldest);
}

char* CSettings::GetLastChangeCurrencies(uint32_t seconds, FILETIME* latest, uint32_t* count, uint32_t* floating,
                                         const FILETIME* now) {
  if (latest) *latest = FILETIME{};
  if (count) *count = 0;
  if (floating) *floating = 0;
  if (!m_data) return nullptr;
  const uint64_t current = NowOr(now);
  const uint64_t limit = static_cast<uint64_t>(seconds) * kFileTimeTicksPerSecond;
  // A record never changed is taken to be exactly as old as the limit.
  const uint64_t neverChanged = current > limit ? current - limit : 0;
  CodeList list(*this);
  uint64_t newest = 0;
  uint32_t listed = 0, examined = 0;
  const CRatesData& r = *m_data->Rates;
  for (uint32_t i = 0; i < r.Active.GetCount(); ++i) {
    const CurrencyInfo& rec = *r[i];
    if (IsEuroCurrency(rec.szCode) || IsPeggedToEURCurrency(rec.szCode)) continue;
    ++examined;
    if (!(rec.dRate > 0.0)) continue;
    uint64_t t = FileTimeToU64(rec.ftLastChange);
    if (t == 0) t = neverChanged;
    if (t > current || current - t < limit) continue;
    if (!list.Add(rec.szCode)) return nullptr;
    ++listed;
    if (t > newest) newest = t;
  }
  if (latest) *latest = U64ToFileTime(newest);
  if (count) *count = listed;
  if (floating) *floating = examined;
  return list.Detach();
}

char* CSettings::GetNeverSetCurrencies(uint32_t* count, uint32_t* floating) {
  if (count) *count = 0;
  if (floating) *floating = 0;
  if (!m_data) return nullptr;
  CodeList list(*this);
  uint32_t listed = 0, examined = 0;
  const CRatesData& r = *m_data->Rates;
  for (uint32_t i = 0; i < r.Active.GetCount(); ++i) {
    const CurrencyInfo& rec = *r[i];
    if (IsEuroCurrency(rec.szCode) || IsPeggedToEURCurrency(rec.szCode)) continue;
    ++examined;
    // -1.0 marks a record never set; a source may also deliver 0 for a currency it lacks.
    if (rec.dRate > 0.0) continue;
    if (!list.Add(rec.szCode)) return nullptr;
    ++listed;
  }
  if (count) *count = listed;
  if (floating) *floating = examined;
  return list.Detach();
}
