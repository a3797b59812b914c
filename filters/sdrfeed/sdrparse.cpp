#include "filters/sdrfeed/sdrparse.h"

#include <cstring>

#include "filters/framework/ratetime.h"
#include "platform/codepage.h"

namespace {

constexpr FilterProgram kProgram = FilterProgram::Sdrfeed;
constexpr const char* kBlockStart = "SDRs per Currency unit";
constexpr const char* kBlockEnd = "Currency units per SDR";

bool BeginsWith(const char* text, const char* prefix) { return _strnicmp(text, prefix, std::strlen(prefix)) == 0; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void SkipBlanksAndCommas(const char*& p) {
  while (IsBlank(*p) || *p == ',') ++p;
}

// Words that stand for a value the report does not have.
bool IsNotAvailable(const char* token) {
  return !*token || IsBlank(*token) || _stricmp(token, "n.a.") == 0 || _stricmp(token, "n. a.") == 0;
}

}  // namespace

bool CSdrTokens::Read(char token[kSdrTokenChars + 1], uint32_t* line) {
  while (IsBlank(*m_p) || *m_p == '\r' || *m_p == '\n') {
    if (*m_p == '\n') ++m_line;
    ++m_p;
  }
  if (line) *line = m_line;
  token[0] = 0;
  if (*m_p == ',') {
    ++m_p;  // an empty field
    return true;
  }
  if (!*m_p) return false;
  uint32_t n = 0;
  if (*m_p == '"') {
    ++m_p;
    while (*m_p && *m_p != '"' && *m_p != '\r' && *m_p != '\n') {
      if (n < kSdrTokenChars) token[n++] = *m_p;
      ++m_p;
    }
    if (*m_p == '"') ++m_p;
  } else {
    while (*m_p && !IsBlank(*m_p) && *m_p != '\r' && *m_p != '\n' && *m_p != ',') {
      if (n < kSdrTokenChars) token[n++] = *m_p;
      ++m_p;
    }
  }
  token[n] = 0;
  // The comma that ends this field.
  while (IsBlank(*m_p)) ++m_p;
  if (*m_p == ',') ++m_p;
  return true;
}

bool CSdrTokens::AtLineEnd() const {
  const char* p = m_p;
  while (IsBlank(*p) || *p == '\r' || *p == ',') ++p;
  return *p == '\n' || *p == 0;
}

void CSdrTokens::SkipLine() {
  while (*m_p && *m_p != '\n') ++m_p;
}

bool ParseSdrDate(const char* token, FILETIME* date) {
  const char* p = token;
  while (IsBlank(*p)) ++p;
  uint32_t length = 0;
  int month = MatchMonthName(p, &length);
  if (!month) return false;
  p += length;
  SkipBlanksAndCommas(p);
  uint32_t day = 0, year = 0;
  if (!ReadDigits(p, &day) || day < 1 || day > 31) return false;
  SkipBlanksAndCommas(p);
  if (!ReadDigits(p, &year) || year < 1900) return false;
  return MakeFeedTime(year, static_cast<uint32_t>(month), day, 12, 0, 0, date);
}

const char* FindDateHeader(const char* text, SdrHeader* header) {
  CSdrTokens tokens(text);
  char token[kSdrTokenChars + 1];
  bool inBlock = false;
  bool inHeader = false;
  uint32_t headerLine = 0, lastLine = UINT32_MAX, index = 0, line = 0;
  header->count = 0;
  while (tokens.Read(token, &line)) {
    index = line == lastLine ? index + 1 : 1;
    lastLine = line;
    if (!inBlock) {
      inBlock = BeginsWith(token, kBlockStart);
      continue;
    }
    if (BeginsWith(token, kBlockEnd)) {
      inBlock = inHeader = false;
      continue;
    }
    FILETIME date;
    if (!ParseSdrDate(token, &date)) {
      inHeader = false;
      continue;
    }
    if (inHeader && line == headerLine) {
      if (header->count == kSdrColumns) {
        inHeader = false;  // more dates than columns: no header
        continue;
      }
      header->dates[header->count++] = date;
    } else if (index == 2) {
      inHeader = true;
      headerLine = line;
      header->count = 0;
      header->dates[header->count++] = date;
    } else {
      inHeader = false;
      continue;
    }
    if (tokens.AtLineEnd()) return tokens.Place();
  }
  header->count = 0;
  return nullptr;
}

SdrRow ReadSdrRow(CSdrTokens& tokens, CMapIni& map, SdrRecord* record) {
  char token[kSdrTokenChars + 1];
  for (;;) {
    if (!tokens.Read(token)) return SdrRow::End;
    if (BeginsWith(token, kBlockEnd)) return SdrRow::End;
    *record = SdrRecord{};
    if (!LookupCurrencyName(map, token, true, record->code) || !IsCurrencyCode(record->code)) {
      if (!tokens.AtLineEnd()) tokens.SkipLine();
      continue;
    }
    while (!tokens.AtLineEnd()) {
      if (!tokens.Read(token)) break;
      double value = 0;
      if (!ReadWholeRate(token, &value)) {
        value = 0;
        const char* end = token;
        // A number that is no rate (zero, infinity, nan) is a missing value, as are
        // the words for one; any other text ends the table.
        if (ReadFeedNumber(token, &end, nullptr) == FeedNumber::None && !IsNotAvailable(token)) return SdrRow::End;
      }
      if (record->count == kSdrColumns) return SdrRow::End;
      record->values[record->count++] = value;
    }
    return SdrRow::Row;
  }
}

DWORD ParseSdrfeed(CMapIni& map, const char* text, SdrHeader* header, CFeedList<SdrRecord>& rows) {
  const char* place = FindDateHeader(text, header);
  if (!place) return FilterExitCode(kProgram, FilterFailure::NoDate);
  CSdrTokens tokens(place);
  SdrRecord* record = static_cast<SdrRecord*>(GlobalAlloc(0, sizeof(SdrRecord)));
  if (!record) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
  DWORD code = 0;
  while (ReadSdrRow(tokens, map, record) == SdrRow::Row) {
    // The table is read once: a code seen before starts its second block.
    bool seen = false;
    for (const SdrRecord* r = rows.First(); r && !seen; r = r->next) seen = IsCode(r->code, record->code);
    if (seen) break;
    if (!rows.Append(*record)) {
      code = FilterExitCode(kProgram, FilterFailure::RecordMemory);
      break;
    }
  }
  GlobalFree(record);
  return code;
}

DWORD ConvertSdrfeed(CMapIni& map, const char* text, uint32_t size, CFilterOutput& out) {
  SdrHeader header{};
  CFeedList<SdrRecord> rows;
  if (DWORD code = ParseSdrfeed(map, text, &header, rows)) return code;

  const SdrRecord* euro = nullptr;
  for (const SdrRecord* r = rows.First(); r && !euro; r = r->next)
    if (IsCode(r->code, "EUR")) euro = r;

  // The latest date on which the euro has a value (the first of equal dates).
  bool cleared[kSdrColumns] = {};
  int32_t column = -1;
  double euroValue = 0;
  for (;;) {
    column = -1;
    for (uint32_t c = 0; c < header.count; ++c)
      if (!cleared[c] && (column < 0 || FileTimeToU64(header.dates[c]) > FileTimeToU64(header.dates[column])))
        column = static_cast<int32_t>(c);
    if (column < 0) break;
    euroValue = euro && static_cast<uint32_t>(column) < euro->count ? euro->values[column] : 0;
    if (euroValue != 0) break;
    cleared[column] = true;
  }
  if (column < 0 || euroValue == 0) return FilterExitCode(kProgram, FilterFailure::NoEuro);

  SdrRecord* home = rows.Append();
  if (!home) return FilterExitCode(kProgram, FilterFailure::HomeCurrencyMemory);
  std::memcpy(home->code, "XDR", 4);
  home->count = kSdrColumns;
  for (double& v : home->values) v = 1;

  if (!out.Create(size)) return FilterExitCode(kProgram, FilterFailure::OutputMemory);
  FILETIME date = header.dates[column];
  bool dated = LocalTimeToUtc(&date, 35, 0);
  out.AddGeneralSection(kProgram, dated ? &date : nullptr);
  out.BeginRates();
  for (const SdrRecord* r = rows.First(); r; r = r->next) {
    double value = static_cast<uint32_t>(column) < r->count ? r->values[column] : 0;
    if (value != 0) out.AddRate(r->code, euroValue / value);
  }
  return out.Failed() ? FilterExitCode(kProgram, FilterFailure::OutputMemory) : 0;
}
