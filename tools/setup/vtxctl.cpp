// The operator's command on a host without a desktop: the server's state from the store and its
// run archives, and the server's own commands (update now, export and import of a configuration
// file) sent over its pipe with the caller's rights.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/currency/configfile.h"
#include "engine/currency/settings.h"
#include "engine/foundation/servercommands.h"
#include "engine/foundation/timetext.h"
#include "engine/notify/reachserver.h"
#include "engine/notify/serversession.h"
#include "engine/update/inetconnection.h"
#include "engine/update/updatetimer.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/pipes.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/systime.h"
#include "tools/setup/toolstore.h"

namespace {

const char kUsage[] =
    "usage: vtxctl <command>\n"
    "Looks after the running Vantrex server (vtxserver) from the shell.\n"
    "  status              whether the server runs, the last update and its notices, the next one\n"
    "                      due, the configuration lock, the data sources and the waiting requests\n"
    "  update [--wait S]   starts an update now and waits for its result (at most S seconds,\n"
    "                      default 900); exit status 0 when it succeeded, 1 when not\n"
    "  export <file>       writes the server's configuration to <file> (\".vx-cnf\" is added when\n"
    "                      missing), with the rights of the caller\n"
    "  import <file>       the server takes the configuration of <file> (an export) in one step;\n"
    "                      the file is read with the rights of the caller\n"
    "  logs                prints the folder of the per-run logs (one folder per run, named by\n"
    "                      its UTC time: messages.txt, and with \"LogFXData\" 2 the downloads)\n"
    "The store is $VANTREX_REGISTRY (default /var/lib/vantrex/registry.db), the server's pipe is in\n"
    "$VANTREX_RUNTIME_DIR (default /run/vantrex). Exit status: 0 done, 1 failed or refused, 2 usage.\n";

constexpr DWORD kPingLimitMs = 2000;
constexpr DWORD kCommandLimitMs = 60000;
constexpr unsigned kDefaultUpdateWaitSeconds = 900;
// The notices of a run are shown up to this size.
constexpr uint64_t kNoticeLimit = 16384;
// A run archive written this long after the rates were accepted (or the definitions were
// checked) belongs to a later run than the one that accepted them: the archive is the run's last step.
constexpr uint64_t kSameRunUnits = 2 * 10000000ull;

int Usage(const std::string& why) {
  std::fprintf(stderr, "vtxctl: %s\n%s", why.c_str(), kUsage);
  return 2;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "vtxctl: %s\n", why.c_str());
  return 1;
}

std::string PipePath() { return vtx::pipes::SocketPath(g_szAppPipe); }

bool ServerAnswers() {
  DWORD reply = 0;
  return CanSendVXVMessages() &&
         SUCCEEDED(SendVXVMessageTimeout(WM_VX_PING, 0, 0, kPingLimitMs, &reply)) && reply == 1;
}

// A pipe that this account may not reach looks to the pipe client as if no server ran.
bool PipeRefusesThisAccount() {
  const std::string path = PipePath();
  struct stat st{};
  if (vtx::sys::Stat(path.c_str(), &st) != 0) return errno == EACCES;
  return vtx::sys::Access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

std::string PipeRefusal() {
  return "this account may not use the server's pipe " + PipePath() + " (members of the group " +
         vtx::ProductAccountName() + " may)";
}

std::string TimeText(uint64_t time) {
  if (!time) return "never";
  char text[40] = "";
  TimeToString(U64ToFileTime(time), text);
  return text;
}

uint64_t NowTime() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return FileTimeToU64(now);
}

// The newest run archive: its folder, the time in its name (0 when there is none) and when it was
// written, to the file system's precision.
struct RunFolder {
  std::string name, path;
  uint64_t time = 0;
  int suffix = 0;
  uint64_t written = 0;
};

// "20050822T095719Z" with an optional "-<n>": the time of the run folder, 0 for any other name.
uint64_t RunFolderTime(const std::string& name, int* suffix) {
  if (name.size() < 16 || name[8] != 'T' || name[15] != 'Z') return 0;
  for (size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14})
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
  *suffix = 0;
  if (name.size() > 16) {
    if (name[16] != '-' || name.size() == 17) return 0;
    for (size_t i = 17; i < name.size(); ++i)
      if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    *suffix = std::atoi(name.c_str() + 17);
  }
  std::string text = name.substr(0, 4) + "-" + name.substr(4, 2) + "-" + name.substr(6, 2) + "T" + name.substr(9, 2) +
                     ":" + name.substr(11, 2) + ":" + name.substr(13, 2) + "Z";
  FILETIME t{};
  return StringToTime(text.c_str(), &t) ? FileTimeToU64(t) : 0;
}

RunFolder NewestRun(const std::string& logs, const std::vector<std::string>& before = {}) {
  RunFolder newest;
  DIR* dir = vtx::sys::Opendir(logs.c_str());
  if (!dir) return newest;
  while (dirent* e = vtx::sys::Readdir(dir)) {
    int suffix = 0;
    uint64_t t = RunFolderTime(e->d_name, &suffix);
    if (!t || std::find(before.begin(), before.end(), e->d_name) != before.end()) continue;
    if (t > newest.time || (t == newest.time && suffix > newest.suffix))
      newest = RunFolder{e->d_name, logs + "/" + e->d_name, t, suffix, 0};
  }
  vtx::sys::Closedir(dir);
  struct stat st{};
  if (newest.time && (vtx::sys::Stat((newest.path + "/messages.txt").c_str(), &st) == 0 ||
                      vtx::sys::Stat(newest.path.c_str(), &st) == 0))
    newest.written = static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000ull + kUnixEpochFileTime +
                     static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
  return newest;
}

// The names of the run folders there are now.
std::vector<std::string> RunNames(const std::string& logs) {
  std::vector<std::string> names;
  if (DIR* dir = vtx::sys::Opendir(logs.c_str())) {
    while (dirent* e = vtx::sys::Readdir(dir)) names.push_back(e->d_name);
    vtx::sys::Closedir(dir);
  }
  return names;
}

// The run's notices, indented, or empty when it left none.
std::string Notices(const RunFolder& run) {
  char* block = nullptr;
  size_t size = 0;
  std::string path = run.path + "/messages.txt";
  HRESULT hr = vtx::ReadWholeFile(path.c_str(), kNoticeLimit + 1, 1, &block, &size);
  if (FAILED(hr)) return "";
  std::string text(block, std::min<size_t>(size, kNoticeLimit));
  GlobalFree(block);
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out += "    " + line + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (size > kNoticeLimit) out += "    (more in " + path + ")\n";
  return out;
}

std::string LogFolder() {
  std::string logs;
  return LogFolderPath(logs) ? logs : "";
}

// The settings as the store holds them, read under the settings lock without changing anything;
// null with the reason said.
std::unique_ptr<CSettings> ReadSettings() {
  switch (vtx::tools::OpenStoreToRead("vtxctl")) {
    case vtx::tools::StoreState::Failed: return nullptr;
    case vtx::tools::StoreState::NoAppKey:
      std::fprintf(stderr, "vtxctl: the registry store %s holds no product yet (vtxsetup registers one)\n",
                   vtx::RegistryStorePath());
      return nullptr;
    case vtx::tools::StoreState::Ready: break;
  }
  CSettingsAccess lock;
  if (!lock.IsHeld()) {
    Fail("the settings lock could not be had: " + vtx::tools::CodeText(lock.Status()));
    return nullptr;
  }
  auto settings = std::make_unique<CSettings>();
  if (!settings->Create(nullptr)) {
    Fail("the settings could not be read");
    return nullptr;
  }
  return settings;
}

// What the newest run archive tells of the last run. A run that succeeded without a notice leaves
// no archive, so an archive written before the stored rates were accepted is an earlier run's.
enum class LastRun { Accepted, AcceptedWithNotices, Failed };
LastRun JudgeLastRun(const CSettingsData& d, const RunFolder& run) {
  const uint64_t accepted = FileTimeToU64(d.Rates->LastLoaded);
  if (!run.time) return LastRun::Accepted;
  if (!accepted) return LastRun::Failed;
  if (run.written && run.written < accepted) return LastRun::Accepted;
  // A currency-definitions check runs after the rates are accepted and before the archive.
  uint64_t reference = accepted;
  for (uint64_t t : {FileTimeToU64(d.EMULoadSuccess), FileTimeToU64(d.EMULoadFailure)})
    if (t > reference) reference = t;
  const uint64_t written = run.written ? run.written : run.time;
  return written > reference + kSameRunUnits ? LastRun::Failed : LastRun::AcceptedWithNotices;
}

int Status() {
  const bool running = ServerAnswers();
  std::unique_ptr<CSettings> settings = ReadSettings();
  if (!settings) return 1;
  const CSettingsData& d = *settings->GetData();
  const std::string logs = LogFolder();
  const RunFolder run = NewestRun(logs);
  const LastRun last = JudgeLastRun(d, run);
  const bool failed = last == LastRun::Failed;

  DWORD updating = 0, pending = 0;
  if (running) {
    std::printf("server:            running, pipe %s\n", PipePath().c_str());
    if (FAILED(SendVXVMessageTimeout(WM_VX_ISUPDATING, 0, 0, kPingLimitMs, &updating))) updating = 0;
    if (FAILED(SendVXVMessageTimeout(WM_VX_GETPENDINGUPDATES, 0, 0, kPingLimitMs, &pending))) pending = 0;
  } else if (PipeRefusesThisAccount()) {
    std::printf("server:            unknown: %s\n", PipeRefusal().c_str());
  } else {
    std::printf("server:            not running (nothing answers on %s)\n", PipePath().c_str());
  }
  if (updating) std::printf("update:            running now\n");

  const uint64_t accepted = FileTimeToU64(d.Rates->LastLoaded);
  std::printf("rates accepted:    %s", TimeText(accepted).c_str());
  if (accepted && d.Rates->Source.c_str() && *d.Rates->Source.c_str())
    std::printf(" (%s)", d.Rates->Source.c_str());
  std::printf("\n");
  if (last != LastRun::Accepted) {
    std::printf("last run:          %s, %s\n", TimeText(run.time).c_str(),
                failed ? "failed" : "succeeded, with notices");
    std::string notices = Notices(run);
    if (!notices.empty()) std::printf("  notices (%s/messages.txt):\n%s", run.path.c_str(), notices.c_str());
  } else if (accepted) {
    std::printf("last run:          %s, succeeded\n", TimeText(accepted).c_str());
  } else {
    std::printf("last run:          none recorded\n");
  }

  if (!d.AutoUpdate) {
    std::printf("automatic updates: off (vtxsetup --schedule switches them on)\n");
  } else {
    std::printf("automatic updates: on, at most every %u s, at least every %u s\n", d.UpdateAtMost, d.UpdateAtLeast);
    vtx::schedule::UpdateInputs in;
    in.now = NowTime();
    in.lastLoaded = accepted;
    in.lastFailedAttempt = failed ? run.time : 0;
    in.expires = FileTimeToU64(d.Rates->Expires);
    in.updateAtLeast = d.UpdateAtLeast;
    in.updateAtMost = d.UpdateAtMost;
    in.hulvaneSource = settings->HasHulvaneDataSource(IsHulvaneURL);
    const int64_t delay = vtx::schedule::UpdateDelayMs(in);
    std::string due = delay <= 0 ? "now" : "about " + TimeText(in.now + static_cast<uint64_t>(delay) * 10000);
    if (!running) due += ", once the server runs";
    if (updating) due = "after the update under way";
    std::printf("next update:       %s\n", due.c_str());
  }

  if (running) {
    std::string holder;
    std::string text;
    if (SUCCEEDED(vtx::ReadWholeFile((vtx::sync::RuntimeDir() + "/vtxmanager.lock").c_str(), &text))) {
      int pid = 0;
      unsigned long long start = 0;
      uint64_t ticks = 0;
      if (std::sscanf(text.c_str(), "%d %llu", &pid, &start) == 2 && vtx::ProcessStartTime(pid, &ticks) &&
          ticks == start)
        holder = "vtxmanager (process " + std::to_string(pid) + ")";
    }
    std::printf("configuration:     %s\n", holder.empty() ? "no manager session holds the lock"
                                                          : ("locked by " + holder).c_str());
    std::printf("waiting requests:  %u update request%s counted during the last lock\n", pending,
                pending == 1 ? "" : "s");
  }

  if (d.Sources.GetCount() == 0)
    std::printf("data sources:      none (vtxsetup <product folder> --source <address> <filter> adds one)\n");
  for (uint32_t i = 0; i < d.Sources.GetCount(); ++i) {
    const CDataSource* s = d.Sources[i];
    std::printf("%s%u. %s (%s)\n", i == 0 ? "data sources:      " : "                   ", i + 1,
                s->GetURL() ? s->GetURL() : "", s->GetFilter() ? s->GetFilter() : "");
  }
  std::printf("logs:              %s\n", logs.empty() ? "(no folder)" : logs.c_str());
  return 0;
}

int NotRunning() {
  if (PipeRefusesThisAccount()) return Fail(PipeRefusal());
  return Fail("vtxserver is not running (nothing answers on " + PipePath() + ")");
}

int Update(unsigned waitSeconds) {
  if (!ServerAnswers()) return NotRunning();
  const std::string logs = LogFolder();
  const std::vector<std::string> before = RunNames(logs);
  DWORD reply = 0;
  HRESULT hr = SendVXVMessageTimeout(WM_VX_UPDATENOW, 0, 0, waitSeconds * 1000u, &reply);
  if (hr == E_TIMEOUT || hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT))
    return Fail("no result within " + std::to_string(waitSeconds) + " s; the update goes on (vtxctl status shows it)");
  if (FAILED(hr)) return Fail("the running vtxserver does not answer: " + vtx::tools::CodeText(hr));
  const HRESULT result = static_cast<HRESULT>(reply);
  if (result == VX_E_LOCKED_COUNTED) {
    std::printf("update not started: %s\n", vtx::tools::CodeText(result).c_str());
    return 1;
  }
  std::printf("update %s\n", SUCCEEDED(result) ? "succeeded" : ("failed: " + vtx::tools::CodeText(result)).c_str());
  // The run's notices are archived before its result is handed over.
  const RunFolder run = NewestRun(logs, before);
  if (run.time) {
    std::string notices = Notices(run);
    if (!notices.empty()) std::printf("  notices (%s/messages.txt):\n%s", run.path.c_str(), notices.c_str());
  }
  return SUCCEEDED(result) ? 0 : 1;
}

// Export and import with the rights of this caller: the server opens the file when it can take
// them, else this program does, inside the server's configuration session.
int ConfigurationFile(bool import, const char* given) {
  std::string file = given;
  if (file.empty()) return Usage("no file named");
  if (file[0] != '/') {
    char cwd[4096];
    if (!vtx::sys::Getcwd(cwd, sizeof cwd)) return Fail("the working folder cannot be named");
    file = std::string(cwd) + "/" + file;
  }
  std::string shown = file;
  const char kExtension[] = ".vx-cnf";
  if (shown.size() < sizeof kExtension - 1 ||
      strcasecmp(shown.c_str() + shown.size() - (sizeof kExtension - 1), kExtension) != 0)
    shown += kExtension;
  if (!ServerAnswers()) return NotRunning();
  auto call = [](UINT msg, WPARAM wParam, LPARAM lParam, DWORD* reply) {
    return SendVXVMessageTimeout(msg, wParam, lParam, kCommandLimitMs, reply);
  };
  HRESULT hr = vtx::notify::ConfigurationFileAsCaller(call, import, file.c_str(), [&] {
    return import ? ImportConfiguration(file.c_str(), TRUE) : ExportConfiguration(file.c_str(), TRUE);
  });
  if (hr == E_SERVER_UNAVAILABLE || hr == E_TIMEOUT)
    return Fail("the running vtxserver does not answer: " + vtx::tools::CodeText(hr));
  if (FAILED(hr))
    return Fail(std::string(import ? "import of " : "export to ") + shown + " failed: " + vtx::tools::CodeText(hr));
  std::printf("%s %s\n", import ? "imported the configuration of" : "exported the configuration to", shown.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command given");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "status" || command == "logs") {
    if (argc > 2) return Usage(std::string("unknown argument ") + argv[2]);
    if (command == "status") return Status();
    const std::string logs = LogFolder();
    if (logs.empty()) return Fail("the folder of the per-run logs cannot be named");
    std::printf("%s\n", logs.c_str());
    return 0;
  }
  if (command == "update") {
    unsigned wait = kDefaultUpdateWaitSeconds;
    for (int i = 2; i < argc; ++i) {
      if (std::strcmp(argv[i], "--wait") == 0 && i + 1 < argc) {
        char* end = nullptr;
        unsigned long v = std::strtoul(argv[++i], &end, 10);
        if (!*argv[i] || *end || v == 0 || v > 86400 || argv[i][0] == '-')
          return Usage(std::string("--wait needs a number of seconds from 1 to 86400, not ") + argv[i]);
        wait = static_cast<unsigned>(v);
      } else {
        return Usage(std::string("unknown argument ") + argv[i]);
      }
    }
    return Update(wait);
  }
  if (command == "export" || command == "import") {
    if (argc != 3) return Usage(command + " needs one file name");
    return ConfigurationFile(command == "import", argv[2]);
  }
  return Usage("unknown command " + command);
}
