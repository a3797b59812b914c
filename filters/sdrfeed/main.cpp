// sdrfeed: rewrites the downloaded SDR report of the International Monetary Fund as a scrambled
// rates file.
#include "filters/sdrfeed/sdrparse.h"

int main(int argc, char** argv) {
  static const FilterProgramRun run{true, true, [](CMapIni* map, char* text, uint32_t size, CFilterOutput& out) {
    return ConvertSdrfeed(*map, text, size, out);
  }};
  return RunFilterProgram(FilterProgram::Sdrfeed, run, argc, argv);
}
