#include "engine/update/updatetimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/currency/ratesdata.h"
#include "engine/foundation/inidatabuffer.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/resources.h"
#include "platform/sync.h"
#include "platform/systime.h"
#include "tests/engine/update/ownerwindow.h"
#include "tests/support/dates.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"
#include "tests/support/storetest.h"

namespace {

using vtx::schedule::LastChangeDelaySeconds;
using vtx::schedule::LastChangeInputs;
using vtx::schedule::UpdateDelayMs;
using vtx::schedule::UpdateInputs;

using vtxtest::kSecond;
constexpr uint64_t kHour = 3600 * kSecond;
constexpr uint64_t kDay = 24 * kHour;

// A UTC wall time in FILETIME units.
uint64_t At(int y, int mo, int d, int h = 0, int mi = 0) { return FileTimeToU64(vtxtest::Utc(y, mo, d, h, mi)); }

// 2024-03-15 is a Friday.
const uint64_t kFriday = At(2024, 3, 15, 12);

// ---- the arithmetic ----

TEST(UpdateDelay, Cases) {
  struct Case {
    const char* what;
    UpdateInputs in;
    int64_t ms;
  };
  const uint64_t ten = At(2024, 3, 15, 10);
  const Case cases[] = {
      {"nothing loaded or tried: at once", {0, 0, 0, ten, 86400, 3600, false}, -1},
      {"failed at 10:00, UpdateAtMost 3600: not before 11:00", {ten - kDay, ten, 0, ten, 86400, 3600, false}, 3600000},
      {"half an hour after that failure", {ten - kDay, ten, 0, ten + kHour / 2, 86400, 3600, false}, 1800000},
      {"expires in 2 hours, UpdateAtLeast 3600, loaded now", {ten, 0, ten + 2 * kHour, ten, 3600, 60, false}, 3600000},
      {"expires in 2 hours within the limits", {ten, 0, ten + 2 * kHour, ten, 86400, 60, false}, 7200000},
      {"expired an hour ago, loaded 2 hours ago", {ten - 2 * kHour, 0, ten - kHour, ten, 86400, 60, false}, 0},
      {"UpdateAtMost 60 with the maker's host: 15 minutes", {ten, 0, 0, ten, 86400, 60, true}, 900000},
      {"UpdateAtMost 60 elsewhere", {ten, 0, 0, ten, 86400, 60, false}, 60000},
      {"UpdateAtMost 3600 with the maker's host stays", {ten, 0, 0, ten, 86400, 3600, true}, 3600000},
      {"loaded 2 days ago, UpdateAtLeast a day: overdue", {ten - 2 * kDay, 0, 0, ten, 86400, 3600, false}, 0},
      {"a later load counts over an older failure", {ten, ten - kHour, 0, ten, 86400, 3600, false}, 3600000},
      // 60 days: 5184000000 ms, which 32 bits would wrap to 889032704.
      {"60 days apart", {ten, 0, 0, ten, 5184000, 5184000, false}, 5184000000},
      {"expiry 100 days ahead, UpdateAtLeast 90 days", {ten, 0, ten + 100 * kDay, ten, 7776000, 3600, false},
       7776000000},
  };
  for (const Case& c : cases) EXPECT_EQ(UpdateDelayMs(c.in), c.ms) << c.what;
}

TEST(LastChangeDelay, WeekendRuleAndPause) {
  struct Case {
    const char* what;
    LastChangeInputs in;
    int64_t seconds;
    bool warned;
  };
  const uint64_t saturday = At(2024, 3, 16, 10), monday = At(2024, 3, 18, 9);
  const Case cases[] = {
      {"Friday 12:00 + 91200 s with the rule: Monday 13:20", {kFriday, 0, 0, 1, kFriday, 91200, 86400, true},
       264000, false},
      {"without the rule: Saturday 13:20", {kFriday, 0, 0, 1, kFriday, 91200, 86400, false}, 91200, false},
      {"an hour later, with the rule", {kFriday, 0, 0, 1, kFriday + kHour, 91200, 86400, true}, 264000 - 3600, false},
      {"from Saturday 10:00: Monday 00:00 + 91200 s", {saturday, 0, 0, 1, saturday, 91200, 86400, true},
       136800 + 91200, false},
      {"Monday 09:00 + 1 hour: no weekend in between", {monday, 0, 0, 1, monday, 3600, 86400, true}, 3600, false},
      {"Friday 12:00 + 6 hours: before the weekend", {kFriday, 0, 0, 1, kFriday, 21600, 86400, true}, 21600, false},
      {"the deadline passed on Tuesday", {kFriday, 0, 0, 1, kFriday + 4 * kDay, 91200, 86400, true}, -81600, false},
      {"warned 10 hours ago: the rest of the pause",
       {kFriday, kFriday, kFriday + 30 * kHour, 1, kFriday + 40 * kHour, 91200, 86400, true}, 86400 - 36000, true},
      {"a check stored with a fraction of a second still matches the change read back without it",
       {kFriday, kFriday + kSecond / 2, kFriday + 30 * kHour, 1, kFriday + 40 * kHour, 91200, 86400, true},
       86400 - 36000, true},
      {"a warning older than the change does not count",
       {kFriday, kFriday, kFriday - kHour, 1, kFriday, 91200, 86400, false}, 91200, false},
      {"changed since the last check: counted from the change",
       {kFriday, kFriday - kDay, kFriday + kHour, 1, kFriday + kHour, 3600, 86400, false}, 0, false},
      {"never changed: from the reference", {0, 0, 0, kFriday - kHour, kFriday, 7200, 86400, false}, 3600, false},
      // 60 days: the weekend after the change counts once.
      {"60 days", {monday, 0, 0, 1, monday, 5184000, 86400, true}, 5184000 + 172800, false},
  };
  for (const Case& c : cases) {
    auto d = LastChangeDelaySeconds(c.in);
    EXPECT_EQ(d.seconds, c.seconds) << c.what;
    EXPECT_EQ(d.warned, c.warned) << c.what;
  }
  LastChangeInputs fresh{0, 0, 0, 0, kFriday, 60, 60, false};
  EXPECT_EQ(LastChangeDelaySeconds(fresh).reference, kFriday) << "watching begins now";
}

// ---- the scheduler on real settings, with a clock the test moves ----

class FakeClock : public IScheduleClock {
 public:
  bool Now(FILETIME* now) override {
    *now = U64ToFileTime(time);
    return ok;
  }
  UINT_PTR SetTimer(HWND, UINT_PTR id, UINT ms) override {
    timers[id] = ms;
    return id;
  }
  BOOL KillTimer(HWND, UINT_PTR id) override { return timers.erase(id) ? TRUE : FALSE; }
  BOOL PostTimer(HWND, UINT_PTR id) override {
    posted.push_back(id);
    return TRUE;
  }
  bool Armed(UINT id) const { return timers.count(id) != 0; }
  uint64_t Ms(UINT id) const { return timers.count(id) ? timers.at(id) : 0; }

  uint64_t time = kFriday;
  bool ok = true;
  std::map<UINT_PTR, UINT> timers;
  std::vector<UINT_PTR> posted;
};

class Engine : public IUpdateEngine {
 public:
  HRESULT UpdateRun(CUpdateThread& t) override {
    ++runs;
    if (onRun) onRun(dynamic_cast<CUpdateSettings&>(t.GetSettings()).Get());
    if (hold) hold->Wait();
    return result;
  }
  HRESULT CheckDefinitions(CUpdateThread&, const char*) override { return S_OK; }
  void Notify(CUpdateThread&, HWND, const char* text, const char* caption, UINT type, HMODULE) override {
    std::lock_guard<std::mutex> l(lock);
    notices.push_back(std::string(caption) + "|" + text);
    EXPECT_EQ(type, 0x10030u);
  }
  void ArchiveRun(CUpdateThread&) override {}
  void HangUp(const IUpdateSettings&) override {}

  std::vector<std::string> Notices() {
    std::lock_guard<std::mutex> l(lock);
    return notices;
  }

  // A gate the run waits at.
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    void Wait() {
      std::unique_lock<std::mutex> l(m);
      cv.wait(l, [&] { return open; });
    }
    void Open() {
      std::lock_guard<std::mutex> l(m);
      open = true;
      cv.notify_all();
    }
  };

  std::atomic<int> runs{0};
  HRESULT result = S_OK;
  Gate* hold = nullptr;
  std::function<void(CSettings&)> onRun;  // on the thread's copy
  std::mutex lock;
  std::vector<std::string> notices;
};

class UpdateTimerTest : public vtxtest::PrivateStoreTest {
 protected:
  void SetUp() override {
    PrivateStoreTest::SetUp();
    module = LoadLibraryA((vtxtest::SourcePath("resources/0409/vantrex.cat")).c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(live.Get().Create(module));
    d().Rates->Active.Empty();
    d().AutoUpdate = 1;
    d().UpdateAtLeast = 86400;
    d().UpdateAtMost = 3600;
    d().LastChangeMaxSeconds = 91200;
    d().LastChangeWarningPause = 86400;
    d().LastChangeEachMaxSeconds = 0;
    d().LastChangeNoWeekendWarnings = 1;
    timer.SetClock(&clock);
    timer.Set(module, UpdateTimer::kUpdateTimer, false);
  }
  void TearDown() override {
    timer.GetThread().Stop(INFINITE);
    FreeLibrary(module);
    PrivateStoreTest::TearDown();
  }
  CSettingsData& d() { return *live.Get().GetData(); }
  void Add(const char* code, double rate, uint64_t lastChange) {
    CurrencyInfo rec;
    ASSERT_TRUE(live.Get().InitCurrencyInfo(rec, code));
    rec.dRate = rate;
    rec.ftLastChange = U64ToFileTime(lastChange);
    ASSERT_NE(live.Get().Add(rec), nullptr);
  }
  // Timer 2 or 3 fires, as the command window handles it.
  void Fire(UINT id) {
    if (id == UpdateTimer::kLastChangeTimer) {
      timer.CheckLastChange(live, hwnd);
      timer.ArmLastChangeTimer(live, hwnd);
    } else {
      timer.CheckLastChangeEach(live, hwnd);
      timer.ArmLastChangeEachTimer(live, hwnd);
    }
  }

  HMODULE module = nullptr;
  FakeClock clock;
  Engine engine;
  UpdateTimer timer{engine};
  CUpdateSettings live;
  HWND hwnd = nullptr;
};

TEST_F(UpdateTimerTest, AutoUpdateOffSetsNoTimerAndKillsTheOldOne) {
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.posted, std::vector<UINT_PTR>{1}) << "nothing loaded or tried yet: at once";
  clock.posted.clear();
  d().Rates->LastLoaded = U64ToFileTime(clock.time);
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 3600000u);
  d().AutoUpdate = 0;
  timer.Schedule(live, hwnd);
  EXPECT_FALSE(clock.Armed(1));
  EXPECT_TRUE(clock.posted.empty());
  EXPECT_FALSE(timer.IsUpdateTimerPending());
}

TEST_F(UpdateTimerTest, SchedulingAfterSuccessAndAfterFailure) {
  // A success: new data loaded now, the next update an UpdateAtMost later.
  d().Rates->LastLoaded = U64ToFileTime(clock.time);
  timer.SetLastAttempt(true);
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 3600000u);
  // An hour and a half later the automatic update fails: again not before UpdateAtMost.
  clock.time += 3 * kHour / 2;
  timer.SetLastAttempt(false);
  EXPECT_EQ(FileTimeToU64(timer.GetLastFailedAttempt()), clock.time);
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 3600000u);
  // The next success clears the failure: counted from the load again.
  clock.time += kHour;
  d().Rates->LastLoaded = U64ToFileTime(clock.time - kHour / 2);
  timer.SetLastAttempt(true);
  EXPECT_EQ(FileTimeToU64(timer.GetLastFailedAttempt()), 0u);
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 1800000u);
}

TEST_F(UpdateTimerTest, MakersHostKeepsFifteenMinutes) {
  d().UpdateAtMost = 60;
  d().Rates->LastLoaded = U64ToFileTime(clock.time);
  d().Sources.Empty();
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 60000u);
  auto* source = new CDataSource;
  ASSERT_TRUE(source->SetURL("http://rates.hulvane.com/eur.txt"));
  ASSERT_TRUE(d().Sources.Add(source));
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 900000u);
}

TEST_F(UpdateTimerTest, NoClockNoTimer) {
  d().Rates->LastLoaded = U64ToFileTime(clock.time);
  clock.ok = false;
  timer.Schedule(live, hwnd);
  EXPECT_FALSE(clock.Armed(1));
  EXPECT_TRUE(clock.posted.empty());
}

TEST_F(UpdateTimerTest, LongDelaysAreArmedInStepsAndStartOnlyWhenDue) {
  d().UpdateAtMost = d().UpdateAtLeast = 60 * 86400;
  d().Rates->LastLoaded = U64ToFileTime(clock.time);
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 0x7FFFFFFFu);
  // The first step ends: no update yet, the rest is armed.
  clock.time += 0x7FFFFFFFull * 10000;
  EXPECT_EQ(timer.KillAndTestIdle(hwnd), 0);
  EXPECT_EQ(clock.Ms(1), 0x7FFFFFFFu);
  clock.time += 0x7FFFFFFFull * 10000;
  EXPECT_EQ(timer.KillAndTestIdle(hwnd), 0);
  EXPECT_EQ(clock.Ms(1), 5184000000u - 2ull * 0x7FFFFFFFu);
  clock.time += (5184000000u - 2ull * 0x7FFFFFFFu) * 10000;
  EXPECT_EQ(timer.KillAndTestIdle(hwnd), 1);
  EXPECT_FALSE(clock.Armed(1));
}

TEST_F(UpdateTimerTest, NoTimerIdMeansNoScheduling) {
  timer.Set(module, UpdateTimer::kNoTimer, false);
  timer.Schedule(live, hwnd);
  EXPECT_TRUE(clock.posted.empty());
  EXPECT_TRUE(clock.timers.empty());
  EXPECT_EQ(timer.KillAndTestIdle(hwnd), 0);
  timer.Set(module, 0xFFFFFFFE, false);
  EXPECT_EQ(timer.KillAndTestIdle(hwnd), 0);
}

TEST_F(UpdateTimerTest, AReloadAfterALockedConfigurationTakesTheNewSchedule) {
  d().Rates->LastLoaded = U64ToFileTime(clock.time - kHour);
  timer.SetLastAttempt(false);  // an update failed just now
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 3600000u);
  ASSERT_EQ(live.Get().Save(), S_OK);

  // The configuration session changes the schedule in the store while the server is locked.
  {
    CSettings manager;
    ASSERT_TRUE(manager.Create(module));
    manager.GetData()->UpdateAtMost = 7200;
    ASSERT_EQ(manager.Save(), S_OK);
  }
  clock.time += kHour / 2;
  // Unlocked with a reload: the failure is still the base, the new UpdateAtMost counts.
  live.Get().Load(false);
  timer.Schedule(live, hwnd);
  EXPECT_EQ(clock.Ms(1), 7200000u - 1800000u);
  {
    CSettings manager;
    ASSERT_TRUE(manager.Create(module));
    manager.GetData()->AutoUpdate = 0;
    ASSERT_EQ(manager.Save(), S_OK);
  }
  live.Get().Load(false);
  timer.Schedule(live, hwnd);
  EXPECT_FALSE(clock.Armed(1));
}

TEST_F(UpdateTimerTest, AnUpdateThatCannotStartIsAFailedAttemptAndScheduledAgain) {
  d().Rates->LastLoaded = U64ToFileTime(clock.time - kDay);
  ASSERT_EQ(timer.GetThread().Start(module, false), S_OK);
  ASSERT_EQ(timer.KillAndTestIdle(hwnd), 1);
  vtx::heap::FailAfter(0);  // the settings copy for the thread fails
  HRESULT hr = timer.StartUpdate(live, hwnd, nullptr);
  vtx::heap::FailAfter(-1);
  EXPECT_EQ(hr, E_OUTOFMEMORY);
  EXPECT_EQ(FileTimeToU64(timer.GetLastFailedAttempt()), clock.time);
  EXPECT_EQ(clock.Ms(1), 3600000u) << "automatic updates go on";
}

// ---- staleness warnings ----

TEST_F(UpdateTimerTest, FridayNoonWarnsMondayAt1320AndThenAfterThePause) {
  Add("USD", 1.08, kFriday);
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_EQ(clock.Ms(2), 264000000u);
  EXPECT_EQ(FileTimeToU64(d().LastChangeChecked), kFriday);

  clock.time = At(2024, 3, 18, 13, 20);
  Fire(2);
  ASSERT_EQ(engine.Notices().size(), 1u);
  EXPECT_EQ(engine.Notices()[0], "Vantrex|The exchange rates have not changed for 3 days, one hour and 20 minutes.");
  EXPECT_EQ(FileTimeToU64(d().LastChangeLastWarning), clock.time);
  EXPECT_EQ(clock.Ms(2), 86400000u) << "the warning pause";

  // Ten hours into the pause the server restarts: the rest of the pause.
  clock.time += 10 * kHour;
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_EQ(clock.Ms(2), (86400u - 36000u) * 1000u);
  clock.time += 14 * kHour;
  Fire(2);
  EXPECT_EQ(engine.Notices().size(), 2u);
  EXPECT_EQ(clock.Ms(2), 86400000u);
}

TEST_F(UpdateTimerTest, TheWarningPauseOutlivesARestartOnStoredRates) {
  d().LastChangeMaxSeconds = 60;
  d().LastChangeNoWeekendWarnings = 0;
  // A fresh download sets the last change to the time of the load, which the store keeps in text.
  CIniDataBuffer<char> ini;
  ASSERT_TRUE(ini.SetBuffer("[EUR]\r\nUSD = 1.0856\r\n"));
  ASSERT_EQ(ini.Load(g_IniTable, kIniTableCount), S_OK);
  live.Get().LoadINIBegin();
  ASSERT_EQ(live.Get().LoadINI(ini, nullptr, nullptr, false), S_OK);
  live.Get().LoadINIEnd();
  FILETIME loaded;
  GetSystemTimeAsFileTime(&loaded);
  clock.time = FileTimeToU64(loaded) + 2 * kHour + kSecond / 3;
  timer.ArmLastChangeTimer(live, hwnd);
  ASSERT_EQ(engine.Notices().size(), 1u) << "overdue: warned at once";
  ASSERT_EQ(live.Get().Save(), S_OK);

  for (int restart = 0; restart < 2; ++restart) {
    clock.time += kHour;
    CUpdateSettings again;
    ASSERT_TRUE(again.Get().Create(module));
    ASSERT_EQ(again.Get().GetRates().Active.GetCount(), 1u);
    timer.ArmLastChangeTimer(again, hwnd);
    EXPECT_EQ(engine.Notices().size(), 1u) << "restart " << restart << ": still within the pause";
    EXPECT_EQ(clock.Ms(2), (86400u - 3600u * (restart + 1u)) * 1000u);
    ASSERT_EQ(again.Get().Save(), S_OK);
  }
}

TEST_F(UpdateTimerTest, ChangedRatesRestartTheWatchWithoutAWarning) {
  Add("USD", 1.08, kFriday - kDay);  // Thursday noon
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_EQ(clock.Ms(2), (91200u - 86400u) * 1000u);
  // A new rate arrives before the timer fires.
  clock.time += kHour;
  live.Get().GetRates()[0]->ftLastChange = U64ToFileTime(clock.time);
  Fire(2);
  EXPECT_TRUE(engine.Notices().empty());
  EXPECT_EQ(FileTimeToU64(d().LastChangeChecked), clock.time);
  EXPECT_EQ(clock.Ms(2), 264000000u);
}

TEST_F(UpdateTimerTest, AnOverdueCheckWarnsAtOnce) {
  d().LastChangeNoWeekendWarnings = 0;
  Add("USD", 1.08, kFriday - 2 * kDay);
  timer.ArmLastChangeTimer(live, hwnd);
  ASSERT_EQ(engine.Notices().size(), 1u);
  EXPECT_NE(engine.Notices()[0].find("2 days"), std::string::npos) << engine.Notices()[0];
  EXPECT_EQ(clock.Ms(2), 86400000u);
  d().LastChangeWarningPause = 0;
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_FALSE(clock.Armed(2)) << "no pause: no timer after the warning";
}

TEST_F(UpdateTimerTest, NeverSetRatesAndConstantRates) {
  d().LastChangeMaxSeconds = 60;
  Add("USD", 1.08, 0);
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_EQ(clock.Ms(2), 60000u);
  clock.time += 60 * kSecond;
  Fire(2);
  ASSERT_EQ(engine.Notices().size(), 1u);
  EXPECT_EQ(engine.Notices()[0], "Vantrex|The exchange rates have never been set.");

  // Only currencies fixed to the euro: nothing to warn about.
  live.Get().GetRates().Active.Empty();
  Add("DEM", 1.95583, kFriday - 10 * kDay);
  d().LastChangeLastWarning = FILETIME{};
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_EQ(engine.Notices().size(), 1u);
}

TEST_F(UpdateTimerTest, ALimitOfSixtyDaysWarnsOnlyWhenDue) {
  d().LastChangeMaxSeconds = 60 * 86400;
  d().LastChangeNoWeekendWarnings = 0;
  Add("USD", 1.08, kFriday);
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_EQ(clock.Ms(2), 0x7FFFFFFFu);
  for (int step = 0; step < 2; ++step) {
    clock.time += 0x7FFFFFFFull * 10000;
    Fire(2);
    EXPECT_TRUE(engine.Notices().empty()) << "step " << step;
  }
  // The rest in whole seconds, rounded up: never early.
  EXPECT_EQ(clock.Ms(2), 889033000u);
  clock.time = kFriday + 60 * kDay;
  Fire(2);
  ASSERT_EQ(engine.Notices().size(), 1u);
  EXPECT_EQ(engine.Notices()[0], "Vantrex|The exchange rates have not changed for 60 days.");
}

TEST_F(UpdateTimerTest, NoLimitNoTimer) {
  clock.timers[2] = 5;
  d().LastChangeMaxSeconds = 0;
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_FALSE(clock.Armed(2));
}

TEST_F(UpdateTimerTest, TimerThreeIsNotArmedWhenItsLimitEqualsTimerTwos) {
  Add("USD", 1.08, kFriday);
  clock.timers[3] = 5;
  d().LastChangeEachMaxSeconds = d().LastChangeMaxSeconds;
  timer.ArmLastChangeEachTimer(live, hwnd);
  EXPECT_FALSE(clock.Armed(3));
  d().LastChangeEachMaxSeconds = 0;
  timer.ArmLastChangeEachTimer(live, hwnd);
  EXPECT_FALSE(clock.Armed(3));
  d().LastChangeEachMaxSeconds = 3600;
  d().LastChangeNoWeekendWarnings = 0;
  timer.ArmLastChangeEachTimer(live, hwnd);
  EXPECT_EQ(clock.Ms(3), 3600000u);
  EXPECT_EQ(FileTimeToU64(d().LastChangeEachChecked), kFriday);
}

TEST_F(UpdateTimerTest, SingleStaleAndNeverSetCurrencies) {
  d().LastChangeEachMaxSeconds = 3600;
  d().LastChangeNoWeekendWarnings = 0;
  Add("USD", 1.08, kFriday - 5 * kHour);
  Add("JPY", 160.0, kFriday);
  Add("GBP", 0.0, kFriday);
  Add("DEM", 1.95583, kFriday - 10 * kDay);  // fixed: never stale
  timer.ArmLastChangeEachTimer(live, hwnd);
  std::vector<std::string> n = engine.Notices();
  ASSERT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0].rfind("Vantrex|1 exchange rates have not changed for at least 5 hours: USD", 0), 0u) << n[0];
  EXPECT_EQ(n[1].rfind("Vantrex|1 currencies have no exchange rate yet: GBP", 0), 0u) << n[1];
  EXPECT_EQ(FileTimeToU64(d().LastChangeEachLastWarning), clock.time);
  EXPECT_EQ(clock.Ms(3), 86400000u);
}

TEST_F(UpdateTimerTest, AllStaleIsLeftToTimerTwoUnlessItIsOff) {
  d().LastChangeEachMaxSeconds = 3600;
  d().LastChangeNoWeekendWarnings = 0;
  Add("USD", 1.08, kFriday - 5 * kHour);
  timer.CheckLastChangeEach(live, hwnd);
  EXPECT_TRUE(engine.Notices().empty());
  d().LastChangeMaxSeconds = 0;
  timer.CheckLastChangeEach(live, hwnd);
  ASSERT_EQ(engine.Notices().size(), 1u);
  EXPECT_EQ(engine.Notices()[0], "Vantrex|No floating exchange rate has changed for 5 hours.");
  Add("GBP", 0.0, 0);
  live.Get().GetRates()[0]->dRate = 0.0;
  timer.CheckLastChangeEach(live, hwnd);
  ASSERT_EQ(engine.Notices().size(), 2u);
  EXPECT_EQ(engine.Notices()[1], "Vantrex|No currency has an exchange rate yet.");
}

// ---- with the update thread and a real command window ----

class UpdateTimerWindowTest : public UpdateTimerTest {
 protected:
  void SetUp() override {
    UpdateTimerTest::SetUp();
    timer.SetClock(nullptr);  // real timers and the system time
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = "UpdateTimerTestWindow";
    RegisterClassA(&wc);
    hwnd = CreateWindowExA(0, "UpdateTimerTestWindow", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    state.settings = &live;
    state.thread = &timer.GetThread();
    state.schedule = &timer;
    state.hwnd = hwnd;
    state.resourceLibrary = module;
  }
  void TearDown() override {
    timer.Kill(hwnd);
    timer.GetThread().Stop(INFINITE);
    DestroyWindow(hwnd);
    UnregisterClassA("UpdateTimerTestWindow", nullptr);
    UpdateTimerTest::TearDown();
  }
  // The command window's handling of timer 1 and the thread's reports.
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<UpdateTimerWindowTest*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return 0;
    if (msg == WM_TIMER && w == UpdateTimer::kUpdateTimer) {
      if (self->timer.KillAndTestIdle(hwnd)) self->timer.StartUpdate(self->live, hwnd, nullptr);
      return 0;
    }
    if (msg == WM_VX_UPDATEIDLE) {
      ++self->idles;
      self->timer.OnUpdateIdle(self->live, hwnd);
      return 0;
    }
    LRESULT r = 0;
    if (HandleUpdateReport(self->state, msg, w, l, &r) && msg == WM_VX_UPDATEDONE && self->onDone) self->onDone();
    return r;
  }
  // Pumps the window's messages until `done` or about 10 seconds.
  template <class F>
  void Pump(F done) {
    MSG m;
    for (int i = 0; i < 2000 && !done(); ++i) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
  }

  UpdateServerState state;
  std::function<void()> onDone;
  int idles = 0;
};

TEST_F(UpdateTimerWindowTest, TimerOneFiringDuringTheHandOverIsNotLost) {
  d().UpdateAtMost = 0;  // the next update is due at once after each result
  onDone = [&] {
    // The queued timer 1 message is taken while the thread is still handing its result over.
    MSG m;
    if (engine.runs == 1 && PeekMessageA(&m, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE)) {
      EXPECT_TRUE(timer.IsBusy());
      DispatchMessageA(&m);
      EXPECT_FALSE(timer.IsUpdateTimerPending());
    }
  };
  engine.onRun = [&](CSettings& copy) {
    if (engine.runs >= 2) copy.GetData()->AutoUpdate = 0;
  };
  timer.Schedule(live, hwnd);
  Pump([&] { return engine.runs >= 2 && idles >= 2; });
  EXPECT_EQ(engine.runs.load(), 2) << "the second update came from the timer rescheduled at idle";
  EXPECT_EQ(idles, 2);
}

TEST_F(UpdateTimerWindowTest, StartUpdateWhileBusyAndWarningsHeldUpByAnUpdate) {
  Engine::Gate gate;
  engine.hold = &gate;
  d().AutoUpdate = 0;
  Add("USD", 1.08, kFriday);
  d().LastChangeChecked = U64ToFileTime(kFriday);
  ASSERT_EQ(timer.StartUpdate(live, hwnd, nullptr), S_OK);
  Pump([&] { return engine.runs == 1; });
  ASSERT_TRUE(timer.IsBusy());
  EXPECT_EQ(timer.StartUpdate(live, hwnd, nullptr), static_cast<HRESULT>(0x8000FFFF));

  // Timer 2 is due while the update runs: the notice is refused, so no pause starts.
  FakeClock fake;
  fake.time = At(2024, 3, 18, 13, 20);
  timer.SetClock(&fake);
  timer.ArmLastChangeTimer(live, hwnd);
  EXPECT_TRUE(engine.Notices().empty());
  EXPECT_EQ(FileTimeToU64(d().LastChangeLastWarning), 0u);
  EXPECT_EQ(fake.Ms(2), 60000u) << "tried again soon";
  timer.SetClock(nullptr);

  gate.Open();
  Pump([&] { return !timer.IsBusy() && idles >= 1; });
  // The result re-armed timer 2 during the hand-over: the warning went out after the run.
  EXPECT_EQ(engine.Notices().size(), 1u);
}

}  // namespace
