#include "filters/framework/feedtext.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

#include "platform/codepage.h"
#include "platform/types.h"
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
  errno = 0;
  double v = CLocale() ? strtod_l(text, &stop, CLocale()) : std::strtod(text, &stop);
  const bool outOfRange = errno == ERANGE;
  if (stop == text) return FeedNumber::None;
  // "1,5" or "1,234.56": a decimal comma or a thousands separator, not the number 1.
  if (*stop == ',' && stop[1] >= '0' && stop[1] <= '9') {
    for (++stop; (*stop >= '0' && *stop <= '9') || *stop == ',' || *stop == '.';) ++stop;
    if (end) *end = stop;
    return FeedNumber::Refused;
  }
  if (end) *end = stop;
  // A value that overflowed or vanished below the smallest double is not the page's number.
  if (outOfRange || !std::isfinite(v) || v == 0.0) return FeedNumber::Refused;
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

bool ReadsWholeAsNumber(const char* text) {
  if (!text || !*text || IsBlankOrLine(*text) || *text == '\v' || *text == '\f') return false;
  char* stop = const_cast<char*>(text);
  if (CLocale())
    strtod_l(text, &stop, CLocale());
  else
    std::strtod(text, &stop);
  return stop != text && *stop == 0;
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

CNameScanner::CNameScanner(CMapIni& map, const char* text) : m_map(map) {
  m_document.Set(text);  // without it every look-up converts a part of the text itself
  m_indexed = m_index.Build(map);
  if (m_indexed && !vtx::AnsiCodePageIsUtf8()) {
    // A single-byte code page: exactly the bytes whose character begins some name.
    for (uint32_t b = 1; b < 256; ++b) {
      char byte = static_cast<char>(b);
      char16_t wide = 0;
      m_mayStart[b] = MultiByteToWideChar(CP_ACP, 0, &byte, 1, &wide, 1) == 1 && m_index.MayStart(wide);
    }
    return;
  }
  // Bytes of other code pages and first letters that fold are not worked out: any byte beyond
  // ASCII stays a candidate.
  for (uint32_t b = 0x80; b < 256; ++b) m_mayStart[b] = true;
  auto mark = [this](char16_t c) {
    if (c < 0x80) {
      m_mayStart[c] = true;
      if (c >= 'a' && c <= 'z') m_mayStart[c - 'a' + 'A'] = true;
      if (c >= 'A' && c <= 'Z') m_mayStart[c - 'A' + 'a'] = true;
    }
  };
  uint32_t section = IniNoId;
  for (CMapIni::Row row : map) {
    uint32_t type = CMapIni::GetType(row);
    const char16_t* key = CMapIni::GetName(row);
    if (type == IniTypeSection) {
      section = FindIniTableEntryID<char16_t>(key, nullptr, g_MapIniTable, kMapIniTableRows);
      continue;
    }
    if (section != kMapNamesSection || type == IniTypeLine) continue;
    const char16_t* name = key + vtx::StrLen16(key) + 1;
    for (uint32_t i = 0, n = CMapIni::GetStringCount(row); i < n; ++i, name += vtx::StrLen16(name) + 1) {
      if (*name == '\t') {
        // An empty first word lets the name start anywhere.
        for (bool& m : m_mayStart) m = true;
        return;
      }
      mark(*name);
      mark(vtx::UnicodeFold(*name));
    }
  }
}

bool CNameScanner::LookupAt(const char* place, char code[4]) {
  code[0] = 0;
  if (!m_mayStart[static_cast<unsigned char>(*place)]) return false;
  bool found;
  if (const char16_t* wide = m_document.At(place)) {
    found = m_indexed ? m_index.Lookup(wide, code) : LookupCurrencyNameAt(m_map, m_document, place, false, code);
  } else if (m_document.Converted()) {
    return false;  // inside a character of a multi-byte page: no name starts here
  } else {
    // Without a wide copy (no memory for it): a window of the text after the place, far longer
    // than any name with the blanks a page puts between its words.
    char window[256];
    size_t n = 0;
    while (n < sizeof window - 1 && place[n]) ++n;
    std::memcpy(window, place, n);
    window[n] = 0;
    found = LookupCurrencyName(m_map, window, false, code);
  }
  if (found && IsCurrencyCode(code)) return true;
  code[0] = 0;
  return false;
}
