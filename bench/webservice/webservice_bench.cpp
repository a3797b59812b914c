// The web service in process: one ConvertToNum call through the library (the session's snapshot,
// conversion, hit count) and through the SOAP dispatch. For run.sh: `bench_webservice --seed`
// writes the store of 237 active currencies into $VANTREX_REGISTRY; `bench_webservice --set <name>
// <text>` stores a text value under the application key; `bench_webservice --updates
// <page> <port> <seconds> <every>` runs an update of the running vtxserver every <every> seconds,
// each on a rates page with a new USD rate, and after each update's commit asks the web service
// on <port> for that rate, reporting any call that failed or saw the rates from before.
#include <benchmark/benchmark.h>

#include <libxml/parser.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/notify/reachserver.h"
#include "engine/foundation/servercommands.h"
#include "platform/native/productpaths.h"
#include "platform/registry.h"
#include "tests/support/net.h"
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
    setenv(vtx::env::kRegistry, (g_dir + "/registry.db").c_str(), 1);
    setenv(vtx::env::kRuntimeDir, g_dir.c_str(), 1);
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

// The rates page with its USD rate replaced by `usd`.
bool WritePage(const std::string& page, const std::string& templ, double usd) {
  const std::string mark = "<span class=\"rate\">1.0856</span>";
  size_t at = templ.find(mark);
  if (at == std::string::npos) return false;
  char rate[64];
  std::snprintf(rate, sizeof rate, "<span class=\"rate\">%.4f</span>", usd);
  std::string text = templ;
  text.replace(at, mark.size(), rate);
  std::string temp = page + ".new";
  std::ofstream(temp, std::ios::binary) << text;
  return std::rename(temp.c_str(), page.c_str()) == 0;
}

int Updates(const std::string& page, int port, int seconds, int every) {
  std::ifstream in(page, std::ios::binary);
  std::stringstream buf;
  buf << in.rdbuf();
  const std::string templ = buf.str();
  const std::string call =
      "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
      "<ConvertToNum xmlns=\"urn:hulvane:vantrex:webservice:4.0/\"><clientKey>bench</clientKey>"
      "<fromCurrency>EUR</fromCurrency><toCurrency>USD</toCurrency><amount>1</amount><rounding>false</rounding>"
      "</ConvertToNum></s:Body></s:Envelope>";
  constexpr int kProbes = 50;  // calls after each commit
  int updates = 0, failedUpdates = 0, probes = 0, stale = 0, failedCalls = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (int k = 1; std::chrono::steady_clock::now() + std::chrono::seconds(every) <= end; ++k) {
    std::this_thread::sleep_for(std::chrono::seconds(every));
    const double usd = 1.0856 + 0.0001 * k;
    if (!WritePage(page, templ, usd)) return 1;
    DWORD result = 0;
    HRESULT hr = SendVXVMessageTimeout(WM_VX_UPDATENOW, 0, 0, 120000, &result);
    ++updates;
    if (FAILED(hr) || result != 0) {
      ++failedUpdates;
      std::fprintf(stderr, "update %d: 0x%08X 0x%08X\n", k, hr, result);
      continue;
    }
    // The update has committed: every call from now on answers with the new rate. The load holds
    // all the connections the host allows one address.
    vtxtest::HttpConnection http(port, "127.0.0.2");
    for (int i = 0; i < kProbes; ++i) {
      std::string answer;
      ++probes;
      int status = http.Post("/Vantrex", call, &answer);
      if (status != 200) {
        if (!failedCalls) std::fprintf(stderr, "a call after update %d: status %d %s\n", k, status, answer.c_str());
        ++failedCalls;
        continue;
      }
      size_t at = answer.find("<ConvertToNumResult>");
      double got = at == std::string::npos ? 0 : std::strtod(answer.c_str() + at + 20, nullptr);
      if (std::fabs(got - usd) > 1e-9) ++stale;
    }
  }
  std::printf("updates %d (failed %d); calls after a commit %d: failed %d, with the rates from before %d\n", updates,
              failedUpdates, probes, failedCalls, stale);
  return failedUpdates || failedCalls || stale ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  xmlInitParser();
  if (argc > 1 && std::strcmp(argv[1], "--seed") == 0) {
    uint32_t n = Seed();
    std::printf("%u active currencies\n", n);
    return n ? 0 : 1;
  }
  if (argc == 4 && std::strcmp(argv[1], "--set") == 0) {
    HKEY key = nullptr;
    LSTATUS st = RegCreateKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (st == ERROR_SUCCESS)
      st = RegSetValueExA(key, argv[2], 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[3]),
                          static_cast<DWORD>(std::strlen(argv[3]) + 1));
    if (key) RegCloseKey(key);
    if (st != ERROR_SUCCESS) std::fprintf(stderr, "bench_webservice: cannot set %s (%ld)\n", argv[2], static_cast<long>(st));
    return st == ERROR_SUCCESS ? 0 : 1;
  }
  if (argc == 6 && std::strcmp(argv[1], "--updates") == 0)
    return Updates(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
