#include "filters/eurfeed/refrates.h"

#include <cstring>

#include "filters/framework/feedtext.h"
#include "filters/framework/htmltext.h"
#include "filters/framework/ratetime.h"
#include "platform/heap.h"
#include "platform/systime.h"

namespace {

constexpr FilterProgram kProgram = FilterProgram::Eurfeed;

const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                 "July",    "August",   "September", "October", "November", "December"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Past '>' of the tag that starts at `p`, or at the end of the text when it has none.
const char* SkipTag(const char* p) {
  while (*p && *p != '>') ++p;
  return *p ? p + 1 : p;
}

// Blanks, TABs and whole tags, several in a row.
const char* SkipFiller(const char* p) {
  for (;;) {
    while (IsBlankOrTab(*p)) ++p;
    if (*p != '<') return p;
    p = SkipTag(p);
  }
}

// Digits as a number; a run too long for any day or year stays above every limit.
const char* ReadNumber(const char* p, uint32_t* value) {
  uint32_t v = 0;
  for (; IsDigit(*p); ++p)
    if (v < 1000000) v = v * 10 + static_cast<uint32_t>(*p - '0');
  *value = v;
  return p;
}

// 1-12 for the month name the text begins with, 0 when none does.
uint32_t MatchMonth(const char* p, const char** end) {
  for (uint32_t m = 0; m < 12; ++m) {
    const char* name = kMonths[m];
    size_t i = 0;
    while (name[i] && Lower(p[i]) == Lower(name[i])) ++i;
    if (!name[i]) {
      *end = p + i;
      return m + 1;
    }
  }
  return 0;
}

// 1 for a tag that opens a cell, 2 for one that closes it, 0 for any other tag.
int CellTag(const char* p) {
  const char* q = p + 1;
  int kind = 1;
  if (*q == '/') {
    kind = 2;
    ++q;
  }
  if (Lower(q[0]) != 't' || Lower(q[1]) != 'd') return 0;
  return q[2] == ' ' || q[2] == '>' ? kind : 0;
}

bool StartsWithNbsp(const char* p) {
  static const char kNbsp[] = "&nbsp;";
  for (size_t i = 0; i < sizeof kNbsp - 1; ++i)
    if (Lower(p[i]) != kNbsp[i]) return false;
  return true;
}

bool IsCode(const char* text) {
  for (int i = 0; i < 3; ++i)
    if (text[i] < 'A' || text[i] > 'Z') return false;
  return text[3] == 0;
}

// The rows in page order; they live as long as the list.
class CReferenceRows {
 public:
  ~CReferenceRows() {
    while (m_head) {
      ReferenceRow* next = m_head->next;
      GlobalFree(m_head);
      m_head = next;
    }
  }
  bool Append(const ReferenceRow& row) {
    auto* copy = static_cast<ReferenceRow*>(GlobalAlloc(0, sizeof(ReferenceRow)));
    if (!copy) return false;
    *copy = row;
    copy->next = nullptr;
    if (m_tail) m_tail->next = copy;
    else m_head = copy;
    m_tail = copy;
    return true;
  }
  const ReferenceRow* First() const { return m_head; }

 private:
  ReferenceRow* m_head = nullptr;
  ReferenceRow* m_tail = nullptr;
};

}  // namespace

// The day of a run of digits: trying each place of the run from its start, the first number of
// 1 to 31 is the value of its last one or two digits (leading zeros aside). 0 when there is none.
// Every place of one run meets the same month and year, so one look at the run decides it all.
uint32_t DayOfRun(const char* start, const char* end) {
  if (end - start >= 2 && end[-2] != '0') {
    uint32_t two = static_cast<uint32_t>((end[-2] - '0') * 10 + (end[-1] - '0'));
    if (two <= 31) return two;
  }
  return static_cast<uint32_t>(end[-1] - '0');
}

const char* FindDayMonthDate(const char* text, FILETIME* localTime) {
  if (!text || !localTime) return nullptr;
  const char* p = text;
  for (;;) {
    p = SkipFiller(p);
    if (!*p) return nullptr;
    if (!IsDigit(*p)) {
      ++p;
      continue;
    }
    const char* runEnd = p;
    while (IsDigit(*runEnd)) ++runEnd;
    uint32_t day = DayOfRun(p, runEnd);
    p = runEnd;
    if (!day) continue;
    const char* q = SkipFiller(runEnd);
    uint32_t month = MatchMonth(q, &q);
    if (!month) continue;
    q = SkipFiller(q);
    if (!IsDigit(*q)) continue;
    uint32_t year = 0;
    q = ReadNumber(q, &year);
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year <= 0xFFFF ? year : 0);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = 14;
    st.wMinute = 15;
    FILETIME ft;
    if (st.wYear && SystemTimeToFileTime(&st, &ft)) {
      *localTime = ft;
      return q;
    }
    // An impossible date: the search goes on after its year.
    p = q;
  }
}

const char* CCellReader::Next() {
  for (;;) {
    const char* p = m_place;
    if (!*p) return nullptr;
    if (*p == '<') {
      int kind = CellTag(p);
      m_place = SkipTag(p);
      if (!kind) continue;
      bool wasInside = m_depth > 0;
      if (kind == 1) ++m_depth;
      else if (m_depth) --m_depth;
      if (!wasInside) continue;
      while (m_length && IsSpace(m_text[m_length - 1])) --m_length;
      m_text[m_length] = 0;
      uint32_t length = m_length;
      m_length = 0;
      if (length) return m_text;
      continue;
    }
    if (!m_depth) {
      ++m_place;
      continue;
    }
    if (!m_length) {
      if (IsSpace(*p)) {
        ++m_place;
        continue;
      }
      if (StartsWithNbsp(p)) {
        m_place += 6;
        continue;
      }
    }
    char c = *p;
    uint32_t taken = 1;
    // A full text takes no more characters, decoded or not.
    if (c == '&' && m_length < kMaxText) {
      char decoded;
      if (uint32_t n = DecodeEntityAnsi(p + 1, &decoded)) {
        c = decoded;
        taken += n;
      }
    }
    m_place += taken;
    if (m_length < kMaxText) m_text[m_length++] = c;
  }
}

bool ParseReferenceRow(CCellReader& cells, CMapIni& map, ReferenceRow* row) {
  int state = 0;
  while (const char* cell = cells.Next()) {
    size_t length = std::strlen(cell);
    switch (state) {
      case 0:
        if (IsCode(cell) && LookupCurrencyCode(map, cell, row->code)) state = 1;
        break;
      case 1:
        if (length < sizeof row->name) {
          std::memcpy(row->name, cell, length + 1);
          state = 2;
        } else {
          state = 0;
        }
        break;
      case 2:
        // Kept as the page writes it, whatever its value: the server refuses the whole file for a
        // rate it cannot take (a negative one, an exponent), so one bad cell never goes unnoticed.
        if (length < sizeof row->rate && ReadsWholeAsNumber(cell)) {
          std::memcpy(row->rate, cell, length + 1);
          row->next = nullptr;
          return true;
        }
        state = 0;
        break;
    }
  }
  return false;
}

DWORD ConvertReferencePage(const char* page, uint32_t size, CMapIni& map, CFilterOutput& output) {
  FILETIME date;
  const char* place = FindDayMonthDate(page, &date);
  if (!place) return FilterExitCode(kProgram, FilterFailure::NoDate);

  CReferenceRows rows;
  CCellReader cells(place);
  ReferenceRow row = {};
  bool any = false;
  while (ParseReferenceRow(cells, map, &row)) {
    if (!rows.Append(row)) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
    any = true;
  }
  // Only "EUR = 1.00" would make the server drop every other currency it holds.
  if (!any) return FilterExitCode(kProgram, FilterFailure::NoDate);

  bool dated = LocalTimeToUtc(&date, kReferenceRateZone, 0);
  bool ok = output.Create(size) && output.AddGeneralSection(kProgram, dated ? &date : nullptr) && output.BeginRates();
  for (const ReferenceRow* r = rows.First(); ok && r; r = r->next) ok = output.AddValue(r->code, r->rate);
  ok = ok && output.AddEuroRate() && output.AddLine("") && output.AddLine("[Names]") && output.AddLine("");
  for (const ReferenceRow* r = rows.First(); ok && r; r = r->next) ok = output.AddQuoted(r->code, r->name);
  ok = ok && output.AddQuoted("EUR", "EU euro");
  return ok ? 0 : FilterExitCode(kProgram, FilterFailure::OutputMemory);
}
