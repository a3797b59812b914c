// quofeed: rewrites the downloaded comma-separated data feed of Xenon Laboratories as a scrambled
// rates file.
#include "filters/quofeed/quoparse.h"

int main(int argc, char** argv) {
  static const FilterProgramRun run{true, true, [](CMapIni* map, char* text, uint32_t size, CFilterOutput& out) {
    return ConvertQuofeed(*map, text, size, out);
  }};
  return RunFilterProgram(FilterProgram::Quofeed, run, argc, argv);
}
