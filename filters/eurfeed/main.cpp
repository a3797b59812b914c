// eurfeed: rewrites a downloaded reference-rate page of the European Central Bank as the
// scrambled rates file of the server. Its exit code is its only answer.
#include "filters/eurfeed/refrates.h"
#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"
#include "platform/process.h"

namespace {

constexpr FilterProgram kProgram = FilterProgram::Eurfeed;

// Everything is released before the program ends, so the exit code is all that is left.
DWORD Run(int argc, const char* const* argv) {
  CFilterInput input;
  if (DWORD code = input.Read(kProgram, argc, argv)) return code;
  CMapIni map;
  if (!LoadMapIni(&map)) return FilterExitCode(kProgram, FilterFailure::MapIniNotLoaded);
  CFilterOutput output;
  if (DWORD code = ConvertReferencePage(input.Text(), input.Size(), map, output)) return code;
  return WriteFilterOutput(kProgram, input.Path(), output);
}

}  // namespace

int main(int argc, char** argv) { vtx::ExitWithCode(Run(argc, argv)); }
