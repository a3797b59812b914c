#include "engine/notify/reachserver.h"

#include "engine/foundation/servercommands.h"
#include "engine/notify/pipemessage.h"
#include "platform/errors.h"
#include "platform/messages.h"

BOOL CanSendVXVMessages() {
  if (FindWindowA(g_szAppWindowClass, nullptr)) return TRUE;
  return CPipeMessageClient::PipeExists(g_szAppPipe);
}

HRESULT SendVXVMessageTimeout(UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, DWORD* result) {
  if (HWND hwnd = FindWindowA(g_szAppWindowClass, nullptr)) {
    if (timeoutMs <= 1) {
      LRESULT r = SendMessageA(hwnd, msg, wParam, lParam);
      if (result) *result = static_cast<DWORD>(r);
      return S_OK;
    }
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(hwnd, msg, wParam, lParam, SMTO_BLOCK, timeoutMs, &r)) return E_TIMEOUT;
    if (result) *result = static_cast<DWORD>(r);
    return S_OK;
  }
  CPipeMessageClient client;
  DWORD reply = 0;
  HRESULT hr = client.SendMessageTimeoutA(g_szAppPipe, msg, wParam, lParam, timeoutMs, &reply);
  if (result) *result = reply;
  return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? E_SERVER_UNAVAILABLE : hr;
}

HRESULT SendVXVMessage(UINT msg, WPARAM wParam, LPARAM lParam, DWORD* result) {
  return SendVXVMessageTimeout(msg, wParam, lParam, 0, result);
}
