#include "engine/update/updatesettings.h"

#include <cstring>

#include "engine/foundation/stringutil.h"
#include "platform/errors.h"
#include "platform/systime.h"

namespace {
const CurrencyInfo* Info(const CStringList<char>& list, uint32_t i) {
  return reinterpret_cast<const CurrencyInfo*>(list[i]);
}

// Index of the record with that code (ignoring case), -1 when none.
int32_t FindCode(const CStringList<char>& list, const char* code) {
  for (uint32_t i = 0; i < list.GetCount(); ++i)
    if (CStringUtil<char>::StringICmp(Info(list, i)->szCode, code) == 0) return static_cast<int32_t>(i);
  return -1;
}
}  // namespace


CUpdateSettings::CUpdateSettings() : m_owned(std::make_unique<CSettings>()), m_settings(m_owned.get()) {}

CUpdateSettings::CUpdateSettings(CSettings& settings) : m_settings(&settings) {}

bool CUpdateSettings::CopyFrom(const IUpdateSettings& other) {
  auto* o = dynamic_cast<const CUpdateSettings*>(&other);
  if (!o) return false;
  if (o->m_settings == m_settings) return true;
  if (!m_settings->CopyFrom(*o->m_settings)) return false;
  return true;
}

bool CUpdateSettings::IsTimeToLoadEMU() const { return m_settings->IsTimeToLoadEMU(); }

BOOL CUpdateSettings::GetHangUp() const {
  const CSettingsData* d = m_settings->GetData();
  return d && d->HangUp ? TRUE : FALSE;
}

void CUpdateSettings::SetHangUp(BOOL hangUp) {
  if (CSettingsData* d = m_settings->GetData()) d->HangUp = hangUp ? 1 : 0;
}

bool CUpdateSettings::HasCustomAction() const {
  const CSettingsData* d = m_settings->GetData();
  return d && !d->CustomAction.IsEmpty();
}

DWORD CUpdateSettings::GetExecuteCustomAction() const {
  const CSettingsData* d = m_settings->GetData();
  return d ? d->ExecuteCustomAction : 0;
}

DWORD CUpdateSettings::GetUnknownCurrencies() const {
  const CSettingsData* d = m_settings->GetData();
  return d ? d->UnknownCurrencies : 0;
}

bool CUpdateSettings::CopyActiveCurrencies(CStringList<char>& list) const {
  list.Empty();
  const CSettingsData* d = m_settings->GetData();
  if (!d) return true;
  for (char* record : d->Rates->Active)
    if (!list.Add(record, kListAppend, sizeof(CurrencyInfo))) return false;
  return true;
}

bool CUpdateSettings::ActiveRatesDiffer(const CStringList<char>& list) const {
  const CSettingsData* d = m_settings->GetData();
  if (!d) return list.GetCount() != 0;
  const CStringList<char>& active = d->Rates->Active;
  for (uint32_t i = 0; i < active.GetCount(); ++i) {
    int32_t j = FindCode(list, Info(active, i)->szCode);
    if (j < 0 || Info(list, static_cast<uint32_t>(j))->dRate != Info(active, i)->dRate) return true;
  }
  for (uint32_t j = 0; j < list.GetCount(); ++j)
    if (FindCode(active, Info(list, j)->szCode) < 0) return true;
  return false;
}

HRESULT CUpdateSettings::SetRates(uint32_t mode, char** unknownCodes, uint32_t* unknownCount, char** removedCodes,
                                  uint32_t* removedCount) {
  CSettingsData* d = m_settings->GetData();
  if (!d) return E_UNEXPECTED;
  CCurrencyLocaleList* locales = m_settings->GetLocaleList();
  if (!locales) return E_OUTOFMEMORY;
  return d->Currencies.SetRates(d->Rates->Active, locales, mode, unknownCodes, unknownCount, removedCodes,
                                removedCount);
}

HRESULT CUpdateSettings::CompareWithBuiltInTable(char** newCodes, uint32_t* newCount) const {
  *newCodes = nullptr;
  *newCount = 0;
  const CSettingsData* d = m_settings->GetData();
  if (!d) return E_UNEXPECTED;
  CAllCurrencies fresh;
  HRESULT hr = fresh.Create(true);
  if (FAILED(hr)) return hr;
  return d->Currencies.Compare(&fresh, newCodes, newCount);
}

void CUpdateSettings::GetConnectionSettings(INetConnectionSettings& out) const {
  const CSettingsData* d = m_settings->GetData();
  if (!d) return;
  out.Proxy = d->Proxy;
  out.ProxyServer = d->ProxyServer;
  out.NoProxyForLAN = d->NoProxyForLAN ? TRUE : FALSE;
  out.HangUp = d->HangUp ? TRUE : FALSE;
  out.Modem = d->Modem ? TRUE : FALSE;
  out.DialUp = d->DialUp;
  out.DialUpUserName = d->DialUpUserName;
  out.DialUpPassword = d->DialUpPassword;
  out.DialUpDomain = d->DialUpDomain;
  out.ServerUserName = d->ServerUserName;
  out.ServerPassword = d->ServerPassword;
  out.ProxyUserName = d->ProxyUserName;
  out.ProxyPassword = d->ProxyPassword;
}

HRESULT CUpdateSettings::SaveINI() { return m_settings->SaveINI(); }

HRESULT CUpdateSettings::ExecuteCustomAction(HWND window, char** errorText) {
  return m_settings->ExecuteCustomAction(window, errorText);
}
