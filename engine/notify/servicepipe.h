// The pipe of vtxservice and its requests (vtxmanager and vtxmessenger ask them).
#pragma once
#include "engine/foundation/servercommands.h"  // g_szServicePipe
#include "platform/types.h"

// Plain messages.
constexpr DWORD VXSVC_ISLOCALSYSTEM = 1;  // 1 when the service runs as LocalSystem (uid 0)
constexpr DWORD VXSVC_PING = 3;           // 1
// The dwData of a WM_COPYDATA request whose data is an account name, NUL-terminated: 1 when the
// service runs as that account.
constexpr DWORD VXSVC_ISSERVICEACCOUNT = 2;
