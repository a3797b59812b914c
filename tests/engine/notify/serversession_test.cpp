#include "engine/notify/serversession.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/foundation/servercommands.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace {

using vtx::notify::SessionStep;

// A server that answers each command from a script and keeps what it was sent.
struct ScriptedServer {
  HRESULT transport = S_OK;  // for every command
  HRESULT lockReply = S_OK;
  HRESULT fileReply = S_OK;
  HRESULT unlockTransport = S_OK;
  std::vector<std::string> sent;  // "lock 1", "unlock 0", "import <path>", ...

  vtx::notify::ServerCall Call() {
    return [this](UINT msg, WPARAM wParam, LPARAM lParam, DWORD* reply) -> HRESULT {
      if (FAILED(transport)) return transport;
      *reply = 0;
      if (msg == WM_VX_LOCKCONFIG) {
        sent.push_back("lock " + std::to_string(wParam));
        *reply = static_cast<DWORD>(lockReply);
      } else if (msg == WM_VX_UNLOCKCONFIG) {
        sent.push_back("unlock " + std::to_string(wParam));
        return unlockTransport;
      } else if (msg == WM_COPYDATA) {
        auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const char* data = static_cast<const char*>(cds->lpData);
        DWORD flag = 0;
        std::memcpy(&flag, data, 4);
        std::string path(data + 4);
        // SettingsFileData: the flag, the path and its NUL, three spare bytes.
        EXPECT_EQ(cds->cbData, path.size() + 8);
        EXPECT_EQ(flag, 1u);
        sent.push_back(std::string(cds->dwData == WM_VX_IMPORTSETTINGS ? "import " : "export ") + path);
        *reply = static_cast<DWORD>(fileReply);
      }
      return S_OK;
    };
  }
};

TEST(ServerSession, ConfigurationFileByTheServerOrInItsSession) {
  struct Case {
    const char* name;
    bool import;
    HRESULT fileReply, lockReply, own, result;
    std::vector<std::string> sent;
    int ownRuns;
  } cases[] = {
      {"the server opens the file", true, S_OK, S_OK, S_OK, S_OK, {"import /f"}, 0},
      {"the server's other refusal stands", true, VX_E_LOCKED, S_OK, S_OK, VX_E_LOCKED, {"import /f"}, 0},
      {"a server without the caller's rights: an import here, with a reload", true, E_ACCESSDENIED, S_OK, S_OK, S_OK,
       {"import /f", "lock 1", "unlock 1"}, 1},
      {"an export here, without a reload", false, E_ACCESSDENIED, S_OK, S_OK, S_OK,
       {"export /f", "lock 1", "unlock 0"}, 1},
      {"a failed import here: unlocked without a reload", true, E_ACCESSDENIED, S_OK, 0x8007000D, 0x8007000D,
       {"import /f", "lock 1", "unlock 0"}, 1},
      {"a refused lock: nothing done here", true, E_ACCESSDENIED, VX_E_UPDATING_SERVER, S_OK, VX_E_UPDATING_SERVER,
       {"import /f", "lock 1"}, 0},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    server.fileReply = c.fileReply;
    server.lockReply = c.lockReply;
    int ownRuns = 0;
    HRESULT hr = vtx::notify::ConfigurationFileAsCaller(server.Call(), c.import, "/f", [&] {
      ++ownRuns;
      return c.own;
    });
    EXPECT_EQ(hr, c.result) << c.name;
    EXPECT_EQ(server.sent, c.sent) << c.name;
    EXPECT_EQ(ownRuns, c.ownRuns) << c.name;
  }
}

TEST(ServerSession, FailuresAreNamedByTheirStep) {
  ScriptedServer server;
  SessionStep step = SessionStep::Work;
  auto work = [] { return S_OK; };

  server.transport = E_SERVER_UNAVAILABLE;
  EXPECT_EQ(vtx::notify::InConfigurationSession(server.Call(), 0, true, work, &step), E_SERVER_UNAVAILABLE);
  EXPECT_EQ(step, SessionStep::Lock);

  server.transport = S_OK;
  server.unlockTransport = E_TIMEOUT;
  EXPECT_EQ(vtx::notify::InConfigurationSession(server.Call(), 0, true, work, &step), E_TIMEOUT);
  EXPECT_EQ(step, SessionStep::Unlock);
  EXPECT_EQ(server.sent, (std::vector<std::string>{"lock 0", "unlock 1"}));

  // The work's own failure comes first, whatever the unlock did.
  EXPECT_EQ(vtx::notify::InConfigurationSession(server.Call(), 0, true, [] { return E_FAIL; }, &step), E_FAIL);
  EXPECT_EQ(step, SessionStep::Work);

  EXPECT_EQ(vtx::notify::SendConfigurationFile(server.Call(), true, ""), E_INVALIDARG);
  EXPECT_EQ(vtx::notify::SendConfigurationFile(server.Call(), true, nullptr), E_INVALIDARG);
}

}  // namespace
