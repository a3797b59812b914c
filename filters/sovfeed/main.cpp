// sovfeed: rewrites the downloaded rates page of the Central Bank of the Russian Federation as a
// scrambled rates file.
#include "filters/sovfeed/sovparse.h"

int main(int argc, char** argv) {
  static const FilterProgramRun run{false, true, [](CMapIni* map, char* text, uint32_t size, CFilterOutput& out) {
    return ConvertSovfeed(*map, text, size, out);
  }};
  return RunFilterProgram(FilterProgram::Sovfeed, run, argc, argv);
}
