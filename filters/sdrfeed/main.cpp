// sdrfeed: rewrites the downloaded SDR report of the International Monetary Fund as a scrambled
// rates file.
#include "filters/framework/htmltext.h"
#include "filters/sdrfeed/sdrparse.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  constexpr FilterProgram program = FilterProgram::Sdrfeed;
  CFilterInput input;
  DWORD code = input.Read(program, argc, argv);
  if (!code) {
    CMapIni map;
    CFilterOutput out;
    if (IsHtmlText(input.Text()))
      code = FilterExitCode(program, FilterFailure::InputIsWebPage);
    else if (!LoadMapIni(&map))
      code = FilterExitCode(program, FilterFailure::MapIniNotLoaded);
    else if (!(code = ConvertSdrfeed(map, input.Text(), input.Size(), out)))
      code = WriteFilterOutput(program, input.Path(), out);
  }
  return vtx::ExitStatusFromCode(code);
}
