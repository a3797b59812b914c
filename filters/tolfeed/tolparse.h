// The rates page of the Bank of Slovenia: table rows with a letter code, units and tolars per
// those units. The answer can be two documents: one with the euro row, one with the date and the
// other rates in a shorter layout.
#pragma once
#include "filters/framework/feedtext.h"
#include "filters/framework/frame.h"
#include "filters/framework/tablecells.h"

struct TolRecord {
  TolRecord* next;
  char code[4];
  double units;
  double rate;  // tolars per `units` units
};

enum class TolLayout {
  Full,   // at least 7 cells: code in cell 4, units in cell 5, rate in cell 7
  Short,  // at least 5 cells: code in cell 2, rate in cell 5, the units are 1
};

// The next row of the layout from the scanner's place on; false when the rows end.
bool ReadTolRow(CTableCells& cells, TolLayout layout, TolRecord* record);

// The date of the rates (local, 00:00) and the rows. 0, or the exit code. `text` is cut before
// a second document.
DWORD ParseTolfeed(char* text, CFeedList<TolRecord>& rows, FILETIME* date);

DWORD ConvertTolfeed(char* text, uint32_t size, CFilterOutput& out);
