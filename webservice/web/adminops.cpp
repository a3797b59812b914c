// The administrative operations: configuration files, a message through the server's channels and
// an update, each a command to vtxserver, when the setting AllowAdminWebService allows them.
#include <limits.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/currency/configfile.h"
#include "platform/heap.h"
#include "platform/messages.h"
#include "platform/native/syscalls.h"
#include "engine/foundation/servercommands.h"
#include "webservice/web/operations.h"

DWORD g_dwAdminUpdateTimeoutMs = 900000;

namespace Hulvane::Web::Services {

namespace {

constexpr UINT kIdAdminNotAllowed = 524;
constexpr char kConfigurations[] = "Configurations";
constexpr char kExtension[] = ".vx-cnf";

// The frame's first steps, then the administrator's switch.
class AdminCall {
 public:
  explicit AdminCall(const ManagedString& clientKey) {
    Validate(m_session, clientKey);
    if (!m_session.GetSettings().GetAllowAdminWebService()) ThrowAppException(kIdAdminNotAllowed);
  }

 private:
  CVantrexSession m_session;
};

[[noreturn]] void Refuse(const std::string& why) {
  throw WebException(WebException::Kind::Refused, why, "file", E_ACCESSDENIED);
}

// A server reply of its own facility names the text that explains it, unless a family in bits
// 13-15 marks it as a filter's code; anything else failing is the HRESULT's exception.
void ThrowServerReply(HRESULT hr) {
  if (!FAILED(hr)) return;
  if (IsServerFacility(hr) && (hr & 0xE000u) == 0) ThrowAppException(hr & 0xFFFFu);
  ThrowHResult(hr);
}

bool HasParentStep(const std::string& name) {
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      if (name.compare(start, i - start, "..") == 0 && i - start == 2) return true;
      start = i + 1;
    }
  }
  return false;
}

bool Inside(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return vtx::sys::Realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The file a configuration name stands for: a relative name inside the "Configurations" folder
// of the product folder, or an absolute path inside it; never a step up, never outside, also not
// through a symbolic link. The extension is added when the name lacks it.
std::string ConfigurationPath(const char* name) {
  if (!name || !*name) ThrowHResult(E_INVALIDARG);
  std::string file = name;
  if (HasParentStep(file)) Refuse("A configuration file name may not step out of its folder (\"..\").");
  CStringA folderText;
  HRESULT hr = GetVXFolderName(folderText, kConfigurations);
  if (FAILED(hr)) ThrowHResult(hr);
  std::string folder = folderText.c_str();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string path = file[0] == '/' ? file : folder + "/" + file;
  if (!Inside(path, folder)) Refuse("Configuration files are read and written only in the \"Configurations\" folder.");
  const size_t n = std::strlen(kExtension);
  if (path.size() < n || _stricmp(path.c_str() + path.size() - n, kExtension) != 0) path += kExtension;
  // The folder and whatever exists of the path, resolved, must still lie inside it.
  std::string realFolder = Canonical(folder);
  if (!realFolder.empty()) {
    std::string realPath = Canonical(path);
    if (realPath.empty()) {
      size_t slash = path.rfind('/');
      std::string parent = Canonical(path.substr(0, slash));
      if (!parent.empty()) realPath = parent + path.substr(slash);
    }
    if (!realPath.empty() && !Inside(realPath, realFolder))
      Refuse("Configuration files are read and written only in the \"Configurations\" folder.");
  }
  return path;
}

// WM_COPYDATA with the code and a payload of a u32 and a text; the transport's failure or the
// server's reply.
HRESULT SendCopyData(UINT code, uint32_t head, const std::string& text, DWORD timeoutMs) {
  if (!g_pfnSendVXVMessageTimeout) return E_SERVER_UNAVAILABLE;
  // The head, the text, its zero and three spare bytes.
  const size_t size = text.size() + 8;
  auto* block = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size));
  if (!block) return E_OUTOFMEMORY;
  std::memcpy(block, &head, 4);
  std::memcpy(block + 4, text.data(), text.size());
  COPYDATASTRUCT cds{code, static_cast<DWORD>(size), block};
  DWORD answer = 0;
  HRESULT hr = g_pfnSendVXVMessageTimeout(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), timeoutMs, &answer);
  LocalFree(block);
  return FAILED(hr) ? hr : answer;
}

HRESULT SendSettingsFileVXVMessage(UINT code, const std::string& path) {
  HRESULT hr = SendCopyData(code, 1, path, kAdminCommandTimeoutMs);
  ThrowServerReply(hr);
  return hr;
}

}  // namespace

void Vantrex::AdminLoad(const ManagedString& clientKey, const ManagedString& file) {
  AdminCall call(clientKey);
  StringToAnsi name(file);
  SendSettingsFileVXVMessage(WM_VX_IMPORTSETTINGS, ConfigurationPath(name.GetAnsi()));
}

void Vantrex::AdminSave(const ManagedString& clientKey, const ManagedString& file) {
  AdminCall call(clientKey);
  StringToAnsi name(file);
  SendSettingsFileVXVMessage(WM_VX_EXPORTSETTINGS, ConfigurationPath(name.GetAnsi()));
}

void Vantrex::AdminMessage(const ManagedString& clientKey, const ManagedString& text, int32_t type) {
  AdminCall call(clientKey);
  if (!text) ThrowNull("Text");
  StringToAnsi message(text);
  const size_t length = std::strlen(message.GetAnsi());
  if (length > kMaxAdminMessageBytes) ThrowArgument("The message is longer than 8192 bytes.", "text");
  const uint32_t style = type == 2 ? 0x10030u : type == 3 ? 0x10010u : 0x10000u;
  HRESULT hr = SendCopyData(WM_VX_SHOWMESSAGE, style, std::string(message.GetAnsi(), length),
                            kAdminCommandTimeoutMs);
  if (FAILED(hr)) ThrowHResult(hr);
}

void Vantrex::AdminUpdateNow(const ManagedString& clientKey) {
  AdminCall call(clientKey);
  if (!g_pfnSendVXVMessageTimeout) ThrowHResult(E_SERVER_UNAVAILABLE);
  DWORD answer = 0;
  HRESULT hr = g_pfnSendVXVMessageTimeout(WM_VX_UPDATENOW, 0, 0, g_dwAdminUpdateTimeoutMs, &answer);
  if (FAILED(hr)) ThrowHResult(hr);
  ThrowServerReply(answer);
}

}  // namespace Hulvane::Web::Services
