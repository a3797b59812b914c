// The currency-definitions update text on arbitrary bytes. A loaded update holds only codes of up to
// three characters, rates of 0 or more and units above 0; the database it is applied to stores and
// loads again whole, and the update itself reads back from its stored form as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "engine/currency/update.h"
#include "fuzz/privatestore.h"

namespace {

CAllCurrencies* g_builtIn = nullptr;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzstore::UsePrivateStore("update");
  g_builtIn = new CAllCurrencies;
  Check(g_builtIn->Create(true) == 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  CUpdate update;
  CStringList<char> changed;
  CStringA next;
  uint32_t line = 0;
  HRESULT hr = update.Load(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), g_builtIn, nullptr,
                           nullptr, &changed, &next, &line);
  if (hr != 0) return 0;

  for (const char* block : update.GetRecords()) {
    const auto& r = *reinterpret_cast<const CurrencyData*>(block);
    const size_t length = strnlen(r.szCode, sizeof r.szCode);
    Check(length >= 1 && length <= 3);
    if (r.dwFlags & kUpdFixedRate) Check(r.dRate >= 0.0);
    if (r.dwFlags & kUpdSmallest) Check(r.dSmallest > 0.0);
  }

  CAllCurrencies db;
  Check(db.CopyFrom(*g_builtIn));
  Check(update.Update(db, nullptr) == 0);
  Check(db.Save() == 0);
  CAllCurrencies again;
  Check(again.Create(false) == 0);
  Check(again.GetLoadError() == 0);
  Check(again.GetCount() == db.GetCount());

  if (update.Save() != 0) return 0;
  CUpdate back;
  Check(back.Create() == 0);
  Check(back.GetRecords().GetCount() == update.GetRecords().GetCount());
  for (const char* block : update.GetRecords()) {
    const auto* r = reinterpret_cast<const CurrencyData*>(block);
    const CurrencyData* b = back.FindRecord(r->szCode);
    Check(b && std::memcmp(r, b, sizeof *r) == 0);
  }
  Check(back.GetRemoved().GetCount() == update.GetRemoved().GetCount());
  return 0;
}
