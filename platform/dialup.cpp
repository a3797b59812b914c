#include "platform/dialup.h"

#include <cstring>

#include "platform/errors.h"

DWORD RasDialA(LPVOID, LPCSTR, RASDIALPARAMSA*, DWORD, LPVOID, HRASCONN* connection) {
  if (connection) *connection = nullptr;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD RasGetConnectStatusA(HRASCONN, RASCONNSTATUSA*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD RasHangUpA(HRASCONN) { return ERROR_CALL_NOT_IMPLEMENTED; }

DWORD RasGetErrorStringA(UINT, LPSTR buffer, DWORD bufferSize) {
  if (buffer && bufferSize) buffer[0] = 0;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD RasEnumConnectionsA(RASCONNA*, DWORD*, DWORD* count) {
  if (count) *count = 0;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD RasEnumEntriesA(LPCSTR, LPCSTR, RASENTRYNAMEA*, DWORD*, DWORD* count) {
  if (count) *count = 0;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD RasEditPhonebookEntryA(void*, LPCSTR, LPCSTR) { return ERROR_CALL_NOT_IMPLEMENTED; }

namespace vtx::dialup {
bool Available() { return false; }
}  // namespace vtx::dialup
