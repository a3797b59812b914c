#include "platform/dialup.h"

#include <cstring>

#include "platform/errors.h"

DWORD RasDialA(LPVOID, LPCSTR, RASDIALPARAMSA*, DWORD, LPVOID, HRASCONN* connection) {
  if (connection) *connection = nullptr;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD RasGetConnectStatusA(HRASCONN, RASCONNSTATUSA*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD RasHangUpA(HRASCONN) { return ERROR_CALL_NOT_IMPLEMENTED; }

// The only errors here are the system's own.
DWORD RasGetErrorStringA(UINT error, LPSTR buffer, DWORD bufferSize) {
  if (!buffer || !bufferSize) return ERROR_INVALID_PARAMETER;
  const char* text = vtx::SystemErrorText(error);
  if (!text) text = "";
  size_t n = std::strlen(text);
  if (n >= bufferSize) return ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(buffer, text, n + 1);
  return ERROR_SUCCESS;
}

DWORD RasEnumConnectionsA(RASCONNA*, DWORD* bytes, DWORD* count) {
  if (!bytes || !count) return ERROR_INVALID_PARAMETER;
  *bytes = 0;
  *count = 0;
  return ERROR_SUCCESS;
}

DWORD RasEnumEntriesA(LPCSTR, LPCSTR, RASENTRYNAMEA*, DWORD* bytes, DWORD* count) {
  if (!bytes || !count) return ERROR_INVALID_PARAMETER;
  *bytes = 0;
  *count = 0;
  return ERROR_SUCCESS;
}

DWORD RasEditPhonebookEntryA(void*, LPCSTR, LPCSTR) { return ERROR_CALL_NOT_IMPLEMENTED; }

namespace vtx::dialup {
bool Available() { return false; }
}  // namespace vtx::dialup
