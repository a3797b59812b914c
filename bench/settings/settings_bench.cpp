// The settings operations that run on every web-service call and after every update: loading a
// full configuration with all 237 currencies active, storing those rates, and copying the block.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/currency/currencydata.h"
#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/inidataregistry.h"

namespace {

std::string g_dir;

// Every currency of the built-in table at a rate of its own.
std::string FullRatesFile() {
  std::string text = "[General]\nApplication = Bench\nSource = Bench\nDate = 2026-12-10T14:15:00Z\n[EUR]\n";
  for (uint32_t i = 0; i < kCurrencyDataCount; ++i) {
    char rate[32];
    std::snprintf(rate, sizeof rate, " = %.4f\n", 1.0 + i * 0.731);
    text += std::string(g_CurrencyData[i].szCode) + rate;
  }
  return text;
}

HRESULT Apply(CSettings& s, const std::string& text, bool stored) {
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text.c_str()) || ini.Load(g_IniTable, kIniTableCount) != 0) return E_FAIL;
  s.LoadINIBegin();
  HRESULT hr = s.LoadINI(ini, nullptr, nullptr, stored);
  if (hr == 0) s.LoadINIEnd();
  return hr;
}

// A store holding a whole configuration: every value, the currency database, the locales and the
// rates of all currencies.
void MakeStore() {
  char tmpl[] = "/tmp/vtx-bench-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  g_dir = tmpl;
  setenv("VANTREX_REGISTRY", (g_dir + "/registry.db").c_str(), 1);
  setenv("VANTREX_RUNTIME_DIR", g_dir.c_str(), 1);
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  s.GetData()->OnlyUpdateExisting = 0;
  s.GetData()->ProxyPassword = "secret";
  s.GetData()->CustomAction = "after.sh";
  if (Apply(s, FullRatesFile(), false) != 0 || !s.GetLocaleList() || s.Save() != 0) std::abort();
}

void BM_Load(benchmark::State& state) {
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  for (auto _ : state) {
    s.Load(false);
    benchmark::DoNotOptimize(s.GetRates().Active.GetCount());
  }
  if (s.GetRates().Active.GetCount() != kCurrencyDataCount) state.SkipWithError("not all currencies loaded");
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// What a web-service session does: a new block, loaded under the lock.
void BM_CreateUnderLock(benchmark::State& state) {
  for (auto _ : state) {
    CSettingsAccess lock;
    CSettings s;
    if (!s.Create(nullptr)) std::abort();
    benchmark::DoNotOptimize(s.GetData());
  }
}
BENCHMARK(BM_CreateUnderLock)->Unit(benchmark::kMillisecond);

void BM_SaveINI(benchmark::State& state) {
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  for (auto _ : state)
    if (s.SaveINI() != 0) state.SkipWithError("SaveINI failed");
}
BENCHMARK(BM_SaveINI)->Unit(benchmark::kMillisecond);

// Applying a fresh download of all currencies.
void BM_LoadINI(benchmark::State& state) {
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  const std::string text = FullRatesFile();
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text.c_str()) || ini.Load(g_IniTable, kIniTableCount) != 0) std::abort();
  for (auto _ : state) {
    s.LoadINIBegin();
    if (s.LoadINI(ini, nullptr, nullptr, false) != 0) state.SkipWithError("LoadINI failed");
    s.LoadINIEnd();
  }
}
BENCHMARK(BM_LoadINI)->Unit(benchmark::kMicrosecond);

void BM_CopyFrom(benchmark::State& state) {
  CSettings s, t;
  if (!s.Create(nullptr)) std::abort();
  for (auto _ : state)
    if (!t.CopyFrom(s)) state.SkipWithError("CopyFrom failed");
}
BENCHMARK(BM_CopyFrom)->Unit(benchmark::kMicrosecond);

void BM_CopyFromWithLocales(benchmark::State& state) {
  CSettings s, t;
  if (!s.Create(nullptr) || !s.GetLocaleList()) std::abort();
  for (auto _ : state)
    if (!t.CopyFrom(s)) state.SkipWithError("CopyFrom failed");
}
BENCHMARK(BM_CopyFromWithLocales)->Unit(benchmark::kMicrosecond);


// Where a load's time goes: the currency database, reading the stored rates key, applying it.
void BM_LoadPart_Currencies(benchmark::State& state) {
  CAllCurrencies c;
  for (auto _ : state)
    if (c.Create(false) != 0) state.SkipWithError("database not loaded from the store");
}
BENCHMARK(BM_LoadPart_Currencies)->Unit(benchmark::kMillisecond);

void BM_LoadPart_RatesKey(benchmark::State& state) {
  for (auto _ : state) {
    CIniDataRegistry<char> ini;
    if (!ini.SetBaseKey(HKEY_LOCAL_MACHINE, g_szIniKey) || ini.Load(g_IniTable, kIniTableCount) != 0)
      state.SkipWithError("rates key not loaded");
  }
}
BENCHMARK(BM_LoadPart_RatesKey)->Unit(benchmark::kMillisecond);

void BM_LoadPart_StoredRates(benchmark::State& state) {
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  CIniDataRegistry<char> ini;
  if (!ini.SetBaseKey(HKEY_LOCAL_MACHINE, g_szIniKey) || ini.Load(g_IniTable, kIniTableCount) != 0) std::abort();
  for (auto _ : state) {
    s.GetRates().Active.Empty();
    s.LoadINIBegin();
    if (s.LoadINI(ini, nullptr, nullptr, true) != 0) state.SkipWithError("LoadINI failed");
    s.LoadINIEnd();
  }
}
BENCHMARK(BM_LoadPart_StoredRates)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  MakeStore();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
