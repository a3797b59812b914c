// Registers an installed product folder in the registry store: the values every program reads to
// find the server, the filter programs and definitions, the actions, the validators and the
// English resource catalogue, and the display-messages file unless one is set. Optionally
// configures the data source and the update schedule. With a server running, it writes inside a
// configuration session of that server.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/currency/filterdef.h"
#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "engine/notify/displayfile.h"
#include "engine/notify/reachserver.h"
#include "engine/notify/serversession.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "tools/setup/toolstore.h"

namespace {
const char kUsage[] =
    "usage: vtxsetup <product folder> [--source <address> <filter definition>]...\n"
    "                [--schedule <seconds at most> <seconds at least>]\n"
    "Registers an installed product folder (an absolute path that holds vtxserver and Filters/) in the\n"
    "registry store ($VANTREX_REGISTRY, default /var/lib/vantrex/registry.db).\n"
    "  --source    a data source: an http://, https://, ftp://, file:, fxp: or fxpd: address and the\n"
    "              name of its filter definition in the folder's Filters/ (for example eurfeed.ini);\n"
    "              given several times, the sources are tried in that order. They replace the\n"
    "              configured sources and switch automatic updates on\n"
    "  --schedule  the shortest and the longest time between automatic updates, in seconds\n"
    "              (0 < at most <= at least); switches automatic updates on. Without it the stored\n"
    "              times stay (by default at most every 3600 s, at least every 86400 s)\n";

struct Source {
  const char* address;
  const char* filter;
};

bool Report(const char* what, HRESULT hr) {
  if (SUCCEEDED(hr)) return true;
  const char* why = vtx::SystemErrorText(hr);
  std::fprintf(stderr, "vtxsetup: %s: 0x%08X %s\n", what, hr, why ? why : "");
  return false;
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "vtxsetup: %s\n", why.c_str());
  return 2;
}

bool Put(const char* name, const std::string& text) {
  RegStringValueA value;
  value = text.c_str();
  return Report(name, value.Save(HKEY_LOCAL_MACHINE, g_szAppKey, name));
}

bool Seconds(const char* text, uint32_t* value) {
  char* end = nullptr;
  if (!*text || *text == '-' || *text == '+') return false;
  unsigned long v = std::strtoul(text, &end, 10);
  if (*end || v > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

std::string Text(const char* s) { return s ? s : ""; }

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return vtx::sys::Stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The addresses the update's connection can fetch.
bool SupportedAddress(const char* address) {
  for (const char* scheme : {"http://", "https://", "ftp://", "file:", "fxp:", "fxpd:"})
    if (_strnicmp(address, scheme, std::strlen(scheme)) == 0 && address[std::strlen(scheme)]) return true;
  return false;
}

constexpr DWORD kServerTimeoutMs = 30000;

int Fail(const std::string& why) {
  std::fprintf(stderr, "vtxsetup: %s\n", why.c_str());
  return 1;
}

using vtx::tools::CodeText;

// The values of the product folder, and the data source and schedule when given.
bool Write(const std::string& folder, const std::vector<Source>& sources, bool schedule, uint32_t atMost,
           uint32_t atLeast, std::string& said) {
  // The catalogue answers for every language too ("Resources0000"), so any locale finds it.
  const std::string catalogue = folder + "/Resources/0409/vantrex.cat";
  bool ok = Put("Path", folder) && Put("Filters", folder + "/Filters") && Put("Actions", folder + "/Actions") &&
            Put("Validators", folder + "/Validators") && Put("Server", folder + "/vtxserver") &&
            Put("Resources0409", catalogue) && Put("Resources0000", catalogue) &&
            Report("DisplayMessages", vtx::notify::RegisterDisplayMessages());
  if (!ok) return false;
  // Configuration files that the web service's administrator loads and saves live here.
  if (vtx::sys::Mkdir((folder + "/Configurations").c_str(), 0750) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "vtxsetup: cannot create %s/Configurations: %s\n", folder.c_str(), std::strerror(errno));
    return false;
  }
  if (sources.empty() && !schedule) return true;
  CSettingsAccess lock;
  if (!lock.IsHeld()) return Report("the settings lock", lock.Status());
  CSettings settings;
  if (!settings.Create(nullptr)) return Report("settings", E_OUTOFMEMORY);
  CSettingsData& d = *settings.GetData();
  if (!sources.empty()) {
    // The sources of this installation, in the order they are tried.
    d.Sources.Empty();
    for (const Source& given : sources) {
      auto* source = vtx::heap::New<CDataSource>();
      if (!source || !source->SetURL(given.address) || !source->SetFilter(given.filter) || !d.Sources.Add(source)) {
        delete source;
        return Report("data source", E_OUTOFMEMORY);
      }
    }
  }
  // A system given its sources updates on its schedule without a further step.
  d.AutoUpdate = 1;
  if (schedule) {
    d.UpdateAtMost = atMost;
    d.UpdateAtLeast = atLeast;
  }
  if (!Report("settings", settings.Save())) return false;
  for (uint32_t i = 0; i < d.Sources.GetCount(); ++i)
    said += "data source " + std::to_string(i + 1) + ": " + Text(d.Sources[i]->GetURL()) + " (" +
            Text(d.Sources[i]->GetFilter()) + ")\n";
  said += "automatic updates: on, at most every " + std::to_string(d.UpdateAtMost) + " s, at least every " +
          std::to_string(d.UpdateAtLeast) + " s\n";
  return true;
}

// Why the folder is not an installed product folder, or empty when it is one.
std::string FolderProblem(const std::string& folder) {
  if (folder.empty() || folder[0] != '/') return "the product folder must be an absolute path: " + folder;
  if (!IsDirectory(folder)) return "the product folder " + folder + " does not exist";
  std::string server = folder + "/vtxserver";
  if (vtx::sys::Access(server.c_str(), X_OK) != 0)
    return folder + " is not a product folder: it holds no vtxserver program";
  if (!IsDirectory(folder + "/Filters")) return folder + " is not a product folder: it holds no Filters folder";
  return "";
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 2) return Refuse(std::string("no product folder given\n") + kUsage);
  // A switch where the folder belongs is a switch, not a folder name.
  if (argv[1][0] == '-') {
    if (std::strcmp(argv[1], "--source") == 0 || std::strcmp(argv[1], "--schedule") == 0)
      return Refuse(std::string("no product folder given before ") + argv[1] + "\n" + kUsage);
    return Refuse(std::string("unknown switch ") + argv[1] + "\n" + kUsage);
  }
  std::string folder = argv[1];
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::vector<Source> sources;
  bool schedule = false;
  uint32_t atMost = 0, atLeast = 0;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--source") == 0) {
      if (i + 2 >= argc) return Refuse("--source needs an address and a filter definition");
      sources.push_back({argv[i + 1], argv[i + 2]});
      i += 2;
    } else if (std::strcmp(argv[i], "--schedule") == 0) {
      if (i + 2 >= argc) return Refuse("--schedule needs two numbers of seconds");
      if (!Seconds(argv[i + 1], &atMost) || !Seconds(argv[i + 2], &atLeast))
        return Refuse(std::string("--schedule needs two numbers of seconds, not ") + argv[i + 1] + " " + argv[i + 2]);
      if (atMost == 0 || atMost > atLeast)
        return Refuse("--schedule: the shortest time between updates (at most every " + std::to_string(atMost) +
                      " s) must be above 0 and not above the longest (at least every " + std::to_string(atLeast) +
                      " s)");
      schedule = true;
      i += 2;
    } else if (argv[i][0] == '-') {
      return Refuse(std::string("unknown switch ") + argv[i] + "\n" + kUsage);
    } else {
      return Refuse(std::string("unknown argument ") + argv[i] + "\n" + kUsage);
    }
  }
  std::string problem = FolderProblem(folder);
  if (!problem.empty()) return Refuse(problem);
  for (const Source& source : sources) {
    if (!SupportedAddress(source.address))
      return Refuse(std::string("the address ") + source.address +
                    " has no scheme the update can fetch (http://, https://, ftp://, file:, fxp:, fxpd:)");
    CFilter definition;
    HRESULT hr = E_FAIL;
    if (!definition.Create((folder + "/Filters").c_str(), source.filter, &hr)) {
      const char* why = vtx::SystemErrorText(hr);
      return Refuse(std::string("the filter definition ") + source.filter + " cannot be loaded from " + folder +
                    "/Filters: " + (why ? why : "not a definition file"));
    }
  }

  if (!vtx::tools::CheckStoreToWrite("vtxsetup")) return 1;
  // A running server is asked for the configuration lock first, as a configuration session does,
  // and reads the new configuration when it is unlocked: the change takes effect at once and its
  // own save at the end keeps it.
  std::string said;
  bool ok = false;
  auto write = [&] {
    ok = Write(folder, sources, schedule, atMost, atLeast, said);
    return ok ? S_OK : E_FAIL;
  };
  if (CanSendVXVMessages()) {
    auto call = [](UINT msg, WPARAM wParam, LPARAM lParam, DWORD* reply) {
      return SendVXVMessageTimeout(msg, wParam, lParam, kServerTimeoutMs, reply);
    };
    vtx::notify::SessionStep step = vtx::notify::SessionStep::Lock;
    HRESULT hr = vtx::notify::InConfigurationSession(call, 0, true, write, &step);
    const bool silent = hr == E_SERVER_UNAVAILABLE || hr == E_TIMEOUT;
    if (step == vtx::notify::SessionStep::Lock)
      return Fail(silent ? "the running vtxserver does not answer: " + CodeText(hr)
                         : "the running vtxserver refuses the configuration lock: " + CodeText(hr));
    if (step == vtx::notify::SessionStep::Unlock)
      return Fail("the running vtxserver could not be unlocked: " + CodeText(hr));
  } else {
    write();
  }
  if (!ok) return 1;
  std::printf("registered %s in %s\n%s", folder.c_str(), vtx::RegistryStorePath(), said.c_str());
  return 0;
}
