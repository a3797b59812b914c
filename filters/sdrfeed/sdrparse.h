// The International Monetary Fund's text report of currency values in SDR: a header line of up
// to 32 dates in the block "SDRs per Currency unit" and a line per currency with a value per date.
#pragma once
#include "filters/framework/feedtext.h"
#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"

constexpr uint32_t kSdrColumns = 32;
constexpr uint32_t kSdrTokenChars = 199;

struct SdrRecord {
  SdrRecord* next;
  char code[4];
  uint32_t count;               // values read
  double values[kSdrColumns];  // SDR per unit of the currency, per date column; 0 when missing
};

struct SdrHeader {
  uint32_t count;
  FILETIME dates[kSdrColumns];
};

// Tokens of the report: blanks, TABs and line ends separate them, a comma ends a field (so two
// commas in a row hold an empty field), and a token in double quotes may hold blanks.
class CSdrTokens {
 public:
  explicit CSdrTokens(const char* text) : m_p(text) {}
  // False at the end of the text. `line` receives the line the token starts on.
  bool Read(char token[kSdrTokenChars + 1], uint32_t* line = nullptr);
  // Only blanks, TABs, CR and commas stand before the next line feed or the end of the text.
  bool AtLineEnd() const;
  // Moves to the next line feed.
  void SkipLine();
  const char* Place() const { return m_p; }

 private:
  const char* m_p;
  uint32_t m_line = 0;
};

// A column date: a month name, the day and the year (1900 on), as in "May 02, 2005"; 12:00 local.
bool ParseSdrDate(const char* token, FILETIME* date);

// The header line of the block; the place after it, or null when there is none.
const char* FindDateHeader(const char* text, SdrHeader* header);

enum class SdrRow { Row, End };
// The next currency line: its code (map.ini name, whole) and values.
SdrRow ReadSdrRow(CSdrTokens& tokens, CMapIni& map, SdrRecord* record);

// Header and rows. 0, or the exit code.
DWORD ParseSdrfeed(CMapIni& map, const char* text, SdrHeader* header, CFeedList<SdrRecord>& rows);

DWORD ConvertSdrfeed(CMapIni& map, const char* text, uint32_t size, CFilterOutput& out);
