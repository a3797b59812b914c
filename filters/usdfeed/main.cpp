// usdfeed: rewrites the downloaded noon rates page of the Federal Reserve Bank of New York as a
// scrambled rates file.
#include "filters/usdfeed/usdparse.h"

int main(int argc, char** argv) {
  static const FilterProgramRun run{false, true, [](CMapIni* map, char* text, uint32_t size, CFilterOutput& out) {
    return ConvertUsdfeed(*map, text, size, out);
  }};
  return RunFilterProgram(FilterProgram::Usdfeed, run, argc, argv);
}
