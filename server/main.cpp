// vtxserver's entry point.
#include <string>
#include <vector>

#include "server/app.h"
#include "server/engine.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  vtx::server::ProgramSeams program;
  return vtx::server::RunServer(arguments, program.seams());
}
