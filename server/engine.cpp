#include "server/engine.h"

#include <cstring>

#include "engine/foundation/regupgrade.h"
#include "engine/foundation/resourcelib.h"
#include "platform/eventlog.h"
#include "platform/resources.h"
#include "platform/ui.h"

namespace vtx::server {

namespace {
const char kEventSource[] = "Hulvane Vantrex";

int TerminalMessageBox(void* window, const char* text, const char* caption, UINT type) {
  return ::MessageBoxA(static_cast<HWND>(window), text, caption, type);
}
}  // namespace

HMODULE CatalogueResources::LoadResourceLibrary(const char* appKeyPath) { return ::LoadResourceLibrary(appKeyPath); }

void CatalogueResources::FreeResourceLibrary(HMODULE module) {
  if (module) FreeLibrary(module);
}

int CatalogueResources::LoadString(HMODULE module, UINT id, char* buffer, int bufferSize) {
  return LoadStringA(module, id, buffer, bufferSize);
}

int CatalogueResources::FormatMessageBox(HWND owner, UINT textId, UINT captionId, UINT type, HMODULE module,
                                         const char* insert) {
  return insert ? ::FormatMessageBox(owner, textId, captionId, type, module, insert)
                : ::FormatMessageBox(owner, textId, captionId, type, module);
}

int CatalogueResources::MessageBoxHResultOK(HWND owner, UINT textId, UINT captionId, HMODULE module, HRESULT hr) {
  return ::MessageBoxHResultOK(owner, textId, captionId, module, hr);
}

void SystemEventLog::ReportServerEvent(DWORD eventId, WORD type, const void* data, DWORD dataSize) {
  if (!log_.IsAvailable()) return;
  HANDLE source = log_.m_pRegisterEventSourceA(nullptr, kEventSource);
  if (!source) return;
  log_.m_pReportEventA(source, type, 0, eventId, nullptr, 0, dataSize, nullptr, const_cast<void*>(data));
  log_.m_pDeregisterEventSource(source);
}

void ProgramStore::UpgradeRegistryAtStartup() { ::UpgradeRegistryAtStartup(); }

ProgramSeams::ProgramSeams() : scheduler(store), notifications(scheduler, resources) {
  // A box of the server is answered on the terminal when there is one, else at once.
  vtx::SetMessageBoxHandler(TerminalMessageBox);
}

}  // namespace vtx::server
