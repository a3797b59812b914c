// Showing a web address in the user's browser, and the Control Panel applets (none here).
#pragma once
#include "manager/traymenu.h"
#include "platform/types.h"

namespace vtx::manager {

class CBrowserView {
 public:
  explicit CBrowserView(ILauncher& launcher = SystemLauncher()) : launcher_(launcher) {}
  // Opens the address through the launcher: S_OK, 0x80070057 for a scheme that is not opened,
  // 0x80004005 when the desktop's opener fails. The browser's process is never known: processId
  // is 0 whatever the flags.
  HRESULT Show(const char* address, DWORD flags);
  DWORD processId = 0;

 private:
  ILauncher& launcher_;
};

// There are no Control Panel applets: nothing is started (0).
int OpenControlPanelApplet(const char* fileName);

}  // namespace vtx::manager
