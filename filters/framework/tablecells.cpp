#include "filters/framework/tablecells.h"

#include <cstring>

#include "filters/framework/feedtext.h"
#include "filters/framework/htmltext.h"
#include "platform/codepage.h"

namespace {

bool Is(char c, char lower) { return c == lower || c == lower - 'a' + 'A'; }
bool EndsTagName(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

CTableCells::Tag CTableCells::ReadTag() const {
  const char* t = m_p + 1;
  bool closing = *t == '/';
  if (closing) ++t;
  if (!Is(t[0], 't') || !t[1] || !EndsTagName(t[2])) return Tag::Other;
  if (Is(t[1], 'd') || (m_headerCells && Is(t[1], 'h'))) return closing ? Tag::CloseCell : Tag::OpenCell;
  if (Is(t[1], 'r')) return closing ? Tag::CloseRow : Tag::OpenRow;
  return Tag::Other;
}

void CTableCells::SkipTag() {
  const char* close = std::strchr(m_p, '>');
  m_p = close ? close + 1 : m_p + std::strlen(m_p);
}

void CTableCells::StartCollecting() {
  m_collecting = true;
  m_atStart = true;
  m_length = 0;
  m_cut = false;
}

CTableCells::Event CTableCells::Next(char cell[kCellChars + 1], uint32_t* number) {
  while (*m_p) {
    if (*m_p == '<') {
      Tag tag = ReadTag();
      SkipTag();
      switch (tag) {
        case Tag::OpenCell:
          ++m_depth;
          ++m_cellsInRow;
          m_cellNumber = m_cellsInRow;
          StartCollecting();
          break;
        case Tag::CloseCell: {
          if (m_depth > 0) --m_depth;
          bool had = m_collecting;
          uint32_t length = m_length;
          while (length && (m_text[length - 1] == ' ' || m_text[length - 1] == '\t' || m_text[length - 1] == '\r' ||
                            m_text[length - 1] == '\n'))
            --length;
          m_collecting = false;
          if (m_nested && m_depth > 0) StartCollecting();
          if (had && length) {
            std::memcpy(cell, m_text, length);
            cell[length] = 0;
            m_lastCut = m_cut;
            if (number) *number = m_cellNumber;
            return Event::Cell;
          }
          break;
        }
        case Tag::OpenRow:
          m_cellsInRow = 0;
          return Event::RowStart;
        case Tag::CloseRow:
          return Event::RowEnd;
        case Tag::Other:
          break;
      }
      continue;
    }
    if (!m_collecting) {
      ++m_p;
      continue;
    }
    if (m_atStart) {
      if (*m_p == ' ' || *m_p == '\t' || *m_p == '\r' || *m_p == '\n') {
        ++m_p;
        continue;
      }
      if (_strnicmp(m_p, "&nbsp;", 6) == 0) {
        m_p += 6;
        continue;
      }
    }
    char c = *m_p;
    uint32_t taken = 1;
    if (c == '&') {
      char byte = 0;
      uint32_t n = DecodeEntityAnsi(m_p + 1, &byte);
      if (n) {
        c = byte;
        taken += n;
      }
    }
    m_p += taken;
    m_atStart = false;
    if (m_length < kCellChars)
      m_text[m_length++] = c;
    else
      m_cut = true;
  }
  return Event::End;
}

bool CTableCells::SkipPastRowEnd() {
  for (const char* p = m_p; *p; ++p) {
    if (p[0] == '<' && p[1] == '/' && Is(p[2], 't') && Is(p[3], 'r') && p[4] == '>') {
      m_p = p + 5;
      m_depth = 0;
      m_collecting = false;
      m_cellsInRow = 0;
      return true;
    }
  }
  m_p += std::strlen(m_p);
  return false;
}

const char* FindDayMonthYear(const char* text, char separator, FILETIME* time) {
  if (!text) return nullptr;
  const char* p = text;
  for (;;) {
    const char* start = p;
    while (*p == ' ' || *p == '\t') ++p;
    while (*p == '<') {
      const char* close = std::strchr(p, '>');
      p = close ? close + 1 : p + std::strlen(p);
    }
    if (p != start) continue;
    if (!*p) return nullptr;
    if (IsDigit(p[0])) {
      if (IsDigit(p[1]) && p[2] == separator && IsDigit(p[3]) && IsDigit(p[4]) && p[5] == separator &&
          IsDigit(p[6]) && IsDigit(p[7]) && IsDigit(p[8]) && IsDigit(p[9]) && !IsDigit(p[10])) {
        uint32_t day = static_cast<uint32_t>((p[0] - '0') * 10 + (p[1] - '0'));
        uint32_t month = static_cast<uint32_t>((p[3] - '0') * 10 + (p[4] - '0'));
        uint32_t year = static_cast<uint32_t>((p[6] - '0') * 1000 + (p[7] - '0') * 100 + (p[8] - '0') * 10 + (p[9] - '0'));
        FILETIME ft;
        if (day >= 1 && day <= 31 && month >= 1 && month <= 12 && MakeFeedTime(year, month, day, 0, 0, 0, &ft)) {
          *time = ft;
          return p + 10;
        }
        p += 10;
        continue;
      }
    }
    ++p;
  }
}
