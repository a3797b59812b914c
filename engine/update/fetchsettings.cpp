#include "engine/update/fetchsettings.h"

#include <string>

#include "engine/currency/allcurrencies.h"
#include "engine/foundation/regvalue.h"

CSettingsFetch::CSettingsFetch(CSettings& settings) : m_settings(settings) {
  RegStringValue<char> filters;
  if (SUCCEEDED(filters.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Filters")) && filters.GetString())
    m_filters = filters.GetString();
  RegStringValue<char> path;
  m_programsResult = path.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Path");
  if (SUCCEEDED(m_programsResult)) {
    std::string folder = path.GetString() ? path.GetString() : "";
    if (folder.empty() || folder.back() != '/') folder += '/';
    folder += "Filters";
    m_programs = folder.c_str();
    if (m_programs.IsNull()) m_programsResult = E_OUTOFMEMORY;
  }
}

HRESULT CSettingsFetch::LoadINI(const CIniData<char>& data, CStringA* next, uint32_t* errorLine, bool stored) {
  return m_settings.LoadINI(data, next, errorLine, stored);
}

BOOL CSettingsFetch::GetOwnData() const { return m_settings.GetRates().OwnData ? TRUE : FALSE; }

const char* CSettingsFetch::GetError() const { return m_settings.GetRates().Error.c_str(); }

HRESULT CSettingsFetch::ExecuteFilter(const char* program, const char* text1, const char* text2, const char* text3,
                                      int32_t number, DWORD* exitCode, CStringA* errorText) {
  if (exitCode) *exitCode = 0;
  if (FAILED(m_programsResult)) return m_programsResult;
  return ExecuteFilterProgram(m_programs, program, text1, text2, text3, number, m_timeoutMs,
                              m_settings.GetResourceLibrary(), exitCode, errorText);
}

const char* CSettingsFetch::GetFiltersFolder() const { return m_filters.IsEmpty() ? nullptr : m_filters.c_str(); }

DWORD CSettingsFetch::GetUpdateAttempts() const { return m_settings.GetData()->UpdateAttempts; }

DWORD CSettingsFetch::GetUpdateRetryPause() const { return m_settings.GetData()->UpdateRetryPause; }

BOOL CSettingsFetch::GetOnlyUpdateExisting() const { return m_settings.GetData()->OnlyUpdateExisting ? TRUE : FALSE; }

uint32_t CSettingsFetch::GetActiveCount() const { return m_settings.GetRates().Active.GetCount(); }

const char* CSettingsFetch::GetActiveCode(uint32_t index) const {
  const CurrencyInfo* info = index < GetActiveCount() ? m_settings.GetRates()[index] : nullptr;
  return info ? info->szCode : nullptr;
}
