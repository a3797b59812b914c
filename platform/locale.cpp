#include "platform/locale.h"

#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/uchar.h>
#include <unicode/ucurr.h>
#include <unicode/uloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/native/syscalls.h"

namespace {

constexpr LCID kEnUs = 0x0409;

// The system's three-letter language abbreviations, which CLDR does not have. These LCIDs are
// also the candidates of the locale list.
const struct {
  LCID lcid;
  const char* abbrev;
} kAbbreviations[] = {
    {0x0401, "ARA"}, {0x0402, "BGR"}, {0x0403, "CAT"}, {0x0404, "CHT"}, {0x0405, "CSY"}, {0x0406, "DAN"},
    {0x0407, "DEU"}, {0x0408, "ELL"}, {0x0409, "ENU"}, {0x040A, "ESP"}, {0x040B, "FIN"}, {0x040C, "FRA"},
    {0x040D, "HEB"}, {0x040E, "HUN"}, {0x040F, "ISL"}, {0x0410, "ITA"}, {0x0411, "JPN"}, {0x0412, "KOR"},
    {0x0413, "NLD"}, {0x0414, "NOR"}, {0x0415, "PLK"}, {0x0416, "PTB"}, {0x0417, "RMC"}, {0x0418, "ROM"},
    {0x0419, "RUS"}, {0x041A, "HRV"}, {0x041B, "SKY"}, {0x041C, "SQI"}, {0x041D, "SVE"}, {0x041E, "THA"},
    {0x041F, "TRK"}, {0x0420, "URD"}, {0x0421, "IND"}, {0x0422, "UKR"}, {0x0423, "BEL"}, {0x0424, "SLV"},
    {0x0425, "ETI"}, {0x0426, "LVI"}, {0x0427, "LTH"}, {0x0429, "FAR"}, {0x042A, "VIT"}, {0x042D, "EUQ"},
    {0x042E, "HSB"}, {0x042F, "MKI"}, {0x0430, "SOT"}, {0x0431, "TSO"}, {0x0432, "TSN"}, {0x0433, "VEN"},
    {0x0434, "XHO"}, {0x0435, "ZUL"}, {0x0436, "AFK"}, {0x0438, "FOS"}, {0x0439, "HIN"}, {0x043A, "MLT"},
    {0x043B, "SME"}, {0x043C, "GLA"}, {0x043D, "YID"}, {0x043E, "MSL"}, {0x0801, "ARI"}, {0x0804, "CHS"},
    {0x0807, "DES"}, {0x0809, "ENG"}, {0x080A, "ESM"}, {0x080C, "FRB"}, {0x0810, "ITS"}, {0x0812, "KOR"},
    {0x0813, "NLB"}, {0x0814, "NON"}, {0x0816, "PTG"}, {0x0818, "ROD"}, {0x0819, "RUM"}, {0x081A, "SRL"},
    {0x081D, "SVF"}, {0x083C, "IRE"}, {0x0C01, "ARE"}, {0x0C04, "ZHH"}, {0x0C07, "DEA"}, {0x0C09, "ENA"},
    {0x0C0A, "ESN"}, {0x0C0C, "FRC"}, {0x0C1A, "SRB"}, {0x1001, "ARL"}, {0x1004, "ZHI"}, {0x1007, "DEL"},
    {0x1009, "ENC"}, {0x100A, "ESG"}, {0x100C, "FRS"}, {0x1401, "ARG"}, {0x1407, "DEC"}, {0x1409, "ENZ"},
    {0x140A, "ESC"}, {0x140C, "FRL"}, {0x1801, "ARM"}, {0x1809, "ENI"}, {0x180A, "ESA"}, {0x1C01, "ART"},
    {0x1C09, "ENS"}, {0x1C0A, "ESD"}, {0x2001, "ARO"}, {0x2009, "ENJ"}, {0x200A, "ESV"}, {0x2401, "ARY"},
    {0x2409, "ENB"}, {0x240A, "ESO"}, {0x2801, "ARS"}, {0x2809, "ENL"}, {0x280A, "ESR"}, {0x2C01, "ARJ"},
    {0x2C09, "ENT"}, {0x2C0A, "ESS"}, {0x3001, "ARB"}, {0x300A, "ESF"}, {0x3401, "ARK"}, {0x340A, "ESL"},
    {0x3801, "ARU"}, {0x380A, "ESY"}, {0x3C01, "ARH"}, {0x3C0A, "ESZ"}, {0x4001, "ARQ"}, {0x400A, "ESB"},
    {0x440A, "ESE"}, {0x480A, "ESH"}, {0x4C0A, "ESI"}, {0x500A, "ESU"},
};

const char* Abbreviation(LCID lcid) {
  for (const auto& a : kAbbreviations)
    if (a.lcid == lcid) return a.abbrev;
  return nullptr;
}

struct LocaleData {
  std::u16string decimal = u".", thousand = u",", grouping = u"3;0";
  std::u16string monDecimal = u".", monThousand = u",", monGrouping = u"3;0";
  std::u16string currency = u"$", intlSymbol = u"USD";
  DWORD digits = 2, currDigits = 2, posCurr = 0, negCurr = 0;
  DWORD language = kEnUs;
  bool known = false;  // ICU has data for the locale's language
  std::u16string engLanguage = u"English", engCountry = u"United States";
  std::u16string iso639 = u"en", iso3166 = u"US", iso3166a3 = u"USA";
};

std::u16string FromUnicodeString(const icu::UnicodeString& s) {
  std::u16string r(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<size_t>(s.length()));
  // The narrow no-break space of newer CLDR data has no place in single-byte code pages; the
  // system's own tables use the plain no-break space there.
  for (auto& c : r)
    if (c == 0x202F) c = 0x00A0;
  return r;
}

std::u16string GroupingText(int primary, int secondary) {
  if (primary <= 0) return u"0";
  std::string t = std::to_string(primary);
  if (secondary > 0 && secondary != primary) t.append(";").append(std::to_string(secondary));
  t += ";0";
  return std::u16string(t.begin(), t.end());
}

// The shape of one pattern: '-' sign, '$' symbol, 'N' number, ' ' a blank, '(' ')'.
std::string PatternShape(const icu::UnicodeString& pattern) {
  std::string shape;
  bool inNumber = false, quoted = false;
  for (int32_t i = 0; i < pattern.length(); ++i) {
    char16_t c = pattern.charAt(i);
    if (c == '\'') {
      quoted = !quoted;
      continue;
    }
    if (quoted) continue;
    if (c == '#' || c == '0' || c == ',' || c == '.' || (c >= '1' && c <= '9') || c == '@') {
      if (!inNumber) shape += 'N';
      inNumber = true;
      continue;
    }
    inNumber = false;
    if (c == 0x00A4) shape += '$';
    else if (c == '-') shape += '-';
    else if (c == '(' || c == ')') shape += static_cast<char>(c);
    else if (c == ' ' || c == 0x00A0 || c == 0x202F) {
      if (shape.empty() || shape.back() != ' ') shape += ' ';
    }
  }
  return shape;
}

void SplitPattern(const icu::UnicodeString& p, icu::UnicodeString& pos, icu::UnicodeString& neg) {
  int32_t semi = p.indexOf(static_cast<char16_t>(';'));
  if (semi < 0) {
    pos = p;
    neg = icu::UnicodeString(static_cast<char16_t>('-')) + p;  // the implied negative form
  } else {
    pos = p.tempSubString(0, semi);
    neg = p.tempSubString(semi + 1);
  }
}

DWORD PositiveCurrencyFormat(const std::string& shape) {
  static const char* kForms[] = {"$N", "N$", "$ N", "N $"};
  for (DWORD i = 0; i < 4; ++i)
    if (shape == kForms[i]) return i;
  return shape.find('$') > shape.find('N') ? 1 : 0;
}

DWORD NegativeCurrencyFormat(const std::string& shape) {
  static const char* kForms[] = {"($N)", "-$N",  "$-N",  "$N-",  "(N$)",  "-N$",  "N-$",   "N$-",
                                 "-N $", "-$ N", "N $-", "$ N-", "$ -N", "N- $", "($ N)", "(N $)"};
  for (DWORD i = 0; i < 16; ++i)
    if (shape == kForms[i]) return i;
  std::string tight;
  for (char c : shape)
    if (c != ' ') tight += c;
  for (DWORD i = 0; i < 8; ++i)
    if (tight == kForms[i]) return i;
  return 1;
}

std::u16string Ascii16(const char* s) {
  std::u16string r;
  for (; *s; ++s) r.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return r;
}

LocaleData Build(LCID lcid) {
  LocaleData d;
  char name[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t len = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
  if (U_FAILURE(status) || len <= 0) return d;
  icu::Locale loc(name);
  if (loc.isBogus()) return d;
  d.language = lcid;
  {
    static const std::set<std::string> available = [] {
      std::set<std::string> a;
      for (int32_t i = 0; i < uloc_countAvailable(); ++i) a.insert(uloc_getAvailable(i));
      return a;
    }();
    d.known = available.count(loc.getLanguage()) || available.count(loc.getBaseName());
  }
  if (!d.known) return d;

  // Amounts are written with Latin digits; separators and patterns must be the ones that go with
  // them, not those of the locale's native digits (Arabic-script locales).
  icu::Locale numbers(loc);
  status = U_ZERO_ERROR;
  numbers.setKeywordValue("numbers", "latn", status);
  if (U_FAILURE(status)) numbers = loc;
  status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols sym(numbers, status);
  if (U_SUCCESS(status)) {
    d.decimal = FromUnicodeString(sym.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
    d.thousand = FromUnicodeString(sym.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol));
    d.monDecimal = FromUnicodeString(sym.getSymbol(icu::DecimalFormatSymbols::kMonetarySeparatorSymbol));
    d.monThousand = FromUnicodeString(sym.getSymbol(icu::DecimalFormatSymbols::kMonetaryGroupingSeparatorSymbol));
    d.currency = FromUnicodeString(sym.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol));
    d.intlSymbol = FromUnicodeString(sym.getSymbol(icu::DecimalFormatSymbols::kIntlCurrencySymbol));
  }
  status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> number(icu::NumberFormat::createInstance(numbers, UNUM_DECIMAL, status));
  if (U_SUCCESS(status)) {
    if (auto* df = dynamic_cast<icu::DecimalFormat*>(number.get()))
      d.grouping = df->isGroupingUsed() ? GroupingText(df->getGroupingSize(), df->getSecondaryGroupingSize()) : u"0";
  }
  status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> money(icu::NumberFormat::createInstance(numbers, UNUM_CURRENCY, status));
  if (U_SUCCESS(status)) {
    if (auto* df = dynamic_cast<icu::DecimalFormat*>(money.get())) {
      d.monGrouping = df->isGroupingUsed() ? GroupingText(df->getGroupingSize(), df->getSecondaryGroupingSize()) : u"0";
      icu::UnicodeString pattern, pos, neg;
      df->toPattern(pattern);
      SplitPattern(pattern, pos, neg);
      d.posCurr = PositiveCurrencyFormat(PatternShape(pos));
      d.negCurr = NegativeCurrencyFormat(PatternShape(neg));
    }
  }
  // The US convention writes negative amounts in parentheses; CLDR keeps that only in its
  // accounting pattern.
  if (lcid == kEnUs) d.negCurr = 0;
  char16_t code[4] = {};
  status = U_ZERO_ERROR;
  if (ucurr_forLocale(name, reinterpret_cast<UChar*>(code), 4, &status) > 0 && U_SUCCESS(status)) {
    status = U_ZERO_ERROR;
    int32_t digits = ucurr_getDefaultFractionDigits(reinterpret_cast<const UChar*>(code), &status);
    if (U_SUCCESS(status) && digits >= 0) d.currDigits = static_cast<DWORD>(digits);
  }
  icu::UnicodeString text;
  loc.getDisplayLanguage(icu::Locale::getEnglish(), text);
  if (text.length()) d.engLanguage = FromUnicodeString(text);
  text.remove();
  loc.getDisplayCountry(icu::Locale::getEnglish(), text);
  d.engCountry = FromUnicodeString(text);
  d.iso639 = Ascii16(loc.getLanguage());
  d.iso3166 = Ascii16(loc.getCountry());
  d.iso3166a3 = Ascii16(loc.getISO3Country());
  return d;
}

// The locales built so far, found without a lock: a table of slots that are filled once and never
// change, beside the map that owns the data (and holds any that the table has no room for).
struct BuiltLocale {
  LCID lcid;
  LocaleData data;
};
constexpr size_t kLocaleSlots = 1024;
std::atomic<const BuiltLocale*> g_localeSlots[kLocaleSlots];

size_t SlotOf(LCID lcid) { return (lcid * 2654435761u) % kLocaleSlots; }

const LocaleData& Data(LCID lcid) {
  for (size_t i = 0, at = SlotOf(lcid); i < kLocaleSlots; ++i, at = (at + 1) % kLocaleSlots) {
    const BuiltLocale* b = g_localeSlots[at].load(std::memory_order_acquire);
    if (!b) break;
    if (b->lcid == lcid) return b->data;
  }
  static std::mutex mutex;
  static std::map<LCID, std::unique_ptr<BuiltLocale>> cache;
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = cache[lcid];
  if (!slot) {
    slot = std::make_unique<BuiltLocale>(BuiltLocale{lcid, Build(lcid)});
    for (size_t i = 0, at = SlotOf(lcid); i < kLocaleSlots; ++i, at = (at + 1) % kLocaleSlots)
      if (!g_localeSlots[at].load(std::memory_order_relaxed)) {
        g_localeSlots[at].store(slot.get(), std::memory_order_release);
        break;
      }
  }
  return slot->data;
}

// The item as text; the Win32 error for an unknown item, or for a name that an unknown locale
// does not have.
DWORD ItemText(LCID lcid, LCTYPE item, std::u16string& out, DWORD& number, bool& isNumber) {
  LCID resolved = vtx::ResolveLcid(lcid);
  const LocaleData& d = Data(resolved);
  isNumber = false;
  auto num = [&](DWORD v) {
    number = v;
    isNumber = true;
    std::string t = std::to_string(v);
    out.assign(t.begin(), t.end());
  };
  switch (item) {
    case LOCALE_SDECIMAL: out = d.decimal; break;
    case LOCALE_STHOUSAND: out = d.thousand; break;
    case LOCALE_SGROUPING: out = d.grouping; break;
    // The system gives two fraction digits for ordinary numbers almost everywhere; CLDR's
    // "up to three" is a different notion.
    case LOCALE_IDIGITS: num(d.digits); break;
    case LOCALE_SCURRENCY: out = d.currency; break;
    case LOCALE_SINTLSYMBOL: out = d.intlSymbol; break;
    case LOCALE_SMONDECIMALSEP: out = d.monDecimal; break;
    case LOCALE_SMONTHOUSANDSEP: out = d.monThousand; break;
    case LOCALE_SMONGROUPING: out = d.monGrouping; break;
    case LOCALE_ICURRDIGITS: num(d.currDigits); break;
    case LOCALE_ICURRENCY: num(d.posCurr); break;
    case LOCALE_INEGCURR: num(d.negCurr); break;
    // The system's negative number form "-1.1" in every locale.
    case LOCALE_INEGNUMBER: num(1); break;
    case LOCALE_SENGLANGUAGE:
    case LOCALE_SENGCOUNTRY:
    case LOCALE_SISO639LANGNAME:
    case LOCALE_SISO3166CTRYNAME:
      if (!d.known && resolved != kEnUs) return ERROR_INVALID_PARAMETER;
      out = item == LOCALE_SENGLANGUAGE ? d.engLanguage
            : item == LOCALE_SENGCOUNTRY ? d.engCountry
            : item == LOCALE_SISO639LANGNAME ? d.iso639 : d.iso3166;
      break;
    case LOCALE_SABBREVCTRYNAME:
      if (!d.known && resolved != kEnUs) return ERROR_INVALID_PARAMETER;
      out = d.iso3166a3;
      break;
    case LOCALE_SABBREVLANGNAME: {
      const char* a = Abbreviation(resolved);
      if (!a) return ERROR_INVALID_PARAMETER;
      out = Ascii16(a);
      break;
    }
    case LOCALE_ILANGUAGE: {
      char t[8];
      std::snprintf(t, sizeof t, "%04x", d.language & 0xFFFF);
      out = Ascii16(t);
      break;
    }
    default: return ERROR_INVALID_FLAGS;
  }
  return ERROR_SUCCESS;
}

template <class T>
int Deliver(const std::basic_string<T>& text, T* data, int size) {
  int need = static_cast<int>(text.size()) + 1;
  if (size == 0) return need;
  if (size < need || !data) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(data, text.c_str(), static_cast<size_t>(need) * sizeof(T));
  return need;
}

template <class T>
int GetInfo(LCID locale, LCTYPE type, T* data, int size) {
  if (size < 0 || (size > 0 && !data)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  bool returnNumber = (type & LOCALE_RETURN_NUMBER) != 0;
  LCTYPE item = type & ~(LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP | LOCALE_RETURN_NUMBER);
  std::u16string text;
  DWORD number = 0;
  bool isNumber = false;
  DWORD error = ItemText(locale, item, text, number, isNumber);
  if (!error && returnNumber && !isNumber) error = ERROR_INVALID_FLAGS;
  if (error) {
    SetLastError(error);
    return 0;
  }
  if (returnNumber) {
    int need = static_cast<int>((sizeof(DWORD) + sizeof(T) - 1) / sizeof(T));
    if (size == 0) return need;
    if (size < need) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(data, &number, sizeof number);
    return need;
  }
  if constexpr (sizeof(T) == 1)
    return Deliver(vtx::WideToAnsi(text), data, size);
  else
    return Deliver(text, data, size);
}

LCID LcidFromEnvironment() {
  for (const char* var : {"LC_ALL", "LANG"}) {
    const char* v = vtx::sys::Getenv(var);
    if (!v || !*v) continue;
    if (!std::strcmp(v, "C") || !std::strcmp(v, "POSIX") || !std::strncmp(v, "C.", 2)) return kEnUs;
    LCID lcid = vtx::LcidFromLocaleName(v);
    return lcid ? lcid : kEnUs;
  }
  return kEnUs;
}

}  // namespace

namespace vtx {

LCID LcidFromLocaleName(const char* name) {
  if (!name || !*name) return 0;
  std::string n(name);
  n = n.substr(0, n.find_first_of(".@"));
  for (auto& c : n)
    if (c == '-') c = '_';
  LCID lcid = uloc_getLCID(n.c_str());
  // A bare language stands for its default country.
  if (lcid && (lcid & 0xFC00) == 0) lcid |= 0x0400;
  return lcid;
}

LCID ResolveLcid(LCID locale) {
  if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT || locale == LOCALE_NEUTRAL)
    return GetUserDefaultLCID();
  if (locale == LOCALE_INVARIANT) return kEnUs;
  return locale;
}

DWORD EnumSystemLocalesList(LCID* out, DWORD capacity) {
  std::set<LCID> ids{kEnUs};
  for (const auto& a : kAbbreviations)
    if (Data(a.lcid).known) ids.insert(a.lcid);
  DWORD n = 0;
  for (LCID id : ids) {
    if (out && n < capacity) out[n] = id;
    ++n;
  }
  return n;
}

}  // namespace vtx

LCID GetUserDefaultLCID() { return LcidFromEnvironment(); }
LANGID GetUserDefaultLangID() { return LANGIDFROMLCID(GetUserDefaultLCID()); }
LCID GetSystemDefaultLCID() { return GetUserDefaultLCID(); }

int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) { return GetInfo(locale, type, data, size); }
int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int size) { return GetInfo(locale, type, data, size); }

int LCMapStringW(LCID locale, DWORD flags, LPCWSTR src, int srcChars, LPWSTR dst, int dstChars) {
  DWORD kind = flags & (LCMAP_UPPERCASE | LCMAP_LOWERCASE);
  if (!src || srcChars == 0 || srcChars < -1 || dstChars < 0 || (dstChars > 0 && !dst) ||
      (kind != LCMAP_UPPERCASE && kind != LCMAP_LOWERCASE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = srcChars == -1 ? vtx::StrLen16(src) + 1 : static_cast<size_t>(srcChars);
  if (dstChars == 0) return static_cast<int>(n);
  if (static_cast<size_t>(dstChars) < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  bool turkic = false;
  if (flags & LCMAP_LINGUISTIC_CASING) {
    LANGID primary = PRIMARYLANGID(LANGIDFROMLCID(vtx::ResolveLcid(locale)));
    turkic = primary == 0x1F || primary == 0x2C;  // Turkish, Azeri
  }
  std::u16string out(src, n);
  for (size_t i = 0; i < n; ++i) {
    char16_t c = out[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
      UChar32 cp = 0x10000 + ((c - 0xD800) << 10) + (out[i + 1] - 0xDC00);
      UChar32 m = kind == LCMAP_UPPERCASE ? u_toupper(cp) : u_tolower(cp);
      if (m >= 0x10000) {
        out[i] = static_cast<char16_t>(0xD800 + ((m - 0x10000) >> 10));
        out[i + 1] = static_cast<char16_t>(0xDC00 + ((m - 0x10000) & 0x3FF));
      }
      ++i;
      continue;
    }
    if (turkic && kind == LCMAP_UPPERCASE && c == 'i') out[i] = 0x0130;
    else if (turkic && kind == LCMAP_LOWERCASE && c == 'I') out[i] = 0x0131;
    else {
      UChar32 m = kind == LCMAP_UPPERCASE ? u_toupper(c) : u_tolower(c);
      if (m < 0x10000) out[i] = static_cast<char16_t>(m);
    }
  }
  std::memcpy(dst, out.data(), n * sizeof(char16_t));
  return static_cast<int>(n);
}

BOOL IsCharAlphaNumericW(WCHAR c) { return u_isalnum(c) ? TRUE : FALSE; }

BOOL IsCharAlphaNumericA(char c) {
  char16_t w[2] = {};
  char s[2] = {c, 0};
  if (MultiByteToWideChar(CP_ACP, 0, s, 1, w, 1) != 1) return FALSE;
  return IsCharAlphaNumericW(w[0]);
}

namespace vtx {
bool FormatLocalDateTime(const FILETIME& utc, LCID locale, std::string* date, std::string* time, bool longDate) {
  char name[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t len = uloc_getLocaleForLCID(ResolveLcid(locale), name, sizeof name, &status);
  if (U_FAILURE(status) || len <= 0) std::strcpy(name, "en_US");
  icu::Locale loc(name);
  // ICU counts milliseconds from 1970.
  uint64_t ticks = FileTimeToU64(utc);
  if (ticks < kUnixEpochFileTime) return false;
  UDate when = static_cast<UDate>((ticks - kUnixEpochFileTime) / 10000);
  auto format = [&](icu::DateFormat* f, std::string* out) {
    std::unique_ptr<icu::DateFormat> owned(f);
    if (!owned) return false;
    icu::UnicodeString text;
    owned->format(when, text);
    std::u16string wide = FromUnicodeString(text);
    // CLDR puts narrow no-break spaces into times; the ANSI code page has none.
    for (char16_t& c : wide)
      if (c == 0x202F || c == 0x00A0) c = u' ';
    *out = WideToAnsi(wide);
    return !out->empty();
  };
  return format(icu::DateFormat::createDateInstance(longDate ? icu::DateFormat::kFull : icu::DateFormat::kShort, loc),
                date) &&
         format(icu::DateFormat::createTimeInstance(icu::DateFormat::kMedium, loc), time);
}
}  // namespace vtx

namespace vtx {

bool SplitNumberText(const std::string& value, uint32_t digits, bool leadingZero, NumberParts* out) {
  size_t i = 0;
  NumberParts r;
  if (i < value.size() && value[i] == '-') r.negative = true, ++i;
  std::string intPart, fracPart;
  while (i < value.size() && value[i] >= '0' && value[i] <= '9') intPart += value[i++];
  if (i < value.size() && value[i] == '.') {
    ++i;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9') fracPart += value[i++];
  }
  if (i != value.size() || (intPart.empty() && fracPart.empty()) || digits > 99) return false;
  std::string all = intPart + fracPart;
  size_t intLen = intPart.size();
  if (fracPart.size() > digits) {
    bool up = fracPart[digits] >= '5';
    all.resize(intLen + digits);
    if (up) {
      size_t k = all.size();
      while (k > 0 && all[k - 1] == '9') all[--k] = '0';
      if (k == 0) {
        all.insert(all.begin(), '1');
        ++intLen;
      } else {
        ++all[k - 1];
      }
    }
  } else {
    all.append(digits - fracPart.size(), '0');
  }
  r.integer = all.substr(0, intLen);
  r.fraction = all.substr(intLen);
  size_t z = 0;
  while (z < r.integer.size() && r.integer[z] == '0') ++z;
  r.integer.erase(0, z);
  if (r.integer.empty() && (leadingZero || digits == 0)) r.integer.push_back('0');  // empty here
  if (all.find_first_not_of('0') == std::string::npos) r.negative = false;
  *out = r;
  return true;
}

}  // namespace vtx

int GetNumberFormatA(LCID locale, DWORD flags, LPCSTR value, const NUMBERFMTA* format, LPSTR number, int size) {
  if (!value || size < 0 || (size > 0 && !number) || (format && flags) ||
      (format && (!format->lpDecimalSep || !format->lpThousandSep || format->NegativeOrder > 4 ||
                  (format->Grouping > 9 && format->Grouping != 32)))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  NUMBERFMTA f{};
  std::string decimal, thousand;
  if (format) {
    f = *format;
    decimal = format->lpDecimalSep;
    thousand = format->lpThousandSep;
  } else {
    char text[16];
    DWORD n = 2;
    f.NumDigits = GetLocaleInfoA(locale, LOCALE_IDIGITS | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&n), 4) ? n : 2;
    f.LeadingZero = 1;
    f.Grouping = GetLocaleInfoA(locale, LOCALE_SGROUPING, text, sizeof text) && text[0] == '3' && text[2] == '2' ? 32 : 3;
    f.NegativeOrder = 1;
    decimal = GetLocaleInfoA(locale, LOCALE_SDECIMAL, text, sizeof text) ? text : ".";
    thousand = GetLocaleInfoA(locale, LOCALE_STHOUSAND, text, sizeof text) ? text : ",";
  }
  vtx::NumberParts parts;
  if (!vtx::SplitNumberText(value, f.NumDigits, f.LeadingZero != 0, &parts)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string n = vtx::GroupDigits(parts.integer, f.Grouping, thousand);
  if (f.NumDigits) n += decimal + parts.fraction;
  if (parts.negative) {
    switch (f.NegativeOrder) {
      case 0: n = "(" + n + ")"; break;
      case 1: n = "-" + n; break;
      case 2: n = "- " + n; break;
      case 3: n += "-"; break;
      default: n += " -"; break;
    }
  }
  int need = static_cast<int>(n.size()) + 1;
  if (size == 0) return need;
  if (need > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(number, n.c_str(), n.size() + 1);
  return need;
}
