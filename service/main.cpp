// vtxservice's entry point.
#include <string>
#include <vector>

#include "service/vantrexservice.h"

int main(int argc, char** argv) {
  vtx::svc::VantrexService module;
  return module.WinMain(std::vector<std::string>(argv + 1, argv + argc));
}
