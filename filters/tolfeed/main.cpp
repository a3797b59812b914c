// tolfeed: rewrites the downloaded rates page of the Bank of Slovenia as a scrambled rates file.
#include "filters/tolfeed/tolparse.h"

int main(int argc, char** argv) {
  static const FilterProgramRun run{false, false, [](CMapIni* map, char* text, uint32_t size, CFilterOutput& out) {
    (void)map;
    return ConvertTolfeed(text, size, out);
  }};
  return RunFilterProgram(FilterProgram::Tolfeed, run, argc, argv);
}
