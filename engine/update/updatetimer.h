// The server's scheduler: timer 1 starts automatic updates, timer 2 warns when the rates as a whole
// have not changed for too long, timer 3 when single currencies have not. It owns the update thread.
#pragma once
#include <cstdint>

#include "engine/update/updatehandover.h"
#include "engine/update/updatesettings.h"
#include "engine/update/updatethread.h"
#include "platform/messages.h"
#include "platform/types.h"

// The clock and the window timers the scheduler works with. The default is the system's; tests
// put their own in place to move time and to see what is armed.
class IScheduleClock {
 public:
  virtual ~IScheduleClock() = default;
  // The current UTC time; false when there is none to be had.
  virtual bool Now(FILETIME* now) = 0;
  virtual UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) = 0;
  virtual BOOL KillTimer(HWND hwnd, UINT_PTR id) = 0;
  // Queues a WM_TIMER for the id at once.
  virtual BOOL PostTimer(HWND hwnd, UINT_PTR id) = 0;
};

IScheduleClock& SystemScheduleClock();

namespace vtx::schedule {
// The longest a window timer waits; longer delays are armed in steps of this size.
constexpr uint64_t kMaxTimerMs = 0x7FFFFFFF;
// The least gap between updates when a source is one of the maker's rate hosts.
constexpr uint64_t kHulvaneMinimumMs = 900000;

// What timer 1 is set from; times in FILETIME units (0 = not set), limits in seconds.
struct UpdateInputs {
  uint64_t lastLoaded = 0, lastFailedAttempt = 0, expires = 0, now = 0;
  uint32_t updateAtLeast = 0, updateAtMost = 0;
  bool hulvaneSource = false;
};
// The delay of timer 1 in milliseconds (64 bits, never clamped), or -1 for "at once, nothing
// has ever been loaded or tried".
int64_t UpdateDelayMs(const UpdateInputs& in);

// What timer 2 (or 3) is set from; times in FILETIME units, limits in seconds.
struct LastChangeInputs {
  uint64_t lastChange = 0;  // t: the latest (timer 3: the oldest floating) last change
  uint64_t checked = 0, lastWarning = 0, reference = 0, now = 0;
  uint32_t maxSeconds = 0, warningPause = 0;
  bool noWeekendWarnings = false;
};
struct LastChangeDelay {
  int64_t seconds = 0;  // below 1: the check is due now
  bool warned = false;  // counted from the last warning, not from the last change
  uint64_t reference = 0;  // LastChangeReference after the arm
};
// Steps 2 to 7 of arming the staleness timer: the seconds until the warning is due.
LastChangeDelay LastChangeDelaySeconds(const LastChangeInputs& in);

// Days, hours, minutes and seconds of a duration (string 194).
struct Age {
  uint32_t days, hours, minutes, seconds;
};
Age SplitSeconds(uint64_t seconds);
}  // namespace vtx::schedule

class UpdateTimer : public IUpdateSchedule {
 public:
  static constexpr UINT kUpdateTimer = 1;
  static constexpr UINT kLastChangeTimer = 2;
  static constexpr UINT kLastChangeEachTimer = 3;
  static constexpr UINT kNoTimer = 0xFFFFFFFF;
  // How soon a staleness check that an update held up is tried again.
  static constexpr int64_t kBusyRetrySeconds = 60;

  // The update thread works on a settings copy of its own and runs its updates through `engine`,
  // which outlives this object.
  explicit UpdateTimer(IUpdateEngine& engine);
  ~UpdateTimer() override;
  UpdateTimer(const UpdateTimer&) = delete;
  UpdateTimer& operator=(const UpdateTimer&) = delete;

  // Null puts the system's clock back.
  void SetClock(IScheduleClock* clock) { m_clock = clock ? clock : &SystemScheduleClock(); }

  void Set(HMODULE resourceLibrary, UINT timerId, bool serviceFlag);
  void Kill(HWND hwnd);
  // Timer 1 fired: 1 when it was killed and an update may start now; 0 when scheduling is off,
  // the update thread is busy, or the timer fired only on the way to a delay longer than one
  // window timer can wait (it is then armed for the rest).
  int KillAndTestIdle(HWND hwnd);
  void SetLastAttempt(bool succeeded) override;
  // 0x8000FFFF while an update runs; else the failure of starting the thread, or PostUpdate's result.
  HRESULT StartUpdate(CUpdateSettings& settings, HWND hwnd, HICON icon);
  // Sets timer 1 for the next automatic update.
  void Schedule(CUpdateSettings& settings, HWND hwnd);

  void ArmLastChangeTimer(CUpdateSettings& settings, HWND hwnd);
  void CheckLastChange(CUpdateSettings& settings, HWND hwnd);
  void ArmLastChangeEachTimer(CUpdateSettings& settings, HWND hwnd);
  void CheckLastChangeEach(CUpdateSettings& settings, HWND hwnd);

  // The update thread reports idle (WM_VX_UPDATEIDLE): the notices that waited for the hand-over
  // go out, and timer 1 is set again when it fired while the thread was still busy.
  void OnUpdateIdle(CUpdateSettings& settings, HWND hwnd);

  bool IsBusy() const { return m_thread.IsBusy(); }
  bool CustomActionDue() const { return m_thread.IsCustomActionDue(); }
  CUpdateThread& GetThread() { return m_thread; }
  // Whether timer 1 is armed or its message queued.
  bool IsUpdateTimerPending() const { return m_updatePending; }
  FILETIME GetLastFailedAttempt() const { return m_lastFailedAttempt; }

  // The hand-over's view (IUpdateSchedule); settings other than CUpdateSettings are ignored.
  void Schedule(IUpdateSettings& settings, HWND hwnd) override;
  void ArmLastChangeTimer(IUpdateSettings& settings, HWND hwnd) override;
  void ArmLastChangeEachTimer(IUpdateSettings& settings, HWND hwnd) override;

 private:
  // Which staleness timer: 2 for the rates as a whole, 3 for single currencies.
  struct Staleness {
    UINT id;
    bool pending = false;
    bool stepped = false;  // armed for less than the whole delay
    uint64_t due = 0;
  };
  bool Now(uint64_t* now);
  void ArmUpdate(HWND hwnd, uint64_t delayMs, uint64_t now);
  void Arm(CUpdateSettings& settings, HWND hwnd, Staleness& which);
  // The check itself; false when the notice could not go out because an update runs.
  bool DoCheckLastChange(CUpdateSettings& settings, HWND hwnd);
  bool DoCheckLastChangeEach(CUpdateSettings& settings, HWND hwnd);
  HRESULT Notice(CUpdateSettings& settings, HWND hwnd, const char* text);

  CUpdateThread m_thread;
  IScheduleClock* m_clock;
  HMODULE m_resourceLibrary = nullptr;
  UINT m_timerId = kNoTimer;
  bool m_serviceFlag = false;
  FILETIME m_lastFailedAttempt{};
  bool m_updatePending = false;
  bool m_updateStepped = false;
  uint64_t m_updateDue = 0;
  Staleness m_lastChange{kLastChangeTimer};
  Staleness m_lastChangeEach{kLastChangeEachTimer};
};
