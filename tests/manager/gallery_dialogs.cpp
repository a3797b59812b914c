// The gallery's dialogs of the configuration pages, filled as a user would find them, and the help
// pop-up of the data-source dialog's address.
#include <QAbstractItemView>
#include <QComboBox>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

#include "engine/currency/datasource.h"
#include "engine/currency/filterdef.h"
#include "engine/currency/settings.h"
#include "manager/datasourcedialog.h"
#include "manager/dialogs.h"
#include "tests/manager/gallery.h"

using namespace vtx::manager;

namespace vtxtest {

namespace {

// What the dialogs are made from; it lives as long as the shots.
struct DialogFixture {
  CSettings settings;
  CFilterList filters;
  CDataSource source;
  DataSourceDialogData data;
  std::vector<std::shared_ptr<DataSourceDialogData>> newData;
  std::vector<std::unique_ptr<QWidget>> open;
};

std::vector<QWidget*> Show(DialogFixture& f, std::unique_ptr<QWidget> w, std::vector<QWidget*> more = {}) {
  w->move(80, 80);
  w->show();
  w->raise();
  w->activateWindow();
  Settle();
  std::vector<QWidget*> shown{w.get()};
  for (QWidget* m : more) shown.push_back(m);
  f.open.push_back(std::move(w));
  return shown;
}

}  // namespace

std::vector<GalleryShot> DialogShots(HMODULE lib, const ManagerEnvironment& env) {
  auto f = std::make_shared<DialogFixture>();
  f->settings.Create(lib);
  f->settings.GetRates().Active.Empty();
  for (const char* code : {"USD", "JPY", "GBP"}) {
    CurrencyInfo rec;
    if (f->settings.InitCurrencyInfo(rec, code)) f->settings.Add(rec);
  }
  CSettingsData* s = f->settings.GetData();
  s->DialUpUserName = "rates";
  s->DialUpPassword = "secret";
  s->DialUpDomain = "";
  std::string folder = env / "gallery-filters";
  std::filesystem::copy(SourcePath("resources/filters"), folder);
  f->filters.Create(folder.c_str(), true);
  f->source.SetURL("https://www.ecb.europa.eu/stats/policy_and_exchange_rates/euro_reference_exchange_rates/html/index.en.html");
  f->source.SetFilter("eurfeed.ini");

  return {
      {"currencychoice",
       [f, lib] {
         auto d = std::make_unique<CCurrencyChoiceDialog>(f->settings, nullptr, lib);
         for (int i : {3, 5}) d->List()->topLevelItem(i)->setSelected(true);
         return Show(*f, std::move(d));
       }},
      {"account", [f, lib] { return Show(*f, std::make_unique<CAccountDialog>("OFFICE\\rates", "pw", nullptr, lib, 0)); }},
      {"listchoice",
       [f, lib] {
         std::vector<std::string> codes{"EUR", "USD (US Dollar)", "JPY (Yen)", "GBP (Pound Sterling)"};
         return Show(*f, std::make_unique<CListChoiceDialog>(codes, "usd (us dollar)", nullptr, lib));
       }},
      // The base currency chosen from a long list: the list drops down 9 rows high.
      {"listchoice-open",
       [f, lib] {
         std::vector<std::string> codes;
         for (const char* c : {"AUD", "BGN", "BRL", "CAD", "CHF", "CNY", "CZK", "DKK", "EUR", "GBP", "HKD", "HUF",
                               "IDR", "ILS", "INR", "ISK", "JPY", "KRW", "MXN", "MYR", "NOK", "NZD", "PHP", "PLN",
                               "RON", "SEK", "SGD", "THB", "TRY", "USD", "ZAR"})
           codes.push_back(c);
         auto d = std::make_unique<CListChoiceDialog>(codes, "EUR", nullptr, lib);
         auto* combo = d->Kit().Control<QComboBox>(listchoicedialog::kChoice);
         std::vector<QWidget*> shown = Show(*f, std::move(d));
         combo->showPopup();
         Settle();
         shown.push_back(combo->view()->window());
         return shown;
       }},
      {"mailserver",
       [f, lib] {
         return Show(*f, std::make_unique<CMailServerDialog>("smtp.example.com:587", "rates@example.com", nullptr, lib));
       }},
      {"datasource",
       [f, lib] {
         return Show(*f, std::make_unique<CDataSourceDialog>(f->data, &f->source, f->filters, nullptr, nullptr, lib));
       }},
      // A new data source: the default filter with its first address.
      {"datasource-new",
       [f, lib] {
         auto data = std::make_shared<DataSourceDialogData>();
         auto d = std::make_unique<CDataSourceDialog>(*data, nullptr, f->filters, nullptr, nullptr, lib);
         f->newData.push_back(data);
         return Show(*f, std::move(d));
       }},
      {"dialup", [f, lib] { return Show(*f, std::make_unique<CDialUpDialog>(f->settings, nullptr, lib)); }},
      {"helppopup",
       [f, lib] {
         auto d = std::make_unique<CDataSourceDialog>(f->data, nullptr, f->filters, nullptr, nullptr, lib);
         CDataSourceDialog* dialog = d.get();
         std::vector<QWidget*> shown = Show(*f, std::move(d));
         dialog->Kit().ShowHelp(datasourcedialog::kAddress);
         Settle();
         if (QWidget* pop = dialog->Kit().Tooltip().Window()) shown.push_back(pop);
         return shown;
       }},
  };
}

}  // namespace vtxtest
