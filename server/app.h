// vtxserver: start-up, the one-instance rule, the main loop and the command window.
#pragma once
#include <string>
#include <vector>

#include "server/seams.h"

namespace vtx::server {

// What the command line asks for. Switches start with '-' or '/': "SERVICE" (any case, the whole
// word) and the import switch "l" followed by ":" and the file, or by a path beginning with "/";
// "--help", "-h" and "/?" ask for the usage. Any other argument is kept in `unknown`.
struct CommandLine {
  bool serviceMode = false;
  bool help = false;
  bool confirmed = false;  // the import is confirmed on the command line: nothing is asked
  std::vector<std::string> imports;
  std::vector<std::string> unknown;
};
CommandLine ParseCommandLine(const std::vector<std::string>& tokens);
// Cuts one command-line text into tokens: blanks separate, a double quote runs to the next one.
std::vector<std::string> SplitCommandLine(const std::string& text);

// The named mutex that the running server holds: of two servers that start together, one runs.
inline constexpr char kInstanceMutexName[] = "HulvaneVantrexAppInstanceMutex";
// Beside the registry store the running server holds this lock file too, with its process id in
// it: one server per store, whatever runtime folders two servers have.
inline constexpr char kStoreLockSuffix[] = ".lock";
// SIGHUP: the configuration is read again, as at the end of a configuration session with reload.
// Below 0x8000, so that no request from outside can send it.
constexpr UINT kWmReloadConfiguration = WM_USER + 0x66;
// How long a stop may take: a run that does not end by then is left behind.
constexpr DWORD kStopLimitMs = 8000;

// Where a request came from: a message of this process, or a request from outside (the pipe).
enum class Origin { Process, Outside };

// The command window's procedure: messages of this process.
LRESULT AppWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The same for requests from outside: the update thread's reports, timers, WM_ENDSESSION and the
// window codes below 0x8000 other than WM_COPYDATA are refused with 0.
LRESULT AppPipeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT AppCommand(Origin origin, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// While the main thread waits for the settings lock: answers the waiting pipe requests that need
// neither the lock nor the configuration (a ping, the update and lock state), oldest first, and
// stops at the first that does.
void ServeWhileSettingsLockWaits();

// Asks the running server to import a configuration file with this program's rights: a server
// that cannot take them refuses, and the file is then imported into `store` here, inside the
// server's configuration session (locked, imported, unlocked with a reload).
HRESULT SendImportToServer(ServerLink& link, SettingsStore& store, const char* path);
// Copies the old display-messages file "messages.txt" beside "Path" to "DisplayMessages".
void MigrateMessagesFile(SettingsStore& store);

// The whole run of the program. Its exit status: 0 for a run that served and ended, and for the
// usage; 2 for a command line it does not take; 1 for a start that failed (another server runs,
// no resource library, no window) or an import that failed. Each failure is said in one line on
// stderr too. The exit code of the quit command goes to event 0xB in service mode.
int RunServer(const std::vector<std::string>& arguments, const Seams& seams);

// The usage text of the command line.
extern const char kServerUsage[];

}  // namespace vtx::server
