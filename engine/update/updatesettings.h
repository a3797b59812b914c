// The settings (CSettings) as the update thread and the hand-over see them.
#pragma once
#include <functional>
#include <memory>

#include "engine/currency/settings.h"
#include "engine/update/updatethread.h"

class CUpdateSettings : public IUpdateSettings {
 public:

  // Owns a settings object of its own (the update thread's copy).
  CUpdateSettings();
  // Works on the caller's settings (the server's live ones).
  explicit CUpdateSettings(CSettings& settings);

  CSettings& Get() const { return *m_settings; }

  bool CopyFrom(const IUpdateSettings& other) override;
  bool IsTimeToLoadEMU() const override;
  BOOL GetHangUp() const override;
  void SetHangUp(BOOL hangUp) override;
  bool HasCustomAction() const override;
  DWORD GetExecuteCustomAction() const override;
  DWORD GetUnknownCurrencies() const override;
  bool CopyActiveCurrencies(CStringList<char>& list) const override;
  bool ActiveRatesDiffer(const CStringList<char>& list) const override;
  HRESULT SetRates(uint32_t mode, char** unknownCodes, uint32_t* unknownCount, char** removedCodes,
                   uint32_t* removedCount) override;
  HRESULT CompareWithBuiltInTable(char** newCodes, uint32_t* newCount) const override;
  void GetConnectionSettings(INetConnectionSettings& out) const override;
  HRESULT SaveINI() override;
  HRESULT ExecuteCustomAction(HWND window, char** errorText) override;

 private:
  std::unique_ptr<CSettings> m_owned;
  CSettings* m_settings;
};

