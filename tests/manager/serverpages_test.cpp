// Pages 3 to 8 of the configuration window on the offscreen platform: what they show, what they
// store on apply and what they refuse; the duration and number fields; the browse check; the
// warning-limit rule; the watchdog interval; the test notification against a socat peer and,
// once, against the real vtxserver with SMTP (aiosmtpd) and the file channel; the links.
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/currency/datasource.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "manager/configsession.h"
#include "manager/configsheet.h"
#include "manager/datasourcedialog.h"
#include "manager/duration.h"
#include "manager/filepicker.h"
#include "manager/offgui.h"
#include "manager/propertysheet.h"
#include "manager/qtparts.h"
#include "manager/richtext.h"
#include "manager/serverpages.h"
#include "platform/native/productpaths.h"
#include "tests/manager/fakepages.h"
#include "tests/manager/fakes.h"
#include "tests/manager/fixture.h"
#include "tests/manager/input.h"
#include "tests/manager/serverpeer.h"
#include "tests/manager/sheetrun.h"
#include "tests/manager/waiting.h"
#include "tests/support/net.h"
#include "tests/support/rawpipe.h"

using namespace vtx::manager;
using vtxtest::ManagerEnvironment;
using vtxtest::ScriptedBoxes;
using vtxtest::ScriptedEngine;
using vtxtest::ArrowPoint;
using vtxtest::MouseAt;
using vtxtest::WaitFor;

namespace {

constexpr UINT kRefused = 0x10010;

std::string Text(HMODULE lib, UINT id) { return vtx::AnsiToUtf8(LoadText(lib, id).c_str()); }

DWORD StoreDword(const char* name, DWORD missing = 0xDEADBEEF) {
  RegDwordValue v;
  return SUCCEEDED(v.Load(HKEY_LOCAL_MACHINE, g_szAppKey, name)) ? static_cast<DWORD>(v) : missing;
}

std::string Str(const CStringA& s) { return s.c_str() ? s.c_str() : ""; }

void AddSource(CSettings& settings, const char* url, const char* filter = nullptr) {
  auto* s = new CDataSource;
  s->SetURL(url);
  s->SetFilter(filter);
  settings.GetData()->Sources.Add(s);
}

// The file dialogs answer from the test.
struct ScriptedPicker : IFilePicker {
  std::optional<QString> answer;
  QString folder, filter;
  int asked = 0;
  std::optional<QString> OpenFile(QWidget*, const QString& f, const QString& flt) override {
    ++asked;
    folder = f;
    filter = flt;
    return answer;
  }
  std::optional<QString> SaveFile(QWidget*, const QString& path, const QString& flt) override {
    ++asked;
    folder = path;
    filter = flt;
    return answer;
  }
};

// One run of the window with the product's pages on a private store; the script runs once the
// window is open and must close it.
struct PagesRun : vtxtest::WindowRun {
  explicit PagesRun(std::deque<int> answers = {})
      : WindowRun({}, [](ManagerEnvironment& env) {
          std::string filters = env / "filters";
          std::filesystem::copy(vtxtest::SourcePath("resources/filters"), filters);
          vtxtest::PutAppString("Filters", filters);
        }),
        boxes(std::move(answers)) {
    limitMs = 30000;
  }
  ScriptedBoxes boxes;

  CSettingsData& Data() { return *settings.GetData(); }
  QWidget* Control(int page, int id) { return sheet->Kit(page)->Control(id); }
  template <class W>
  W* Control(int page, int id) {
    return qobject_cast<W*>(Control(page, id));
  }
  CDurationSpinBox* Duration(int page, int upDownId) {
    return dynamic_cast<CDurationSpinBox*>(Control(page, upDownId));
  }
};

// Focus events need an active window, which the offscreen platform does not make by itself.
void Activate(QWidget* w) {
  QApplication::setActiveWindow(w->window());
  QVERIFY(QTest::qWaitForWindowActive(w->window()));
}

// Leaves the focused field, as a click elsewhere does.
void Leave(QWidget* elsewhere) {
  elsewhere->setFocus();
  QTRY_VERIFY(elsewhere->hasFocus());
}

void Type(QLineEdit* edit, const QString& text) {
  Activate(edit);
  edit->setFocus();
  edit->selectAll();
  if (text.isEmpty()) {
    QTest::keyClick(edit, Qt::Key_Delete);
  } else {
    QTest::keyClicks(edit, text);
  }
}

QStringList Column(QTreeWidget* list, int column) {
  QStringList out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(column);
  return out;
}

void Select(QTreeWidget* list, int row) {
  list->clearSelection();
  list->setCurrentItem(list->topLevelItem(row));
}

// Acts on the next modal dialog once it is open.
void WhenModal(const std::function<void(QWidget*)>& act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(modal);
  });
  timer->start(20);
}

// The data-source dialog, once it opens, gets the address typed and OK.
void TypeAddressWhenAsked(const std::string& url) {
  WhenModal([url](QWidget* modal) {
    auto* d = dynamic_cast<CDataSourceDialog*>(modal);
    QVERIFY(d);
    QLineEdit* address = d->AddressBox()->lineEdit();
    address->selectAll();
    QTest::keyClicks(address, QString::fromStdString(url));
    d->OkButton()->click();
  });
}

std::string U32(uint32_t v) { return vtxtest::U32(v); }

}  // namespace

class ServerPagesTest : public QObject {
  Q_OBJECT

 private slots:
  // ---- Page 3 ----

  // Up and down reorder the sources and the store keeps the new order; at most above at least
  // becomes at least, also while the schedule is off and its fields disabled.
  void sourcesOrderAndSchedule() {
    PagesRun run;
    CSettingsData& d = run.Data();
    d.Sources.Empty();
    for (const char* url : {"https://a.example/", "https://b.example/", "https://c.example/"}) AddSource(run.settings, url);
    d.AutoUpdate = 0;
    d.UpdateAtLeast = 3600;
    d.UpdateAtMost = 7200;
    QStringList before, after;
    QString shownAtMost;
    bool fieldsDisabled = false, upAtTop = true, downAtBottom = true;
    run.Run(3, [&](PropertySheet& w) {
      auto* list = run.Control<QTreeWidget>(3, sourcespage::kSourceList);
      fieldsDisabled = !run.Control(3, sourcespage::kAtLeastUpDown)->isEnabled() &&
                       !run.Control(3, sourcespage::kAtMostUpDown)->isEnabled();
      before = Column(list, 0);
      Select(list, 0);
      upAtTop = run.Control(3, sourcespage::kMoveUp)->isEnabled();
      Select(list, 2);
      downAtBottom = run.Control(3, sourcespage::kMoveDown)->isEnabled();
      QTest::mouseClick(run.Control<QPushButton>(3, sourcespage::kMoveUp), Qt::LeftButton);  // c up
      Select(list, 0);
      QTest::mouseClick(run.Control<QPushButton>(3, sourcespage::kMoveDown), Qt::LeftButton);  // a down
      after = Column(list, 0);
      w.ApplyButton()->click();
      shownAtMost = QString::fromStdString(run.Duration(3, sourcespage::kAtMostUpDown)->Text());
      w.reject();
    });
    QVERIFY(fieldsDisabled);
    QVERIFY(!upAtTop);
    QVERIFY(!downAtBottom);
    QCOMPARE(before, (QStringList{"https://a.example/", "https://b.example/", "https://c.example/"}));
    QCOMPARE(after, (QStringList{"https://c.example/", "https://a.example/", "https://b.example/"}));
    CDataSourceList stored;
    QCOMPARE(stored.Load(HKEY_LOCAL_MACHINE, g_szAppKey, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    QStringList order;
    for (CDataSource* s : stored) order << s->GetURL();
    QCOMPARE(order, after);
    QCOMPARE(StoreDword("UpdateAtLeast"), DWORD(3600));
    QCOMPARE(StoreDword("UpdateAtMost"), DWORD(3600));
    QCOMPARE(shownAtMost, QString("01:00:00"));
  }

  // Removing the only source (Delete on the list) and pressing OK is refused with 108; the window
  // stays on the page.
  void noSourceIsRefused() {
    PagesRun run({IDOK});
    run.Data().Sources.Empty();
    AddSource(run.settings, "https://only.example/");
    bool stayed = false, marked = false, editDisabled = false;
    bool accepted = run.Run(0, [&](PropertySheet& w) {
      w.SetCurrentPage(3);
      auto* list = run.Control<QTreeWidget>(3, sourcespage::kSourceList);
      Select(list, 0);
      list->setFocus();
      QTest::keyClick(list, Qt::Key_Delete);
      marked = w.PageChanged(3);
      editDisabled = !run.Control(3, sourcespage::kEditSource)->isEnabled() &&
                     !run.Control(3, sourcespage::kRemoveSource)->isEnabled();
      w.SetCurrentPage(0);
      w.OkButton()->click();
      stayed = w.isVisible() && w.CurrentPage() == 3;
      w.reject();
    });
    QVERIFY(!accepted);
    QVERIFY(marked);
    QVERIFY(editDisabled);
    QVERIFY(stayed);
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
    QCOMPARE(ScriptedBoxes::Shown()[0].text, Text(run.lib, 108));
    QCOMPARE(ScriptedBoxes::Shown()[0].type, kRefused);
  }

  // Add appends, selects and re-enables the order box; Edit (double click) redoes the row.
  void addAndEditThroughTheDialog() {
    PagesRun run;
    run.Data().Sources.Empty();
    AddSource(run.settings, "https://first.example/rates.xml", "eurfeed.ini");
    QStringList rows, filters;
    bool orderBefore = true, orderAfter = false, marked = false;
    int selected = -1, shown = 0, needed = 1;
    const QString longAddress = "https://second.example/" + QString(120, 'x') + "/feed.xml";
    run.Run(3, [&](PropertySheet& w) {
      auto* list = run.Control<QTreeWidget>(3, sourcespage::kSourceList);
      orderBefore = run.Control(3, sourcespage::kSourceOrder)->isEnabled();
      TypeAddressWhenAsked(longAddress.toStdString());
      QTest::mouseClick(run.Control<QPushButton>(3, sourcespage::kAddSource), Qt::LeftButton);
      // The new address shows whole.
      shown = list->columnWidth(0);
      needed = list->fontMetrics().horizontalAdvance(longAddress);
      orderAfter = run.Control(3, sourcespage::kSourceOrder)->isEnabled();
      marked = w.PageChanged(3);
      selected = list->indexOfTopLevelItem(list->currentItem());
      TypeAddressWhenAsked("https://first.example/other.xml");
      QRect firstRow = list->visualItemRect(list->topLevelItem(0));
      QPoint first(firstRow.left() + 20, firstRow.center().y());
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
      QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first);
      rows = Column(list, 0);
      filters = Column(list, 1);
      w.OkButton()->click();
    });
    QVERIFY(!orderBefore);
    QVERIFY(orderAfter);
    QVERIFY(marked);
    QCOMPARE(selected, 1);
    QVERIFY2(shown > needed, qPrintable(QString("%1 px for %2").arg(shown).arg(needed)));
    QCOMPARE(rows, (QStringList{"https://first.example/other.xml", longAddress}));
    QCOMPARE(filters.front(), QString("European Central Bank"));
    QCOMPARE(run.Data().Sources.GetCount(), 2u);
    QCOMPARE(std::string(run.Data().Sources[0]->GetURL()), std::string("https://first.example/other.xml"));
  }

  // The arrows of every number and duration field mark their page changed.
  void arrowsMarkThePage_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("upDown");
    QTest::newRow("attempts") << 3 << int{sourcespage::kAttemptsUpDown};
    QTest::newRow("at least") << 3 << int{sourcespage::kAtLeastUpDown};
    QTest::newRow("largest change") << 6 << int{warningspage::kMaxFluctuationUpDown};
    QTest::newRow("watchdog") << 6 << int{warningspage::kMonitorUpDown};
  }
  void arrowsMarkThePage() {
    QFETCH(int, page);
    QFETCH(int, upDown);
    PagesRun run;
    run.Data().AutoUpdate = 1;
    run.Data().UpdateAttempts = 3;
    bool before = true, after = false;
    run.Run(page, [&](PropertySheet& w) {
      auto* box = run.Control<QAbstractSpinBox>(page, upDown);
      before = w.PageChanged(page);
      QTest::mouseClick(box, Qt::LeftButton, {}, ArrowPoint(box, true));
      after = w.PageChanged(page) && w.ApplyButton()->isEnabled();
      w.reject();
    });
    QVERIFY(!before);
    QVERIFY(after);
  }

  // ---- Page 5 ----

  void connectionApply_data() {
    QTest::addColumn<int>("storedProxy");
    QTest::addColumn<int>("shownItem");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("item");  // -2: leave as shown
    QTest::addColumn<bool>("modem");
    QTest::addColumn<QString>("dialUp");
    QTest::addColumn<QString>("proxyServer");
    QTest::addColumn<int>("proxy");
    QTest::addColumn<int>("message");  // 0: accepted
    QTest::newRow("named proxy") << 0 << 1 << "proxy" << "8080" << 2 << false << "" << "proxy:8080" << 1 << 0;
    QTest::newRow("no port clears, named refused") << 1 << 2 << "proxy" << "" << -2 << false << "" << "" << 1 << 109;
    QTest::newRow("no host") << 2 << 0 << "" << "8080" << 2 << false << "" << ":8080" << 1 << 109;
    QTest::newRow("port 0") << 2 << 0 << "proxy" << "0" << 2 << false << "" << "proxy:0" << 1 << 109;
    QTest::newRow("port 65536") << 2 << 0 << "proxy" << "65536" << 2 << false << "" << "proxy:65536" << 1 << 109;
    QTest::newRow("port with a letter") << 2 << 0 << "proxy" << "80a" << 2 << false << "" << "proxy:80a" << 1 << 109;
    QTest::newRow("port 65535") << 2 << 0 << "proxy" << "65535" << 2 << false << "" << "proxy:65535" << 1 << 0;
    QTest::newRow("direct keeps a bad port") << 0 << 1 << "proxy" << "x" << -2 << false << "" << "proxy:x" << 0 << 0;
    QTest::newRow("unknown mode unchanged") << 7 << -1 << "h" << "1" << -2 << false << "" << "h:1" << 7 << 0;
    QTest::newRow("modem without entry") << 2 << 0 << "" << "" << -2 << true << "" << "" << 2 << 107;
    QTest::newRow("modem with entry") << 2 << 0 << "" << "" << -2 << true << "Office" << "" << 2 << 0;
  }
  void connectionApply() {
    QFETCH(int, storedProxy);
    QFETCH(int, shownItem);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(int, item);
    QFETCH(bool, modem);
    QFETCH(QString, dialUp);
    QFETCH(QString, proxyServer);
    QFETCH(int, proxy);
    QFETCH(int, message);
    PagesRun run({IDOK});
    CSettingsData& d = run.Data();
    d.Proxy = static_cast<uint32_t>(storedProxy);
    d.ProxyServer = "stored.example:3128";
    d.DialUp = dialUp.toStdString().c_str();
    int shown = -3;
    QString shownHost, shownPort;
    bool hostEnabled = false;
    bool accepted = run.Run(5, [&](PropertySheet& w) {
      auto* combo = run.Control<QComboBox>(5, connectionpage::kProxy);
      shown = combo->currentIndex();
      shownHost = run.Control<QLineEdit>(5, connectionpage::kProxyHost)->text();
      shownPort = run.Control<QLineEdit>(5, connectionpage::kProxyPort)->text();
      hostEnabled = run.Control(5, connectionpage::kProxyHost)->isEnabled();
      if (item != -2) combo->setCurrentIndex(item);
      run.Control<QLineEdit>(5, connectionpage::kProxyHost)->setText(host);
      run.Control<QLineEdit>(5, connectionpage::kProxyPort)->setText(port);
      run.Control<QRadioButton>(5, modem ? connectionpage::kDialUp : connectionpage::kLan)->setChecked(true);
      w.OkButton()->click();
      if (w.isVisible()) w.reject();
    });
    QCOMPARE(shown, shownItem);
    QCOMPARE(shownHost, QString("stored.example"));
    QCOMPARE(shownPort, QString("3128"));
    QCOMPARE(hostEnabled, storedProxy == 1);
    QCOMPARE(accepted, message == 0);
    if (message) {
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
      QCOMPARE(ScriptedBoxes::Shown()[0].text, Text(run.lib, static_cast<UINT>(message)));
      QCOMPARE(ScriptedBoxes::Shown()[0].type, kRefused);
      return;
    }
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
    CSettingsData& after = run.Data();  // the window handed back a new block
    QCOMPARE(QString::fromStdString(Str(after.ProxyServer)), proxyServer);
    QCOMPARE(int(after.Proxy), proxy);
    QCOMPARE(after.Modem != 0, modem);
  }

  // ---- Page 4 ----

  // The chosen file must lie right in the folder; links and ".." cannot leave it.
  void browseCheck_data() {
    QTest::addColumn<QString>("chosen");  // relative to the test's tree
    QTest::addColumn<QString>("stored");  // "" = refused
    QTest::newRow("inside") << "Actions/act.sh" << "act.sh";
    QTest::newRow("with a blank") << "Actions/a b.sh" << "\"a b.sh\"";
    QTest::newRow("through ..") << "Actions/sub/../act.sh" << "act.sh";
    QTest::newRow("subfolder") << "Actions/sub/x.sh" << "";
    QTest::newRow("another folder") << "Other/y.sh" << "";
    QTest::newRow("a link out") << "Actions/out.sh" << "";
    QTest::newRow("a quote") << "Actions/q\"t.sh" << "";
    QTest::newRow("missing") << "Actions/none.sh" << "";
  }
  void browseCheck() {
    QFETCH(QString, chosen);
    QFETCH(QString, stored);
    vtxtest::TempDir tree;
    namespace fs = std::filesystem;
    fs::create_directories(tree / "Actions/sub");
    fs::create_directories(tree / "Other");
    for (const char* f : {"Actions/act.sh", "Actions/a b.sh", "Actions/sub/x.sh", "Other/y.sh", "Actions/q\"t.sh"})
      std::ofstream(tree / f) << "#!/bin/sh\n";
    fs::create_symlink(tree / "Other/y.sh", tree / "Actions/out.sh");
    std::optional<std::string> got = ProgramFromFolder(tree / chosen.toStdString(), tree / "Actions");
    QCOMPARE(QString::fromStdString(got.value_or("")), stored);
  }

  // Browse in the page: the folder of "Actions" (or Path + "/Actions" without it), the filter,
  // the name taken or refused with 439; a typed program with a path is refused on apply.
  void browseAndTypedPrograms() {
    PagesRun run({IDOK, IDOK});
    namespace fs = std::filesystem;
    std::string product = run.env / "product";
    fs::create_directories(product + "/Actions");
    fs::create_directories(product + "/Validators");
    std::ofstream(product + "/Actions/send rates.sh") << "#!/bin/sh\n";
    std::ofstream(product + "/Validators/check.sh") << "#!/bin/sh\n";
    vtxtest::PutAppString("Path", product);
    ScriptedPicker picker;
    SetFilePicker(&picker);
    QString actionShown, validationAfterRefusal, askedFolder, filter;
    bool comboEnabledBefore = true, comboEnabledAfter = false, stayed = false;
    run.Run(4, [&](PropertySheet& w) {
      comboEnabledBefore = run.Control(4, adminpage::kRunCustomAction)->isEnabled();
      picker.answer = QString::fromStdString(product + "/Actions/send rates.sh");
      QTest::mouseClick(run.Control<QPushButton>(4, adminpage::kBrowseCustomAction), Qt::LeftButton);
      askedFolder = picker.folder;
      filter = picker.filter;
      actionShown = run.Control<QLineEdit>(4, adminpage::kCustomAction)->text();
      comboEnabledAfter = run.Control(4, adminpage::kRunCustomAction)->isEnabled();
      // Another folder: refused, the edit unchanged.
      run.Control<QLineEdit>(4, adminpage::kClientValidation)->setText("check.sh -v");
      picker.answer = QString::fromStdString(product + "/Actions/send rates.sh");
      QTest::mouseClick(run.Control<QPushButton>(4, adminpage::kBrowseClientValidation), Qt::LeftButton);
      validationAfterRefusal = run.Control<QLineEdit>(4, adminpage::kClientValidation)->text();
      // Typed with a path: refused on apply.
      run.Control<QLineEdit>(4, adminpage::kClientValidation)->setText("../Actions/check.sh");
      w.OkButton()->click();
      stayed = w.isVisible();
      run.Control<QLineEdit>(4, adminpage::kClientValidation)->setText("\"check.sh\" -v");
      w.OkButton()->click();
    });
    SetFilePicker(nullptr);
    QCOMPARE(askedFolder, QString::fromStdString(product + "/Actions"));
    QCOMPARE(filter, QString::fromStdString(Text(run.lib, 350)));
    QCOMPARE(actionShown, QString("\"send rates.sh\""));
    QVERIFY(!comboEnabledBefore);
    QVERIFY(comboEnabledAfter);
    QCOMPARE(validationAfterRefusal, QString("check.sh -v"));
    QVERIFY(stayed);
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{2});
    QCOMPARE(ScriptedBoxes::Shown()[0].text,
             vtx::AnsiToUtf8(FormatString(run.lib, 439, {FormatInsert((product + "/Actions/send rates.sh").c_str()),
                                                         FormatInsert("Validators")})
                                 .c_str()));
    QCOMPARE(ScriptedBoxes::Shown()[1].text,
             vtx::AnsiToUtf8(FormatString(run.lib, 439, {FormatInsert("../Actions/check.sh"), FormatInsert("Validators")})
                                 .c_str()));
    QCOMPARE(Str(run.Data().CustomAction), std::string("\"send rates.sh\""));
    QCOMPARE(Str(run.Data().ClientValidation), std::string("\"check.sh\" -v"));
  }

  // The run-as buttons follow the messenger.
  void runAsNeedsTheMessenger() {
    for (bool messenger : {false, true}) {
      PagesRun run;
      vtxtest::SocatPeer peer(run.env.path());
      if (messenger)
        QCOMPARE(peer.Listen(std::string(std::getenv(vtx::env::kRuntimeDir)) + "/HulvaneVantrexMsngPipe", 12, 0), std::string());
      bool enabled = !messenger;
      run.Run(4, [&](PropertySheet& w) {
        enabled = run.Control(4, adminpage::kCustomActionRunAs)->isEnabled() &&
                  run.Control(4, adminpage::kClientValidationRunAs)->isEnabled();
        w.reject();
      });
      QCOMPARE(enabled, messenger);
    }
  }

  // ---- Page 6 ----

  // The warning-limit rule: typing never rewrites a limit; leaving either limit applies it.
  void warningLimits_data() {
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("old");  // each max as stored
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("field");    // the field typed in
    QTest::addColumn<QString>("shown");  // the per-currency limit after leaving the field
    QTest::addColumn<bool>("enabled");
    QTest::newRow("each grew below max") << "10"
                                         << "0"
                                         << "5" << int{warningspage::kLastChangeEach} << "10:00:00" << true;
    QTest::newRow("each shrank below max") << "10"
                                           << "12"
                                           << "5" << int{warningspage::kLastChangeEach} << "00:00:00" << true;
    QTest::newRow("each above max") << "10"
                                    << "0"
                                    << "12" << int{warningspage::kLastChangeEach} << "12:00:00" << true;
    QTest::newRow("max grew past each") << "2"
                                        << "5"
                                        << "10" << int{warningspage::kLastChange} << "10:00:00" << true;
    QTest::newRow("each off stays off") << "2"
                                        << "0"
                                        << "10" << int{warningspage::kLastChange} << "00:00:00" << true;
    QTest::newRow("both off") << "5"
                              << "0"
                              << "0" << int{warningspage::kLastChange} << "00:00:00" << false;
    QTest::newRow("malformed typed") << "10"
                                     << "12"
                                     << "1:2:" << int{warningspage::kLastChangeEach} << "12:00:00" << true;
  }
  void warningLimits() {
    QFETCH(QString, max);
    QFETCH(QString, old);
    QFETCH(QString, typed);
    QFETCH(int, field);
    QFETCH(QString, shown);
    QFETCH(bool, enabled);
    PagesRun run;
    run.Data().LastChangeMaxSeconds = *ParseDuration(max.toStdString());
    run.Data().LastChangeEachMaxSeconds = *ParseDuration(old.toStdString());
    QString whileTyping, after;
    bool isEnabled = !enabled;
    run.Run(6, [&](PropertySheet& w) {
      CDurationSpinBox* box = run.Duration(6, field == warningspage::kLastChange ? warningspage::kLastChangeUpDown
                                                                                 : warningspage::kLastChangeEachUpDown);
      Type(box->Edit(), typed);
      whileTyping = QString::fromStdString(box->Text());
      Leave(w.OkButton());
      after = QString::fromStdString(run.Duration(6, warningspage::kLastChangeEachUpDown)->Text());
      isEnabled = run.Control(6, warningspage::kWarningPauseUpDown)->isEnabled() &&
                  run.Control(6, warningspage::kNoWeekendWarnings)->isEnabled();
      w.reject();
    });
    QCOMPARE(whileTyping, typed);
    QCOMPARE(after, shown);
    QCOMPARE(isEnabled, enabled);
  }

  // A partial text is left alone while typing: "4" on the way to "48" is not rewritten.
  void partialLimitIsLeftAlone() {
    PagesRun run;
    run.Data().LastChangeMaxSeconds = 48 * 3600;
    run.Data().LastChangeEachMaxSeconds = 0;
    QString partial, whole;
    run.Run(6, [&](PropertySheet& w) {
      QLineEdit* edit = run.Duration(6, warningspage::kLastChangeEachUpDown)->Edit();
      Activate(edit);
      edit->setFocus();
      edit->selectAll();
      QTest::keyClicks(edit, "4");
      partial = edit->text();
      QTest::keyClicks(edit, "8");
      Leave(w.OkButton());
      whole = edit->text();
      w.reject();
    });
    QCOMPARE(partial, QString("4"));
    QCOMPARE(whole, QString("48:00:00"));
  }

  // "ApplicationMonitor" is written with the settings only: not by a test update, not by an OK
  // that a later page refused and a Cancel; Apply and the session's save after OK write it.
  void watchdogIntervalIsWrittenWithTheSettings_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<DWORD>("stored");
    QTest::newRow("test update, cancel") << "test" << DWORD(600);
    QTest::newRow("refused OK, cancel") << "refused" << DWORD(600);
    QTest::newRow("apply") << "apply" << DWORD(7200);
    QTest::newRow("OK") << "ok" << DWORD(7200);
  }
  void watchdogIntervalIsWrittenWithTheSettings() {
    QFETCH(QString, how);
    QFETCH(DWORD, stored);
    PagesRun run({IDOK});
    vtxtest::PutAppDword(kApplicationMonitor, 600);
    run.Data().MessagesToFile = 1;
    run.Data().MessagesFile = how == "refused" ? nullptr : "/tmp/x.log";
    QString shown;
    bool accepted = run.Run(6, [&](PropertySheet& w) {
      shown = QString::fromStdString(run.Duration(6, warningspage::kMonitorUpDown)->Text());
      Type(run.Duration(6, warningspage::kMonitorUpDown)->Edit(), "2");
      if (how == "refused") w.SetCurrentPage(7);
      if (how == "test") {
        run.sheet->TestUpdate(false);
        QVERIFY(WaitFor([&] { return !run.sheet->Testing(); }));
      }
      if (how == "apply") w.ApplyButton()->click();
      if (how == "ok" || how == "refused") w.OkButton()->click();
      if (w.isVisible()) w.reject();
    });
    QCOMPARE(shown, QString("00:10:00"));
    if (how == "ok") {
      QVERIFY(accepted);
      QCOMPARE(StoreDword(kApplicationMonitor), DWORD(600));  // the session saves
      QCOMPARE(run.sheet->SaveSettings(run.settings), S_OK);
    }
    QCOMPARE(StoreDword(kApplicationMonitor), stored);
  }

  // ---- Page 7 ----

  void notificationsApply_data() {
    QTest::addColumn<QString>("storedProfile");
    QTest::addColumn<int>("shownItem");
    QTest::addColumn<bool>("mail");
    QTest::addColumn<int>("item");  // -2: leave as shown
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<bool>("smtpSet");  // server and sender stored
    QTest::addColumn<bool>("file");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("profile");  // stored after OK
    QTest::addColumn<int>("message");
    QTest::newRow("SMTP") << "<SMTP>" << 0 << true << -2 << "a@example.org" << true << false << "" << "<SMTP>" << 0;
    QTest::newRow("SMTP without server") << "<SMTP>" << 0 << true << -2 << "a@example.org" << false << false << ""
                                         << "" << 461;
    QTest::newRow("no recipients") << "" << 1 << true << 1 << "" << false << false << "" << "" << 165;
    QTest::newRow("the transport") << "" << 1 << true << 1 << "a@example.org" << false << false << ""
                                   << "<Windows Messaging Default>" << 0;
    QTest::newRow("default stays") << "<Windows Messaging Default>" << 1 << false << -2 << "" << false << false << ""
                                   << "<Windows Messaging Default>" << 0;
    QTest::newRow("unknown profile unchanged") << "Outlook" << -1 << false << -2 << "" << false << false << ""
                                               << "Outlook" << 0;
    QTest::newRow("SMTP chosen") << "Outlook" << -1 << false << 0 << "" << false << false << "" << "<SMTP>" << 0;
    QTest::newRow("file without name") << "" << 1 << false << -2 << "" << false << true << "" << "" << 219;
    QTest::newRow("file") << "" << 1 << false << -2 << "" << false << true << "/tmp/n.log"
                          << "<Windows Messaging Default>" << 0;
  }
  void notificationsApply() {
    QFETCH(QString, storedProfile);
    QFETCH(int, shownItem);
    QFETCH(bool, mail);
    QFETCH(int, item);
    QFETCH(QString, recipients);
    QFETCH(bool, smtpSet);
    QFETCH(bool, file);
    QFETCH(QString, fileName);
    QFETCH(QString, profile);
    QFETCH(int, message);
    PagesRun run({IDOK});
    CSettingsData& d = run.Data();
    d.MessagesEmailProfile = storedProfile.isEmpty() ? nullptr : storedProfile.toStdString().c_str();
    if (smtpSet) {
      d.MessagesEmailSmtpServer = "smtp.example.org";
      d.MessagesEmailSender = "vantrex@example.org";
    }
    int shown = -3;
    bool accepted = run.Run(7, [&](PropertySheet& w) {
      shown = run.Control<QComboBox>(7, notificationspage::kProfile)->currentIndex();
      run.Control<QAbstractButton>(7, notificationspage::kViaEmail)->setChecked(mail);
      run.Control<QAbstractButton>(7, notificationspage::kToFile)->setChecked(file);
      if (item != -2) run.Control<QComboBox>(7, notificationspage::kProfile)->setCurrentIndex(item);
      run.Control<QLineEdit>(7, notificationspage::kRecipients)->setText(recipients);
      run.Control<QLineEdit>(7, notificationspage::kFile)->setText(fileName);
      w.OkButton()->click();
      if (w.isVisible()) w.reject();
    });
    QCOMPARE(shown, shownItem);
    QCOMPARE(accepted, message == 0);
    if (message) {
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
      QCOMPARE(ScriptedBoxes::Shown()[0].text, Text(run.lib, static_cast<UINT>(message)));
      QCOMPARE(ScriptedBoxes::Shown()[0].type, kRefused);
      return;
    }
    CSettingsData& after = run.Data();  // the window handed back a new block
    QCOMPARE(QString::fromStdString(Str(after.MessagesEmailProfile)), profile);
    QCOMPARE(QString::fromStdString(Str(after.MessagesEmailRecipients)), recipients);
    QCOMPARE(QString::fromStdString(Str(after.MessagesFile)), fileName);
    QCOMPARE(after.MessagesViaEmail != 0, mail);
    QCOMPARE(after.MessagesToFile != 0, file);
  }

  // Enabling: the file fields with their box, the mail fields with theirs, mail settings for
  // SMTP only, check names never; browse for the file asks to save in the logs folder.
  void notificationsEnabling() {
    PagesRun run;
    vtxtest::ScopedEnv appData(vtx::env::kAppData, run.env / "appdata");
    run.Data().MessagesToFile = 0;
    run.Data().MessagesViaEmail = 1;
    run.settings.SetMessageEmailProfileSmtp();
    ScriptedPicker picker;
    picker.answer = "/tmp/chosen.log";
    SetFilePicker(&picker);
    bool fileOff = true, fileOn = false, smtpSettings = false, transportSettings = true, checkNames = true;
    QString fileName;
    run.Run(7, [&](PropertySheet& w) {
      fileOff = run.Control(7, notificationspage::kFile)->isEnabled() ||
                run.Control(7, notificationspage::kBrowseFile)->isEnabled();
      run.Control<QAbstractButton>(7, notificationspage::kToFile)->click();
      fileOn = run.Control(7, notificationspage::kFile)->isEnabled() &&
               run.Control(7, notificationspage::kBrowseFile)->isEnabled();
      smtpSettings = run.Control(7, notificationspage::kMailSettings)->isEnabled();
      checkNames = run.Control(7, notificationspage::kCheckNames)->isEnabled();
      auto* combo = run.Control<QComboBox>(7, notificationspage::kProfile);
      combo->setFocus();
      QTest::keyClick(combo, Qt::Key_Down);
      transportSettings = run.Control(7, notificationspage::kMailSettings)->isEnabled();
      checkNames = checkNames || run.Control(7, notificationspage::kCheckNames)->isEnabled();
      run.Control<QLineEdit>(7, notificationspage::kFile)->setText("vantrex.log");
      QTest::mouseClick(run.Control<QPushButton>(7, notificationspage::kBrowseFile), Qt::LeftButton);
      fileName = run.Control<QLineEdit>(7, notificationspage::kFile)->text();
      w.reject();
    });
    SetFilePicker(nullptr);
    QVERIFY(!fileOff);
    QVERIFY(fileOn);
    QVERIFY(smtpSettings);
    QVERIFY(!transportSettings);
    QVERIFY(!checkNames);
    QCOMPARE(picker.folder, QString::fromStdString(run.env / "appdata/Hulvane/Vantrex/Logs/vantrex.log"));
    QCOMPARE(picker.filter, QString::fromStdString(Text(run.lib, 220)));
    QCOMPARE(fileName, QString("/tmp/chosen.log"));
  }

  // The test notification: the page's unapplied values reach the server's pipe as the record,
  // with the four zero bytes; the test button is disabled while it is sent; without a server nothing is sent
  // and nothing shown; a reply after the window closed is dropped.
  void testNotificationRecord() {
    PagesRun run;
    std::string pipe = std::string(std::getenv(vtx::env::kRuntimeDir)) + "/HulvaneVantrexAppPipe";
    CSettingsData& d = run.Data();
    d.MessagesOnScreen = 0;
    d.MessagesToLog = 1;
    d.MessagesViaEmail = 0;
    run.settings.SetMessageEmailProfileSmtp();
    d.MessagesEmailSmtpServer = "127.0.0.1:2525";
    d.MessagesEmailSender = "vantrex@example.org";
    const std::string recipients = "ops@example.org";
    const std::string file = "/tmp/notes.log";
    const std::string strings = "<SMTP>" + std::string(1, '\0') + recipients + std::string(1, '\0') +
                                "vantrex@example.org" + std::string(1, '\0') + "127.0.0.1:2525" + std::string(1, '\0') +
                                file + std::string(1, '\0');
    const uint32_t cbData = static_cast<uint32_t>(6 + recipients.size() + 19 + 14 + file.size() + 25);
    const std::string expected = U32(WM_COPYDATA) + U32(0) + U32(0) + U32(WM_VX_TESTNOTIFICATION) + U32(cbData) +
                                 U32(0) + U32(1) + U32(1) + U32(1) + U32(0) + strings + std::string(4, '\0');
    vtxtest::SocatPeer peer(run.env.path());
    QCOMPARE(peer.Listen(pipe, expected.size(), 0, 1), std::string());
    bool disabledWhileSending = false, enabledAfter = false;
    run.Run(7, [&](PropertySheet& w) {
      run.Control<QAbstractButton>(7, notificationspage::kViaEmail)->click();
      run.Control<QAbstractButton>(7, notificationspage::kToFile)->click();
      run.Control<QLineEdit>(7, notificationspage::kRecipients)->setText(QString::fromStdString(recipients));
      run.Control<QLineEdit>(7, notificationspage::kFile)->setText(QString::fromStdString(file));
      QTest::mouseClick(run.Control<QPushButton>(7, notificationspage::kTestNotification), Qt::LeftButton);
      disabledWhileSending = !run.Control(7, notificationspage::kTestNotification)->isEnabled();
      enabledAfter = WaitFor([&] { return run.Control(7, notificationspage::kTestNotification)->isEnabled(); });
      w.reject();
    });
    QVERIFY(disabledWhileSending);
    QVERIFY(enabledAfter);
    std::string got = peer.Received();
    QCOMPARE(got.size(), expected.size());
    got.replace(8, 4, 4, '\0');
    got.replace(20, 4, 4, '\0');
    QCOMPARE(QByteArray::fromStdString(got).toHex(), QByteArray::fromStdString(expected).toHex());
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
    QCOMPARE(vtxtest::StoreString("MessagesFile"), std::string());  // sent, not saved

    // The server goes away after the page opened: nothing is sent, nothing shown.
    PagesRun gone;
    vtxtest::SocatPeer second(gone.env.path());
    std::string pipe2 = std::string(std::getenv(vtx::env::kRuntimeDir)) + "/HulvaneVantrexAppPipe";
    QCOMPARE(second.Listen(pipe2, expected.size(), 0), std::string());
    bool wasEnabled = false, enabledAfterClick = false;
    gone.Run(7, [&](PropertySheet& w) {
      wasEnabled = gone.Control(7, notificationspage::kTestNotification)->isEnabled();
      second.Stop();
      unlink(pipe2.c_str());
      QTest::mouseClick(gone.Control<QPushButton>(7, notificationspage::kTestNotification), Qt::LeftButton);
      enabledAfterClick = gone.Control(7, notificationspage::kTestNotification)->isEnabled();
      w.reject();
    });
    QVERIFY(wasEnabled);
    QVERIFY(enabledAfterClick);
    QVERIFY(second.Requests().empty());
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
  }

  void testNotificationReplyAfterClose() {
    PagesRun run;
    std::string pipe = std::string(std::getenv(vtx::env::kRuntimeDir)) + "/HulvaneVantrexAppPipe";
    vtxtest::SocatPeer peer(run.env.path());
    QCOMPARE(peer.Listen(pipe, 24 + 16, 0, 2), std::string());
    run.Run(7, [&](PropertySheet& w) {
      QTest::mouseClick(run.Control<QPushButton>(7, notificationspage::kTestNotification), Qt::LeftButton);
      w.reject();
    });
    QVERIFY(WaitFor([&] { return !peer.Requests().empty(); }));
    QTest::qWait(3000);  // the reply comes after the window has gone
  }

  // Once end to end: the real vtxserver sends the test text by SMTP to aiosmtpd and into the
  // messages file (in the log folder), from the page's values.
  void testNotificationThroughTheServer() {
    PagesRun run;
    vtxtest::PutAppDword("MessagesOnScreen", 0);
    vtxtest::PutAppDword("MessagesToLog", 0);
    int smtpPort = vtxtest::FreePort();
    std::string mails = run.env / "mails";
    mkdir(mails.c_str(), 0700);
    QProcess smtp;
    smtp.setProcessChannelMode(QProcess::ForwardedChannels);
    smtp.start("/usr/bin/python3", {QString::fromStdString(vtxtest::SourcePath("tests/engine/notify/smtpserver.py")),
                                    QString::number(smtpPort), QString::fromStdString(mails)});
    QVERIFY2(smtp.waitForStarted(10000), "python3-aiosmtpd (tools/packages.txt)");
    QVERIFY(WaitFor([&] { return vtxtest::Accepts(smtpPort); }));
    vtxtest::ServerProcess server(run.env);
    QVERIFY(server.Start());
    vtxtest::Endpoint relay;
    QVERIFY(relay.Relay(g_szAppPipe, server.Pipe()));
    // A caller may name a file of the server's log folder (or the configured one), nowhere else.
    std::string file = run.env / "appdata/Hulvane/Vantrex/Logs/notifications.log";
    run.Data().MessagesEmailSmtpServer = ("127.0.0.1:" + std::to_string(smtpPort)).c_str();
    run.Data().MessagesEmailSender = "vantrex@example.org";
    run.Run(7, [&](PropertySheet& w) {
      run.Control<QAbstractButton>(7, notificationspage::kOnScreen)->setChecked(false);
      run.Control<QAbstractButton>(7, notificationspage::kToLog)->setChecked(false);
      run.Control<QAbstractButton>(7, notificationspage::kToFile)->setChecked(true);
      run.Control<QLineEdit>(7, notificationspage::kFile)->setText(QString::fromStdString(file));
      run.Control<QAbstractButton>(7, notificationspage::kViaEmail)->setChecked(true);
      run.Control<QComboBox>(7, notificationspage::kProfile)->setCurrentIndex(0);
      run.Control<QLineEdit>(7, notificationspage::kRecipients)->setText("ops@example.org");
      QTest::mouseClick(run.Control<QPushButton>(7, notificationspage::kTestNotification), Qt::LeftButton);
      QVERIFY(WaitFor([&] { return run.Control(7, notificationspage::kTestNotification)->isEnabled(); }, 60000));
      w.reject();
    });
    std::string text = Text(run.lib, 175);
    QVERIFY(WaitFor([&] { return vtxtest::ReadFile(file).find(text) != std::string::npos; }));
    std::string mail;
    QVERIFY(WaitFor([&] { return !(mail = vtxtest::ReadFile(mails + "/mail-1.txt")).empty(); }));
    QVERIFY2(mail.find("rcpt: \"ops@example.org\"") != std::string::npos, mail.c_str());
    QVERIFY2(mail.find(text.substr(0, 40)) != std::string::npos, mail.c_str());
    QCOMPARE(relay.Requests().size(), size_t{1});
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});

    // A file elsewhere is refused by the server: the page says why nothing was written.
    std::string elsewhere = run.env / "elsewhere.log";
    QString note;
    bool noteBefore = true;
    run.Run(7, [&](PropertySheet& w) {
      run.Control<QAbstractButton>(7, notificationspage::kViaEmail)->setChecked(false);
      run.Control<QAbstractButton>(7, notificationspage::kToFile)->setChecked(true);
      run.Control<QLineEdit>(7, notificationspage::kFile)->setText(QString::fromStdString(elsewhere));
      QLabel* label = nullptr;
      for (QLabel* l : w.Page(7)->findChildren<QLabel*>())
        if (l->wordWrap()) label = l;
      QVERIFY(label);
      noteBefore = label->isVisible();
      QTest::mouseClick(run.Control<QPushButton>(7, notificationspage::kTestNotification), Qt::LeftButton);
      QVERIFY(WaitFor(
          [&] { return run.Control(7, notificationspage::kTestNotification)->isEnabled() && label->isVisible(); }));
      note = label->text();
      w.reject();
    });
    QVERIFY(!noteBefore);
    QVERIFY2(note.contains(QString::fromStdString(elsewhere)) && note.contains("log folder"), qPrintable(note));
    QVERIFY(!QFile::exists(QString::fromStdString(elsewhere)));
    smtp.terminate();
    smtp.waitForFinished(5000);
  }

  // ---- Page 8 ----

  // The web-service link opens "WebServiceURL" when it is set, else the documentation link of
  // string 423; the support link opens the maker's page; all through the session's browser.
  void links() {
    for (bool withUrl : {true, false}) {
      ManagerEnvironment env;
      HMODULE lib = LoadResourceLibrary(kAppKey);
      if (withUrl) vtxtest::PutAppString("WebServiceURL", "http://127.0.0.1:8080/Vantrex");
      std::unique_ptr<QSocketNotifier> pump = MakeQueuePump([] {});
      vtxtest::RecordingLauncher launcher;
      auto engine = std::make_shared<ScriptedEngine>();
      ScriptedBoxes boxes;
      SessionOptions options;
      options.sheet = {{}, ScriptedEngine::Factory(engine)};
      options.launcher = &launcher;
      CConfigSession session(std::move(options));
      QString shown;
      bool clicked = false;
      QTimer look;
      QObject::connect(&look, &QTimer::timeout, [&] {
        if (clicked || !session.Window() || !session.Window()->isVisible()) return;
        clicked = true;
        session.Window()->SetCurrentPage(8);
        QTest::qWait(100);
        CFormKit* kit = session.Sheet()->Kit(8);
        for (int id : {infopage::kWebServiceLink, infopage::kSupportLink}) {
          auto* view = dynamic_cast<CRichTextView*>(kit->Control(id));
          QVERIFY(view);
          QString text = view->toPlainText();
          if (id == infopage::kWebServiceLink) shown = text;
          int at = id == infopage::kWebServiceLink && !withUrl ? static_cast<int>(text.indexOf("documentation")) : 0;
          QPoint point = view->CharacterRect(at).center();
          MouseAt(view->viewport(), QEvent::MouseMove, point);
          MouseAt(view->viewport(), QEvent::MouseButtonPress, point, Qt::LeftButton);
          MouseAt(view->viewport(), QEvent::MouseButtonRelease, point, Qt::LeftButton);
        }
        session.Window()->reject();
      });
      look.start(20);
      session.Start(lib, nullptr, nullptr, 0);
      QVERIFY(WaitFor([&] { return !session.IsRunning(); }, 20000));
      QVERIFY(clicked);
      QCOMPARE(launcher.calls.size(), size_t{2});
      QCOMPARE(launcher.calls[0].target, std::string(withUrl ? "http://127.0.0.1:8080/Vantrex"
                                                             : "https://www.hulvane.com/vantrex/webservice/"));
      QCOMPARE(launcher.calls[1].target, std::string(kSupportPage));
      QCOMPARE(shown.toStdString(), withUrl ? Text(lib, 424) : std::string("The web service of this server is not set up."
                                                                           " Read how to set it up in the Vantrex documentation."));
      WaitForReleases(10000);
      FreeLibrary(lib);
    }
  }

  // The proxy port and the warning-limit rule as plain functions.
  // Opened at its first page and then taken through every page, the window grows to each page's
  // fields rather than squeeze them.
  void everyPageFits() {
    PagesRun run;
    QStringList squeezed;
    int seen = 0;
    QVERIFY(!run.Run(0, [&](PropertySheet& w) {
      for (int page = 0; page < w.PageCount(); ++page) {
        w.SetCurrentPage(page);
        QTest::qWait(50);
        for (QWidget* field : w.Page(page)->findChildren<QWidget*>()) {
          if (!field->isVisible() || !(qobject_cast<QAbstractSpinBox*>(field) || qobject_cast<QLineEdit*>(field) ||
                                       qobject_cast<QComboBox*>(field)))
            continue;
          // The edit inside a spin box or a combo box is the box's.
          if (qobject_cast<QAbstractSpinBox*>(field->parentWidget()) || qobject_cast<QComboBox*>(field->parentWidget()))
            continue;
          ++seen;
          if (field->height() < field->sizeHint().height())
            squeezed << QString("page %1: %2 px of %3").arg(page).arg(field->height()).arg(field->sizeHint().height());
        }
      }
      w.reject();
    }));
    QVERIFY(seen > 20);
    QVERIFY2(squeezed.isEmpty(), qPrintable(squeezed.join("; ")));
  }

  void rules() {
    for (auto [text, ok] : std::vector<std::pair<const char*, bool>>{
             {"1", true}, {"65535", true}, {"08080", true}, {"0", false}, {"65536", false}, {"", false},
             {" 80", false}, {"+80", false}, {"123456", false}}) {
      QVERIFY2(IsProxyPort(text) == ok, text);
    }
    QCOMPARE(WarningLimitRule(100, 0, 50, false), 100u);
    QCOMPARE(WarningLimitRule(100, 80, 50, false), 0u);
    QCOMPARE(WarningLimitRule(100, 80, 50, true), 100u);
    QCOMPARE(WarningLimitRule(100, 80, 0, true), 0u);
    QCOMPARE(WarningLimitRule(100, 80, 100, false), 100u);
  }
};

QTEST_MAIN(ServerPagesTest)
#include "serverpages_test.moc"
