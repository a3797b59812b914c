#include "filters/sovfeed/sovparse.h"

#include "filters/framework/ratetime.h"

namespace {
constexpr FilterProgram kProgram = FilterProgram::Sovfeed;
}

bool ReadSovRow(CTableCells& cells, CMapIni& map, SovRecord* record) {
  char cell[kCellChars + 1];
  int state = 0;
  for (;;) {
    CTableCells::Event event = cells.Next(cell);
    if (event == CTableCells::Event::End) return false;
    if (event != CTableCells::Event::Cell) continue;
    bool moved = false;
    switch (state) {
      case 0:
        // Cells before the units (a letter code, say) are passed over.
        if (!cells.LastCellCut() && ReadWholeRate(cell, &record->units)) state = 1;
        continue;
      case 1:
        moved = LookupCurrencyName(map, cell, true, record->code) && IsCurrencyCode(record->code);
        break;
      case 2:
        moved = !cells.LastCellCut() && ReadWholeRate(cell, &record->rate);
        if (moved) return true;
        break;
    }
    if (moved) {
      ++state;
      continue;
    }
    if (!cells.SkipPastRowEnd()) return false;
    state = 0;
  }
}

DWORD ParseSovfeed(CMapIni& map, const char* text, CFeedList<SovRecord>& rows, FILETIME* date) {
  const char* place = FindDayMonthYear(text, '/', date);
  if (!place) return FilterExitCode(kProgram, FilterFailure::NoDate);
  CTableCells cells(place, false, true);
  SovRecord record{};
  while (ReadSovRow(cells, map, &record)) {
    if (!rows.Append(record)) return FilterExitCode(kProgram, FilterFailure::RecordMemory);
    record = SovRecord{};
  }
  return 0;
}

DWORD ConvertSovfeed(CMapIni& map, const char* text, uint32_t size, CFilterOutput& out) {
  CFeedList<SovRecord> rows;
  FILETIME date{};
  if (DWORD code = ParseSovfeed(map, text, rows, &date)) return code;

  const SovRecord* euro = nullptr;
  for (const SovRecord* r = rows.First(); r && !euro; r = r->next)
    if (IsCode(r->code, "EUR")) euro = r;
  // A negative euro rate makes the rouble's rate negative too, and the server refuses the file.
  if (!euro || euro->rate == 0 || euro->units == 0) return FilterExitCode(kProgram, FilterFailure::NoEuro);
  // Roubles per euro: the euro's row may quote more than one euro as well.
  double euroRate = euro->rate / euro->units;

  SovRecord* home = rows.Append();
  if (!home) return FilterExitCode(kProgram, FilterFailure::HomeCurrencyMemory);
  std::memcpy(home->code, "RUB", 4);
  home->units = 1;
  home->rate = 1;

  if (!out.Create(size)) return FilterExitCode(kProgram, FilterFailure::OutputMemory);
  bool dated = LocalTimeToUtc(&date, 145, 43200);
  out.AddGeneralSection(kProgram, dated ? &date : nullptr);
  out.BeginRates();
  for (const SovRecord* r = rows.First(); r; r = r->next) {
    if (IsCode(r->code, "EUR") || r->rate == 0) continue;
    out.AddRate(r->code, euroRate / r->rate * r->units);
  }
  out.AddEuroRate();
  return out.Failed() ? FilterExitCode(kProgram, FilterFailure::OutputMemory) : 0;
}
