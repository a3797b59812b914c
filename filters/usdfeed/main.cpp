// usdfeed: rewrites the downloaded noon rates page of the Federal Reserve Bank of New York as a
// scrambled rates file.
#include "filters/usdfeed/usdparse.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  constexpr FilterProgram program = FilterProgram::Usdfeed;
  CFilterInput input;
  DWORD code = input.Read(program, argc, argv);
  if (!code) {
    CMapIni map;
    CFilterOutput out;
    if (!LoadMapIni(&map))
      code = FilterExitCode(program, FilterFailure::MapIniNotLoaded);
    else if (!(code = ConvertUsdfeed(map, input.Text(), input.Size(), out)))
      code = WriteFilterOutput(program, input.Path(), out);
  }
  return vtx::ExitStatusFromCode(code);
}
