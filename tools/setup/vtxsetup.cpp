// Registers an installed product folder in the registry store: the values every program reads to
// find the server, the filter programs and definitions, the actions, the validators and the
// English resource catalogue. Optionally configures the data source and the update schedule.
// Usage: vtxsetup <product folder> [--source <address> <filter>] [--schedule <at most> <at least>]
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "platform/errors.h"

namespace {

bool Report(const char* what, HRESULT hr) {
  if (SUCCEEDED(hr)) return true;
  const char* why = vtx::SystemErrorText(hr);
  std::fprintf(stderr, "vtxsetup: %s: 0x%08X %s\n", what, hr, why ? why : "");
  return false;
}

bool Put(const char* name, const std::string& text) {
  RegStringValueA value;
  value = text.c_str();
  return Report(name, value.Save(HKEY_LOCAL_MACHINE, g_szAppKey, name));
}

int Usage() {
  std::fprintf(stderr,
               "usage: vtxsetup <absolute path of the product folder> [--source <address> <filter>]"
               " [--schedule <seconds at most> <seconds at least>]\n");
  return 2;
}

bool Seconds(const char* text, uint32_t* value) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (!*text || *end || v > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] != '/') return Usage();
  std::string folder = argv[1];
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const char* address = nullptr;
  const char* filter = nullptr;
  bool schedule = false;
  uint32_t atMost = 0, atLeast = 0;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--source") == 0 && i + 2 < argc) {
      address = argv[++i];
      filter = argv[++i];
    } else if (std::strcmp(argv[i], "--schedule") == 0 && i + 2 < argc) {
      if (!Seconds(argv[i + 1], &atMost) || !Seconds(argv[i + 2], &atLeast)) return Usage();
      schedule = true;
      i += 2;
    } else {
      return Usage();
    }
  }
  bool ok = Put("Path", folder) && Put("Filters", folder + "/Filters") && Put("Actions", folder + "/Actions") &&
            Put("Validators", folder + "/Validators") && Put("Server", folder + "/vtxserver") &&
            Put("Resources0409", folder + "/Resources/0409/vantrex.cat");
  if (!ok) return 1;
  // Configuration files that the web service's administrator loads and saves live here.
  if (mkdir((folder + "/Configurations").c_str(), 0750) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "vtxsetup: cannot create %s/Configurations: %s\n", folder.c_str(), std::strerror(errno));
    return 1;
  }
  if (address || schedule) {
    CSettingsAccess lock;
    CSettings settings;
    if (!settings.Create(nullptr)) {
      Report("settings", E_OUTOFMEMORY);
      return 1;
    }
    CSettingsData& d = *settings.GetData();
    if (address) {
      // The one data source of this installation.
      auto* source = new (std::nothrow) CDataSource;
      bool made = source && source->SetURL(address) && source->SetFilter(filter);
      if (made) {
        d.Sources.Empty();
        made = d.Sources.Add(source);
      }
      if (!made) {
        delete source;
        Report("data source", E_OUTOFMEMORY);
        return 1;
      }
    }
    if (schedule) {
      d.AutoUpdate = 1;
      d.UpdateAtMost = atMost;
      d.UpdateAtLeast = atLeast;
    }
    if (!Report("settings", settings.Save())) return 1;
  }
  std::printf("registered %s\n", folder.c_str());
  return 0;
}
