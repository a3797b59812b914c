// vtxserver: start-up, the one-instance rule, the main loop and the command window.
#pragma once
#include <string>
#include <vector>

#include "server/seams.h"

namespace vtx::server {

// What the command line asks for. Switches start with '-' or '/': "SERVICE" (any case, the whole
// word) and the import switch "l" followed by ":" and the file, or by a path beginning with "/".
struct CommandLine {
  bool serviceMode = false;
  std::vector<std::string> imports;
};
CommandLine ParseCommandLine(const std::vector<std::string>& tokens);
// Cuts one command-line text into tokens: blanks separate, a double quote runs to the next one.
std::vector<std::string> SplitCommandLine(const std::string& text);

// The named mutex that the running server holds: of two servers that start together, one runs.
inline constexpr char kInstanceMutexName[] = "HulvaneVantrexAppInstanceMutex";

// Where a request came from: a message of this process, or a request from outside (the pipe).
enum class Origin { Process, Outside };

// The command window's procedure: messages of this process.
LRESULT AppWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The same for requests from outside: the update thread's reports, timers, WM_ENDSESSION and the
// window codes below 0x8000 other than WM_COPYDATA are refused with 0.
LRESULT AppPipeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT AppCommand(Origin origin, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Asks the running server to import a configuration file.
HRESULT SendImportToServer(ServerLink& link, const char* path);
// Copies the old display-messages file "messages.txt" beside "Path" to "DisplayMessages".
void MigrateMessagesFile(SettingsStore& store);

// The whole run of the program; always 0 (the exit code goes to event 0xB in service mode).
int RunServer(const std::vector<std::string>& arguments, const Seams& seams);

}  // namespace vtx::server
