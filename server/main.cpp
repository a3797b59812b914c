// vtxserver's entry point.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/native/syscalls.h"
#include "server/app.h"
#include "server/engine.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  vtx::server::ProgramSeams program;
  int status = vtx::server::RunServer(arguments, program.seams());
  // An update that the stop could not end in time is left behind: its thread is not waited for.
  if (program.scheduler.IsBusy()) {
    std::fflush(nullptr);
    vtx::sys::Exit(status);
  }
  return status;
}
