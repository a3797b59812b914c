// The comma-separated text of the Xenon Laboratories data feed: keyword lines (base currency,
// times, rate type, notices, errors) and a line per currency with its rate in field 3.
#pragma once
#include "filters/framework/feedtext.h"
#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"

// The feed split in place into lines of fields.
class CCsvTable {
 public:
  CCsvTable() = default;
  ~CCsvTable();
  CCsvTable(const CCsvTable&) = delete;
  CCsvTable& operator=(const CCsvTable&) = delete;

  // 0, 0x80044002 without memory for the line table, 0x80044003 for the field table.
  DWORD Split(char* text);

  uint32_t Lines() const { return m_lines; }
  uint32_t FieldCount(uint32_t line) const { return line < m_lines ? m_count[line] : 0; }
  // Field `index` (from 1) of the line, or null.
  const char* Field(uint32_t line, uint32_t index) const;
  // The first line whose first field is the keyword (any case); -1 when there is none or it has
  // fewer than two fields.
  int32_t FindLine(const char* keyword) const;
  // Field 2 of that line, or null.
  const char* Value(const char* keyword) const;

 private:
  char** m_fields = nullptr;
  uint32_t* m_count = nullptr;  // fields per line
  uint32_t* m_first = nullptr;  // index of each line's first field
  uint32_t m_lines = 0;
};

// year, month, day, hour, minute, second: runs of digits, one character of any kind between.
bool ParseTimestamp(const char* text, FILETIME* time);

DWORD ConvertQuofeed(CMapIni& map, char* text, uint32_t size, CFilterOutput& out);
