// vtxmanager's frame: the command line, one manager per user, the hidden manager window and its
// messages, the tray icon, the quit path.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "engine/notify/pipemessage.h"
#include "manager/instance.h"
#include "manager/offgui.h"
#include "manager/seams.h"
#include "manager/traymenu.h"
#include "platform/messages.h"
#include "platform/ui.h"

class QSocketNotifier;

namespace vtx::manager {

struct Switches {
  bool silent = false;  // "/s"
  bool quit = false;    // "/q"
  bool wait = false;    // "/w"
};
// Each argument after the program name is compared whole and case-sensitively; others are ignored.
Switches ParseSwitches(int argc, const char* const* argv);

// The tray icon on the desktop. The frame drives it; its clicks come back as WM_VXMGR_TRAYNOTIFY.
class ITrayView {
 public:
  virtual ~ITrayView() = default;
  // False when the desktop has no notification area.
  virtual bool Add(HWND managerWindow, const std::string& tip) = 0;
  virtual void Remove() = 0;
  // Pops the menu up at the pointer; `command` gets the chosen command id.
  virtual void ShowMenu(const std::vector<MenuItem>& items, std::function<void(UINT)> command) = 0;
};

// What the frame is built from; anything left empty is the product's own.
struct ManagerParts {
  std::unique_ptr<IConfigSession> session;
  std::unique_ptr<IDisplayLog> displayLog;
  std::unique_ptr<ITrayView> tray;
  ILauncher* launcher = nullptr;
  // Shows the message boxes in place of Qt's (tests).
  vtx::ui::MessageBoxBackend boxes = nullptr;
  // Sees every request that reaches the manager through its socket (tests).
  std::function<void(UINT msg)> onRequest;
};

// Waits up to `ms` for a manager to exist: looks, then sleeps 500 ms at a time while more than
// 500 ms remain, sleeps the rest in one piece and looks a last time.
bool WaitForManagerWindow(DWORD ms, const std::function<bool()>& look, const std::function<void(DWORD)>& sleep);
bool WaitForManagerWindow(DWORD ms);

// Asks another manager to close: up to 6 requests, 500 ms apart, until it has gone.
void CloseOtherManager(const OtherManager& other, const std::function<void(DWORD)>& sleep);
// Asks another manager to open (or raise) its configuration window.
void ActivateOtherManager(const OtherManager& other);

class CManagerWindow {
 public:
  explicit CManagerWindow(ManagerParts parts = {});
  ~CManagerWindow();
  CManagerWindow(const CManagerWindow&) = delete;
  CManagerWindow& operator=(const CManagerWindow&) = delete;

  static constexpr DWORD kModeTrayIcon = 1;
  static constexpr DWORD kModeSilent = 2;
  // Loads the catalogue, creates the window and, unless another manager exists, serves the
  // user's manager socket; shows the tray icon and watches the display log as the mode says.
  bool Create(DWORD mode);
  // Brings the configuration window forward or starts a configuration session. `result` (when
  // given) is nonzero when a configuration session runs or was started.
  void OpenConfiguration(HWND owner, LRESULT* result);
  // Runs Qt's loop until the quit path ends it.
  void RunMessageLoop(bool quitWhenConfigurationEnds);
  void ShowTrayMenu();
  // The quit path: ends a running configuration session, then leaves the loop.
  void Quit();
  // Gives back a configuration lock that a killed manager left behind (asking about the updates
  // it held back); the quit path ends it.
  void RecoverConfigurationLock();
  void Destroy();

  HWND Window() const { return window_; }
  const OtherManager& Other() const { return other_; }
  HMODULE Resources() const { return resources_; }
  bool TrayIconShown() const { return trayIconShown_; }
  TrayMenuController& TrayMenu() { return *trayMenu_; }
  IConfigSession& Session() { return *session_; }

 private:
  friend LRESULT ManagerWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  static DWORD OnSocketRequest(DWORD_PTR context, DWORD msg, WPARAM wParam, LPARAM lParam);
  void OnTrayNotify(WPARAM id, LPARAM mouse);

  HWND window_ = nullptr;
  OtherManager other_;
  bool quitWhenConfigurationEnds_ = false;
  ATOM classRegistered_ = 0;
  HMODULE resources_ = nullptr;
  bool trayIconShown_ = false;
  std::string displayLogPath_;
  bool quitting_ = false;
  bool destroyed_ = false;
  ManagerParts parts_;
  std::unique_ptr<IConfigSession> session_;
  std::unique_ptr<IDisplayLog> displayLog_;
  std::unique_ptr<ITrayView> tray_;
  ILauncher* launcher_;
  std::unique_ptr<TrayMenuController> trayMenu_;
  OffGuiCalls startCalls_;
  CPipeMessageServer server_;
  std::unique_ptr<QSocketNotifier> serverNotifier_;
  std::unique_ptr<QSocketNotifier> queueNotifier_;
};

LRESULT ManagerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The program: vtxmanager's main. Needs a QApplication only once it knows there is a display.
int ManagerMain(int argc, char** argv, ManagerParts parts = {});

}  // namespace vtx::manager
