// The configuration session: one pass of editing the configuration on the GUI thread. It locks the
// server's configuration, runs the configuration window on the loaded settings, saves them and
// unlocks the server with a reload, then offers the follow-ups (the service account for mail, the
// custom action after a test update, an update the server held back). The lock goes back on every
// way out, the quit path and a killed manager included.
#pragma once
#include <QObject>
#include <QPointer>

#include <memory>
#include <string>

#include "manager/configsheet.h"
#include "manager/offgui.h"
#include "manager/seams.h"
#include "manager/traymenu.h"

namespace vtx::manager {


// How long the session waits for one request, and on the quit path.
struct SessionBounds {
  DWORD requestMs = 30000;
  DWORD quitMs = 5000;
};

struct SessionOptions {
  ConfigurationSheet::Options sheet;
  SessionBounds bounds;
  ILauncher* launcher = nullptr;  // the system's when null
};

class CConfigSession : public IConfigSession {
 public:
  explicit CConfigSession(SessionOptions options = {});
  ~CConfigSession() override;

  HRESULT Start(HMODULE resources, HWND owner, HWND notifyWindow, UINT notifyMessage) override;
  bool IsRunning() const override { return running_; }
  bool RaiseWindow() override;
  // Rejects the open modal dialogs from the top down, then closes the configuration window,
  // skips the follow-ups and gives the lock back within the quit bound.
  void EndForQuit() override;
  // The program ends without the quit path (exit() when the display has gone): gives the lock
  // back within the quit bound, touching nothing of Qt.
  void ReleaseLockAtExit();

  // While a session runs: its configuration window (once open) and its sheet.
  PropertySheet* Window() const { return window_; }
  ConfigurationSheet* Sheet() const { return sheet_; }

 private:
  class Lock;
  void Run();
  void Steps(ConfigurationSheet& sheet, Lock& lock);
  void OfferCustomAction(const CSettings& settings);
  OffGuiOutcome Request(UINT msg, WPARAM wParam, DWORD boundMs, OffGuiReply* reply);

  SessionOptions options_;
  ILauncher* launcher_;
  QObject context_;
  HMODULE resources_ = nullptr;
  HWND owner_ = nullptr;
  HWND notifyWindow_ = nullptr;
  UINT notifyMessage_ = 0;
  bool running_ = false;
  bool quitting_ = false;
  std::unique_ptr<OffGuiCalls> calls_;
  Lock* lock_ = nullptr;
  ConfigurationSheet* sheet_ = nullptr;
  QPointer<PropertySheet> window_;
};

// Warns (string `stringId`, caption 32) when the service does not run as the logged-on user: 0 when
// it warned, else 1, also when the check could not be made. The user comes from the password
// database and the short host name stands for the logon domain; the service compares accounts by
// uid. Its requests go through `calls` with the bound.
BOOL CheckMapiServiceAccount(HWND owner, UINT stringId, HMODULE module, OffGuiCalls& calls,
                             DWORD boundMs = SessionBounds{}.requestMs);

// Opens a link of the configuration pages: "mailto:" through the launcher, anything else in the
// browser of the running session (0x80004003 without one). The flag is ignored.
HRESULT OpenLink(const char* text, DWORD flag);

// The file that names the manager holding the server's configuration lock, in the product's lock
// folder: the holder keeps it locked for as long as it holds the server's lock and empties it when
// the lock went back.
std::string ManagerLockFilePath();
// Step 10 of a session's end: when updates were held back and none runs, asks whether to run one
// now and runs it on yes.
void AskForHeldBackUpdate(HWND owner, HMODULE resources, OffGuiCalls& calls, DWORD boundMs);
// At the start of a manager: a lock that a killed manager left behind is given back with a reload
// (what it saved with Apply counts), and the held-back updates are offered. True when it gave one
// back.
bool RecoverConfigurationLock(HWND owner, HMODULE resources, OffGuiCalls& calls, SessionBounds bounds = {});

}  // namespace vtx::manager
