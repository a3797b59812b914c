// Registers an installed product folder in the registry store: the values every program reads to
// find the server, the filter programs and definitions, the actions, the validators and the
// English resource catalogue.
// Usage: vtxsetup <product folder>
#include <cstdio>
#include <string>

#include "engine/foundation/regvalue.h"
#include "platform/errors.h"

namespace {
const char kAppKey[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0";

bool Put(const char* name, const std::string& text) {
  RegStringValueA value;
  value = text.c_str();
  HRESULT hr = value.Save(HKEY_LOCAL_MACHINE, kAppKey, name);
  if (FAILED(hr)) {
    const char* why = vtx::SystemErrorText(hr);
    std::fprintf(stderr, "vtxsetup: cannot write \"%s\": 0x%08X %s\n", name, hr, why ? why : "");
    return false;
  }
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] != '/') {
    std::fprintf(stderr, "usage: vtxsetup <absolute path of the product folder>\n");
    return 2;
  }
  std::string folder = argv[1];
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  bool ok = Put("Path", folder) && Put("Filters", folder + "/Filters") && Put("Actions", folder + "/Actions") &&
            Put("Validators", folder + "/Validators") && Put("Server", folder + "/vtxserver") &&
            Put("Resources0409", folder + "/Resources/0409/vantrex.cat");
  if (!ok) return 1;
  std::printf("registered %s\n", folder.c_str());
  return 0;
}
