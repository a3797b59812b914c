// What the owner of the update thread needs of the update scheduler when it takes a run's result.
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
