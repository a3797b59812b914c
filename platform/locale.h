// Locale identifiers and locale information: the user's locale from the environment, number and
// currency formats from ICU by LCID, case mapping and character classes.
#pragma once
#include <string>
#include <vector>

#include "platform/types.h"

using LCID = DWORD;
using LANGID = WORD;
using LCTYPE = DWORD;

constexpr LCID LOCALE_NEUTRAL = 0x0000;
constexpr LCID LOCALE_INVARIANT = 0x007F;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LANGID LANG_NEUTRAL = 0x00;
constexpr LANGID LANG_USER_DEFAULT = 0x0400;
constexpr LANGID LANG_ENGLISH = 0x09;
constexpr LANGID LANG_GERMAN = 0x07;
constexpr LANGID LANG_ITALIAN = 0x10;
constexpr DWORD LCID_INSTALLED = 0x1;
constexpr DWORD LCID_SUPPORTED = 0x2;

constexpr LANGID PRIMARYLANGID(LANGID id) { return static_cast<LANGID>(id & 0x3FF); }
constexpr LANGID SUBLANGID(LANGID id) { return static_cast<LANGID>(id >> 10); }
constexpr LANGID MAKELANGID(LANGID primary, LANGID sub) { return static_cast<LANGID>((sub << 10) | primary); }
constexpr LANGID LANGIDFROMLCID(LCID lcid) { return static_cast<LANGID>(lcid & 0xFFFF); }

// Items of GetLocaleInfo.
constexpr LCTYPE LOCALE_ILANGUAGE = 0x0001;
constexpr LCTYPE LOCALE_SABBREVLANGNAME = 0x0003;
constexpr LCTYPE LOCALE_SABBREVCTRYNAME = 0x0007;  // ISO 3166 three-letter code ("USA")
constexpr LCTYPE LOCALE_SDECIMAL = 0x000E;
constexpr LCTYPE LOCALE_STHOUSAND = 0x000F;
constexpr LCTYPE LOCALE_SGROUPING = 0x0010;
constexpr LCTYPE LOCALE_IDIGITS = 0x0011;
constexpr LCTYPE LOCALE_SCURRENCY = 0x0014;
constexpr LCTYPE LOCALE_SINTLSYMBOL = 0x0015;
constexpr LCTYPE LOCALE_SMONDECIMALSEP = 0x0016;
constexpr LCTYPE LOCALE_SMONTHOUSANDSEP = 0x0017;
constexpr LCTYPE LOCALE_SMONGROUPING = 0x0018;
constexpr LCTYPE LOCALE_ICURRDIGITS = 0x0019;
constexpr LCTYPE LOCALE_ICURRENCY = 0x001B;
constexpr LCTYPE LOCALE_INEGCURR = 0x001C;
constexpr LCTYPE LOCALE_INEGNUMBER = 0x1010;
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001;
constexpr LCTYPE LOCALE_SENGCOUNTRY = 0x1002;
constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x0059;
constexpr LCTYPE LOCALE_SISO3166CTRYNAME = 0x005A;
constexpr LCTYPE LOCALE_NOUSEROVERRIDE = 0x80000000;
constexpr LCTYPE LOCALE_USE_CP_ACP = 0x40000000;
constexpr LCTYPE LOCALE_RETURN_NUMBER = 0x20000000;

constexpr DWORD LCMAP_LOWERCASE = 0x00000100;
constexpr DWORD LCMAP_UPPERCASE = 0x00000200;
constexpr DWORD LCMAP_LINGUISTIC_CASING = 0x01000000;

// The user's locale from LC_ALL, else LANG ("de_DE.UTF-8" gives 0x0407); en-US (0x0409) for "C",
// "POSIX", nothing, or a locale ICU does not know.
LCID GetUserDefaultLCID();
LANGID GetUserDefaultLangID();
LCID GetSystemDefaultLCID();

// Windows semantics: the count includes the NUL; a size of 0 asks for the count needed; a short
// buffer gives 0 and last error 122; an unknown item gives 0 and last error 1004. With
// LOCALE_RETURN_NUMBER a numeric item is written as one DWORD (size counts characters, at least
// 4 bytes' worth). A locale ICU does not know answers with the en-US formats; its names
// (SENGLANGUAGE, SENGCOUNTRY, the ISO names) and a SABBREVLANGNAME outside our own table give 0
// and last error 87.
int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size);
int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int size);

// Case mapping one character for one character (no expansion, as the system does), with the
// Turkish and Azeri dotted i under LCMAP_LINGUISTIC_CASING. Source length -1 = NUL-terminated,
// the NUL included; a destination size of 0 asks for the count.
int LCMapStringW(LCID locale, DWORD flags, LPCWSTR src, int srcChars, LPWSTR dst, int dstChars);

BOOL IsCharAlphaNumericW(WCHAR c);
// The byte is read in the ANSI code page.
BOOL IsCharAlphaNumericA(char c);

// The number format of GetNumberFormatA. Grouping: 0-9 digits per group, or 32 for 3 then 2.
struct NUMBERFMTA {
  UINT NumDigits;
  UINT LeadingZero;
  UINT Grouping;
  LPSTR lpDecimalSep;
  LPSTR lpThousandSep;
  UINT NegativeOrder;  // 0 (1.1), 1 -1.1, 2 - 1.1, 3 1.1-, 4 1.1 -
};
// A number text ("-?digits(.digits)?", no blanks) in the locale's number form, or in `format` when
// given (then `flags` must be 0): rounded half away from zero to the format's digits. Windows
// semantics of the count (with the NUL, size 0 asks); 0 with last error 87 for a text that is not a
// number or a bad format, 122 for a short buffer.
int GetNumberFormatA(LCID locale, DWORD flags, LPCSTR value, const NUMBERFMTA* format, LPSTR number, int size);

namespace vtx {
// A number text split for display: sign, integer digits without leading zeros (empty for 0 without
// a leading zero) and exactly `digits` fraction digits, rounded half away from zero. False when the
// text is not "-?digits(.digits)?" with at least one digit.
struct NumberParts {
  bool negative = false;
  std::string integer;
  std::string fraction;
};
bool SplitNumberText(const std::string& value, uint32_t digits, bool leadingZero, NumberParts* out);
// The integer digits with a separator between groups: `grouping` 0-9 digits per group (0 none), or
// 32 for a group of 3 and then groups of 2. Narrow or wide.
template <class S>
S GroupDigits(const std::string& integer, uint32_t grouping, const S& separator) {
  size_t first = grouping >= 10 ? grouping / 10 : grouping;
  size_t rest = grouping >= 10 ? grouping % 10 : grouping;
  S out;
  size_t count = 0, group = first;
  for (size_t k = integer.size(); k-- > 0;) {
    out.insert(out.begin(), static_cast<typename S::value_type>(integer[k]));
    if (group && ++count == group && k > 0) {
      out.insert(0, separator);
      count = 0;
      group = rest;
    }
  }
  return out;
}
}  // namespace vtx

namespace vtx {
// The LCID of a POSIXnamespace vtx {
// The LCID of a POSIX or BCP 47 locale name ("de_DE.UTF-8@euro", "de-DE"); 0 when ICU knows none.
LCID LcidFromLocaleName(const char* name);
// The locales of the system, in ascending order: those of the language-tag table that ICU has
// data for, and 1033. Stores up to `capacity` ids and returns how many there are; nothing is kept
// between calls, so any number of threads may ask at once.
DWORD EnumSystemLocalesList(LCID* out, DWORD capacity);
// The LCID a call means: the user default, system default and neutral ids
// become the user's LCID.
LCID ResolveLcid(LCID locale);
}  // namespace vtx

namespace vtx {
// A UTC time as the locale writes its short (or long, with the weekday) date and its time with
// seconds, in the process's time zone under the rules of that moment (its own daylight-saving
// offset), in the ANSI code page; false when the locale or the time cannot be formatted.
bool FormatLocalDateTime(const FILETIME& utc, LCID locale, std::string* date, std::string* time,
                         bool longDate = false);
}  // namespace vtx

// Comparing texts by a locale's collation (ICU): CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN,
// 0 with last error 87 for a null text. A length of -1 means NUL-terminated. NORM_IGNORECASE
// ignores case but not accents. The narrow form reads the ANSI code page.
constexpr DWORD NORM_IGNORECASE = 0x00000001;
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;
int CompareStringW(LCID locale, DWORD flags, LPCWSTR a, int aChars, LPCWSTR b, int bChars);
int CompareStringA(LCID locale, DWORD flags, LPCSTR a, int aChars, LPCSTR b, int bChars);

// The currency format of GetCurrencyFormatW. Grouping: 0-9 digits per group, or 32 for 3 then 2.
struct CURRENCYFMTW {
  UINT NumDigits;
  UINT LeadingZero;
  UINT Grouping;
  LPWSTR lpDecimalSep;
  LPWSTR lpThousandSep;
  UINT NegativeOrder;  // 0-15
  UINT PositiveOrder;  // 0-3
  LPWSTR lpCurrencySymbol;
};
// An amount ("-?digits(.digits)?", no blanks) in the locale's currency form, or in `format` when
// given (then `flags` must be 0), rounded half away from zero to the format's digits. A separator
// that cannot be formatted with is refused: the decimal separator must have 1 to 3 characters, the
// thousands separator 0 to 3, and neither may hold a digit or a control character. Windows semantics
// of the count (with the NUL, size 0 asks); 0 with last error 87 for a bad text or format, 122 for a
// short buffer.
int GetCurrencyFormatW(LCID locale, DWORD flags, LPCWSTR value, const CURRENCYFMTW* format, LPWSTR currency,
                       int size);
namespace vtx {
// The same text, and where its fraction digits stand (at `*fraction`, `format.NumDigits` of them;
// npos without digits). False (last error 87) where GetCurrencyFormatW refuses.
bool FormatCurrencyText(const std::u16string& value, const CURRENCYFMTW& format, std::u16string* out,
                        size_t* fraction);
}  // namespace vtx
