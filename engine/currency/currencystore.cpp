#include "engine/currency/currencystore.h"

#include <cstring>

#include "engine/foundation/calculator.h"
#include "engine/foundation/inidataregistry.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/servercommands.h"
#include "engine/foundation/timetext.h"
#include "platform/locale.h"
#include "platform/registry.h"

namespace vtx::currency {

namespace {

template <class T>
HRESULT LoadIniT(const char* path, const IniTableEntry<T>* table, uint32_t count,
                 const std::function<HRESULT(const CIniData<T>&)>& use) {
  CIniDataRegistry<T> data;
  if (!data.SetBaseKey(HKEY_LOCAL_MACHINE, path)) return E_OUTOFMEMORY;
  // One snapshot: another process's save is seen whole or not at all.
  RegTransaction read(RegTransaction::Read);
  HRESULT hr = data.Load(table, count);
  return hr ? hr : use(data);
}

template <class T>
HRESULT SaveIniT(const char* path, const std::function<HRESULT(CIniData<T>&)>& fill) {
  CIniDataRegistry<T> data;
  if (!data.SetBaseKey(HKEY_LOCAL_MACHINE, path)) return E_OUTOFMEMORY;
  HRESULT hr = fill(data);
  return hr ? hr : data.Save();
}

LCTYPE ItemType(LocaleItem item) {
  switch (item) {
    case LocaleItem::PositiveFormat: return LOCALE_ICURRENCY;
    case LocaleItem::NegativeFormat: return LOCALE_INEGCURR;
    case LocaleItem::Digits: return LOCALE_ICURRDIGITS;
    case LocaleItem::ThousandSeparator: return LOCALE_SMONTHOUSANDSEP;
    case LocaleItem::DecimalSeparator: return LOCALE_SMONDECIMALSEP;
    case LocaleItem::Grouping: return LOCALE_SMONGROUPING;
    case LocaleItem::AbbrevLanguageName: return LOCALE_SABBREVLANGNAME;
    case LocaleItem::EnglishLanguage: return LOCALE_SENGLANGUAGE;
    case LocaleItem::EnglishCountry: return LOCALE_SENGCOUNTRY;
  }
  return 0;
}
}  // namespace

const char* UpdateKeyPath() { return VTX_APP_KEY "\\Update"; }

bool KeyExists(const char* path) { return RegistryKeyExists(HKEY_LOCAL_MACHINE, path) != FALSE; }

bool DeleteKey(const char* path) {
  if (!KeyExists(path)) return true;
  return DeleteRegistryKey(HKEY_LOCAL_MACHINE, path) != FALSE || !KeyExists(path);
}

HRESULT ReadStamp(const char* path, const char* name, uint64_t* stamp) {
  RegBinaryValue value;
  HRESULT hr = value.Load(HKEY_LOCAL_MACHINE, path, name);
  if (hr != 0) return hr;
  if (value.GetSize() < 8) return E_INVALIDDATA;
  const auto* b = static_cast<const unsigned char*>(value.GetBuffer());
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  *stamp = v;
  return 0;
}

bool WriteStamp(const char* path, const char* name, uint64_t stamp) {
  unsigned char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(stamp >> (8 * i));
  RegBinaryValue value;
  return value.Copy(b, sizeof b) && value.Save(HKEY_LOCAL_MACHINE, path, name) == 0;
}

bool ReadDword(const char* path, const char* name, uint32_t* out) {
  RegDwordValue value;
  if (value.Load(HKEY_LOCAL_MACHINE, path, name) != 0) return false;
  *out = value;
  return true;
}

HRESULT WriteDword(const char* path, const char* name, uint32_t v) {
  RegDwordValue value(v);
  return value.Save(HKEY_LOCAL_MACHINE, path, name);
}

HRESULT LoadIni(const char* path, const IniTableEntry<char>* table, uint32_t count,
                const std::function<HRESULT(const CIniData<char>&)>& use) {
  return LoadIniT<char>(path, table, count, use);
}
HRESULT LoadIni(const char* path, const IniTableEntry<char16_t>* table, uint32_t count,
                const std::function<HRESULT(const CIniData<char16_t>&)>& use) {
  return LoadIniT<char16_t>(path, table, count, use);
}
HRESULT SaveIni(const char* path, const std::function<HRESULT(CIniData<char>&)>& fill) { return SaveIniT<char>(path, fill); }
HRESULT SaveIni(const char* path, const std::function<HRESULT(CIniData<char16_t>&)>& fill) {
  return SaveIniT<char16_t>(path, fill);
}

HRESULT InTransaction(const std::function<HRESULT()>& work) {
  RegTransaction scope(RegTransaction::Write);
  if (scope.Status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(scope.Status());
  HRESULT hr = work();
  if (hr != 0) {
    scope.Rollback();
    return hr;
  }
  DWORD rc = scope.Commit();
  return rc == ERROR_SUCCESS ? 0 : HRESULT_FROM_WIN32(rc);
}

bool ForEachSubkey(const char* path, const std::function<bool(const char*)>& each) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return true;
  bool ok = true;
  for (DWORD i = 0; ok; ++i) {
    char name[256];
    DWORD chars = sizeof name;
    if (RegEnumKeyExA(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    ok = each(name);
  }
  RegCloseKey(key);
  return ok;
}

bool TimeToText(const FILETIME& time, char* buffer, size_t size) { return TimeToString(time, buffer, size); }
bool TextToTime(const char* text, FILETIME* time) { return StringToTime(text, time); }

bool AmountToText(double value, uint32_t decimals, char* buffer, size_t size) {
  // Plain form only: the reader refuses an exponent form, and one such row would make the whole
  // stored table unreadable.
  return PlainAmountText(value, decimals, buffer, static_cast<uint32_t>(size));
}

uint32_t LocaleNumber(DWORD lcid, LocaleItem item, uint32_t fallback) {
  char16_t text[16];
  if (GetLocaleInfoW(lcid, ItemType(item), text, 16) <= 0) return fallback;
  uint32_t v = 0;
  const char16_t* p = text;
  if (*p < u'0' || *p > u'9') return fallback;
  for (; *p >= u'0' && *p <= u'9'; ++p) v = v * 10 + static_cast<uint32_t>(*p - u'0');
  return v;
}

bool LocaleText(DWORD lcid, LocaleItem item, CStringW& out) {
  LCTYPE type = ItemType(item);
  int n = GetLocaleInfoW(lcid, type, nullptr, 0);
  if (n > 0) {
    CStringW text;
    if (text.Resize(static_cast<uint32_t>(n)) && GetLocaleInfoW(lcid, type, text.GetBuffer(), n) > 0) {
      out = std::move(text);
      return true;
    }
  }
  CStringA narrow;
  if (!LocaleTextA(lcid, item, narrow)) return false;
  out = narrow.c_str();
  return !out.IsNull();
}

bool LocaleTextA(DWORD lcid, LocaleItem item, CStringA& out) {
  LCTYPE type = ItemType(item);
  int n = GetLocaleInfoA(lcid, type, nullptr, 0);
  if (n <= 0) return false;
  CStringA text;
  if (!text.Resize(static_cast<uint32_t>(n)) || GetLocaleInfoA(lcid, type, text.GetBuffer(), n) <= 0) return false;
  out = std::move(text);
  return true;
}

HRESULT ForEachSystemLocale(const std::function<bool(DWORD)>& each) {
  LCID locales[512];
  DWORD n = vtx::EnumSystemLocalesList(locales, 512);
  if (n == 0) return E_FAIL;
  if (n > 512) n = 512;
  for (DWORD i = 0; i < n; ++i)
    if (!each(locales[i])) return E_OUTOFMEMORY;
  return 0;
}

HRESULT TitleText(CStringW& out, const char16_t* text, DWORD lcid, uint32_t allWords) {
  return TitleString(out, text, lcid, allWords ? TRUE : FALSE);
}

}  // namespace vtx::currency
