// What the row parsers of the filters share: numbers as rates, currency codes, dates of
// the rates, and the list of parsed rows.
#pragma once
#include <cstdint>
#include <cstring>
#include <new>

#include "filters/framework/mapini.h"
#include "platform/heap.h"
#include "platform/types.h"

// What a number text at a place is worth as a rate.
enum class FeedNumber {
  None,     // no number starts here
  Rate,     // a finite number other than zero, as strtod reads it: signs and exponents included
  Refused,  // a number that is no rate: zero, infinity, nan, beyond the range of a double, or
            // one that runs on into a comma and digits
};

// Reads the number where strtod would, in the C locale whatever the process locale is. `end`
// receives where strtod stops (the text itself for None); `value` the number for Rate. A negative
// rate is a Rate: it goes into the output, and the server refuses the whole file for it.
FeedNumber ReadFeedNumber(const char* text, const char** end, double* value);

// The whole text (leading and trailing blanks, TABs, CR and LF aside) is a rate.
bool ReadWholeRate(const char* text, double* value);

// The whole text reads as one number as strtod reads it in the C locale, whatever its value;
// nothing before or after it, not even a blank.
bool ReadsWholeAsNumber(const char* text);

// A character at which a number text of a row can start: a digit, a sign or a point.
inline bool IsNumberStart(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'; }

// Three ASCII letters: only such codes are written as keys of the rates file.
bool IsCurrencyCode(const char* code);
// The same, compared with a code ignoring case.
bool IsCode(const char* code, const char* wanted);

// "January" ... "December" at the start of the text, ignoring case, the first that fits: 1 to
// 12 with the length of the name, 0 when none.
int MatchMonthName(const char* text, uint32_t* length);

// A year below 100 is 2000 + year below 70, else 1900 + year.
uint32_t FullYear(uint32_t year);

// The FILETIME of a calendar date and time; false when there is no such moment.
bool MakeFeedTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute, uint32_t second,
                  FILETIME* out);

// Looks currency names (map.ini, as prefixes) up at place after place of one text, as the
// column and line filters scan their pages.
class CNameScanner {
 public:
  CNameScanner(CMapIni& map, const char* text);
  // The three-letter code of the currency whose name starts at `place` of the text.
  bool LookupAt(const char* place, char code[4]);

 private:
  CMapIni& m_map;
  CMapDocument m_document;
  // The names by their first character: a place tries only the names that can start there.
  CNameIndex m_index;
  bool m_indexed = false;
  // Bytes at which some name may start: most places of a page are passed over unseen, so the
  // scan of a large page stays quick.
  bool m_mayStart[256] = {};
};

// Digits at the text as an unsigned number (saturating); false when there is no digit.
bool ReadDigits(const char*& text, uint32_t* value);

// Parsed rows in document order. R has a member `R* next`; records are zeroed when made and
// live as long as the list.
template <class R>
class CFeedList {
 public:
  CFeedList() = default;
  ~CFeedList() { Clear(); }
  CFeedList(const CFeedList&) = delete;
  CFeedList& operator=(const CFeedList&) = delete;

  // A new zeroed record at the tail, or null when out of memory.
  R* Append() {
    void* block = GlobalAlloc(0, sizeof(R));
    if (!block) return nullptr;
    std::memset(block, 0, sizeof(R));
    R* record = new (block) R();
    if (m_tail)
      m_tail->next = record;
    else
      m_head = record;
    m_tail = record;
    ++m_count;
    return record;
  }
  // A copy of `from` at the tail.
  R* Append(const R& from) {
    R* record = Append();
    if (!record) return nullptr;
    R* next = record->next;
    *record = from;
    record->next = next;
    return record;
  }

  R* First() const { return m_head; }
  uint32_t Count() const { return m_count; }
  bool Empty() const { return m_count == 0; }

  void Clear() {
    for (R* r = m_head; r;) {
      R* next = r->next;
      r->~R();
      GlobalFree(r);
      r = next;
    }
    m_head = m_tail = nullptr;
    m_count = 0;
  }

 private:
  R* m_head = nullptr;
  R* m_tail = nullptr;
  uint32_t m_count = 0;
};
