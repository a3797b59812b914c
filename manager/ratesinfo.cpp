#include "manager/ratesinfo.h"

#include "engine/currency/ratesreport.h"
#include "engine/notify/messagewindow.h"

namespace vtx::manager {

void ShowRatesInformation(const CSettings& settings, UINT iconId, HWND owner, HMODULE resourceLibrary) {
  std::string report = BuildRatesInformation(settings.GetRates(), resourceLibrary);
  if (report.empty()) return;
  CMessageDialog::ShowId(owner, resourceLibrary, iconId, kReportTitle, 0, report.c_str());
}

}  // namespace vtx::manager
