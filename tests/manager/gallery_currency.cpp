// The gallery's currency forms: the first three pages of the configuration window on settings with
// a base other than the euro and a currency with a rate warning, the locale formats dialog, and
// both pages of the currency properties sheet.
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include <cstring>
#include <memory>
#include <string>

#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "manager/configsheet.h"
#include "manager/currencysheet.h"
#include "manager/localedialog.h"
#include "manager/managerdefs.h"
#include "manager/propertysheet.h"
#include "platform/systime.h"
#include "tests/manager/gallery.h"

using namespace vtx::manager;

namespace vtxtest {

namespace {

struct CurrencyFixture {
  CSettings settings;
  std::unique_ptr<CLocaleFormatsDialog> locale;
  std::unique_ptr<CCurrencyPropertiesSheet> sheet;
};

void Fill(CSettings& s) {
  s.GetRates().Active.Empty();
  const struct {
    const char* code;
    double rate;
    uint32_t decimals, servers, hits;
    bool warning;
  } rows[] = {{"EUR", 1.0, 5, 0, 120, false},     {"USD", 1.2254, 4, 2, 4312, false},
              {"GBP", 0.6843, 4, 2, 871, true},    {"JPY", 138.65, 2, 1, 95, false},
              {"CHF", 1.5532, 4, 2, 40, false},    {"DEM", 1.95583, 5, 0, 3, false}};
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  for (const auto& r : rows) {
    CurrencyInfo rec;
    s.InitCurrencyInfo(rec, r.code);
    rec.dRate = r.rate;
    rec.dwRateDecimals = r.decimals;
    rec.dwServers = r.servers;
    rec.ftLastChange = now;
    if (r.warning) rec.dwFlags |= kInfoWarning;
    s.Add(rec);
    SetUnitHits(r.code, r.hits);
  }
  std::strcpy(s.GetData()->BaseUnit, "USD");
}

// The configuration window open on a page, shot, then closed.
GalleryTake PageShot(const QString& name, HMODULE lib, std::shared_ptr<CurrencyFixture> f, int page) {
  GalleryTake shot{name, {}};
  shot.take = [lib, f, page](const Shooter& shoot) {
    // As a new user finds them: no widths stored by an earlier window.
    for (const char* list : {"SettingsCurrencyColumn", "SettingsAllCurrenciesColumn", "SettingsLocaleListColumn"})
      for (int i = 1; i <= 6; ++i)
        DeleteRegistryValue(HKEY_LOCAL_MACHINE, kAppKey, (std::string(list) + std::to_string(i)).c_str());
    return ShootConfigurationPage(lib, f->settings, page, [page](ConfigurationSheet& sheet) {
      if (page == 2) {
        // The German locale selected, as a user would before opening its formats.
        QTreeWidget* list = sheet.Kit(2)->Control<QTreeWidget>(localespage::kLocaleList);
        for (int i = 0; i < list->topLevelItemCount(); ++i)
          if (list->topLevelItem(i)->text(0) == "1031") list->setCurrentItem(list->topLevelItem(i));
      }
      if (page == 0) {
        QTreeWidget* list = sheet.Kit(0)->Control<QTreeWidget>(currencylistpage::kCurrencyList);
        if (list->topLevelItemCount() > 2) list->setCurrentItem(list->topLevelItem(2));
      }
    }, shoot);
  };
  return shot;
}

std::vector<QWidget*> Show(QWidget* w) {
  w->move(80, 80);
  w->show();
  w->raise();
  w->activateWindow();
  Settle();
  return {w};
}

}  // namespace

std::vector<GalleryTake> CurrencyShots(HMODULE lib) {
  auto f = std::make_shared<CurrencyFixture>();
  f->settings.Create(lib);
  Fill(f->settings);
  return {
      PageShot("currencies", lib, f, 0),
      PageShot("database", lib, f, 1),
      PageShot("locales", lib, f, 2),
      {"localeformats",
       [f, lib](const Shooter& shoot) {
         CCurrencyLocale* de = f->settings.GetLocaleList()->GetLocale(1031);
         auto working = std::make_unique<CCurrencyLocale>(1031);
         working->CopyFrom(*de);
         f->locale = std::make_unique<CLocaleFormatsDialog>(f->settings, *de, std::move(working), nullptr, lib);
         return shoot(Show(f->locale.get()));
       }},
      {"currencyproperties",
       [f, lib](const Shooter& shoot) {
         f->sheet = std::make_unique<CCurrencyPropertiesSheet>(f->settings, nullptr, lib, kSheetEdit | kSheetRateRequired);
         f->sheet->Open("GBP");
         return shoot(Show(f->sheet->Create(nullptr)));
       }},
      {"currencytexts",
       [f, lib](const Shooter& shoot) {
         f->sheet = std::make_unique<CCurrencyPropertiesSheet>(f->settings, nullptr, lib, kSheetEdit | kSheetTextsFirst);
         f->sheet->Open("CHF");
         return shoot(Show(f->sheet->Create(nullptr)));
       }},
  };
}

}  // namespace vtxtest
