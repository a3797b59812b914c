#include "engine/currency/currencylocale.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "engine/foundation/inidata.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/heap.h"

const char g_szLocalesKey[] = VTX_APP_KEY "\\Locales";
const char g_szDefaultLocale[] = "DefaultLocale";

namespace {

enum LocaleIniId : uint32_t {
  LocGeneral = 0,
  LocPositiveSymbolFormat,
  LocPositiveIsoFormat,
  LocNegativeSymbolFormat,
  LocNegativeIsoFormat,
  LocDigitsAfterDecimal,
  LocThousandSeparator,
  LocDecimalSeparator,
  LocGrouping,
  LocCapitalizeTitles,
  LocNames,
  LocSymbols,
  LocCustom,
};

const IniTableEntry<char16_t> kLocaleIniTable[] = {
    {u"General", nullptr, LocGeneral, IniTypeSection},
    {u"General", u"PositiveSymbolFormat", LocPositiveSymbolFormat, IniTypeULong},
    {u"General", u"PositiveIsoFormat", LocPositiveIsoFormat, IniTypeULong},
    {u"General", u"NegativeSymbolFormat", LocNegativeSymbolFormat, IniTypeULong},
    {u"General", u"NegativeIsoFormat", LocNegativeIsoFormat, IniTypeULong},
    {u"General", u"DigitsAfterDecimal", LocDigitsAfterDecimal, IniTypeULong},
    {u"General", u"ThousandSeparator", LocThousandSeparator, IniTypeString},
    {u"General", u"DecimalSeparator", LocDecimalSeparator, IniTypeString},
    {u"General", u"Grouping", LocGrouping, IniTypeULong},
    {u"General", u"CapitalizeTitles", LocCapitalizeTitles, IniTypeULong},
    {u"Names", nullptr, LocNames, IniTypeSection},
    {u"Symbols", nullptr, LocSymbols, IniTypeSection},
    {u"Custom", nullptr, LocCustom, IniTypeSection},
};
constexpr uint32_t kLocaleIniCount = sizeof kLocaleIniTable / sizeof kLocaleIniTable[0];

const struct {
  uint32_t code;
  const char16_t* text;
} kGroupings[] = {{1, u"1;0"}, {2, u"2;0"}, {3, u"3;0"}, {4, u"4;0"}, {5, u"5;0"},
                  {6, u"6;0"}, {7, u"7;0"}, {8, u"8;0"}, {9, u"9;0"}, {32, u"3;2;0"}};

bool ValidGrouping(uint32_t code) {
  if (code == 0) return true;
  for (const auto& g : kGroupings)
    if (g.code == code) return true;
  return false;
}

// A stored number as the registry handed it back (decimal text); false for anything else.
bool StoredNumber(const char16_t* text, uint32_t* out) {
  if (!text || !*text) return false;
  uint64_t v = 0;
  for (const char16_t* p = text; *p; ++p) {
    if (*p < u'0' || *p > u'9') return false;
    v = v * 10 + static_cast<uint64_t>(*p - u'0');
    if (v > UINT32_MAX) return false;
  }
  *out = static_cast<uint32_t>(v);
  return true;
}

// A narrow code as wide text; codes are short ASCII texts.
void WideCode(const char* code, char16_t (&out)[16]) {
  size_t i = 0;
  if (code)
    for (; code[i] && i + 1 < 16; ++i) out[i] = static_cast<unsigned char>(code[i]);
  out[i] = 0;
}

}  // namespace

uint32_t GroupingCodeFromText(const char16_t* text) {
  if (!text) return 0;
  for (const auto& g : kGroupings)
    if (CStringUtil<char16_t>::StringCmp(g.text, text) == 0) return g.code;
  return 0;
}

// ---- CCurrencyLocaleInfo ----

bool CCurrencyLocaleInfo::SetText(CStringW& field, const char16_t* text, uint32_t* changed) {
  // Null and empty are the same text.
  if (CStringUtil<char16_t>::StringCmp(field.c_str(), text ? text : u"") == 0) return true;
  field = text;
  if (text && field.IsNull()) return false;
  if (changed) *changed = 1;
  return true;
}

bool CCurrencyLocaleInfo::SetCurrency(const char* code) {
  m_code = code;
  return !code || !m_code.IsNull();
}
bool CCurrencyLocaleInfo::SetName(const char16_t* name) { return SetText(m_name, name, &m_changed); }
bool CCurrencyLocaleInfo::SetSymbol(const char16_t* symbol) { return SetText(m_symbol, symbol, &m_changed); }
bool CCurrencyLocaleInfo::SetCustom(const char16_t* custom) { return SetText(m_custom, custom, &m_changed); }

bool CCurrencyLocaleInfo::Reset(const CurrencyInfoData& row) {
  bool ok = SetCurrency(row.szCode) && SetText(m_name, row.szName, nullptr) && SetText(m_symbol, row.szSymbol, nullptr);
  m_custom.Empty();
  m_changed = 0;
  return ok;
}

bool CCurrencyLocaleInfo::CopyFrom(const CCurrencyLocaleInfo& other) {
  if (&other == this) return true;
  bool ok = SetCurrency(other.GetCurrency()) && SetText(m_name, other.GetName(), nullptr) &&
            SetText(m_symbol, other.GetSymbol(), nullptr) && SetText(m_custom, other.GetCustom(), nullptr);
  m_changed = other.m_changed;
  return ok;
}

// ---- CCurrencyLocale ----

CCurrencyLocale::CCurrencyLocale(LCID lcid) : m_lcid(lcid) { ResetFormat(); }

CCurrencyLocale::~CCurrencyLocale() { EmptyInfos(); }

const CurrencyInfoData* CCurrencyLocale::GetDefaultInfoData(LCID lcid) {
  switch (lcid & 0x3FF) {
    case 7:
      return g_CurrencyInfoDataGerman;
    case 16:
      return g_CurrencyInfoDataItalian;
    default:
      return g_CurrencyInfoDataEnglish;
  }
}

void CCurrencyLocale::ResetFormat() {
  using namespace vtx::currency;
  m_positiveSymbolFormat = LocaleNumber(m_lcid, LocaleItem::PositiveFormat, 0);
  m_positiveIsoFormat = 2;
  m_negativeSymbolFormat = LocaleNumber(m_lcid, LocaleItem::NegativeFormat, 1);
  m_negativeIsoFormat = 11;
  m_digitsAfterDecimal = LocaleNumber(m_lcid, LocaleItem::Digits, 2);
  CStringW text;
  if (!LocaleText(m_lcid, LocaleItem::ThousandSeparator, text)) text = u",";
  m_thousandSeparator = std::move(text);
  if (!LocaleText(m_lcid, LocaleItem::DecimalSeparator, text)) text = u".";
  m_decimalSeparator = std::move(text);
  m_grouping = LocaleText(m_lcid, LocaleItem::Grouping, text) ? GroupingCodeFromText(text) : 3;
  m_capitalizeTitles = (m_lcid & 0x3FF) == 9 ? 1 : 0;

  CStringA name, language, country;
  if (!LocaleTextA(m_lcid, LocaleItem::AbbrevLanguageName, name) || name.IsEmpty()) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(m_lcid));
    name = number;
  }
  m_name = name;
  if (LocaleTextA(m_lcid, LocaleItem::EnglishLanguage, language) && LocaleTextA(m_lcid, LocaleItem::EnglishCountry, country)) {
    size_t size = language.GetLength() + country.GetLength() + 4;
    CStringA display;
    if (display.Resize(static_cast<uint32_t>(size))) {
      std::snprintf(display.GetBuffer(), size, "%s (%s)", language.c_str(), country.c_str());
      m_displayName = std::move(display);
    }
  } else {
    m_displayName = m_name;
  }
}

bool CCurrencyLocale::SetText(CStringW& field, const char16_t* text) {
  const char16_t* now = text ? text : u"";
  if (CStringUtil<char16_t>::StringCmp(field.c_str(), now) == 0) return true;
  field = now;
  if (field.IsNull()) return false;
  m_changed = 1;
  return true;
}

CCurrencyLocaleInfo* CCurrencyLocale::IFind(const char* code) const {
  if (!code) return nullptr;
  if (m_infos.GetCount() >= kIndexFrom) {
    int32_t i = m_index.Find(m_infos.GetLayout(), m_infos.GetCount(), FoldedAscii(code),
                             [this](InfoIndex::Map& map, uint32_t from) {
                               for (; from < m_infos.GetCount(); ++from)
                                 map.emplace(FoldedAscii(m_infos[from]->GetCurrency()), from);
                             });
    if (i != InfoIndex::kUnavailable) return i >= 0 ? m_infos[static_cast<uint32_t>(i)] : nullptr;
  }
  for (CCurrencyLocaleInfo* info : m_infos)
    if (_stricmp(info->GetCurrency() ? info->GetCurrency() : "", code) == 0) return info;
  return nullptr;
}

CCurrencyLocaleInfo* CCurrencyLocale::AddLocaleInfo(const char* code) {
  auto* info = vtx::heap::New<CCurrencyLocaleInfo>();
  if (!info) return nullptr;
  if (!info->SetCurrency(code) || !m_infos.Add(info)) {
    delete info;
    return nullptr;
  }
  return info;
}

void CCurrencyLocale::EmptyInfos() {
  for (CCurrencyLocaleInfo* info : m_infos) delete info;
  m_infos.Empty();
}

bool CCurrencyLocale::MustBeSaved() const {
  if (m_changed) return true;
  for (CCurrencyLocaleInfo* info : m_infos)
    if (info->GetChanged()) return true;
  return false;
}

HRESULT CCurrencyLocale::MakeTitleStyleString(CStringW& out, const char16_t* name) const {
  return vtx::currency::TitleText(out, name, m_lcid, m_capitalizeTitles);
}

bool CCurrencyLocale::Reset(CCurrencyLocaleInfo& info) const {
  const CurrencyInfoData* table = GetDefaultInfoData(m_lcid);
  const char* code = info.GetCurrency();
  if (!code) return false;
  for (uint32_t i = 0; i < kCurrencyDataCount; ++i)
    if (_stricmp(table[i].szCode, code) == 0) return info.Reset(table[i]);
  return false;
}

bool CCurrencyLocale::Reset(const char* code) {
  if (CCurrencyLocaleInfo* info = IFind(code)) return Reset(*info);
  const CurrencyInfoData* table = GetDefaultInfoData(m_lcid);
  for (uint32_t i = 0; i < kCurrencyDataCount; ++i) {
    if (_stricmp(table[i].szCode, code ? code : "") != 0) continue;
    CCurrencyLocaleInfo* info = AddLocaleInfo(table[i].szCode);
    return info && info->Reset(table[i]);
  }
  return false;
}

bool CCurrencyLocale::ResetList() {
  EmptyInfos();
  const CurrencyInfoData* table = GetDefaultInfoData(m_lcid);
  for (uint32_t i = 0; i < kCurrencyDataCount; ++i) {
    CCurrencyLocaleInfo* info = AddLocaleInfo(table[i].szCode);
    if (!info || !info->Reset(table[i])) return false;
  }
  m_created = 1;
  return true;
}

void CCurrencyLocale::GetKeyPath(char* buffer, size_t size) const {
  std::snprintf(buffer, size, "%s\\%d", g_szLocalesKey, static_cast<int>(m_lcid));
}

HRESULT CCurrencyLocale::Load() {
  EmptyInfos();
  char path[128];
  GetKeyPath(path, sizeof path);
  // Stored values replace the system's; what is not stored, or out of range, stays the system's.
  ResetFormat();
  HRESULT hr = vtx::currency::LoadIni(path, kLocaleIniTable, kLocaleIniCount, [&](const CIniData<char16_t>& data) -> HRESULT {
    // Sections come back in name order ("Custom" first); make the infos in the order they were
    // saved, which is the order of "Names", then "Symbols", then "Custom".
    for (uint32_t wanted : {LocNames, LocSymbols, LocCustom}) {
      uint32_t id = IniNoId;
      for (const char16_t* row : data) {
        const char16_t* name = CIniData<char16_t>::GetName(row);
        if (CIniData<char16_t>::GetType(row) == IniTypeSection) {
          id = FindIniTableEntryID<char16_t>(name, nullptr, kLocaleIniTable, kLocaleIniCount);
          continue;
        }
        if (id != wanted) continue;
        CStringA code;
        code = name;
        if (code.IsNull()) return E_OUTOFMEMORY;
        if (!IFind(code) && !AddLocaleInfo(code)) return E_OUTOFMEMORY;
      }
    }
    uint32_t section = IniNoId;
    const char16_t* sectionName = nullptr;
    for (const char16_t* row : data) {
      const char16_t* name = CIniData<char16_t>::GetName(row);
      if (CIniData<char16_t>::GetType(row) == IniTypeSection) {
        sectionName = name;
        section = FindIniTableEntryID<char16_t>(name, nullptr, kLocaleIniTable, kLocaleIniCount);
        continue;
      }
      const char16_t* value = CIniData<char16_t>::GetStringValue(row);
      if (section == LocGeneral) {
        uint32_t id = FindIniTableEntryID<char16_t>(sectionName, name, kLocaleIniTable, kLocaleIniCount);
        uint32_t n = 0;
        bool number = StoredNumber(value, &n);
        switch (id) {
          case LocPositiveSymbolFormat:
            if (number && n <= 3) m_positiveSymbolFormat = n;
            break;
          case LocPositiveIsoFormat:
            if (number && n <= 3) m_positiveIsoFormat = n;
            break;
          case LocNegativeSymbolFormat:
            if (number && n <= 15) m_negativeSymbolFormat = n;
            break;
          case LocNegativeIsoFormat:
            if (number && n <= 15) m_negativeIsoFormat = n;
            break;
          case LocDigitsAfterDecimal:
            if (number && n <= 9) m_digitsAfterDecimal = n;
            break;
          case LocGrouping:
            if (number && ValidGrouping(n)) m_grouping = n;
            break;
          case LocCapitalizeTitles:
            if (number) m_capitalizeTitles = n ? 1 : 0;
            break;
          case LocThousandSeparator:
          case LocDecimalSeparator: {
            CStringW& field = id == LocThousandSeparator ? m_thousandSeparator : m_decimalSeparator;
            field = value ? value : u"";
            if (field.IsNull()) return E_OUTOFMEMORY;
            break;
          }
          default:
            break;
        }
        continue;
      }
      if (section != LocNames && section != LocSymbols && section != LocCustom) continue;
      CStringA code;
      code = name;
      if (code.IsNull()) return E_OUTOFMEMORY;
      CCurrencyLocaleInfo* info = IFind(code);
      if (!info && !(info = AddLocaleInfo(code))) return E_OUTOFMEMORY;
      bool ok = section == LocNames ? info->SetName(value) : section == LocSymbols ? info->SetSymbol(value) : info->SetCustom(value);
      if (!ok) return E_OUTOFMEMORY;
      info->SetChanged(1);
    }
    return 0;
  });
  if (hr != 0) return hr;
  // Written back at the next save, even when nothing is edited.
  m_created = 1;
  m_changed = 1;
  return 0;
}

HRESULT CCurrencyLocale::Create() {
  if (Load() == 0) return 0;
  return ResetList() ? 0 : E_OUTOFMEMORY;
}

HRESULT CCurrencyLocale::Save() const {
  char path[128];
  GetKeyPath(path, sizeof path);
  return vtx::currency::SaveIni(path, [&](CIniData<char16_t>& data) -> HRESULT {
    bool ok = data.AddSection(u"General") && data.AddULong(u"PositiveSymbolFormat", m_positiveSymbolFormat) &&
              data.AddULong(u"PositiveIsoFormat", m_positiveIsoFormat) &&
              data.AddULong(u"NegativeSymbolFormat", m_negativeSymbolFormat) &&
              data.AddULong(u"NegativeIsoFormat", m_negativeIsoFormat) &&
              data.AddULong(u"DigitsAfterDecimal", m_digitsAfterDecimal) &&
              data.AddString(u"ThousandSeparator", m_thousandSeparator.c_str()) &&
              data.AddString(u"DecimalSeparator", m_decimalSeparator.c_str()) && data.AddULong(u"Grouping", m_grouping) &&
              data.AddULong(u"CapitalizeTitles", m_capitalizeTitles);
    if (!ok) return E_OUTOFMEMORY;
    const struct {
      const char16_t* section;
      const char16_t* (CCurrencyLocaleInfo::*get)() const;
    } parts[] = {{u"Names", &CCurrencyLocaleInfo::GetName},
                 {u"Symbols", &CCurrencyLocaleInfo::GetSymbol},
                 {u"Custom", &CCurrencyLocaleInfo::GetCustom}};
    for (const auto& part : parts) {
      if (!data.AddSection(part.section)) return E_OUTOFMEMORY;
      for (CCurrencyLocaleInfo* info : m_infos) {
        const char16_t* text = (info->*part.get)();
        if (!text || !*text || !info->GetCurrency() || !*info->GetCurrency()) continue;
        char16_t code[16];
        WideCode(info->GetCurrency(), code);
        if (!data.AddString(code, text)) return E_OUTOFMEMORY;
      }
    }
    return 0;
  });
}

bool CCurrencyLocale::CopyFrom(const CCurrencyLocale& other) {
  if (&other == this) return true;
  EmptyInfos();
  m_lcid = other.m_lcid;
  m_positiveSymbolFormat = other.m_positiveSymbolFormat;
  m_positiveIsoFormat = other.m_positiveIsoFormat;
  m_negativeSymbolFormat = other.m_negativeSymbolFormat;
  m_negativeIsoFormat = other.m_negativeIsoFormat;
  m_digitsAfterDecimal = other.m_digitsAfterDecimal;
  m_grouping = other.m_grouping;
  m_capitalizeTitles = other.m_capitalizeTitles;
  m_created = other.m_created;
  m_changed = other.m_changed;
  m_thousandSeparator = other.m_thousandSeparator;
  m_decimalSeparator = other.m_decimalSeparator;
  m_name = other.m_name;
  m_displayName = other.m_displayName;
  for (CCurrencyLocaleInfo* info : other.m_infos) {
    CCurrencyLocaleInfo* copy = AddLocaleInfo(info->GetCurrency());
    if (!copy) return false;
    if (!copy->CopyFrom(*info)) {
      m_infos.Remove(m_infos.GetCount() - 1);
      delete copy;
      return false;
    }
  }
  return true;
}

bool CCurrencyLocale::CopyFormatsAndTexts(const CCurrencyLocale& other) {
  if (&other == this) return true;
  const LCID lcid = m_lcid;
  CStringA name, display;
  name = m_name;
  display = m_displayName;
  if ((!m_name.IsNull() && name.IsNull()) || (!m_displayName.IsNull() && display.IsNull())) return false;
  bool ok = CopyFrom(other);
  m_lcid = lcid;
  m_name = std::move(name);
  m_displayName = std::move(display);
  m_created = 1;
  m_changed = 1;
  return ok;
}

// ---- CCurrencyLocaleList ----

void CCurrencyLocaleList::Empty() {
  for (CCurrencyLocale* locale : m_locales) delete locale;
  m_locales.Empty();
  m_created = 0;
}

bool CCurrencyLocaleList::Append(LCID lcid) {
  auto* locale = vtx::heap::New<CCurrencyLocale>(lcid);
  if (!locale) return false;
  if (!m_locales.Add(locale)) {
    delete locale;
    return false;
  }
  return true;
}

CCurrencyLocale* CCurrencyLocaleList::Find(LCID lcid) const {
  for (CCurrencyLocale* locale : m_locales)
    if (locale->GetLCID() == lcid) return locale;
  return nullptr;
}

HRESULT CCurrencyLocaleList::Create(bool resetMode) {
  Empty();
  m_resetMode = resetMode ? 1 : 0;
  // The enumeration is a list of our own: no state is shared with other lists being created.
  HRESULT hr = vtx::currency::ForEachSystemLocale([&](LCID lcid) { return Find(lcid) || Append(lcid); });
  if (hr != 0) return hr;
  if (!Find(1033) && !Append(1033)) return E_OUTOFMEMORY;

  m_defaultLCID = 1033;
  if (!resetMode) {
    // Locales stored by another machine or system version stay: Save rewrites "Locales" whole.
    bool ok = vtx::currency::ForEachSubkey(g_szLocalesKey, [&](const char* name) {
      uint32_t lcid = 0;
      const char* p = name;
      if (!*p) return true;
      for (; *p; ++p) {
        if (*p < '0' || *p > '9' || lcid > 0x0FFFFFFF) return true;
        lcid = lcid * 10 + static_cast<uint32_t>(*p - '0');
      }
      return lcid == 0 || Find(lcid) || Append(lcid);
    });
    if (!ok) return E_OUTOFMEMORY;
    for (CCurrencyLocale* locale : m_locales) locale->Load();
    uint32_t def = 0;
    if (vtx::currency::ReadDword(g_szAppKey, g_szDefaultLocale, &def)) m_defaultLCID = def;
  }
  m_created = 1;
  return 0;
}

CCurrencyLocale* CCurrencyLocaleList::GetLocale(LCID lcid) {
  CCurrencyLocale* locale = Find(lcid);
  if (locale && locale->IsCreated()) return locale;
  bool fresh = locale == nullptr;
  if (fresh) {
    locale = vtx::heap::New<CCurrencyLocale>(lcid);
    if (!locale) return nullptr;
  }
  bool ok = m_resetMode ? locale->ResetList() : locale->Create() == 0;
  if (!ok) {
    if (fresh) delete locale;
    return nullptr;
  }
  if (fresh && !m_locales.Add(locale)) {
    delete locale;
    return nullptr;
  }
  return locale;
}

CCurrencyLocale* CCurrencyLocaleList::GetLocale(const char* name) {
  if (!name) return nullptr;
  for (CCurrencyLocale* locale : m_locales)
    if (_stricmp(locale->GetName(), name) == 0) return GetLocale(locale->GetLCID());
  return nullptr;
}

bool CCurrencyLocaleList::GetCurrencyName(CStringW& out, const char* code, bool titleStyle, LCID lcid) {
  out.Empty();
  if ((lcid & 0x3FF) == 0) lcid = m_defaultLCID;
  CCurrencyLocale* locale = GetLocale(lcid);
  if (!locale) return false;
  CCurrencyLocaleInfo* info = locale->IFind(code);
  if (!info || !info->GetName() || !*info->GetName()) return false;
  if (titleStyle) return locale->MakeTitleStyleString(out, info->GetName()) == 0;
  out = info->GetName();
  return !out.IsNull();
}

bool CCurrencyLocaleList::Reset(const char* code) {
  bool any = false;
  for (CCurrencyLocale* locale : m_locales)
    if (locale->IsCreated() && locale->Reset(code)) any = true;
  return any;
}

bool CCurrencyLocaleList::ResetLists() {
  for (CCurrencyLocale* locale : m_locales)
    if (locale->IsCreated() && !locale->ResetList()) return false;
  return true;
}

bool CCurrencyLocaleList::CopyFrom(const CCurrencyLocaleList& other) {
  if (&other == this) return true;
  Empty();
  m_defaultLCID = other.m_defaultLCID;
  m_resetMode = other.m_resetMode;
  for (CCurrencyLocale* locale : other.m_locales) {
    auto* copy = vtx::heap::New<CCurrencyLocale>(locale->GetLCID());
    if (!copy) return false;
    if (!m_locales.Add(copy)) {
      delete copy;
      return false;
    }
    if (!copy->CopyFrom(*locale)) return false;
  }
  m_created = other.m_created;
  return true;
}

HRESULT CCurrencyLocaleList::Save() const {
  if (!m_created || m_resetMode) return 0;
  return vtx::currency::InTransaction([&]() -> HRESULT {
    if (!vtx::currency::DeleteKey(g_szLocalesKey)) return E_FAIL;
    for (CCurrencyLocale* locale : m_locales) {
      if (!locale->MustBeSaved()) continue;
      HRESULT hr = locale->Save();
      if (hr != 0) return hr;
    }
    return vtx::currency::WriteDword(g_szAppKey, g_szDefaultLocale, m_defaultLCID);
  });
}
