#include "platform/service.h"

#include <pwd.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/process.h"

namespace vtx::service {

namespace {

constexpr char kWantedBy[] = "multi-user.target";
// systemctl waits for the job: a start for the service's own start-up limit, a stop for its stop limit.
constexpr DWORD kSystemctlStartMs = 150000;
constexpr DWORD kSystemctlStopMs = 120000;
constexpr DWORD kSystemctlOtherMs = 60000;

// The product's environment that a service needs to find what was registered.
constexpr const char* kProductVariables[] = {"VANTREX_REGISTRY",      "VANTREX_RUNTIME_DIR", "VANTREX_APPDATA",
                                             "VANTREX_SYSLOG_SOCKET", "VANTREX_CODEPAGE",    "VANTREX_PAM_DIR"};

// A value inside double quotes of a unit line: '\\' and '"' escaped, '%' doubled (specifiers).
// Neither the program's path nor an Environment= line expands variables, so '$' stays.
bool Quote(const std::string& value, std::string* out) {
  std::string q = "\"";
  for (char c : value) {
    if (c == '\n' || c == '\r') return false;
    if (c == '\\' || c == '"') q += '\\';
    if (c == '%') q += '%';
    q += c;
  }
  *out = q + "\"";
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// The User= lines of the [Service] section of an existing unit.
std::vector<std::string> KeptLines(const std::string& path) {
  std::vector<std::string> kept;
  std::string text;
  if (FAILED(ReadWholeFile(path.c_str(), &text))) return kept;
  bool inService = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (!line.empty() && line[0] == '[') inService = line == "[Service]";
    else if (inService && line.compare(0, 5, "User=") == 0) kept.push_back(line);
  }
  return kept;
}

std::string WantsLink(const std::string& unit) { return JoinPath(UnitDir(), std::string(kWantedBy) + ".wants/" + unit); }

HRESULT Systemctl(const std::vector<std::string>& arguments, DWORD timeoutMs) {
  ProgramStart start;
  start.program = access("/usr/bin/systemctl", X_OK) == 0 ? "/usr/bin/systemctl" : "/bin/systemctl";
  start.arguments = arguments;
  DWORD code = E_FAIL;
  HRESULT hr = RunProgram(start, timeoutMs, &code);
  if (FAILED(hr)) return hr;
  return code == 0 ? S_OK : E_FAIL;
}

void Say(std::string* message, const std::string& text) {
  if (message) *message = text;
}

std::string Reason(HRESULT hr) {
  const char* text = SystemErrorText(hr);
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", hr);
  return text ? std::string(text) + " (" + code + ")" : std::string(code);
}

}  // namespace

std::string UnitDir() {
  const char* dir = std::getenv("VANTREX_UNIT_DIR");
  return dir && *dir ? dir : "/etc/systemd/system";
}

std::string UnitName(const char* serviceName) {
  std::string name;
  for (const char* p = serviceName ? serviceName : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (std::isalnum(c))
      name += static_cast<char>(std::tolower(c));
    else if (!name.empty() && name.back() != '-')
      name += '-';
  }
  while (!name.empty() && name.back() == '-') name.pop_back();
  return name + ".service";
}

bool SystemdRunning() { return sd_booted() > 0; }

HRESULT UnitText(const UnitConfig& config, const std::vector<std::string>& keptLines, std::string* text) {
  std::string program, description = config.description;
  if (!Quote(config.program, &program)) return E_INVALIDARG;
  for (char& c : description)
    if (c == '\n' || c == '\r') c = ' ';
  std::string t;
  t += "# Written by the service's RegServer switch. A User= line edited here is kept when it is written again.\n";
  t += "[Unit]\n";
  t += "Description=" + description + "\n";
  std::string after = "network-online.target";
  for (const std::string& a : config.after) after += " " + a;
  t += "After=" + after + "\n";
  t += "Wants=" + after + "\n";
  t += "\n[Service]\n";
  t += config.notify ? "Type=notify\nNotifyAccess=main\n" : "Type=simple\n";
  t += "ExecStart=" + program + "\n";
  for (const std::string& line : keptLines) t += line + "\n";
  for (const char* name : kProductVariables) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string quoted;
    if (!Quote(std::string(name) + "=" + value, &quoted)) return E_INVALIDARG;
    t += "Environment=" + quoted + "\n";
  }
  // The program stops what it started itself when it is told to stop; anything left then goes.
  t += "KillMode=mixed\n";
  t += "TimeoutStartSec=90\n";
  t += "TimeoutStopSec=" + std::to_string(config.stopTimeoutSec) + "\n";
  t += "Restart=no\n";
  t += "\n[Install]\n";
  t += std::string("WantedBy=") + kWantedBy + "\n";
  *text = t;
  return S_OK;
}

HRESULT InstallUnit(const UnitConfig& config, std::string* message) {
  std::string dir = UnitDir();
  std::string path = JoinPath(dir, config.unit);
  std::string text;
  HRESULT hr = UnitText(config, KeptLines(path), &text);
  if (FAILED(hr)) {
    Say(message, "a value of the unit " + config.unit + " holds a line break");
    return hr;
  }
  hr = MakeDirectories(dir.c_str());
  if (SUCCEEDED(hr)) hr = WriteFileReplacing(path.c_str(), text.data(), text.size(), 0644);
  if (FAILED(hr)) {
    Say(message, "cannot write " + path + ": " + Reason(hr));
    return hr;
  }
  // Enabling is the link of the wanting target to the unit, as systemctl enable makes it.
  std::string link = WantsLink(config.unit);
  hr = MakeDirectories(JoinPath(dir, std::string(kWantedBy) + ".wants").c_str());
  if (SUCCEEDED(hr)) {
    unlink(link.c_str());
    if (symlink(path.c_str(), link.c_str()) != 0) hr = HRESULT_FROM_WIN32(Win32FromErrno(errno));
  }
  if (FAILED(hr)) {
    Say(message, "cannot enable " + config.unit + " (" + link + "): " + Reason(hr));
    return hr;
  }
  if (!SystemdRunning()) {
    Say(message, "systemd is not running here: " + path + " is written and enabled, and starts when systemd runs");
    return S_OK;
  }
  if (FAILED(Systemctl({"daemon-reload"}, kSystemctlOtherMs))) {
    Say(message, path + " is written, but systemctl daemon-reload failed");
    return E_FAIL;
  }
  return S_OK;
}

HRESULT RemoveUnit(const std::string& unit, std::string* message) {
  std::string path = JoinPath(UnitDir(), unit);
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) return S_OK;
  bool systemd = SystemdRunning();
  if (systemd && FAILED(Systemctl({"stop", unit}, kSystemctlStopMs))) {
    Say(message, "systemctl stop " + unit + " failed; the unit stays");
    return E_FAIL;
  }
  unlink(WantsLink(unit).c_str());
  if (unlink(path.c_str()) != 0) {
    HRESULT hr = HRESULT_FROM_WIN32(Win32FromErrno(errno));
    Say(message, "cannot remove " + path + ": " + Reason(hr));
    return hr;
  }
  if (systemd) Systemctl({"daemon-reload"}, kSystemctlOtherMs);
  return S_OK;
}

namespace {
HRESULT ControlUnit(const char* verb, const std::string& unit, DWORD timeoutMs, std::string* message) {
  if (!SystemdRunning()) {
    Say(message, std::string("cannot ") + verb + " " + unit + ": systemd is not running on this machine");
    return E_FAIL;
  }
  if (FAILED(Systemctl({verb, unit}, timeoutMs))) {
    Say(message, std::string("systemctl ") + verb + " " + unit + " failed");
    return E_FAIL;
  }
  return S_OK;
}
}  // namespace

HRESULT StartUnit(const std::string& unit, std::string* message) {
  return ControlUnit("start", unit, kSystemctlStartMs, message);
}

HRESULT StopUnit(const std::string& unit, std::string* message) {
  return ControlUnit("stop", unit, kSystemctlStopMs, message);
}

void Notify(const char* state) {
  if (state) sd_notify(0, state);
}

bool AccountUid(const char* account, uid_t* uid) {
  if (!account || !*account) return false;
  std::string name = account;
  if (size_t slash = name.rfind('\\'); slash != std::string::npos) name = name.substr(slash + 1);
  if (size_t at = name.find('@'); at != std::string::npos) name = name.substr(0, at);
  if (_stricmp(name.c_str(), "LocalSystem") == 0) {
    *uid = 0;
    return true;
  }
  if (name.empty()) return false;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwnam_r(name.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || !found) return false;
  *uid = found->pw_uid;
  return true;
}

}  // namespace vtx::service
