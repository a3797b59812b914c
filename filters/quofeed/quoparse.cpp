#include "filters/quofeed/quoparse.h"

#include <cstring>

#include "engine/foundation/timetext.h"
#include "filters/framework/ratetime.h"
#include "platform/codepage.h"

namespace {

constexpr FilterProgram kProgram = FilterProgram::Quofeed;
constexpr uint64_t kOneDay = 864000000000ull;  // in units of 100 ns

bool EndsField(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ','; }

// Provider text for a quoted value: control characters would break the line.
class CQuotedText {
 public:
  ~CQuotedText() {
    if (m_text) GlobalFree(m_text);
  }
  bool Set(const char* first, const char* second = nullptr) {
    size_t a = std::strlen(first), b = second ? std::strlen(second) : 0;
    m_text = static_cast<char*>(GlobalAlloc(0, a + b + 2));
    if (!m_text) return false;
    std::memcpy(m_text, first, a);
    size_t n = a;
    if (second) {
      m_text[n++] = ' ';
      std::memcpy(m_text + n, second, b);
      n += b;
    }
    m_text[n] = 0;
    for (char* p = m_text; *p; ++p)
      if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F) *p = ' ';
    return true;
  }
  const char* Get() const { return m_text; }

 private:
  char* m_text = nullptr;
};

bool AddQuotedText(CFilterOutput& out, const char* key, const char* first, const char* second = nullptr) {
  CQuotedText text;
  return text.Set(first, second) && out.AddQuoted(key, text.Get());
}

bool AddTime(CFilterOutput& out, const char* key, const FILETIME& time) {
  char text[40];
  return !TimeToString(time, text) || out.AddValue(key, text);
}

}  // namespace

CCsvTable::~CCsvTable() {
  if (m_fields) GlobalFree(m_fields);
  if (m_count) GlobalFree(m_count);
}

DWORD CCsvTable::Split(char* text) {
  uint64_t lines = 1, fields = 1;
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') ++lines, ++fields;
    if (*p == ',') ++fields;
  }
  if (lines > UINT32_MAX / 2) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
  m_count = static_cast<uint32_t*>(GlobalAlloc(0, static_cast<size_t>(lines) * 2 * sizeof(uint32_t)));
  if (!m_count) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
  std::memset(m_count, 0, static_cast<size_t>(lines) * 2 * sizeof(uint32_t));
  m_first = m_count + lines;
  m_lines = static_cast<uint32_t>(lines);
  m_fields = static_cast<char**>(GlobalAlloc(0, static_cast<size_t>(fields) * sizeof(char*)));
  if (!m_fields) return FilterExitCode(kProgram, FilterFailure::HomeCurrencyMemory);

  uint32_t line = 0, n = 0;
  char* p = text;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
    if (!*p) break;
    if (*p == '\n') {
      ++p;
      ++line;
      continue;
    }
    char* start;
    char* q;
    if (*p == '"') {
      start = q = p + 1;
      while (*q && *q != '"') ++q;
    } else {
      start = q = p;
      while (*q && !EndsField(*q)) ++q;
    }
    if (n >= fields || line >= m_lines) break;  // cannot happen: the tables were counted for this text
    if (m_count[line]++ == 0) m_first[line] = n;
    m_fields[n++] = start;
    char ended = *q;
    if (!ended) break;
    *q = 0;
    p = q + 1;
    if (ended == ',') continue;
    if (ended == '\n') {
      ++line;
      continue;
    }
    while (*p && *p != '\n' && *p != ',') ++p;
    if (*p == ',') ++p;
  }
  return 0;
}

const char* CCsvTable::Field(uint32_t line, uint32_t index) const {
  if (line >= m_lines || index < 1 || index > m_count[line]) return nullptr;
  return m_fields[m_first[line] + index - 1];
}

int32_t CCsvTable::FindLine(const char* keyword) const {
  for (uint32_t line = 0; line < m_lines; ++line) {
    if (!m_count[line] || _stricmp(Field(line, 1), keyword) != 0) continue;
    return m_count[line] >= 2 && line <= INT32_MAX ? static_cast<int32_t>(line) : -1;
  }
  return -1;
}

const char* CCsvTable::Value(const char* keyword) const {
  int32_t line = FindLine(keyword);
  return line < 0 ? nullptr : Field(static_cast<uint32_t>(line), 2);
}

bool ParseTimestamp(const char* text, FILETIME* time) {
  uint32_t parts[6] = {};
  const char* p = text;
  for (int i = 0; i < 6; ++i) {
    if (!ReadDigits(p, &parts[i])) return false;
    if (i < 5) {
      if (!*p) return false;
      ++p;
    }
  }
  return MakeFeedTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], time);
}

DWORD ConvertQuofeed(CMapIni& map, char* text, uint32_t size, CFilterOutput& out) {
  CCsvTable table;
  if (DWORD code = table.Split(text)) return code;

  const int32_t baseLine = table.FindLine("Base Currency");
  const char* base = table.Value("Base Currency");
  double euro = 0;
  if (base && _stricmp(base, "EUR") == 0) {
    euro = 1;
  } else {
    int32_t line = table.FindLine("EUR");
    if (line >= 0 && table.FieldCount(static_cast<uint32_t>(line)) >= 4 &&
        !ReadWholeRate(table.Field(static_cast<uint32_t>(line), 3), &euro))
      euro = 0;
  }

  if (!out.Create(size)) return FilterExitCode(kProgram, FilterFailure::OutputMemory);
  out.AddLine("[General]");
  out.AddLine("");
  out.AddQuoted("Application", kFilterApplication);
  out.AddQuoted("Source", FilterSourceName(kProgram));

  FILETIME time{};
  bool timed = false;
  if (table.FindLine("UTC Timestamp") >= 0) {
    timed = ParseTimestamp(table.Value("UTC Timestamp"), &time);
  } else if (const char* local = table.Value("Rate Timestamp")) {
    timed = ParseTimestamp(local, &time) && LocalTimeToUtc(&time, 35, 0);
  }
  if (timed) {
    AddTime(out, "Date", time);
    const char* type = table.Value("Rate Type");
    uint64_t expires = FileTimeToU64(time) + kOneDay;
    if (type && _strnicmp(type, "DAILY", 5) == 0 && expires > FileTimeToU64(time))
      AddTime(out, "Expires", U64ToFileTime(expires));
  }

  const char* notice = table.Value("Notice");
  const char* redistribution = table.Value("Redistribution");
  if (notice && redistribution)
    AddQuotedText(out, "Copyright", notice, redistribution);
  else if (notice || redistribution)
    AddQuotedText(out, "Copyright", notice ? notice : redistribution);
  else
    out.AddQuoted("Copyright", kFilterCopyright);

  if (const char* error = table.Value("Error")) {
    AddQuotedText(out, "Error", error);
  } else if (const char* status = table.Value("Status"); status && _stricmp(status, "ERROR") == 0) {
    const char* details = table.Value("Details");
    AddQuotedText(out, "Error", details ? details : "Unknown error");
  }

  if (baseLine >= 0) {
    out.BeginRates();
    for (uint32_t line = static_cast<uint32_t>(baseLine) + 1; line < table.Lines(); ++line) {
      if (table.FieldCount(line) < 3 || std::strlen(table.Field(line, 1)) != 3) continue;
      char code[4];
      if (!LookupCurrencyCode(map, table.Field(line, 1), code) || !IsCurrencyCode(code)) continue;
      if (euro == 0) return FilterExitCode(kProgram, FilterFailure::NoEuro);
      double rate = 0;
      if (ReadWholeRate(table.Field(line, 3), &rate)) out.AddRate(code, rate / euro);
    }
  }
  return out.Failed() ? FilterExitCode(kProgram, FilterFailure::OutputMemory) : 0;
}
