// The service control manager on systemd: unit files, enabling, starting and stopping through
// systemctl, the notification protocol of a running service, and service accounts.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/errors.h"
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
  unsigned stopTimeoutSec = 60;
};

// The unit's text. `keptLines` (User= lines of an earlier unit) go into [Service] unchanged.
// Environment variables of this product that are set now (the store, the runtime folder and the
// like) are written as Environment= lines, so that the service finds what was registered.
// E_INVALIDARG when a value cannot be written in a unit (a line break in it).
HRESULT UnitText(const UnitConfig& config, const std::vector<std::string>& keptLines, std::string* text);
// Writes (or rewrites, keeping a User= line set by hand) the unit, enables it for the
// multi-user target and, when systemd runs, reloads its configuration. `message` explains a
// failure, or says what is left to do when systemd does not run here.
HRESULT InstallUnit(const UnitConfig& config, std::string* message);
// Stops (when systemd runs), disables and removes the unit; a unit that is not there is success.
HRESULT RemoveUnit(const std::string& unit, std::string* message);
// systemctl start / stop. Without a running systemd E_FAIL and a message saying so; stopping a
// service that is not running is success.
HRESULT StartUnit(const std::string& unit, std::string* message);
HRESULT StopUnit(const std::string& unit, std::string* message);

// The service manager's notification protocol (READY=1, STOPPING=1, STATUS=...); nothing
// happens when the program does not run under systemd.
void Notify(const char* state);

// The uid of a service account name: "LocalSystem" (any case) is 0; a "DOMAIN\" prefix or an
// "@realm" suffix is dropped and the rest looked up as a local account. False when unknown.
bool AccountUid(const char* account, uid_t* uid);

}  // namespace vtx::service
