// The manager's frame in-process on the offscreen platform: switches, the wait for a manager, the
// actions menu, the tray, message boxes, requests through the socket and the quit path.
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/foundation/resourcelib.h"
#include "engine/notify/pipemessage.h"
#include "manager/browserview.h"
#include "platform/clipboard.h"
#include "platform/heap.h"
#include "manager/managerdefs.h"
#include "manager/managerwindow.h"
#include "manager/qtparts.h"
#include "tests/manager/fakes.h"
#include "tests/manager/fixture.h"

using namespace vtx::manager;
using vtxtest::ManagerEnvironment;
using vtxtest::ScriptedBoxes;

namespace {

// The menu as lines "<id> <text> [grayed] [default]", a submenu's items indented below it.
void Flatten(const std::vector<MenuItem>& items, int depth, std::string& out) {
  for (const MenuItem& i : items) {
    out += std::string(depth * 2, ' ');
    if (i.separator) {
      out += "-\n";
      continue;
    }
    out += std::to_string(i.id) + " " + i.text + (i.grayed ? " [grayed]" : "") + (i.isDefault ? " [default]" : "") +
           "\n";
    if (i.hasSubmenu) Flatten(i.submenu, depth + 1, out);
  }
}

void Touch(const std::string& path) { std::ofstream(path) << "x\n"; }

// Ends a loop that hangs; stopped with the test.
class Failsafe {
 public:
  Failsafe() {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    timer_.start(15000);
  }

 private:
  QTimer timer_;
};

struct Parts {
  std::vector<std::string> log;
  vtxtest::FakeSession* session = nullptr;
  vtxtest::FakeTray* tray = nullptr;
  vtxtest::RecordingLauncher launcher;
  std::vector<UINT> requests;

  ManagerParts Make(bool trayAvailable = true) {
    ManagerParts p;
    auto s = std::make_unique<vtxtest::FakeSession>(&log);
    session = s.get();
    p.session = std::move(s);
    auto t = std::make_unique<vtxtest::FakeTray>(trayAvailable);
    tray = t.get();
    p.tray = std::move(t);
    p.launcher = &launcher;
    p.onRequest = [this](UINT m) { requests.push_back(m); };
    return p;
  }
};

}  // namespace

class FrameTest : public QObject {
  Q_OBJECT

 private slots:
  void switches_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");  // s, q, w present
    QTest::newRow("none") << QStringList{} << "";
    QTest::newRow("silent") << QStringList{"/s"} << "s";
    QTest::newRow("all three") << QStringList{"/w", "/q", "/s"} << "sqw";
    QTest::newRow("paths hold /s and /q") << QStringList{"/usr/share/vantrex", "/srv/q"} << "";
    QTest::newRow("upper case") << QStringList{"/S", "/Q"} << "";
    QTest::newRow("joined") << QStringList{"/s/q", "-s"} << "";
    QTest::newRow("unknown ignored") << QStringList{"--help", "/q"} << "q";
  }
  void switches() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    std::vector<std::string> storage{"/s"};  // the program's own name never counts
    for (const QString& a : args) storage.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (auto& s : storage) argv.push_back(s.c_str());
    Switches sw = ParseSwitches(static_cast<int>(argv.size()), argv.data());
    QString got = QString(sw.silent ? "s" : "") + (sw.quit ? "q" : "") + (sw.wait ? "w" : "");
    QCOMPARE(got, expected);
  }

  void waitForManager_data() {
    QTest::addColumn<int>("ms");
    QTest::addColumn<int>("foundAtLook");  // 0: never
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("sleeps");
    QTest::newRow("none in 10 s") << 10000 << 0 << false
                                  << "500 500 500 500 500 500 500 500 500 500 500 500 500 500 500 500 500 500 500 500";
    QTest::newRow("remainder in one piece") << 1200 << 0 << false << "500 500 200";
    QTest::newRow("there at once") << 10000 << 1 << true << "";
    QTest::newRow("late first manager") << 10000 << 5 << true << "500 500 500 500";
    QTest::newRow("found at the last look") << 1200 << 4 << true << "500 500 200";
    QTest::newRow("no time") << 0 << 0 << false << "";
  }
  void waitForManager() {
    QFETCH(int, ms);
    QFETCH(int, foundAtLook);
    QFETCH(bool, found);
    QFETCH(QString, sleeps);
    int looks = 0;
    QStringList slept;
    bool result = WaitForManagerWindow(
        static_cast<DWORD>(ms), [&] { return ++looks == foundAtLook; },
        [&](DWORD d) { slept << QString::number(d); });
    QCOMPARE(result, found);
    QCOMPARE(slept.join(' '), sleeps);
  }

  void actionsMenu() {
    ManagerEnvironment env;
    namespace fs = std::filesystem;
    std::string actions = env / "actions";
    fs::create_directories(actions + "/alpha/deep");
    fs::create_directories(actions + "/Zulu");
    Touch(actions + "/alpha/one.txt");
    Touch(actions + "/Beta.sh");
    Touch(actions + "/Charlie & Co.txt");
    Touch(actions + "/.hidden");
    fs::create_directories(actions + "/.hidden folder");
    Touch(actions + "/.hidden folder/never.txt");
    fs::create_directory_symlink("/usr", actions + "/link to a folder");
    fs::create_symlink(actions + "/Beta.sh", actions + "/link to a file");
    // Paths of 259 bytes fit; 260 and more are left out.
    std::string fits(258 - actions.size(), 'x'), tooLong(259 - actions.size(), 'y');
    Touch(actions + "/" + fits);
    Touch(actions + "/" + tooLong);
    vtxtest::PutAppString("Actions", actions);
    vtxtest::PutAppString("Path", env / "product");
    fs::create_directories(env / "product/Documentation");

    HMODULE lib = LoadResourceLibrary(kAppKey);
    QVERIFY(lib);
    vtxtest::RecordingLauncher launcher;
    int opened = 0;
    TrayMenuController menu(lib, launcher, [&] { ++opened; });
    QVERIFY(menu.Build());
    std::string got;
    Flatten(menu.Items(), 0, got);
    const std::string expected =
        "1 &Open Configuration [default]\n"
        "-\n"
        "3 &Actions\n"
        "  8 alpha\n"
        "    9 deep\n"
        "      10 (empty) [grayed]\n"
        "    11 one.txt\n"
        "  12 Beta.sh\n"
        "  13 Charlie & Co.txt\n"
        "  14 link to a file\n"
        "  15 " + fits + "\n"
        "  16 Zulu\n"
        "    17 (empty) [grayed]\n"
        "-\n"
        "5 &Help [grayed]\n"
        "6 Vantrex on the &Web\n";
    QCOMPARE(QString::fromStdString(got), QString::fromStdString(expected));

    // Every file starts in the actions folder, also from a subfolder; folders and grayed items
    // start nothing.
    for (UINT id : {11u, 12u, 13u, 14u, 8u, 10u, 0u}) menu.Command(id);
    QCOMPARE(launcher.calls.size(), size_t{4});
    const std::string paths[] = {actions + "/alpha/one.txt", actions + "/Beta.sh", actions + "/Charlie & Co.txt",
                                 actions + "/link to a file"};
    for (size_t i = 0; i < 4; ++i) {
      QCOMPARE(launcher.calls[i].what, std::string("file"));
      QCOMPARE(launcher.calls[i].target, paths[i]);
      QCOMPARE(launcher.calls[i].folder, actions);
    }
    menu.Command(1);
    QCOMPARE(opened, 1);
    menu.Command(6);
    QCOMPARE(launcher.calls.back().what, std::string("url"));
    QCOMPARE(launcher.calls.back().target, std::string(kProductPage));

    // A file name's '&' is shown, not taken as a mnemonic.
    QMenu qmenu;
    FillMenu(&qmenu, menu.Items(), [](UINT) {});
    QMenu* sub = qmenu.actions().at(2)->menu();
    QVERIFY(sub);
    QCOMPARE(sub->actions().at(2)->text(), QString("Charlie && Co.txt"));
    QCOMPARE(qmenu.defaultAction(), qmenu.actions().at(0));
    QVERIFY(!qmenu.actions().at(4)->isEnabled());

    // With the help file there, and without an actions folder.
    Touch(env / "product/Documentation/index.html");
    HKEY key;
    QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppKey, 0, KEY_ALL_ACCESS, &key), 0);
    RegDeleteValueA(key, "Actions");
    RegCloseKey(key);
    QVERIFY(menu.Build());
    got.clear();
    Flatten(menu.Items(), 0, got);
    QCOMPARE(QString::fromStdString(got), QString("1 &Open Configuration [default]\n-\n3 &Actions [grayed]\n-\n"
                                                  "5 &Help\n6 Vantrex on the &Web\n"));
    menu.Command(5);
    QCOMPARE(launcher.calls.back().what, std::string("file"));
    QCOMPARE(launcher.calls.back().target, env / "product/Documentation/index.html");
    FreeLibrary(lib);
  }

  void emptyActionsFolder() {
    ManagerEnvironment env;
    std::filesystem::create_directories(env / "actions");
    vtxtest::PutAppString("Actions", env / "actions");
    HMODULE lib = LoadResourceLibrary(kAppKey);
    vtxtest::RecordingLauncher launcher;
    TrayMenuController menu(lib, launcher, nullptr);
    QVERIFY(menu.Build());
    std::string got;
    Flatten(menu.Items()[2].submenu, 0, got);
    QCOMPARE(QString::fromStdString(got), QString("8 (empty) [grayed]\n"));
    FreeLibrary(lib);
  }

  void missingMenuString() {
    // A catalogue without the menu's strings: the menu is not shown.
    ManagerEnvironment env(false);
    std::ofstream(env / "small.cat") << "[strings]\n32 Vantrex\n434 Tip\n435 Open\n";
    vtxtest::PutAppString("Resources0409", env / "small.cat");
    ScriptedBoxes boxes;
    Parts parts;
    CManagerWindow manager(parts.Make());
    QVERIFY(manager.Create(CManagerWindow::kModeTrayIcon | CManagerWindow::kModeSilent));
    SendMessageA(manager.Window(), WM_VXMGR_TRAYNOTIFY, 0, WM_RBUTTONUP);
    QCOMPARE(parts.tray->menus, 0);
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
  }

  void trayIcon() {
    ManagerEnvironment env;
    ScriptedBoxes boxes;
    Parts parts;
    {
      CManagerWindow manager(parts.Make(true));
      QVERIFY(manager.Create(CManagerWindow::kModeTrayIcon | CManagerWindow::kModeSilent));
      QVERIFY(manager.TrayIconShown());
      QCOMPARE(parts.tray->tips, std::vector<std::string>{"Vantrex Manager"});
      // Only icon 0's clicks count; a click opens the configuration, the context request the menu.
      SendMessageA(manager.Window(), WM_VXMGR_TRAYNOTIFY, 1, WM_LBUTTONUP);
      QVERIFY(parts.log.empty());
      SendMessageA(manager.Window(), WM_VXMGR_TRAYNOTIFY, 0, WM_LBUTTONUP);
      SendMessageA(manager.Window(), WM_VXMGR_TRAYNOTIFY, 0, WM_LBUTTONUP);
      QCOMPARE(parts.log, (std::vector<std::string>{"start", "raise"}));
      SendMessageA(manager.Window(), WM_VXMGR_TRAYNOTIFY, 0, WM_RBUTTONUP);
      QCOMPARE(parts.tray->menus, 1);
      QCOMPARE(parts.tray->shown.size(), size_t{6});
      QVERIFY(parts.tray->shown[2].grayed);  // no actions folder registered
      parts.tray->choose(6);
      QCOMPARE(parts.launcher.calls.back().target, std::string(kProductPage));
      manager.Destroy();
      QCOMPARE(parts.tray->removed, 1);
    }
    // No notification area: the manager runs without the icon.
    Parts bare;
    CManagerWindow manager(bare.Make(false));
    QVERIFY(manager.Create(CManagerWindow::kModeTrayIcon | CManagerWindow::kModeSilent));
    QVERIFY(!manager.TrayIconShown());
    manager.Destroy();
    QCOMPARE(bare.tray->removed, 0);
    QCOMPARE(ScriptedBoxes::Unexpected(), 0);
  }

  void noCatalogue() {
    ManagerEnvironment env(false);
    ScriptedBoxes boxes({1});
    CManagerWindow manager;
    QVERIFY(!manager.Create(0));
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
    QCOMPARE(ScriptedBoxes::Shown()[0].text, std::string(kNoResources));
    QCOMPARE(ScriptedBoxes::Shown()[0].caption, std::string(kCaption));
    QCOMPARE(ScriptedBoxes::Shown()[0].type, MB_ICONHAND);
  }

  // The product's session: a plain start opens the configuration window (no server here, so no
  // lock and no box), and the manager ends when the window is closed.
  void plainStartOpensTheConfigurationWindow() {
    ManagerEnvironment env;
    ScriptedBoxes boxes;
    CManagerWindow manager;
    QVERIFY(manager.Create(0));
    manager.OpenConfiguration(nullptr, nullptr);
    bool opened = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* sheet = qobject_cast<QDialog*>(w); sheet && sheet->isVisible() && !opened) {
          opened = true;
          sheet->reject();
        }
    });
    look.start(50);
    Failsafe failsafe;
    manager.RunMessageLoop(true);
    QVERIFY(opened);
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
    QVERIFY(!manager.Session().IsRunning());
  }

  // Requests through the user's manager socket: only 0x8000 and 0x8001 from outside; the quit path
  // ends the configuration session while the loop and the window still exist.
  void socketRequestsAndQuit_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("close request") << "close";
    QTest::newRow("SIGTERM") << "sigterm";
    QTest::newRow("desktop log-out") << "desktop";
  }
  void socketRequestsAndQuit() {
    QFETCH(QString, how);
    ManagerEnvironment env;
    ScriptedBoxes boxes;
    Parts parts;
    CManagerWindow manager(parts.Make());
    QVERIFY(manager.Create(CManagerWindow::kModeSilent));
    QVERIFY(!manager.Other().Valid());
    vtx::messages::RouteEndSessionSignals(manager.Window());
    DesktopQuitFilter desktop;
    desktop.Route(manager.Window());
    std::string socket = ManagerSocketPath();
    QVERIFY(!socket.empty());

    std::atomic<DWORD> openReply{0}, quitReply{1}, unknownReply{1};
    std::atomic<bool> sent{false};
    std::thread client([&] {
      CPipeMessageClient c;
      DWORD r = 0;
      if (SUCCEEDED(c.SendMessageTimeoutA(socket.c_str(), WM_VXMGR_OPENCONFIGURATION, 7, 0, 5000, &r))) openReply = r;
      if (SUCCEEDED(c.SendMessageTimeoutA(socket.c_str(), WM_VXMGR_QUIT, 0, 0, 5000, &r))) quitReply = r;
      if (SUCCEEDED(c.SendMessageTimeoutA(socket.c_str(), WM_ENDSESSION, 1, 0, 5000, &r))) unknownReply = r;
      sent = true;
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!sent) return;
      poll.stop();
      parts.log.push_back("requests answered");
      if (how == "close") {
        std::thread([socket] {
          CPipeMessageClient c;
          DWORD r;
          c.SendMessageTimeoutA(socket.c_str(), WM_VXMGR_CLOSE, 0, 0, 5000, &r);
        }).detach();
      } else if (how == "sigterm") {
        kill(getpid(), SIGTERM);
      } else {
        QCoreApplication::quit();
      }
    });
    poll.start(20);
    Failsafe failsafe;
    manager.RunMessageLoop(false);
    parts.log.push_back("loop ended");
    client.join();
    manager.Destroy();

    QCOMPARE(openReply.load(), DWORD{1});
    QCOMPARE(quitReply.load(), DWORD{0});
    QCOMPARE(unknownReply.load(), DWORD{0});
    std::vector<UINT> expectedRequests{WM_VXMGR_OPENCONFIGURATION};
    if (how == "close") expectedRequests.push_back(WM_VXMGR_CLOSE);
    QCOMPARE(parts.requests, expectedRequests);
    QCOMPARE(parts.log, (std::vector<std::string>{"start", "requests answered",
                                                  "end for quit, loop level 1, window alive", "loop ended"}));
    QVERIFY(!vtx::pipes::Exists(socket.c_str()));
  }

  // A configuration started without "/s" ends the program when its window closes; in tray mode
  // the manager stays.
  void configurationEnd() {
    ManagerEnvironment env;
    ScriptedBoxes boxes;
    Parts parts;
    CManagerWindow manager(parts.Make());
    QVERIFY(manager.Create(0));
    LRESULT result = 0;
    manager.OpenConfiguration(nullptr, &result);
    QCOMPARE(result, LRESULT{1});
    QTimer::singleShot(10, [&] { parts.session->Finish(); });
    Failsafe failsafe;
    manager.RunMessageLoop(true);
    QCOMPARE(parts.log, std::vector<std::string>{"start"});  // ended by the session, not the quit path

    // Tray mode: the end of a session changes nothing.
    SendMessageA(manager.Window(), WM_VXMGR_CONTROLWINDOWCLOSED, 0, 0);
    MSG m;
    bool quitPosted = false;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
      if (m.message == WM_VXMGR_QUIT) quitPosted = true;
    QVERIFY(!quitPosted);
  }

  void secondManagerInProcess() {
    ManagerEnvironment env;
    ScriptedBoxes boxes;
    Parts first, second;
    CManagerWindow a(first.Make());
    QVERIFY(a.Create(CManagerWindow::kModeSilent));
    CManagerWindow b(second.Make());
    QVERIFY(b.Create(CManagerWindow::kModeSilent));
    QCOMPARE(b.Other().window, a.Window());
    ActivateOtherManager(b.Other());
    QCOMPARE(first.log, std::vector<std::string>{"start"});
    QVERIFY(second.log.empty());
  }

  // The display log is watched on a silent start only, and hears how the message window closed.
  void displayLogSeam() {
    ManagerEnvironment env;
    vtxtest::PutAppString("DisplayMessages", env / "messages/display.txt");
    struct RecordingLog : IDisplayLog {
      std::vector<std::string>* log;
      void Watch(const std::string& path, HWND window, HMODULE resources) override {
        log->push_back("watch " + path + (IsWindow(window) && resources ? "" : " without window"));
      }
      void Read() override { log->push_back("read"); }
      void OnMessageWindowClosed(WPARAM result) override { log->push_back("closed " + std::to_string(result)); }
      void Close() override { log->push_back("close"); }
    };
    for (DWORD mode : {DWORD{0}, CManagerWindow::kModeSilent}) {
      std::vector<std::string> log;
      Parts parts;
      ManagerParts p = parts.Make();
      auto display = std::make_unique<RecordingLog>();
      display->log = &log;
      p.displayLog = std::move(display);
      CManagerWindow manager(std::move(p));
      QVERIFY(manager.Create(mode));
      SendMessageA(manager.Window(), WM_VXMGR_MESSAGEWINDOWCLOSED, 1, 0);
      manager.Destroy();
      std::vector<std::string> expected{"closed 1", "close"};
      if (mode) expected.insert(expected.begin(), "watch " + (env / "messages/display.txt"));
      QCOMPARE(log, expected);
    }
  }

  void browserView() {
    vtxtest::RecordingLauncher launcher;
    CBrowserView view(launcher);
    view.processId = 42;
    QCOMPARE(view.Show("https://www.example.com/a b", 1), HRESULT{0});
    QCOMPARE(view.processId, DWORD{0});
    QCOMPARE(launcher.calls.size(), size_t{1});
    QCOMPARE(launcher.calls[0].target, std::string("https://www.example.com/a b"));
    QCOMPARE(OpenControlPanelApplet("mlcfg32.cpl"), 0);
  }

  void qtClipboard() {
    InstallQtClipboard(true);
    QVERIFY(OpenClipboard(nullptr));
    const char text[] = "12.50 EUR";
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, sizeof text);
    memcpy(block, text, sizeof text);
    QVERIFY(SetClipboardData(CF_TEXT, block));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString(text));
    QGuiApplication::clipboard()->setText(QString::fromUtf8("7 \xE2\x82\xAC"));
    QCOMPARE(QString::fromStdU16String(static_cast<const char16_t*>(GetClipboardData(CF_UNICODETEXT))),
             QString::fromUtf8("7 \xE2\x82\xAC"));
    QVERIFY(CloseClipboard());
    // Other threads never touch the desktop's clipboard.
    bool read = true;
    std::thread([&] {
      if (OpenClipboard(nullptr)) {
        read = GetClipboardData(CF_TEXT) != nullptr;
        CloseClipboard();
      }
    }).join();
    QVERIFY(!read);
    InstallQtClipboard(false);
    QVERIFY(!OpenClipboard(nullptr));
  }

  // The Qt box: icon, buttons in order, the default button, and the answer of each way out.
  void qtMessageBox_data() {
    QTest::addColumn<uint>("type");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("defaultButton");
    QTest::addColumn<QString>("press");  // a button's text, or "Escape"
    QTest::addColumn<int>("answer");
    QTest::newRow("error") << 0x10u << int(QMessageBox::Critical) << QStringList{"OK"} << "OK" << "OK" << IDOK;
    QTest::newRow("error closed") << 0x10010u << int(QMessageBox::Critical) << QStringList{"OK"} << "OK" << "Escape"
                                  << IDOK;
    QTest::newRow("ok-cancel warning") << 0x10031u << int(QMessageBox::Warning) << QStringList{"OK", "Cancel"}
                                       << "OK" << "Escape" << IDCANCEL;
    QTest::newRow("yes-no") << 0x10004u << int(QMessageBox::NoIcon) << QStringList{"Yes", "No"} << "Yes" << "No"
                            << IDNO;
    QTest::newRow("yes-no, second default") << 0x134u << int(QMessageBox::Warning) << QStringList{"Yes", "No"}
                                            << "No" << "Yes" << IDYES;
    QTest::newRow("yes-no-cancel question") << 0x23u << int(QMessageBox::Question)
                                            << QStringList{"Yes", "No", "Cancel"} << "Yes" << "Escape" << IDCANCEL;
    QTest::newRow("yes-no closed") << 0x4u << int(QMessageBox::NoIcon) << QStringList{"Yes", "No"} << "Yes"
                                   << "Escape" << IDNO;
    QTest::newRow("information") << 0x40u << int(QMessageBox::Information) << QStringList{"OK"} << "OK" << "OK"
                                 << IDOK;
  }
  void qtMessageBox() {
    QFETCH(uint, type);
    QFETCH(int, icon);
    QFETCH(QStringList, buttons);
    QFETCH(QString, defaultButton);
    QFETCH(QString, press);
    QFETCH(int, answer);
    QStringList seen;
    QString seenDefault, seenText, seenTitle;
    int seenIcon = -1;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return QCoreApplication::exit(1);
      for (QAbstractButton* b : box->buttons()) seen << b->text().remove('&');
      seenDefault = box->defaultButton() ? box->defaultButton()->text().remove('&') : QString();
      seenIcon = box->icon();
      seenText = box->text();
      seenTitle = box->windowTitle();
      if (press == "Escape") {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        for (QAbstractButton* b : box->buttons())
          if (b->text().remove('&') == press) b->click();
      }
    });
    int got = ShowQtMessageBox("Text \xE9", "Caption", type);
    QCOMPARE(got, answer);
    QCOMPARE(seenIcon, icon);
    // Qt orders buttons by the platform's layout; the set and the default are what count.
    QStringList sortedSeen = seen, sortedButtons = buttons;
    sortedSeen.sort();
    sortedButtons.sort();
    QCOMPARE(sortedSeen, sortedButtons);
    QCOMPARE(seenDefault, defaultButton);
    QCOMPARE(seenText, QString::fromUtf8("Text \xC3\xA9"));  // from the ANSI code page
    QCOMPARE(seenTitle, QString("Caption"));
  }

  // A short text under a long caption: the box is wide enough for its whole title.
  void qtMessageBoxShowsItsWholeTitle() {
    const char* caption = "Vantrex Settings Not Saved Because The Registry Key Is Read-Only";
    std::unique_ptr<QMessageBox> box = MakeQtMessageBox("Access is denied.", caption, MB_ICONHAND);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QFont bold = box->font();
    bold.setBold(true);
    // The title bar also holds the window's icon and buttons.
    int title = QFontMetrics(bold).horizontalAdvance(caption) + 4 * QFontMetrics(bold).height();
    QVERIFY2(box->width() > title, qPrintable(QString("%1 px for a title of %2").arg(box->width()).arg(title)));
  }
};

QTEST_MAIN(FrameTest)
#include "frame_test.moc"
