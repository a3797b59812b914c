// The euro reference-rate page of the European Central Bank: its date, its table cells and its
// rows of code, name and rate per euro, turned into the rates text of the filters.
#pragma once
#include <cstdint>

#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"
#include "platform/types.h"

// The page's rates are 14:15 in this zone (W. Europe Standard Time).
constexpr uint32_t kReferenceRateZone = 110;

struct ReferenceRow {
  ReferenceRow* next;
  char code[4];
  char name[80];
  char rate[40];
};

// The first "day Month year" from `text` on (blanks, TABs and tags may stand before each part;
// the month in English, any case). `localTime` gets that day at 14:15:00. The place after the
// year, or null when there is no date.
const char* FindDayMonthDate(const char* text, FILETIME* localTime);

// Table cells one by one: the text of each '<td>' cell, tags left out, entities decoded, blanks
// around it cut, at most 99 characters. Empty cells are passed over.
class CCellReader {
 public:
  static constexpr uint32_t kMaxText = 99;

  explicit CCellReader(const char* text) : m_place(text) {}
  // The next cell's text, or null at the end of the text. The text stays until the next call;
  // the place is then after the tag that ended the cell.
  const char* Next();
  const char* Place() const { return m_place; }

 private:
  const char* m_place;
  uint32_t m_depth = 0;
  uint32_t m_length = 0;
  char m_text[kMaxText + 1] = {};
};

// The next row: a cell of three capital letters (the code, after its [Codes] alias), a name of
// fewer than 80 characters, a cell of fewer than 40 characters that reads whole as a number. A
// cell that does not fit starts the search for a code again. False when the cells end.
bool ParseReferenceRow(CCellReader& cells, CMapIni& map, ReferenceRow* row);

// The whole page into the output text. 0, or the exit code.
DWORD ConvertReferencePage(const char* page, uint32_t size, CMapIni& map, CFilterOutput& output);
