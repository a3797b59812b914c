// sovfeed: rewrites the downloaded rates page of the Central Bank of the Russian Federation as a
// scrambled rates file.
#include "filters/sovfeed/sovparse.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  constexpr FilterProgram program = FilterProgram::Sovfeed;
  CFilterInput input;
  DWORD code = input.Read(program, argc, argv);
  if (!code) {
    CMapIni map;
    CFilterOutput out;
    if (!LoadMapIni(&map))
      code = FilterExitCode(program, FilterFailure::MapIniNotLoaded);
    else if (!(code = ConvertSovfeed(map, input.Text(), input.Size(), out)))
      code = WriteFilterOutput(program, input.Path(), out);
  }
  return vtx::ExitStatusFromCode(code);
}
