// The gallery's configuration window open on one page; its pages 3 to 8 on a fixture store as an administrator
// would set it up: three data sources with automatic updates off, a named proxy, e-mail by SMTP
// and a messages file.
#include <QIcon>
#include <QTimer>

#include <filesystem>

#include "engine/currency/settings.h"
#include "manager/configsheet.h"
#include "manager/qtparts.h"
#include "tests/manager/gallery.h"

using namespace vtx::manager;

namespace vtxtest {

namespace {

void AddSource(CSettings& settings, const char* url, const char* filter) {
  auto* s = new CDataSource;
  s->SetURL(url);
  s->SetFilter(filter);
  settings.GetData()->Sources.Add(s);
}

}  // namespace

bool ShootServerPage(HMODULE lib, const ManagerEnvironment& env, int page, const Shooter& shoot) {
  std::string filters = env / "gallery-page-filters";
  if (!std::filesystem::exists(filters)) std::filesystem::copy(SourcePath("resources/filters"), filters);
  PutAppString("Filters", filters);
  PutAppString("WebServiceURL", "http://127.0.0.1:8080/Vantrex");
  CSettings settings;
  if (!settings.Create(lib)) return false;
  CSettingsData& d = *settings.GetData();
  d.Sources.Empty();
  AddSource(settings, "https://www.ecb.europa.eu/stats/eurofxref/eurofxref-daily.xml", "eurfeed.ini");
  AddSource(settings, "https://www.federalreserve.gov/releases/h10/current/", "usdfeed.ini");
  AddSource(settings, "https://www.bankofcanada.ca/valet/observations/group/FX_RATES_DAILY/csv", "cadfeed.ini");
  d.MultiServerMode = 2;
  d.UpdateAttempts = 3;
  d.UpdateRetryPause = 60;
  d.AutoUpdate = 0;
  d.UpdateAtLeast = 86400;
  d.UpdateAtMost = 3600;
  d.Proxy = 1;
  d.ProxyServer = "proxy.example.com:3128";
  d.MessagesViaEmail = 1;
  settings.SetMessageEmailProfileSmtp();
  d.MessagesEmailRecipients = "Rates desk <rates@example.com>; it@example.com";
  d.MessagesEmailSmtpServer = "smtp.example.com";
  d.MessagesEmailSender = "vantrex@example.com";
  d.MessagesToFile = 1;
  d.MessagesFile = "/var/lib/Hulvane/Vantrex/Logs/notifications.log";
  d.CustomAction = "\"Send rates.sh\" --to accounting";

  return ShootConfigurationPage(lib, settings, page, {}, shoot);
}

bool ShootConfigurationPage(HMODULE lib, CSettings& settings, int page,
                            const std::function<void(ConfigurationSheet&)>& prepare, const Shooter& shoot) {
  ConfigurationSheet sheet(lib);
  QPointer<PropertySheet> slot;
  bool ok = false, taken = false;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (taken || !slot || !slot->isVisible()) return;
    taken = true;
    slot->move(60, 60);
    if (prepare) prepare(sheet);
    Settle();
    ok = shoot({slot.data()});
    if (slot) slot->reject();
  });
  look.start(100);
  RunConfigurationSheet(sheet, nullptr, ManagerIcon(), settings, page, &slot);
  if (!taken) std::fprintf(stderr, "page %d: the window never opened\n", page);
  return ok;
}

}  // namespace vtxtest
