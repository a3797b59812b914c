#include "engine/update/updatetimer.h"

#include <string>

#include "engine/foundation/resourcelib.h"
#include "engine/foundation/timetext.h"
#include "engine/update/inetconnection.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/resources.h"
#include "platform/systime.h"

namespace {

constexpr uint64_t kUnitsPerMs = 10000;
constexpr int64_t kDay = 86400;
constexpr int64_t kWeekend = 2 * kDay;
constexpr UINT kCaption = 32;
constexpr UINT kSeparator = 96, kLastSeparator = 97;
constexpr UINT kTextStale = 193, kTextAge = 194, kTextNeverSet = 195;
constexpr UINT kTextAllStale = 207, kTextSomeStale = 230;
constexpr UINT kTextSomeNeverSet = 472, kTextAllNeverSet = 473;
constexpr HRESULT kUnexpected = static_cast<HRESULT>(0x8000FFFF);

// Whole seconds from `from` to `to`, negative when `from` is later.
int64_t SecondsBetween(uint64_t from, uint64_t to) {
  return to >= from ? static_cast<int64_t>((to - from) / kFileTimeTicksPerSecond)
                    : -static_cast<int64_t>((from - to) / kFileTimeTicksPerSecond);
}

struct LocalText {
  char* p = nullptr;
  ~LocalText() {
    if (p) LocalFree(p);
  }
};
struct GlobalText {
  char* p = nullptr;
  ~GlobalText() {
    if (p) GlobalFree(p);
  }
};

class SystemClock : public IScheduleClock {
 public:
  bool Now(FILETIME* now) override {
    SYSTEMTIME st;
    GetSystemTime(&st);
    return SystemTimeToFileTime(&st, now) != FALSE;
  }
  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) override { return ::SetTimer(hwnd, id, elapseMs, nullptr); }
  BOOL KillTimer(HWND hwnd, UINT_PTR id) override { return ::KillTimer(hwnd, id); }
  BOOL PostTimer(HWND hwnd, UINT_PTR id) override { return PostMessageA(hwnd, WM_TIMER, id, 0); }
};

// String 194 of a duration, its items joined; null when a string is missing.
char* AgeText(HMODULE module, uint64_t seconds) {
  vtx::schedule::Age a = vtx::schedule::SplitSeconds(seconds);
  LocalText items{PrintFormatMessageNum(kTextAge, module, a.days, a.hours, a.minutes, a.seconds)};
  if (!items.p) return nullptr;
  return FormatItems(items.p, kSeparator, kLastSeparator, module);
}

}  // namespace

IScheduleClock& SystemScheduleClock() {
  static SystemClock clock;
  return clock;
}

namespace vtx::schedule {

int64_t UpdateDelayMs(const UpdateInputs& in) {
  uint64_t base = 0;
  if (in.lastLoaded && in.lastFailedAttempt)
    base = in.lastFailedAttempt >= in.lastLoaded ? in.lastFailedAttempt : in.lastLoaded;
  else
    base = in.lastLoaded ? in.lastLoaded : in.lastFailedAttempt;

  uint64_t delay = 0;
  if (in.expires)
    delay = in.expires >= in.now ? (in.expires - in.now) / kUnitsPerMs : 0;
  else if (!base)
    return -1;
  const uint64_t elapsed = base && base <= in.now ? (in.now - base) / kUnitsPerMs : 0;

  uint64_t minimum = static_cast<uint64_t>(in.updateAtMost) * 1000;
  if (minimum < kHulvaneMinimumMs && in.hulvaneSource) minimum = kHulvaneMinimumMs;
  const uint64_t maximum = static_cast<uint64_t>(in.updateAtLeast) * 1000;

  const uint64_t total = elapsed + delay;
  if (total < minimum) delay += minimum - total;
  if (total > maximum) {
    const uint64_t over = total - maximum;
    delay = over < delay ? delay - over : 0;
  }
  return static_cast<int64_t>(delay);
}

LastChangeDelay LastChangeDelaySeconds(const LastChangeInputs& in) {
  LastChangeDelay out;
  out.reference = in.reference ? in.reference : in.now;
  uint64_t base = in.lastChange ? in.lastChange : out.reference;
  // Compared in whole seconds: last changes come back from the stored rates without a fraction,
  // and a check stored before they were cut keeps one.
  if (SameSecond(in.lastChange, in.checked) && in.lastWarning && in.lastWarning > base) {
    base = in.lastWarning;
    out.warned = true;
  }
  const int64_t elapsed = SecondsBetween(base, in.now);
  if (out.warned) {
    out.seconds = static_cast<int64_t>(in.warningPause) - elapsed;
    return out;
  }
  const int64_t limit = static_cast<int64_t>(in.maxSeconds) - elapsed;
  const int64_t weekend = in.noWeekendWarnings ? kWeekend : 0;
  // 1 January 1601 was a Monday; days of the week run Sunday 0 to Saturday 6.
  const int64_t baseSeconds = static_cast<int64_t>(base / kFileTimeTicksPerSecond);
  const int64_t dayOfWeek = (baseSeconds / kDay + 1) % 7;
  const int64_t daysToMonday = dayOfWeek == 0 ? 1 : 8 - dayOfWeek;
  const int64_t toMonday = daysToMonday * kDay - baseSeconds % kDay - elapsed;  // from now
  const int64_t weekendStart = toMonday - weekend;
  if (weekendStart <= limit) {
    // The deadline falls after the weekend began: move it by the part of the weekend after base.
    const int64_t from = weekendStart > -elapsed ? weekendStart : -elapsed;
    out.seconds = toMonday - from + limit;
  } else {
    out.seconds = limit;
  }
  return out;
}

Age SplitSeconds(uint64_t seconds) {
  Age a;
  a.days = static_cast<uint32_t>(seconds / 86400 > 0xFFFFFFFFu ? 0xFFFFFFFFu : seconds / 86400);
  a.hours = static_cast<uint32_t>(seconds / 3600 % 24);
  a.minutes = static_cast<uint32_t>(seconds / 60 % 60);
  a.seconds = static_cast<uint32_t>(seconds % 60);
  return a;
}

}  // namespace vtx::schedule

UpdateTimer::UpdateTimer(IUpdateEngine& engine)
    : m_thread(std::make_unique<CUpdateSettings>(), engine), m_clock(&SystemScheduleClock()) {}

UpdateTimer::~UpdateTimer() = default;

void UpdateTimer::Set(HMODULE resourceLibrary, UINT timerId, bool serviceFlag) {
  m_resourceLibrary = resourceLibrary;
  m_timerId = timerId;
  m_serviceFlag = serviceFlag;
}

bool UpdateTimer::Now(uint64_t* now) {
  FILETIME t;
  if (!m_clock->Now(&t)) return false;
  *now = FileTimeToU64(t);
  return true;
}

void UpdateTimer::Kill(HWND hwnd) {
  if (m_timerId == kNoTimer) return;
  m_clock->KillTimer(hwnd, m_timerId);
  m_updatePending = false;
  m_updateStepped = false;
}

int UpdateTimer::KillAndTestIdle(HWND hwnd) {
  if (m_timerId >= 0xFFFFFFFE) return 0;
  uint64_t now;
  if (m_updatePending && m_updateStepped && Now(&now) && now < m_updateDue) {
    ArmUpdate(hwnd, (m_updateDue - now) / kUnitsPerMs, now);
    return 0;
  }
  m_clock->KillTimer(hwnd, m_timerId);
  m_updatePending = false;
  m_updateStepped = false;
  return m_thread.IsBusy() ? 0 : 1;
}

void UpdateTimer::SetLastAttempt(bool succeeded) {
  if (succeeded) {
    m_lastFailedAttempt = FILETIME{};
    return;
  }
  uint64_t now;
  if (Now(&now)) m_lastFailedAttempt = U64ToFileTime(now);
}

HRESULT UpdateTimer::StartUpdate(CUpdateSettings& settings, HWND hwnd, HICON icon) {
  HRESULT hr = m_thread.Start(m_resourceLibrary, m_serviceFlag);
  if (SUCCEEDED(hr)) {
    if (m_thread.IsBusy()) return kUnexpected;
    hr = m_thread.PostUpdate(settings, hwnd, icon, false);
  }
  // No run means no result to schedule the next one from: without this the automatic updates
  // would stop for good.
  if (FAILED(hr) && hr != E_BUSY && !m_updatePending) {
    SetLastAttempt(false);
    Schedule(settings, hwnd);
  }
  return hr;
}

void UpdateTimer::ArmUpdate(HWND hwnd, uint64_t delayMs, uint64_t now) {
  m_updateDue = now + delayMs * kUnitsPerMs;
  m_updateStepped = delayMs > vtx::schedule::kMaxTimerMs;
  const uint64_t step = m_updateStepped ? vtx::schedule::kMaxTimerMs : delayMs;
  m_updatePending = m_clock->SetTimer(hwnd, m_timerId, static_cast<UINT>(step)) != 0;
}

void UpdateTimer::Schedule(CUpdateSettings& settings, HWND hwnd) {
  if (m_timerId != kNoTimer) {
    m_clock->KillTimer(hwnd, m_timerId);
    m_updatePending = false;
    m_updateStepped = false;
  }
  const CSettingsData* d = settings.Get().GetData();
  if (!d || !d->AutoUpdate || m_timerId == kNoTimer) return;
  vtx::schedule::UpdateInputs in;
  if (!Now(&in.now)) return;
  in.lastLoaded = FileTimeToU64(d->Rates->LastLoaded);
  in.lastFailedAttempt = FileTimeToU64(m_lastFailedAttempt);
  in.expires = FileTimeToU64(d->Rates->Expires);
  in.updateAtLeast = d->UpdateAtLeast;
  in.updateAtMost = d->UpdateAtMost;
  in.hulvaneSource = settings.Get().HasHulvaneDataSource(IsHulvaneURL);
  const int64_t delay = vtx::schedule::UpdateDelayMs(in);
  if (delay <= 0) {
    m_updatePending = m_clock->PostTimer(hwnd, m_timerId) != FALSE;
    return;
  }
  ArmUpdate(hwnd, static_cast<uint64_t>(delay), in.now);
}

void UpdateTimer::OnUpdateIdle(CUpdateSettings& settings, HWND hwnd) {
  if (m_thread.IsBusy()) return;
  m_thread.SendDeferredNotices(settings);
  // Timer 1 fired while the run was still handing its result over and found the thread busy.
  if (!m_updatePending) Schedule(settings, hwnd);
}

// ---- staleness ----

void UpdateTimer::Arm(CUpdateSettings& settings, HWND hwnd, Staleness& which) {
  m_clock->KillTimer(hwnd, which.id);
  which.pending = false;
  which.stepped = false;
  CSettings& s = settings.Get();
  CSettingsData* d = s.GetData();
  if (!d) return;
  const bool each = which.id == kLastChangeEachTimer;
  if (each ? d->LastChangeEachMaxSeconds == 0 || d->LastChangeEachMaxSeconds == d->LastChangeMaxSeconds
           : d->LastChangeMaxSeconds == 0)
    return;
  vtx::schedule::LastChangeInputs in;
  if (!Now(&in.now)) return;
  FILETIME nowTime = U64ToFileTime(in.now);
  const FILETIME t = each ? s.GetLeastRecentChange(&nowTime) : s.GetLastChange();
  FILETIME& checked = each ? d->LastChangeEachChecked : d->LastChangeChecked;
  in.lastChange = FileTimeToU64(t);
  in.checked = FileTimeToU64(checked);
  in.lastWarning = FileTimeToU64(each ? d->LastChangeEachLastWarning : d->LastChangeLastWarning);
  in.reference = FileTimeToU64(d->LastChangeReference);
  in.maxSeconds = each ? d->LastChangeEachMaxSeconds : d->LastChangeMaxSeconds;
  in.warningPause = d->LastChangeWarningPause;
  in.noWeekendWarnings = d->LastChangeNoWeekendWarnings != 0;
  const vtx::schedule::LastChangeDelay delay = vtx::schedule::LastChangeDelaySeconds(in);
  d->LastChangeReference = U64ToFileTime(delay.reference);
  checked = t;

  int64_t seconds = delay.seconds;
  if (seconds < 1) {
    const bool delivered = each ? DoCheckLastChangeEach(settings, hwnd) : DoCheckLastChange(settings, hwnd);
    seconds = delivered ? static_cast<int64_t>(d->LastChangeWarningPause) : kBusyRetrySeconds;
    if (seconds < 1) return;
  }
  const uint64_t ms = static_cast<uint64_t>(seconds) * 1000;
  which.due = in.now + ms * kUnitsPerMs;
  which.stepped = ms > vtx::schedule::kMaxTimerMs;
  const uint64_t step = which.stepped ? vtx::schedule::kMaxTimerMs : ms;
  which.pending = m_clock->SetTimer(hwnd, which.id, static_cast<UINT>(step)) != 0;
}

void UpdateTimer::ArmLastChangeTimer(CUpdateSettings& settings, HWND hwnd) { Arm(settings, hwnd, m_lastChange); }

void UpdateTimer::ArmLastChangeEachTimer(CUpdateSettings& settings, HWND hwnd) {
  Arm(settings, hwnd, m_lastChangeEach);
}

void UpdateTimer::CheckLastChange(CUpdateSettings& settings, HWND hwnd) {
  uint64_t now;
  // A step on the way to a delay longer than one timer can wait: the re-arm that follows sets the rest.
  if (m_lastChange.stepped && Now(&now) && now < m_lastChange.due) return;
  DoCheckLastChange(settings, hwnd);
}

void UpdateTimer::CheckLastChangeEach(CUpdateSettings& settings, HWND hwnd) {
  uint64_t now;
  if (m_lastChangeEach.stepped && Now(&now) && now < m_lastChangeEach.due) return;
  DoCheckLastChangeEach(settings, hwnd);
}

HRESULT UpdateTimer::Notice(CUpdateSettings& settings, HWND hwnd, const char* text) {
  if (!text) return S_OK;
  std::string caption = LoadText(m_resourceLibrary, kCaption, 1000);
  return m_thread.ShowNotification(settings, m_serviceFlag, hwnd, text, caption.c_str(), kNotifyWarning,
                                   m_resourceLibrary);
}

bool UpdateTimer::DoCheckLastChange(CUpdateSettings& settings, HWND hwnd) {
  CSettings& s = settings.Get();
  CSettingsData* d = s.GetData();
  uint64_t now;
  if (!d || !Now(&now)) return true;
  const FILETIME t = s.GetLastChange();
  if (!SameSecond(FileTimeToU64(t), FileTimeToU64(d->LastChangeChecked))) return true;  // the rates changed since the arm
  if (!s.OnlyConstantCurrencies()) {
    HRESULT hr;
    if (FileTimeToU64(t)) {
      const int64_t age = SecondsBetween(FileTimeToU64(t), now);
      LocalText ageText{AgeText(m_resourceLibrary, age > 0 ? static_cast<uint64_t>(age) : 0)};
      LocalText text{ageText.p ? PrintFormatMessage(kTextStale, m_resourceLibrary, static_cast<const char*>(ageText.p))
                               : nullptr};
      hr = Notice(settings, hwnd, text.p);
    } else {
      hr = m_thread.ShowNotificationId(settings, m_serviceFlag, hwnd, kTextNeverSet, kCaption, kNotifyWarning,
                                       m_resourceLibrary);
    }
    // A warning refused while an update runs is not one: the pause must not start.
    if (hr == E_BUSY) return false;
  }
  d->LastChangeLastWarning = U64ToFileTime(now);
  return true;
}

bool UpdateTimer::DoCheckLastChangeEach(CUpdateSettings& settings, HWND hwnd) {
  CSettings& s = settings.Get();
  CSettingsData* d = s.GetData();
  uint64_t now;
  if (!d || !Now(&now)) return true;
  if (s.OnlyConstantCurrencies()) return true;
  const FILETIME nowTime = U64ToFileTime(now);
  bool refused = false;

  FILETIME latest{};
  uint32_t count = 0, floating = 0;
  GlobalText stale{s.GetLastChangeCurrencies(d->LastChangeEachMaxSeconds, &latest, &count, &floating, &nowTime)};
  // All of them stale with the overall limit set is timer 2's warning.
  if (count && stale.p && !(count == floating && d->LastChangeMaxSeconds)) {
    const int64_t age = SecondsBetween(FileTimeToU64(latest), now);
    LocalText ageText{AgeText(m_resourceLibrary, age > 0 ? static_cast<uint64_t>(age) : 0)};
    LocalText names{FormatItems(stale.p, kSeparator, kLastSeparator, m_resourceLibrary)};
    LocalText text;
    if (ageText.p && names.p) {
      const char* agep = ageText.p;
      const char* namesp = names.p;
      text.p = count < floating ? PrintFormatMessage(kTextSomeStale, m_resourceLibrary, count, namesp, agep)
                                : PrintFormatMessage(kTextAllStale, m_resourceLibrary, agep);
    }
    if (Notice(settings, hwnd, text.p) == E_BUSY) refused = true;
  }

  uint32_t neverCount = 0, neverFloating = 0;
  GlobalText never{s.GetNeverSetCurrencies(&neverCount, &neverFloating)};
  if (neverCount && never.p) {
    LocalText names{FormatItems(never.p, kSeparator, kLastSeparator, m_resourceLibrary)};
    LocalText text;
    if (names.p) {
      const char* namesp = names.p;
      text.p = PrintFormatMessage(neverCount < neverFloating ? kTextSomeNeverSet : kTextAllNeverSet,
                                  m_resourceLibrary, neverCount, namesp);
    }
    if (Notice(settings, hwnd, text.p) == E_BUSY) refused = true;
  }
  if (refused) return false;
  d->LastChangeEachLastWarning = nowTime;
  return true;
}

// ---- the hand-over's view ----

void UpdateTimer::Schedule(IUpdateSettings& settings, HWND hwnd) {
  if (auto* s = dynamic_cast<CUpdateSettings*>(&settings)) Schedule(*s, hwnd);
}

void UpdateTimer::ArmLastChangeTimer(IUpdateSettings& settings, HWND hwnd) {
  if (auto* s = dynamic_cast<CUpdateSettings*>(&settings)) ArmLastChangeTimer(*s, hwnd);
}

void UpdateTimer::ArmLastChangeEachTimer(IUpdateSettings& settings, HWND hwnd) {
  if (auto* s = dynamic_cast<CUpdateSettings*>(&settings)) ArmLastChangeEachTimer(*s, hwnd);
}
