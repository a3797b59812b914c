// The currency pages of the configuration window on the offscreen platform: the orders of their
// lists as tables, and the pages' commands in the running window on a private store.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <cstring>
#include <functional>

#include "engine/currency/currencystore.h"
#include "engine/currency/settings.h"
#include "engine/currency/update.h"
#include "engine/foundation/resourcelib.h"
#include "manager/configsheet.h"
#include "manager/currencypages.h"
#include "manager/currencysheet.h"
#include "manager/currencysort.h"
#include "manager/dialogs.h"
#include "manager/messagedialogs.h"
#include "manager/offgui.h"
#include "manager/propertysheet.h"
#include "manager/qtparts.h"
#include "tests/manager/fakepages.h"
#include "tests/manager/fixture.h"
#include "tests/manager/listrows.h"
#include "tests/manager/sheetrun.h"

using namespace vtx::manager;
using vtxtest::ManagerEnvironment;
using vtxtest::Row;
using vtxtest::ScriptedBoxes;
using vtxtest::SelectRows;
using vtxtest::ScriptedEngine;

namespace {

constexpr uint64_t kNow = 0x01D1000000000000ull;
FILETIME FixedNow() { return FILETIME{static_cast<DWORD>(kNow), static_cast<DWORD>(kNow >> 32)}; }
uint64_t U64(const FILETIME& t) { return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// One run of the configuration window with the product's pages, on settings with three currencies.
struct PagesRun : vtxtest::WindowRun {
  PagesRun() {
    settings.GetRates().Active.Empty();
    for (const char* code : {"EUR", "USD", "GBP"}) Add(code, code[0] == 'E' ? 1.0 : code[0] == 'U' ? 1.2 : 0.7);
  }
  void Add(const char* code, double rate) {
    CurrencyInfo r;
    settings.InitCurrencyInfo(r, code);
    r.dRate = rate;
    settings.Add(r);
  }
  QTreeWidget* List(int page, int id) { return sheet->Kit(page)->Control<QTreeWidget>(id); }
  CSettings& Edited() { return sheet->Settings(); }
};

// Runs `act` on the modal dialog that opens next.
void OnNextModal(std::function<void(QDialog*)> act) {
  QTimer::singleShot(0, [act] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    QVERIFY(d);
    act(d);
  });
}

DWORD Hits(const char* code) {
  DWORD n = 0;
  return GetUnitHits(code, &n) ? n : 0xDEAD;
}

}  // namespace

class CurrencyPagesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { SetCurrencyClock(FixedNow); }
  void cleanupTestCase() { SetCurrencyClock(nullptr); }

  // ---- The orders ----

  void CurrencyRowsOrder() {
    const CurrencyRowKey eur{"EUR", u"Euro", true, 1.0, 2, 10, false};
    const CurrencyRowKey usd{"usd", u"euro", true, 0.8, 3, 0x90000000u, true};
    const CurrencyRowKey dem{"DEM", nullptr, true, 0.5, 2, 10, false};
    const CurrencyRowKey xau{"XAU", u"Gold", false, 0.0, 0, 0, false};
    const struct {
      const CurrencyRowKey& a;
      const CurrencyRowKey& b;
      int column;
      bool descending;
      int sign;
    } cases[] = {
        {eur, usd, 0, false, -1}, {eur, usd, 0, true, 1},   {usd, eur, 1, false, 1},   // name tie: by code
        {dem, eur, 1, false, -1},                                                        // no name: empty
        {eur, usd, 2, false, 1},  {xau, dem, 2, false, 1},  {xau, dem, 2, true, -1},   // never set: last
        {eur, dem, 3, false, 1},  {dem, eur, 3, false, -1}, {eur, usd, 4, false, -1},  // hits above 2^31
        {usd, eur, 5, false, 1},  {eur, eur, 4, false, 0},
    };
    for (const auto& c : cases)
      QVERIFY2(Sign(CompareCurrencyRows(c.a, c.b, c.column, c.descending)) == c.sign,
               qPrintable(QString("%1 %2 column %3").arg(c.a.code, c.b.code).arg(c.column)));
  }

  void DatabaseAndLocaleRowsOrder() {
    const DatabaseRowKey dem{"DEM", u"Deutsche Mark", 1, false, true};
    const DatabaseRowKey xpf{"XPF", u"CFP franc", 2, true, false};
    const DatabaseRowKey usd{"USD", u"US dollar", 0, true, true};
    const struct {
      const DatabaseRowKey& a;
      const DatabaseRowKey& b;
      int column;
      bool descending;
      int sign;
    } cases[] = {{dem, xpf, 0, false, -1}, {dem, xpf, 1, false, 1},  {usd, dem, 2, false, -1}, {dem, xpf, 2, false, -1},
                 {dem, usd, 3, false, -1}, {xpf, usd, 3, false, 1},  {xpf, usd, 3, true, -1},   {xpf, dem, 4, false, -1}};
    for (const auto& c : cases)
      QVERIFY2(Sign(CompareDatabaseRows(c.a, c.b, c.column, c.descending)) == c.sign,
               qPrintable(QString("%1 %2 column %3").arg(c.a.code, c.b.code).arg(c.column)));

    const LocaleRowKey de{1031, "German (Germany)"}, at{3079, "German (Austria)"}, en{1033, "english (United States)"};
    QCOMPARE(Sign(CompareLocaleRows(de, at, 0, false)), -1);
    QCOMPARE(Sign(CompareLocaleRows(de, at, 1, false)), 1);
    QCOMPARE(Sign(CompareLocaleRows(en, de, 1, false)), -1);  // without case
    QCOMPARE(Sign(CompareLocaleRows(en, de, 1, true)), 1);

    const LocaleInfoRowKey a{"ADF", u"franc", nullptr, u"", false}, b{"BEF", u"Franc", u"F", u"x", true};
    QCOMPARE(Sign(CompareLocaleInfoRows(a, b, 1, false)), -1);  // equal names: by code
    QCOMPARE(Sign(CompareLocaleInfoRows(a, b, 1, true)), -1);   // ... in both directions
    QCOMPARE(Sign(CompareLocaleInfoRows(a, b, 2, false)), -1);  // a missing symbol first
    QCOMPARE(Sign(CompareLocaleInfoRows(a, b, 3, true)), 1);
    QCOMPARE(Sign(CompareLocaleInfoRows(b, a, 4, false)), 1);  // in the list last
    QCOMPARE(Sign(CompareLocaleInfoRows(b, a, -1, true)), 1);  // no column: by code, ascending
  }

  // ---- Page 0 ----

  void AddedCurrenciesAndTheirTimes() {
    PagesRun run;
    bool ok = run.Run(0, [&](PropertySheet& w) {
      OnNextModal([](QDialog* d) {
        auto* choice = static_cast<CCurrencyChoiceDialog*>(d);
        SelectRows(choice->List(), {"FRF", "JPY"});
        choice->OkButton()->click();
      });
      run.sheet->Command(0, currencylistpage::kAdd);
      QTreeWidget* list = run.List(0, currencylistpage::kCurrencyList);
      QVERIFY(Row(list, "FRF") && Row(list, "JPY"));
      QVERIFY(w.PageChanged(0));
      // Page 1 shows them in the list.
      w.SetCurrentPage(1);
      QCOMPARE(Row(run.List(1, databasepage::kDatabaseList), "FRF")->text(4), CatalogueText(run.lib, 244));
      w.OkButton()->click();
    });
    QVERIFY(ok);
    auto find = [&](const char* code) {
      int32_t i = run.settings.GetData()->IFind(code);
      return i < 0 ? nullptr : run.settings.GetRates()[static_cast<uint32_t>(i)];
    };
    QVERIFY(find("FRF") && find("JPY"));
    QCOMPARE(U64(find("FRF")->ftLastChange), kNow);  // a fixed rate without a time
    QCOMPARE(find("FRF")->dRate, 6.55957);
    QVERIFY(find("FRF")->dwFlags & kInfoEuroReplaced);
    QCOMPARE(U64(find("JPY")->ftLastChange), uint64_t{0});  // floating: none
  }

  void RemovingTheBaseMakesEuroTheBase() {
    PagesRun run;
    std::strcpy(run.settings.GetData()->BaseUnit, "USD");
    run.Run(1, [&](PropertySheet& w) {
      w.SetCurrentPage(0);
      QTreeWidget* list = run.List(0, currencylistpage::kCurrencyList);
      QCOMPARE(list->headerItem()->text(2), QString("Rate in USD"));
      QCOMPARE(Row(list, "GBP")->text(2).left(5), QString("1.714"));  // USD per GBP
      SelectRows(list, {"USD"});
      run.sheet->Command(0, currencylistpage::kRemove);
      QCOMPARE(QString(run.Edited().GetData()->BaseUnit), QString("EUR"));
      QCOMPARE(list->headerItem()->text(2), QString("Rate in EUR"));
      QCOMPARE(Row(list, "GBP")->text(2).left(5), QString("1.428"));
      QCOMPARE(Row(run.List(1, databasepage::kDatabaseList), "USD")->text(4), CatalogueText(run.lib, 245));
      w.reject();
    });
  }

  void ChoosingTheBaseRedoesTheRates() {
    PagesRun run;
    run.Run(0, [&](PropertySheet& w) {
      OnNextModal([](QDialog* d) {
        auto* combo = d->findChild<QComboBox*>();
        QVERIFY(combo);
        QCOMPARE(combo->itemText(0), QString("EUR"));
        combo->setCurrentIndex(combo->findText("GBP", Qt::MatchStartsWith));
        static_cast<CListChoiceDialog*>(d)->OkButton()->click();
      });
      run.sheet->Command(0, currencylistpage::kChooseBase);
      QTreeWidget* list = run.List(0, currencylistpage::kCurrencyList);
      QCOMPARE(list->headerItem()->text(2), QString("Rate in GBP"));
      QCOMPARE(Row(list, "GBP")->text(2), QString("1"));
      QVERIFY(w.PageChanged(0));
      w.reject();
    });
  }

  void ResetHitsIsWrittenAtOnce() {
    PagesRun run;
    SetUnitHits("USD", 5);
    SetUnitHits("GBP", 3000000000u);
    run.Run(0, [&](PropertySheet& w) {
      QTreeWidget* list = run.List(0, currencylistpage::kCurrencyList);
      QCOMPARE(Row(list, "GBP")->text(4), QString("3000000000"));
      run.sheet->Command(0, currencylistpage::kResetHits);
      QCOMPARE(Hits("USD"), DWORD{0});
      QCOMPARE(Row(list, "USD")->text(4), QString("0"));
      QVERIFY(!w.PageChanged(0));
      w.reject();
    });
    QCOMPARE(Hits("USD"), DWORD{0});
    QCOMPARE(Hits("GBP"), DWORD{0});
  }

  void RatesInformationShowsTheRatesOfTheSettings() {
    QtMessageDialogsScope dialogs;
    PagesRun run;
    run.settings.GetRates().Source = "European Central Bank|Bank of Canada";
    run.settings.GetRates().Copyright = "Reference rates|";
    QString title, text;
    run.Run(0, [&](PropertySheet& w) {
      OnNextModal([&](QDialog* d) {
        auto* report = dynamic_cast<MessageDialog*>(d);
        QVERIFY(report);
        title = report->windowTitle();
        text = report->TextControl()->toPlainText();
        report->reject();
      });
      qobject_cast<QPushButton*>(run.sheet->Kit(0)->Control(currencylistpage::kRatesInfo))->click();
      w.reject();
    });
    QCOMPARE(title, CatalogueText(run.lib, 422));
    QVERIFY2(text.contains("Rates from: European Central Bank\nCopyright: Reference rates\n") &&
                 text.contains("Rates from: Bank of Canada\nCopyright: -"),
             qPrintable(text));
  }

  void ComboBoxesAreTakenOnApply() {
    PagesRun run;
    bool ok = run.Run(0, [&](PropertySheet& w) {
      CFormKit& kit = *run.sheet->Kit(0);
      kit.Control<QComboBox>(currencylistpage::kUpdateRule)->setCurrentIndex(2);
      kit.Control<QComboBox>(currencylistpage::kConflictingEmu)->setCurrentIndex(1);
      kit.Control<QComboBox>(currencylistpage::kUnknownCurrencies)->setCurrentIndex(2);
      w.OkButton()->click();
    });
    QVERIFY(ok);
    CSettingsData& d = *run.settings.GetData();
    QCOMPARE(d.OnlyUpdateExisting, 1u);
    QCOMPARE(d.AlwaysRetainEuro, 0u);
    QCOMPARE(d.ConflictingEMU, 1u);
    QCOMPARE(d.UnknownCurrencies, 2u);
  }

  // ---- Page 1 ----

  void DatabaseRemovalZeroesHitsOnlyWhenSaved() {
    for (bool accept : {false, true}) {
      PagesRun run;
      SetUnitHits("GBP", 7);
      bool ok = run.Run(1, [&](PropertySheet& w) {
        w.SetCurrentPage(0);
        w.SetCurrentPage(1);
        QTreeWidget* list = run.List(1, databasepage::kDatabaseList);
        SelectRows(list, {"GBP"});
        run.sheet->Command(1, databasepage::kRemove);
        QVERIFY(!Row(list, "GBP"));
        QCOMPARE(list->selectedItems().size(), 1);  // the next row
        QVERIFY(!Row(run.List(0, currencylistpage::kCurrencyList), "GBP"));
        QCOMPARE(Hits("GBP"), DWORD{7});
        if (accept)
          w.OkButton()->click();
        else
          w.reject();
      });
      QCOMPARE(ok, accept);
      if (ok) {
        // As the configuration session does after OK.
        QCOMPARE(run.settings.Save(), 0u);
        run.sheet->RunAfterSave();
      }
      QCOMPARE(Hits("GBP"), DWORD{accept ? 0u : 7u});
    }
  }

  // The database reset and the selection's reset, answered Yes, No or Cancel, with and without the
  // stored definitions update: on a database with a currency of our own (QQQ, active) and an
  // update that defines it and names USD.
  void DatabaseResets_data() {
    QTest::addColumn<bool>("selection");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("ignore");
    for (bool selection : {false, true})
      for (int answer : {IDYES, IDNO, IDCANCEL})
        for (bool ignore : {false, true})
          QTest::newRow(qPrintable(QString("%1 %2 %3")
                                       .arg(selection ? "selected" : "database")
                                       .arg(answer == IDYES  ? "Yes"
                                            : answer == IDNO ? "No"
                                                             : "Cancel")
                                       .arg(ignore ? "ignored" : "update")))
              << selection << answer << ignore;
  }
  void DatabaseResets() {
    QFETCH(bool, selection);
    QFETCH(int, answer);
    QFETCH(bool, ignore);
    PagesRun run;
    CSettingsData& d = *run.settings.GetData();
    CurrencyData own;
    InitCurrencyData(own, "QQQ");
    own.dRate = 3.0;
    QVERIFY(d.Currencies.Add(own));
    run.Add("QQQ", 3.0);
    d.Currencies[d.Currencies.IFind("DEM")]->dwNumericCode = 1;  // a user's change
    run.settings.GetLocaleList()->GetLocale(1033)->IFind("USD")->SetName(u"Greenback");
    CUpdate update;
    const char text[] = "[EUR]\nQQQ = 2.5\n[Names]\nUSD-en-US = Update Dollar\n";
    QCOMPARE(update.Load(text, sizeof text - 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0u);
    QCOMPARE(update.Save(), 0u);
    vtxtest::PutAppDword(kIgnoreStaticUpdates, ignore ? 1 : 0);

    ScriptedBoxes boxes({answer});
    run.Run(1, [&](PropertySheet& w) {
      if (selection) SelectRows(run.List(1, databasepage::kDatabaseList), {"QQQ", "USD", "DEM"});
      run.sheet->Command(1, selection ? databasepage::kResetSelected : databasepage::kResetDatabase);
      QCOMPARE(w.PageChanged(1), answer != IDCANCEL);
      w.OkButton()->click();
    });
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
    QCOMPARE(ScriptedBoxes::Shown().front().type & 0xF, static_cast<UINT>(MB_YESNOCANCEL));
    CSettingsData& after = *run.settings.GetData();  // OK copied the edited settings back
    auto db = [&](const char* code) {
      int32_t i = after.Currencies.IFind(code);
      return i < 0 ? nullptr : after.Currencies[i];
    };
    CStringW name;
    run.settings.GetLocaleList()->GetCurrencyName(name, "USD", false, 1033);
    const QString usd = QString::fromStdU16String(name.c_str());
    if (answer == IDCANCEL) {
      QVERIFY(db("QQQ"));
      QCOMPARE(db("DEM")->dwNumericCode, 1u);
      QCOMPARE(usd, QString("Greenback"));
      QVERIFY(after.IFind("QQQ") >= 0);
      return;
    }
    QCOMPARE(db("DEM")->dwNumericCode, 276u);  // the built-in row again
    // The whole reset drops a currency without a built-in row unless the update defines it; the
    // selection's reset keeps it.
    const bool ownKept = selection || !ignore;
    QCOMPARE(db("QQQ") != nullptr, ownKept);
    QCOMPARE(after.IFind("QQQ") >= 0, ownKept);
    if (ownKept) {
      const double rate = ignore ? 3.0 : 2.5;
      QCOMPARE(db("QQQ")->dRate, rate);
      QCOMPARE(run.settings.GetRates()[static_cast<uint32_t>(after.IFind("QQQ"))]->dRate, rate);
    }
    QCOMPARE(usd, answer == IDNO ? QString("Greenback") : ignore ? QString("US Dollar") : QString("Update Dollar"));
  }

  // ---- Page 2 ----

  void CopyingALocaleAsksFirst() {
    for (int answer : {IDOK, IDCANCEL}) {
      PagesRun run;
      run.settings.GetLocaleList()->GetLocale(1031)->SetDecimalSeparator(u"#");
      ScriptedBoxes boxes({answer});
      run.Run(2, [&](PropertySheet& w) {
        QTreeWidget* list = run.List(2, localespage::kLocaleList);
        // The default locale is selected at the start.
        QCOMPARE(list->selectedItems().size(), 1);
        QCOMPARE(list->selectedItems().front()->text(0), QString("1033"));
        SelectRows(list, {"1031"});
        auto* copy = run.sheet->Kit(2)->Control<QCheckBox>(localespage::kCopyLocale);
        copy->setChecked(true);
        SelectRows(list, {"1040"});
        QVERIFY(!copy->isChecked());
        w.OkButton()->click();
      });
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
      const QString question = QString::fromStdString(ScriptedBoxes::Shown().front().text);
      QVERIFY2(question.contains("1031") && question.contains("1040"), qPrintable(question));
      CCurrencyLocale* it = run.settings.GetLocaleList()->GetLocale(1040);
      QCOMPARE(QString::fromStdU16String(it->GetDecimalSeparator()), QString(answer == IDOK ? "#" : ","));
      QCOMPARE(it->GetLCID(), 1040u);
    }
  }

  void MakeDefault() {
    PagesRun run;
    bool ok = run.Run(2, [&](PropertySheet& w) {
      SelectRows(run.List(2, localespage::kLocaleList), {"1031"});
      run.sheet->Command(2, localespage::kMakeDefault);
      QVERIFY(run.sheet->Kit(2)->Control<QLabel>(localespage::kDefaultLocale)->text().startsWith("1031 - German"));
      w.OkButton()->click();
    });
    QVERIFY(ok);
    QCOMPARE(run.settings.GetLocaleList()->GetDefaultLocale(), 1031u);
  }
};

QTEST_MAIN(CurrencyPagesTest)
#include "currencypages_test.moc"
