// The configuration session: as a process against the real vtxserver on a private store (the
// requests the server got, the boxes the user saw, the quit paths and a killed manager), and
// in-process with small pages and a scripted endpoint for the answers the server cannot be made
// to give, the follow-ups, the service-account check and the links.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <functional>

#include "engine/foundation/resourcelib.h"
#include "engine/notify/servicepipe.h"
#include "manager/configsession.h"
#include "manager/instance.h"
#include "manager/managerdefs.h"
#include "manager/offgui.h"
#include "manager/qtparts.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/native/productpaths.h"
#include "platform/pipes.h"
#include "tests/manager/fakepages.h"
#include "tests/manager/fakes.h"
#include "tests/manager/fixture.h"
#include "tests/manager/serverpeer.h"
#include "tests/manager/waiting.h"
#include "tests/manager/xdisplay.h"
#include "tests/support/accounts.h"

using namespace vtx::manager;
using vtxtest::Ended;
using vtxtest::Endpoint;
using vtxtest::ManagerEnvironment;
using vtxtest::ScriptedBoxes;
using vtxtest::WaitFor;

namespace {

const QString kHost = QString::fromStdString(vtxtest::BuildDir() + "/tests/manager/manager_sessionhost");
const QString kManager = QString::fromStdString(vtxtest::BuildDir() + "/manager/vtxmanager");

QStringList Lines(const std::string& path) {
  return QString::fromStdString(vtxtest::ReadFile(path)).split('\n', Qt::SkipEmptyParts);
}

QStringList ToList(const std::vector<std::string>& v) {
  QStringList out;
  for (auto& s : v) out << QString::fromStdString(s);
  return out;
}

std::string Text(HMODULE lib, UINT id) { return LoadText(lib, id); }

// The holder file names a manager: one holds the server's lock, or a killed one left it behind.
bool HolderNamed() { return !vtxtest::ReadFile(ManagerLockFilePath()).empty(); }

// ---- processes ----

// The store, the real server behind a recording relay, and managers started as processes.
struct ServerScene {
  ManagerEnvironment env;
  vtxtest::ServerProcess server{env};
  Endpoint relay;
  bool heldBackUpdate = false;

  ServerScene() {
    vtxtest::PutAppDword("MessagesOnScreen", 0);
    vtxtest::PutAppDword("MessagesToLog", 0);
  }
  bool Start() {
    return server.Start() && relay.Relay(g_szAppPipe, server.Pipe(), [this] {
      // An update comes due while the manager holds the lock: the server counts it.
      if (heldBackUpdate) vtxtest::AskServer(server.Pipe(), WM_VX_UPDATENOW);
    });
  }
  // The test's own view of the server's lock: true when a new lock succeeds (and is given back).
  bool ServerUnlocked() {
    if (vtxtest::AskServer(server.Pipe(), WM_VX_LOCKCONFIG) != 0) return false;
    vtxtest::AskServer(server.Pipe(), WM_VX_UNLOCKCONFIG);
    return true;
  }
  std::unique_ptr<QProcess> Start(const QString& program, const QStringList& args,
                                  const std::map<QString, QString>& vars, bool unprivileged = false) {
    // Unprivileged: as an account that may read the store but not write it.
    return StartAs(program, args, vars, unprivileged ? 65534 : -1, -1);
  }
  // As the account `uid` (its own group the same number), a member of `group` when that is not -1;
  // as this process's account when `uid` is -1.
  std::unique_ptr<QProcess> StartAs(const QString& program, const QStringList& args,
                                    const std::map<QString, QString>& vars, int uid, int group) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("VTX_MANAGER_LOG", QString::fromStdString(env / "manager.log"));
    // An empty value takes the variable away.
    for (auto& [k, v] : vars) v.isEmpty() ? e.remove(k) : e.insert(k, v);
    QString command = program;
    QStringList arguments = args;
    if (uid >= 0) {
      std::string xdg = env / ("xdg-" + std::to_string(uid));
      mkdir(xdg.c_str(), 0700);
      chown(xdg.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(uid));
      e.insert("XDG_RUNTIME_DIR", QString::fromStdString(xdg));
      e.insert("HOME", QString::fromStdString(xdg));
      command = "setpriv";
      QString groups = group < 0 ? "--clear-groups" : QString("--groups=%1").arg(group);
      arguments = QStringList{QString("--reuid=%1").arg(uid), QString("--regid=%1").arg(uid), groups, program} + args;
    }
    p->setProcessEnvironment(e);
    p->setProcessChannelMode(QProcess::ForwardedChannels);
    p->start(command, arguments);
    p->waitForStarted(10000);
    return p;
  }
  // Only reading is left to others: the store's folder and files, the runtime folder and the
  // named locks open to every account.
  void ShareReadOnly() {
    chmod(env.path().c_str(), 0755);
    for (const char* f : {"registry.db", "registry.db-wal", "registry.db-shm"})
      chmod((env / f).c_str(), 0644);
    std::string run = std::getenv(vtx::env::kRuntimeDir);
    chmod(run.c_str(), 0777);
    std::string log = env / "manager.log";
    close(open(log.c_str(), O_WRONLY | O_CREAT, 0666));
    chmod(log.c_str(), 0666);
    chmod((run + "/locks").c_str(), 0777);
    QDir locks(QString::fromStdString(run + "/locks"));
    for (const QString& f : locks.entryList(QDir::Files)) chmod(locks.filePath(f).toLocal8Bit().constData(), 0666);
  }
  // The store and the runtime folder as installed for the product group `group`: its members
  // write the store and take the locks; new files there take the group.
  void ShareWithGroup(int group) {
    std::string log = env / "manager.log";
    close(open(log.c_str(), O_WRONLY | O_CREAT, 0666));
    chmod(log.c_str(), 0666);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(env.path())) {
      if (entry.is_symlink() || entry.path().filename().string().rfind("xdg", 0) == 0) continue;
      chown(entry.path().c_str(), 0, static_cast<gid_t>(group));
      chmod(entry.path().c_str(), entry.is_directory() ? 02770 : 0660);
    }
    // The runtime folder itself is the server's: members only pass through it (the store beside it
    // keeps its files).
    chown(env.path().c_str(), 0, static_cast<gid_t>(group));
    chmod(env.path().c_str(), 02750);
    chmod(log.c_str(), 0666);
  }
  QStringList Log() { return Lines(env / "manager.log"); }
};

// ---- in-process ----

std::vector<UINT> g_notified;
LRESULT NotifyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_APP) g_notified.push_back(msg);
  return msg >= WM_APP ? 0 : DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A session in this process with fake pages, a scripted update engine, a recording launcher and
// a scripted server endpoint.
struct Scene {
  ManagerEnvironment env;
  HMODULE lib = LoadResourceLibrary(kAppKey);
  vtxtest::FakePages pages;
  std::shared_ptr<vtxtest::ScriptedEngine> engine = std::make_shared<vtxtest::ScriptedEngine>();
  std::unique_ptr<QSocketNotifier> pump = MakeQueuePump([] {});
  vtxtest::RecordingLauncher launcher;
  Endpoint server;
  std::unique_ptr<CConfigSession> session;
  HWND notify = nullptr;

  explicit Scene(SessionBounds bounds = {}) {
    vtxtest::PutAppDword("MessagesOnScreen", 0);
    vtxtest::PutAppDword("MessagesToLog", 0);
    SessionOptions options;
    options.sheet = {pages.Factory(), vtxtest::ScriptedEngine::Factory(engine)};
    options.bounds = bounds;
    options.launcher = &launcher;
    session = std::make_unique<CConfigSession>(std::move(options));
    WNDCLASSA wc{};
    wc.lpfnWndProc = NotifyProc;
    wc.lpszClassName = "VtxSessionTestNotify";
    RegisterClassA(&wc);
    notify = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    g_notified.clear();
  }
  ~Scene() {
    session.reset();
    DestroyWindow(notify);
    UnregisterClassA("VtxSessionTestNotify", nullptr);
    WaitForReleases(10000);
    FreeLibrary(lib);
  }
  // Runs a session to its end; `script` acts once on the configuration window when it opens.
  // False when it has not ended within the time (it is then ended by the quit path).
  bool Run(const std::function<void(CConfigSession&)>& script = {}, int ms = 20000) {
    bool acted = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
      if (acted || !session->Window() || !session->Window()->isVisible()) return;
      acted = true;
      if (script) script(*session);
    });
    look.start(20);
    session->Start(lib, nullptr, notify, WM_VXMGR_CONTROLWINDOWCLOSED);
    bool ended = WaitFor([&] { return !session->IsRunning(); }, ms);
    if (!ended) session->EndForQuit();
    QTest::qWait(50);  // the end's post
    return ended;
  }
  bool WindowOpened() const { return pages.log.Count("init") > 0; }
};

void PressOk(CConfigSession& s) { s.Window()->OkButton()->click(); }
void PressCancel(CConfigSession& s) { s.Window()->reject(); }

}  // namespace

class SessionTest : public QObject {
  Q_OBJECT

 private slots:
  // The session against the real server: the requests the server got and the boxes shown.
  void againstTheServer_data() {
    QTest::addColumn<QString>("setup");      // "" | "held back" | "locked first" | "no server" | "read-only"
    QTest::addColumn<QString>("sheet");      // what the user does in the window
    QTest::addColumn<QString>("answers");    // the buttons of the boxes, in order
    QTest::addColumn<QStringList>("boxes");  // "<style> <text id>"
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<bool>("window");
    QTest::newRow("accept and save") << "" << "ok" << "" << QStringList{}
                                     << QStringList{"LOCK 0", "UNLOCK 1", "GETPENDING 0"} << true;
    QTest::newRow("an update held back, run it") << "held back" << "ok" << "6" << QStringList{"0x10034 190"}
                                                 << QStringList{"LOCK 0", "UNLOCK 1", "GETPENDING 0", "ISUPDATING 0",
                                                                "UPDATENOW 0"}
                                                 << true;
    QTest::newRow("an update held back, a test update ran") << "held back" << "test-ok" << "" << QStringList{}
                                                            << QStringList{"LOCK 0", "UNLOCK 1"} << true;
    QTest::newRow("cancel") << "" << "cancel" << "" << QStringList{}
                            << QStringList{"LOCK 0", "UNLOCK 0", "GETPENDING 0"} << true;
    QTest::newRow("no server") << "no server" << "ok" << "" << QStringList{} << QStringList{} << true;
    QTest::newRow("locked first") << "locked first" << "ok" << "1" << QStringList{"0x10010 519"}
                                  << QStringList{"LOCK 0"} << false;
    QTest::newRow("may not write, cancel") << "read-only" << "ok" << "2" << QStringList{"0x10031 184"}
                                           << QStringList{} << false;
    QTest::newRow("may not write, go on") << "read-only" << "ok" << "1,1"
                                          << QStringList{"0x10031 184", "0x10010 185 access"}
                                          << QStringList{"LOCK 0", "UNLOCK 1", "GETPENDING 0"} << true;
  }
  void againstTheServer() {
    QFETCH(QString, setup);
    QFETCH(QString, sheet);
    QFETCH(QString, answers);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, requests);
    QFETCH(bool, window);
    ServerScene scene;
    if (setup != "no server") QVERIFY(scene.Start());
    scene.heldBackUpdate = setup == "held back";
    if (setup == "locked first") QCOMPARE(vtxtest::AskServer(scene.server.Pipe(), WM_VX_LOCKCONFIG), 0);
    bool readOnly = setup == "read-only";
    if (readOnly) scene.ShareReadOnly();
    auto manager = scene.Start(kHost, {}, {{"VTX_SHEET", sheet}, {"VTX_BOXES", answers}}, readOnly);
    QCOMPARE(Ended(*manager, 30000), 0);

    HMODULE lib = LoadResourceLibrary(kAppKey);
    QStringList seen, expected;
    for (const QString& line : scene.Log())
      if (line.startsWith("box ")) seen << line;
    for (const QString& b : boxes) {
      QStringList parts = b.split(' ');
      std::string caption = Text(lib, parts[1] == "185" ? 185 : 32);
      // A failed save shows the system's text of the code.
      std::string account = vtx::ProductAccountName();
      std::string text = parts.size() > 2        ? vtx::SystemErrorText(E_ACCESSDENIED)
                         : parts[1] == "184" ? FormatString(lib, 184, {account.c_str()})
                                             : Text(lib, parts[1].toUInt());
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      expected << QString("box %1 %2: %3").arg(parts[0], QString::fromStdString(caption), QString::fromStdString(text));
    }
    FreeLibrary(lib);
    for (QString& s : seen) s = s.trimmed();
    QCOMPARE(seen, expected);
    QCOMPARE(ToList(scene.relay.Requests()), requests);
    QCOMPARE(scene.Log().contains("window open"), window);
    QVERIFY(!HolderNamed());
    if (setup == "locked first") vtxtest::AskServer(scene.server.Pipe(), WM_VX_UNLOCKCONFIG);
    if (setup != "no server") QVERIFY(scene.ServerUnlocked());
  }

  // An account outside the product's group: it reads the store but reaches neither the runtime
  // folder nor the server. It is told why it cannot save, looks, and its save fails in words.
  void anOutsiderLooks() {
    ServerScene scene;
    QVERIFY(scene.Start());
    chmod(scene.env.path().c_str(), 0755);
    for (const char* f : {"registry.db", "registry.db-wal", "registry.db-shm"}) chmod((scene.env / f).c_str(), 0644);
    std::string log = scene.env / "manager.log";
    close(open(log.c_str(), O_WRONLY | O_CREAT, 0666));
    chmod(log.c_str(), 0666);
    // The server's own runtime folder, closed to others as installed.
    std::string run = scene.env / "server-run";
    chmod(run.c_str(), 0750);
    auto manager = scene.Start(kHost, {}, {{"VTX_SHEET", "ok"}, {"VTX_BOXES", "1,1"},
                                           {vtx::env::kRuntimeDir, QString::fromStdString(run)}}, true);
    QCOMPARE(Ended(*manager, 30000), 0);
    QStringList boxes = scene.Log().filter("box ");
    QCOMPARE(boxes.size(), 2);
    QVERIFY2(boxes[0].contains(QString("only root and the members of the group \"%1\"")
                                   .arg(QString::fromStdString(vtx::ProductAccountName()))),
             qPrintable(boxes[0]));
    QVERIFY2(boxes[1].startsWith("box 0x10010 Vantrex Settings Not Saved: "), qPrintable(boxes[1]));
    QVERIFY(scene.Log().contains("window open"));
    QCOMPARE(ToList(scene.relay.Requests()), QStringList{});
    QVERIFY(scene.ServerUnlocked());
  }

  // As installed, the store's folder is closed to accounts outside the product's group: an
  // outsider's manager cannot open the settings and says why, in a box and on stderr.
  void anOutsiderIsToldWhyItCannotOpenTheSettings() {
    ServerScene scene;
    vtxtest::ThrowawayProductAccount account("o");
    QVERIFY(account.Make());
    uid_t productUid;
    gid_t productGid;
    QVERIFY(account.Ids(&productUid, &productGid));
    QVERIFY(scene.Start());
    scene.ShareWithGroup(static_cast<int>(productGid));
    // The outsider passes through the folder to the test's log and its own runtime folder there.
    chmod(scene.env.path().c_str(), 02771);
    auto manager = scene.Start(kHost, {}, {{"VTX_SHEET", "ok"}}, true);
    QCOMPARE(Ended(*manager, 30000), 255);
    std::string why = "Your account may not read the Vantrex settings: only root and the members of the group \"" +
                      account.name() + "\" may.";
    QCOMPARE(scene.Log(), (QStringList{QString::fromStdString("box 0x10 Vantrex Manager: " + why + " [unexpected]"),
                                        "exit 255"}));
    QCOMPARE(ToList(scene.relay.Requests()), QStringList{});
  }

  // Members of the product group: a member's manager killed while it held the lock is recovered
  // by another member's next start, which then configures and saves.
  void membersRecoverAndSave() {
    const int killedMember = 61461, nextMember = 61462;
    ServerScene scene;
    vtxtest::ThrowawayProductAccount account("g");
    QVERIFY(account.Make());
    uid_t productUid;
    gid_t productGid;
    QVERIFY(account.Ids(&productUid, &productGid));
    const int group = static_cast<int>(productGid);
    QVERIFY(scene.Start());
    scene.ShareWithGroup(group);
    auto killed = scene.StartAs(kManager, {}, {}, killedMember, group);
    QVERIFY(WaitFor([] { return HolderNamed(); }));
    struct stat st;
    QCOMPARE(stat(ManagerLockFilePath().c_str(), &st), 0);
    QCOMPARE(int(st.st_gid), group);
    kill(static_cast<pid_t>(killed->processId()), SIGKILL);
    QCOMPARE(Ended(*killed), -2000);
    QVERIFY(!scene.ServerUnlocked());

    auto next = scene.StartAs(kHost, {}, {{"VTX_SHEET", "ok"}}, nextMember, group);
    QCOMPARE(Ended(*next, 30000), 0);
    QCOMPARE(scene.Log().filter("box "), QStringList{});
    QVERIFY(scene.Log().contains("window open"));
    QCOMPARE(ToList(scene.relay.Requests()), (QStringList{"LOCK 0", "UNLOCK 1", "GETPENDING 0", "LOCK 0",
                                                          "UNLOCK 1", "GETPENDING 0"}));
    QVERIFY(!HolderNamed());
    QVERIFY(scene.ServerUnlocked());
  }

  // A second tray click while the write-access question is up starts nothing new.
  void trayClickDuringTheWriteQuestion() {
    ServerScene scene;
    QVERIFY(scene.Start());
    scene.ShareReadOnly();
    auto manager = scene.Start(kHost, {}, {{"VTX_BOXES", "2"}, {"VTX_TRAY_CLICK_AT_BOX", "1"}}, true);
    QCOMPARE(Ended(*manager, 30000), 0);
    QStringList boxes;
    for (const QString& line : scene.Log())
      if (line.startsWith("box ")) boxes << line;
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes[0].startsWith("box 0x10031 "));
    QCOMPARE(ToList(scene.relay.Requests()), QStringList{});
  }

  // vtxmanager ended while its window is open, by a close request, by SIGTERM or SIGHUP, or by
  // its display going away (Qt ends the program with exit()): the server is unlocked before it
  // ends.
  void quitWhileTheWindowIsOpen_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("close request") << "close";
    QTest::newRow("SIGTERM") << "sigterm";
    QTest::newRow("SIGHUP") << "sighup";
    QTest::newRow("the display goes away") << "display";
  }
  void quitWhileTheWindowIsOpen() {
    QFETCH(QString, how);
    ServerScene scene;
    QVERIFY(scene.Start());
    vtxtest::PrivateDisplay display;
    std::map<QString, QString> vars;
    if (how == "display") {
      QVERIFY(!display.Name().empty());
      vars = {{"DISPLAY", QString::fromStdString(display.Name())}, {"QT_QPA_PLATFORM", ""}};
    }
    auto manager = scene.Start(kManager, {}, vars);
    QVERIFY(WaitFor([] { return HolderNamed(); }));
    QVERIFY(!scene.ServerUnlocked());
    QElapsedTimer t;
    t.start();
    if (how == "close") {
      vtx::manager::OtherManager other;
      other.socket = ManagerSocketPath();
      QVERIFY(SendToOther(other, WM_VXMGR_CLOSE, nullptr));
    } else if (how == "display") {
      display.Kill();
    } else {
      kill(static_cast<pid_t>(manager->processId()), how == "sigterm" ? SIGTERM : SIGHUP);
    }
    QCOMPARE(Ended(*manager, 15000), how == "display" ? 1 : 0);
    QVERIFY2(t.elapsed() < 6000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(scene.ServerUnlocked());
    QVERIFY(!HolderNamed());
    QCOMPARE(ToList(scene.relay.Requests()), (QStringList{"LOCK 0", "UNLOCK 0"}));
  }

  // A manager killed outright cannot give the lock back, and no lock expires: the next manager,
  // silent or not, gives it back with a reload (what the killed one saved with Apply counts) and
  // asks about the updates the server held back meanwhile.
  void killedManagerRecovered_data() {
    QTest::addColumn<bool>("heldBack");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QStringList>("requests");
    QTest::newRow("nothing held back") << false << "" << QStringList{"LOCK 0", "UNLOCK 1", "GETPENDING 0"};
    QTest::newRow("held back, run it") << true << "6"
                                       << QStringList{"LOCK 0", "UNLOCK 1", "GETPENDING 0", "ISUPDATING 0",
                                                      "UPDATENOW 0"};
    QTest::newRow("held back, not now") << true << "7"
                                        << QStringList{"LOCK 0", "UNLOCK 1", "GETPENDING 0", "ISUPDATING 0"};
  }
  void killedManagerRecovered() {
    QFETCH(bool, heldBack);
    QFETCH(QString, answers);
    QFETCH(QStringList, requests);
    ServerScene scene;
    QVERIFY(scene.Start());
    scene.heldBackUpdate = heldBack;
    auto killed = scene.Start(kManager, {}, {});
    QVERIFY(WaitFor([] { return HolderNamed(); }));
    kill(static_cast<pid_t>(killed->processId()), SIGKILL);
    QCOMPARE(Ended(*killed), -2000);
    QVERIFY(!scene.ServerUnlocked());
    QVERIFY(HolderNamed());

    auto next = scene.Start(kHost, {"/s"}, {{"VTX_BOXES", answers}});
    QVERIFY(WaitFor([&] { return scene.relay.Requests().size() >= size_t(requests.size()); }, 20000));
    QVERIFY(WaitFor([] { return !HolderNamed(); }));
    kill(static_cast<pid_t>(next->processId()), SIGTERM);
    QCOMPARE(Ended(*next), 0);
    // The update that was asked for may still run.
    QVERIFY(WaitFor([&] { return scene.ServerUnlocked(); }));
    QCOMPARE(ToList(scene.relay.Requests()), requests);
    QStringList boxes = scene.Log().filter("box ");
    QCOMPARE(boxes.size(), answers.isEmpty() ? 0 : 1);
    if (!answers.isEmpty()) QVERIFY2(boxes[0].startsWith("box 0x10034 Vantrex: Updates of"), qPrintable(boxes[0]));
  }

  // Answers the server cannot be made to give, from a scripted endpoint.
  void lockAnswers_data() {
    QTest::addColumn<QString>("answer");  // a code, or "never"
    QTest::addColumn<QString>("box");     // the box's text: "" none, "83" the code in string 83, else the system's
    QTest::addColumn<QStringList>("requests");
    QTest::newRow("the server imports") << "0x80040206"
                                        << "The server is importing or exporting a configuration file. Try again "
                                           "when it has finished."
                                        << QStringList{"LOCK 0"};
    QTest::newRow("own facility, no such string") << "0x80040300" << "83" << QStringList{"LOCK 0"};
    QTest::newRow("own facility, low word 0") << "0x80040000" << "" << QStringList{"LOCK 0"};
    QTest::newRow("another code") << "0x80070005" << "system" << QStringList{"LOCK 0"};
    QTest::newRow("no answer in time") << "never" << "system" << QStringList{"LOCK 0", "UNLOCK 0"};
  }
  void lockAnswers() {
    QFETCH(QString, answer);
    QFETCH(QString, box);
    QFETCH(QStringList, requests);
    Scene scene(SessionBounds{400, 400});
    ScriptedBoxes boxes({IDOK});
    Endpoint::Script script;
    HRESULT code = answer == "never" ? E_TIMEOUT : static_cast<HRESULT>(answer.toUInt(nullptr, 16));
    if (answer == "never") {
      script.silent.insert(WM_VX_LOCKCONFIG);
    } else {
      script.answers[WM_VX_LOCKCONFIG] = code;
    }
    QVERIFY(scene.server.Answer(g_szAppPipe, script));
    QVERIFY(scene.Run());
    QVERIFY(!scene.WindowOpened());
    QCOMPARE(ToList(scene.server.Requests()), requests);
    QCOMPARE(g_notified, std::vector<UINT>{WM_VXMGR_CONTROLWINDOWCLOSED});
    if (box.isEmpty()) {
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
      return;
    }
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
    const auto& shown = ScriptedBoxes::Shown()[0];
    QCOMPARE(shown.caption, std::string("Vantrex"));
    QCOMPARE(shown.type, MB_ICONHAND | MB_SETFOREGROUND);
    if (box == "83") {
      QCOMPARE(shown.text, std::string("The operation failed with error 0x80040300."));
    } else if (box.startsWith("The ")) {
      QCOMPARE(QString::fromStdString(shown.text), box);
    } else {
      QCOMPARE(shown.text, std::string(vtx::SystemErrorText(code)));
    }
  }

  // The follow-ups after the window: the custom action after a test update that made it due,
  // and the pending-updates question.
  void followUps_data() {
    QTest::addColumn<bool>("test");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("close");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<QStringList>("boxes");  // how their texts begin
    QTest::addColumn<QStringList>("requests");
    QTest::newRow("no test: pending updates asked") << false << false << "ok" << QList<int>{IDNO}
                                                    << QStringList{"Updates of the exchange rates"}
                                                    << QStringList{"LOCK 0", "UNLOCK 1", "GETPENDING 0",
                                                                   "ISUPDATING 0"};
    QTest::newRow("test, saved: custom action offered, fails") << true << false << "ok" << QList<int>{IDYES, IDOK}
                                                               << QStringList{"The custom action is due",
                                                                              "The program name"}
                                                               << QStringList{"LOCK 0", "UNLOCK 1"};
    QTest::newRow("test, cancelled: nothing offered") << true << false << "cancel" << QList<int>{} << QStringList{}
                                                      << QStringList{"LOCK 0", "UNLOCK 0"};
    QTest::newRow("test failed, action not due") << true << true << "ok" << QList<int>{} << QStringList{}
                                                 << QStringList{"LOCK 0", "UNLOCK 1"};
  }
  void followUps() {
    QFETCH(bool, test);
    QFETCH(bool, fails);
    QFETCH(QString, close);
    QFETCH(QList<int>, answers);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, requests);
    Scene scene;
    // Due after every successful run; the program name is refused.
    vtxtest::PutAppString("CustomAction", "../outside.sh");
    vtxtest::PutAppDword("ExecuteCustomAction", 1);
    scene.engine->result = fails ? 0x80070450 : 0;
    Endpoint::Script script;
    script.answers[WM_VX_GETPENDINGUPDATES] = 1;
    QVERIFY(scene.server.Answer(g_szAppPipe, script));
    ScriptedBoxes shown(std::deque<int>(answers.begin(), answers.end()));
    QVERIFY(scene.Run([&](CConfigSession& s) {
      if (test) {
        s.Sheet()->TestUpdate(false);
        QVERIFY(WaitFor([&] { return !s.Sheet()->Testing(); }));
      }
      close == "ok" ? PressOk(s) : PressCancel(s);
    }));
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t(boxes.size()));
    for (int i = 0; i < boxes.size(); ++i)
      QVERIFY2(QString::fromStdString(ScriptedBoxes::Shown()[i].text).startsWith(boxes[i]),
               ScriptedBoxes::Shown()[i].text.c_str());
    if (boxes.size() == 2) {
      QCOMPARE(ScriptedBoxes::Shown()[0].type, MB_YESNO | MB_SETFOREGROUND);
      QCOMPARE(ScriptedBoxes::Shown()[1].caption, std::string("Vantrex Custom Action"));
      QCOMPARE(ScriptedBoxes::Shown()[1].type, MB_ICONHAND);
      QVERIFY(ScriptedBoxes::Shown()[1].text.find("\"../outside.sh\"") != std::string::npos);
    }
    QCOMPARE(ToList(scene.server.Requests()), requests);
  }

  // The quit path with a page's modal dialog open: the dialog and the window are rejected from
  // the top down, the lock goes back, nothing is posted and the follow-ups are skipped.
  void quitWithAModalDialogOpen() {
    Scene scene;
    Endpoint::Script script;
    script.answers[WM_VX_GETPENDINGUPDATES] = 1;
    QVERIFY(scene.server.Answer(g_szAppPipe, script));
    ScriptedBoxes boxes;
    int dialogResult = -1;
    bool windowOpenAfter = true;
    scene.Run([&](CConfigSession& s) {
      QDialog dialog(s.Window());
      QTimer::singleShot(100, [&] { s.EndForQuit(); });
      dialogResult = dialog.exec();
      windowOpenAfter = s.Window() && s.Window()->isVisible();
    });
    QCOMPARE(dialogResult, int(QDialog::Rejected));
    QVERIFY(!windowOpenAfter);
    QCOMPARE(ToList(scene.server.Requests()), (QStringList{"LOCK 0", "UNLOCK 0"}));
    QVERIFY(g_notified.empty());
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
    QVERIFY(!HolderNamed());
  }

  // The quit path while the lock request is under way: the lock that comes back goes back.
  void quitWhileLocking() {
    Scene scene;
    Endpoint::Script script;
    script.delayMs[WM_VX_LOCKCONFIG] = 400;
    QVERIFY(scene.server.Answer(g_szAppPipe, script));
    QTimer::singleShot(100, [&] { scene.session->EndForQuit(); });
    QVERIFY(scene.Run());
    QCOMPARE(ToList(scene.server.Requests()), (QStringList{"LOCK 0", "UNLOCK 0"}));
    QVERIFY(!scene.WindowOpened());
    QVERIFY(g_notified.empty());
  }

  // After Apply, a quit gives the lock back with a reload: the server takes what was saved.
  void quitAfterApplyReloads() {
    Scene scene;
    QVERIFY(scene.server.Answer(g_szAppPipe, {}));
    scene.Run([&](CConfigSession& s) {
      QTest::keyClicks(scene.pages.pages[0]->edit, "x");
      s.Window()->ApplyButton()->click();
      s.EndForQuit();
    });
    QCOMPARE(ToList(scene.server.Requests()), (QStringList{"LOCK 0", "UNLOCK 1"}));
  }

  // A second start while the window is open raises it, minimized or not, and starts nothing.
  void secondStartRaises() {
    Scene scene;
    int starts = 0;
    scene.Run([&](CConfigSession& s) {
      s.Window()->showMinimized();
      QVERIFY(s.Window()->isMinimized());
      QCOMPARE(s.Start(scene.lib, nullptr, scene.notify, WM_VXMGR_CONTROLWINDOWCLOSED), S_OK);
      QVERIFY(!s.Window()->isMinimized());
      QVERIFY(s.Window()->isVisible());
      QVERIFY(s.RaiseWindow());
      starts = scene.pages.log.Count("build");
      PressCancel(s);
    });
    QCOMPARE(starts, 1);
    QCOMPARE(g_notified, std::vector<UINT>{WM_VXMGR_CONTROLWINDOWCLOSED});
    QVERIFY(!scene.session->RaiseWindow());
  }

  // The account check asks the service: no service, the service as root, as another account, as
  // this user.
  void serviceAccount_data() {
    QTest::addColumn<QString>("service");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<bool>("askedByName");
    QTest::newRow("no service") << "none" << 1 << false << false;
    QTest::newRow("as root") << "root" << 0 << true << false;
    QTest::newRow("as another account") << "other" << 0 << true << true;
    QTest::newRow("as this user") << "same" << 1 << false << true;
  }
  void serviceAccount() {
    QFETCH(QString, service);
    QFETCH(int, result);
    QFETCH(bool, warned);
    QFETCH(bool, askedByName);
    ManagerEnvironment env;
    HMODULE lib = LoadResourceLibrary(kAppKey);
    Endpoint listener;
    if (service != "none") {
      Endpoint::Script script;
      script.answers[VXSVC_ISLOCALSYSTEM] = service == "root";
      script.answers[WM_COPYDATA] = service == "same";
      QVERIFY(listener.Answer(g_szServicePipe, script));
    }
    ScriptedBoxes boxes({IDOK});
    OffGuiCalls calls;
    QCOMPARE(int(CheckMapiServiceAccount(nullptr, kStrServiceAccount, lib, calls)), result);
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t(warned ? 1 : 0));
    if (warned) QCOMPARE(ScriptedBoxes::Shown()[0].type, MB_ICONWARNING | MB_SETFOREGROUND);
    std::vector<std::string> asked = listener.Requests();
    if (askedByName) {
      char host[256] = {};
      gethostname(host, sizeof host - 1);
      std::string shortHost = std::string(host).substr(0, std::string(host).find('.'));
      QCOMPARE(asked.size(), size_t{2});
      QCOMPARE(asked[1], "COPYDATA 2 " + shortHost + "\\" + getpwuid(geteuid())->pw_name);
    } else {
      QCOMPARE(asked.size(), size_t(service == "none" ? 0 : 1));
    }
    FreeLibrary(lib);
  }

  // Links of the pages: mail through the launcher, addresses through the session's browser;
  // without a session there is no browser.
  void links() {
    Scene scene;
    HRESULT mail = 1, web = 1;
    scene.Run([&](CConfigSession& s) {
      mail = OpenLink("MAILTO:rates@example.org", 0);
      web = OpenLink("https://example.org/rates", 0);
      PressCancel(s);
    });
    QCOMPARE(mail, S_OK);
    QCOMPARE(web, S_OK);
    QCOMPARE(scene.launcher.calls.size(), size_t{2});
    QCOMPARE(scene.launcher.calls[0].target, std::string("MAILTO:rates@example.org"));
    QCOMPARE(scene.launcher.calls[1].target, std::string("https://example.org/rates"));
    QCOMPARE(OpenLink("https://example.org/", 0), E_POINTER);
    QCOMPARE(OpenLink(nullptr, 0), S_OK);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Formatted boxes take the platform's road, as in the manager.
  vtx::SetMessageBoxHandler([](void* window, const char* text, const char* caption, UINT type) {
    return MessageBoxA(static_cast<HWND>(window), text, caption, type);
  });
  SessionTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "session_test.moc"
