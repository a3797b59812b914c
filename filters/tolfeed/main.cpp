// tolfeed: rewrites the downloaded rates page of the Bank of Slovenia as a scrambled rates file.
#include "filters/tolfeed/tolparse.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  constexpr FilterProgram program = FilterProgram::Tolfeed;
  CFilterInput input;
  DWORD code = input.Read(program, argc, argv);
  if (!code) {
    CFilterOutput out;
    if (!(code = ConvertTolfeed(input.Text(), input.Size(), out))) code = WriteFilterOutput(program, input.Path(), out);
  }
  return vtx::ExitStatusFromCode(code);
}
