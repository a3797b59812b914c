// The rates update over the configured data sources, and the engine through which the update
// thread runs it.
#pragma once
#include <memory>

#include "engine/update/fetchsettings.h"
#include "engine/update/fetchsource.h"
#include "engine/update/runnotify.h"
#include "engine/update/updatesettings.h"
#include "engine/update/updatethread.h"


// The run's result when no source set a rate and nothing else accepts it.
constexpr HRESULT kNoRatesSet = 0x80070450;

class CUpdateEngine : public IUpdateEngine {
 public:
  // Fetches the data sources of thread.GetSettings() (a CUpdateSettings) in the order of
  // "MultiServerMode", checks the new rates and reports; on success the copy holds the new data.
  HRESULT UpdateRun(CUpdateThread& thread) override;
  // There is no currency-definitions check: 0x80004001.
  HRESULT CheckDefinitions(CUpdateThread& thread, const char* unknownCodes) override;
  // Through every channel the thread's settings switch on.
  void Notify(CUpdateThread& thread, HWND owner, const char* text, const char* caption, UINT type,
              HMODULE resourceLibrary) override;
  void ArchiveRun(CUpdateThread& thread) override;

  // An informational text (the data sources' own message).
  virtual void NotifyInfo(CUpdateThread& thread, HWND owner, const char* text, HMODULE resourceLibrary);
  // Sets the agent for a request to `address` (null: the connection as a whole).
  virtual void MakeUserAgent(CUpdateThread& thread, CINetConnection& connection, const char* address);

  CRunNotifier& Notifier() { return m_notifier; }

 private:
  CRunNotifier m_notifier;
};

// The engine the server runs its updates with.
std::unique_ptr<IUpdateEngine> MakeUpdateEngine();

// The update thread as a fetch sees it: the thread's settings copy, its resource library and run
// log, the engine's user agent, and pauses that end when the thread is asked to stop.
class CUpdateFetchThread : public CFetchThread {
 public:
  CUpdateFetchThread(CUpdateThread& thread, CUpdateEngine& engine, CSettings& settings);

  CFetchSettings& GetSettings() override { return m_fetch; }
  HMODULE GetResourceLibrary() override { return m_thread.GetResourceLibrary(); }
  CStringList<char>& GetRunLog(FetchLogList which) override;
  void MakeUserAgent(CINetConnection& connection, const char* address) override;
  bool Sleep(DWORD ms) override;

  CSettingsFetch& GetFetchSettings() { return m_fetch; }

 private:
  CUpdateThread& m_thread;
  CUpdateEngine& m_engine;
  CSettingsFetch m_fetch;
};
