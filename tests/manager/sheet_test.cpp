// The configuration window's frame with small fake pages on the offscreen platform: change marks,
// OK and Apply, validation, start pages, the common list behaviour, column widths and the test
// update on a real update thread with a scripted engine.
#include <QApplication>
#include <QHeaderView>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <functional>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "manager/configsheet.h"
#include "manager/listcolumns.h"
#include "manager/offgui.h"
#include "manager/propertysheet.h"
#include "manager/qtparts.h"
#include "tests/manager/fakepages.h"
#include "tests/manager/fixture.h"
#include "tests/manager/sheetrun.h"
#include "tests/manager/waiting.h"

using namespace vtx::manager;
using vtxtest::FakePages;
using vtxtest::ManagerEnvironment;
using vtxtest::ScriptedBoxes;
using vtxtest::ScriptedEngine;
using vtxtest::WaitFor;

namespace {

// One run of the window with the fake pages.
struct SheetRun : vtxtest::WindowRun {
  FakePages pages;
  SheetRun() : WindowRun([this] { return pages.Factory()(); }) {}
  vtxtest::FakePage& Page(int i) { return *pages.pages.at(i); }
};

void Type(QLineEdit* edit, const QString& text) {
  edit->clear();
  QTest::keyClicks(edit, text);
}

}  // namespace

class SheetTest : public QObject {
  Q_OBJECT

 private slots:
  // Edits on no page, page 0, pages 0 and 3, then Apply or OK.
  void applyAndOk_data() {
    QTest::addColumn<QList<int>>("edited");
    QTest::addColumn<bool>("apply");
    for (bool apply : {true, false})
      for (auto [name, pages] : {std::pair{"none", QList<int>{}}, {"page 0", {0}}, {"pages 0 and 3", {0, 3}}})
        QTest::newRow(qPrintable(QString(apply ? "Apply, " : "OK, ") + name)) << pages << apply;
  }
  void applyAndOk() {
    QFETCH(QList<int>, edited);
    QFETCH(bool, apply);
    SheetRun run;
    bool applyWasEnabled = false, applyAfter = true;
    bool accepted = run.Run(0, [&](PropertySheet& w) {
      for (int page : edited) {
        w.SetCurrentPage(page);
        Type(run.Page(page).edit, QString("edit %1").arg(page));
      }
      applyWasEnabled = w.ApplyButton()->isEnabled();
      if (apply) {
        w.ApplyButton()->click();
        applyAfter = w.ApplyButton()->isEnabled();
        w.reject();
      } else {
        w.OkButton()->click();
      }
    });
    QCOMPARE(applyWasEnabled, !edited.isEmpty());
    std::string stored = vtxtest::StoreString("ProxyServer");
    if (apply) {
      QVERIFY(!applyAfter);
      // Apply saves once, when the last changed page applies; with nothing changed, nothing.
      QCOMPARE(accepted, !edited.isEmpty());
      QCOMPARE(stored, std::string(edited.isEmpty() ? "" : "edit 0"));
      if (edited.contains(3)) {
        QCOMPARE(run.pages.log.storeSeenByPage3, std::string(""));
        QCOMPARE(vtxtest::StoreString("DialUp"), std::string("edit 3"));
      }
    } else {
      // OK accepts and hands the settings back; the session saves them.
      QVERIFY(accepted);
      QCOMPARE(stored, std::string(""));
      if (!edited.isEmpty()) QCOMPARE(std::string(run.settings.GetData()->ProxyServer.c_str()), std::string("edit 0"));
    }
  }

  // Only user edits mark a page: typed text, a combo box choice, a check box click; a push button
  // is a command only, and nothing that code does marks.
  void userEditsMark_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("marks");
    QTest::addColumn<QString>("command");
    QTest::newRow("typed") << "type" << true << "command 2 1500 768";
    QTest::newRow("combo choice") << "choose" << true << "command 2 1502 1";
    QTest::newRow("check box click") << "click check" << true << "command 2 1501 0";
    QTest::newRow("push button") << "push" << false << "command 2 1503 0";
    QTest::newRow("text set by code") << "set text" << false << "";
    QTest::newRow("box checked by code") << "set check" << false << "";
    QTest::newRow("combo set by code") << "set combo" << false << "";
  }
  void userEditsMark() {
    QFETCH(QString, how);
    QFETCH(bool, marks);
    QFETCH(QString, command);
    SheetRun run;
    bool marked = true;
    run.Run(2, [&](PropertySheet& w) {
      vtxtest::FakePage& p = run.Page(2);
      if (how == "type") QTest::keyClicks(p.edit, "x");
      if (how == "choose") {
        p.combo->setFocus();
        QTest::keyClick(p.combo, Qt::Key_Down);
      }
      if (how == "click check") QTest::mouseClick(p.check, Qt::LeftButton, {}, QPoint(8, p.check->height() / 2));
      if (how == "push") QTest::mouseClick(p.push, Qt::LeftButton);
      if (how == "set text") p.edit->setText("by code");
      if (how == "set check") p.check->setChecked(false);
      if (how == "set combo") p.combo->setCurrentIndex(2);
      marked = w.ApplyButton()->isEnabled() && w.PageChanged(2);
      w.reject();
    });
    QCOMPARE(marked, marks);
    QCOMPARE(run.pages.log.Count("command"), command.isEmpty() ? 0 : 1);
    if (!command.isEmpty()) QVERIFY(run.pages.log.Has(command.toStdString()));
  }

  // Pages are built and initialised on their first view, with the initialising flag around it.
  void startPages_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("opened");
    QTest::newRow("-1") << -1 << 0;
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("8") << 8 << 8;
    QTest::newRow("9") << 9 << 0;
  }
  void startPages() {
    QFETCH(int, start);
    QFETCH(int, opened);
    SheetRun run;
    int current = -1;
    QString title;
    run.Run(start, [&](PropertySheet& w) {
      current = w.CurrentPage();
      title = w.windowTitle();
      w.reject();
    });
    QCOMPARE(current, opened);
    QCOMPARE(title, QString("Vantrex Configuration"));
    QCOMPARE(run.pages.log.Count("init"), 1);
    QVERIFY(run.pages.log.Has("init " + std::to_string(opened) + " initialising"));
  }

  // The sheet without Apply (for the currency properties): pages built on their first view, and
  // OK closes only when the owner agrees.
  void sheetWithoutApply() {
    PropertySheet sheet(nullptr, false);
    std::vector<int> viewed;
    int applies = 0;
    bool agree = false;
    sheet.onFirstView = [&](int i) { viewed.push_back(i); };
    sheet.onApply = [&](bool ok) {
      applies += ok;
      return agree;
    };
    sheet.AddPage("one");
    sheet.AddPage("two");
    QVERIFY(!sheet.ApplyButton());
    QVERIFY(viewed.empty());
    sheet.Start(1);
    sheet.SetCurrentPage(0);
    sheet.SetCurrentPage(1);
    QCOMPARE(viewed, (std::vector<int>{1, 0}));
    sheet.show();
    sheet.OkButton()->click();
    QVERIFY(sheet.isVisible());
    agree = true;
    sheet.OkButton()->click();
    QVERIFY(!sheet.isVisible());
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
    QCOMPARE(applies, 2);
  }

  // OK with a page that refuses: the window switches to it and stays open; a Cancel then hands
  // nothing back, not even what the pages before it took over.
  void failingPage() {
    SheetRun run;
    run.pages.log.failValidation[3] = true;
    int stayedOn = -1;
    bool stillOpen = false;
    bool accepted = run.Run(0, [&](PropertySheet& w) {
      Type(run.Page(0).edit, "kept?");
      w.SetCurrentPage(3);
      w.SetCurrentPage(5);
      w.OkButton()->click();
      stayedOn = w.CurrentPage();
      stillOpen = w.isVisible();
      w.reject();
    });
    QCOMPARE(stayedOn, 3);
    QVERIFY(stillOpen);
    QVERIFY(run.pages.log.Has("message 3"));
    QVERIFY(!run.pages.log.Has("validate 5"));
    QVERIFY(!accepted);
    QCOMPARE(run.settings.GetData()->ProxyServer.c_str() ? std::string(run.settings.GetData()->ProxyServer.c_str())
                                                          : std::string(),
             std::string(":80"));

    // Mended, OK closes.
    SheetRun again;
    again.pages.log.failValidation[3] = true;
    QVERIFY(again.Run(3, [&](PropertySheet& w) {
      w.OkButton()->click();
      again.pages.log.failValidation[3] = false;
      w.OkButton()->click();
    }));
  }

  // Cancel after Apply hands back what Apply saved, not the edits made since.
  void cancelAfterApply() {
    SheetRun run;
    bool accepted = run.Run(0, [&](PropertySheet& w) {
      Type(run.Page(0).edit, "applied");
      w.ApplyButton()->click();
      Type(run.Page(0).edit, "not applied");
      w.SetCurrentPage(4);  // a later OK would validate it; Cancel does not
      w.reject();
    });
    QVERIFY(accepted);
    QCOMPARE(std::string(run.settings.GetData()->ProxyServer.c_str()), std::string("applied"));
    QCOMPARE(vtxtest::StoreString("ProxyServer"), std::string("applied"));
  }

  // Delete, a double click, a header click and a selection change on page 0's list.
  void commonListBehaviour() {
    SheetRun run;
    std::strcpy(run.settings.GetData()->BaseUnit, "USD");
    for (const char* code : {"GBP", "CHF", "JPY"}) {
      CurrencyInfo rec{};
      run.settings.InitCurrencyInfo(rec, code);
      run.settings.Add(rec);
    }
    QStringList headers, sortedAsc, sortedDesc, sortedOther;
    bool removeWithSelection = false, removeWithout = true;
    run.Run(0, [&](PropertySheet&) {
      QTreeWidget* list = run.Page(0).list;
      for (int i = 0; i < list->columnCount(); ++i) headers << list->headerItem()->text(i);
      auto column = [&](int c) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(c);
        return out;
      };
      sortedAsc = column(0);
      QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {},
                        QPoint(list->header()->sectionViewportPosition(0) + 5, 5));
      sortedDesc = column(0);
      QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {},
                        QPoint(list->header()->sectionViewportPosition(1) + 5, 5));
      sortedOther = column(0);
      list->topLevelItem(0)->setSelected(true);
      removeWithSelection = run.Page(0).remove->isEnabled();
      list->clearSelection();
      removeWithout = run.Page(0).remove->isEnabled();
      list->setFocus();
      QTest::keyClick(list, Qt::Key_Delete);
      QPoint item = list->visualItemRect(list->topLevelItem(0)).center();
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item);
      QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, item);
      run.sheet->Window()->reject();
    });
    QCOMPARE(headers, (QStringList{"Code", "Name", "Rate in USD", "Sources", "Hits", ""}));
    // The euro is in every new list.
    QCOMPARE(sortedAsc, (QStringList{"CHF", "EUR", "GBP", "JPY"}));
    QCOMPARE(sortedDesc, (QStringList{"JPY", "GBP", "EUR", "CHF"}));
    QCOMPARE(run.sheet->Sort(currencylistpage::kCurrencyList).column, 1);
    QVERIFY(!run.sheet->Sort(currencylistpage::kCurrencyList).descending);
    QVERIFY(removeWithSelection);
    QVERIFY(!removeWithout);  // deselection runs the rules too
    QVERIFY(run.pages.log.Has("command 0 1013 0"));
    QVERIFY(run.pages.log.Has("command 0 1014 0"));
    QCOMPARE(ConfigurationSheet(run.lib).Sort(localespage::kLocaleList).column, 1);
  }

  // F1 on the currency list shows its topic with the base currency; a control without a topic
  // shows nothing.
  void helpOnTheCurrencyList() {
    SheetRun run;
    std::strcpy(run.settings.GetData()->BaseUnit, "CHF");
    QString shown, withoutTopic = "none";
    run.Run(0, [&](PropertySheet& w) {
      CFormKit* kit = run.sheet->Kit(0);
      QVERIFY(kit);
      run.Page(0).list->setFocus();
      QTest::keyClick(run.Page(0).list, Qt::Key_F1);
      shown = kit->Tooltip().Text();
      kit->Tooltip().Hide();
      QTest::keyClick(run.Page(0).edit, Qt::Key_F1);
      withoutTopic = kit->Tooltip().Window() ? kit->Tooltip().Text() : "";
      w.reject();
    });
    QString expected = QString::fromStdString(FormatString(run.lib, 38, {FormatInsert("CHF")}));
    QVERIFY(expected.contains("CHF"));
    QCOMPARE(shown, expected);
    QCOMPARE(withoutTopic, QString());
    QCOMPARE(PageHelpMap(3).size(), size_t{21});
    QVERIFY(PageHelpMap(8).empty());
  }

  // The fit of a list's columns, in pixels.
  void columnFit_data() {
    QTest::addColumn<QList<int>>("stored");
    QTest::addColumn<QList<int>>("header");
    QTest::addColumn<bool>("rowsFit");
    QTest::addColumn<bool>("giveToName");
    QTest::addColumn<QList<int>>("widths");
    // The list is 404 wide: 400 inside its frame; a scroll bar is 16.
    QTest::newRow("all stored") << QList<int>{50, 500, 60} << QList<int>{40, 50, 30} << true << true
                                << QList<int>{50, 500, 60};
    QTest::newRow("missing middle takes its header") << QList<int>{50, -1, 60} << QList<int>{40, 70, 30} << true
                                                     << false << QList<int>{50, 70, 60};
    QTest::newRow("last fills the rest") << QList<int>{50, 100, -1} << QList<int>{40, 70, 30} << true << false
                                         << QList<int>{50, 100, 250};
    QTest::newRow("less a scroll bar when rows do not fit") << QList<int>{50, 100, -1} << QList<int>{40, 70, 30}
                                                            << false << false << QList<int>{50, 100, 234};
    QTest::newRow("currency lists: the rest goes to the name") << QList<int>{50, 100, -1} << QList<int>{40, 70, 30}
                                                               << true << true << QList<int>{50, 304, 30};
    QTest::newRow("too wide: the name gives way") << QList<int>{300, 200, -1} << QList<int>{40, 70, 30} << true
                                                  << false << QList<int>{300, 70, 30};
    QTest::newRow("never below 10") << QList<int>{390, 200, -1} << QList<int>{40, 70, 30} << true << true
                                    << QList<int>{390, 10, 30};
  }
  void columnFit() {
    QFETCH(QList<int>, stored);
    QFETCH(QList<int>, header);
    QFETCH(bool, rowsFit);
    QFETCH(bool, giveToName);
    QFETCH(QList<int>, widths);
    ColumnFit fit;
    fit.stored.assign(stored.begin(), stored.end());
    fit.header.assign(header.begin(), header.end());
    fit.listWidth = 404;
    fit.frame = 4;
    fit.scrollBar = 16;
    fit.rowsFit = rowsFit;
    fit.giveToName = giveToName;
    std::vector<int> got = FitColumnWidths(fit);
    QCOMPARE(QList<int>(got.begin(), got.end()), widths);
  }

  // The data-source list takes its stored widths, sizes a missing column, and writes every width
  // back when the window closes.
  void columnWidthsStoredAndWrittenBack() {
    SheetRun run;
    vtxtest::PutAppDword("SettingsServerListColumn1", 123);
    int first = 0, second = 0, listWidth = 0;
    run.Run(3, [&](PropertySheet& w) {
      w.resize(700, 500);
      QTest::qWait(50);
      QTreeWidget* list = run.Page(3).list;
      first = list->header()->sectionSize(0);
      second = list->header()->sectionSize(1);
      listWidth = list->width();
      list->header()->resizeSection(0, 140);
      w.reject();
    });
    QCOMPARE(first, 123);
    QVERIFY2(second > 100, qPrintable(QString::number(second)));  // the rest of the list
    QVERIFY(first + second <= listWidth);
    RegDwordValue v;
    QCOMPARE(v.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "SettingsServerListColumn1"), S_OK);
    QCOMPARE(DWORD(v), DWORD(140));
    QCOMPARE(v.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "SettingsServerListColumn2"), S_OK);
    QCOMPARE(DWORD(v), DWORD(second));
  }

  // A test update on the manager's own update thread: everything is disabled while it runs (a
  // page first opened then too), the title alternates, and the result refills page 0 with its
  // rules right.
  void testUpdateDone() {
    SheetRun run;
    run.engine->hold = true;
    run.engine->add = {"USD"};
    CurrencyInfo gbp{};
    run.settings.InitCurrencyInfo(gbp, "GBP");
    run.settings.Add(gbp);
    bool pagesOff = false, buttonsOff = false, tabsOff = false, laterPageOff = false, removeOnBefore = false;
    UINT titles[3] = {};
    bool removeOnAfter = true, okOnAfter = false, applyOnAfter = false;
    QStringList rows;
    bool accepted = run.Run(0, [&](PropertySheet& w) {
      vtxtest::FakePage& p = run.Page(0);
      p.list->topLevelItem(0)->setSelected(true);
      removeOnBefore = p.remove->isEnabled();
      QTest::mouseClick(p.test, Qt::LeftButton);
      QVERIFY(WaitFor([&] { return run.engine->Running(); }));
      pagesOff = !p.edit->isEnabled() && !p.test->isEnabled();
      buttonsOff = !w.OkButton()->isEnabled() && !w.CancelButton()->isEnabled();
      tabsOff = !w.Tabs()->tabBar()->isEnabled();
      w.SetCurrentPage(5);
      laterPageOff = !run.Page(5).edit->isEnabled();
      w.SetCurrentPage(0);
      titles[0] = run.sheet->TitleString();
      SendMessageA(run.sheet->ControlWindow(), WM_TIMER, 2, 0);
      titles[1] = run.sheet->TitleString();
      SendMessageA(run.sheet->ControlWindow(), WM_TIMER, 2, 0);
      titles[2] = run.sheet->TitleString();
      run.engine->Release();
      QVERIFY(WaitFor([&] { return !run.sheet->Testing(); }));
      removeOnAfter = p.remove->isEnabled();
      okOnAfter = w.OkButton()->isEnabled();
      applyOnAfter = w.ApplyButton()->isEnabled();
      for (int i = 0; i < p.list->topLevelItemCount(); ++i) rows << p.list->topLevelItem(i)->text(0);
      w.OkButton()->click();
    });
    QVERIFY(removeOnBefore);
    QVERIFY(pagesOff);
    QVERIFY(buttonsOff);
    QVERIFY(tabsOff);
    QVERIFY(laterPageOff);
    QCOMPARE(titles[0], kStrTestUpdateTitle);
    QCOMPARE(titles[1], kStrConfigurationTitle);
    QCOMPARE(titles[2], kStrTestUpdateTitle);
    QCOMPARE(run.sheet->TitleString(), kStrConfigurationTitle);
    QCOMPARE(rows, (QStringList{"EUR", "GBP", "USD"}));
    QVERIFY(run.pages.log.Has("refill 0"));
    QVERIFY(run.pages.log.Has("refill 3") == false);  // page 3 was never opened
    QVERIFY(!removeOnAfter);  // the refill dropped the selection and the rule turned it off
    QVERIFY(okOnAfter);
    QVERIFY(applyOnAfter);  // page 0 holds the test's result
    QVERIFY(accepted);
    QVERIFY(run.sheet->TestUpdateStarted());
    QVERIFY(!run.sheet->TestUpdateChangedRates());  // no custom action set
    QCOMPARE(run.settings.GetRates().Active.GetCount(), 3u);
  }

  // The flags the session reads: started for every test, rates changed when the custom action
  // was due after it.
  void testUpdateFlags_data() {
    QTest::addColumn<bool>("definitions");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<DWORD>("rule");
    QTest::addColumn<bool>("changed");
    QTest::newRow("done, always") << false << false << DWORD(0) << true;
    QTest::newRow("failed, always") << false << true << DWORD(0) << true;
    QTest::newRow("failed, after success") << false << true << DWORD(1) << false;
    QTest::newRow("done, after success") << false << false << DWORD(1) << true;
    QTest::newRow("definitions done") << true << false << DWORD(0) << false;
  }
  void testUpdateFlags() {
    QFETCH(bool, definitions);
    QFETCH(bool, fails);
    QFETCH(DWORD, rule);
    QFETCH(bool, changed);
    SheetRun run;
    ScriptedBoxes boxes;
    run.engine->result = fails ? 0x80070450 : 0;
    run.settings.GetData()->CustomAction = "action.sh";
    run.settings.GetData()->ExecuteCustomAction = rule;
    run.Run(definitions ? 1 : 0, [&](PropertySheet& w) {
      QTest::mouseClick(run.Page(definitions ? 1 : 0).test, Qt::LeftButton);
      QVERIFY(WaitFor([&] { return !run.sheet->Testing(); }));
      w.reject();
    });
    QVERIFY(run.sheet->TestUpdateStarted());
    QCOMPARE(run.sheet->TestUpdateChangedRates(), changed);
    QCOMPARE(run.pages.log.Has("refill 0"), definitions ? false : !fails);
    QCOMPARE(run.pages.log.Has("refill 1"), definitions);
  }

  // A test refused by a page's validation switches to that page and starts nothing.
  void testUpdateValidates() {
    SheetRun run;
    run.pages.log.failValidation[3] = true;
    int current = -1;
    run.Run(3, [&](PropertySheet& w) {
      w.SetCurrentPage(0);
      QTest::mouseClick(run.Page(0).test, Qt::LeftButton);
      current = w.CurrentPage();
      w.reject();
    });
    QCOMPARE(current, 3);
    QVERIFY(!run.sheet->TestUpdateStarted());
  }

  // After a test, "only update existing" with a list of one foreign currency warns (string 320).
  void testUpdateWarnsOfAShortList() {
    SheetRun run;
    ScriptedBoxes boxes({IDOK});
    run.settings.GetData()->OnlyUpdateExisting = 1;
    run.settings.Remove("EUR");
    run.engine->add = {"USD"};
    run.Run(0, [&](PropertySheet& w) {
      QTest::mouseClick(run.Page(0).test, Qt::LeftButton);
      QVERIFY(WaitFor([&] { return ScriptedBoxes::Shown().size() == 1; }));
      w.reject();
    });
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
    QCOMPARE(ScriptedBoxes::Shown().at(0).caption, std::string("Vantrex"));
    QCOMPARE(ScriptedBoxes::Shown().at(0).type, MB_ICONWARNING | MB_SETFOREGROUND);
    QVERIFY(ScriptedBoxes::Shown().at(0).text.find("Only the currencies") == 0);
  }

  // Closing the window while a test runs neither waits for the worker nor breaks when its late
  // report comes.
  void closeDuringTest() {
    SheetRun run;
    run.engine->hold = true;
    QElapsedTimer closing;
    run.Run(0, [&](PropertySheet& w) {
      QTest::mouseClick(run.Page(0).test, Qt::LeftButton);
      QVERIFY(WaitFor([&] { return run.engine->Running(); }));
      closing.start();
      w.reject();
    });
    QVERIFY(closing.elapsed() < 2000);
    QVERIFY(run.sheet->ControlWindow() == nullptr);
    QVERIFY(!FindWindowA(kControlWindowClass, nullptr));
    run.engine->Release();
    QVERIFY(WaitForReleases(10000));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Formatted boxes take the platform's road, as in the manager.
  vtx::SetMessageBoxHandler([](void* window, const char* text, const char* caption, UINT type) {
    return MessageBoxA(static_cast<HWND>(window), text, caption, type);
  });
  SheetTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "sheet_test.moc"
