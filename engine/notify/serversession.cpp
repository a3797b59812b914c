#include "engine/notify/serversession.h"

#include <cstring>
#include <string>

#include "engine/foundation/servercommands.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace vtx::notify {

HRESULT InConfigurationSession(const ServerCall& call, DWORD owner, bool reload, const std::function<HRESULT()>& work,
                               SessionStep* failedAt) {
  SessionStep step = SessionStep::Lock;
  DWORD reply = 0;
  HRESULT hr = call(WM_VX_LOCKCONFIG, owner, 0, &reply);
  if (SUCCEEDED(hr)) hr = static_cast<HRESULT>(reply);
  if (SUCCEEDED(hr)) {
    step = SessionStep::Work;
    hr = work();
    reply = 0;
    HRESULT unlocked = call(WM_VX_UNLOCKCONFIG, reload && SUCCEEDED(hr) ? 1 : 0, 0, &reply);
    if (SUCCEEDED(hr) && FAILED(unlocked)) {
      step = SessionStep::Unlock;
      hr = unlocked;
    }
  }
  if (failedAt) *failedAt = step;
  return hr;
}

HRESULT SendConfigurationFile(const ServerCall& call, bool import, const char* path) {
  if (!path || !*path) return E_INVALIDARG;
  const size_t length = std::strlen(path);
  if (length > 0x7FFFFFF0u) return E_INVALIDARG;
  // SettingsFileData: the flag, the path with its NUL and three spare bytes (cbData = path + 8).
  std::string payload(length + 8, '\0');
  const DWORD addExtension = 1;
  std::memcpy(payload.data(), &addExtension, sizeof addExtension);
  std::memcpy(payload.data() + 4, path, length);
  COPYDATASTRUCT cds{import ? WM_VX_IMPORTSETTINGS : WM_VX_EXPORTSETTINGS, static_cast<DWORD>(payload.size()),
                     payload.data()};
  DWORD reply = 0;
  HRESULT hr = call(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), &reply);
  return FAILED(hr) ? hr : static_cast<HRESULT>(reply);
}

HRESULT ConfigurationFileAsCaller(const ServerCall& call, bool import, const char* path,
                                  const std::function<HRESULT()>& own) {
  HRESULT hr = SendConfigurationFile(call, import, path);
  if (hr != E_ACCESSDENIED) return hr;
  // As the server itself would: the lock of an import or export, and a reload after an import.
  return InConfigurationSession(call, 1, import, own);
}

}  // namespace vtx::notify
