// cadfeed: rewrites the downloaded rates page of the Bank of Canada as a scrambled
// rates file.
#include "filters/cadfeed/cadparse.h"

int main(int argc, char** argv) {
  static const FilterProgramRun run{false, true, [](CMapIni* map, char* text, uint32_t size, CFilterOutput& out) {
    return ConvertCadfeed(*map, text, size, out);
  }};
  return RunFilterProgram(FilterProgram::Cadfeed, run, argc, argv);
}
