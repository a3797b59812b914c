// The Bank of Canada's rates page as plain text: a header line of dates and a line per currency
// with Canadian dollars per unit for each date. The column of the latest date is used.
#pragma once
#include "filters/framework/feedtext.h"
#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"

struct CadRecord {
  CadRecord* next;
  char code[4];
  uint32_t footnote;  // the Turkish lira row carries the footnote mark: its rate is per 10000
  double value;       // Canadian dollars per unit; later the rate per euro
};

// year, separator, month, the same separator, day; 12:00 local. The length of the date text,
// 0 when there is none.
uint32_t ParseIsoDate(const char* text, FILETIME* date);

// The header line: `column` receives the number of its latest date (from 0), `latest` that date,
// `line` (when given) the start of the header's line. The place where the rows start, or null
// when there is no header.
const char* FindDateColumns(const char* text, uint32_t* column, FILETIME* latest, const char** line = nullptr);

// The rows of the plain text, read from `place` up to `end` (null: the end of the text).
class CColumnRows {
 public:
  CColumnRows(CMapIni& map, const char* text, const char* place, uint32_t wanted, const char* end = nullptr);
  // The next row's code and value in the wanted column (0 when it is not available); false
  // when the rows end.
  bool Read(CadRecord* record);

 private:
  CNameScanner m_names;
  const char* m_start;
  const char* m_p;
  const char* m_end;
  uint32_t m_wanted;
};

// Header and rows of the first table of the plain text; rows without a value are left out. The
// table ends at the next header line or at a currency it already has: a page may hold further
// tables (averages, other days) whose rates must not mix with the first one's. 0, or the exit code.
DWORD ParseCadfeed(CMapIni& map, const char* text, CFeedList<CadRecord>& rows, FILETIME* date);

// The page (stripped to plain text in place) into the rates text. 0, or the exit code.
DWORD ConvertCadfeed(CMapIni& map, char* text, uint32_t size, CFilterOutput& out);
