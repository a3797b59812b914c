// The owner window of the update thread as these tests play it: it applies the thread's result,
// sends what waited during the hand-over, and waits for a running update while still taking the
// thread's reports, the way the server's command window does.
#pragma once
#include <string>

#include "engine/update/updatehandover.h"
#include "engine/update/updatethread.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/resources.h"

// The server state the hand-over reads and writes.
struct UpdateServerState {
  IUpdateSettings* settings = nullptr;  // the server's live settings
  CUpdateThread* thread = nullptr;
  IUpdateSchedule* schedule = nullptr;
  HWND hwnd = nullptr;  // the command window
  HMODULE resourceLibrary = nullptr;
  bool serviceMode = false;
  HRESULT lastUpdateResult = S_OK;
};

// Takes the thread's result: with a copy (WM_VX_UPDATEDONE, WM_VX_DEFINITIONSDONE) the server's
// settings take it and the rates data are stored; without one (WM_VX_UPDATEFAILED) `hr` is the
// run's failure. Then the custom action when it is due, and the next automatic update.

// The thread reports idle: the notices of the hand-over go out now.

// The command window's handling of the four reports; false for any other message.

// While the thread is busy: WaitMessage, then a look at the command window's queue without
// removing anything, so that the reports sent by the thread are handled inside the wait and
// nothing else is dispatched.

namespace ownerwindow {
constexpr UINT kTextFailed = 83;
constexpr UINT kCaptionUpdate = 81;
constexpr UINT kCaptionCustomAction = 382;
constexpr UINT kTypeHand = 0x10;

inline std::string LoadText(HMODULE module, UINT id, int max) {
  std::string buf(static_cast<size_t>(max) + 1, '\0');
  int n = LoadStringA(module, id, buf.data(), max + 1);
  buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buf;
}
}  // namespace ownerwindow

inline void ApplyUpdateResult(UpdateServerState& s, IUpdateSettings* copy, HRESULT hr) {
  IUpdateSettings& settings = *s.settings;
  CUpdateThread& thread = *s.thread;
  if (copy) {
    if (copy != &settings && !settings.CopyFrom(*copy))
      s.lastUpdateResult = E_OUTOFMEMORY;
    else
      s.lastUpdateResult = settings.SaveINI();
    s.schedule->SetLastAttempt(SUCCEEDED(s.lastUpdateResult));
    if (FAILED(s.lastUpdateResult))
      thread.NotifyError(settings, s.serviceMode, s.hwnd, ownerwindow::kTextFailed, ownerwindow::kCaptionUpdate, s.resourceLibrary,
                         s.lastUpdateResult);
    s.schedule->ArmLastChangeTimer(settings, s.hwnd);
    s.schedule->ArmLastChangeEachTimer(settings, s.hwnd);
  } else {
    s.lastUpdateResult = FAILED(hr) ? hr : E_FAIL;
    s.schedule->SetLastAttempt(false);
  }
  if (thread.IsCustomActionDue()) {
    char* errorText = nullptr;
    HRESULT ca = settings.ExecuteCustomAction(s.hwnd, &errorText);
    if (FAILED(ca)) {
      if (errorText && *errorText) {
        std::string caption = ownerwindow::LoadText(s.resourceLibrary, ownerwindow::kCaptionCustomAction, 500);
        thread.ShowNotification(settings, s.serviceMode, s.hwnd, errorText, caption.c_str(), ownerwindow::kTypeHand,
                                s.resourceLibrary);
      } else {
        thread.NotifyError(settings, s.serviceMode, s.hwnd, ownerwindow::kTextFailed, ownerwindow::kCaptionCustomAction, s.resourceLibrary,
                           ca);
      }
    }
    if (errorText) GlobalFree(errorText);
  }
  s.schedule->Schedule(settings, s.hwnd);
}

inline void OnUpdateIdle(UpdateServerState& s) {
  if (!s.thread->IsBusy()) s.thread->SendDeferredNotices(*s.settings);
}

inline bool HandleUpdateReport(UpdateServerState& s, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (msg) {
    case WM_VX_UPDATEDONE:
    case WM_VX_DEFINITIONSDONE:
      ApplyUpdateResult(s, reinterpret_cast<IUpdateSettings*>(wParam), S_OK);
      break;
    case WM_VX_UPDATEFAILED:
      ApplyUpdateResult(s, nullptr, static_cast<HRESULT>(lParam));
      break;
    case WM_VX_UPDATEIDLE:
      OnUpdateIdle(s);
      break;
    default:
      return false;
  }
  if (result) *result = 0;
  return true;
}

inline void WaitWhileUpdating(const CUpdateThread& thread, HWND hwnd) {
  MSG m;
  while (thread.IsBusy()) {
    WaitMessage();
    PeekMessageA(&m, hwnd, 0, 0, PM_NOREMOVE);
  }
}
