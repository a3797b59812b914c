// cadfeed: rewrites the downloaded rates page of the Bank of Canada as a scrambled
// rates file.
#include "filters/cadfeed/cadparse.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  constexpr FilterProgram program = FilterProgram::Cadfeed;
  CFilterInput input;
  DWORD code = input.Read(program, argc, argv);
  if (!code) {
    CMapIni map;
    CFilterOutput out;
    if (!LoadMapIni(&map))
      code = FilterExitCode(program, FilterFailure::MapIniNotLoaded);
    else if (!(code = ConvertCadfeed(map, input.Text(), input.Size(), out)))
      code = WriteFilterOutput(program, input.Path(), out);
  }
  return vtx::ExitStatusFromCode(code);
}
