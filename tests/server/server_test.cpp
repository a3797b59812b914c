#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

#include "engine/foundation/regvalue.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/pipemessage.h"
#include "engine/notify/reachserver.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "server/app.h"
#include "tests/server/fakes.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"
#include "tests/support/store.h"
#include "tests/support/syslog.h"
#include "tests/support/wait.h"

using namespace vtx::server;

extern char** environ;

namespace {

using vtxtest::Eventually;

struct Note {
  std::string caption, text;
  UINT type;
};

class RecordingNotifications : public StderrNotifications {
 public:
  using StderrNotifications::StderrNotifications;
  std::vector<Note> notes() {
    std::lock_guard<std::mutex> l(m);
    return list;
  }

 protected:
  void Deliver(const std::string& caption, const std::string& text, UINT type) override {
    std::lock_guard<std::mutex> l(m);
    list.push_back({caption, text, type});
  }

 private:
  std::mutex m;
  std::vector<Note> list;
};

struct Box {
  UINT textId;
  UINT type;
  std::string insert;
  HRESULT hr;
};

class RecordingResources : public BuiltInResources {
 public:
  int FormatMessageBox(HWND, UINT textId, UINT, UINT type, HMODULE, const char* insert) override {
    std::lock_guard<std::mutex> l(m);
    boxes.push_back({textId, type, insert ? insert : "", 0});
    return (type & 0xF) == MB_YESNO ? answer : IDOK;
  }
  int MessageBoxHResultOK(HWND, UINT textId, UINT, HMODULE, HRESULT hr) override {
    std::lock_guard<std::mutex> l(m);
    boxes.push_back({textId, 0x10010, "", hr});
    return IDOK;
  }
  std::mutex m;
  std::vector<Box> boxes;
  int answer = IDYES;
};

class RecordingScheduler : public BasicScheduler {
 public:
  using BasicScheduler::BasicScheduler;
  HRESULT StartUpdate(Settings& settings, HWND hwnd, HICON icon) override {
    ++starts;
    if (FAILED(startFailure)) return startFailure;
    return BasicScheduler::StartUpdate(settings, hwnd, icon);
  }
  void Schedule(Settings&, HWND) override { ++schedules; }
  void ArmLastChangeTimer(Settings&, HWND) override { ++arms; }
  void ArmLastChangeEachTimer(Settings&, HWND) override { ++arms; }
  void CheckLastChange(Settings&, HWND) override { ++checks; }
  void CheckLastChangeEach(Settings&, HWND) override { ++checks; }
  std::atomic<int> starts{0}, schedules{0}, arms{0}, checks{0};
  HRESULT startFailure = S_OK;
};

class RecordingEvents : public EventLog {
 public:
  void ReportServerEvent(DWORD id, WORD type, const void* data, DWORD size) override {
    std::lock_guard<std::mutex> l(m);
    EXPECT_EQ(type, 4);
    ids.push_back(id);
    if (id == 0xB) {
      EXPECT_EQ(size, 1u);
      exitCode = *static_cast<const BYTE*>(data);
    }
  }
  std::vector<DWORD> Ids() {
    std::lock_guard<std::mutex> l(m);
    return ids;
  }
  std::mutex m;
  std::vector<DWORD> ids;
  int exitCode = -1;
};

// Requests "from outside": served by the main loop when the event is set, as the pipe will be.
class FakePipe : public PipeServer {
 public:
  FakePipe() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), done_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
  ~FakePipe() override {
    CloseHandle(event_);
    CloseHandle(done_);
  }
  HRESULT Create(const char* name) override {
    created = name;
    return S_OK;
  }
  HANDLE GetEvent() override { return event_; }
  HRESULT ServeRequest(HWND hwnd, WNDPROC proc) override {
    ResetEvent(event_);
    reply_ = static_cast<DWORD>(proc(hwnd, msg_, wParam_, lParam_));
    SetEvent(done_);
    return S_OK;
  }
  void Destroy() override {}
  bool Caller(vtx::Account* account) override {
    *account = caller;
    return true;
  }
  vtx::Account caller{geteuid(), getegid()};
  // From a test thread; the reply of the procedure.
  DWORD Request(UINT msg, WPARAM wParam, LPARAM lParam) {
    msg_ = msg;
    wParam_ = wParam;
    lParam_ = lParam;
    SetEvent(event_);
    EXPECT_EQ(WaitForSingleObject(done_, 5000), WAIT_OBJECT_0);
    return reply_;
  }
  std::string created;

 private:
  HANDLE event_, done_;
  UINT msg_ = 0;
  WPARAM wParam_ = 0;
  LPARAM lParam_ = 0;
  DWORD reply_ = 0;
};

// One wired set of seams around an in-memory store.
struct Rig {
  MemoryStore store;
  RecordingScheduler scheduler{store};
  RecordingResources resources;
  RecordingNotifications notifications{scheduler, resources};
  RecordingEvents events;
  VxvLink link;
  FakePipe pipe;
  AppPipe realPipe;
  bool useRealPipe = false;
  NoInternet internet;
  Seams seams() {
    return Seams{&store, &scheduler, &notifications, &resources, &events, &link,
                 useRealPipe ? static_cast<PipeServer*>(&realPipe) : &pipe, &internet};
  }
};

class Server : public ::testing::Test {
 protected:
  void TearDown() override {
    if (thread.joinable()) {
      if (hwnd) SendMessageA(hwnd, WM_VX_QUIT, 0, 0);
      thread.join();
    }
  }
  // Starts the server on its own thread and waits for its window.
  void Start(std::vector<std::string> args = {}) {
    thread = std::thread([this, args] { RunServer(args, rig.seams()); });
    ASSERT_TRUE(Eventually([this] { return (hwnd = FindWindowA(g_szAppWindowClass, nullptr)) != nullptr; }));
    if (rig.useRealPipe) {
      ASSERT_TRUE(Eventually([] { return CPipeMessageClient::PipeExists(g_szAppPipe) != 0; }));
    }
  }
  void Stop(WPARAM code = 0) {
    SendMessageA(hwnd, WM_VX_QUIT, code, 0);
    thread.join();
    hwnd = nullptr;
  }
  DWORD Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    return static_cast<DWORD>(SendMessageA(hwnd, msg, wParam, lParam));
  }
  DWORD SendData(ULONG_PTR code, const std::string& payload, DWORD size = 0xFFFFFFFF) {
    COPYDATASTRUCT cds{code, size == 0xFFFFFFFF ? static_cast<DWORD>(payload.size()) : size,
                       const_cast<char*>(payload.data())};
    return Send(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
  }
  static std::string U32(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
  // An update whose run waits until `go` is set; what it returns is `result`.
  void HoldUpdates(HRESULT result = S_OK) {
    go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    rig.scheduler.run = [this, result](Settings& copy) {
      WaitForSingleObject(go, 10000);
      static_cast<MemorySettings&>(copy).values.rates = "fresh";
      return result;
    };
  }
  void WaitBusy() { ASSERT_TRUE(Eventually([this] { return rig.scheduler.IsBusy(); })); }
  // Counts the update requests the server's window takes, on their way to its own procedure.
  void CountUpdateRequests() {
    updateRequests = 0;
    serverProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Server::CountingProc)));
  }
  static LRESULT CountingProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_VX_UPDATENOW) ++updateRequests;
    return CallWindowProcA(serverProc, h, msg, wParam, lParam);
  }

  static inline WNDPROC serverProc = nullptr;
  static inline std::atomic<int> updateRequests{0};
  vtxtest::PrivateStore dir;
  Rig rig;
  std::thread thread;
  HWND hwnd = nullptr;
  HANDLE go = nullptr;
};

TEST(CommandLine, SwitchSpellings) {
  using V = std::vector<std::string>;
  struct Case {
    V tokens;
    bool service;
    V imports;
    V unknown;
    bool help = false;
  } cases[] = {
      {{"/SERVICE"}, true, {}, {}},
      {{"-service"}, true, {}, {}},
      {{"/SeRvIcE"}, true, {}, {}},
      {{"SERVICE"}, false, {}, {"SERVICE"}},
      {{"/SERVICES"}, false, {}, {"/SERVICES"}},
      {{"/l:/tmp/a.vx-cnf"}, false, {"/tmp/a.vx-cnf"}, {}},
      {{"-l/srv/conf"}, false, {"/srv/conf"}, {}},
      {{"/l:relative.vx-cnf"}, false, {"relative.vx-cnf"}, {}},
      {{"/l:"}, false, {""}, {}},
      {{"/L:/tmp/a"}, false, {}, {"/L:/tmp/a"}},  // upper-case L is not the switch
      {{"/lib/x"}, false, {}, {"/lib/x"}},        // a Linux path, not "/l" + "ib/x"
      {{"/l"}, false, {}, {"/l"}},
      {{"/lconf"}, false, {}, {"/lconf"}},
      {{"/x", "/SERVICE", "-l:/a", "-l:/b"}, true, {"/a", "/b"}, {"/x"}},
      {{"--help"}, false, {}, {}, true},
      {{"/?", "--frob"}, false, {}, {"--frob"}, true},
  };
  for (const Case& c : cases) {
    CommandLine cl = ParseCommandLine(c.tokens);
    EXPECT_EQ(cl.serviceMode, c.service) << c.tokens[0];
    EXPECT_EQ(cl.imports, c.imports) << c.tokens[0];
    EXPECT_EQ(cl.unknown, c.unknown) << c.tokens[0];
    EXPECT_EQ(cl.help, c.help) << c.tokens[0];
  }
  EXPECT_EQ(SplitCommandLine("  /SERVICE \"-l:/tmp/a b.vx-cnf\"  x"),
            (std::vector<std::string>{"/SERVICE", "-l:/tmp/a b.vx-cnf", "x"}));
}

TEST_F(Server, ServiceRunFramedByEventsAndQuitCodeIsTheLowByte) {
  Start({"/service"});
  EXPECT_EQ(Send(WM_VX_PING), 1u);  // answered from the main loop, so the pipe exists by now
  EXPECT_EQ(rig.pipe.created, g_szAppPipe);
  EXPECT_EQ(Send(WM_VX_EXIT, 5), 0u);  // sent rather than posted: not the end of the run
  EXPECT_EQ(Send(0x8070), 0u);
  EXPECT_EQ(Send(WM_VX_PING), 1u);
  int savesBefore = rig.store.saves;
  Stop(0x1FF);
  EXPECT_EQ(rig.events.Ids(), (std::vector<DWORD>{0xA, 0xB}));
  EXPECT_EQ(rig.events.exitCode, 0xFF);
  EXPECT_EQ(rig.store.saves, savesBefore + 1);  // saved at the end
  EXPECT_FALSE(FindWindowA(g_szAppWindowClass, nullptr));
  WNDCLASSA wc;
  EXPECT_FALSE(GetClassInfoA(nullptr, g_szAppWindowClass, &wc));  // unregistered again
}

TEST_F(Server, SecondInstanceEndsAtOnce) {
  Start();
  Rig second;
  EXPECT_EQ(RunServer({"-SERVICE"}, second.seams()), 1);
  // A start that never became the server leaves no started or stopped entry.
  EXPECT_TRUE(second.events.Ids().empty());
  EXPECT_EQ(second.store.loads, 0);
  EXPECT_TRUE(second.pipe.created.empty());
  EXPECT_EQ(Send(WM_VX_PING), 1u);
}

// Another server that took the lock answers once it serves its pipe: the race of two starts ends
// with the second start bowing out, as before a running server.
TEST_F(Server, InstanceLockOfAServerThatAnswersEndsTheRun) {
  HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread other([&] {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
    SetEvent(taken);
    Sleep(300);  // still starting when the second start looks
    CPipeMessageServer pipe;
    ASSERT_EQ(pipe.Create(g_szAppPipe), S_OK);
    HANDLE events[2] = {pipe.GetEvent(), done};
    while (WaitForMultipleObjects(2, events, FALSE, 30000) == WAIT_OBJECT_0)
      pipe.ServeRequest(0, [](DWORD_PTR, DWORD msg, WPARAM, LPARAM) -> DWORD { return msg == WM_VX_PING ? 1 : 0; });
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  });
  ASSERT_EQ(WaitForSingleObject(taken, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(RunServer({"/SERVICE"}, rig.seams()), 1);
  SetEvent(done);
  other.join();
  CloseHandle(taken);
  CloseHandle(done);
  EXPECT_TRUE(rig.events.Ids().empty());
  EXPECT_EQ(rig.store.loads, 0);
}

// A server killed a moment ago holds its instance lock until its process is gone, and answers
// nothing: the new server waits for the lock and runs.
TEST_F(Server, InstanceLockOfAServerThatIsGoingIsWaitedFor) {
  HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread going([&] {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
    SetEvent(taken);
    Sleep(500);
    CloseHandle(mutex);  // the holder's thread ends without releasing it: abandoned
  });
  ASSERT_EQ(WaitForSingleObject(taken, 5000), WAIT_OBJECT_0);
  Start();
  going.join();
  CloseHandle(taken);
  EXPECT_GE(rig.store.loads, 1);
  Stop();
}

// One server per store, whatever its runtime folder: the lock beside the store names its holder. A
// holder that answers nothing and goes (a server killed a moment ago) is waited for.
TEST_F(Server, TheStoreLockKeepsASecondServerOffTheStore) {
  vtx::LockFile other;
  ASSERT_EQ(other.Take(dir / "registry.db.lock"), S_OK);
  std::thread going([&] {
    Sleep(300);
    other.Release();
  });
  Start();
  going.join();
  long holder = 0;
  EXPECT_EQ(other.Take(dir / "registry.db.lock", &holder), HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(holder, static_cast<long>(getpid()));
  Stop();
  EXPECT_EQ(other.Take(dir / "registry.db.lock"), S_OK);
}

// SIGHUP reads the configuration again as an unlock with reload does; during a configuration
// session it waits for the session's end.
TEST_F(Server, HangUpReloadsTheConfiguration) {
  Start();
  EXPECT_EQ(Send(WM_VX_PING), 1u);  // answered from the main loop: the signals are routed by now
  int loads = rig.store.loads;
  raise(SIGHUP);
  EXPECT_TRUE(Eventually([&] { return rig.store.loads == loads + 1; }));
  EXPECT_EQ(Send(WM_VX_PING), 1u);
  EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 0), 0u);
  EXPECT_EQ(Send(kWmReloadConfiguration), 0u);  // what SIGHUP posts
  EXPECT_EQ(rig.store.loads, loads + 1);
  EXPECT_EQ(Send(WM_VX_UNLOCKCONFIG, 0), 0u);
  EXPECT_EQ(rig.store.loads, loads + 2);
  // From outside the reload is no command.
  EXPECT_EQ(AppPipeProc(hwnd, kWmReloadConfiguration, 0, 0), 0);
  EXPECT_EQ(rig.store.loads, loads + 2);
}

TEST_F(Server, EndSessionSavesOnceAndEndsWithCodeTwo) {
  Start({"/SERVICE"});
  int saves = rig.store.saves;
  EXPECT_EQ(Send(WM_ENDSESSION, 0), 0u);
  EXPECT_EQ(rig.store.saves, saves);
  EXPECT_EQ(Send(WM_VX_PING), 1u);
  EXPECT_EQ(Send(WM_ENDSESSION, 1), 0u);
  thread.join();
  hwnd = nullptr;
  EXPECT_EQ(rig.store.saves, saves + 1);
  EXPECT_EQ(rig.events.exitCode, 2);
}

TEST_F(Server, TerminationSignalEndsTheSession) {
  Start({"/SERVICE"});
  EXPECT_EQ(Send(WM_VX_PING), 1u);  // in the main loop: the signals are routed by now
  int saves = rig.store.saves;
  raise(SIGTERM);
  thread.join();
  hwnd = nullptr;
  EXPECT_EQ(rig.store.saves, saves + 1);
  EXPECT_EQ(rig.events.exitCode, 2);
}

TEST_F(Server, LockProtocol) {
  Start();
  struct Step {
    UINT msg;
    WPARAM wParam;
    DWORD reply;
  } steps[] = {
      {WM_VX_LOCKCONFIG, 0, 0},
      {WM_VX_LOCKCONFIG, 0, VX_E_LOCKED},
      {WM_VX_LOCKCONFIG, 1, VX_E_LOCKED},
      {WM_VX_UNLOCKCONFIG, 0, 0},
      {WM_VX_LOCKCONFIG, 1, 0},
      {WM_VX_LOCKCONFIG, 0, VX_E_LOCKED_BY_SERVER},
      {WM_VX_LOCKCONFIG, 1, VX_E_LOCKED},
      {WM_VX_UNLOCKCONFIG, 0, 0},
  };
  for (const Step& s : steps) EXPECT_EQ(Send(s.msg, s.wParam), s.reply) << std::hex << s.msg << " " << s.wParam;

  // A lock that cannot save takes nothing.
  struct Failure {
    HRESULT save, canSave, reply;
  } failures[] = {
      {E_ACCESSDENIED, E_ACCESSDENIED, VX_E_KEY_NOT_WRITABLE},
      {E_ACCESSDENIED, S_OK, E_ACCESSDENIED},
      {E_FAIL, S_OK, E_FAIL},
  };
  for (const Failure& f : failures) {
    rig.store.saveResult = f.save;
    rig.store.canSave = f.canSave;
    EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 0), f.reply);
  }
  rig.store.saveResult = S_OK;
  rig.store.canSave = S_OK;
  EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 0), 0u);

  // While locked, update requests are counted; a new lock starts the count again.
  EXPECT_EQ(Send(WM_VX_UPDATENOW), VX_E_LOCKED_COUNTED);
  EXPECT_EQ(Send(WM_VX_GETPENDINGUPDATES), 1u);
  int checks = rig.scheduler.checks;
  PostMessageA(hwnd, WM_TIMER, 2, 0);
  PostMessageA(hwnd, WM_TIMER, 3, 0);
  PostMessageA(hwnd, WM_TIMER, 1, 0);  // posted messages run in order: this one comes last
  EXPECT_TRUE(Eventually([&] { return Send(WM_VX_GETPENDINGUPDATES) == 2; }));
  EXPECT_EQ(rig.scheduler.checks, checks);  // no staleness warnings while locked
  EXPECT_EQ(rig.scheduler.starts, 0);

  // An import while the manager's session holds the lock is refused and imports nothing.
  EXPECT_EQ(SendData(WM_VX_IMPORTSETTINGS, U32(1) + "/tmp/conf.vx-cnf" + '\0'), VX_E_LOCKED);
  EXPECT_TRUE(rig.store.imports.empty());

  int loads = rig.store.loads, arms = rig.scheduler.arms, schedules = rig.scheduler.schedules;
  EXPECT_EQ(Send(WM_VX_UNLOCKCONFIG, 1), 0u);
  EXPECT_EQ(rig.store.loads, loads + 1);
  EXPECT_EQ(rig.scheduler.schedules, schedules + 1);
  EXPECT_EQ(rig.scheduler.arms, arms + 2);
  EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 0), 0u);
  EXPECT_EQ(Send(WM_VX_GETPENDINGUPDATES), 0u);
  EXPECT_EQ(Send(WM_VX_UNLOCKCONFIG, 0), 0u);
  EXPECT_EQ(rig.store.loads, loads + 1);  // no reload

  // Unlocked, the timers do their work.
  PostMessageA(hwnd, WM_TIMER, 2, 0);
  PostMessageA(hwnd, WM_TIMER, 3, 0);
  EXPECT_TRUE(Eventually([&] { return rig.scheduler.checks == checks + 2; }));
}

TEST_F(Server, UpdateNowReturnsTheWholeRunsResult) {
  HoldUpdates();
  Start();
  CountUpdateRequests();
  DWORD first = 1, second = 1;
  std::thread a([&] { first = Send(WM_VX_UPDATENOW); });
  WaitBusy();
  // The main thread waits for the run, yet answers sent messages meanwhile, as on Windows.
  EXPECT_EQ(Send(WM_VX_ISUPDATING), 1u);
  EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 0), VX_E_UPDATING_MANAGER);
  EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 1), VX_E_UPDATING_SERVER);
  EXPECT_EQ(SendData(WM_VX_TESTNOTIFICATION, std::string(16, '\0') + std::string(5, '\0')), 0u);
  std::thread b([&] { second = Send(WM_VX_UPDATENOW); });  // joins the running update
  EXPECT_TRUE(Eventually([] { return updateRequests == 2; }));
  SetEvent(go);
  a.join();
  b.join();
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, 0u);
  EXPECT_EQ(rig.store.stored.rates, "fresh");
  EXPECT_EQ(rig.store.saveINIs, 1);
  EXPECT_EQ(rig.scheduler.starts, 1);
  EXPECT_FALSE(rig.scheduler.lastAttemptFailed);
  EXPECT_EQ(Send(WM_VX_ISUPDATING), 0u);
  EXPECT_TRUE(rig.notifications.notes().empty());  // the test notification was refused while busy

  // A failed run: its code is the reply, nothing is stored, the attempt counts as failed.
  rig.scheduler.run = [](Settings&) -> HRESULT { return 0x80072EE7; };
  EXPECT_EQ(Send(WM_VX_UPDATENOW), 0x80072EE7u);
  EXPECT_EQ(rig.store.saveINIs, 1);
  EXPECT_TRUE(rig.scheduler.lastAttemptFailed);
  // A request that cannot start gets the start's failure.
  rig.scheduler.startFailure = E_BUSY;
  EXPECT_EQ(Send(WM_VX_UPDATENOW), E_BUSY);
  EXPECT_TRUE(rig.notifications.notes().empty());  // a manual request's start failure is the reply only
}

TEST_F(Server, TimerOneStartsAnUpdateAndReportsAFailedStart) {
  Start();
  rig.scheduler.startFailure = 0x80070008;
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  EXPECT_TRUE(Eventually([&] { return rig.scheduler.starts == 1; }));
  EXPECT_EQ(Send(WM_VX_PING), 1u);
  auto notes = rig.notifications.notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].caption, "Vantrex update");
  EXPECT_EQ(notes[0].type, 0x10010u);

  rig.scheduler.startFailure = S_OK;
  HANDLE ran = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  rig.scheduler.run = [ran](Settings&) {
    SetEvent(ran);
    return S_OK;
  };
  PostMessageA(hwnd, WM_TIMER, 1, 0);
  EXPECT_EQ(WaitForSingleObject(ran, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(Eventually([&] { return rig.store.saveINIs == 1; }));
  CloseHandle(ran);
}

TEST_F(Server, ReloadAskedForDuringAnUpdateWaitsForItsResult) {
  HoldUpdates();
  rig.store.stored.customAction = "";
  Start();
  std::thread a([&] { Send(WM_VX_UPDATENOW); });
  WaitBusy();
  // The manager wrote a new configuration and asks for a reload while the run goes on.
  {
    std::lock_guard<std::mutex> l(rig.store.lock);
    rig.store.stored.emailProfile = "new profile";
  }
  EXPECT_EQ(Send(WM_VX_UNLOCKCONFIG, 1), 0u);
  SetEvent(go);
  a.join();
  EXPECT_EQ(Send(WM_VX_PING), 1u);
  ASSERT_NE(rig.store.live, nullptr);
  EXPECT_EQ(rig.store.live->values.emailProfile, "new profile");
  EXPECT_EQ(rig.store.live->values.rates, "fresh");
  Stop();
  EXPECT_EQ(rig.store.stored.emailProfile, "new profile");  // the exit save keeps it
}

TEST_F(Server, RequestsFromOutsideCannotUseInternalCodes) {
  HoldUpdates();
  SetEvent(go);
  Start();
  int saveINIs = rig.store.saveINIs;
  EXPECT_EQ(rig.pipe.Request(WM_VX_PING, 0, 0), 1u);
  EXPECT_EQ(rig.pipe.Request(WM_VX_UPDATEDONE, 0x1234, 0), 0u);  // a forged pointer
  EXPECT_EQ(rig.pipe.Request(WM_VX_UPDATEFAILED, 0, E_FAIL), 0u);
  EXPECT_EQ(rig.pipe.Request(WM_VX_DEFINITIONSDONE, 0x1234, 0), 0u);
  EXPECT_EQ(rig.pipe.Request(WM_TIMER, 1, 0), 0u);
  EXPECT_EQ(rig.pipe.Request(WM_ENDSESSION, 1, 0), 0u);
  EXPECT_EQ(rig.pipe.Request(WM_CLOSE, 0, 0), 0u);
  EXPECT_EQ(rig.store.saveINIs, saveINIs);
  EXPECT_EQ(rig.scheduler.starts, 0);
  EXPECT_EQ(rig.pipe.Request(WM_VX_GETPENDINGUPDATES, 0, 0), 0u);
  // The client commands pass.
  EXPECT_EQ(rig.pipe.Request(WM_VX_LOCKCONFIG, 0, 0), 0u);
  EXPECT_EQ(rig.pipe.Request(WM_VX_UPDATENOW, 0, 0), VX_E_LOCKED_COUNTED);
  EXPECT_EQ(rig.pipe.Request(WM_VX_UNLOCKCONFIG, 0, 0), 0u);
  EXPECT_EQ(rig.pipe.Request(WM_VX_UPDATENOW, 0, 0), 0u);
  std::string payload = U32(MB_ICONINFORMATION) + "hello" + '\0';
  COPYDATASTRUCT cds{WM_VX_SHOWMESSAGE, static_cast<DWORD>(payload.size()), payload.data()};
  EXPECT_EQ(rig.pipe.Request(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 0u);
  EXPECT_EQ(rig.pipe.Request(WM_VX_QUIT, 7, 0), 0u);
  thread.join();
  hwnd = nullptr;
  ASSERT_EQ(rig.notifications.notes().size(), 1u);
  EXPECT_EQ(rig.notifications.notes()[0].text, "hello");
}

TEST_F(Server, PayloadsAreReadWithinTheirLength) {
  Start();
  std::string good = U32(0x10030) + "Rates are old" + '\0';
  EXPECT_EQ(SendData(WM_VX_SHOWMESSAGE, good), 0u);
  EXPECT_EQ(SendData(WM_VX_SHOWMESSAGE, good, 7), E_INVALIDARG);
  EXPECT_EQ(SendData(WM_VX_SHOWMESSAGE, U32(0) + "abcdefgh"), E_INVALIDARG);  // no NUL inside cbData
  EXPECT_EQ(SendData(WM_VX_SHOWMESSAGE, good, 10), E_INVALIDARG);
  COPYDATASTRUCT none{WM_VX_SHOWMESSAGE, 20, nullptr};
  EXPECT_EQ(Send(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&none)), E_INVALIDARG);
  EXPECT_EQ(Send(WM_COPYDATA, 0, 0), 0u);
  EXPECT_EQ(SendData(0x8070, good), 0u);
  auto notes = rig.notifications.notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].caption, "Vantrex");
  EXPECT_EQ(notes[0].text, "Rates are old");
  EXPECT_EQ(notes[0].type, 0x10030u);

  EXPECT_EQ(SendData(WM_VX_IMPORTSETTINGS, U32(1) + "/tmp/unterminated"), E_INVALIDARG);
  EXPECT_EQ(SendData(WM_VX_EXPORTSETTINGS, U32(1), 4), E_INVALIDARG);
  EXPECT_TRUE(rig.store.imports.empty());
  EXPECT_TRUE(rig.store.exports.empty());
  EXPECT_EQ(SendData(WM_VX_EXPORTSETTINGS, U32(1) + "/tmp/out" + '\0'), 0u);
  EXPECT_EQ(rig.store.exports, (std::vector<std::string>{"/tmp/out"}));
  EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 0), 0u);  // the export released its lock

  EXPECT_EQ(Send(WM_VX_UNLOCKCONFIG, 0), 0u);
  std::string strings = std::string("<SMTP>") + '\0' + "ops@example.org" + '\0' + "srv@example.org" + '\0' +
                        "mail.example.org" + '\0' + "/tmp/log.txt" + '\0';
  std::string test = U32(1) + U32(1) + U32(1) + U32(0) + strings;
  EXPECT_EQ(SendData(WM_VX_TESTNOTIFICATION, test, 19), 0u);
  EXPECT_EQ(SendData(WM_VX_TESTNOTIFICATION, test, static_cast<DWORD>(test.size() - 1)), 0u);  // last string cut
  EXPECT_EQ(rig.notifications.notes().size(), 1u);
  EXPECT_EQ(SendData(WM_VX_TESTNOTIFICATION, test), 0u);
  notes = rig.notifications.notes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[1].type, kNotifyInformation);
  EXPECT_EQ(notes[1].text, "This is a test notification from the Vantrex server.");
  EXPECT_EQ(rig.store.live->values.emailProfile, "");  // only the copy took the test's values
}

TEST_F(Server, HitCountsTakeOnlyCurrencyCodes) {
  Start();
  struct Case {
    WPARAM packed;
    DWORD reply;
    const char* counted;
  } cases[] = {
      {0x00445355, 1, "USD"},  {0x44434241, 1, "ABCD"}, {0x00000031, 1, "1"},
      {0, 0, nullptr},         {0x00245355, 0, nullptr},  // "US$"
      {0x44530055, 0, nullptr},  // "U", NUL, "SD"
      {0x0A445355, 0, nullptr},  {static_cast<WPARAM>(0x100445355ull), 0, nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(Send(WM_VX_COUNTHIT, c.packed), c.reply) << std::hex << c.packed;
  Stop();  // an orderly stop writes the counts that wait
  EXPECT_EQ(rig.store.hits, (std::map<std::string, DWORD>{{"USD", 1}, {"ABCD", 1}, {"1", 1}}));
}

// lParam carries a number of uses (0 is one); the counts wait in memory and are written together,
// about a second after the first, and again when the server stops.
TEST_F(Server, HitCountsAreSummedAndWrittenInBatches) {
  Start();
  const WPARAM usd = 0x00445355, gbp = 0x00504247;
  EXPECT_EQ(Send(WM_VX_COUNTHIT, usd, 0), 1u);
  EXPECT_EQ(Send(WM_VX_COUNTHIT, usd, 1), 1u);
  EXPECT_EQ(Send(WM_VX_COUNTHIT, usd, 40000), 1u);
  EXPECT_EQ(Send(WM_VX_COUNTHIT, gbp, 0xFFFFFFFF), 1u);
  EXPECT_EQ(Send(WM_VX_COUNTHIT, gbp, 7), 1u);
  {
    std::lock_guard<std::mutex> l(rig.store.lock);
    EXPECT_TRUE(rig.store.hits.empty());
  }
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> l(rig.store.lock);
    return rig.store.hitWrites > 0;
  }));
  {
    std::lock_guard<std::mutex> l(rig.store.lock);
    EXPECT_EQ(rig.store.hitWrites, 1);
    EXPECT_EQ(rig.store.hits, (std::map<std::string, DWORD>{{"USD", 40002}, {"GBP", 0xFFFFFFFF}}));
  }
  EXPECT_EQ(Send(WM_VX_COUNTHIT, usd, 3), 1u);
  Stop();
  EXPECT_EQ(rig.store.hitWrites, 2);
  EXPECT_EQ(rig.store.hits["USD"], 40005u);
}

TEST_F(Server, SimpleQueries) {
  Start();
  rig.store.canSave = E_ACCESSDENIED;
  EXPECT_EQ(Send(WM_VX_CANSAVESETTINGS), E_ACCESSDENIED);
  rig.store.canSave = S_OK;
  EXPECT_EQ(Send(WM_VX_CANSAVESETTINGS), 0u);
  struct Case {
    bool viaEmail;
    const char* profile;
    DWORD reply;
  } cases[] = {{false, "Outlook", 0}, {true, "<smtp>", 0}, {true, "Outlook", 1}};
  for (const Case& c : cases) {
    rig.store.stored.messagesViaEmail = c.viaEmail;
    rig.store.stored.emailProfile = c.profile;
    Send(WM_VX_UNLOCKCONFIG, 1);
    EXPECT_EQ(Send(WM_VX_USESMAPIEMAIL), c.reply) << c.profile;
  }
  EXPECT_EQ(Send(WM_VX_ISUPDATING), 0u);
  EXPECT_EQ(Send(0x8004), 0u);
}

class ImportSwitch : public Server {
 protected:
  void RunImport(const char* arg, int status = 0) {
    Rig client;
    client.resources.answer = answer;
    client.store.canSave = canSave;
    EXPECT_EQ(RunServer({arg}, client.seams()), status);
    EXPECT_EQ(client.store.loads, 0);  // the import run never becomes a server
    boxes = client.resources.boxes;
    clientImports = client.store.imports;
  }
  std::vector<std::string> clientImports;
  int answer = IDYES;
  HRESULT canSave = S_OK;
  std::vector<Box> boxes;
};

TEST_F(ImportSwitch, AsksThenHandsTheFileToTheRunningServer) {
  Start();
  RunImport("/l:/tmp/site.vx-cnf");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].textId, 440u);
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(boxes[0].insert, "/tmp/site.vx-cnf");
  EXPECT_EQ(boxes[1].textId, 441u);
  EXPECT_EQ(boxes[1].type, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_EQ(rig.store.imports, (std::vector<std::string>{"/tmp/site.vx-cnf"}));
  EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 0), 0u);  // the import unlocked again

  // Locked by the manager: the server's own code is shown by its text number.
  RunImport("-l/tmp/other.vx-cnf", 1);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].textId, VX_E_LOCKED & 0xFFFF);
  EXPECT_EQ(boxes[1].type, 0u);
  EXPECT_EQ(rig.store.imports.size(), 1u);
  Send(WM_VX_UNLOCKCONFIG, 0);

  // Declined: nothing is imported and the run says so with its status.
  answer = IDNO;
  RunImport("/l:/tmp/site.vx-cnf", 1);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(rig.store.imports.size(), 1u);

  answer = IDYES;
  rig.store.configFileResult = 0x80070002;
  RunImport("/l:/tmp/missing.vx-cnf", 1);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].textId, 83u);
  EXPECT_EQ(boxes[1].hr, 0x80070002u);
  EXPECT_TRUE(clientImports.empty());

  // A server that cannot take the caller's rights (it runs as the product's account): the caller
  // imports the file itself, with its own rights, inside the server's configuration session.
  rig.store.configFileResult = E_ACCESSDENIED;
  RunImport("/l:/tmp/mine.vx-cnf");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].textId, 441u);
  EXPECT_EQ(clientImports, (std::vector<std::string>{"/tmp/mine.vx-cnf"}));
  EXPECT_EQ(Send(WM_VX_LOCKCONFIG, 0), 0u);  // unlocked again
  Send(WM_VX_UNLOCKCONFIG, 0);
  rig.store.configFileResult = S_OK;

  canSave = E_ACCESSDENIED;
  RunImport("/l:/tmp/site.vx-cnf", 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].textId, 442u);
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONHAND));
  canSave = E_FAIL;
  RunImport("/l:/tmp/site.vx-cnf", 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].textId, 83u);
  EXPECT_EQ(Send(WM_VX_PING), 1u);
}

TEST_F(ImportSwitch, WithoutAServerTheSendFails) {
  RunImport("/l:/tmp/site.vx-cnf", 1);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].textId, 83u);
  EXPECT_EQ(boxes[1].hr, E_SERVER_UNAVAILABLE);
  RunImport("/l:", 1);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].hr, E_INVALIDARG);
}

TEST_F(Server, StartFailuresAreNotifiedAndEndTheRun) {
  rig.resources.loadFails = true;
  EXPECT_EQ(RunServer({}, rig.seams()), 1);
  auto notes = rig.notifications.notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].text, "The resource library could not be loaded.");
  EXPECT_EQ(notes[0].caption, "Vantrex");
  EXPECT_EQ(notes[0].type, static_cast<UINT>(MB_ICONHAND));

  Rig other;
  other.store.createFails = true;
  EXPECT_EQ(RunServer({}, other.seams()), 1);
  notes = other.notifications.notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].text, "The Vantrex server could not create its command window.");
  EXPECT_FALSE(FindWindowA(g_szAppWindowClass, nullptr));
}

TEST_F(Server, MessagesFileMigration) {
  struct Case {
    bool oldExists, targetExists, trailingSlash;
    bool copied;
  } cases[] = {
      {true, false, false, true},
      {true, false, true, true},
      {true, true, false, false},
      {false, false, false, false},
  };
  for (const Case& c : cases) {
    vtxtest::TempDir d;
    std::string old = d / "messages.txt", target = d / "display.txt";
    if (c.oldExists) std::ofstream(old) << "old messages";
    if (c.targetExists) std::ofstream(target) << "current";
    MemoryStore store;
    store.appStrings["DisplayMessages"] = target;
    store.appStrings["Path"] = d.path() + (c.trailingSlash ? "/" : "");
    MigrateMessagesFile(store);
    std::ifstream t(target);
    std::string content((std::istreambuf_iterator<char>(t)), std::istreambuf_iterator<char>());
    EXPECT_EQ(access(old.c_str(), F_OK) == 0, c.oldExists && !c.copied);
    if (c.copied) {
      EXPECT_EQ(content, "old messages");
    }
    if (c.targetExists) {
      EXPECT_EQ(content, "current");
    }
  }
}

TEST_F(Server, PipeRequestsAreAnsweredWhileAnUpdateNowWaits) {
  rig.useRealPipe = true;
  HoldUpdates();
  Start();
  DWORD first = 1;
  std::thread a([&] {
    CPipeMessageClient client;
    EXPECT_EQ(client.SendMessageA(g_szAppPipe, WM_VX_UPDATENOW, 0, 0, &first), S_OK);
  });
  WaitBusy();
  CPipeMessageClient client;
  DWORD reply = 0;
  EXPECT_EQ(client.SendMessageTimeoutA(g_szAppPipe, WM_VX_PING, 0, 0, 5000, &reply), S_OK);
  EXPECT_EQ(reply, 1u);
  EXPECT_EQ(client.SendMessageTimeoutA(g_szAppPipe, WM_VX_LOCKCONFIG, 0, 0, 5000, &reply), S_OK);
  EXPECT_EQ(reply, VX_E_UPDATING_MANAGER);
  EXPECT_EQ(client.SendMessageTimeoutA(g_szAppPipe, WM_VX_COUNTHIT, 0x00524843, 0, 5000, &reply), S_OK);
  EXPECT_EQ(reply, 1u);
  EXPECT_EQ(client.SendMessageTimeoutA(g_szAppPipe, WM_VX_UPDATEDONE, 0x1234, 0, 5000, &reply), S_OK);
  EXPECT_EQ(reply, 0u);  // refused from outside, even in the middle of a run
  SetEvent(go);
  a.join();
  EXPECT_EQ(first, 0u);
  Stop();
  EXPECT_EQ(rig.store.hits["CHR"], 1u);
  EXPECT_EQ(rig.store.saveINIs, 1);
}

// The real program in a process of its own, reached only through its pipe.
TEST_F(Server, ProgramIsReachedAcrossProcesses) {
  std::string program = vtxtest::Program("vtxserver");
  ASSERT_EQ(access(program.c_str(), X_OK), 0) << program;
  // The program's own catalogue and a listener for its event entries.
  RegStringValueA catalogue;
  catalogue = vtxtest::SourcePath("resources/0409/vantrex.cat").c_str();
  ASSERT_EQ(catalogue.Save(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hulvane\\Vantrex\\4.0", "Resources0409"), S_OK);
  vtxtest::SyslogListener events(dir.syslog());
  ASSERT_TRUE(events.bound());
  std::string service = "/SERVICE";
  char* argv[] = {program.data(), service.data(), nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, (dir / "server.log").c_str(), O_WRONLY | O_CREAT, 0600);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &fa, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  ASSERT_TRUE(Eventually([] { return CanSendVXVMessages() != 0; }));
  DWORD reply = 0;
  EXPECT_EQ(SendVXVMessageTimeout(WM_VX_PING, 0, 0, 5000, &reply), S_OK);
  EXPECT_EQ(reply, 1u);

  // A second server sees the first through its pipe.
  EXPECT_EQ(RunServer({"/SERVICE"}, rig.seams()), 1);
  EXPECT_TRUE(rig.events.Ids().empty());
  EXPECT_EQ(rig.store.loads, 0);

  // The import switch hands its file over; the program's answer for a missing file comes back as a
  // failure box.
  Rig client;
  EXPECT_EQ(RunServer({"-l:" + dir / "missing.vx-cnf"}, client.seams()), 1);
  ASSERT_EQ(client.resources.boxes.size(), 2u);
  EXPECT_EQ(client.resources.boxes[1].textId, 83u);
  EXPECT_EQ(client.resources.boxes[1].hr, E_NOTFOUND_FILE);

  EXPECT_EQ(SendVXVMessage(WM_VX_QUIT, 0x1FF, 0, &reply), S_OK);
  EXPECT_EQ(vtxtest::WaitExit(pid, std::chrono::seconds(30)), 0);
  std::string started = events.Receive(), stopped = events.Receive();
  EXPECT_NE(started.find("event 0x0000000A"), std::string::npos) << started;
  EXPECT_NE(stopped.find("event 0x0000000B"), std::string::npos) << stopped;
  EXPECT_NE(stopped.find("data: FF"), std::string::npos) << stopped;
  EXPECT_EQ(SendVXVMessage(WM_VX_PING, 0, 0, &reply), E_SERVER_UNAVAILABLE);
}

}  // namespace
