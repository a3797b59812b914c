#include "platform/sysinfo.h"

#include <netdb.h>
#include <strings.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include "platform/files.h"
#include "platform/native/syscalls.h"

namespace vtx {
namespace {

bool ReadLine(const std::string& path, std::string* line) {
  std::string text;
  if (FAILED(ReadWholeFile(path.c_str(), &text)) || text.empty()) return false;
  *line = text.substr(0, text.find('\n'));
  while (!line->empty() && (line->back() == '\n' || line->back() == '\r' || line->back() == ' ')) line->pop_back();
  return true;
}

bool ReadNumber(const std::string& path, long* value) {
  std::string line;
  if (!ReadLine(path, &line) || line.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(line.c_str(), &end, 10);
  if (errno || *end) return false;
  *value = v;
  return true;
}

// A kernel cpu list such as "0-3,8,10-11"; false when malformed.
bool ParseCpuList(const std::string& text, std::vector<uint32_t>* cpus) {
  cpus->clear();
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) return false;
    char* end = nullptr;
    unsigned long first = std::strtoul(item.c_str(), &end, 10);
    unsigned long last = first;
    if (end == item.c_str()) return false;
    if (*end == '-') {
      const char* rest = end + 1;
      last = std::strtoul(rest, &end, 10);
      if (end == rest) return false;
    }
    if (*end || last < first || last - first > 65535 || last > UINT32_MAX) return false;
    for (unsigned long c = first; c <= last; ++c) cpus->push_back(static_cast<uint32_t>(c));
  }
  return !cpus->empty();
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (vtx::sys::Gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
  return name;
}

std::string FirstLabel(const std::string& name) { return name.substr(0, name.find('.')); }

// The host name with its domain: the host name itself when it has one, else the resolver's
// canonical name when that names this host.
std::string FullyQualifiedName() {
  std::string host = HostName();
  if (host.find('.') != std::string::npos) return host;
  // The resolver's answer holds for a minute: a settings load asks for it every time.
  static std::mutex lock;
  static std::string askedFor, answer;
  static std::chrono::steady_clock::time_point askedAt;
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!askedFor.empty() && askedFor == host && now - askedAt < std::chrono::minutes(1)) return answer;
  }
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_family = AF_UNSPEC;
  addrinfo* found = nullptr;
  std::string result = host;
  if (vtx::sys::Getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
    const char* canon = found->ai_canonname;
    if (canon && std::strchr(canon, '.') && strcasecmp(FirstLabel(canon).c_str(), host.c_str()) == 0) result = canon;
    vtx::sys::Freeaddrinfo(found);
  }
  std::lock_guard<std::mutex> guard(lock);
  askedFor = host;
  answer = result;
  askedAt = now;
  return result;
}

// os-release value: quotes removed, backslash escapes inside double quotes resolved.
std::string Unquote(const std::string& raw) {
  if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'') return raw.substr(1, raw.size() - 2);
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
    std::string out;
    for (size_t i = 1; i + 1 < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 2 < raw.size()) ++i;
      out.push_back(raw[i]);
    }
    return out;
  }
  return raw;
}

bool ReadOsRelease(const std::string& path, std::string* name) {
  std::string text;
  if (FAILED(ReadWholeFile(path.c_str(), &text))) return false;
  std::istringstream in(text);
  std::string pretty, plain, version, line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = Unquote(line.substr(eq + 1));
    for (char& c : value)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    if (key == "PRETTY_NAME") pretty = value;
    else if (key == "NAME") plain = value;
    else if (key == "VERSION") version = value;
  }
  if (!pretty.empty()) *name = pretty;
  else if (!plain.empty()) *name = version.empty() ? plain : plain + " " + version;
  else return false;
  return true;
}

BOOL CopyName(const std::string& name, char* buffer, DWORD* size, DWORD shortError) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!buffer || *size <= name.size()) {
    *size = static_cast<DWORD>(name.size() + 1);
    SetLastError(shortError);
    return FALSE;
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return TRUE;
}

}  // namespace

ProcessorTopology ReadProcessorTopology(const char* sysfs) {
  ProcessorTopology t;
  const std::string cpu = std::string(sysfs ? sysfs : "/sys") + "/devices/system/cpu/";
  std::string line;
  if (ReadLine(cpu + "smt/control", &line)) {
    if (line == "on") t.smt = SmtControl::On;
    else if (line == "off" || line == "forceoff") t.smt = SmtControl::Off;
    else if (line == "notsupported") t.smt = SmtControl::NotSupported;
  }
  std::vector<uint32_t> online;
  if (!ReadLine(cpu + "online", &line) || !ParseCpuList(line, &online)) {
    long n = sysfs ? 0 : vtx::sys::Sysconf(_SC_NPROCESSORS_ONLN);
    t.processors = n > 0 ? static_cast<uint32_t>(n) : 1;
    return t;
  }
  t.processors = static_cast<uint32_t>(online.size());
  std::set<long> packages;
  std::vector<uint32_t> siblings;
  for (uint32_t c : online) {
    const std::string topo = cpu + "cpu" + std::to_string(c) + "/topology/";
    long package = 0;
    if (!ReadNumber(topo + "physical_package_id", &package) || !ReadLine(topo + "thread_siblings_list", &line) ||
        !ParseCpuList(line, &siblings))
      return t;
    packages.insert(package);
    if (siblings.size() > t.maxThreadsPerCore) t.maxThreadsPerCore = static_cast<uint32_t>(siblings.size());
  }
  t.packages = static_cast<uint32_t>(packages.size());
  t.known = true;
  return t;
}

bool ReadOsReleaseName(std::string* name, const char* root) {
  if (!name) return false;
  std::string base = root ? root : "";
  if (!base.empty() && base.back() == '/') base.pop_back();
  return ReadOsRelease(base + "/etc/os-release", name) || ReadOsRelease(base + "/usr/lib/os-release", name);
}

bool KernelName(std::string* name) {
  utsname u{};
  if (!name || vtx::sys::Uname(&u) != 0) return false;
  *name = std::string(u.sysname) + " " + u.release;
  return true;
}

bool GetSystemName(std::string* name, const char* root) {
  if (!name) return false;
  std::string system, kernel;
  bool haveSystem = ReadOsReleaseName(&system, root);
  bool haveKernel = KernelName(&kernel);
  if (haveSystem && haveKernel) *name = system + ", " + kernel;
  else if (haveSystem) *name = system;
  else if (haveKernel) *name = kernel;
  else return false;
  return true;
}

}  // namespace vtx

BOOL GetComputerNameA(char* buffer, DWORD* size) {
  return vtx::CopyName(vtx::FirstLabel(vtx::HostName()), buffer, size, ERROR_BUFFER_OVERFLOW);
}

BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, char* buffer, DWORD* size) {
  std::string name;
  switch (format) {
    case ComputerNameNetBIOS:
    case ComputerNameDnsHostname:
      name = vtx::FirstLabel(vtx::HostName());
      break;
    case ComputerNameDnsDomain: {
      std::string full = vtx::FullyQualifiedName();
      size_t dot = full.find('.');
      name = dot == std::string::npos ? std::string() : full.substr(dot + 1);
      break;
    }
    case ComputerNameDnsFullyQualified:
      name = vtx::FullyQualifiedName();
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  return vtx::CopyName(name, buffer, size, ERROR_MORE_DATA);
}
