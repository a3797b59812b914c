// The registry store: reading a configuration-sized key, saving and loading the rates key, and
// single value reads. The store lives in a temporary directory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "engine/foundation/inidataregistry.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/servercommands.h"
#include "platform/native/productpaths.h"

namespace {

const char kValues[] = VTX_APP_KEY;
const char kRates[] = VTX_APP_KEY "\\INI";
constexpr int kValueCount = 300;
constexpr int kSections = 240;

// A private store with a 300-value key, made once.
void Store() {
  static bool made = [] {
    static char dir[] = "/tmp/vtxbench-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    setenv(vtx::env::kRegistry, (std::string(dir) + "/registry.db").c_str(), 1);
    std::atexit([] {
      std::string cmd = std::string("rm -rf '") + dir + "'";
      if (std::system(cmd.c_str()) != 0) {
      }
    });
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kValues, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    vtx::RegTransaction tx;
    for (int i = 0; i < kValueCount; ++i) {
      std::string name = "Setting" + std::to_string(i);
      if (i % 3 == 0) {
        DWORD v = static_cast<DWORD>(i);
        RegSetValueExA(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
      } else {
        std::string text = "/usr/share/vantrex/value-" + std::to_string(i);
        RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
      }
    }
    tx.Commit();
    RegCloseKey(k);
    return true;
  }();
  (void)made;
}

// The rates data: one section per currency with the fields a currency record stores.
void FillRates(CIniDataRegistryA& data) {
  data.SetBaseKey(HKEY_LOCAL_MACHINE, kRates);
  data.AddString("LastSaved", "2026-12-10T10:00:00Z");
  for (int s = 0; s < kSections; ++s) {
    char code[8];
    std::snprintf(code, sizeof code, "C%03d", s);
    data.AddSection(code);
    data.AddString("Rate", "1.0876000000");
    data.AddString("LastChange", "2026-12-10T09:15:00Z");
    data.AddULong("Flags", 0);
    data.AddString("ISO", code);
    data.AddULong("Numeric", 978);
    data.AddULong("Unit", 100);
    data.AddULong("Source", 2);
    data.AddString("Name", "Currency name");
    data.AddString("Symbol", "$");
  }
}

void BM_OpenAndRead300Values(benchmark::State& state) {
  Store();
  char name[64];
  BYTE data[256];
  for (auto _ : state) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kValues, 0, KEY_READ, &k)) state.SkipWithError("open");
    vtx::RegTransaction snapshot(vtx::RegTransaction::Read);
    DWORD count = 0;
    RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                     nullptr);
    for (DWORD i = 0; i < count; ++i) {
      DWORD n = sizeof name, size = sizeof data, type = 0;
      if (RegEnumValueA(k, i, name, &n, nullptr, &type, data, &size)) state.SkipWithError("enum");
    }
    RegCloseKey(k);
    benchmark::DoNotOptimize(data);
  }
  state.SetItemsProcessed(state.iterations() * kValueCount);
}
BENCHMARK(BM_OpenAndRead300Values)->Unit(benchmark::kMillisecond);

void BM_RatesSave240Sections(benchmark::State& state) {
  Store();
  CIniDataRegistryA data;
  FillRates(data);
  for (auto _ : state)
    if (data.Save() != S_OK) state.SkipWithError("save");
  state.SetItemsProcessed(state.iterations() * data.GetCount());
}
BENCHMARK(BM_RatesSave240Sections)->Unit(benchmark::kMillisecond);

void BM_RatesLoad240Sections(benchmark::State& state) {
  Store();
  {
    CIniDataRegistryA data;
    FillRates(data);
    data.Save();
  }
  uint32_t rows = 0;
  for (auto _ : state) {
    CIniDataRegistryA data;
    data.SetBaseKey(HKEY_LOCAL_MACHINE, kRates);
    if (data.Load(nullptr, 0) != S_OK) state.SkipWithError("load");
    rows = data.GetCount();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_RatesLoad240Sections)->Unit(benchmark::kMillisecond);

// One value by path, as the settings code reads single values (open, query, close).
void BM_StringValueLoad(benchmark::State& state) {
  Store();
  int i = 1;
  for (auto _ : state) {
    RegStringValueA v;
    std::string name = "Setting" + std::to_string(i);
    if (v.Load(HKEY_LOCAL_MACHINE, kValues, name.c_str()) != S_OK) state.SkipWithError("load");
    i = i % (kValueCount - 2) + 1;
    if (i % 3 == 0) ++i;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StringValueLoad);

// Values read per second on an open key.
void BM_QueryValueOpenKey(benchmark::State& state) {
  Store();
  HKEY k = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kValues, 0, KEY_READ, &k);
  BYTE data[256];
  int i = 0;
  std::string names[kValueCount];
  for (int j = 0; j < kValueCount; ++j) names[j] = "Setting" + std::to_string(j);
  for (auto _ : state) {
    DWORD size = sizeof data, type = 0;
    if (RegQueryValueExA(k, names[i].c_str(), nullptr, &type, data, &size)) state.SkipWithError("query");
    i = (i + 1) % kValueCount;
  }
  RegCloseKey(k);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueryValueOpenKey);

}  // namespace
