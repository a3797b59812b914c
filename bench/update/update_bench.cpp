// A whole rates update over 7 "file:" data sources of 40 currencies each, without and with a
// filter program per source, and the cost of starting those filter programs alone.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/currency/currencydata.h"
#include "engine/foundation/regvalue.h"
#include "engine/update/updaterun.h"
#include "platform/native/productpaths.h"

namespace {

constexpr int kSources = 7;
constexpr int kCurrencies = 40;

std::string g_dir;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

void SetString(const char* name, const std::string& value) {
  RegStringValue<char> v;
  v = value.c_str();
  if (v.Save(HKEY_LOCAL_MACHINE, g_szAppKey, name) != 0) std::abort();
}

// Source k: 40 floating currencies of the built-in table, each at a rate of its own.
std::string RatesFile(int k) {
  std::string text = "[General]\r\nApplication = \"Hulvane(R) Vantrex(TM)\"\r\nSource = \"Bench " +
                     std::to_string(k) + "\"\r\n[EUR]\r\n";
  int n = 0;
  for (uint32_t i = 0; i < kCurrencyDataCount && n < kCurrencies; ++i) {
    const CurrencyData& c = g_CurrencyData[i];
    if (c.dwFlags & (kCurrencyEuroArea | kCurrencyPeggedEuro)) continue;
    char rate[40];
    std::snprintf(rate, sizeof rate, " = %.4f\r\n", 1.0 + i * 0.731 + k * 0.0001);
    text += std::string(c.szCode) + rate;
    ++n;
  }
  return text;
}

void MakeStore() {
  char tmpl[] = "/tmp/vtx-bench-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  g_dir = tmpl;
  setenv(vtx::env::kRegistry, (g_dir + "/registry.db").c_str(), 1);
  setenv(vtx::env::kRuntimeDir, g_dir.c_str(), 1);
  setenv("TMPDIR", g_dir.c_str(), 1);
  for (const char* d : {"/www", "/definitions", "/product", "/product/Filters"})
    mkdir((g_dir + d).c_str(), 0700);
  SetString("Filters", g_dir + "/definitions");
  SetString("Path", g_dir + "/product");
  for (int k = 0; k < kSources; ++k) Write(g_dir + "/www/rates" + std::to_string(k) + ".ini", RatesFile(k));
  // The filter leaves its input as it is: what is measured is the start and the round trip.
  Write(g_dir + "/product/Filters/pass.sh", "#!/bin/sh\nexit 0\n");
  chmod((g_dir + "/product/Filters/pass.sh").c_str(), 0700);
  Write(g_dir + "/definitions/pass.ini", "[General]\r\nName = \"Pass\"\r\nExecutable = pass.sh\r\n");
}

// The whole run as the update thread makes it, on a fresh copy of the settings each time.
void RunUpdate(benchmark::State& state, bool filters) {
  CSettings live;
  if (!live.Create(nullptr)) std::abort();
  live.GetData()->Sources.Empty();
  live.GetData()->UpdateAttempts = 1;
  live.GetData()->MultiServerMode = 0;
  for (int k = 0; k < kSources; ++k) {
    auto* s = new CDataSource;
    s->SetURL(("file://" + g_dir + "/www/rates" + std::to_string(k) + ".ini").c_str());
    if (filters) s->SetFilter("pass.ini");
    live.GetData()->Sources.Add(s);
  }
  CUpdateEngine engine;
  CUpdateThread thread(std::make_unique<CUpdateSettings>(), engine);
  if (thread.Start(nullptr, false) != 0) std::abort();
  for (auto _ : state) {
    state.PauseTiming();
    CSettings copy;
    if (!copy.CopyFrom(live)) std::abort();
    CUpdateSettings work(copy);
    thread.SetSettingsInUse(&work);
    for (uint32_t i = 0; i < RunLogListCount; ++i) thread.GetRunLog(static_cast<RunLogList>(i)).Empty();
    state.ResumeTiming();
    HRESULT hr = engine.UpdateRun(thread);
    if (hr != 0) state.SkipWithError("the update failed");
    if (copy.GetRates().Active.GetCount() < static_cast<uint32_t>(kCurrencies)) state.SkipWithError("rates missing");
  }
  thread.SetSettingsInUse(nullptr);
  thread.Stop(INFINITE);
}

void BM_UpdateSevenFileSources(benchmark::State& state) { RunUpdate(state, false); }
BENCHMARK(BM_UpdateSevenFileSources)->Unit(benchmark::kMillisecond);

void BM_UpdateSevenFileSourcesWithFilters(benchmark::State& state) { RunUpdate(state, true); }
BENCHMARK(BM_UpdateSevenFileSourcesWithFilters)->Unit(benchmark::kMillisecond);

// The filter part of the run above alone: seven program starts with their waits.
void BM_SevenFilterStarts(benchmark::State& state) {
  const std::string input = g_dir + "/www/rates0.ini";
  const std::string folder = g_dir + "/product/Filters";
  for (auto _ : state)
    for (int k = 0; k < kSources; ++k) {
      DWORD code = 0;
      CStringA error;
      if (ExecuteFilterProgram(folder.c_str(), "pass.sh", input.c_str(), "file:", "pass.ini", -1, kFilterTimeoutMs,
                               nullptr, &code, &error) != 0 ||
          code != 0)
        state.SkipWithError("the filter did not run");
    }
}
BENCHMARK(BM_SevenFilterStarts)->Unit(benchmark::kMillisecond);

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
