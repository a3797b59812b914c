// Sending a command of the server command set to the running vtxserver: its window when it is in
// this process, else its pipe.
#pragma once
#include "platform/types.h"

// 1 when the server can be reached.
BOOL CanSendVXVMessages();
// The reply goes to *result (may be null). 0x8007053D when no server runs, 0x800705B4 on a time-out.
// A time-out of 0 or 1 waits without limit.
HRESULT SendVXVMessageTimeout(UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, DWORD* result);
HRESULT SendVXVMessage(UINT msg, WPARAM wParam, LPARAM lParam, DWORD* result);
