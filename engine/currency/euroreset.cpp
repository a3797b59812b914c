// Bringing the active list back to the database's fixed rates: the database's update of the active
// records, the stored choice of the built-in euro rows, and the euro reset pass of the configuration.
#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "platform/ui.h"

namespace {

constexpr char kResetOriginalEuro[] = "ResetOriginalEuro";
constexpr char kResetOriginalEMU[] = "ResetOriginalEMU";
constexpr int kAskEuroReplaced = 1;  // the pass's answer before the question
constexpr UINT kMsgAskEuroReplaced = 235;
constexpr UINT kMsgProductCaption = 32;

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

bool CSettings::ResetEuroArea(void* owner) {
  if (!m_data) return false;
  int answer = owner ? kAskEuroReplaced : IDNO;
  CStringList<char> euro;
  if (!m_data->Currencies.GetEuroCurrencies(euro, ResetOriginalEuro() ? 1 : 0)) return false;
  bool changed = false;
  for (char* e : euro)
    if (DoResetEuro(*reinterpret_cast<const CurrencyInfo*>(e), answer, owner)) changed = true;
  return changed;
}

bool CSettings::DoResetEuro(const CurrencyInfo& record, int& answer, void* owner) {
  if (!m_data) return false;
  if (!(record.dwFlags & kInfoEuroReplaced)) return ResetEuro(record);
  // One question a pass; a box that could not be shown keeps the currencies.
  if (answer == kAskEuroReplaced)
    answer = FormatMessageBox(owner, kMsgAskEuroReplaced, kMsgProductCaption, MB_YESNO | MB_DEFBUTTON2, m_resources);
  if (answer != IDNO) return ResetEuro(record);
  CStringList<char>& active = m_data->Rates->Active;
  int32_t i = active.IFind(record.szCode);
  if (i < 0) i = active.IFind(m_data->GetCurrencyName(record.szCode));
  return i >= 0 && active.Remove(static_cast<uint32_t>(i));
}
