// The update thread: every update of the server runs here on a private copy of the settings,
// which goes back to the owner window by SendMessage when the run is over.
#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/cstring.h"
#include "engine/foundation/servercommands.h"
#include "engine/foundation/stringlist.h"
#include "engine/foundation/workerthread.h"
#include "engine/notify/notifychannels.h"
#include "engine/update/inetconnection.h"
#include "platform/messages.h"

// The operations of the settings (CSettings) that the update thread and the hand-over of its
// result use. Texts handed out are on the global heap (GlobalFree).
class IUpdateSettings {
 public:
  virtual ~IUpdateSettings() = default;
  // Deep copy; false when memory runs out, this copy then unchanged.
  virtual bool CopyFrom(const IUpdateSettings& other) = 0;
  // No stored time of the last definitions check, or the later one 7 days old or more.
  virtual bool IsTimeToLoadEMU() const = 0;
  virtual BOOL GetHangUp() const = 0;
  virtual void SetHangUp(BOOL hangUp) = 0;
  // CustomAction not empty.
  virtual bool HasCustomAction() const = 0;
  // The ExecuteCustomAction rule: 0 always, 1 after a success, 2 after a success that changed rates.
  virtual DWORD GetExecuteCustomAction() const = 0;
  virtual DWORD GetUnknownCurrencies() const = 0;
  // CCurrencyList::CopyFrom: the active records (CurrencyInfo blocks) into `list`.
  virtual bool CopyActiveCurrencies(CStringList<char>& list) const = 0;
  // CCurrencyList::CompareRates against the active list: a code on one side only or a rate not equal.
  virtual bool ActiveRatesDiffer(const CStringList<char>& list) const = 0;
  // CAllCurrencies::SetRates of the currency database with the active list and the locale list.
  virtual HRESULT SetRates(uint32_t mode, char** unknownCodes, uint32_t* unknownCount, char** removedCodes,
                           uint32_t* removedCount) = 0;
  // CAllCurrencies::Compare of the currency database with one freshly built from the built-in
  // table (without touching the stored data): the codes new since installation.
  virtual HRESULT CompareWithBuiltInTable(char** newCodes, uint32_t* newCount) const = 0;
  // The values that configure an internet connection (FillConnectionBlock).
  virtual void GetConnectionSettings(INetConnectionSettings& out) const = 0;
  // Stores the rates data under "INI".
  virtual HRESULT SaveINI() = 0;
  // Runs the custom action; on failure an error text may come back (GlobalFree it).
  virtual HRESULT ExecuteCustomAction(HWND window, char** errorText) = 0;
};

class CUpdateThread;

// What the thread calls on the rest of the update engine: the update run, the currency-
// definitions check, the notification fan-out and the run archive.
class IUpdateEngine {
 public:
  virtual ~IUpdateEngine() = default;
  // The rates update over the data sources, on thread.GetSettings().
  virtual HRESULT UpdateRun(CUpdateThread& thread) = 0;
  // unknownCodes: codes separated by ";", or null for the periodic check.
  virtual HRESULT CheckDefinitions(CUpdateThread& thread, const char* unknownCodes) = 0;
  // One message through every channel that thread.GetSettings() switches on; collected into the
  // run messages unless collecting is off.
  virtual void Notify(CUpdateThread& thread, HWND owner, const char* text, const char* caption, UINT type,
                      HMODULE resourceLibrary) = 0;
  // Writes the run's log lists and messages into a run folder.
  virtual void ArchiveRun(CUpdateThread& thread) = 0;
  // Ends a dial-up connection that this process made: a connection with the settings' block,
  // opened and closed.
  virtual void HangUp(const IUpdateSettings& settings);
};

// One of the seven run log lists: item i belongs to the i-th fetch of the run.
enum RunLogList : uint32_t {
  RunLogUrl = 0,
  RunLogSourceName,
  RunLogAddress,
  RunLogContents,
  RunLogLength,
  RunLogTime,
  RunLogConverted,
  RunLogListCount
};

class CUpdateThread : public CWorkerThread {
 public:
  // `copy` is the thread's private settings object; `engine` outlives the thread.
  CUpdateThread(std::unique_ptr<IUpdateSettings> copy, IUpdateEngine& engine);
  ~CUpdateThread() override;

  // Starts the thread (3 seconds for its start-up); success at once when it runs.
  HRESULT Start(HMODULE resourceLibrary, bool serviceFlag);
  // Hands a copy of `settings` to the thread and posts the run: 0x80004005 when the thread is not
  // running, 0x80070420 while a run is under way, 0x8007000E when the copy fails.
  HRESULT PostUpdate(const IUpdateSettings& settings, HWND owner, HICON icon, bool definitionsOnly);
  bool IsBusy() const { return m_busy.load(); }
  // Read by the owner while it applies the result.
  bool IsCustomActionDue() const { return m_customActionDue.load(); }

  // Notices of the main thread through the thread's channels. Refused with 0x80070420 while a run
  // is under way; while the run hands its result over they wait instead and go out when the thread
  // reports idle (SendDeferredNotices).
  HRESULT ShowNotification(const IUpdateSettings& settings, bool serviceFlag, HWND owner, const char* text,
                           const char* caption, UINT type, HMODULE resourceLibrary);
  HRESULT ShowNotificationId(const IUpdateSettings& settings, bool serviceFlag, HWND owner, UINT textId,
                             UINT captionId, UINT type, HMODULE resourceLibrary, DWORD_PTR insert1 = 0,
                             DWORD_PTR insert2 = 0, DWORD_PTR insert3 = 0);
  HRESULT NotifyError(const IUpdateSettings& settings, bool serviceFlag, HWND owner, UINT textId, UINT captionId,
                      HMODULE resourceLibrary, HRESULT hr);
  // On WM_VX_UPDATEIDLE: sends what waited during the hand-over, with `settings` (the owner's).
  void SendDeferredNotices(const IUpdateSettings& settings);
  size_t DeferredNoticeCount() const { return m_deferred.size(); }

  // The thread's fan-out (run side).
  void Notify(HWND owner, const char* text, const char* caption, UINT type, HMODULE resourceLibrary);
  // Loads caption (500) and text (4000), formats the text over three numeric inserts and notifies
  // it; a missing string ends it silently.
  void NotifyId(HWND owner, UINT textId, UINT captionId, UINT type, HMODULE resourceLibrary, DWORD_PTR insert1,
                DWORD_PTR insert2, DWORD_PTR insert3);

  // State the run and the notifications work with.
  IUpdateSettings& GetSettings() { return *m_settingsInUse; }
  void SetSettingsInUse(IUpdateSettings* settings) { m_settingsInUse = settings ? settings : m_copy.get(); }
  IUpdateSettings& GetCopy() { return *m_copy; }
  HWND GetOwner() const { return m_owner; }
  HMODULE GetResourceLibrary() const { return m_resourceLibrary; }
  HICON GetIcon() const { return m_icon; }
  bool GetServiceFlag() const { return m_serviceFlag; }
  int32_t GetSourceIndex() const { return m_sourceIndex; }
  void SetSourceIndex(int32_t index) { m_sourceIndex = index; }
  bool IsCollectingOff() const { return m_collectingOff; }
  void SetCollectingOff(bool off) { m_collectingOff = off; }
  void SetCustomActionDue(bool due) { m_customActionDue = due; }
  CStringList<char>& GetRunLog(RunLogList which) { return m_runLog[which]; }
  CString<char>& GetRunMessages() { return m_runMessages; }

  // The thread's message handling: runs WM_VX_RUNUPDATE and WM_VX_CHECKDEFINITIONS.
  BOOL OnMessage(MSG* msg);

 protected:
  HRESULT OnInitialize() override { return S_OK; }
  void OnRun() override {}
  BOOL PreTranslateMessage(MSG* msg) override { return OnMessage(msg); }
  void OnExit() override {}

 private:
  struct DeferredNotice {
    std::string text, caption;
    UINT type;
    HWND owner;
    bool serviceFlag;
    HMODULE resourceLibrary;
  };
  // Refuses while busy; during the hand-over keeps the notice for later (*deferred true).
  HRESULT Admit(bool* deferred);
  void Prepare(const IUpdateSettings& settings, bool serviceFlag, HWND owner, bool* copied);
  HRESULT Deliver(const IUpdateSettings& settings, bool serviceFlag, HWND owner, const char* text,
                  const char* caption, UINT type, HMODULE resourceLibrary);
  void AnnounceCodes(UINT textId, const char* codes, uint32_t count);
  void Report(UINT msg, WPARAM wParam, LPARAM lParam);

  std::unique_ptr<IUpdateSettings> m_copy;
  IUpdateEngine& m_engine;
  IUpdateSettings* m_settingsInUse;
  HWND m_owner = nullptr;
  HMODULE m_resourceLibrary = nullptr;
  HICON m_icon = nullptr;
  bool m_serviceFlag = false;
  std::atomic<bool> m_busy{false};
  std::atomic<bool> m_handingOver{false};
  std::atomic<bool> m_customActionDue{false};
  int32_t m_sourceIndex = -1;
  CStringList<char> m_runLog[RunLogListCount];
  CString<char> m_runMessages;
  bool m_collectingOff = false;
  std::vector<DeferredNotice> m_deferred;  // the main thread's alone
};
