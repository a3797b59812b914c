// The web service in process: one ConvertToNum call through the library (session, settings load of
// the whole store, conversion) and through the SOAP dispatch. `bench_webservice --seed` only writes
// the store of 237 active currencies into $VANTREX_REGISTRY, for the load run of run.sh.
#include <benchmark/benchmark.h>

#include <libxml/parser.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "webservice/web/service.h"
#include "webservice/web/operations.h"

namespace {

// Every currency of the table active, with a rate; returns how many are active.
uint32_t Seed() {
  vtx::currency::DeleteKey(g_szAppKey);
  CSettings s;
  if (!s.Create(nullptr)) return 0;
  std::string text = "[General]\nSource = Benchmark\n[EUR]\n";
  const CAllCurrencies& all = s.GetData()->Currencies;
  for (uint32_t i = 0; i < all.GetCount(); ++i) {
    const CurrencyData* c = all[i];
    double rate = c->dRate != 0 ? c->dRate : 1.0 + 0.37 * i;
    char line[64];
    std::snprintf(line, sizeof line, "%s = %.6f\n", c->szCode, rate);
    text += line;
  }
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text.c_str()) || ini.Load(g_IniTable, kIniTableCount)) return 0;
  s.GetData()->ConflictingEMU = 2;
  s.LoadINIBegin();
  if (s.LoadINI(ini, nullptr, nullptr, false)) return 0;
  s.LoadINIEnd();
  if (s.Save() || s.SaveINI()) return 0;
  return s.GetRates().Active.GetCount();
}

std::string g_dir;
void PrivateStore() {
  static bool made = [] {
    char dir[] = "/tmp/vtxbench-web-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    g_dir = dir;
    setenv("VANTREX_REGISTRY", (g_dir + "/registry.db").c_str(), 1);
    setenv("VANTREX_RUNTIME_DIR", g_dir.c_str(), 1);
    std::atexit([] {
      std::string cmd = "rm -rf '" + g_dir + "'";
      if (std::system(cmd.c_str()) != 0) {
      }
    });
    return Seed() > 0;
  }();
  if (!made) std::abort();
}

const char kEnvelope[] =
    "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
    "<ConvertToNum xmlns=\"urn:hulvane:vantrex:webservice:4.0/\"><clientKey>bench</clientKey>"
    "<fromCurrency>USD</fromCurrency><toCurrency>JPY</toCurrency><amount>100</amount><rounding>true</rounding>"
    "</ConvertToNum></s:Body></s:Envelope>";

void BM_ConvertToNumLibrary(benchmark::State& state) {
  PrivateStore();
  Hulvane::Web::Services::Vantrex v;
  ManagedString key = std::u16string(u"bench"), from = std::u16string(u"USD"), to = std::u16string(u"JPY");
  for (auto _ : state) benchmark::DoNotOptimize(v.ConvertToNum(key, from, to, 100, true, {}, {}));
}
BENCHMARK(BM_ConvertToNumLibrary)->Unit(benchmark::kMicrosecond);

void BM_ConvertToNumEnvelope(benchmark::State& state) {
  PrivateStore();
  static const vtx::soap::Service service = MakeVantrexService();
  for (auto _ : state) {
    vtx::soap::Reply r = vtx::soap::Dispatch(service, kEnvelope, sizeof kEnvelope - 1, "text/xml", "");
    if (r.status != 200) state.SkipWithError(r.body.c_str());
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_ConvertToNumEnvelope)->Unit(benchmark::kMicrosecond)->Threads(1)->Threads(8);

}  // namespace

int main(int argc, char** argv) {
  xmlInitParser();
  if (argc > 1 && std::strcmp(argv[1], "--seed") == 0) {
    uint32_t n = Seed();
    std::printf("%u active currencies\n", n);
    return n ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
