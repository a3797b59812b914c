// The engine's own classes behind the server's seams, for the program (the tests may use the
// stand-ins of defaults.h where they drive behaviour the engine would make slow or external).
#pragma once
#include "engine/foundation/resourcelib.h"
#include "server/defaults.h"

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
};

// Entries of the event source "Hulvane Vantrex" through the system's event log.
class SystemEventLog : public EventLog {
 public:
  void ReportServerEvent(DWORD eventId, WORD type, const void* data, DWORD dataSize) override;

 private:
  CEventLog log_;
};

// The settings are still kept in memory; the start-up registry upgrade is the real one.
class ProgramStore : public MemoryStore {
 public:
  void UpgradeRegistryAtStartup() override;
};

struct ProgramSeams {
  ProgramSeams();
  Seams seams() { return Seams{&store, &scheduler, &notifications, &resources, &events, &link, &pipe, &internet}; }
  ProgramStore store;
  BasicScheduler scheduler;
  CatalogueResources resources;
  StderrNotifications notifications;
  SystemEventLog events;
  VxvLink link;
  AppPipe pipe;
  NoInternet internet;
};

}  // namespace vtx::server
