// The rates data of the settings: applying rates files to the active list, the euro and peg
// look-ups on it, and storing it under "INI".
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/calculator.h"
#include "engine/foundation/inidataregistry.h"
#include "engine/foundation/timetext.h"
#include "platform/heap.h"
#include "platform/systime.h"

namespace {

using namespace vtx::rates;

bool IsZero(const FILETIME& t) { return t.dwLowDateTime == 0 && t.dwHighDateTime == 0; }
// The constant euro record: the euro itself, always at rate 1.
const CurrencyInfo kConstantEuro = [] {
  CurrencyInfo e{};
  std::strcpy(e.szCode, "EUR");
  e.dRate = 1.0;
  e.dSmallest = 0.01;
  e.dwSmallestDecimals = 2;
  e.dwRateDecimals = 5;
  return e;
}();

// Appends a text with a separator; a first text is taken as it is.
bool Append(CStringA& to, const char* separator, const char* text) {
  if (!text || !*text) return true;
  if (to.IsEmpty()) {
    to = text;
    return !to.IsNull();
  }
  size_t a = std::strlen(to.c_str()), b = std::strlen(separator), c = std::strlen(text);
  char* block = static_cast<char*>(GlobalAlloc(0, a + b + c + 1));
  if (!block) return false;
  std::memcpy(block, to.c_str(), a);
  std::memcpy(block + a, separator, b);
  std::memcpy(block + a + b, text, c + 1);
  to.Attach(block);
  return true;
}

int32_t FindIn(const CSettingsData& d, const CRatesData& rates, const char* code) {
  int32_t i = rates.Active.IFind(code);
  if (i >= 0) return i;
  const char* name = d.GetCurrencyName(code);
  return name != code ? rates.Active.IFind(name) : -1;
}

}  // namespace

void CSettings::ClearInfo() {
  if (!m_data) return;
  CRatesData& r = *m_data->Rates;
  r.Source.Empty();
  r.Copyright.Empty();
  r.Message.Empty();
  r.LastLoaded = FILETIME{};
  r.Created = FILETIME{};
  r.DateNoTime = 0;
  r.Expires = FILETIME{};
}

const CurrencyInfo* CSettings::IsEuroCurrency(const char* code) {
  if (!m_data || !code) return nullptr;
  CSettingsData& d = *m_data;
  const char* name = d.GetCurrencyName(code);
  if (CStringUtil<char>::StringICmp(name, "EUR") == 0) return &kConstantEuro;
  if (!d.EuroCacheFilled) d.EuroCacheFilled = d.Currencies.GetEuroCurrencies(d.EuroCache, 0) == 1;
  int32_t i = d.EuroCache.IFind(name);
  return i >= 0 ? reinterpret_cast<const CurrencyInfo*>(d.EuroCache[static_cast<uint32_t>(i)]) : nullptr;
}

const CurrencyData* CSettings::IsPeggedToEURCurrency(const char* code) const {
  if (!m_data || !code) return nullptr;
  int32_t i = m_data->Currencies.IFind(code);
  if (i < 0) return nullptr;
  const CurrencyData* rec = m_data->Currencies[static_cast<uint32_t>(i)];
  return rec->dwFlags & kCurrencyPeggedEuro ? rec : nullptr;
}

CurrencyInfo* CSettings::Add(const CurrencyInfo& record) {
  if (!m_data) return nullptr;
  char* out = nullptr;
  if (!m_data->Rates->Active.AddEx(&record, kListAppend, sizeof record, &out)) return nullptr;
  return reinterpret_cast<CurrencyInfo*>(out);
}

bool CSettings::Remove(const char* code) { return m_data && m_data->Rates->Active.IRemove(code); }

bool CSettings::InitCurrencyInfo(CurrencyInfo& record, const char* code) {
  record = CurrencyInfo{};
  if (!m_data || !code) return false;
  std::snprintf(record.szCode, sizeof record.szCode, "%s", m_data->GetCurrencyName(code));
  if (const CurrencyInfo* euro = IsEuroCurrency(record.szCode))
    std::memcpy(record.szEuroCode, euro->szEuroCode, sizeof record.szEuroCode);
  record.dRate = -1.0;
  record.dSmallest = 0.01;
  record.dwSmallestDecimals = 2;
  record.dwRateDecimals = 2;
  return true;
}

void CSettings::LoadINIBegin() {
  if (!m_data) return;
  for (char* e : m_data->Rates->Active) reinterpret_cast<CurrencyInfo*>(e)->dwFlags &= ~kInfoClearedByBegin;
}

void CSettings::LoadINIEnd() {
  if (!m_data) return;
  CSettingsData& d = *m_data;
  CStringList<char>& list = d.Rates->Active;
  for (uint32_t i = list.GetCount(); i-- > 0;) {
    const CurrencyInfo& rec = *reinterpret_cast<const CurrencyInfo*>(list[i]);
    bool remove = rec.dRate == -1.0;
    if (!remove && !(rec.dwFlags & kInfoFromRatesFile))
      remove = !d.OnlyUpdateExisting && !(d.AlwaysRetainEuro && IsEuroCurrency(rec.szCode));
    if (remove) list.Remove(i);
  }
}

HRESULT CSettings::ApplyRate(CRatesData& r, const char* code, const char* value, bool replaced, bool stored,
                             const FILETIME& now) {
  CSettingsData& d = *m_data;
  int32_t index = FindIn(d, r, code);
  if (d.OnlyUpdateExisting && !stored && index < 0) return 0;
  double rate = 0;
  uint32_t decimals = 0;
  // One decimal number, nothing else; a negative rate is refused. Zero stays "no rate".
  if (!value || !vtx::rates::ParseDecimal(value, &rate, &decimals) || rate < 0) return E_INVALIDARG;
  rate += 0.0;  // no "-0"

  // Euro-area and pegged currencies keep their fixed rates unless the settings say otherwise.
  bool fixed = false;
  if (const CurrencyInfo* euro = IsEuroCurrency(code)) {
    if (euro->dRate != rate && d.ConflictingEMU != 2) {
      rate = euro->dRate;
      decimals = euro->dwRateDecimals;
      if (!d.AlwaysRetainEuro) fixed = true;
    }
  }
  if (const CurrencyData* peg = IsPeggedToEURCurrency(code)) {
    if (peg->dRate != 0 && peg->dRate != rate && d.ConflictingPegged != 2) {
      rate = peg->dRate;
      decimals = peg->dwRateDecimals;
      fixed = true;
    }
  }

  CurrencyInfo* rec;
  if (index >= 0) {
    rec = r[static_cast<uint32_t>(index)];
    if (rec->dRate != -1.0) {
      rec->dwFlags &= ~kInfoFluctuation;
      if (!stored) {
        const double old = rec->dRate;
        if (old != 0) {
          const double band = old * d.MaxFluctuation * 0.01;
          if (rate > old + band || rate < old - band) rec->dwFlags |= kInfoFluctuation;
        }
        // A new rate, or a rate that never had a time, changes now.
        if (rate != old || IsZero(rec->ftLastChange)) rec->ftLastChange = now;
      }
    } else if (!stored) {
      rec->ftLastChange = now;
    }
  } else {
    CurrencyInfo fresh;
    InitCurrencyInfo(fresh, code);
    fresh.dwFlags = 0;
    if (!stored) fresh.ftLastChange = now;
    char* added = nullptr;
    if (!r.Active.AddEx(&fresh, kListAppend, sizeof fresh, &added)) return E_OUTOFMEMORY;
    rec = reinterpret_cast<CurrencyInfo*>(added);
  }
  rec->dRate = rate;
  rec->dwRateDecimals = decimals;
  rec->dwFlags |= kInfoFromRatesFile;
  if (fixed)
    rec->dwFlags |= kInfoFixedRate;
  else
    rec->dwFlags &= ~kInfoFixedRate;
  if (replaced) rec->dwFlags |= kInfoEuroReplaced;
  return 0;
}

HRESULT CSettings::LoadINI(const CIniData<char>& data, CStringA* next, uint32_t* errorLine, bool stored) {
  using D = CIniData<char>;
  if (next) next->Empty();
  if (errorLine) *errorLine = 0;
  if (!m_data) return E_POINTER;
  CSettingsData& d = *m_data;

  // All changes go to a copy that replaces the current rates only when the whole file applied.
  std::unique_ptr<CRatesData> work(vtx::heap::New<CRatesData>());
  if (!work || !work->CopyFrom(*d.Rates)) return E_OUTOFMEMORY;
  CRatesData& r = *work;
  r.OwnData = 0;

  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  // A last change is stored in whole seconds; kept finer, it would differ from itself after a
  // reload, and the staleness watch would take every reload for a change.
  now = WholeSeconds(now);
  bool dateSeen = false;
  uint32_t fileDateNoTime = 0;
  auto refuse = [&](const char* row) {
    if (errorLine) *errorLine = D::GetLine(row);
    return E_INVALIDARG;
  };
  // The record of a code in the copy, a new one appended when it is not there yet.
  auto recordFor = [&](const char* code, CurrencyInfo** out) -> HRESULT {
    int32_t i = FindIn(d, r, code);
    if (i >= 0) {
      *out = r[static_cast<uint32_t>(i)];
      return 0;
    }
    CurrencyInfo rec;
    InitCurrencyInfo(rec, code);
    char* added = nullptr;
    if (!r.Active.AddEx(&rec, kListAppend, sizeof rec, &added)) return E_OUTOFMEMORY;
    *out = reinterpret_cast<CurrencyInfo*>(added);
    return 0;
  };

  const char* section = nullptr;
  uint32_t sectionId = IniNoId;
  for (const char* row : data) {
    const char* name = D::GetName(row);
    if (D::GetType(row) == IniTypeSection) {
      section = name;
      sectionId = FindIniTableEntryID<char>(name, nullptr, g_IniTable, kIniTableCount);
      continue;
    }
    if (sectionId == IniNoId) continue;
    uint32_t id = FindIniTableEntryID<char>(section, name, g_IniTable, kIniTableCount);
    if (id == IniNoId) continue;
    const char* value = D::GetStringValue(row);
    bool isCode = CStringUtil<char>::StringLen(name) <= 3;

    switch (id) {
      case IniApplication:
        if (value && (CStringUtil<char>::StringICmp(value, g_szOwnApplication) == 0 ||
                      CStringUtil<char>::StringICmp(value, g_szOwnApplicationSign) == 0))
          r.OwnData = 1;
        break;
      case IniSource:
        if (!Append(r.Source, " - ", value)) return E_OUTOFMEMORY;
        break;
      case IniCopyright:
        if (!Append(r.Copyright, " - ", value)) return E_OUTOFMEMORY;
        break;
      case IniMessage:
        if (!Append(r.Message, "\r\n\r\n", value)) return E_OUTOFMEMORY;
        break;
      case IniWarning:
        if (!Append(r.Warning, "\r\n\r\n", value)) return E_OUTOFMEMORY;
        break;
      case IniError:
        if (!Append(r.Error, "\r\n\r\n", value)) return E_OUTOFMEMORY;
        break;
      case IniDate: {
        FILETIME t;
        if (!StringToTime(value, &t)) break;
        dateSeen = true;
        if (IsZero(r.Created) || FileTimeToU64(t) > FileTimeToU64(r.Created)) r.Created = t;
        break;
      }
      case IniExpires: {
        FILETIME t;
        if (!StringToTime(value, &t)) break;
        if (IsZero(r.Expires) || FileTimeToU64(t) < FileTimeToU64(r.Expires)) r.Expires = t;
        break;
      }
      case IniNext:
        if (next) {
          *next = value;
          if (value && next->IsNull()) return E_OUTOFMEMORY;
        }
        break;

      case IniEUR:
      case IniEURReplaced: {
        if (!isCode) break;
        HRESULT hr = ApplyRate(r, name, D::GetStringCount(row) == 1 ? value : nullptr, id == IniEURReplaced, stored, now);
        if (hr == E_INVALIDARG) return refuse(row);
        if (hr) return hr;
        break;
      }

      case IniSmallest: {
        if (d.OnlyUpdateExisting && !stored) break;
        if (!isCode) break;
        double unit = 0;
        uint32_t decimals = 0;
        if (D::GetStringCount(row) != 1 || !vtx::rates::ParseDecimal(value, &unit, &decimals) || !(unit > 0))
          return refuse(row);
        CurrencyInfo* rec;
        if (HRESULT hr = recordFor(name, &rec)) return hr;
        rec->dSmallest = unit;
        rec->dwSmallestDecimals = decimals;
        break;
      }

      case IniLastLoaded: {
        FILETIME t;
        if (StringToTime(value, &t)) r.LastLoaded = t;
        break;
      }
      case IniDateNoTime:
        fileDateNoTime = D::GetULongValue(row) != 0 ? 1 : 0;
        break;

      case IniPrivateLastChange:
      case IniPrivateWarning:
      case IniPrivateServers: {
        if (!stored || !isCode) break;
        CurrencyInfo* rec;
        if (HRESULT hr = recordFor(name, &rec)) return hr;
        if (id == IniPrivateLastChange) {
          FILETIME t;
          if (StringToTime(value, &t)) rec->ftLastChange = t;
        } else if (id == IniPrivateWarning) {
          if (D::GetULongValue(row) != 0)
            rec->dwFlags |= kInfoWarning;
          else
            rec->dwFlags &= ~kInfoWarning;
        } else {
          rec->dwServers = D::GetULongValue(row);
        }
        break;
      }
      default:  // "Names" and "Replaced" are for other readers
        break;
    }
  }

  if (dateSeen) r.DateNoTime = fileDateNoTime;
  delete d.Rates;
  d.Rates = work.release();
  return 0;
}

HRESULT CSettings::SaveRatesTo(CIniData<char>& ini) const {
  const CRatesData& r = *m_data->Rates;
  char text[400];
  bool ok = ini.AddSection(kGeneral);
  if (ok && !r.Source.IsNull()) ok = ini.AddString("Source", r.Source);
  if (ok && !r.Copyright.IsNull()) ok = ini.AddString("Copyright", r.Copyright);
  if (ok && !r.Message.IsNull()) ok = ini.AddString("Message", r.Message);
  if (ok && TimeToString(r.Created, text)) ok = ini.AddString("Date", text);
  if (ok && TimeToString(r.Expires, text)) ok = ini.AddString("Expires", text);

  // A rate that is not set, or that would not read back, is left out: the reader refuses the whole
  // stored data for one bad row.
  if (ok) ok = ini.AddSection("EUR");
  for (char* e : r.Active) {
    const CurrencyInfo& rec = *reinterpret_cast<const CurrencyInfo*>(e);
    if (!ok) break;
    if (rec.dRate >= 0 && PlainAmountText(rec.dRate, rec.dwRateDecimals, text, sizeof text)) ok = ini.AddString(rec.szCode, text);
  }
  if (ok) ok = ini.AddSection("Smallest");
  for (char* e : r.Active) {
    const CurrencyInfo& rec = *reinterpret_cast<const CurrencyInfo*>(e);
    if (!ok) break;
    if (rec.dSmallest > 0 && PlainAmountText(rec.dSmallest, rec.dwSmallestDecimals, text, sizeof text))
      ok = ini.AddString(rec.szCode, text);
  }
  if (ok) ok = ini.AddSection(kPrivate);
  if (ok && !IsZero(r.LastLoaded) && TimeToString(r.LastLoaded, text)) ok = ini.AddString("LastLoaded", text);
  if (ok && r.DateNoTime) ok = ini.AddULong("DateNoTime", 1);
  if (ok) ok = ini.AddSection(kPrivateLastChange);
  for (char* e : r.Active) {
    const CurrencyInfo& rec = *reinterpret_cast<const CurrencyInfo*>(e);
    if (!ok) break;
    if (!IsZero(rec.ftLastChange) && TimeToString(rec.ftLastChange, text)) ok = ini.AddString(rec.szCode, text);
  }
  if (ok) ok = ini.AddSection(kPrivateWarning);
  for (char* e : r.Active) {
    const CurrencyInfo& rec = *reinterpret_cast<const CurrencyInfo*>(e);
    if (!ok) break;
    if (rec.dwFlags & kInfoWarning) ok = ini.AddULong(rec.szCode, 1);
  }
  if (ok) ok = ini.AddSection(kPrivateServers);
  for (char* e : r.Active) {
    const CurrencyInfo& rec = *reinterpret_cast<const CurrencyInfo*>(e);
    if (!ok) break;
    if (rec.dwServers) ok = ini.AddULong(rec.szCode, rec.dwServers);
  }
  return ok ? 0 : E_OUTOFMEMORY;
}

HRESULT CSettings::DoSaveINI() {
  if (!m_data) return E_POINTER;
  CIniDataRegistry<char> ini;
  if (!ini.SetBaseKey(HKEY_LOCAL_MACHINE, g_szIniKey)) return E_OUTOFMEMORY;
  if (HRESULT hr = SaveRatesTo(ini)) return hr;
  return ini.Save();
}

HRESULT CSettings::SaveINI() { return SaveUnderLock(false); }
