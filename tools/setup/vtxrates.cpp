// Prints the stored rates: one line per active currency with its rate per euro and the time of its
// last change, after the texts of the last rates file.
#include <cstdio>

#include "engine/currency/settings.h"
#include "engine/foundation/timetext.h"

int main() {
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
  std::printf("Source: %s\n", rates.Source.c_str());
  char saved[40] = "never";
  FILETIME last = settings.GetLastSaved();
  if (FileTimeToU64(last)) TimeToString(last, saved);
  std::printf("Stored: %s\n", saved);
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
