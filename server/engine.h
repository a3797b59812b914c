// The program's wiring: the engine's own classes behind the server's seams, the link to a running
// server, the application pipe and the internet connection of the run.
#pragma once
#include <memory>

#include "engine/currency/settings.h"
#include "engine/foundation/resourcelib.h"
#include "engine/notify/noticequeue.h"
#include "engine/notify/messagewindow.h"
#include "engine/notify/pipemessage.h"
#include "engine/update/fetchsource.h"
#include "engine/update/inetconnection.h"
#include "engine/update/updaterun.h"
#include "engine/update/updatesettings.h"
#include "engine/update/updatethread.h"
#include "engine/update/updatetimer.h"
#include "server/seams.h"

namespace vtx::server {

// The language resource library named by "Resources%04X" and its message boxes.
class CatalogueResources : public Resources {
 public:
  HMODULE LoadResourceLibrary(const char* appKeyPath) override;
  void FreeResourceLibrary(HMODULE module) override;
  int LoadString(HMODULE module, UINT id, char* buffer, int bufferSize) override;
  int FormatMessageBox(HWND owner, UINT textId, UINT captionId, UINT type, HMODULE module,
                       const char* insert) override;
  int MessageBoxHResultOK(HWND owner, UINT textId, UINT captionId, HMODULE module, HRESULT hr) override;
  bool CanAsk() override;
};

// Entries of the event source "Hulvane Vantrex" through the system's event log.
class SystemEventLog : public EventLog {
 public:
  void ReportServerEvent(DWORD eventId, WORD type, const void* data, DWORD dataSize) override;

 private:
  CEventLog log_;
};

// CSettings, owned or a view of another's, and the view of it that the update thread takes.
// The test notification's rule for the messages file that a caller names (`requested`): the
// configured one or a file directly in the log folder, ".log" added as the file channel adds it.
// No file at all is allowed: nothing is written then.
bool IsTestMessagesFileAllowed(const char* configured, const char* requested);

class EngineSettings : public Settings {
 public:
  EngineSettings();
  explicit EngineSettings(CSettings& settings);
  CSettings& Get() { return *settings_; }
  CUpdateSettings& Update() { return update_; }

  bool Create(HMODULE resourceLibrary) override;
  HRESULT Load() override;
  HRESULT Save() override;
  HRESULT SaveINI() override;
  HRESULT CopyFrom(const Settings& from) override;
  bool MessagesViaEmail() const override;
  bool IsMessageEmailProfileSmtp() const override;
  HRESULT SetNotificationTest(const NotificationTest& test) override;
  HRESULT ExecuteCustomAction(HWND window, std::string& errorText) override;

 private:
  std::unique_ptr<CSettings> owned_;
  CSettings* settings_;
  CUpdateSettings update_;
};

// The application key itself, with its configuration file.
class EngineStore : public SettingsStore {
 public:
  std::unique_ptr<Settings> NewSettings() override;
  HRESULT CanSaveSettings() override;
  BOOL AddUnitHits(const std::vector<HitCount>& counts) override;
  HRESULT ImportConfiguration(const char* path, DWORD addExtension, const vtx::Account* as) override;
  HRESULT ExportConfiguration(const char* path, DWORD addExtension, const vtx::Account* as) override;
  bool ReadAppString(const char* name, std::string& value) override;
  void UpgradeRegistryAtStartup() override;
};

// The update scheduler with its update thread behind the scheduler seam.
class EngineScheduler : public UpdateScheduler {
 public:
  explicit EngineScheduler(IUpdateEngine& engine) : timer_(engine), reported_(ThreadSettings()) {}
  UpdateTimer& Timer() { return timer_; }
  CUpdateThread& Thread() { return timer_.GetThread(); }

  void Set(HMODULE resourceLibrary, UINT timerId, bool serviceFlag) override;
  void Schedule(Settings& settings, HWND hwnd) override;
  void Kill(HWND hwnd) override;
  int KillAndTestIdle(HWND hwnd) override;
  HRESULT StartUpdate(Settings& settings, HWND hwnd, HICON icon) override;
  void SetLastAttempt(bool succeeded) override;
  bool IsBusy() const override { return timer_.IsBusy(); }
  bool CustomActionDue() const override { return timer_.CustomActionDue(); }
  void ArmLastChangeTimer(Settings& settings, HWND hwnd) override;
  void CheckLastChange(Settings& settings, HWND hwnd) override;
  void ArmLastChangeEachTimer(Settings& settings, HWND hwnd) override;
  void CheckLastChangeEach(Settings& settings, HWND hwnd) override;
  Settings* ReportedSettings(WPARAM wParam) override;
  void OnUpdateIdle(Settings& settings, HWND hwnd) override;

 private:
  CSettings& ThreadSettings() { return static_cast<CUpdateSettings&>(timer_.GetThread().GetCopy()).Get(); }

  UpdateTimer timer_;
  EngineSettings reported_;  // the thread's copy, as the command window sees it
};

// The command window's notices go through the update thread, which holds them back while it hands
// its result over.
class EngineNotifications : public Notifications {
 public:
  explicit EngineNotifications(CUpdateThread& thread) : thread_(thread) {}
  HRESULT ShowNotification(Settings& settings, bool serviceFlag, HWND owner, const char* text, const char* caption,
                           UINT type, HMODULE resourceLibrary) override;
  HRESULT ShowNotificationId(Settings& settings, bool serviceFlag, HWND owner, UINT textId, UINT captionId,
                             UINT type, HMODULE resourceLibrary, DWORD_PTR insert1, DWORD_PTR insert2,
                             DWORD_PTR insert3) override;
  HRESULT NotifyError(Settings& settings, bool serviceFlag, HWND owner, UINT textId, UINT captionId,
                      HMODULE resourceLibrary, HRESULT hr) override;

 private:
  CUpdateThread& thread_;
};

// The server's window in this process, else its pipe.
class VxvLink : public ServerLink {
 public:
  BOOL CanSendVXVMessages() override;
  HRESULT SendVXVMessage(UINT msg, WPARAM wParam, LPARAM lParam, DWORD* result) override;
  HRESULT SendVXVMessageTimeout(UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, DWORD* result) override;
};

// The application pipe: each request goes through the given procedure as a message to the window.
class AppPipe : public PipeServer {
 public:
  HRESULT Create(const char* pipeName) override { return server_.Create(pipeName); }
  HANDLE GetEvent() override { return server_.GetEvent(); }
  HRESULT ServeRequest(HWND hwnd, WNDPROC proc) override;
  bool Caller(vtx::Account* account) override { return server_.Caller(&account->uid, &account->gid); }
  bool CallerGone() override { return server_.CallerGone(); }
  bool NextMessage(DWORD* msg) override { return server_.NextMessage(msg); }
  void Destroy() override { server_.Close(); }

 private:
  CPipeMessageServer server_;
};

// The connection object that keeps the internet library loaded for the whole run.
class RunConnection : public InternetConnection {
 public:
  void Construct() override {
    // What a server killed during a filter run left in the temporary folder goes now.
    RemoveStaleFilterFiles();
    connection_ = std::make_unique<CINetConnection>();
  }
  void Destroy() override { connection_.reset(); }

 private:
  std::unique_ptr<CINetConnection> connection_;
};

struct ProgramSeams {
  ProgramSeams();
  Seams seams() { return Seams{&store, &scheduler, &notifications, &resources, &events, &link, &pipe, &internet}; }
  // The screen channel's own window: the server shows no dialogs, so it refuses and the notice
  // takes the channel's fallback. It outlives the update thread.
  CMessageWindow messageWindow;
  EngineStore store;
  CUpdateEngine engine;
  // Mail of every notice goes out here, so that no thread of the server waits on a mail server; it
  // outlives the update thread and goes before the engine whose notifier reports its failures.
  CNoticeQueue noticeQueue;
  EngineScheduler scheduler;
  CatalogueResources resources;
  EngineNotifications notifications;
  SystemEventLog events;
  VxvLink link;
  AppPipe pipe;
  RunConnection internet;
};

}  // namespace vtx::server
