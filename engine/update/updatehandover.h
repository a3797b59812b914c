// The server's side of the update thread: its command window applies the thread's result, sends
// what waited during the hand-over, and waits for a running update while still taking the
// thread's reports. All of it runs on the thread that owns the command window.
#pragma once
#include "engine/update/updatethread.h"

// What the hand-over needs of the update scheduler (UpdateTimer).
class IUpdateSchedule {
 public:
  virtual ~IUpdateSchedule() = default;
  // Clears the last failed attempt on success, stamps it with the current time otherwise.
  virtual void SetLastAttempt(bool succeeded) = 0;
  // Sets timer 1 for the next automatic update.
  virtual void Schedule(IUpdateSettings& settings, HWND hwnd) = 0;
  // The staleness timers 2 and 3.
  virtual void ArmLastChangeTimer(IUpdateSettings& settings, HWND hwnd) = 0;
  virtual void ArmLastChangeEachTimer(IUpdateSettings& settings, HWND hwnd) = 0;
};

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
void ApplyUpdateResult(UpdateServerState& state, IUpdateSettings* copy, HRESULT hr);

// The thread reports idle: the notices of the hand-over go out now.
void OnUpdateIdle(UpdateServerState& state);

// The command window's handling of the four reports; false for any other message.
bool HandleUpdateReport(UpdateServerState& state, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

// While the thread is busy: WaitMessage, then a look at the command window's queue without
// removing anything, so that the reports sent by the thread are handled inside the wait and
// nothing else is dispatched.
void WaitWhileUpdating(const CUpdateThread& thread, HWND hwnd);
