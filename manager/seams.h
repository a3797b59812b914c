// What the manager's frame hands to the configuration session and to the display of on-screen
// messages.
#pragma once
#include <string>

#include "platform/messages.h"

namespace vtx::manager {

// One pass of editing the configuration. Everything runs on the GUI thread.
class IConfigSession {
 public:
  virtual ~IConfigSession() = default;
  // Starts a session and returns at once (its steps run from the event loop, never inside the
  // caller); when it ends, `notifyMessage` is posted to `notifyWindow`. A session that runs is
  // left alone (S_OK).
  virtual HRESULT Start(HMODULE resources, HWND owner, HWND notifyWindow, UINT notifyMessage) = 0;
  virtual bool IsRunning() const = 0;
  // Brings the configuration window forward; false when none is open.
  virtual bool RaiseWindow() = 0;
  // The quit path: closes the session's windows and gives the server's configuration lock back
  // before it returns. Nothing is posted afterwards.
  virtual void EndForQuit() = 0;
};

// The watch of the display log and the on-screen message window that shows it.
class IDisplayLog {
 public:
  virtual ~IDisplayLog() = default;
  // A silent start: watches the file at `path` and shows what it holds now; the message window
  // posts WM_VXMGR_MESSAGEWINDOWCLOSED to `managerWindow` when it closes.
  virtual void Watch(const std::string& path, HWND managerWindow, HMODULE resources) = 0;
  // Reads the display log and shows it.
  virtual void Read() = 0;
  // WM_VXMGR_MESSAGEWINDOWCLOSED with the window's result.
  virtual void OnMessageWindowClosed(WPARAM result) = 0;
  // Ends the watch and closes the message window.
  virtual void Close() = 0;
};

}  // namespace vtx::manager
