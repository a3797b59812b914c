#include "filters/framework/feedtext.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

#include "platform/codepage.h"
#include "platform/systime.h"

namespace {

locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}

bool IsBlankOrLine(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                 "July",    "August",   "September", "October", "November", "December"};

}  // namespace

FeedNumber ReadFeedNumber(const char* text, const char** end, double* value) {
  if (end) *end = text;
  if (!text) return FeedNumber::None;
  char* stop = const_cast<char*>(text);
  double v = CLocale() ? strtod_l(text, &stop, CLocale()) : std::strtod(text, &stop);
  if (stop == text) return FeedNumber::None;
  if (end) *end = stop;
  // strtod also takes signs, exponents, hexadecimal, "inf" and "nan": only plain decimals are rates.
  const char* p = text;
  while (p < stop && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\v' || *p == '\f')) ++p;
  if (p < stop && *p == '+') ++p;
  bool digit = false;
  bool point = false;
  for (; p < stop; ++p) {
    if (*p >= '0' && *p <= '9') {
      digit = true;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      return FeedNumber::Refused;
    }
  }
  if (!digit || !std::isfinite(v) || !(v > 0.0)) return FeedNumber::Refused;
  if (value) *value = v;
  return FeedNumber::Rate;
}

bool ReadWholeRate(const char* text, double* value) {
  const char* end = text;
  double v = 0;
  if (ReadFeedNumber(text, &end, &v) != FeedNumber::Rate) return false;
  while (IsBlankOrLine(*end)) ++end;
  if (*end) return false;
  if (value) *value = v;
  return true;
}

bool IsCurrencyCode(const char* code) {
  if (!code) return false;
  for (int i = 0; i < 3; ++i) {
    char c = code[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return code[3] == 0;
}

bool IsCode(const char* code, const char* wanted) { return code && _stricmp(code, wanted) == 0; }

int MatchMonthName(const char* text, uint32_t* length) {
  if (!text) return 0;
  for (int i = 0; i < 12; ++i) {
    size_t n = std::strlen(kMonths[i]);
    if (_strnicmp(text, kMonths[i], n) == 0) {
      if (length) *length = static_cast<uint32_t>(n);
      return i + 1;
    }
  }
  return 0;
}

uint32_t FullYear(uint32_t year) {
  if (year >= 100) return year;
  return year < 70 ? 2000 + year : 1900 + year;
}

bool MakeFeedTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute, uint32_t second,
                  FILETIME* out) {
  if (year > 30827 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  *out = ft;
  return true;
}

bool ReadDigits(const char*& text, uint32_t* value) {
  if (!(*text >= '0' && *text <= '9')) return false;
  uint64_t v = 0;
  while (*text >= '0' && *text <= '9') {
    v = v * 10 + static_cast<uint64_t>(*text - '0');
    if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
    ++text;
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

bool LookupNamePrefixAt(CMapIni& map, const CMapDocument& document, const char* place, char code[4]) {
  bool found;
  if (document.At(place)) {
    found = LookupCurrencyNameAt(map, document, place, false, code);
  } else {
    // Far longer than any name with the blanks a page puts between its words.
    char window[256];
    size_t n = 0;
    while (n < sizeof window - 1 && place[n]) ++n;
    std::memcpy(window, place, n);
    window[n] = 0;
    found = LookupCurrencyName(map, window, false, code);
  }
  if (found && IsCurrencyCode(code)) return true;
  code[0] = 0;
  return false;
}
