// Prints the stored rates: one line per active currency with its rate per euro and the time of its
// last change, after the texts of the last rates file. Reads an existing store only.
#include <cstdio>
#include <cstring>

#include "engine/currency/settings.h"
#include "engine/foundation/timetext.h"
#include "tools/setup/toolstore.h"

namespace {
const char kUsage[] =
    "usage: vtxrates\n"
    "Prints the exchange rates stored in the registry store ($VANTREX_REGISTRY, default\n"
    "/var/lib/vantrex/registry.db): the source of the last rates file and, per currency, its rate\n"
    "per euro and the time of its last change.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc > 1) {
    std::fprintf(stderr, "vtxrates: unknown argument %s\n%s", argv[1], kUsage);
    return 2;
  }
  // The store is only read here: a missing one is not made, and nothing in it is changed.
  switch (vtx::tools::OpenStoreToRead("vtxrates")) {
    case vtx::tools::StoreState::Failed: return 1;
    case vtx::tools::StoreState::NoAppKey: std::puts("no rates stored yet"); return 0;
    case vtx::tools::StoreState::Ready: break;
  }
  // Read under the settings lock, so that a store being written is never seen half-done.
  CSettingsAccess lock;
  if (!lock.IsHeld()) {
    std::fprintf(stderr, "vtxrates: the settings lock could not be had (0x%08X)\n", static_cast<unsigned>(lock.Status()));
    return 1;
  }
  CSettings settings;
  if (!settings.Create(nullptr)) {
    std::fprintf(stderr, "vtxrates: out of memory\n");
    return 1;
  }
  const CRatesData& rates = settings.GetRates();
  // Rates are stored once an update has accepted them.
  if (!FileTimeToU64(rates.LastLoaded)) {
    std::puts("no rates stored yet");
    return 0;
  }
  char loaded[40] = "";
  TimeToString(rates.LastLoaded, loaded);
  std::printf("Source: %s\n", rates.Source.c_str());
  std::printf("Updated: %s\n", loaded);
  for (uint32_t i = 0; i < rates.Active.GetCount(); ++i) {
    const CurrencyInfo& r = *rates[i];
    char changed[40] = "-";
    if (FileTimeToU64(r.ftLastChange)) TimeToString(r.ftLastChange, changed);
    if (r.dRate < 0)
      std::printf("%-4s %18s  %s\n", r.szCode, "(not set)", changed);
    else
      std::printf("%-4s %18.6f  %s\n", r.szCode, r.dRate, changed);
  }
  return 0;
}
