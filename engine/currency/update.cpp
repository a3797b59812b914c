#include "engine/currency/update.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/currency/currencystore.h"
#include "engine/foundation/buffer.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/timetext.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/heap.h"

const IniTableEntry<char16_t> g_UpdIniTable[kUpdIniTableCount] = {
    {u"General", nullptr, UpdGeneral, IniTypeSection},
    {u"General", u"Message", UpdMessage, IniTypeString},
    {u"General", u"Message.45", UpdMessage, IniTypeString},
    {u"General", u"Next", UpdNext, IniTypePath},
    {u"EUR", nullptr, UpdEUR, IniTypeSection},
    {u"Smallest", nullptr, UpdSmallest, IniTypeSection},
    {u"NumericalCodes", nullptr, UpdNumericalCodes, IniTypeSection},
    {u"LegalTender", nullptr, UpdLegalTender, IniTypeSection},
    {u"Regime", nullptr, UpdRegime, IniTypeSection},
    {u"Physical", nullptr, UpdPhysical, IniTypeSection},
    {u"Remove", nullptr, UpdRemove, IniTypeSection},
    {u"Remove", IniAny<char16_t>(), UpdRemoveKey, IniTypeLong},
    {u"Names", nullptr, UpdNames, IniTypeSection},
    {u"Names", IniAny<char16_t>(), UpdNamesKey, IniTypeMultiString},
    {u"Symbols", nullptr, UpdSymbols, IniTypeSection},
    {u"Symbols", IniAny<char16_t>(), UpdSymbolsKey, IniTypeMultiString},
};

std::unique_ptr<ICurrencyUpdate> MakeStoredCurrencyUpdate() {
  return std::unique_ptr<ICurrencyUpdate>(vtx::heap::New<CUpdate>());
}

namespace {

constexpr uint32_t kMaxCode = 3;  // the database's code field holds 3 characters
constexpr uint32_t kRegimeFlags = kCurrencyEuroArea | kCurrencyPeggedEuro;

// A value of a currency section, as read from a row.
struct Field {
  double number = 0.0;
  uint32_t decimals = 0;
  uint32_t value = 0;  // numeric code, or flag bits
};

uint32_t PresenceBit(uint32_t section) {
  switch (section) {
    case UpdEUR: return kUpdFixedRate;
    case UpdSmallest: return kUpdSmallest;
    case UpdNumericalCodes: return kUpdNumericCode;
    case UpdLegalTender: return kUpdLegalTender;
    case UpdRegime: return kUpdRegime;
    case UpdPhysical: return kUpdPhysical;
  }
  return 0;
}

// The record's value of a section equals the field.
bool SameValue(uint32_t section, const CurrencyData& record, const Field& f) {
  switch (section) {
    case UpdEUR: return record.dRate == f.number && record.dwRateDecimals == f.decimals;
    case UpdSmallest: return record.dSmallest == f.number && record.dwSmallestDecimals == f.decimals;
    case UpdNumericalCodes: return record.dwNumericCode == f.value;
    case UpdLegalTender: return (record.dwFlags & kCurrencyLegalTender) == f.value;
    case UpdRegime: return (record.dwFlags & kRegimeFlags) == f.value;
    case UpdPhysical: return (record.dwFlags & kCurrencyPhysical) == f.value;
  }
  return false;
}

void SetValue(uint32_t section, CurrencyData& record, const Field& f) {
  switch (section) {
    case UpdEUR:
      record.dRate = f.number;
      record.dwRateDecimals = f.decimals;
      break;
    case UpdSmallest:
      record.dSmallest = f.number;
      record.dwSmallestDecimals = f.decimals;
      break;
    case UpdNumericalCodes: record.dwNumericCode = f.value; break;
    case UpdLegalTender: record.dwFlags = (record.dwFlags & ~kCurrencyLegalTender) | f.value; break;
    case UpdRegime: record.dwFlags = (record.dwFlags & ~kRegimeFlags) | f.value; break;
    case UpdPhysical: record.dwFlags = (record.dwFlags & ~kCurrencyPhysical) | f.value; break;
  }
}

// An ASCII value as narrow text; other characters become '?', which no number accepts.
bool Narrow(const char16_t* text, CStringA& out) {
  uint32_t n = text ? CStringUtil<char16_t>::StringLen(text) : 0;
  if (!out.Resize(n + 1)) return false;
  char* p = out.GetBuffer();
  for (uint32_t i = 0; i < n; ++i) p[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  p[n] = 0;
  return true;
}

bool Widen(const char* text, CStringW& out) {
  uint32_t n = text ? static_cast<uint32_t>(std::strlen(text)) : 0;
  if (!out.Resize(n + 1)) return false;
  char16_t* p = out.GetBuffer();
  for (uint32_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(text[i]);
  p[n] = 0;
  return true;
}

// Reads a currency section's value; false when it is not a valid one.
bool ParseField(uint32_t section, const char* text, Field& f) {
  bool on = false;
  switch (section) {
    case UpdEUR:
      // 0 is a currency without a fixed rate; below 0 there is no rate at all.
      return vtx::currency::ParseAmount(text, &f.number, &f.decimals) && f.number >= 0.0;
    case UpdSmallest:
      // Every rounding divides by the smallest unit.
      return vtx::currency::ParseAmount(text, &f.number, &f.decimals) && f.number > 0.0;
    case UpdNumericalCodes:
      return vtx::currency::ParseDecimal(text, &f.value);
    case UpdLegalTender:
    case UpdPhysical:
      if (!vtx::currency::ParseSwitch(text, &on)) return false;
      f.value = on ? (section == UpdLegalTender ? kCurrencyLegalTender : kCurrencyPhysical) : 0;
      return true;
    case UpdRegime: {
      const char* p = text;
      while (vtx::IsAsciiSpace(*p)) ++p;
      size_t n = std::strlen(p);
      while (n && vtx::IsAsciiSpace(p[n - 1])) --n;
      auto is = [&](const char* word) { return n == std::strlen(word) && _strnicmp(p, word, n) == 0; };
      f.value = is("EMU") ? kCurrencyEuroArea : is("Pegged-EUR") ? kCurrencyPeggedEuro : 0;
      return true;
    }
  }
  return false;
}

bool AddOnce(CStringList<char>& list, const char* code) { return list.IFind(code) >= 0 || list.Add(code); }

bool Join(const CStringList<char>& codes, const CStringList<char>* only, CStringA& text) {
  CString<char> out;
  for (const char* code : codes) {
    if (only && only->IFind(code) < 0) continue;
    if (!out.IsEmpty() && !out.Merge(", ")) return false;
    if (!out.Merge(code)) return false;
  }
  text.Empty();
  if (!out.IsEmpty()) text.Attach(out.Detach());
  return true;
}

void EmptyTexts(CPointerList<CUpdateText>& list) {
  for (CUpdateText* t : list) delete t;
  list.Empty();
}

bool CopyTexts(const CPointerList<CUpdateText>& from, CPointerList<CUpdateText>& to) {
  for (const CUpdateText* t : from) {
    auto* copy = vtx::heap::New<CUpdateText>();
    if (!copy) return false;
    copy->lcid = t->lcid;
    copy->code = t->code;
    copy->text = t->text;
    if (copy->code.IsNull() || copy->text.IsNull() || !to.Add(copy)) {
      delete copy;
      return false;
    }
  }
  return true;
}

CUpdateText* FindText(const CPointerList<CUpdateText>& list, LCID lcid, const char* code) {
  for (CUpdateText* t : list)
    if (t->lcid == lcid && _stricmp(t->code.c_str(), code) == 0) return t;
  return nullptr;
}

// The downloaded bytes as wide text.
HRESULT ToWide(const char* bytes, uint32_t length, CBuffer<char16_t>& out, uint32_t* errorLine) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  out.Seek(0, 0);
  if (length >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    const bool little = b[0] == 0xFF;
    for (uint32_t i = 2; i + 1 < length; i += 2) {
      char16_t c = little ? static_cast<char16_t>(b[i] | b[i + 1] << 8) : static_cast<char16_t>(b[i] << 8 | b[i + 1]);
      if (!out.Add(&c, 1)) return E_OUTOFMEMORY;
    }
  } else {
    UINT codePage = CP_ACP;
    if (length >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      codePage = CP_UTF8;
      bytes += 3;
      length -= 3;
    } else if (std::any_of(b, b + length, [](unsigned char c) { return c >= 0x80; }) &&
               MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(length), nullptr, 0) > 0) {
      // Text in a single-byte code page is practically never valid UTF-8 as well.
      codePage = CP_UTF8;
    }
    if (length) {
      int n = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), nullptr, 0);
      if (n <= 0) return E_INVALIDDATA;
      if (!out.Realloc(static_cast<uint32_t>(n) + 1)) return E_OUTOFMEMORY;
      if (MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), out.GetData(), n) != n)
        return E_INVALIDDATA;
      out.Seek(n, 0);
    }
  }
  // The reader stops at a NUL: a text that goes on after one would be loaded in part.
  const char16_t* text = out.GetData();
  const uint32_t count = out.GetCount();
  uint32_t end = count;
  while (end && text[end - 1] == 0) --end;
  uint32_t line = 1;
  for (uint32_t i = 0; i < end; ++i) {
    if (text[i] == u'\n') ++line;
    if (text[i] == 0) {
      if (errorLine) *errorLine = line;
      return E_INVALIDDATA;
    }
  }
  if (end < count) out.Seek(static_cast<int32_t>(end), 0);
  const char16_t nul = 0;
  return out.Add(&nul, 1) ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

// ---- loading ----

HRESULT CUpdate::Load(const char* bytes, uint32_t length, const CAllCurrencies* database, CCurrencyLocaleList* locales,
                      const CUpdate* previous, CStringList<char>* changed, CStringA* next, uint32_t* errorLine) {
  if (errorLine) *errorLine = 0;
  if (!bytes) return E_POINTER;
  CBuffer<char16_t> wide(1000, 1000);
  HRESULT hr = ToWide(bytes, length, wide, errorLine);
  if (FAILED(hr)) return hr;
  CIniDataBuffer<char16_t> ini;
  if (!ini.SetBuffer(wide.GetData())) return E_OUTOFMEMORY;
  hr = ini.Load(g_UpdIniTable, kUpdIniTableCount);
  if (FAILED(hr)) {
    if (errorLine) *errorLine = ini.GetErrorLine();
    return hr;
  }
  return Load(ini, database, locales, previous, changed, next, errorLine);
}

HRESULT CUpdate::Load(const CIniData<char16_t>& data, const CAllCurrencies* database, CCurrencyLocaleList* locales,
                      const CUpdate* previous, CStringList<char>* changed, CStringA* next, uint32_t* errorLine) {
  if (errorLine) *errorLine = 0;
  uint32_t section = IniNoId;
  const char16_t* sectionName = nullptr;
  for (const char16_t* row : data) {
    const char16_t* name = CIniData<char16_t>::GetName(row);
    if (CIniData<char16_t>::GetType(row) == IniTypeSection) {
      sectionName = name;
      section = FindIniTableEntryID<char16_t>(name, nullptr, g_UpdIniTable, kUpdIniTableCount);
      continue;
    }
    const uint32_t id = FindIniTableEntryID<char16_t>(sectionName, name, g_UpdIniTable, kUpdIniTableCount);
    const char16_t* value = CIniData<char16_t>::GetStringValue(row);
    HRESULT hr = S_OK;
    switch (section) {
      case UpdGeneral:
        if (id == UpdMessage && value && *value) {
          if ((!m_message.IsEmpty() && !m_message.Merge(u"\r\n\r\n")) || !m_message.Merge(value)) hr = E_OUTOFMEMORY;
        } else if (id == UpdNext && next) {
          *next = value ? value : u"";
          if (next->IsNull()) hr = E_OUTOFMEMORY;
        }
        break;
      case UpdEUR:
      case UpdSmallest:
      case UpdNumericalCodes:
      case UpdLegalTender:
      case UpdRegime:
      case UpdPhysical: {
        CStringA code;
        if (!Narrow(name, code)) return E_OUTOFMEMORY;
        hr = LoadValue(section, code, value, database, previous, changed);
        break;
      }
      case UpdRemove: {
        CStringA code;
        if (!Narrow(name, code)) return E_OUTOFMEMORY;
        // Only a true value removes; codes the database does not know are ignored.
        if (CIniData<char16_t>::GetLongValue(row) == 0 || code.GetLength() > kMaxCode || code.IsEmpty()) break;
        if (database && database->IFindCode(code) < 0) break;
        if (!AddOnce(m_removed, code)) hr = E_OUTOFMEMORY;
        break;
      }
      case UpdNames:
      case UpdSymbols: {
        const uint32_t count = CIniData<char16_t>::GetStringCount(row);
        const char16_t* values[2] = {CIniData<char16_t>::GetStringN(row, 0), CIniData<char16_t>::GetStringN(row, 1)};
        hr = LoadText(section == UpdSymbols, name, values, count, locales, previous, changed);
        break;
      }
      default:
        break;
    }
    if (hr == E_INVALIDARG && errorLine) *errorLine = CIniData<char16_t>::GetLine(row);
    if (FAILED(hr)) return hr;
  }
  m_loaded = 1;
  return S_OK;
}

HRESULT CUpdate::LoadValue(uint32_t section, const char* code, const char16_t* value, const CAllCurrencies* database,
                           const CUpdate* previous, CStringList<char>* changed) {
  const uint32_t length = CStringUtil<char>::StringLen(code);
  if (length == 0 || length > kMaxCode) return S_OK;
  CStringA text;
  if (!Narrow(value, text)) return E_OUTOFMEMORY;
  Field field;
  if (!ParseField(section, text.c_str(), field)) return E_INVALIDARG;

  const int32_t at = database ? database->IFindCode(code) : -1;
  if (at >= 0 && SameValue(section, *(*database)[static_cast<uint32_t>(at)], field)) return S_OK;

  const uint32_t bit = PresenceBit(section);
  CurrencyData* record = const_cast<CurrencyData*>(FindRecord(code));
  if (!record) {
    CurrencyData fresh;
    std::memset(&fresh, 0, sizeof fresh);
    std::memcpy(fresh.szCode, code, length);
    char* block = nullptr;
    if (!m_records.AddEx(&fresh, kListAppend, sizeof fresh, &block)) return E_OUTOFMEMORY;
    record = reinterpret_cast<CurrencyData*>(block);
  }
  SetValue(section, *record, field);
  record->dwFlags |= bit;
  if (database && at < 0 && !AddOnce(m_new, record->szCode)) return E_OUTOFMEMORY;

  if (changed) {
    const CurrencyData* before = previous ? previous->FindRecord(code) : nullptr;
    const bool madeBefore = before && (before->dwFlags & bit) && SameValue(section, *before, field);
    if (!madeBefore && !AddOnce(*changed, record->szCode)) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CUpdate::LoadText(bool symbols, const char16_t* key, const char16_t* const* values, uint32_t count,
                          CCurrencyLocaleList* locales, const CUpdate* previous, CStringList<char>* changed) {
  // "CODE-tag = text" or "CODE = tag, text"; the key is split at its first '-'.
  uint32_t dash = 0;
  while (key[dash] && key[dash] != u'-') ++dash;
  const char16_t* tag;
  const char16_t* text;
  CStringW code16;
  if (key[dash]) {
    if (count != 1) return E_INVALIDARG;
    tag = key + dash + 1;
    text = values[0];
  } else {
    if (count != 2) return E_INVALIDARG;
    tag = values[0];
    text = values[1];
  }
  if (!code16.Resize(dash + 1)) return E_OUTOFMEMORY;
  std::memcpy(code16.GetBuffer(), key, dash * sizeof(char16_t));
  code16.GetBuffer()[dash] = 0;

  uint32_t used = 0;
  const LCID lcid = LocalNameToLCID(tag, &used);
  if (!lcid || used != CStringUtil<char16_t>::StringLen(tag)) return E_INVALIDARG;

  CStringA code;
  if (!Narrow(code16, code)) return E_OUTOFMEMORY;
  if (code.IsEmpty() || code.GetLength() > kMaxCode || !text || !*text) return S_OK;

  if (locales) {
    CCurrencyLocale* locale = locales->GetLocale(lcid);
    if (!locale) return E_OUTOFMEMORY;
    const CCurrencyLocaleInfo* info = locale->IFind(code);
    const char16_t* shown = info ? (symbols ? info->GetSymbol() : info->GetName()) : nullptr;
    if (shown && vtx::UnicodeICompare(shown, text) == 0) return S_OK;
  }

  CPointerList<CUpdateText>& list = symbols ? m_symbols : m_names;
  CUpdateText* record = FindText(list, lcid, code);
  if (record) {
    record->text = text;
    if (record->text.IsNull()) return E_OUTOFMEMORY;
  } else {
    auto* fresh = vtx::heap::New<CUpdateText>();
    if (!fresh) return E_OUTOFMEMORY;
    fresh->lcid = lcid;
    fresh->code = code;
    fresh->text = text;
    if (fresh->code.IsNull() || fresh->text.IsNull() || !list.Add(fresh)) {
      delete fresh;
      return E_OUTOFMEMORY;
    }
  }
  if (changed && !(previous && previous->HasText(symbols, lcid, code, text)) && !AddOnce(*changed, code))
    return E_OUTOFMEMORY;
  return S_OK;
}

bool CUpdate::HasText(bool symbols, LCID lcid, const char* code, const char16_t* text) const {
  const CUpdateText* t = FindText(symbols ? m_symbols : m_names, lcid, code);
  return t && vtx::UnicodeICompare(t->text.c_str(), text) == 0;
}

// ---- the stored form ----

HRESULT CUpdate::Create() {
  Empty();
  const char* path = vtx::currency::UpdateKeyPath();
  if (vtx::currency::KeyExists(path)) {
    HRESULT hr = vtx::currency::LoadIni(path, g_UpdIniTable, kUpdIniTableCount, [&](const CIniData<char16_t>& data) {
      return Load(data, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    });
    if (FAILED(hr)) {
      Empty();
      return hr;
    }
  }
  m_loaded = 1;
  return S_OK;
}

HRESULT CUpdate::Save() const {
  return vtx::currency::SaveIni(vtx::currency::UpdateKeyPath(), [&](CIniData<char16_t>& data) -> HRESULT {
    if (!data.AddSection(u"General")) return E_OUTOFMEMORY;
    if (!m_message.IsEmpty() && !data.AddString(u"Message", m_message.c_str())) return E_OUTOFMEMORY;

    const struct {
      const char16_t* name;
      uint32_t section;
    } sections[] = {{u"EUR", UpdEUR},
                    {u"Smallest", UpdSmallest},
                    {u"NumericalCodes", UpdNumericalCodes},
                    {u"LegalTender", UpdLegalTender},
                    {u"Regime", UpdRegime},
                    {u"Physical", UpdPhysical}};
    for (const auto& s : sections) {
      if (!data.AddSection(s.name)) return E_OUTOFMEMORY;
      const uint32_t bit = PresenceBit(s.section);
      for (const char* block : m_records) {
        const auto* r = reinterpret_cast<const CurrencyData*>(block);
        if (!(r->dwFlags & bit)) continue;
        CStringW code;
        if (!Widen(r->szCode, code)) return E_OUTOFMEMORY;
        bool ok = true;
        switch (s.section) {
          case UpdEUR:
          case UpdSmallest: {
            char amount[400];
            const bool rate = s.section == UpdEUR;
            if (!vtx::currency::AmountToText(rate ? r->dRate : r->dSmallest,
                                             rate ? r->dwRateDecimals : r->dwSmallestDecimals, amount, sizeof amount))
              return E_INVALIDARG;
            CStringW text;
            ok = Widen(amount, text) && data.AddString(code, text);
            break;
          }
          case UpdNumericalCodes: ok = data.AddULong(code, r->dwNumericCode); break;
          case UpdLegalTender: ok = data.AddULong(code, (r->dwFlags & kCurrencyLegalTender) ? 1 : 0); break;
          case UpdPhysical: ok = data.AddULong(code, (r->dwFlags & kCurrencyPhysical) ? 1 : 0); break;
          case UpdRegime: {
            const uint32_t regime = r->dwFlags & kRegimeFlags;
            ok = data.AddString(code, regime == kCurrencyEuroArea     ? u"EMU"
                                      : regime == kCurrencyPeggedEuro ? u"Pegged-EUR"
                                                                      : u"None");
            break;
          }
        }
        if (!ok) return E_OUTOFMEMORY;
      }
    }

    if (!data.AddSection(u"Remove")) return E_OUTOFMEMORY;
    for (const char* code : m_removed) {
      CStringW wide;
      if (!Widen(code, wide) || !data.AddLong(wide, 1)) return E_OUTOFMEMORY;
    }
    const struct {
      const char16_t* name;
      const CPointerList<CUpdateText>* list;
    } texts[] = {{u"Names", &m_names}, {u"Symbols", &m_symbols}};
    for (const auto& t : texts) {
      if (!data.AddSection(t.name)) return E_OUTOFMEMORY;
      for (const CUpdateText* record : *t.list) {
        CStringW key;
        if (!GetLangString(*record, key)) continue;  // an LCID without a tag cannot be stored
        if (!data.AddString(key, record->text.c_str())) return E_OUTOFMEMORY;
      }
    }
    return S_OK;
  });
}

HRESULT CUpdate::Reset() { return vtx::currency::DeleteKey(vtx::currency::UpdateKeyPath()) ? S_OK : E_FAIL; }

// ---- applying ----

const CurrencyData* CUpdate::FindRecord(const char* code) const {
  if (!code) return nullptr;
  // A record's block begins with its code, so the list's own search finds it.
  int32_t i = m_records.IFind(code);
  return i < 0 ? nullptr : reinterpret_cast<const CurrencyData*>(m_records[static_cast<uint32_t>(i)]);
}

bool CUpdate::Defines(const char* code) const { return FindRecord(code) != nullptr; }

HRESULT CUpdate::Update(CAllCurrencies& database, const char* code) {
  for (const char* block : m_records) {
    const auto& r = *reinterpret_cast<const CurrencyData*>(block);
    if (code && _stricmp(r.szCode, code) != 0) continue;
    CurrencyData d;
    const int32_t at = database.IFindCode(r.szCode);
    if (at >= 0) {
      d = *database[static_cast<uint32_t>(at)];
    } else {
      InitCurrencyData(d, r.szCode);
      d.dSmallest = 0.1;
      d.dwSmallestDecimals = 2;
    }
    const uint32_t f = r.dwFlags;
    if (f & kUpdFixedRate) SetValue(UpdEUR, d, Field{r.dRate, r.dwRateDecimals, 0});
    if (f & kUpdSmallest) SetValue(UpdSmallest, d, Field{r.dSmallest, r.dwSmallestDecimals, 0});
    if (f & kUpdNumericCode) SetValue(UpdNumericalCodes, d, Field{0.0, 0, r.dwNumericCode});
    if (f & kUpdLegalTender) SetValue(UpdLegalTender, d, Field{0.0, 0, f & kCurrencyLegalTender});
    if (f & kUpdRegime) SetValue(UpdRegime, d, Field{0.0, 0, f & kRegimeFlags});
    if (f & kUpdPhysical) SetValue(UpdPhysical, d, Field{0.0, 0, f & kCurrencyPhysical});
    if (!database.Add(d)) return E_OUTOFMEMORY;
  }
  for (const char* removed : m_removed)
    if (!code || _stricmp(removed, code) == 0) database.IRemove(removed);
  return S_OK;
}

HRESULT CUpdate::Update(CCurrencyLocaleList& locales, const char* code) { return Update(locales, code, false); }

HRESULT CUpdate::Update(CCurrencyLocaleList& locales, const char* code, bool onlyMissing) {
  for (bool symbols : {false, true}) {
    for (const CUpdateText* t : symbols ? m_symbols : m_names) {
      if (t->code.IsEmpty() || t->text.IsEmpty()) continue;
      if (code && _stricmp(t->code.c_str(), code) != 0) continue;
      CCurrencyLocale* locale = locales.GetLocale(t->lcid);
      if (!locale) return E_OUTOFMEMORY;
      CCurrencyLocaleInfo* info = locale->IFind(t->code);
      if (!info && !(info = locale->AddLocaleInfo(t->code))) return E_OUTOFMEMORY;
      const char16_t* now = symbols ? info->GetSymbol() : info->GetName();
      if (onlyMissing && now && *now) continue;
      if (!(symbols ? info->SetSymbol(t->text) : info->SetName(t->text))) return E_OUTOFMEMORY;
    }
  }
  return S_OK;
}

// ---- texts and copies ----

bool CUpdate::GetCurrencies(const CStringList<char>& codes, CStringA& text) { return Join(codes, nullptr, text); }

bool CUpdate::GetNewCurrencies(const CStringList<char>& codes, CStringA& text) const {
  return Join(codes, &m_new, text);
}

bool CUpdate::GetRemovedCurrencies(CStringA& text) const { return Join(m_removed, nullptr, text); }

LCID CUpdate::GetLCIDString(const CUpdateText& record, CStringA* code, CStringW* text) {
  if (code) *code = record.code;
  if (text) *text = record.text;
  return record.lcid;
}

bool CUpdate::GetLangString(const CUpdateText& record, CStringW& text) {
  char16_t tag[32];
  if (!LCIDToLocalName(record.lcid, tag, 32, TRUE)) return false;
  CString<char16_t> key;
  CStringW code;
  if (!Widen(record.code.c_str(), code)) return false;
  if (!key.Merge(code) || !key.Merge(u"-") || !key.Merge(tag)) return false;
  text.Attach(key.Detach());
  return true;
}

bool CUpdate::CopyFrom(const CUpdate& other) {
  if (&other == this) return true;
  Empty();
  for (const CStringList<char>* list : {&other.m_records, &other.m_removed, &other.m_new}) {
    CStringList<char>& to = list == &other.m_records ? m_records : list == &other.m_removed ? m_removed : m_new;
    for (const char* block : *list) {
      bool ok = list == &other.m_records ? to.Add(block, kListAppend, sizeof(CurrencyData)) : to.Add(block);
      if (!ok) return false;
    }
  }
  if (!CopyTexts(other.m_names, m_names) || !CopyTexts(other.m_symbols, m_symbols)) return false;
  m_message = other.m_message;
  if (!other.m_message.IsNull() && m_message.IsNull()) return false;
  m_loaded = other.m_loaded;
  return true;
}

void CUpdate::Empty() {
  m_records.Empty();
  m_removed.Empty();
  m_new.Empty();
  EmptyTexts(m_names);
  EmptyTexts(m_symbols);
  m_message.Empty();
  m_loaded = 0;
}

HRESULT ApplyStoredUpdate(CAllCurrencies* database, CCurrencyLocaleList* locales) {
  CUpdate stored;
  HRESULT hr = stored.Create();
  if (FAILED(hr)) return hr;
  if (database && FAILED(hr = stored.Update(*database, nullptr))) return hr;
  if (locales) hr = stored.Update(*locales, nullptr, true);
  return hr;
}
