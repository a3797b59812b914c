#include "engine/update/updatethread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "tests/engine/update/ownerwindow.h"
#include "tests/support/store.h"

namespace {

constexpr char kAppKey[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0";

char* GlobalCopy(const std::string& s) {
  char* p = static_cast<char*>(GlobalAlloc(0, s.size() + 1));
  std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

// What the store behind every settings object holds and counts.
struct Store {
  std::mutex lock;
  int saveINIs = 0;
  HRESULT saveIniResult = S_OK;
  std::string storedRates;
  int customActions = 0;
  HRESULT customActionResult = S_OK;
  std::string customActionError;
};

// Settings with a few values and a code -> rate table standing in for the active list.
class FakeSettings : public IUpdateSettings {
 public:
  explicit FakeSettings(Store& store) : store_(store) {}
  bool CopyFrom(const IUpdateSettings& other) override {
    if (failCopies) return false;
    auto& o = static_cast<const FakeSettings&>(other);
    rates = o.rates;
    hangUp = o.hangUp;
    emuDue = o.emuDue;
    customAction = o.customAction;
    executeRule = o.executeRule;
    unknownMode = o.unknownMode;
    unknownCodes = o.unknownCodes;
    removedCodes = o.removedCodes;
    setRatesResult = o.setRatesResult;
    newCodes = o.newCodes;
    return true;
  }
  bool IsTimeToLoadEMU() const override { return emuDue; }
  BOOL GetHangUp() const override { return hangUp; }
  void SetHangUp(BOOL h) override { hangUp = h; }
  bool HasCustomAction() const override { return !customAction.empty(); }
  DWORD GetExecuteCustomAction() const override { return executeRule; }
  DWORD GetUnknownCurrencies() const override { return unknownMode; }
  bool CopyActiveCurrencies(CStringList<char>& list) const override {
    list.Empty();
    for (auto& [code, rate] : rates) list.Add((code + "=" + rate).c_str());
    return true;
  }
  bool ActiveRatesDiffer(const CStringList<char>& list) const override {
    CStringList<char> now;
    CopyActiveCurrencies(now);
    if (now.GetCount() != list.GetCount()) return true;
    for (uint32_t i = 0; i < now.GetCount(); ++i)
      if (std::strcmp(now[i], list[i]) != 0) return true;
    return false;
  }
  HRESULT SetRates(uint32_t mode, char** unknown, uint32_t* unknownCount, char** removed,
                   uint32_t* removedCount) override {
    setRatesMode = mode;
    *unknown = unknownCodes.empty() ? nullptr : GlobalCopy(unknownCodes);
    *unknownCount = unknownCodes.empty() ? 0 : 2;
    *removed = removedCodes.empty() ? nullptr : GlobalCopy(removedCodes);
    *removedCount = removedCodes.empty() ? 0 : 1;
    return setRatesResult;
  }
  HRESULT CompareWithBuiltInTable(char** codes, uint32_t* count) const override {
    *codes = newCodes.empty() ? nullptr : GlobalCopy(newCodes);
    *count = newCodes.empty() ? 0 : 2;
    return S_OK;
  }
  void GetConnectionSettings(INetConnectionSettings& out) const override { out.HangUp = hangUp; }
  HRESULT SaveINI() override {
    std::lock_guard<std::mutex> l(store_.lock);
    ++store_.saveINIs;
    if (SUCCEEDED(store_.saveIniResult)) store_.storedRates = rates["USD"];
    return store_.saveIniResult;
  }
  HRESULT ExecuteCustomAction(HWND, char** errorText) override {
    std::lock_guard<std::mutex> l(store_.lock);
    ++store_.customActions;
    if (!store_.customActionError.empty()) *errorText = GlobalCopy(store_.customActionError);
    return store_.customActionResult;
  }

  std::map<std::string, std::string> rates;
  BOOL hangUp = TRUE;
  bool emuDue = false;
  std::string customAction;
  DWORD executeRule = 0;
  DWORD unknownMode = 0;
  std::string unknownCodes, removedCodes, newCodes;
  HRESULT setRatesResult = S_OK;
  uint32_t setRatesMode = 0;
  bool failCopies = false;

 private:
  Store& store_;
};

struct Notice {
  std::string text, caption;
  UINT type;
  bool collected;
  bool busy;
  DWORD thread;
};

// The run, the definitions check, the channels and the archive, as recorded calls.
class FakeEngine : public IUpdateEngine {
 public:
  HRESULT UpdateRun(CUpdateThread& t) override {
    ++runs;
    runThread = GetCurrentThreadId();
    hangUpInRun = t.GetSettings().GetHangUp();
    return run ? run(t) : S_OK;
  }
  HRESULT CheckDefinitions(CUpdateThread& t, const char* codes) override {
    events.push_back("check");
    hangUpInCheck = t.GetSettings().GetHangUp();
    collectingOffInCheck = t.IsCollectingOff();
    EXPECT_EQ(codes, nullptr);
    if (notifyInCheck) t.Notify(nullptr, "from the check", "c", kNotifyWarning, nullptr);
    return checkResult;
  }
  void Notify(CUpdateThread& t, HWND, const char* text, const char* caption, UINT type, HMODULE) override {
    std::lock_guard<std::mutex> l(lock);
    notices.push_back(Notice{text, caption, type, !t.IsCollectingOff(), t.IsBusy(), GetCurrentThreadId()});
    if (!t.IsCollectingOff()) {
      std::string all = t.GetRunMessages().c_str();
      all += text;
      all += "\r\n";
      t.GetRunMessages() = all.c_str();
    }
  }
  void ArchiveRun(CUpdateThread&) override { ++archives; }
  void HangUp(const IUpdateSettings& s) override {
    events.push_back("hangup");
    hangUpAtHangUp = s.GetHangUp();
  }

  std::vector<Notice> Notices() {
    std::lock_guard<std::mutex> l(lock);
    return notices;
  }

  std::function<HRESULT(CUpdateThread&)> run;
  HRESULT checkResult = S_OK;
  bool notifyInCheck = false;
  std::atomic<int> runs{0}, archives{0};
  std::atomic<DWORD> runThread{0};
  BOOL hangUpInRun = -1, hangUpInCheck = -1, hangUpAtHangUp = -1;
  bool collectingOffInCheck = false;
  std::vector<std::string> events;
  std::mutex lock;
  std::vector<Notice> notices;
};

class FakeSchedule : public IUpdateSchedule {
 public:
  void SetLastAttempt(bool ok) override { attempts.push_back(ok); }
  void Schedule(IUpdateSettings&, HWND) override { ++schedules; }
  void ArmLastChangeTimer(IUpdateSettings&, HWND) override { ++armed; }
  void ArmLastChangeEachTimer(IUpdateSettings&, HWND) override { ++armed; }
  std::vector<bool> attempts;
  int schedules = 0, armed = 0;
};

const char kCatalogue[] =
    "[strings]\n"
    "32 Vantrex\n"
    "81 Update error\n"
    "83 Failed with 0x%1!08X!.\n"
    "96 ,\n"
    "97  and\n"
    "318 %1 unknown currencies: %2.\n"
    "319 %1 unknown currencies were flagged: %2.\n"
    "382 Custom action\n"
    "479 %1 currencies removed: %2.\n"
    "480 %1 currencies were flagged as removed: %2.\n"
    "481 %1 currencies are new: %2.\n";

class UpdateThreadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir().Use();
    std::ofstream(Dir() / "test.cat") << kCatalogue;
  }
  static vtxtest::PrivateStore& Dir() { return vtxtest::SuiteStore(); }
  void SetUp() override {
    module = LoadLibraryA((Dir() / "test.cat").c_str());
    ASSERT_NE(module, nullptr);
    SetAppDword("RecentlyInstalled", std::nullopt);
    SetAppDword("LogFXData", std::nullopt);
    live.rates = {{"USD", "1.10"}};
  }
  void TearDown() override { FreeLibrary(module); }

  static void SetAppDword(const char* name, std::optional<DWORD> value) {
    if (value) {
      RegDwordValue v(*value);
      ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, kAppKey, name), S_OK);
      return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, name);
      RegCloseKey(key);
    }
  }
  static bool AppDwordExists(const char* name) {
    RegDwordValue v;
    return SUCCEEDED(v.Load(HKEY_LOCAL_MACHINE, kAppKey, name));
  }

  // The server's side on a thread of its own: its command window takes the thread's reports,
  // `body` runs there with the window in `state`, then the thread pumps until the thread is idle
  // and its idle report was handled.
  void OnServerThread(const std::function<void(UpdateServerState&)>& body) {
    std::thread server([&] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = ServerProc;
      wc.lpszClassName = "UpdateThreadTestServer";
      RegisterClassA(&wc);
      HWND hwnd = CreateWindowExA(0, "UpdateThreadTestServer", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      ASSERT_NE(hwnd, nullptr);
      state.settings = &live;
      state.thread = &thread;
      state.schedule = &schedule;
      state.hwnd = hwnd;
      state.resourceLibrary = module;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      serverThread = GetCurrentThreadId();
      ASSERT_EQ(thread.Start(module, false), S_OK);
      body(state);
      MSG m;
      for (int i = 0; i < 2000 && (thread.IsBusy() || idles < expectedIdles); ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      }
      thread.Stop(INFINITE);
      DestroyWindow(hwnd);
      UnregisterClassA("UpdateThreadTestServer", nullptr);
    });
    server.join();
  }

  static LRESULT ServerProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<UpdateThreadTest*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self || msg < WM_VX_UPDATEDONE || msg > WM_VX_DEFINITIONSDONE) return 0;
    EXPECT_EQ(GetCurrentThreadId(), self->serverThread.load());
    self->reports.push_back(msg);
    if (msg != WM_VX_UPDATEIDLE) {
      EXPECT_TRUE(self->thread.IsBusy());
    }
    LRESULT r = 0;
    EXPECT_TRUE(HandleUpdateReport(self->state, msg, w, l, &r));
    if (msg != WM_VX_UPDATEIDLE && self->afterApply) self->afterApply();
    if (msg == WM_VX_UPDATEIDLE) ++self->idles;
    return r;
  }

  // One rates update from the server thread, waited for as the update-now command does.
  void RunUpdate(bool definitionsOnly = false) {
    OnServerThread([&](UpdateServerState& s) {
      ASSERT_EQ(thread.PostUpdate(*s.settings, s.hwnd, nullptr, definitionsOnly), S_OK);
      WaitWhileUpdating(thread, s.hwnd);
      appliedWhenWaitEnded = !reports.empty() && reports[0] != WM_VX_UPDATEIDLE;
    });
  }

  HMODULE module = nullptr;
  Store store;
  FakeSettings live{store};
  FakeEngine engine;
  FakeSchedule schedule;
  CUpdateThread thread{std::make_unique<FakeSettings>(store), engine};
  UpdateServerState state;
  std::atomic<DWORD> serverThread{0};
  std::vector<UINT> reports;
  std::function<void()> afterApply;
  int idles = 0, expectedIdles = 1;
  bool appliedWhenWaitEnded = false;
};

TEST_F(UpdateThreadTest, TheResultIsAppliedInsideTheWaitOfTheServerThread) {
  engine.run = [](CUpdateThread& t) {
    static_cast<FakeSettings&>(t.GetSettings()).rates["USD"] = "1.25";
    return S_OK;
  };
  RunUpdate();
  EXPECT_TRUE(appliedWhenWaitEnded);
  EXPECT_EQ(reports, (std::vector<UINT>{WM_VX_UPDATEDONE, WM_VX_UPDATEIDLE}));
  EXPECT_NE(engine.runThread.load(), serverThread.load());
  EXPECT_EQ(live.rates["USD"], "1.25");
  EXPECT_EQ(store.saveINIs, 1);
  EXPECT_EQ(store.storedRates, "1.25");
  EXPECT_EQ(state.lastUpdateResult, S_OK);
  EXPECT_EQ(schedule.attempts, std::vector<bool>{true});
  EXPECT_EQ(schedule.armed, 2);
  EXPECT_EQ(schedule.schedules, 1);
  EXPECT_FALSE(thread.IsBusy());
  EXPECT_EQ(thread.GetSourceIndex(), -1);
}

TEST_F(UpdateThreadTest, AFailedRunStoresNothingAndMarksTheAttempt) {
  engine.run = [](CUpdateThread& t) {
    static_cast<FakeSettings&>(t.GetSettings()).rates["USD"] = "9.99";
    return HRESULT{0x80072EE7};
  };
  RunUpdate();
  EXPECT_EQ(reports, (std::vector<UINT>{WM_VX_UPDATEFAILED, WM_VX_UPDATEIDLE}));
  EXPECT_EQ(state.lastUpdateResult, 0x80072EE7u);
  EXPECT_EQ(live.rates["USD"], "1.10");
  EXPECT_EQ(store.saveINIs, 0);
  EXPECT_EQ(schedule.attempts, std::vector<bool>{false});
  EXPECT_EQ(schedule.armed, 0);
  EXPECT_EQ(schedule.schedules, 1);
}

TEST_F(UpdateThreadTest, ASecondRequestWhileBusyIsRefusedAndNotQueued) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  engine.run = [&](CUpdateThread&) {
    WaitForSingleObject(release, INFINITE);
    return S_OK;
  };
  EXPECT_EQ(thread.PostUpdate(live, nullptr, nullptr, false), E_FAIL);  // not started
  OnServerThread([&](UpdateServerState& s) {
    ASSERT_EQ(thread.PostUpdate(live, s.hwnd, nullptr, false), S_OK);
    EXPECT_TRUE(thread.IsBusy());
    EXPECT_EQ(thread.PostUpdate(live, s.hwnd, nullptr, false), E_BUSY);
    EXPECT_EQ(thread.PostUpdate(live, s.hwnd, nullptr, true), E_BUSY);
    // Outside the hand-over a notice of the main thread is refused too.
    EXPECT_EQ(thread.ShowNotification(live, false, s.hwnd, "text", "caption", 0x10040, module), E_BUSY);
    EXPECT_EQ(thread.DeferredNoticeCount(), 0u);
    SetEvent(release);
    WaitWhileUpdating(thread, s.hwnd);
  });
  EXPECT_EQ(engine.runs.load(), 1);
  EXPECT_TRUE(engine.Notices().empty());
  CloseHandle(release);
}

TEST_F(UpdateThreadTest, StopDuringARunTakesItsReportsAndEnds) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  engine.run = [&](CUpdateThread& t) {
    WaitForSingleObject(release, INFINITE);
    static_cast<FakeSettings&>(t.GetSettings()).rates["USD"] = "1.30";
    return S_OK;
  };
  OnServerThread([&](UpdateServerState& s) {
    ASSERT_EQ(thread.PostUpdate(live, s.hwnd, nullptr, false), S_OK);
    std::thread later([&] {
      Sleep(50);
      SetEvent(release);
    });
    // The thread reports to this thread's window before it can end.
    EXPECT_EQ(thread.Stop(INFINITE), S_OK);
    later.join();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(reports, (std::vector<UINT>{WM_VX_UPDATEDONE, WM_VX_UPDATEIDLE}));
  });
  EXPECT_EQ(live.rates["USD"], "1.30");
  EXPECT_EQ(store.saveINIs, 1);
  CloseHandle(release);
}

TEST_F(UpdateThreadTest, AFailedCopyPostsNothing) {
  OnServerThread([&](UpdateServerState& s) {
    static_cast<FakeSettings&>(thread.GetCopy()).failCopies = true;
    EXPECT_EQ(thread.PostUpdate(live, s.hwnd, nullptr, false), E_OUTOFMEMORY);
    EXPECT_FALSE(thread.IsBusy());
    static_cast<FakeSettings&>(thread.GetCopy()).failCopies = false;
    expectedIdles = 0;
  });
  EXPECT_EQ(engine.runs.load(), 0);
}

TEST_F(UpdateThreadTest, NoticesOfTheHandOverGoOutOnceTheThreadIsIdle) {
  store.saveIniResult = E_ACCESSDENIED;
  store.customActionResult = E_FAIL;
  store.customActionError = "The action program is missing.";
  live.customAction = "action.sh";
  live.executeRule = 0;
  size_t deferredInHandOver = 0, deliveredInHandOver = 9;
  afterApply = [&] {
    deferredInHandOver = thread.DeferredNoticeCount();
    deliveredInHandOver = engine.Notices().size();
  };
  RunUpdate();
  EXPECT_EQ(deferredInHandOver, 2u);
  EXPECT_EQ(deliveredInHandOver, 0u);
  EXPECT_EQ(store.customActions, 1);
  EXPECT_EQ(state.lastUpdateResult, E_ACCESSDENIED);
  EXPECT_EQ(schedule.attempts, std::vector<bool>{false});
  auto notices = engine.Notices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].text, vtx::SystemErrorText(E_ACCESSDENIED));
  EXPECT_EQ(notices[0].caption, "Update error");
  EXPECT_EQ(notices[0].type, kNotifyError);
  EXPECT_EQ(notices[1].text, "The action program is missing.");
  EXPECT_EQ(notices[1].caption, "Custom action");
  EXPECT_EQ(notices[1].type, 0x10u);
  for (auto& n : notices) {
    EXPECT_FALSE(n.busy);
    EXPECT_EQ(n.thread, serverThread.load());
  }
  EXPECT_EQ(thread.DeferredNoticeCount(), 0u);
}

TEST_F(UpdateThreadTest, ACustomActionFailureWithoutTextNamesTheCode) {
  live.customAction = "action.sh";
  store.customActionResult = 0x80041234;  // no system text
  RunUpdate();
  auto notices = engine.Notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, "Failed with 0x80041234.");
  EXPECT_EQ(notices[0].caption, "Custom action");
}

struct CustomActionCase {
  const char* action;
  DWORD rule;
  HRESULT run;
  bool changeRates;
  bool due;
};

TEST_F(UpdateThreadTest, TheCustomActionRule) {
  const CustomActionCase cases[] = {
      {"", 0, S_OK, true, false},           {"a", 0, E_FAIL, false, true},
      {"a", 1, S_OK, false, true},          {"a", 1, E_FAIL, true, false},
      {"a", 2, S_OK, false, false},         {"a", 2, S_OK, true, true},
      {"a", 2, E_FAIL, true, false},        {"a", 3, S_OK, true, false},
  };
  int changes = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "action '" << c.action << "' rule " << c.rule << " run 0x" << std::hex
                                    << c.run << " change " << c.changeRates);
    live.customAction = c.action;
    live.executeRule = c.rule;
    engine.run = [&](CUpdateThread& t) {
      if (c.changeRates) static_cast<FakeSettings&>(t.GetSettings()).rates["JPY"] = std::to_string(++changes);
      return c.run;
    };
    store.customActions = 0;
    reports.clear();
    idles = 0;
    RunUpdate();
    EXPECT_EQ(thread.IsCustomActionDue(), c.due);
    EXPECT_EQ(store.customActions, c.due ? 1 : 0);
  }
}

TEST_F(UpdateThreadTest, ADueDefinitionsCheckKeepsTheLineUpUntilAfterIt) {
  live.emuDue = true;
  live.hangUp = TRUE;
  engine.notifyInCheck = true;
  RunUpdate();
  EXPECT_EQ(engine.hangUpInRun, FALSE);
  EXPECT_EQ(engine.hangUpInCheck, FALSE);
  EXPECT_TRUE(engine.collectingOffInCheck);
  EXPECT_EQ(engine.events, (std::vector<std::string>{"check", "hangup"}));
  EXPECT_EQ(engine.hangUpAtHangUp, TRUE);
  EXPECT_EQ(live.hangUp, TRUE);  // the copy came back with its own value
  // The check's notice was not collected, so the run had no messages to archive.
  ASSERT_EQ(engine.Notices().size(), 1u);
  EXPECT_FALSE(engine.Notices()[0].collected);
  EXPECT_EQ(engine.archives.load(), 0);
}

TEST_F(UpdateThreadTest, DefinitionsCheckAndHangUpOnlyWhenTheyApply) {
  struct Case {
    bool due;
    BOOL hangUp;
    HRESULT run;
    std::vector<std::string> events;
  } cases[] = {
      {false, TRUE, S_OK, {}},
      {true, FALSE, S_OK, {"check"}},
      {true, TRUE, E_FAIL, {"hangup"}},  // no check after a failed run, but the line still goes down
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "due " << c.due << " hangUp " << c.hangUp);
    live.emuDue = c.due;
    live.hangUp = c.hangUp;
    engine.events.clear();
    engine.run = [&](CUpdateThread&) { return c.run; };
    reports.clear();
    idles = 0;
    RunUpdate();
    EXPECT_EQ(engine.events, c.events);
  }
}

TEST_F(UpdateThreadTest, ADefinitionsOnlyRunChecksAndHandsTheCopyBack) {
  engine.run = [](CUpdateThread&) { return E_FAIL; };
  RunUpdate(true);
  EXPECT_EQ(engine.runs.load(), 0);
  EXPECT_EQ(engine.events, std::vector<std::string>{"check"});
  EXPECT_EQ(reports, (std::vector<UINT>{WM_VX_DEFINITIONSDONE, WM_VX_UPDATEIDLE}));
  EXPECT_EQ(store.saveINIs, 1);
  EXPECT_EQ(state.lastUpdateResult, S_OK);
}

TEST_F(UpdateThreadTest, TheRunArchiveFollowsLogFXData) {
  struct Case {
    std::optional<DWORD> logFXData;
    bool notice;
    int archives;
  } cases[] = {
      {std::nullopt, false, 0}, {std::nullopt, true, 1}, {1, false, 0}, {1, true, 1},
      {2, false, 1},            {0, true, 0},            {3, true, 0},
  };
  int total = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "LogFXData " << (c.logFXData ? int(*c.logFXData) : -1) << " notice "
                                    << c.notice);
    SetAppDword("LogFXData", c.logFXData);
    engine.run = [&](CUpdateThread& t) {
      if (c.notice) t.Notify(nullptr, "a warning", "Vantrex", kNotifyWarning, nullptr);
      return S_OK;
    };
    reports.clear();
    idles = 0;
    RunUpdate();
    total += c.archives;
    EXPECT_EQ(engine.archives.load(), total);
  }
}

TEST_F(UpdateThreadTest, UnknownAndRemovedCodesAreAnnouncedAsUnknownCurrenciesSays) {
  live.unknownCodes = "XAA\tXBB";
  live.removedCodes = "XCC";
  struct Case {
    DWORD mode;
    uint32_t setRatesMode;
    std::vector<std::string> texts;
  } cases[] = {
      {0, 15, {"2 unknown currencies: XAA and XBB.", "1 currencies removed: XCC."}},
      {2, 10, {"2 unknown currencies were flagged: XAA and XBB.", "1 currencies were flagged as removed: XCC."}},
      {1, 15, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "UnknownCurrencies " << c.mode);
    live.unknownMode = c.mode;
    {
      std::lock_guard<std::mutex> l(engine.lock);
      engine.notices.clear();
    }
    reports.clear();
    idles = 0;
    RunUpdate();
    EXPECT_EQ(static_cast<FakeSettings&>(thread.GetCopy()).setRatesMode, c.setRatesMode);
    std::vector<std::string> texts;
    for (auto& n : engine.Notices()) {
      texts.push_back(n.text);
      EXPECT_EQ(n.caption, "Vantrex");
      EXPECT_EQ(n.type, kNotifyWarning);
      EXPECT_TRUE(n.collected);
    }
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(reports.front(), WM_VX_UPDATEDONE);
  }
}

TEST_F(UpdateThreadTest, AFailureToBringTheDatabaseInLineFailsTheRun) {
  live.setRatesResult = E_OUTOFMEMORY;
  RunUpdate();
  EXPECT_EQ(reports.front(), WM_VX_UPDATEFAILED);
  EXPECT_EQ(state.lastUpdateResult, E_OUTOFMEMORY);
  EXPECT_EQ(store.saveINIs, 0);
}

TEST_F(UpdateThreadTest, RecentlyInstalledCurrenciesAreAnnouncedOnce) {
  SetAppDword("RecentlyInstalled", 1);
  // Without new codes the value stays for the next run.
  RunUpdate();
  EXPECT_TRUE(engine.Notices().empty());
  EXPECT_TRUE(AppDwordExists("RecentlyInstalled"));

  live.newCodes = "XDD\tXEE";
  reports.clear();
  idles = 0;
  RunUpdate();
  auto notices = engine.Notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, "2 currencies are new: XDD and XEE.");
  EXPECT_FALSE(notices[0].collected);
  EXPECT_FALSE(AppDwordExists("RecentlyInstalled"));
  EXPECT_EQ(engine.archives.load(), 0);  // nothing collected, nothing archived

  reports.clear();
  idles = 0;
  RunUpdate();
  EXPECT_EQ(engine.Notices().size(), 1u);
}

}  // namespace
