// The Federal Reserve Bank of New York's noon buying rates as plain text: a date with a month
// name and a line per currency with its rate against the US dollar; a '+' before the name marks
// a rate in dollars per unit, the others are units per dollar.
#pragma once
#include "filters/framework/feedtext.h"
#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"

struct UsdRecord {
  UsdRecord* next;
  char code[4];
  uint32_t dollarQuoted;  // 1: dollars per unit; 0: units per dollar
  double value;
};

// "March 4, 2005" and the like (12:00 local): the place after the year, or null.
const char* FindMonthDate(const char* text, FILETIME* date);

// A mark for a rate that is not available at `p` ("n/a", "n.a.", a run of '#', '*', '-', '.',
// ':' or '?' standing alone): its length, else 0. `start` is the start of the text.
uint32_t IsNotAvailable(const char* start, const char* p);

// The lines of the plain text, read from `place` on.
class CDollarLines {
 public:
  CDollarLines(CMapIni& map, const char* text, const char* place);
  // The next line's code, flag and rate; false when the text ends.
  bool Read(UsdRecord* record);

 private:
  CNameScanner m_names;
  const char* m_start;
  const char* m_p;
};

// Date and rows. 0, or the exit code.
DWORD ParseUsdfeed(CMapIni& map, const char* text, CFeedList<UsdRecord>& rows, FILETIME* date);

// The page (stripped to plain text in place) into the rates text. 0, or the exit code.
DWORD ConvertUsdfeed(CMapIni& map, char* text, uint32_t size, CFilterOutput& out);
