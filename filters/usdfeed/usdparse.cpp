#include "filters/usdfeed/usdparse.h"

#include <cstring>

#include "filters/framework/htmltext.h"
#include "filters/framework/ratetime.h"
#include "platform/codepage.h"

namespace {

constexpr FilterProgram kProgram = FilterProgram::Usdfeed;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void SkipBlanks(const char*& p) {
  while (IsBlank(*p)) ++p;
}

}  // namespace

const char* FindMonthDate(const char* text, FILETIME* date) {
  const char* p = text;
  for (;;) {
    SkipBlanks(p);
    if (!*p) return nullptr;
    uint32_t length = 0;
    if (int month = MatchMonthName(p, &length)) {
      p += length;
      SkipBlanks(p);
      uint32_t day = 0, year = 0;
      if (!ReadDigits(p, &day)) continue;
      SkipBlanks(p);
      if (*p == ',' || *p == '-' || *p == '.') ++p;
      SkipBlanks(p);
      if (!ReadDigits(p, &year)) continue;
      if (MakeFeedTime(FullYear(year), static_cast<uint32_t>(month), day, 12, 0, 0, date)) return p;
      continue;
    }
    while (*p && !IsBlank(*p)) ++p;
  }
}

uint32_t IsNotAvailable(const char* start, const char* p) {
  if (p == start || !IsSpace(p[-1])) return 0;
  uint32_t n = 0;
  if (std::strchr("#*-.:?", *p) && *p) {
    while (p[n] == *p) ++n;
  } else if (_strnicmp(p, "n/a", 3) == 0) {
    n = 3;
  } else if (_strnicmp(p, "n.a.", 4) == 0) {
    n = 4;
  }
  return n && (IsSpace(p[n]) || !p[n]) ? n : 0;
}

CDollarLines::CDollarLines(CMapIni& map, const char* text, const char* place)
    : m_names(map, text), m_start(text), m_p(place) {}

bool CDollarLines::Read(UsdRecord* record) {
  *record = UsdRecord{};
  bool haveCode = false;
  while (*m_p) {
    char c = *m_p;
    if (IsBlank(c)) {
      ++m_p;
      continue;
    }
    if (c == '\r' || c == '\n') {
      *record = UsdRecord{};
      haveCode = false;
      ++m_p;
      continue;
    }
    if (!haveCode) {
      if (c == '+') {
        record->dollarQuoted = 1;
      } else {
        haveCode = m_names.LookupAt(m_p, record->code);
      }
      ++m_p;
      continue;
    }
    if (uint32_t n = IsNotAvailable(m_start, m_p)) {
      // The line yields nothing.
      *record = UsdRecord{};
      haveCode = false;
      m_p += n;
      continue;
    }
    if (IsNumberStart(c)) {
      const char* end = m_p;
      double value = 0;
      FeedNumber kind = ReadFeedNumber(m_p, &end, &value);
      if (kind != FeedNumber::None) {
        bool standsAlone = m_p > m_start && IsBlank(m_p[-1]);
        m_p = end;
        if (!standsAlone) continue;  // glued to a word: no rate
        if (kind == FeedNumber::Rate) {
          record->value = value;
          return true;
        }
        // Zero, infinity and the like: the line yields nothing.
        *record = UsdRecord{};
        haveCode = false;
        continue;
      }
    }
    ++m_p;
  }
  return false;
}

DWORD ParseUsdfeed(CMapIni& map, const char* text, CFeedList<UsdRecord>& rows, FILETIME* date) {
  const char* place = FindMonthDate(text, date);
  if (!place) return FilterExitCode(kProgram, FilterFailure::NoDate);
  CDollarLines lines(map, text, place);
  UsdRecord record;
  while (lines.Read(&record))
    if (!rows.Append(record)) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
  return 0;
}

DWORD ConvertUsdfeed(CMapIni& map, char* text, uint32_t size, CFilterOutput& out) {
  StripHtml(text);
  CFeedList<UsdRecord> rows;
  FILETIME date{};
  if (DWORD code = ParseUsdfeed(map, text, rows, &date)) return code;

  // Dollars per euro, whichever way the euro's line quotes it; the last euro line counts.
  double euro = 0;
  for (const UsdRecord* r = rows.First(); r; r = r->next)
    if (IsCode(r->code, "EUR")) euro = r->dollarQuoted ? r->value : 1 / r->value;
  if (euro == 0) return FilterExitCode(kProgram, FilterFailure::NoEuro);

  UsdRecord* home = rows.Append();
  if (!home) return FilterExitCode(kProgram, FilterFailure::HomeCurrencyMemory);
  std::memcpy(home->code, "USD", 4);
  home->value = 1;

  if (!out.Create(size)) return FilterExitCode(kProgram, FilterFailure::OutputMemory);
  bool dated = LocalTimeToUtc(&date, 35, 0);
  out.AddGeneralSection(kProgram, dated ? &date : nullptr);
  out.BeginRates();
  for (const UsdRecord* r = rows.First(); r; r = r->next) {
    double value = r->dollarQuoted ? r->value : 1 / r->value;  // dollars per unit
    if (value != 0) out.AddRate(r->code, euro / value);
  }
  return out.Failed() ? FilterExitCode(kProgram, FilterFailure::OutputMemory) : 0;
}
