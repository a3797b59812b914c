// The update thread's settings copy as the fetch of a data source uses it.
#pragma once
#include "engine/currency/settings.h"
#include "engine/update/fetchsource.h"

class CSettingsFetch : public CFetchSettings {
 public:
  // Reads the folders of the filter definitions ("Filters") and of the filter programs (the
  // subfolder "Filters" of "Path") from the application key.
  explicit CSettingsFetch(CSettings& settings);

  HRESULT LoadINI(const CIniData<char>& data, CStringA* next, uint32_t* errorLine, bool stored) override;
  BOOL GetOwnData() const override;
  const char* GetError() const override;
  HRESULT ExecuteFilter(const char* program, const char* text1, const char* text2, const char* text3, int32_t number,
                        DWORD* exitCode, CStringA* errorText) override;
  const char* GetFiltersFolder() const override;
  DWORD GetUpdateAttempts() const override;
  DWORD GetUpdateRetryPause() const override;
  BOOL GetOnlyUpdateExisting() const override;
  uint32_t GetActiveCount() const override;
  const char* GetActiveCode(uint32_t index) const override;
  CSettings* GetConnectionSettings() override { return &m_settings; }

  // How long a filter program may run.
  void SetFilterTimeout(DWORD ms) { m_timeoutMs = ms; }

 private:
  CSettings& m_settings;
  CStringA m_filters;
  CStringA m_programs;
  HRESULT m_programsResult = S_OK;
  DWORD m_timeoutMs = kFilterTimeoutMs;
};
