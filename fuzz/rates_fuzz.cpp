// The rates-file reader on arbitrary text. A refused file changes nothing; an applied one leaves
// only set rates and positive units, and what is stored of it reads back to the same rates.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "fuzz/privatestore.h"

namespace {

CSettings* g_settings = nullptr;

void Check(bool ok) {
  if (!ok) std::abort();
}

HRESULT Apply(CSettings& s, const CIniData<char>& ini, bool stored) {
  s.LoadINIBegin();
  HRESULT hr = s.LoadINI(ini, nullptr, nullptr, stored);
  if (hr == 0) s.LoadINIEnd();
  return hr;
}

void Reset(CSettings& s) {
  s.GetRates().Active.Empty();
  s.ClearInfo();
  s.GetRates().Warning.Empty();
  s.GetRates().Error.Empty();
  CIniDataBuffer<char> base;
  Check(base.SetBuffer("[EUR]\nEUR = 1\nUSD = 1.1\nDEM = 1.95583\nXPF = 119.3317422\nJPY = 0\n"
                       "[Private-HulvaneVantrex_LastChange]\nUSD = 2026-12-01T00:00:00Z\n"));
  Check(base.Load(g_IniTable, kIniTableCount) == 0);
  Check(Apply(s, base, true) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzstore::UsePrivateStore("rates");
  g_settings = new CSettings;
  Check(g_settings->Create(nullptr));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  CSettings& s = *g_settings;
  CSettingsData& d = *s.GetData();
  const uint8_t mode = data[0];
  const bool stored = mode & 1;
  d.OnlyUpdateExisting = (mode >> 1) & 1;
  d.AlwaysRetainEuro = (mode >> 2) & 1;
  d.ConflictingEMU = (mode >> 3) & 3;
  d.ConflictingPegged = (mode >> 5) & 3;
  Reset(s);

  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text.c_str())) return 0;
  // Rows read before a malformed line are applied like any others.
  if (ini.Load(g_IniTable, kIniTableCount) == E_OUTOFMEMORY) return 0;

  const uint32_t before = s.GetRates().Active.GetCount();
  const std::string source = s.GetRates().Source.IsNull() ? "" : s.GetRates().Source.c_str();
  HRESULT hr = Apply(s, ini, stored);
  if (hr == E_OUTOFMEMORY) return 0;
  if (hr != 0) {
    Check(hr == E_INVALIDARG);
    Check(s.GetRates().Active.GetCount() == before);
    Check(source == (s.GetRates().Source.IsNull() ? "" : s.GetRates().Source.c_str()));
    return 0;
  }
  for (char* e : s.GetRates().Active) {
    const CurrencyInfo& c = *reinterpret_cast<const CurrencyInfo*>(e);
    Check(c.dRate >= 0 && c.dSmallest > 0 && std::strlen(c.szCode) <= 3);
  }

  // What would be stored reads back as the same rates.
  CIniDataBuffer<char> out;
  if (s.SaveRatesTo(out) != 0 || out.Save() != 0) return 0;
  CIniDataBuffer<char> back;
  Check(back.SetBuffer(out.GetText()));
  Check(back.Load(g_IniTable, kIniTableCount) == 0);
  CSettings t;
  if (!t.CopyFrom(s)) return 0;
  t.GetRates().Active.Empty();
  t.ClearInfo();
  Check(Apply(t, back, true) == 0);
  const CRatesData& a = s.GetRates();
  const CRatesData& b = t.GetRates();
  Check(a.Active.GetCount() == b.Active.GetCount());
  for (uint32_t i = 0; i < a.Active.GetCount(); ++i) {
    Check(std::strcmp(a[i]->szCode, b[i]->szCode) == 0);
    Check(a[i]->dRate == b[i]->dRate || (a[i]->dRate != 0 && std::abs(a[i]->dRate / b[i]->dRate - 1) < 1e-12));
    Check(a[i]->dSmallest == b[i]->dSmallest ||
          std::abs(a[i]->dSmallest / b[i]->dSmallest - 1) < 1e-12);
  }
  return 0;
}
