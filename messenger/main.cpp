// vtxmessenger's entry point.
#include <string>
#include <vector>

#include "messenger/messenger.h"

int main(int argc, char** argv) {
  vtx::msg::Messenger module;
  return module.WinMain(std::vector<std::string>(argv + 1, argv + argc));
}
