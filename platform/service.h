// The service control manager on systemd: unit files, enabling, starting and stopping through
// systemctl, the notification protocol of a running service, and service accounts.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/native/productpaths.h"  // ProductDataDir and the other paths
#include "platform/types.h"

namespace vtx::service {

// The folder of the units: $VANTREX_UNIT_DIR, else /etc/systemd/system.
std::string UnitDir();
// The unit file name of a service name: lower case, blanks as '-', ".service" appended
// ("Hulvane Vantrex" -> "hulvane-vantrex.service").
std::string UnitName(const char* serviceName);
// True when systemd runs this machine (it alone can start and stop services).
bool SystemdRunning();

struct UnitConfig {
  std::string unit;         // file name, e.g. "hulvane-vantrex.service"
  std::string description;  // Description=
  std::string program;      // absolute path of the program ExecStart= runs, without arguments
  std::vector<std::string> after;  // units to start after (and to want)
  bool notify = true;       // Type=notify (the program reports READY=1), else Type=simple
  // User= and Group= (the account's own group) unless a User= line of an earlier unit is kept;
  // empty: root.
  std::string user;
  unsigned startTimeoutSec = 90;
  unsigned stopTimeoutSec = 60;
  std::string killMode = "control-group";
  std::string restart = "no";
  // Folders the program writes in besides the runtime folder; the rest of the system is read-only
  // to it (ProtectSystem=strict). Empty with `sandbox` off.
  std::vector<std::string> writablePaths;
  // The systemd sandbox for a program that serves no user session: its own /tmp and devices, no
  // homes (ProtectHome=`protectHome`), no new privileges, no capabilities, the kernel and the
  // other namespaces out of reach, the address families `addressFamilies`.
  bool sandbox = false;
  std::string protectHome = "yes";
  std::string addressFamilies = "AF_UNIX AF_INET AF_INET6";
  // Further [Service] lines.
  std::vector<std::string> extraLines;
};

// The unit's text. `keptLines` (User= and Group= lines of an earlier unit) go into [Service]
// unchanged.
// Environment variables of this product that are set now (the store, the runtime folder and the
// like) are written as Environment= lines, so that the service finds what was registered. A
// sandboxed unit gets the runtime folder: systemd makes /run/vantrex for it (kept between runs);
// another folder named by VANTREX_RUNTIME_DIR is made writable.
// E_INVALIDARG when a value cannot be written in a unit (a line break in it).
HRESULT UnitText(const UnitConfig& config, const std::vector<std::string>& keptLines, std::string* text);
// Writes (or rewrites, keeping User= and Group= lines set by hand) the unit, enables it for the
// multi-user target and, when systemd runs, reloads its configuration. `message` explains a
// failure, or says what is left to do when systemd does not run here.
HRESULT InstallUnit(const UnitConfig& config, std::string* message);
// Stops (when systemd runs), disables and removes the unit; a unit that is not there is success.
HRESULT RemoveUnit(const std::string& unit, std::string* message);
// systemctl start / stop. Without a running systemd E_FAIL and a message saying so; stopping a
// service that is not running is success.
HRESULT StartUnit(const std::string& unit, std::string* message);
// Starts several units in one job (each after the ones it is ordered after).
HRESULT StartUnits(const std::vector<std::string>& units, std::string* message);
HRESULT StopUnit(const std::string& unit, std::string* message);

// The service manager's notification protocol (READY=1, STOPPING=1, STATUS=...); nothing
// happens when the program does not run under systemd.
void Notify(const char* state);

// The accounts and rights of an installed product, made when missing and set right when they are
// not; running it again changes nothing. Only root does this (for anyone else nothing happens:
// S_FALSE). The group and the system account ProductAccountName() (useradd --system, no login);
// the data folder owned by the account, in the group, 2770; the store and its companion files
// there (-wal, -shm, .lock) account and group, 0660; the display-messages file, when there,
// account and group, 0660. `message` says what failed.
HRESULT PrepareProductHost(std::string* message);

// The uid of a service account name: "LocalSystem" (any case) is 0; a "DOMAIN\" prefix or an
// "@realm" suffix is dropped and the rest looked up as a local account. False when unknown.
bool AccountUid(const char* account, uid_t* uid);

}  // namespace vtx::service
