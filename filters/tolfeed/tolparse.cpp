#include "filters/tolfeed/tolparse.h"

#include <cstring>

#include "filters/framework/ratetime.h"
#include "platform/codepage.h"

namespace {

constexpr FilterProgram kProgram = FilterProgram::Tolfeed;

bool ThreeLetters(const char* cell, char code[4]) {
  if (!IsCurrencyCode(cell)) return false;
  // Codes of the rates file are upper case.
  for (int i = 0; i < 3; ++i) code[i] = static_cast<char>(cell[i] >= 'a' ? cell[i] - 'a' + 'A' : cell[i]);
  code[3] = 0;
  return true;
}

// A rate with a decimal comma.
bool ReadCommaNumber(const char* cell, double* value) {
  char copy[kCellChars + 1];
  std::strncpy(copy, cell, kCellChars);
  copy[kCellChars] = 0;
  if (char* comma = std::strchr(copy, ',')) *comma = '.';
  return ReadWholeRate(copy, value);
}

char* FindHtml(char* text) {
  for (char* p = text; *p; ++p)
    if (_strnicmp(p, "<html>", 6) == 0) return p;
  return nullptr;
}

}  // namespace

bool ReadTolRow(CTableCells& cells, TolLayout layout, TolRecord* record) {
  const uint32_t needed = layout == TolLayout::Full ? 7 : 5;
  const uint32_t codeCell = layout == TolLayout::Full ? 4 : 2;
  const uint32_t unitsCell = layout == TolLayout::Full ? 5 : 0;
  const uint32_t rateCell = layout == TolLayout::Full ? 7 : 5;
  char cell[kCellChars + 1];
  bool haveCode = false, haveUnits = unitsCell == 0, haveRate = false;
  auto restart = [&] {
    haveCode = haveRate = false;
    haveUnits = unitsCell == 0;
    *record = TolRecord{};
  };
  restart();
  for (;;) {
    uint32_t number = 0;
    switch (cells.Next(cell, &number)) {
      case CTableCells::Event::End:
        return false;
      case CTableCells::Event::RowStart:
        restart();
        continue;
      case CTableCells::Event::RowEnd:
        // Only a row whose code, units and rate all passed gives a record.
        if (cells.CellsInRow() >= needed && haveCode && haveUnits && haveRate) {
          if (unitsCell == 0) record->units = 1;
          cells.ResetRow();
          return true;
        }
        restart();
        cells.ResetRow();
        continue;
      case CTableCells::Event::Cell:
        break;
    }
    bool ok = true;
    if (number == codeCell)
      ok = haveCode = ThreeLetters(cell, record->code);
    else if (number == unitsCell)
      ok = haveUnits = !cells.LastCellCut() && ReadCommaNumber(cell, &record->units);
    else if (number == rateCell)
      ok = haveRate = !cells.LastCellCut() && ReadCommaNumber(cell, &record->rate);
    if (ok) continue;
    restart();
    if (!cells.SkipPastRowEnd()) return false;
  }
}

DWORD ParseTolfeed(char* text, CFeedList<TolRecord>& rows, FILETIME* date) {
  char* first = FindHtml(text);
  char* second = first ? FindHtml(first + 6) : nullptr;
  if (second) {
    // Two documents: the first holds the euro row, the second the date and the other rows.
    if (!FindDayMonthYear(second, '.', date)) return FilterExitCode(kProgram, FilterFailure::NoDate);
    // The first document ends where the second begins.
    *second = 0;
    CTableCells full(text, true, false);
    TolRecord record{};
    while (ReadTolRow(full, TolLayout::Full, &record)) {
      if (!IsCode(record.code, "EUR")) continue;
      if (!rows.Append(record)) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
      break;
    }
    *second = '<';
    CTableCells brief(second, true, false);
    while (ReadTolRow(brief, TolLayout::Short, &record))
      if (!rows.Append(record)) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
    return 0;
  }
  const char* place = FindDayMonthYear(text, '.', date);
  if (!place) return FilterExitCode(kProgram, FilterFailure::NoDate);
  CTableCells cells(place, true, false);
  TolRecord record{};
  while (ReadTolRow(cells, TolLayout::Full, &record))
    if (!rows.Append(record)) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
  return 0;
}

DWORD ConvertTolfeed(char* text, uint32_t size, CFilterOutput& out) {
  CFeedList<TolRecord> rows;
  FILETIME date{};
  if (DWORD code = ParseTolfeed(text, rows, &date)) return code;

  const TolRecord* euro = nullptr;
  for (const TolRecord* r = rows.First(); r && !euro; r = r->next)
    if (IsCode(r->code, "EUR")) euro = r;
  // A negative euro rate makes the tolar's rate negative too, and the server refuses the file.
  if (!euro || euro->rate == 0 || euro->units == 0) return FilterExitCode(kProgram, FilterFailure::NoEuro);
  double euroRate = euro->rate / euro->units;

  TolRecord* home = rows.Append();
  if (!home) return FilterExitCode(kProgram, FilterFailure::HomeCurrencyMemory);
  std::memcpy(home->code, "SIT", 4);
  home->units = 1;
  home->rate = 1;

  if (!out.Create(size)) return FilterExitCode(kProgram, FilterFailure::OutputMemory);
  bool dated = LocalTimeToUtc(&date, 95, 43200);
  out.AddGeneralSection(kProgram, dated ? &date : nullptr);
  out.BeginRates();
  for (const TolRecord* r = rows.First(); r; r = r->next) {
    if (IsCode(r->code, "EUR") || r->rate == 0) continue;
    out.AddRate(r->code, euroRate / r->rate * r->units);
  }
  out.AddEuroRate();
  return out.Failed() ? FilterExitCode(kProgram, FilterFailure::OutputMemory) : 0;
}
