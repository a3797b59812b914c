#include "manager/configsession.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "engine/foundation/resourcelib.h"
#include "engine/notify/pipemessage.h"
#include "engine/notify/reachserver.h"
#include "engine/notify/servercommands.h"
#include "engine/notify/servicepipe.h"
#include "manager/browserview.h"
#include "manager/configtexts.h"
#include "manager/managerdefs.h"
#include "manager/propertysheet.h"
#include "manager/qtparts.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

constexpr UINT kLockOwnerManager = 0;
constexpr WPARAM kUnlockReload = 1;
constexpr WPARAM kUnlockDrop = 0;
constexpr size_t kAccountNameMax = 200;
constexpr size_t kCustomActionTextMax = 1000;

// The links of the pages open through the running session's browser and launcher.
CBrowserView* g_browser = nullptr;
ILauncher* g_linkLauncher = nullptr;

struct PublishedLinks {
  PublishedLinks(CBrowserView* browser, ILauncher* launcher) {
    g_browser = browser;
    g_linkLauncher = launcher;
  }
  ~PublishedLinks() {
    g_browser = nullptr;
    g_linkLauncher = nullptr;
  }
};

OffGuiReply Send(UINT msg, WPARAM wParam, DWORD boundMs) {
  DWORD value = 0;
  HRESULT hr = SendVXVMessageTimeout(msg, wParam, 0, boundMs, &value);
  return OffGuiReply{hr, value};
}

// Whether the server's answer to an unlock means the lock is gone.
bool LockGone(HRESULT hr) { return hr == S_OK || hr == E_SERVER_UNAVAILABLE; }

void WriteLockFile() {
  uint64_t start = 0;
  if (!vtx::ProcessStartTime(getpid(), &start)) return;
  char text[64];
  int n = std::snprintf(text, sizeof text, "%d %llu\n", static_cast<int>(getpid()),
                        static_cast<unsigned long long>(start));
  vtx::WriteFileReplacing(ManagerLockFilePath().c_str(), text, static_cast<size_t>(n), 0664);
}

void RemoveLockFile() { unlink(ManagerLockFilePath().c_str()); }

std::string UserName() {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found || !found->pw_name) return "";
  return found->pw_name;
}

std::string ShortHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  std::string host = name;
  return host.substr(0, host.find('.'));
}

}  // namespace

// The server's configuration lock as this session holds it. The requests run off the GUI thread;
// what they find is kept here under a mutex, so that the quit path can wait for a request under
// way and give back what it got, and a lock granted after the session gave up waiting goes back
// at once.
class CConfigSession::Lock {
 public:
  Lock(OffGuiCalls& calls, SessionBounds bounds) : calls_(calls), bounds_(bounds), state_(std::make_shared<State>()) {}
  ~Lock() {
    if (!Locked()) return;
    if (calls_.Abandoned()) {
      ReleaseForQuit();
    } else {
      Unlock(kUnlockDrop);
    }
  }

  bool Locked() const {
    std::lock_guard<std::mutex> l(state_->m);
    return state_->locked;
  }

  // WM_VX_LOCKCONFIG(0).
  OffGuiOutcome Take(OffGuiReply* reply) {
    Begin();
    auto state = state_;
    SessionBounds b = bounds_;
    OffGuiOutcome outcome = calls_.RunOffGuiThread(
        [state, b] {
          OffGuiReply r = Send(WM_VX_LOCKCONFIG, kLockOwnerManager, b.requestMs);
          bool granted = r.hr == S_OK && static_cast<int32_t>(r.value) >= 0;
          bool giveBack = false;
          {
            std::lock_guard<std::mutex> l(state->m);
            if (granted) {
              giveBack = state->gaveUp;
              state->locked = !giveBack;
            }
          }
          if (giveBack) {
            Send(WM_VX_UNLOCKCONFIG, kUnlockDrop, b.quitMs);
          } else if (granted) {
            WriteLockFile();
          }
          End(state);
          return r;
        },
        bounds_.requestMs, reply);
    if (outcome == OffGuiOutcome::TimedOut) GiveUp();
    return outcome;
  }

  // WM_VX_UNLOCKCONFIG(reload); the lock counts as given back whatever the answer.
  void Unlock(WPARAM reload) {
    {
      std::lock_guard<std::mutex> l(state_->m);
      state_->locked = false;
    }
    Begin();
    auto state = state_;
    OffGuiReply r;
    calls_.RunOffGuiThread(UnlockCall(state, reload, bounds_.requestMs), bounds_.requestMs, &r);
  }

  // A lock request that timed out: the server may still grant it, so it is sent back.
  void GiveUp() {
    std::lock_guard<std::mutex> l(state_->m);
    state_->gaveUp = true;
  }

  // The quit path: waits for a request under way, then gives back the lock, within the bound;
  // with a reload when settings were saved meanwhile.
  void ReleaseForQuit(WPARAM reload = kUnlockDrop) {
    uint64_t deadline = vtx::sync::DeadlineAfter(bounds_.quitMs);
    bool wasLocked;
    {
      std::unique_lock<std::mutex> l(state_->m);
      state_->gaveUp = true;
      state_->done.wait_for(l, std::chrono::milliseconds(bounds_.quitMs), [&] { return state_->out == 0; });
      wasLocked = state_->locked;
      state_->locked = false;
    }
    if (!wasLocked) return;
    int left = std::max(vtx::sync::MsUntil(deadline), 1);
    Begin();
    OffGuiReply r;
    OffGuiCalls::RunAndWait(UnlockCall(state_, reload, static_cast<DWORD>(left)), static_cast<DWORD>(left), &r);
  }

 private:
  struct State {
    std::mutex m;
    std::condition_variable done;
    bool locked = false;
    bool gaveUp = false;
    int out = 0;  // requests under way
  };

  void Begin() {
    std::lock_guard<std::mutex> l(state_->m);
    ++state_->out;
  }
  static void End(const std::shared_ptr<State>& state) {
    std::lock_guard<std::mutex> l(state->m);
    --state->out;
    state->done.notify_all();
  }
  static std::function<OffGuiReply()> UnlockCall(std::shared_ptr<State> state, WPARAM reload, DWORD boundMs) {
    return [state, reload, boundMs] {
      OffGuiReply r = Send(WM_VX_UNLOCKCONFIG, reload, boundMs);
      // While no answer came, a later manager still finds the file and tries again.
      if (LockGone(r.hr)) RemoveLockFile();
      End(state);
      return r;
    };
  }

  OffGuiCalls& calls_;
  SessionBounds bounds_;
  std::shared_ptr<State> state_;
};

CConfigSession::CConfigSession(SessionOptions options)
    : options_(std::move(options)), launcher_(options_.launcher ? options_.launcher : &SystemLauncher()) {}

CConfigSession::~CConfigSession() { EndForQuit(); }

HRESULT CConfigSession::Start(HMODULE resources, HWND owner, HWND notifyWindow, UINT notifyMessage) {
  if (running_) {
    RaiseWindow();
    return S_OK;
  }
  resources_ = resources;
  owner_ = owner;
  notifyWindow_ = notifyWindow;
  notifyMessage_ = notifyMessage;
  running_ = true;
  quitting_ = false;
  calls_ = std::make_unique<OffGuiCalls>();
  // The steps begin from the event loop, never inside the caller.
  QTimer::singleShot(0, &context_, [this] { Run(); });
  return S_OK;
}

bool CConfigSession::RaiseWindow() {
  if (!window_) return false;
  window_->show();
  window_->raise();
  window_->activateWindow();
  return true;
}

void CConfigSession::EndForQuit() {
  if (!running_) return;
  quitting_ = true;
  running_ = false;
  if (calls_) calls_->Abandon();
  // Modal dialogs from the top down; their exec returns as a Cancel once the loops unwind.
  for (int i = 0; i < 64; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) break;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
    if (QApplication::activeModalWidget() == modal) modal->hide();
  }
  if (window_) window_->reject();
  if (lock_) lock_->ReleaseForQuit(sheet_ && sheet_->SavedByApply() ? kUnlockReload : kUnlockDrop);
}

void CConfigSession::Run() {
  if (quitting_) return;
  {
    ConfigurationSheet sheet(resources_, options_.sheet);
    Lock lock(*calls_, options_.bounds);
    CBrowserView browser(*launcher_);
    PublishedLinks links(&browser, launcher_);
    sheet_ = &sheet;
    lock_ = &lock;
    Steps(sheet, lock);
    sheet_ = nullptr;
    lock_ = nullptr;
  }
  if (quitting_) return;
  running_ = false;
  if (notifyWindow_) PostMessageA(notifyWindow_, notifyMessage_, 0, 0);
}

OffGuiOutcome CConfigSession::Request(UINT msg, WPARAM wParam, DWORD boundMs, OffGuiReply* reply) {
  return calls_->RunOffGuiThread([msg, wParam, boundMs] { return Send(msg, wParam, boundMs); }, boundMs, reply);
}

void CConfigSession::Steps(ConfigurationSheet& sheet, Lock& lock) {
  CSettings settings;
  // Write test: the user may look without the right to save.
  if (settings.CanSave() == E_ACCESSDENIED &&
      FormatMessageBox(owner_, kStrNoWriteAccess, kStrProduct, MB_OKCANCEL | MB_ICONWARNING | MB_SETFOREGROUND,
                       resources_) != IDOK)
    return;
  if (quitting_) return;
  QIcon icon = ManagerIcon();
  if (icon.isNull()) return;

  OffGuiReply reply;
  OffGuiOutcome outcome = lock.Take(&reply);
  if (outcome == OffGuiOutcome::Abandoned) return;
  if (outcome == OffGuiOutcome::TimedOut) reply.hr = E_TIMEOUT;
  if (reply.hr == E_TIMEOUT) {
    // The server may still take the request: the lock goes back before the session ends.
    lock.GiveUp();
    OffGuiReply ignored;
    Request(WM_VX_UNLOCKCONFIG, kUnlockDrop, options_.bounds.requestMs, &ignored);
    MessageBoxHResultOK(owner_, kStrOperationFailed, kStrProduct, resources_, E_TIMEOUT);
    return;
  }
  if (reply.hr == S_OK && static_cast<int32_t>(reply.value) < 0) {
    HRESULT refusal = reply.value;
    WORD text = static_cast<WORD>(refusal & 0xFFFF);
    if (!IsServerFacility(refusal)) {
      MessageBoxHResultOK(owner_, kStrOperationFailed, kStrProduct, resources_, refusal);
    } else if (text && !FormatMessageBox(owner_, text, kStrProduct, MB_ICONHAND | MB_SETFOREGROUND, resources_)) {
      MessageBoxHResultOK(owner_, kStrOperationFailed, kStrProduct, resources_, refusal);
    }
    return;
  }
  if (reply.hr != S_OK && reply.hr != E_SERVER_UNAVAILABLE) {
    // Only a server that is not there lets the session go on unlocked.
    MessageBoxHResultOK(owner_, kStrOperationFailed, kStrProduct, resources_, reply.hr);
    return;
  }

  bool saved = false;
  if (settings.Create(resources_) &&
      RunConfigurationSheet(sheet, nullptr, icon, settings, -1, &window_) && !quitting_) {
    HRESULT hr = sheet.SaveSettings(settings);
    if (lock.Locked()) lock.Unlock(kUnlockReload);
    if (FAILED(hr)) {
      MessageBoxHResultOK(owner_, kStrOperationFailed, kStrSaveFailedCaption, resources_, hr);
    } else {
      saved = true;
      sheet.RunAfterSave();
    }
  }
  if (quitting_) return;
  if (saved) {
    CSettingsData* d = settings.GetData();
    if (d && d->MessagesViaEmail && !settings.IsMessageEmailProfileSmtp())
      CheckMapiServiceAccount(owner_, kStrServiceAccount, resources_, *calls_, options_.bounds.requestMs);
    if (!quitting_ && sheet.TestUpdateStarted() && sheet.TestUpdateChangedRates()) OfferCustomAction(settings);
  }
  if (quitting_) return;
  if (lock.Locked()) lock.Unlock(kUnlockDrop);
  if (!sheet.TestUpdateStarted() && !quitting_) AskForPendingUpdate();
}

void CConfigSession::OfferCustomAction(const CSettings& settings) {
  if (FormatMessageBox(owner_, kStrRunCustomAction, kStrProduct, MB_YESNO | MB_SETFOREGROUND, resources_) != IDYES ||
      quitting_)
    return;
  // The call holds its own copy: it may outlive the wait.
  auto copy = std::make_shared<CSettings>();
  if (!copy->CopyFrom(settings)) {
    MessageBoxHResultOK(owner_, kStrOperationFailed, kStrCustomActionCaption, resources_, E_OUTOFMEMORY);
    return;
  }
  auto errorText = std::make_shared<std::string>();
  OffGuiReply reply;
  OffGuiOutcome outcome = calls_->RunOffGuiThread(
      [copy, errorText] {
        char* text = nullptr;
        HRESULT hr = copy->ExecuteCustomAction(nullptr, &text);
        if (text) {
          *errorText = text;
          GlobalFree(text);
        }
        return OffGuiReply{hr, 0};
      },
      options_.bounds.requestMs, &reply);
  if (outcome == OffGuiOutcome::Abandoned) return;
  if (outcome == OffGuiOutcome::TimedOut) reply.hr = E_TIMEOUT;
  if (SUCCEEDED(reply.hr)) return;
  if (outcome == OffGuiOutcome::Done && !errorText->empty()) {
    std::string caption = LoadText(resources_, kStrCustomActionCaption);
    vtx::ShowMessageBox(owner_, errorText->substr(0, kCustomActionTextMax).c_str(), caption.c_str(), MB_ICONHAND);
  } else {
    MessageBoxHResultOK(owner_, kStrOperationFailed, kStrCustomActionCaption, resources_, reply.hr);
  }
}

void CConfigSession::AskForPendingUpdate() {
  OffGuiReply pending;
  if (Request(WM_VX_GETPENDINGUPDATES, 0, options_.bounds.requestMs, &pending) != OffGuiOutcome::Done ||
      pending.hr != S_OK || static_cast<int32_t>(pending.value) < 1)
    return;
  OffGuiReply busy;
  OffGuiOutcome asked = Request(WM_VX_ISUPDATING, 0, options_.bounds.requestMs, &busy);
  if (asked == OffGuiOutcome::Abandoned) return;
  if (asked == OffGuiOutcome::Done && busy.hr == S_OK && busy.value != 0) return;
  if (FormatMessageBox(owner_, kStrPendingUpdates, kStrProduct, MB_YESNO | MB_ICONWARNING | MB_SETFOREGROUND,
                       resources_) != IDYES ||
      quitting_)
    return;
  // Returns when the server's update has ended; the quit path leaves it running in the server.
  OffGuiReply ignored;
  Request(WM_VX_UPDATENOW, 0, 0, &ignored);
}

BOOL CheckMapiServiceAccount(HWND owner, UINT stringId, HMODULE module, OffGuiCalls& calls, DWORD boundMs) {
  auto ask = [&calls, boundMs](DWORD msg, std::string data, OffGuiReply* reply) {
    return calls.RunOffGuiThread(
        [msg, data, boundMs] {
          CPipeMessageClient client;
          DWORD value = 0;
          HRESULT hr;
          if (msg == WM_COPYDATA) {
            COPYDATASTRUCT cds{VXSVC_ISSERVICEACCOUNT, static_cast<DWORD>(data.size() + 1),
                               const_cast<char*>(data.c_str())};
            hr = client.SendMessageTimeoutA(g_szServicePipe, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), boundMs,
                                            &value);
          } else {
            hr = client.SendMessageTimeoutA(g_szServicePipe, msg, 0, 0, boundMs, &value);
          }
          return OffGuiReply{hr, value};
        },
        boundMs, reply);
  };
  auto warn = [&] {
    FormatMessageBox(owner, stringId, kStrProduct, MB_ICONWARNING | MB_SETFOREGROUND, module);
    return FALSE;
  };
  OffGuiReply system;
  if (ask(VXSVC_ISLOCALSYSTEM, "", &system) != OffGuiOutcome::Done || system.hr != S_OK) return TRUE;
  if (system.value) return warn();
  std::string user = UserName(), domain = ShortHostName();
  if (user.empty() || domain.empty()) return TRUE;
  std::string account = domain + "\\" + user;
  // A name that does not fit is not asked about: a cut name would name someone else.
  if (account.size() + 1 > kAccountNameMax) return TRUE;
  OffGuiReply same;
  if (ask(WM_COPYDATA, account, &same) != OffGuiOutcome::Done || same.hr != S_OK) return TRUE;
  if (same.value == 0) return warn();
  return static_cast<BOOL>(same.value);
}

HRESULT OpenLink(const char* text, DWORD) {
  if (!text) return S_OK;
  if (strncasecmp(text, "mailto:", 7) == 0) {
    ILauncher& launcher = g_linkLauncher ? *g_linkLauncher : SystemLauncher();
    return FAILED(launcher.OpenUrl(text)) ? E_FAIL : S_OK;
  }
  if (!g_browser) return E_POINTER;
  return g_browser->Show(text, 0);
}

std::string ManagerLockFilePath() { return vtx::sync::RuntimeDir() + "/vtxmanager.lock"; }

void RecoverConfigurationLock(DWORD boundMs) {
  std::string text;
  if (FAILED(vtx::ReadWholeFile(ManagerLockFilePath().c_str(), &text))) return;
  int pid = 0;
  unsigned long long start = 0;
  if (std::sscanf(text.c_str(), "%d %llu", &pid, &start) == 2) {
    uint64_t running = 0;
    // Its manager still runs and holds the lock.
    if (vtx::ProcessStartTime(pid, &running) && running == start) return;
  }
  if (LockGone(Send(WM_VX_UNLOCKCONFIG, kUnlockDrop, boundMs).hr)) RemoveLockFile();
}

}  // namespace vtx::manager
