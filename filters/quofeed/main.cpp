// quofeed: rewrites the downloaded comma-separated data feed of Xenon Laboratories as a scrambled
// rates file.
#include "filters/framework/htmltext.h"
#include "filters/quofeed/quoparse.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  constexpr FilterProgram program = FilterProgram::Quofeed;
  CFilterInput input;
  DWORD code = input.Read(program, argc, argv);
  if (!code) {
    CMapIni map;
    CFilterOutput out;
    if (IsHtmlText(input.Text()))
      code = FilterExitCode(program, FilterFailure::InputIsWebPage);
    else if (!LoadMapIni(&map))
      code = FilterExitCode(program, FilterFailure::MapIniNotLoaded);
    else if (!(code = ConvertQuofeed(map, input.Text(), input.Size(), out)))
      code = WriteFilterOutput(program, input.Path(), out);
  }
  return vtx::ExitStatusFromCode(code);
}
