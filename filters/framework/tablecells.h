// HTML table cells read one by one, for the filters of pages that list their rates in tables,
// and the day/month/year date those pages carry.
#pragma once
#include <cstdint>

#include "platform/types.h"

// A cell keeps at most this many characters; the rest of it is dropped.
constexpr uint32_t kCellChars = 99;

class CTableCells {
 public:
  enum class Event { Cell, RowStart, RowEnd, End };

  // `headerCells`: <th> cells count as cells too. `nested`: cells are counted by depth, and text
  // is collected while any cell is open.
  CTableCells(const char* text, bool headerCells, bool nested)
      : m_p(text), m_headerCells(headerCells), m_nested(nested) {}

  // The next cell with text (trimmed, entities decoded; `number` is its place in the row, from
  // 1), a row tag, or the end of the text.
  Event Next(char cell[kCellChars + 1], uint32_t* number = nullptr);

  // Moves to just after the nearest "</tr>" (any case); false when there is none.
  bool SkipPastRowEnd();

  const char* Place() const { return m_p; }
  // The last cell lost characters beyond kCellChars: a number in it is not the page's number.
  bool LastCellCut() const { return m_lastCut; }
  // Cells opened since the last row tag.
  uint32_t CellsInRow() const { return m_cellsInRow; }
  void ResetRow() { m_cellsInRow = 0; }

 private:
  enum class Tag { Other, OpenCell, CloseCell, OpenRow, CloseRow };
  Tag ReadTag() const;
  void SkipTag();
  void StartCollecting();

  const char* m_p;
  bool m_headerCells;
  bool m_nested;
  int32_t m_depth = 0;
  bool m_collecting = false;
  bool m_atStart = true;
  uint32_t m_length = 0;
  bool m_cut = false;
  bool m_lastCut = false;
  uint32_t m_cellsInRow = 0;
  uint32_t m_cellNumber = 0;
  char m_text[kCellChars + 1] = {};
};

// The first date of the page text: two digits, the separator, two digits, the separator, four
// digits and no further digit, with a real day and month; blanks and tags before it are passed
// over. `time` receives the date at 00:00:00; the result is the place after the year, or null.
const char* FindDayMonthYear(const char* text, char separator, FILETIME* time);
