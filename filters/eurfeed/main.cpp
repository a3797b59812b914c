// eurfeed: rewrites a downloaded reference-rate page of the European Central Bank as the
// scrambled rates file of the server. Its exit code is its only answer.
#include "filters/eurfeed/refrates.h"
#include "filters/framework/mapini.h"

int main(int argc, char** argv) {
  static const FilterProgramRun run{false, true, [](CMapIni* map, char* text, uint32_t size, CFilterOutput& out) {
    return ConvertReferencePage(text, size, *map, out);
  }};
  return RunFilterProgram(FilterProgram::Eurfeed, run, argc, argv);
}
