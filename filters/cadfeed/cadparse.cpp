#include "filters/cadfeed/cadparse.h"

#include <cstring>
#include <string>

#include "filters/framework/htmltext.h"
#include "filters/framework/ratetime.h"
#include "platform/codepage.h"

namespace {

constexpr FilterProgram kProgram = FilterProgram::Cadfeed;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool EndsWord(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0; }

// "NA", "N/A", "N\A" or "N.A." between a blank before and a blank or line end after: its length.
uint32_t NotAvailableWord(const char* start, const char* p) {
  if (p == start || !IsBlank(p[-1])) return 0;
  for (const char* word : {"N.A.", "N/A", "N\\A", "NA"}) {
    size_t n = std::strlen(word);
    if (_strnicmp(p, word, n) == 0 && EndsWord(p[n])) return static_cast<uint32_t>(n);
  }
  return 0;
}

}  // namespace

uint32_t ParseIsoDate(const char* text, FILETIME* date) {
  const char* p = text;
  uint32_t year = 0, month = 0, day = 0;
  if (!ReadDigits(p, &year)) return 0;
  char separator = *p;
  if (separator != ' ' && separator != '-' && separator != '.' && separator != '/' && separator != '\\') return 0;
  ++p;
  if (!ReadDigits(p, &month) || *p != separator) return 0;
  ++p;
  if (!ReadDigits(p, &day)) return 0;
  if (!MakeFeedTime(FullYear(year), month, day, 12, 0, 0, date)) return 0;
  return static_cast<uint32_t>(p - text);
}

const char* FindDateColumns(const char* text, uint32_t* column, FILETIME* latest, const char** line) {
  const char* p = text;
  const char* lineStart = text;
  bool inLine = false;
  uint32_t columns = 0;
  while (*p) {
    if (_strnicmp(p, "Revised", 7) == 0) {
      // A revision note may hold dates of its own.
      inLine = false;
      while (*p && *p != '\r' && *p != '\n') ++p;
      continue;
    }
    char c = *p;
    if (IsBlank(c)) {
      ++p;
    } else if (c == '\r' || c == '\n') {
      if (inLine) {
        if (line) *line = lineStart;
        return p + 1;
      }
      lineStart = ++p;
    } else if (IsDigit(c) &&
               (inLine || (p - text >= 3 && p[-1] == ' ' && p[-2] == ' ' && p[-3] == ' ') || (p > text && p[-1] == '\t'))) {
      FILETIME date;
      uint32_t n = ParseIsoDate(p, &date);
      if (!n) {
        while (IsDigit(*p)) ++p;
        inLine = false;
        continue;
      }
      if (!inLine) {
        inLine = true;
        columns = 0;
        *column = 0;
        *latest = date;
      } else {
        ++columns;
        if (FileTimeToU64(date) > FileTimeToU64(*latest)) {
          *latest = date;
          *column = columns;
        }
      }
      p += n;
    } else {
      inLine = false;
      ++p;
    }
  }
  return nullptr;
}

CColumnRows::CColumnRows(CMapIni& map, const char* text, const char* place, uint32_t wanted, const char* end)
    : m_names(map, text), m_start(text), m_p(place), m_end(end), m_wanted(wanted) {}

bool CColumnRows::Read(CadRecord* record) {
  *record = CadRecord{};
  bool haveCode = false;
  uint32_t columns = 0;
  while (*m_p && m_p != m_end) {
    char c = *m_p;
    if (IsBlank(c) || c == '\r') {
      ++m_p;
      continue;
    }
    if (c == '\n') {
      // A row shorter than the wanted column ends the table; a name alone on its line is no row.
      if (columns > 0) return false;
      *record = CadRecord{};
      haveCode = false;
      ++m_p;
      continue;
    }
    if (!haveCode) {
      haveCode = m_names.LookupAt(m_p, record->code);
      ++m_p;
      continue;
    }
    if (IsCode(record->code, "TRL") && columns == 0 && (std::strncmp(m_p, "(1)", 3) == 0 || std::strncmp(m_p, "(2)", 3) == 0)) {
      record->footnote = 1;
      m_p += 3;
      continue;
    }
    if (IsNumberStart(c) && m_p > m_start && IsBlank(m_p[-1])) {
      const char* end = m_p;
      double value = 0;
      FeedNumber kind = ReadFeedNumber(m_p, &end, &value);
      if (kind != FeedNumber::None) {
        m_p = end;
        if (columns++ == m_wanted) {
          record->value = kind == FeedNumber::Rate ? value : 0;
          return true;
        }
        continue;
      }
    }
    if (uint32_t n = NotAvailableWord(m_start, m_p)) {
      m_p += n;
      if (columns++ == m_wanted) {
        record->value = 0;
        return true;
      }
      continue;
    }
    ++m_p;
  }
  return false;
}

DWORD ParseCadfeed(CMapIni& map, const char* text, CFeedList<CadRecord>& rows, FILETIME* date) {
  uint32_t column = 0;
  const char* place = FindDateColumns(text, &column, date);
  if (!place) return FilterExitCode(kProgram, FilterFailure::NoDate);
  uint32_t nextColumn = 0;
  FILETIME nextDate{};
  const char* nextHeader = nullptr;
  FindDateColumns(place, &nextColumn, &nextDate, &nextHeader);
  CColumnRows reader(map, text, place, column, nextHeader);
  std::string codes;  // every code of the table so far, three characters each
  CadRecord record;
  while (reader.Read(&record)) {
    bool again = false;
    for (size_t i = 0; i < codes.size() && !again; i += 3) again = IsCode(record.code, codes.substr(i, 3).c_str());
    if (again) break;
    codes.append(record.code, 3);
    if (record.value == 0) continue;
    if (!rows.Append(record)) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
  }
  return 0;
}

DWORD ConvertCadfeed(CMapIni& map, char* text, uint32_t size, CFilterOutput& out) {
  StripHtml(text);
  CFeedList<CadRecord> rows;
  FILETIME date{};
  if (DWORD code = ParseCadfeed(map, text, rows, &date)) return code;

  double euro = 0;
  for (const CadRecord* r = rows.First(); r; r = r->next)
    if (IsCode(r->code, "EUR")) euro = r->value;
  if (euro == 0) return FilterExitCode(kProgram, FilterFailure::NoEuro);

  CadRecord* home = rows.Append();
  if (!home) return FilterExitCode(kProgram, FilterFailure::HomeCurrencyMemory);
  std::memcpy(home->code, "CAD", 4);
  home->value = 1;

  if (!out.Create(size)) return FilterExitCode(kProgram, FilterFailure::OutputMemory);
  bool dated = LocalTimeToUtc(&date, 35, 0);
  out.AddGeneralSection(kProgram, dated ? &date : nullptr);
  out.BeginRates();
  for (const CadRecord* r = rows.First(); r; r = r->next) {
    double value = euro / r->value;
    if (r->footnote) value *= 10000;
    out.AddRate(r->code, value);
  }
  return out.Failed() ? FilterExitCode(kProgram, FilterFailure::OutputMemory) : 0;
}
