// The on-screen message window on the offscreen platform, the display log of a silent manager
// written by the real messenger, and the rates information report.
#include <QApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "engine/notify/messagewindow.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/reachserver.h"
#include "manager/dialogkit.h"
#include "manager/managerdefs.h"
#include "manager/managerwindow.h"
#include "manager/messagedialogs.h"
#include "manager/qtparts.h"
#include "manager/ratesinfo.h"
#include "tests/manager/fakes.h"
#include "tests/manager/fixture.h"
#include "tests/manager/gallery.h"
#include "tests/support/accounts.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"
#include "tests/support/wait.h"

using vtxtest::Settle;

extern char** environ;

using namespace vtx::manager;
using vtxtest::ManagerEnvironment;

namespace {

// The message dialogs on the screen, the newest last.
QList<MessageDialog*> Shown() {
  QList<MessageDialog*> shown;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = dynamic_cast<MessageDialog*>(w); d && d->isVisible()) shown << d;
  return shown;
}

QString ShownText() {
  QList<MessageDialog*> shown = Shown();
  return shown.size() == 1 ? shown[0]->TextControl()->toPlainText() : QString("<%1 dialogs>").arg(shown.size());
}

void PressOk(MessageDialog* dialog) {
  QTest::mouseClick(static_cast<QPushButton*>(FindControl(dialog, IDOK)), Qt::LeftButton);
}

// A window of this thread that records what is posted to it.
class NotifyTarget {
 public:
  NotifyTarget() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "VtxTestNotifyTarget";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, wc.lpszClassName, nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    got.clear();
  }
  ~NotifyTarget() {
    DestroyWindow(window_);
    UnregisterClassA("VtxTestNotifyTarget", nullptr);
  }
  HWND Window() const { return window_; }
  static inline std::vector<std::pair<UINT, WPARAM>> got;

 private:
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_VXMGR_MESSAGEWINDOWCLOSED) {
      got.emplace_back(msg, wParam);
      return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
  HWND window_;
};

// vtxmessenger in the foreground on the test's store and runtime folder; it runs only as root.
class Messenger {
 public:
  bool Start() {
    vtxtest::PutAppDword("ApplicationMonitor", 0);
    vtxtest::PutAppDword("MessagesToLog", 0);
    std::string program = vtxtest::Program("vtxmessenger");
    char* argv[] = {program.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
    bool ended = false;  // not root: it says so and ends
    if (vtxtest::Eventually([&] { return CanSendVXMMessages() || (ended = waitpid(pid_, nullptr, WNOHANG) == pid_); }) &&
        !ended)
      return true;
    if (ended) pid_ = -1;
    Stop();
    return false;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    vtxtest::WaitExit(pid_);
    pid_ = -1;
  }
  ~Messenger() { Stop(); }
  bool Running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// The display log's folder with the real messenger where it can run, else writes by rename as
// the messenger makes them.
class DisplayLogSetup {
 public:
  explicit DisplayLogSetup(const ManagerEnvironment& env) : env(env) {
    mkdir(folder().c_str(), 0755);
    vtxtest::PutAppString("DisplayMessages", path());
    // Only root runs the messenger; as root it must run.
    bool started = messenger_.Start();
    if (geteuid() == 0) QVERIFY(started);
  }
  std::string folder() const { return env / "messages"; }
  std::string path() const { return folder() + "/display.txt"; }
  // A new message at the top of the log.
  void Write(const std::string& text) {
    if (messenger_.Running()) {
      QCOMPARE(PipeMessageDialog(0, text.c_str()), S_OK);
      return;
    }
    std::string old = vtxtest::ReadFile(path());
    Replace(old.empty() ? text : text + "\r\n\r\n---\r\n\r\n" + old);
  }
  void Replace(const std::string& whole) {
    QVERIFY(vtxtest::WriteFile(path() + ".tmp", whole));
    QCOMPARE(rename((path() + ".tmp").c_str(), path().c_str()), 0);
  }
  bool Exists() const { return access(path().c_str(), F_OK) == 0; }

  const ManagerEnvironment& env;
  Messenger messenger_;
};

struct SilentManager {
  SilentManager(DWORD mode = CManagerWindow::kModeSilent) {
    ManagerParts p;
    p.session = std::make_unique<vtxtest::FakeSession>(&log);
    p.tray = std::make_unique<vtxtest::FakeTray>(false);
    p.launcher = &launcher;
    manager = std::make_unique<CManagerWindow>(std::move(p));
    created = manager->Create(mode);
  }
  std::vector<std::string> log;
  vtxtest::RecordingLauncher launcher;
  std::unique_ptr<CManagerWindow> manager;
  bool created = false;
};

}  // namespace

class MessageWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    env_ = std::make_unique<ManagerEnvironment>();
    lib_ = LoadResourceLibrary(kAppKey);
    QVERIFY(lib_);
    QVERIFY(Shown().isEmpty());
  }
  void cleanup() {
    FreeLibrary(lib_);
    env_.reset();
    Settle(50);
  }

  // Messages gather in one dialog, the newer below; once it is closed the next one opens a new
  // dialog with itself alone, and the owner hears each end with its result.
  void messagesGatherUntilClosed() {
    QtMessageDialogsScope dialogs;
    auto pump = MakeQueuePump([] {});
    NotifyTarget target;
    CMessageWindow window;
    window.SetNotify(target.Window(), WM_VXMGR_MESSAGEWINDOWCLOSED);
    QCOMPARE(window.AddMessage(nullptr, "The rates are late.", MB_ICONWARNING, lib_), S_OK);
    QCOMPARE(window.AddMessage(nullptr, "No data source answered.", MB_ICONHAND, lib_), S_OK);
    QTRY_COMPARE(Shown().size(), 1);
    MessageDialog* dialog = Shown()[0];
    QString text = dialog->TextControl()->toPlainText();
    QRegularExpression gathered("Warning: The rates are late\\.\n\n---\n\n.*Error: No data source answered\\.$");
    QVERIFY2(gathered.match(text).hasMatch(), qPrintable(text));
    QCOMPARE(dialog->windowTitle(), QString("Vantrex"));
    QVERIFY(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!dialog->windowIcon().isNull());
    QVERIFY(dialog->TextControl()->isReadOnly());
    QCOMPARE(VtxId(dialog->TextControl()), int{messagedialog::kPlainEdit});
    QVERIFY(FindControl(dialog, messagedialog::kSizeGrip));

    PressOk(dialog);
    QTRY_COMPARE(NotifyTarget::got.size(), size_t{1});
    QCOMPARE(NotifyTarget::got[0].second, WPARAM{IDOK});
    QCOMPARE(window.AddMessage(nullptr, "Rates are current again.", MB_ICONINFORMATION, lib_), S_OK);
    QTRY_COMPARE(Shown().size(), 1);
    text = Shown()[0]->TextControl()->toPlainText();
    QVERIFY2(text.contains("Rates are current again.") && !text.contains("late") && !text.contains("---"),
             qPrintable(text));

    QTest::keyClick(Shown()[0], Qt::Key_Escape);
    QTRY_COMPARE(NotifyTarget::got.size(), size_t{2});
    QCOMPARE(NotifyTarget::got[1].second, WPARAM{IDCANCEL});
    QVERIFY(Shown().isEmpty());
  }

  // A message handed over while the dialog was open, which arrives after the user closed it,
  // opens a new dialog instead of going to the one that has gone.
  void aMessageThatMeetsAClosedDialog() {
    QtMessageDialogsScope dialogs;
    CMessageWindow window;
    QCOMPARE(window.AddMessage(nullptr, "First.", 0, lib_), S_OK);
    QTRY_COMPARE(Shown().size(), 1);
    QCOMPARE(window.AddMessage(nullptr, "On its way.", 0, lib_), S_OK);
    PressOk(Shown()[0]);  // ends before the new text arrives
    QTRY_COMPARE(Shown().size(), 1);
    QString text = Shown()[0]->TextControl()->toPlainText();
    QVERIFY2(text.contains("On its way.") && !text.contains("First."), qPrintable(text));
  }

  void aMessageFromAnotherThread() {
    QtMessageDialogsScope dialogs;
    CMessageWindow window;
    HRESULT hr = E_FAIL;
    std::thread worker([&] { hr = window.AddMessage(nullptr, "From the update thread.", MB_ICONWARNING, lib_); });
    worker.join();  // it returned without the GUI thread's help
    QCOMPARE(hr, S_OK);
    QTRY_VERIFY(ShownText().contains("From the update thread."));
  }

  // A reader who scrolled up stays where he is; a reader at the end follows the new text; a new
  // whole text shows its first line.
  void scrollingFollowsOnlyAReaderAtTheEnd() {
    QtMessageDialogsScope dialogs;
    CMessageWindow window;
    std::string lines;
    for (int i = 0; i < 200; ++i) lines += "line " + std::to_string(i) + "\r\n";
    QCOMPARE(window.SetText(nullptr, lines.c_str(), lib_), S_OK);
    QTRY_COMPARE(Shown().size(), 1);
    QScrollBar* bar = Shown()[0]->TextControl()->verticalScrollBar();
    QCOMPARE(bar->value(), 0);
    QVERIFY(bar->maximum() > 20);

    bar->setValue(7);
    QCOMPARE(window.AddMessage(nullptr, "Appended while reading.", 0, lib_), S_OK);
    QTRY_VERIFY(ShownText().contains("Appended while reading."));
    QCOMPARE(bar->value(), 7);

    bar->setValue(bar->maximum());
    int before = bar->maximum();
    QCOMPARE(window.AddMessage(nullptr, "Appended at the end.\r\nWith\r\nmore\r\nlines.", 0, lib_), S_OK);
    QTRY_VERIFY(ShownText().contains("Appended at the end."));
    QVERIFY(bar->maximum() > before);
    QCOMPARE(bar->value(), bar->maximum());

    QCOMPARE(window.SetText(nullptr, lines.c_str(), lib_), S_OK);
    QTRY_VERIFY(!ShownText().contains("Appended"));
    QCOMPARE(bar->value(), 0);
    QCOMPARE(Shown().size(), 1);
  }

  // The report is the same dialog, modal, under string 422, and not on top; nothing is shown
  // when there is no report.
  void ratesReportIsModal() {
    QtMessageDialogsScope dialogs;
    CSettings settings;
    QVERIFY(settings.Create(lib_));
    settings.GetRates().Source = "European Central Bank|";
    settings.GetRates().Copyright = "Reference rates";
    QString title, text;
    bool modal = false, onTop = true;
    QTimer::singleShot(0, [&] {
      auto* dialog = dynamic_cast<MessageDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      title = dialog->windowTitle();
      text = dialog->TextControl()->toPlainText();
      modal = dialog->isModal();
      onTop = dialog->windowFlags() & Qt::WindowStaysOnTopHint;
      PressOk(dialog);
    });
    ShowRatesInformation(settings, 101, nullptr, lib_);
    QCOMPARE(title, QString("Rates Information"));
    QVERIFY(modal);
    QVERIFY(!onTop);
    QVERIFY2(text.startsWith("Rates created: ") && text.contains("\n\nRates from: European Central Bank\n"
                                                                 "Copyright: Reference rates\nMessage: -"),
             qPrintable(text));

    // Without a catalogue there is no line to show; a dialog here would wait for the user.
    QTimer guard;
    bool appeared = false;
    QObject::connect(&guard, &QTimer::timeout, [&] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        appeared = true;
        w->close();
      }
    });
    guard.start(100);
    ShowRatesInformation(settings, 101, nullptr, nullptr);
    QVERIFY(!appeared);
  }

  // A silent manager shows the display log at start and each time the folder changes; a second
  // write replaces the text in the open window; cancelling keeps the log until the next change.
  void displayLogFollowsTheFile() {
    QtMessageDialogsScope dialogs;
    DisplayLogSetup setup(*env_);
    setup.Write("The rates are late.");
    SilentManager silent;
    QVERIFY(silent.created);
    QTRY_VERIFY(ShownText().contains("The rates are late."));
    MessageDialog* first = Shown()[0];

    setup.Write("No data source answered.");
    QTRY_VERIFY(ShownText().contains("No data source answered."));
    QCOMPARE(Shown()[0], first);  // the same window, its text replaced
    QString text = ShownText();
    QVERIFY2(text.indexOf("No data source answered.") < text.indexOf("The rates are late."), qPrintable(text));
    QCOMPARE(first->TextControl()->verticalScrollBar()->value(), 0);

    QTest::keyClick(first, Qt::Key_Escape);
    QTRY_VERIFY(Shown().isEmpty());
    Settle();
    QVERIFY(setup.Exists());
    QVERIFY(Shown().isEmpty());

    QVERIFY(vtxtest::WriteFile(setup.folder() + "/other.txt", "x"));  // any file of the folder
    QTRY_VERIFY(ShownText().contains("No data source answered."));

    setup.Replace("Put in place by a rename.");
    QTRY_COMPARE(ShownText(), QString("Put in place by a rename."));
  }

  // As the README installs it: vtxsetup registers the display-messages file beside the store, the
  // messenger writes it as the product's account, and a silent manager shows what the server sent
  // to the screen (a channel that is on by default), and has it deleted when confirmed.
  void screenNoticesOfAnInstalledServer() {
    QtMessageDialogsScope dialogs;
    vtxtest::ThrowawayProductAccount account("d");
    QVERIFY(account.Make());
    uid_t productUid;
    gid_t productGid;
    QVERIFY(account.Ids(&productUid, &productGid));
    // The store's folder as installed: the product's account and group write there.
    QCOMPARE(chown(env_->path().c_str(), 0, productGid), 0);
    QCOMPARE(chmod(env_->path().c_str(), 02770), 0);
    std::string product = *env_ / "product";
    QCOMPARE(mkdir(product.c_str(), 0755), 0);
    QCOMPARE(mkdir((product + "/Resources").c_str(), 0755), 0);
    QCOMPARE(symlink(vtxtest::SourcePath("resources/0409").c_str(), (product + "/Resources/0409").c_str()), 0);
    QCOMPARE(symlink(vtxtest::SourcePath("resources/filters").c_str(), (product + "/Filters").c_str()), 0);
    QCOMPARE(symlink(vtxtest::Program("vtxserver").c_str(), (product + "/vtxserver").c_str()), 0);
    std::string setup = vtxtest::Program("vtxsetup");
    char* setupArgv[] = {setup.data(), product.data(), nullptr};
    pid_t pid = -1;
    QCOMPARE(posix_spawn(&pid, setup.c_str(), nullptr, nullptr, setupArgv, environ), 0);
    QCOMPARE(vtxtest::WaitExit(pid), 0);
    RegStringValueA registered;
    QVERIFY(SUCCEEDED(registered.Load(HKEY_LOCAL_MACHINE, kAppKey, "DisplayMessages")));
    std::string display = registered.GetString();
    QCOMPARE(display.substr(0, display.rfind('/')), env_->path());

    Messenger messenger;
    QVERIFY(messenger.Start());
    SilentManager silent;
    QVERIFY(silent.created);
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(QString::fromStdString(vtxtest::Program("vtxserver")), {"/SERVICE"});
    QVERIFY(server.waitForStarted(10000));
    QVERIFY(vtxtest::Eventually([] { return CanSendVXVMessages() != FALSE; }));

    // A notice of the server through its configured channels, the screen among them by default.
    std::string record(4, '\0');
    DWORD type = MB_ICONWARNING;
    std::memcpy(record.data(), &type, 4);
    record += std::string("The rates of the data source are 26 hours old.") + '\0';
    COPYDATASTRUCT cds{WM_VX_SHOWMESSAGE, static_cast<DWORD>(record.size()), record.data()};
    DWORD reply = 1;
    QCOMPARE(SendVXVMessageTimeout(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), 10000, &reply), S_OK);
    QCOMPARE(reply, 0u);
    QTRY_VERIFY_WITH_TIMEOUT(ShownText().contains("The rates of the data source are 26 hours old."), 10000);
    struct stat st;
    QCOMPARE(stat(display.c_str(), &st), 0);
    QCOMPARE(st.st_uid, productUid);

    PressOk(Shown()[0]);
    QTRY_VERIFY(access(display.c_str(), F_OK) != 0);
    server.terminate();
    QVERIFY(server.waitForFinished(15000));
  }

  // Confirming deletes the log through the messenger, or here when it is not running; a message
  // written between the read and the confirmation is shown and not deleted.
  void confirmingDeletesWhatWasSeen() {
    QtMessageDialogsScope dialogs;
    DisplayLogSetup setup(*env_);
    setup.Write("First notice.");
    SilentManager silent;
    QTRY_VERIFY(ShownText().contains("First notice."));
    PressOk(Shown()[0]);
    QTRY_VERIFY(!setup.Exists());

    setup.Write("Second notice.");
    QTRY_VERIFY(ShownText().contains("Second notice."));
    QVERIFY(!ShownText().contains("First notice."));
    // The next message comes before the watch has seen it and the user confirms what he saw.
    PressOk(Shown()[0]);
    setup.Write("Third notice.");
    SendMessageA(silent.manager->Window(), WM_VXMGR_MESSAGEWINDOWCLOSED, IDOK, 0);
    QTRY_VERIFY(ShownText().contains("Third notice."));
    Settle();
    QVERIFY(setup.Exists());
    QVERIFY(vtxtest::ReadFile(setup.path()).find("Third notice.") != std::string::npos);

    setup.messenger_.Stop();
    PressOk(Shown()[0]);
    QTRY_VERIFY(!setup.Exists());
  }

  // Nothing opens for an empty or missing log, for a FIFO in its place (without waiting for a
  // writer), or without "/s".
  void nothingToShow_data() {
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("silent");
    QTest::newRow("empty") << "empty" << true;
    QTest::newRow("missing") << "missing" << true;
    QTest::newRow("fifo") << "fifo" << true;
    QTest::newRow("without /s") << "text" << false;
  }
  void nothingToShow() {
    QFETCH(QString, log);
    QFETCH(bool, silent);
    QtMessageDialogsScope dialogs;
    DisplayLogSetup setup(*env_);
    setup.messenger_.Stop();
    if (log == "empty") setup.Replace("");
    if (log == "text") setup.Replace("A message.");
    if (log == "fifo") QCOMPARE(mkfifo(setup.path().c_str(), 0600), 0);
    SilentManager manager(silent ? CManagerWindow::kModeSilent : 0);
    QVERIFY(manager.created);
    QVERIFY(vtxtest::WriteFile(setup.folder() + "/other.txt", "x"));  // and read again
    Settle();
    QVERIFY(Shown().isEmpty());
  }

 private:
  std::unique_ptr<ManagerEnvironment> env_;
  HMODULE lib_ = nullptr;
};

QTEST_MAIN(MessageWindowTest)
#include "messagewindow_test.moc"
