// The rates update over the configured data sources, and the engine through which the update
// thread runs it.
#pragma once
#include <initializer_list>
#include <memory>
#include <string>

#include "engine/update/fetchsettings.h"
#include "engine/update/fetchsource.h"
#include "engine/update/runnotify.h"
#include "engine/update/updatesettings.h"
#include "engine/update/updatethread.h"
#include "platform/resources.h"


// The run's result when no source set a rate and nothing else accepts it.
constexpr HRESULT kNoRatesSet = 0x80070450;

class CUpdateEngine : public IUpdateEngine {
 public:
  // Fetches the data sources of thread.GetSettings() (a CUpdateSettings) in the order of
  // "MultiServerMode", checks the new rates and reports; on success the copy holds the new data.
  HRESULT UpdateRun(CUpdateThread& thread) override;
  // The currency-definitions update run from the maker's update text (RunDefinitionsCheck).
  HRESULT CheckDefinitions(CUpdateThread& thread, const char* unknownCodes) override;
  // Where that run starts: DefinitionsAddress() unless set.
  void SetDefinitionsAddress(const char* address) { m_definitionsAddress = address ? address : ""; }
  // Through every channel the thread's settings switch on.
  void Notify(CUpdateThread& thread, HWND owner, const char* text, const char* caption, UINT type,
              HMODULE resourceLibrary) override;
  void ArchiveRun(CUpdateThread& thread) override;

  // An informational text (the data sources' own message).
  virtual void NotifyInfo(CUpdateThread& thread, HWND owner, const char* text, HMODULE resourceLibrary);
  // Sets the agent for a request to `address` (null: the connection as a whole).
  virtual void MakeUserAgent(CUpdateThread& thread, CINetConnection& connection, const char* address);
  // Writes to the event log whatever the channels say.
  void LogEvent(const char* text, UINT type);

  CRunNotifier& Notifier() { return m_notifier; }

 private:
  CRunNotifier m_notifier;
  std::string m_definitionsAddress;
};

namespace vtx::update {
// TAB-separated items joined for a sentence (strings 96 and 97).
std::string Joined(const std::string& items, HMODULE module);
// "0x" and the code in hexadecimal.
std::string Hex(HRESULT hr);
// The system's text of a code without its closing line end, else the code in hexadecimal.
std::string SystemText(HRESULT hr);
}  // namespace vtx::update

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
