// A configuration session of the running server for a program that writes or reads the store
// itself, and the configuration-file commands (import, export) with the rights of their caller.
#pragma once
#include <functional>

#include "platform/types.h"

namespace vtx::notify {

// Sends the running server one command: the transport's result, the server's reply in *reply.
using ServerCall = std::function<HRESULT(UINT msg, WPARAM wParam, LPARAM lParam, DWORD* reply)>;

// Where a configuration session ended.
enum class SessionStep { Lock, Work, Unlock };

// Runs `work` inside a configuration session of the running server: its lock is taken first as
// `owner` (0 a manager's session, 1 an import or export), then `work` runs, and the lock is given
// back whatever `work` did: with a reload when `reload` is set and `work` succeeded, so that the
// server takes what was written and its own saves keep it. The first failure (a refused lock, a
// server that does not answer), with its step in *failedAt when given.
HRESULT InConfigurationSession(const ServerCall& call, DWORD owner, bool reload, const std::function<HRESULT()>& work,
                               SessionStep* failedAt = nullptr);

// Asks the running server to import or export the configuration file `path` (SettingsFileData:
// ".vx-cnf" is added to a name without it): the transport's failure or the server's reply.
HRESULT SendConfigurationFile(const ServerCall& call, bool import, const char* path);

// Import or export of `path` with the rights of this program's account. The running server opens
// the file itself when it can take the caller's rights; one that cannot (it runs under the
// product's account, and another account asks, root included) refuses with 0x80070005, and `own`
// then reads or writes the file with this program's rights inside the server's configuration
// session, which an import ends with a reload. A caller whom the file refuses gets 0x80070005 both
// ways.
HRESULT ConfigurationFileAsCaller(const ServerCall& call, bool import, const char* path,
                                  const std::function<HRESULT()>& own);

}  // namespace vtx::notify
