// The daily rates page of the Central Bank of the Russian Federation: table cells of units,
// currency name and roubles per those units, after the first day/month/year date of the page.
#pragma once
#include "filters/framework/feedtext.h"
#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"
#include "filters/framework/tablecells.h"

struct SovRecord {
  SovRecord* next;
  char code[4];
  double units;  // how many units of the currency the rate is for
  double rate;   // roubles per those units
};

// The next row (cells: units, a name that map.ini knows, rate), from the scanner's place on;
// false when the rows end. Row tags play no part; a row that fails is left at its "</tr>".
bool ReadSovRow(CTableCells& cells, CMapIni& map, SovRecord* record);

// The date of the rates (local, 00:00) and the rows after it. 0, or the exit code.
DWORD ParseSovfeed(CMapIni& map, const char* text, CFeedList<SovRecord>& rows, FILETIME* date);

// The whole conversion of the page into the rates text. 0, or the exit code.
DWORD ConvertSovfeed(CMapIni& map, const char* text, uint32_t size, CFilterOutput& out);
