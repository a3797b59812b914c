// The on-screen message window of a process, as the notification fan-out calls it: the window
// shows the text on its own thread, so the caller never waits for the user.
#pragma once
#include "platform/messages.h"
#include "platform/types.h"

class IMessageWindow {
 public:
  virtual ~IMessageWindow() = default;
  virtual HRESULT AddMessage(HWND owner, const char* text, UINT flags, HMODULE resourceLibrary) = 0;
};
