#include "engine/currency/allcurrencies.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "engine/currency/currencystore.h"
#include "engine/foundation/buffer.h"
#include "platform/errors.h"
#include "platform/heap.h"

const char g_szAllCurrenciesKey[] = VTX_APP_KEY "\\AllCurrencies";
const char g_szAllCurrenciesStamp[] = "AllCurrenciesStamp";

const IniTableEntry<char> g_AcIniTable[kAcIniTableCount] = {
    {"EUR", nullptr, AcIniEUR, IniTypeSection},
    {"Smallest", nullptr, AcIniSmallest, IniTypeSection},
    {"NumericalCode", nullptr, AcIniNumericalCodes, IniTypeSection},
    {"NumericalCodes", nullptr, AcIniNumericalCodes, IniTypeSection},
    {"LegalTender", nullptr, AcIniLegalTender, IniTypeSection},
    {"EMU", nullptr, AcIniEMU, IniTypeSection},
    {"Pegged-EUR", nullptr, AcIniPeggedEUR, IniTypeSection},
    {"Physical", nullptr, AcIniPhysical, IniTypeSection},
    {"LastChange", nullptr, AcIniLastChange, IniTypeSection},
    {"Add", nullptr, AcIniAdd, IniTypeSection},
    {"Remove", nullptr, AcIniRemove, IniTypeSection},
    {"Servers", nullptr, AcIniServers, IniTypeSection},
};

namespace {

void CopyCode(char* dst, size_t size, const char* code) {
  size_t n = 0;
  if (code)
    while (n + 1 < size && code[n]) {
      dst[n] = code[n];
      ++n;
    }
  std::memset(dst + n, 0, size - n);
}

const char* SkipBlanks(const char* p) {
  while (vtx::IsAsciiSpace(*p)) ++p;
  return p;
}

// Appends a code to a tab-separated text.
bool AppendCode(CString<char>& text, const char* code, const char* separator) {
  if (!text.IsEmpty() && !text.Merge(separator)) return false;
  return text.Merge(code);
}

char* Hand(CString<char>& text) { return text.IsEmpty() ? nullptr : text.Detach(); }

}  // namespace

namespace vtx::currency {

// The whole text (blanks around allowed) as a decimal number: stored numeric codes are written
// zero-padded ("036") and must never be read as octal.
bool ParseDecimal(const char* text, uint32_t* out) {
  if (!text) return false;
  const char* p = SkipBlanks(text);
  const char* end = p;
  while (*end >= '0' && *end <= '9') ++end;
  if (end == p) return false;
  auto r = std::from_chars(p, end, *out, 10);
  if (r.ec != std::errc() || r.ptr != end) return false;
  return *SkipBlanks(end) == 0;
}

// A flag value: a number, or one of the words true/yes/false/no.
bool ParseSwitch(const char* text, bool* out) {
  uint32_t v;
  if (ParseDecimal(text, &v)) {
    *out = v != 0;
    return true;
  }
  const char* end = nullptr;
  int b = CStringUtil<char>::StringToBool(text ? SkipBlanks(text) : nullptr, &end);
  if (b < 0 || *SkipBlanks(end)) return false;
  *out = b != 0;
  return true;
}

// A plain decimal number ("1.95583", "-2"), independent of the process locale; `decimals` gets the
// number of characters after the first '.'.
bool ParseAmount(const char* text, double* out, uint32_t* decimals) {
  if (!text) return false;
  const char* p = SkipBlanks(text);
  const char* q = p;
  if (*q == '-' || *q == '+') ++q;
  const char* digits = q;
  while (*q >= '0' && *q <= '9') ++q;
  bool any = q != digits;
  uint32_t fraction = 0;
  if (*q == '.') {
    ++q;
    while (*q >= '0' && *q <= '9') {
      ++q;
      ++fraction;
    }
    any = any || fraction;
  }
  if (!any || *SkipBlanks(q)) return false;
  const char* start = *p == '+' ? p + 1 : p;
  auto r = std::from_chars(start, q, *out);
  if (r.ec != std::errc() || r.ptr != q || !std::isfinite(*out)) return false;
  *decimals = fraction;
  return true;
}

}  // namespace vtx::currency

using vtx::currency::ParseAmount;
using vtx::currency::ParseDecimal;
using vtx::currency::ParseSwitch;

void InitCurrencyData(CurrencyData& record, const char* code) {
  std::memset(&record, 0, sizeof record);
  CopyCode(record.szCode, sizeof record.szCode, code);
  record.dRate = 0.0;
  record.dSmallest = 0.01;
  record.dwSmallestDecimals = 2;
  record.dwFlags = kCurrencyLegalTender | kCurrencyPhysical;
}

void CurrencyDataToCurrencyInfo(const CurrencyData& data, CurrencyInfo& info) {
  std::memset(&info, 0, sizeof info);
  CopyCode(info.szCode, sizeof info.szCode, data.szCode);
  CopyCode(info.szEuroCode, sizeof info.szEuroCode, data.szCode);
  info.dRate = data.dRate;
  info.dSmallest = data.dSmallest;
  info.dwSmallestDecimals = data.dwSmallestDecimals;
  info.dwRateDecimals = data.dwRateDecimals;
  info.ftLastChange = data.ftLastChange;
  info.dwServers = data.dwServers;
  info.dwFlags = (data.dwFlags & kCurrencyLegalTender) ? 0 : kInfoEuroReplaced;
}

bool AddEuroCurrency(CStringList<char>& list, const CurrencyInfo& info) {
  return list.Add(&info, kListAppend, sizeof info);
}

int32_t CAllCurrencies::IFindHardcoded(const char* code) {
  if (!code) return -1;
  // The built-in codes as an indexed list, made once per process; should that copy have failed,
  // the table itself is searched.
  static const CStringList<char>* const codes = [] {
    auto* list = vtx::heap::New<CStringList<char>>();
    for (const CurrencyData& d : g_CurrencyData)
      if (!list || !list->Add(d.szCode)) break;
    return list;
  }();
  if (codes && codes->GetCount() == kCurrencyDataCount) return codes->IFind(code);
  for (uint32_t i = 0; i < kCurrencyDataCount; ++i)
    if (_stricmp(g_CurrencyData[i].szCode, code) == 0) return static_cast<int32_t>(i);
  return -1;
}

int32_t CAllCurrencies::IFindCode(const char* code) const { return m_records.IFind(code); }

void CAllCurrencies::Overwrite(uint32_t at, const CurrencyData& record) {
  CurrencyData* d = (*this)[at];
  if (d->dwNumericCode != record.dwNumericCode) ++m_numericChanges;
  // The code stays: callers overwrite the record they found by it.
  std::memcpy(d, &record, sizeof record);
}

int32_t CAllCurrencies::Find(uint32_t numericCode) const {
  if (numericCode == 0) return -1;
  // Records also change their numeric code in place (Overwrite), which the list does not count.
  const uint64_t layout = m_records.GetLayout() ^ (m_numericChanges << 40);
  int32_t i = m_numeric.Find(layout, GetCount(), numericCode, [this](NumericIndex::Map& map, uint32_t from) {
    for (; from < GetCount(); ++from) map.emplace((*this)[from]->dwNumericCode, from);
  });
  if (i != NumericIndex::kUnavailable) return i;
  i = 0;
  for (CurrencyData* d : *this) {
    if (d->dwNumericCode == numericCode) return i;
    ++i;
  }
  return -1;
}

int32_t CAllCurrencies::IFind(const char* text) const {
  int32_t i = IFindCode(text);
  if (i >= 0) return i;
  uint32_t n;
  return ParseDecimal(text, &n) ? Find(n) : -1;
}

void CAllCurrencies::Empty() {
  m_records.Empty();
  m_add.Empty();
  m_remove.Empty();
}

bool CAllCurrencies::Add(const CurrencyData& record) {
  CurrencyData copy = record;
  copy.szCode[sizeof copy.szCode - 1] = 0;
  int32_t i = IFindCode(copy.szCode);
  if (i >= 0) {
    Overwrite(static_cast<uint32_t>(i), copy);
  } else if (!m_records.Add(&copy, kListAppend, sizeof copy)) {
    return false;
  }
  if (IFindHardcoded(copy.szCode) < 0 && m_add.IFind(copy.szCode) < 0 && !m_add.Add(copy.szCode)) return false;
  m_remove.IRemove(copy.szCode);
  return true;
}

bool CAllCurrencies::IRemove(const char* code) {
  int32_t i = IFindCode(code);
  if (i < 0) return false;
  CurrencyData copy = *(*this)[static_cast<uint32_t>(i)];
  if (IFindHardcoded(copy.szCode) >= 0) {
    if (m_remove.IFind(copy.szCode) < 0 && !m_remove.Add(copy.szCode)) return false;
  } else {
    m_add.IRemove(copy.szCode);
  }
  m_records.Remove(static_cast<uint32_t>(i));
  return true;
}

bool CAllCurrencies::CopyFrom(const CAllCurrencies& other) {
  if (&other == this) return true;
  Empty();
  for (CurrencyData* d : other)
    if (!m_records.Add(d, kListAppend, sizeof *d)) return false;
  for (char* c : other.m_add)
    if (!m_add.Add(c)) return false;
  for (char* c : other.m_remove)
    if (!m_remove.Add(c)) return false;
  return true;
}

HRESULT CAllCurrencies::Compare(const CAllCurrencies* other, char** text, uint32_t* count) const {
  if (text) *text = nullptr;
  if (count) *count = 0;
  if (!other) return E_POINTER;
  constexpr uint32_t kComparedFlags = (1u << 26) - 1;
  CString<char> out;
  uint32_t n = 0;
  for (CurrencyData* d : *this) {
    int32_t j = other->IFindCode(d->szCode);
    bool differs = j < 0;
    if (!differs) {
      const CurrencyData* o = (*other)[static_cast<uint32_t>(j)];
      differs = o->dwNumericCode != d->dwNumericCode || o->dSmallest != d->dSmallest ||
                o->dwSmallestDecimals != d->dwSmallestDecimals ||
                (o->dwFlags & kComparedFlags) != (d->dwFlags & kComparedFlags);
    }
    if (differs) {
      if (!AppendCode(out, d->szCode, "\t")) return E_OUTOFMEMORY;
      ++n;
    }
  }
  for (CurrencyData* o : *other) {
    if (IFindCode(o->szCode) >= 0) continue;
    if (!AppendCode(out, o->szCode, "\t")) return E_OUTOFMEMORY;
    ++n;
  }
  if (count) *count = n;
  if (text) *text = Hand(out);
  return 0;
}

ICurrencyUpdate* CAllCurrencies::GetUpdate() {
  if (m_update) return m_update;
  if (!m_storedUpdate) m_storedUpdate = MakeStoredCurrencyUpdate();
  return m_storedUpdate.get();
}

HRESULT CAllCurrencies::ResetStoredUpdate() {
  if (ICurrencyUpdate* update = GetUpdate()) return update->Reset();
  return vtx::currency::DeleteKey(vtx::currency::UpdateKeyPath()) ? 0 : E_FAIL;
}

HRESULT CAllCurrencies::Create(bool reset) {
  m_loadError = 0;
  m_loadErrorLine = 0;

  // Stamps are FILETIMEs: compare them as times, not as bytes.
  uint64_t stored = 0;
  HRESULT stampRead = vtx::currency::ReadStamp(g_szAppKey, g_szAllCurrenciesStamp, &stored);
  // Short of memory the stamp is unknown, not missing: the stored update data must not go.
  if (stampRead == E_OUTOFMEMORY) return stampRead;
  bool haveStamp = stampRead == 0;
  uint64_t builtIn = FileTimeToU64(g_ftCurrencyDataStamp);
  if (!haveStamp || stored < builtIn) {
    ResetStoredUpdate();
    vtx::currency::WriteStamp(g_szAppKey, g_szAllCurrenciesStamp, builtIn);
  }

  if (!reset && vtx::currency::KeyExists(g_szAllCurrenciesKey)) {
    uint32_t line = 0;
    HRESULT hr = vtx::currency::LoadIni(g_szAllCurrenciesKey, g_AcIniTable, kAcIniTableCount,
                                        [&](const CIniData<char>& data) { return Load(data, &line); });
    if (hr == 0) return 0;
    if (hr == E_OUTOFMEMORY) return hr;
    // A database that does not load whole is not used half: the next save would make the loss
    // permanent. Start from the built-in table and let the caller report why.
    m_loadError = hr;
    m_loadErrorLine = line;
  }

  Empty();
  for (const CurrencyData& d : g_CurrencyData)
    if (!m_records.Add(&d, kListAppend, sizeof d)) return E_OUTOFMEMORY;
  return 1;
}

HRESULT CAllCurrencies::Load(const CIniData<char>& data, uint32_t* errorLine) {
  Empty();
  if (errorLine) *errorLine = 0;

  // Registry sections come back in name order, not in the order they were written; the numeric
  // codes list every record in the database's order, so create the records in that order first.
  {
    uint32_t id = IniNoId;
    for (const char* row : data) {
      if (CIniData<char>::GetType(row) == IniTypeSection) {
        id = FindIniTableEntryID<char>(CIniData<char>::GetName(row), nullptr, g_AcIniTable, kAcIniTableCount);
        continue;
      }
      const char* key = CIniData<char>::GetName(row);
      if (id != AcIniNumericalCodes || CStringUtil<char>::StringLen(key) > 3 || IFindCode(key) >= 0) continue;
      CurrencyData rec;
      InitCurrencyData(rec, key);
      if (!m_records.Add(&rec, kListAppend, sizeof rec)) return E_OUTOFMEMORY;
    }
  }

  uint32_t id = IniNoId;
  uint32_t position = 0;
  for (const char* row : data) {
    ++position;
    const char* name = CIniData<char>::GetName(row);
    if (CIniData<char>::GetType(row) == IniTypeSection) {
      id = FindIniTableEntryID<char>(name, nullptr, g_AcIniTable, kAcIniTableCount);
      continue;
    }
    if (id == IniNoId) continue;
    if (id == AcIniAdd || id == AcIniRemove) {
      CStringList<char>& list = id == AcIniAdd ? m_add : m_remove;
      if (list.IFind(name) < 0 && !list.Add(name)) return E_OUTOFMEMORY;
      continue;
    }
    if (CStringUtil<char>::StringLen(name) > 3) continue;

    int32_t at = IFindCode(name);
    CurrencyData rec;
    if (at >= 0)
      rec = *(*this)[static_cast<uint32_t>(at)];
    else
      InitCurrencyData(rec, name);

    const char* value = CIniData<char>::GetStringValue(row);
    bool ok = true;
    uint32_t n = 0;
    bool on = false;
    double d = 0.0;
    switch (id) {
      case AcIniEUR:
        ok = ParseAmount(value, &d, &n) && d >= 0.0;
        if (ok) {
          rec.dRate = d;
          rec.dwRateDecimals = n;
        }
        break;
      case AcIniSmallest:
        // A unit of 0 or below would break every rounding.
        ok = ParseAmount(value, &d, &n) && d > 0.0;
        if (ok) {
          rec.dSmallest = d;
          rec.dwSmallestDecimals = n;
        }
        break;
      case AcIniNumericalCodes:
        ok = ParseDecimal(value, &n);
        if (ok) rec.dwNumericCode = n;
        break;
      case AcIniLegalTender:
      case AcIniPhysical: {
        uint32_t bit = id == AcIniLegalTender ? kCurrencyLegalTender : kCurrencyPhysical;
        ok = ParseSwitch(value, &on);
        if (ok) rec.dwFlags = on ? (rec.dwFlags | bit) : (rec.dwFlags & ~bit);
        break;
      }
      case AcIniEMU:
        ok = ParseSwitch(value, &on);
        if (ok) rec.dwFlags = on ? ((rec.dwFlags | kCurrencyEuroArea) & ~kCurrencyPeggedEuro) : (rec.dwFlags & ~kCurrencyEuroArea);
        break;
      case AcIniPeggedEUR:
        ok = ParseSwitch(value, &on);
        if (ok) rec.dwFlags = on ? ((rec.dwFlags | kCurrencyPeggedEuro) & ~kCurrencyEuroArea) : (rec.dwFlags & ~kCurrencyPeggedEuro);
        break;
      case AcIniLastChange: {
        FILETIME ft{};
        ok = value && vtx::currency::TextToTime(value, &ft);
        if (ok) rec.ftLastChange = ft;
        break;
      }
      case AcIniServers:
        ok = ParseDecimal(value, &n);
        if (ok) rec.dwServers = n;
        break;
      default:
        continue;
    }
    if (!ok) {
      if (errorLine) *errorLine = position;
      return E_INVALIDARG;
    }
    if (at >= 0) {
      Overwrite(static_cast<uint32_t>(at), rec);
    } else if (!m_records.Add(&rec, kListAppend, sizeof rec)) {
      return E_OUTOFMEMORY;
    }
  }
  return 0;
}

HRESULT CAllCurrencies::SaveTo(CIniData<char>& data) const {
  char text[400];  // the plain form of any double
  auto section = [&](const char* name) { return data.AddSection(name); };
  auto number = [&](const char* key, uint32_t v) { return data.AddULong(key, v); };

  if (!section("EUR")) return E_OUTOFMEMORY;
  for (CurrencyData* d : *this) {
    // Only real rates: a negative one would make the stored database unreadable.
    if (!(d->dRate > 0.0)) continue;
    if (!vtx::currency::AmountToText(d->dRate, d->dwRateDecimals, text, sizeof text)) return E_INVALIDARG;
    if (!data.AddString(d->szCode, text)) return E_OUTOFMEMORY;
  }
  if (!section("NumericalCodes")) return E_OUTOFMEMORY;
  for (CurrencyData* d : *this)
    if (!number(d->szCode, d->dwNumericCode)) return E_OUTOFMEMORY;
  if (!section("Smallest")) return E_OUTOFMEMORY;
  for (CurrencyData* d : *this) {
    if (!vtx::currency::AmountToText(d->dSmallest, d->dwSmallestDecimals, text, sizeof text)) return E_INVALIDARG;
    if (!data.AddString(d->szCode, text)) return E_OUTOFMEMORY;
  }
  struct FlagSection {
    const char* name;
    uint32_t bit;
    bool whenSet;
    uint32_t value;
  };
  const FlagSection flagSections[] = {
      {"LegalTender", kCurrencyLegalTender, false, 0},
      {"EMU", kCurrencyEuroArea, true, 1},
      {"Pegged-EUR", kCurrencyPeggedEuro, true, 1},
      {"Physical", kCurrencyPhysical, false, 0},
  };
  for (const FlagSection& f : flagSections) {
    if (!section(f.name)) return E_OUTOFMEMORY;
    for (CurrencyData* d : *this)
      if (((d->dwFlags & f.bit) != 0) == f.whenSet && !number(d->szCode, f.value)) return E_OUTOFMEMORY;
  }
  if (!section("LastChange")) return E_OUTOFMEMORY;
  for (CurrencyData* d : *this) {
    if (FileTimeToU64(d->ftLastChange) == 0) continue;
    if (!vtx::currency::TimeToText(d->ftLastChange, text, sizeof text)) return E_INVALIDARG;
    if (!data.AddString(d->szCode, text)) return E_OUTOFMEMORY;
  }
  if (!section("Servers")) return E_OUTOFMEMORY;
  for (CurrencyData* d : *this)
    if (d->dwServers && !number(d->szCode, d->dwServers)) return E_OUTOFMEMORY;
  if (!section("Add")) return E_OUTOFMEMORY;
  for (char* c : m_add)
    if (!number(c, 1)) return E_OUTOFMEMORY;
  if (!section("Remove")) return E_OUTOFMEMORY;
  for (char* c : m_remove)
    if (!number(c, 1)) return E_OUTOFMEMORY;
  return 0;
}

HRESULT CAllCurrencies::Save() const {
  return vtx::currency::SaveIni(g_szAllCurrenciesKey, [&](CIniData<char>& data) { return SaveTo(data); });
}

HRESULT CAllCurrencies::SetRates(CStringList<char>& active, CCurrencyLocaleList* locales, uint32_t mode,
                                 char** unknownText, uint32_t* unknownCount, char** newText, uint32_t* newCount) {
  if (unknownText) *unknownText = nullptr;
  if (unknownCount) *unknownCount = 0;
  if (newText) *newText = nullptr;
  if (newCount) *newCount = 0;
  CString<char> unknown, added;
  uint32_t nUnknown = 0, nNew = 0;
  ICurrencyUpdate* update = nullptr;  // read once, on first need

  uint32_t i = 0;
  while (i < active.GetCount()) {
    auto* info = reinterpret_cast<CurrencyInfo*>(active[i]);
    const char* code = info->szCode;
    int32_t at = IFindCode(code);
    if (at < 0) {
      int32_t hard = IFindHardcoded(code);
      if (!update) {
        update = GetUpdate();
        if (!update || update->Create() == E_OUTOFMEMORY) return E_OUTOFMEMORY;
      }
      bool defined = hard >= 0 || update->Defines(code);
      if (!defined) {
        if (!AppendCode(unknown, code, "\t")) return E_OUTOFMEMORY;
        ++nUnknown;
        if (mode & 1) {
          active.Remove(i);
          continue;
        }
        if (mode & 2) info->dwFlags |= kInfoWarning;
        CurrencyData rec;
        InitCurrencyData(rec, code);
        rec.dSmallest = info->dSmallest;
        rec.dwSmallestDecimals = info->dwSmallestDecimals;
        rec.dwRateDecimals = info->dwRateDecimals;
        if (!Add(rec)) return E_OUTOFMEMORY;
      } else {
        if (!AppendCode(added, code, "\t")) return E_OUTOFMEMORY;
        ++nNew;
        if (mode & 4) {
          active.Remove(i);
          continue;
        }
        if (mode & 8) info->dwFlags |= kInfoWarning;
        if (hard >= 0) {
          if (!Add(g_CurrencyData[hard])) return E_OUTOFMEMORY;
        } else if (update->Update(*this, code) == E_OUTOFMEMORY) {
          return E_OUTOFMEMORY;
        }
        if (locales && update->Update(*locales, code) == E_OUTOFMEMORY) return E_OUTOFMEMORY;
      }
      at = IFindCode(code);
    }
    if (at >= 0) {
      CurrencyData* rec = (*this)[static_cast<uint32_t>(at)];
      // A rate never set (-1.0) is not a rate: the database keeps what it knew.
      if (info->dRate >= 0.0) {
        rec->dRate = info->dRate;
        rec->dwRateDecimals = info->dwRateDecimals;
      }
      rec->ftLastChange = info->ftLastChange;
      rec->dwServers = info->dwServers;
    }
    ++i;
  }
  if (unknownCount) *unknownCount = nUnknown;
  if (newCount) *newCount = nNew;
  if (unknownText) *unknownText = Hand(unknown);
  if (newText) *newText = Hand(added);
  return 0;
}

int CAllCurrencies::GetEuroCurrencies(CStringList<char>& list, uint32_t mode) const {
  list.Empty();
  auto take = [&](const CurrencyData& d) {
    if (!(d.dwFlags & kCurrencyEuroArea)) return true;
    bool legal = (d.dwFlags & kCurrencyLegalTender) != 0;
    if ((mode & 2) && !legal) return true;
    if ((mode & 4) && legal) return true;
    CurrencyInfo info;
    CurrencyDataToCurrencyInfo(d, info);
    return AddEuroCurrency(list, info);
  };
  if (mode & 1) {
    for (const CurrencyData& d : g_CurrencyData)
      if (!take(d)) return 0;
  } else {
    for (CurrencyData* d : *this)
      if (!take(*d)) return 0;
  }
  return 1;
}

bool CAllCurrencies::GetEuroCurrencies(CStringA& text, uint32_t mode) const {
  text.Empty();
  CStringList<char> list;
  if (!GetEuroCurrencies(list, mode)) return false;
  CString<char> out;
  for (char* e : list)
    if (!AppendCode(out, reinterpret_cast<CurrencyInfo*>(e)->szCode, ", ")) return false;
  text.Attach(Hand(out));
  return true;
}
