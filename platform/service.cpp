#include "platform/service.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
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
#include "platform/native/productpaths.h"
#include "platform/native/syscalls.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sync.h"

namespace vtx::service {

namespace {

constexpr char kWantedBy[] = "multi-user.target";
// systemctl waits for the job: a start for the service's own start-up limit, a stop for its stop limit.
constexpr DWORD kSystemctlStartMs = 200000;
constexpr DWORD kSystemctlStopMs = 120000;
constexpr DWORD kSystemctlOtherMs = 60000;

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

// The User= and Group= lines of the [Service] section of an existing unit.
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
    else if (inService && (line.compare(0, 5, "User=") == 0 || line.compare(0, 6, "Group=") == 0)) kept.push_back(line);
  }
  return kept;
}

std::string WantsLink(const std::string& unit) { return JoinPath(UnitDir(), std::string(kWantedBy) + ".wants/" + unit); }

HRESULT Systemctl(const std::vector<std::string>& arguments, DWORD timeoutMs) {
  ProgramStart start;
  start.program = vtx::sys::Access("/usr/bin/systemctl", X_OK) == 0 ? "/usr/bin/systemctl" : "/bin/systemctl";
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
  return env::Get(env::kUnitDir, env::kDefaultUnitDir);
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
  t += "# Written by the service's RegServer switch. User= and Group= lines edited here are kept when it is\n"
       "# written again.\n";
  t += "[Unit]\n";
  t += "Description=" + description + "\n";
  std::string after = "network-online.target";
  for (const std::string& a : config.after) after += " " + a;
  t += "After=" + after + "\n";
  t += "Wants=network-online.target\n";
  t += "\n[Service]\n";
  t += config.notify ? "Type=notify\nNotifyAccess=main\n" : "Type=simple\n";
  t += "ExecStart=" + program + "\n";
  bool keptUser = false;
  for (const std::string& line : keptLines) {
    t += line + "\n";
    keptUser = keptUser || line.compare(0, 5, "User=") == 0;
  }
  if (!keptUser && !config.user.empty()) {
    std::string user;
    if (!Quote(config.user, &user) || config.user.find_first_of(" \t\"\\%") != std::string::npos) return E_INVALIDARG;
    t += "User=" + config.user + "\nGroup=" + config.user + "\n";
  }
  for (const char* name : env::kServiceVariables) {
    const char* value = env::Get(name);
    if (!value) continue;
    std::string quoted;
    if (!Quote(std::string(name) + "=" + value, &quoted)) return E_INVALIDARG;
    t += "Environment=" + quoted + "\n";
  }
  if (config.sandbox) {
    // What the program makes is the product group's to share.
    t += "UMask=0007\n";
    std::string runtime = vtx::sync::RuntimeDir();
    std::vector<std::string> writable = config.writablePaths;
    if (runtime == env::kDefaultRuntimeDir) {
      // Shared by the product's units and kept when one of them stops.
      t += "RuntimeDirectory=vantrex\nRuntimeDirectoryMode=0750\nRuntimeDirectoryPreserve=yes\n";
    } else {
      writable.push_back(runtime);
    }
    std::string paths;
    for (const std::string& p : writable) {
      std::string quoted;
      // '-': a folder that is not there yet is not an error.
      if (!Quote("-" + p, &quoted)) return E_INVALIDARG;
      paths += (paths.empty() ? "" : " ") + quoted;
    }
    t += "ProtectSystem=strict\n";
    if (!paths.empty()) t += "ReadWritePaths=" + paths + "\n";
    t += "ProtectHome=" + config.protectHome + "\n";
    t += "PrivateTmp=yes\nPrivateDevices=yes\nNoNewPrivileges=yes\nCapabilityBoundingSet=\n";
    t += "RestrictAddressFamilies=" + config.addressFamilies + "\n";
    t += "ProtectKernelTunables=yes\nProtectKernelModules=yes\nProtectKernelLogs=yes\nProtectControlGroups=yes\n";
    // Callers of the pipes are told apart by their uids, and the processes they name are looked
    // up: no private user namespace and no hidden /proc.
    t += "ProtectClock=yes\nProtectHostname=yes\nRestrictNamespaces=yes\n";
    t += "RestrictRealtime=yes\nRestrictSUIDSGID=yes\nLockPersonality=yes\n";
    t += "SystemCallArchitectures=native\nSystemCallFilter=@system-service\nSystemCallErrorNumber=EPERM\n";
    t += "DevicePolicy=closed\nKeyringMode=private\n";
  }
  for (const std::string& line : config.extraLines) {
    if (line.find_first_of("\r\n") != std::string::npos) return E_INVALIDARG;
    t += line + "\n";
  }
  t += "KillMode=" + config.killMode + "\n";
  t += "TimeoutStartSec=" + std::to_string(config.startTimeoutSec) + "\n";
  t += "TimeoutStopSec=" + std::to_string(config.stopTimeoutSec) + "\n";
  t += "Restart=" + config.restart + "\n";
  if (config.restart != "no") t += "RestartSec=5\n";
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
    vtx::sys::Unlink(link.c_str());
    if (vtx::sys::Symlink(path.c_str(), link.c_str()) != 0) hr = HRESULT_FROM_WIN32(Win32FromErrno(errno));
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
  if (vtx::sys::Lstat(path.c_str(), &st) != 0) return S_OK;
  bool systemd = SystemdRunning();
  if (systemd && FAILED(Systemctl({"stop", unit}, kSystemctlStopMs))) {
    Say(message, "systemctl stop " + unit + " failed; the unit stays");
    return E_FAIL;
  }
  vtx::sys::Unlink(WantsLink(unit).c_str());
  if (vtx::sys::Unlink(path.c_str()) != 0) {
    HRESULT hr = HRESULT_FROM_WIN32(Win32FromErrno(errno));
    Say(message, "cannot remove " + path + ": " + Reason(hr));
    return hr;
  }
  if (systemd) Systemctl({"daemon-reload"}, kSystemctlOtherMs);
  return S_OK;
}

namespace {
HRESULT ControlUnits(const char* verb, const std::vector<std::string>& units, DWORD timeoutMs, std::string* message) {
  std::string names;
  for (const std::string& u : units) names += (names.empty() ? "" : " ") + u;
  if (!SystemdRunning()) {
    Say(message, std::string("cannot ") + verb + " " + names + ": systemd is not running on this machine");
    return E_FAIL;
  }
  std::vector<std::string> arguments{verb};
  arguments.insert(arguments.end(), units.begin(), units.end());
  if (FAILED(Systemctl(arguments, timeoutMs))) {
    Say(message, std::string("systemctl ") + verb + " " + names + " failed");
    return E_FAIL;
  }
  return S_OK;
}
HRESULT ControlUnit(const char* verb, const std::string& unit, DWORD timeoutMs, std::string* message) {
  return ControlUnits(verb, {unit}, timeoutMs, message);
}
}  // namespace

HRESULT StartUnit(const std::string& unit, std::string* message) {
  return ControlUnit("start", unit, kSystemctlStartMs, message);
}

HRESULT StartUnits(const std::vector<std::string>& units, std::string* message) {
  return ControlUnits("start", units, kSystemctlStartMs, message);
}

HRESULT StopUnit(const std::string& unit, std::string* message) {
  return ControlUnit("stop", unit, kSystemctlStopMs, message);
}

void Notify(const char* state) {
  if (state) sd_notify(0, state);
}

namespace {

// useradd and groupadd refuse while another program holds the account files' lock: tried again
// for a few seconds.
HRESULT RunAccountTool(const std::vector<std::string>& arguments) {
  ProgramStart start;
  start.program = arguments.front();
  start.arguments.assign(arguments.begin() + 1, arguments.end());
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < 20; ++attempt) {
    DWORD code = E_FAIL;
    hr = RunProgram(start, 30000, &code);
    if (SUCCEEDED(hr) && code == 0) return S_OK;
    if (SUCCEEDED(hr)) hr = E_FAIL;
    Sleep(250);
  }
  return hr;
}

HRESULT Own(const std::string& path, uid_t uid, gid_t gid, unsigned mode, std::string* message) {
  // Never through a link: the folder's group may place one.
  int fd = vtx::sys::Open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return S_FALSE;
    Say(message, "cannot open " + path + ": " + std::strerror(errno));
    return HRESULT_FROM_WIN32(Win32FromErrno(errno));
  }
  struct stat st{};
  // A file with another name elsewhere (a hard link the folder's group made) is not ours to give.
  bool sound = vtx::sys::Fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink == 1));
  bool ok = sound && vtx::sys::Fchown(fd, uid, gid) == 0 && vtx::sys::Fchmod(fd, static_cast<mode_t>(mode)) == 0;
  int e = errno;
  vtx::sys::Close(fd);
  if (ok) return S_OK;
  Say(message, "cannot give " + path + " to the product's account: " +
                   (sound ? std::strerror(e) : "not a file of its own"));
  return E_FAIL;
}

// True when every entry of the folder begins with one of the names.
bool OnlyProductFiles(const std::string& folder, const std::vector<std::string>& names) {
  DIR* dir = vtx::sys::Opendir(folder.c_str());
  if (!dir) return false;
  bool only = true;
  while (dirent* e = vtx::sys::Readdir(dir)) {
    std::string entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    bool ours = false;
    for (const std::string& n : names) ours = ours || entry.compare(0, n.size(), n) == 0;
    if (!ours) {
      only = false;
      break;
    }
  }
  vtx::sys::Closedir(dir);
  return only;
}

}  // namespace

HRESULT PrepareProductHost(std::string* message) {
  if (vtx::sys::Geteuid() != 0) return S_FALSE;
  std::string name = ProductAccountName();
  std::string data = ProductDataDir();
  gid_t gid;
  if (!ProductGroup(&gid)) {
    if (FAILED(RunAccountTool({"/usr/sbin/groupadd", "--system", name})) || !ProductGroup(&gid)) {
      Say(message, "cannot make the group " + name + " (groupadd failed)");
      return E_FAIL;
    }
  }
  uid_t uid;
  if (!ProductAccount(&uid, nullptr)) {
    if (FAILED(RunAccountTool({"/usr/sbin/useradd", "--system", "--gid", name, "--home-dir", data, "--no-create-home",
                               "--shell", "/usr/sbin/nologin", "--comment", "Vantrex services", name})) ||
        !ProductAccount(&uid, nullptr)) {
      Say(message, "cannot make the account " + name + " (useradd failed)");
      return E_FAIL;
    }
  }
  HRESULT hr = MakeDirectories(data.c_str(), 0755);
  if (FAILED(hr)) {
    Say(message, "cannot make the data folder " + data + ": " + Reason(hr));
    return hr;
  }
  std::string store = vtx::RegistryStorePath();
  std::string display = DefaultDisplayMessagesPath();
  // The group administers the store: it makes the store's journal files beside it, and they
  // take the folder's group. A folder that holds anything else (a store put in /var/lib itself)
  // is not the product's to give.
  if (OnlyProductFiles(data, {store.substr(store.rfind('/') + 1), display.substr(display.rfind('/') + 1)})) {
    if (FAILED(hr = Own(data, uid, gid, 02770, message))) return hr;
  } else {
    Say(message, "the data folder " + data + " holds other files too: it is left as it is, so give the group " + name +
                     " the right to write there yourself");
  }
  for (const char* suffix : {"", "-wal", "-shm", "-changes", ".lock"})
    if (FAILED(hr = Own(store + suffix, uid, gid, 0660, message))) return hr;
  for (const char* suffix : {"", ".lock"})
    if (FAILED(hr = Own(display + suffix, uid, gid, 0660, message))) return hr;
  // The server writes the logs of its updates here.
  std::string appData = ProductAppDataDir();
  std::string logs = JoinPath(appData, "Logs");
  if (FAILED(hr = MakeDirectories(logs.c_str(), 0755))) {
    Say(message, "cannot make " + logs + ": " + Reason(hr));
    return hr;
  }
  if (FAILED(hr = Own(appData, uid, gid, 02770, message))) return hr;
  if (FAILED(hr = Own(logs, uid, gid, 02770, message))) return hr;
  return S_OK;
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
  if (vtx::sys::GetpwnamR(name.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || !found) return false;
  *uid = found->pw_uid;
  return true;
}

}  // namespace vtx::service
