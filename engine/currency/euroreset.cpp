// Bringing the active list back to the database's fixed rates: the database's update of the active
// records, the stored choice of the built-in euro rows, and the euro reset pass of the configuration.
#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"

namespace {

constexpr char kResetOriginalEuro[] = "ResetOriginalEuro";
constexpr char kResetOriginalEMU[] = "ResetOriginalEMU";

void TakeFixedRate(const CurrencyData& data, CurrencyInfo& active) {
  active.dRate = data.dRate;
  active.dwRateDecimals = data.dwRateDecimals;
  active.ftLastChange = data.ftLastChange;
  active.dwServers = data.dwServers;
}

}  // namespace

bool CAllCurrencies::Update(CSettings* settings, const char* code) const {
  if (!settings || !settings->GetData()) return false;
  CSettingsData& d = *settings->GetData();
  CRatesData& rates = *d.Rates;
  if (code) {
    int32_t i = IFind(code);
    if (i < 0 || (*this)[i]->dRate == 0.0) return false;
    int32_t a = d.IFind((*this)[i]->szCode);
    if (a < 0) return false;
    TakeFixedRate(*(*this)[i], *rates[static_cast<uint32_t>(a)]);
    return true;
  }
  bool any = false;
  for (char* e : rates.Active) {
    CurrencyInfo& active = *reinterpret_cast<CurrencyInfo*>(e);
    int32_t i = IFind(active.szCode);
    if (i < 0 || (*this)[i]->dRate == 0.0) continue;
    TakeFixedRate(*(*this)[i], active);
    any = true;
  }
  return any;
}

uint32_t ResetOriginalEuro() {
  uint32_t value = 0;
  if (vtx::currency::ReadDword(g_szAppKey, kResetOriginalEuro, &value)) {
    // The older name moves to the newer one; it goes only once the newer one is written.
    if (vtx::currency::WriteDword(g_szAppKey, kResetOriginalEMU, value) == 0)
      DeleteRegistryValue(HKEY_LOCAL_MACHINE, g_szAppKey, kResetOriginalEuro);
    return value;
  }
  return vtx::currency::ReadDword(g_szAppKey, kResetOriginalEMU, &value) ? value : 0;
}
