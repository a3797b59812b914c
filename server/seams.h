// What the server calls on the rest of the system. Each interface holds exactly the operations
// that the start-up and the command window use: the program puts the engine's classes behind them
// (engine.h), the tests their own stand-ins.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/servercommands.h"
#include "platform/messages.h"
#include "platform/process.h"

namespace vtx::server {

// TestNotificationData, read out of its payload.
struct NotificationTest {
  DWORD messagesToLog = 0;
  DWORD messagesToFile = 0;
  DWORD messagesViaEmail = 0;
  DWORD messagesOnScreen = 0;
  // Profile, recipients, sender, SMTP server, messages file; empty means "not set".
  const char* strings[5] = {"", "", "", "", ""};
};

// CSettings: the server's configuration and rates data.
class Settings {
 public:
  virtual ~Settings() = default;
  // Allocates the data block and loads it (first load); false when out of memory.
  virtual bool Create(HMODULE resourceLibrary) = 0;
  virtual HRESULT Load() = 0;
  virtual HRESULT Save() = 0;
  // Stores the rates data under "INI".
  virtual HRESULT SaveINI() = 0;
  virtual HRESULT CopyFrom(const Settings& from) = 0;
  virtual bool MessagesViaEmail() const = 0;
  virtual bool IsMessageEmailProfileSmtp() const = 0;
  // Puts the test notification's four switches and five strings into these settings. A messages
  // file other than the configured one or a file of the log folder is refused: the file channel is
  // then off and the result 0x80070005.
  virtual HRESULT SetNotificationTest(const NotificationTest& test) = 0;
  // Runs the custom action; on failure an error text may come back in errorText.
  virtual HRESULT ExecuteCustomAction(HWND window, std::string& errorText) = 0;
};

// Uses of one currency, as the hit counters add them.
struct HitCount {
  std::string code;
  uint64_t count = 0;
};

// Settings services, the configuration file and the registry upgrade of the application key.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::unique_ptr<Settings> NewSettings() = 0;
  // 0, or 0x80070005 when the application key cannot be written.
  virtual HRESULT CanSaveSettings() = 0;
  // Adds the counts to the hit counters in one step: 1 on success, 0 on failure (nothing added).
  virtual BOOL AddUnitHits(const std::vector<HitCount>& counts) = 0;
  // With `as`, the file is read or written with that account's rights (the caller of the request).
  virtual HRESULT ImportConfiguration(const char* path, DWORD addExtension, const vtx::Account* as) = 0;
  virtual HRESULT ExportConfiguration(const char* path, DWORD addExtension, const vtx::Account* as) = 0;
  // A string value of the application key; false when it is missing.
  virtual bool ReadAppString(const char* name, std::string& value) = 0;
  virtual void UpgradeRegistryAtStartup() = 0;
};

// UpdateTimer with its embedded update thread and the staleness timers.
class UpdateScheduler {
 public:
  virtual ~UpdateScheduler() = default;
  virtual void Set(HMODULE resourceLibrary, UINT timerId, bool serviceFlag) = 0;
  virtual void Schedule(Settings& settings, HWND hwnd) = 0;
  virtual void Kill(HWND hwnd) = 0;
  // 1 when the timer was killed and the update thread is idle, else 0.
  virtual int KillAndTestIdle(HWND hwnd) = 0;
  virtual HRESULT StartUpdate(Settings& settings, HWND hwnd, HICON icon) = 0;
  virtual void SetLastAttempt(bool succeeded) = 0;
  // The update thread's busy and custom-action-due flags.
  virtual bool IsBusy() const = 0;
  virtual bool CustomActionDue() const = 0;
  virtual void ArmLastChangeTimer(Settings& settings, HWND hwnd) = 0;
  virtual void CheckLastChange(Settings& settings, HWND hwnd) = 0;
  virtual void ArmLastChangeEachTimer(Settings& settings, HWND hwnd) = 0;
  virtual void CheckLastChangeEach(Settings& settings, HWND hwnd) = 0;
  // The settings that a WM_VX_UPDATEDONE or WM_VX_DEFINITIONSDONE carries in its wParam.
  virtual Settings* ReportedSettings(WPARAM wParam) { return reinterpret_cast<Settings*>(wParam); }
  // WM_VX_UPDATEIDLE: the notices that waited for the hand-over go out now.
  virtual void OnUpdateIdle(Settings& settings, HWND hwnd) {
    (void)settings;
    (void)hwnd;
  }
};

// The update thread's notification calls from the main thread. Each refuses with 0x80070420
// while an update runs.
class Notifications {
 public:
  virtual ~Notifications() = default;
  virtual HRESULT ShowNotification(Settings& settings, bool serviceFlag, HWND owner, const char* text,
                                   const char* caption, UINT type, HMODULE resourceLibrary) = 0;
  virtual HRESULT ShowNotificationId(Settings& settings, bool serviceFlag, HWND owner, UINT textId, UINT captionId,
                                     UINT type, HMODULE resourceLibrary, DWORD_PTR insert1, DWORD_PTR insert2,
                                     DWORD_PTR insert3) = 0;
  virtual HRESULT NotifyError(Settings& settings, bool serviceFlag, HWND owner, UINT textId, UINT captionId,
                              HMODULE resourceLibrary, HRESULT hr) = 0;
};

// The language resource library and its message boxes.
class Resources {
 public:
  virtual ~Resources() = default;
  virtual HMODULE LoadResourceLibrary(const char* appKeyPath) = 0;
  virtual void FreeResourceLibrary(HMODULE module) = 0;
  // Characters copied (without the NUL), 0 when the string is missing.
  virtual int LoadString(HMODULE module, UINT id, char* buffer, int bufferSize) = 0;
  // The box's answer, 0 on any failure. `insert` may be null.
  virtual int FormatMessageBox(HWND owner, UINT textId, UINT captionId, UINT type, HMODULE module,
                               const char* insert) = 0;
  virtual int MessageBoxHResultOK(HWND owner, UINT textId, UINT captionId, HMODULE module, HRESULT hr) = 0;
  // Whether a question can be put to someone (a terminal); without one a box takes its default.
  virtual bool CanAsk() { return true; }
};

// ReportServerEvent: one entry of the event source "Hulvane Vantrex".
class EventLog {
 public:
  virtual ~EventLog() = default;
  virtual void ReportServerEvent(DWORD eventId, WORD type, const void* data, DWORD dataSize) = 0;
};

// CanSendVXVMessages / SendVXVMessage.
class ServerLink {
 public:
  virtual ~ServerLink() = default;
  virtual BOOL CanSendVXVMessages() = 0;
  virtual HRESULT SendVXVMessage(UINT msg, WPARAM wParam, LPARAM lParam, DWORD* result) = 0;
  virtual HRESULT SendVXVMessageTimeout(UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, DWORD* result) = 0;
};

// CPipeMessageServer on the application pipe.
class PipeServer {
 public:
  virtual ~PipeServer() = default;
  virtual HRESULT Create(const char* pipeName) = 0;
  // The event that is signalled when a request waits; null when there is no pipe.
  virtual HANDLE GetEvent() = 0;
  // Serves one request through `proc` as if it were a message to `hwnd`.
  virtual HRESULT ServeRequest(HWND hwnd, WNDPROC proc) = 0;
  // Inside a request: the account of the process that sent it; false when it cannot be told.
  virtual bool Caller(vtx::Account* account) = 0;
  // Inside a request: its caller has gone and will never see the answer.
  virtual bool CallerGone() { return false; }
  // The message code of the oldest waiting request, which stays waiting; false when none waits.
  virtual bool NextMessage(DWORD* msg) {
    (void)msg;
    return false;
  }
  virtual void Destroy() = 0;
};

// The CINetConnection that keeps the internet library loaded for the whole run.
class InternetConnection {
 public:
  virtual ~InternetConnection() = default;
  virtual void Construct() = 0;
  virtual void Destroy() = 0;
};

struct Seams {
  SettingsStore* store = nullptr;
  UpdateScheduler* scheduler = nullptr;
  Notifications* notifications = nullptr;
  Resources* resources = nullptr;
  EventLog* events = nullptr;
  ServerLink* link = nullptr;
  PipeServer* pipe = nullptr;
  InternetConnection* internet = nullptr;
};

}  // namespace vtx::server
