#include "engine/update/updatehandover.h"

#include <string>

#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/resources.h"

namespace {
constexpr UINT kTextFailed = 83;
constexpr UINT kCaptionUpdate = 81;
constexpr UINT kCaptionCustomAction = 382;
constexpr UINT kTypeHand = 0x10;

std::string LoadText(HMODULE module, UINT id, int max) {
  std::string buf(static_cast<size_t>(max) + 1, '\0');
  int n = LoadStringA(module, id, buf.data(), max + 1);
  buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buf;
}
}  // namespace

void ApplyUpdateResult(UpdateServerState& s, IUpdateSettings* copy, HRESULT hr) {
  IUpdateSettings& settings = *s.settings;
  CUpdateThread& thread = *s.thread;
  if (copy) {
    if (copy != &settings && !settings.CopyFrom(*copy))
      s.lastUpdateResult = E_OUTOFMEMORY;
    else
      s.lastUpdateResult = settings.SaveINI();
    s.schedule->SetLastAttempt(SUCCEEDED(s.lastUpdateResult));
    if (FAILED(s.lastUpdateResult))
      thread.NotifyError(settings, s.serviceMode, s.hwnd, kTextFailed, kCaptionUpdate, s.resourceLibrary,
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
        std::string caption = LoadText(s.resourceLibrary, kCaptionCustomAction, 500);
        thread.ShowNotification(settings, s.serviceMode, s.hwnd, errorText, caption.c_str(), kTypeHand,
                                s.resourceLibrary);
      } else {
        thread.NotifyError(settings, s.serviceMode, s.hwnd, kTextFailed, kCaptionCustomAction, s.resourceLibrary,
                           ca);
      }
    }
    if (errorText) GlobalFree(errorText);
  }
  s.schedule->Schedule(settings, s.hwnd);
}

void OnUpdateIdle(UpdateServerState& s) {
  if (!s.thread->IsBusy()) s.thread->SendDeferredNotices(*s.settings);
}

bool HandleUpdateReport(UpdateServerState& s, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
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

void WaitWhileUpdating(const CUpdateThread& thread, HWND hwnd) {
  MSG m;
  while (thread.IsBusy()) {
    WaitMessage();
    PeekMessageA(&m, hwnd, 0, 0, PM_NOREMOVE);
  }
}
