#include "manager/managerwindow.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/foundation/regupgrade.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "manager/configsession.h"
#include "manager/managerdefs.h"
#include "manager/messagedialogs.h"
#include "manager/offgui.h"
#include "manager/qtparts.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

constexpr DWORD kLookStepMs = 500;
constexpr int kCloseTries = 6;
constexpr int kTipMax = 63;
constexpr DWORD kQuitWaitMs = 5000;

bool ReadAppDword(const char* name, DWORD* value) {
  RegDwordValue v;
  if (FAILED(v.Load(HKEY_LOCAL_MACHINE, kAppKey, name))) return false;
  *value = v;
  return true;
}

void SleepMs(DWORD ms) { Sleep(ms); }

int BoxThroughPlatform(void* window, const char* text, const char* caption, UINT type) {
  return MessageBoxA(static_cast<HWND>(window), text, caption, type);
}

}  // namespace

Switches ParseSwitches(int argc, const char* const* argv) {
  Switches s;
  for (int i = 1; i < argc; ++i) {
    if (!argv[i]) continue;
    if (std::strcmp(argv[i], "/s") == 0) s.silent = true;
    if (std::strcmp(argv[i], "/q") == 0) s.quit = true;
    if (std::strcmp(argv[i], "/w") == 0) s.wait = true;
  }
  return s;
}

bool WaitForManagerWindow(DWORD ms, const std::function<bool()>& look, const std::function<void(DWORD)>& sleep) {
  if (look()) return true;
  DWORD left = ms;
  while (left > kLookStepMs) {
    sleep(kLookStepMs);
    left -= kLookStepMs;
    if (look()) return true;
  }
  if (left == 0) return false;
  sleep(left);
  return look();
}

bool WaitForManagerWindow(DWORD ms) {
  return WaitForManagerWindow(ms, [] { return FindOtherManager().Valid(); }, SleepMs);
}

void CloseOtherManager(const OtherManager& other, const std::function<void(DWORD)>& sleep) {
  for (int i = 0; i < kCloseTries; ++i) {
    if (!IsAlive(other)) return;
    SendToOther(other, WM_VXMGR_CLOSE, nullptr);
    if (!IsAlive(other)) return;
    sleep(kLookStepMs);
  }
}

void ActivateOtherManager(const OtherManager& other) {
  if (other.Valid()) SendToOther(other, WM_VXMGR_OPENCONFIGURATION, nullptr);
}

LRESULT ManagerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    return 0;
  }
  auto* self = reinterpret_cast<CManagerWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
  return self->OnMessage(msg, wParam, lParam);
}

CManagerWindow::CManagerWindow(ManagerParts parts) : parts_(std::move(parts)) {
  // Every box of the manager, formatted from the catalogue or not, goes through platform/ui.
  SetMessageBoxHandler(BoxThroughPlatform);
  launcher_ = parts_.launcher ? parts_.launcher : &SystemLauncher();
  session_ = parts_.session ? std::move(parts_.session) : MakeConfigSession(*launcher_);
  displayLog_ = parts_.displayLog ? std::move(parts_.displayLog) : MakeDisplayLog();
  tray_ = parts_.tray ? std::move(parts_.tray) : MakeTrayView();
}

CManagerWindow::~CManagerWindow() { Destroy(); }

bool CManagerWindow::Create(DWORD mode) {
  resources_ = LoadResourceLibrary(kAppKey);
  if (!resources_) {
    // An account outside the product's group may not open the store at all: it is told so.
    std::string why = kNoResources;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppKey, 0, KEY_READ, &key) == ERROR_ACCESS_DENIED)
      why = "Your account may not read the Vantrex settings: only root and the members of the group \"" +
            vtx::ProductAccountName() + "\" may.";
    if (key) RegCloseKey(key);
    std::fprintf(stderr, "vtxmanager: %s\n", why.c_str());
    MessageBoxA(nullptr, why.c_str(), kCaption, MB_ICONHAND);
    return false;
  }
  trayMenu_ = std::make_unique<TrayMenuController>(resources_, *launcher_, [this] { OpenConfiguration(nullptr, nullptr); });

  WNDCLASSA wc{};
  if (!GetClassInfoA(nullptr, kManagerClass, &wc)) {
    wc.lpfnWndProc = ManagerWindowProc;
    wc.cbWndExtra = 4;
    wc.hCursor = const_cast<char*>(IDC_ARROW);
    wc.lpszClassName = kManagerClass;
    classRegistered_ = RegisterClassA(&wc);
  }
  {
    // Of two managers started at once, exactly one finds the other.
    CreationLock lock;
    if (lock.Held()) {
      other_ = FindOtherManager();
      window_ = CreateWindowExA(0, kManagerClass, nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, this);
      std::string socket = ManagerSocketPath();
      if (window_ && !other_.Valid() && !socket.empty()) {
        HRESULT hr = server_.Create(socket.c_str());
        if (hr == HRESULT_FROM_WIN32(ERROR_PIPE_BUSY)) {
          other_.socket = socket;  // a manager that does not take the lock
        } else if (FAILED(hr)) {
          DestroyWindow(window_);
          window_ = nullptr;
        }
      }
    }
  }
  if (!window_) {
    MessageBoxA(nullptr, kNoWindow, kCaption, MB_ICONHAND);
    return false;
  }
  if (server_.Fd() >= 0) {
    serverNotifier_ = std::make_unique<QSocketNotifier>(server_.Fd(), QSocketNotifier::Read);
    QObject::connect(serverNotifier_.get(), &QSocketNotifier::activated,
                     [this] { server_.ServeRequest(reinterpret_cast<DWORD_PTR>(this), OnSocketRequest); });
  }
  queueNotifier_ = MakeQueuePump([this] { Quit(); });

  if (mode & kModeTrayIcon) {
    std::string tip;
    const char16_t* text = nullptr;
    int n = LoadStringW(resources_, kStrTrayTip, reinterpret_cast<LPWSTR>(&text), 0);
    if (n > 0 && text) tip = WideToUtf8(std::u16string(text, static_cast<size_t>(std::min(n, kTipMax))));
    trayIconShown_ = tray_->Add(window_, tip);
  }
  if (mode & kModeSilent) {
    RegStringValueW path;
    if (SUCCEEDED(path.Load(HKEY_LOCAL_MACHINE, kAppKey, "DisplayMessages")) && path.GetString() &&
        *path.GetString()) {
      displayLogPath_ = WideToUtf8(path.GetString());
      displayLog_->Watch(displayLogPath_, window_, resources_);
    }
  }
  return true;
}

void CManagerWindow::OpenConfiguration(HWND owner, LRESULT* result) {
  if (session_->RaiseWindow()) {
    if (result) *result = 1;
    return;
  }
  HRESULT hr = session_->Start(resources_, owner, window_, WM_VXMGR_CONTROLWINDOWCLOSED);
  if (result) *result = SUCCEEDED(hr) && session_->IsRunning() ? 1 : 0;
}

void CManagerWindow::RunMessageLoop(bool quitWhenConfigurationEnds) {
  quitWhenConfigurationEnds_ = quitWhenConfigurationEnds;
  if (quitting_ || !window_) return;
  QCoreApplication::exec();
}

void CManagerWindow::Quit() {
  if (quitting_) return;
  quitting_ = true;
  quitWhenConfigurationEnds_ = false;
  startCalls_.Abandon();
  // The server's lock goes back before the loop may end.
  session_->EndForQuit();
  QCoreApplication::exit(0);
}

void CManagerWindow::RecoverConfigurationLock() {
  if (!quitting_) vtx::manager::RecoverConfigurationLock(nullptr, resources_, startCalls_);
}

void CManagerWindow::ShowTrayMenu() {
  if (!trayMenu_ || !trayMenu_->Build()) return;
  tray_->ShowMenu(trayMenu_->Items(), [this](UINT id) {
    if (trayMenu_) trayMenu_->Command(id);
  });
}

void CManagerWindow::OnTrayNotify(WPARAM id, LPARAM mouse) {
  if (id != 0) return;
  if (mouse == WM_LBUTTONUP) OpenConfiguration(nullptr, nullptr);
  if (mouse == WM_RBUTTONUP) ShowTrayMenu();
}

DWORD CManagerWindow::OnSocketRequest(DWORD_PTR context, DWORD msg, WPARAM, LPARAM) {
  auto* self = reinterpret_cast<CManagerWindow*>(context);
  // Only the user's own processes, and they may only ask to open the configuration or to close.
  uid_t uid;
  gid_t gid;
  if (!self->server_.Caller(&uid, &gid) || uid != vtx::sys::Geteuid()) return 0;
  if (msg != WM_VXMGR_OPENCONFIGURATION && msg != WM_VXMGR_CLOSE) return 0;
  if (self->parts_.onRequest) self->parts_.onRequest(msg);
  if (!self->window_) return 0;
  return static_cast<DWORD>(SendMessageA(self->window_, msg, 0, 0));
}

LRESULT CManagerWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ENDSESSION:
      if (wParam) PostMessageA(window_, WM_VXMGR_QUIT, 0, 0);
      return 0;
    case WM_VXMGR_OPENCONFIGURATION: {
      LRESULT result = 0;
      OpenConfiguration(nullptr, &result);
      return result;
    }
    case WM_VXMGR_CLOSE:
      PostMessageA(window_, WM_VXMGR_QUIT, 0, 0);
      return 0;
    case WM_VXMGR_CONTROLWINDOWCLOSED:
      if (quitWhenConfigurationEnds_) PostMessageA(window_, WM_VXMGR_QUIT, 0, 0);
      return 0;
    case WM_VXMGR_MESSAGEWINDOWCLOSED:
      displayLog_->OnMessageWindowClosed(wParam);
      return 0;
    case WM_VXMGR_TRAYNOTIFY:
      OnTrayNotify(wParam, lParam);
      return 0;
  }
  return DefWindowProcA(window_, msg, wParam, lParam);
}

void CManagerWindow::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  // In this order: the watch, the tray icon, the window, the catalogue, the class.
  displayLog_->Close();
  if (trayIconShown_) tray_->Remove();
  trayIconShown_ = false;
  queueNotifier_.reset();
  serverNotifier_.reset();
  server_.Close();
  if (window_) {
    vtx::messages::RouteEndSessionSignals(nullptr);
    DestroyWindow(window_);
    window_ = nullptr;
  }
  trayMenu_.reset();
  if (resources_) FreeLibrary(resources_);
  resources_ = nullptr;
  if (classRegistered_) UnregisterClassA(kManagerClass, nullptr);
  classRegistered_ = 0;
  displayLogPath_.clear();
}

namespace {

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* v = vtx::sys::Getenv(name);
    if (v && *v) return true;
  }
  return false;
}

}  // namespace

int ManagerMain(int argc, char** argv, ManagerParts parts) {
  Switches sw = ParseSwitches(argc, argv);
  if (!HaveDisplay()) {
    std::fprintf(stderr, "vtxmanager: no display: DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are all unset\n");
    return 255;
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (parts.boxes) {
    vtx::ui::SetMessageBoxBackend(parts.boxes);
  } else {
    InstallQtMessageBoxes();
  }
  struct ClipboardScope {
    ClipboardScope() { InstallQtClipboard(true); }
    ~ClipboardScope() { InstallQtClipboard(false); }
  } clipboard;
  QtMessageDialogsScope messageDialogs;
  DesktopQuitFilter desktopQuit;

  if (sw.wait) WaitForManagerWindow(10000);
  UpgradeRegistryAtStartup();
  DWORD icon = 1;
  if (!ReadAppDword("NotificationAreaIcon", &icon)) icon = 1;
  DWORD mode = !sw.silent ? 0 : icon ? 3 : 2;

  CManagerWindow manager(std::move(parts));
  if (!manager.Create(mode)) {
    manager.Destroy();
    return 255;
  }
  if (manager.Other().Valid()) {
    if (sw.quit) {
      CloseOtherManager(manager.Other(), SleepMs);
    } else if (!sw.silent) {
      ActivateOtherManager(manager.Other());
    }
    manager.Destroy();
    return 0;
  }
  if (sw.quit || sw.wait) {
    manager.Destroy();
    return 0;
  }
  vtx::messages::RouteEndSessionSignals(manager.Window());
  desktopQuit.Route(manager.Window());
  // Whatever else ends Qt's loop, the quit path runs before the loop unwinds.
  QMetaObject::Connection ending = QObject::connect(&app, &QCoreApplication::aboutToQuit, [&manager] { manager.Quit(); });
  // A manager killed while it held the server's configuration lock cannot give it back itself.
  manager.RecoverConfigurationLock();
  if (!sw.silent) {
    manager.OpenConfiguration(nullptr, nullptr);
    manager.RunMessageLoop(true);
  } else {
    manager.RunMessageLoop(false);
  }
  QObject::disconnect(ending);
  manager.Destroy();
  // A test update's worker still finishing its run.
  WaitForReleases(kQuitWaitMs);
  return 0;
}

}  // namespace vtx::manager
