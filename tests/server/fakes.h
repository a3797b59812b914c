// Test stand-ins behind the server's seams: settings held in memory, an update thread with no data
// sources, notifications and event entries on stderr, English texts built in.
#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "server/engine.h"
#include "server/seams.h"

namespace vtx::server {

// The values the command window reads or changes, plus a stand-in for the rates data.
struct SettingsValues {
  NotificationTest channels;
  std::string channelStrings[5];
  bool messagesViaEmail = false;
  std::string emailProfile;
  std::string customAction;
  std::string rates;
};

class MemoryStore;

class MemorySettings : public Settings {
 public:
  explicit MemorySettings(MemoryStore& store) : store_(store) {}
  bool Create(HMODULE resourceLibrary) override;
  HRESULT Load() override;
  HRESULT Save() override;
  HRESULT SaveINI() override;
  HRESULT CopyFrom(const Settings& from) override;
  bool MessagesViaEmail() const override { return values.messagesViaEmail; }
  bool IsMessageEmailProfileSmtp() const override;
  HRESULT SetNotificationTest(const NotificationTest& test) override;
  HRESULT ExecuteCustomAction(HWND window, std::string& errorText) override;

  SettingsValues values;

 private:
  MemoryStore& store_;
};

// The "registry" of the in-memory settings: what Save wrote and Load reads, with counters and
// results that tests may set.
class MemoryStore : public SettingsStore {
 public:
  std::unique_ptr<Settings> NewSettings() override;
  HRESULT CanSaveSettings() override { return canSave; }
  BOOL AddUnitHits(const std::vector<HitCount>& counts) override;
  HRESULT ImportConfiguration(const char* path, DWORD addExtension, const vtx::Account* as) override;
  HRESULT ExportConfiguration(const char* path, DWORD addExtension, const vtx::Account* as) override;
  bool ReadAppString(const char* name, std::string& value) override;
  void UpgradeRegistryAtStartup() override;

  std::mutex lock;  // the update thread copies settings too
  SettingsValues stored;
  std::map<std::string, std::string> appStrings;
  std::map<std::string, DWORD> hits;
  int hitWrites = 0;  // batches written
  std::vector<std::string> imports, exports;
  HRESULT canSave = S_OK;
  HRESULT saveResult = S_OK;
  HRESULT saveIniResult = S_OK;
  HRESULT configFileResult = S_OK;
  bool createFails = false;
  int loads = 0, saves = 0, saveINIs = 0;
  MemorySettings* live = nullptr;  // the last settings that were created (Create)
};

// An update thread of its own with the scheduler's operations; `run` does the update on the
// thread's copy (without data sources the default reports E_NOTIMPL). Timer 1 is not scheduled.
class BasicScheduler : public UpdateScheduler {
 public:
  explicit BasicScheduler(SettingsStore& store) : store_(store) {}
  ~BasicScheduler() override;
  void Set(HMODULE resourceLibrary, UINT timerId, bool serviceFlag) override;
  void Schedule(Settings&, HWND) override {}
  void Kill(HWND hwnd) override;
  int KillAndTestIdle(HWND hwnd) override;
  HRESULT StartUpdate(Settings& settings, HWND hwnd, HICON icon) override;
  void SetLastAttempt(bool succeeded) override { lastAttemptFailed = !succeeded; }
  bool IsBusy() const override { return busy_.load(); }
  bool CustomActionDue() const override { return customActionDue.load(); }
  void ArmLastChangeTimer(Settings&, HWND) override {}
  void CheckLastChange(Settings&, HWND) override {}
  void ArmLastChangeEachTimer(Settings&, HWND) override {}
  void CheckLastChangeEach(Settings&, HWND) override {}

  std::function<HRESULT(Settings& copy)> run;
  std::atomic<bool> customActionDue{false};
  bool lastAttemptFailed = false;

 private:
  static DWORD ThreadMain(void* self);
  void OnRunUpdate();

  SettingsStore& store_;
  UINT timerId_ = 0xFFFFFFFF;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  HANDLE started_ = nullptr;
  HWND owner_ = nullptr;
  std::unique_ptr<Settings> copy_;
  std::atomic<bool> busy_{false};
};

// Notifications as lines on stderr ("vtxserver: caption: text"), refused while an update runs.
class StderrNotifications : public Notifications {
 public:
  StderrNotifications(UpdateScheduler& scheduler, Resources& resources)
      : scheduler_(scheduler), resources_(resources) {}
  HRESULT ShowNotification(Settings&, bool, HWND, const char* text, const char* caption, UINT type,
                           HMODULE) override;
  HRESULT ShowNotificationId(Settings&, bool, HWND, UINT textId, UINT captionId, UINT type, HMODULE module,
                             DWORD_PTR, DWORD_PTR, DWORD_PTR) override;
  HRESULT NotifyError(Settings&, bool, HWND, UINT textId, UINT captionId, HMODULE module, HRESULT hr) override;

 protected:
  virtual void Deliver(const std::string& caption, const std::string& text, UINT type);

 private:
  UpdateScheduler& scheduler_;
  Resources& resources_;
};

// English texts for the ids the server uses; boxes through MessageBoxA.
class BuiltInResources : public Resources {
 public:
  HMODULE LoadResourceLibrary(const char*) override;
  void FreeResourceLibrary(HMODULE) override {}
  int LoadString(HMODULE module, UINT id, char* buffer, int bufferSize) override;
  int FormatMessageBox(HWND owner, UINT textId, UINT captionId, UINT type, HMODULE module,
                       const char* insert) override;
  int MessageBoxHResultOK(HWND owner, UINT textId, UINT captionId, HMODULE module, HRESULT hr) override;
  // The text with %1 replaced, as the box would show it; empty when the string is missing.
  std::string Format(HMODULE module, UINT id, const char* insert);

  bool loadFails = false;
};

class StderrEventLog : public EventLog {
 public:
  void ReportServerEvent(DWORD eventId, WORD type, const void* data, DWORD dataSize) override;
};

// The internet library stays as it is: the tests make no downloads of their own.
class NoInternet : public InternetConnection {
 public:
  void Construct() override {}
  void Destroy() override {}
};

}  // namespace vtx::server
