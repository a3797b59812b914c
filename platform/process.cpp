#include "platform/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/service.h"
#include "platform/sync.h"

extern char** environ;

namespace {

HRESULT FromErrno(int err) {
  DWORD e = err == ENOEXEC ? static_cast<DWORD>(ERROR_BAD_FORMAT) : vtx::Win32FromErrno(err);
  SetLastError(e);
  return HRESULT_FROM_WIN32(e);
}

// Nobody waits for this child any more: a thread of its own collects it so that it never stays
// a zombie.
// A logon session of the child ends after it.
void ReapLater(pid_t pid, std::unique_ptr<vtx::LogonSession, vtx::LogonSessionDeleter> session = {}) {
  try {
    std::thread([pid, s = std::move(session)]() mutable {
      int st;
      while (vtx::sys::Waitpid(pid, &st, 0) < 0 && errno == EINTR) {
      }
      s.reset();
    }).detach();
  } catch (...) {
    // No thread to be had: collect it now if it has ended; otherwise it stays until we exit.
    int st;
    vtx::sys::Waitpid(pid, &st, WNOHANG);
  }
}

HRESULT Spawn(const vtx::ProgramStart& start, bool detached, pid_t* pidOut) {
  std::string path;
  HRESULT hr = vtx::ResolveProgram(start, &path);
  if (FAILED(hr)) return hr;

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : start.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return E_OUTOFMEMORY;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return E_OUTOFMEMORY;
  }
  // No console for our children: stdin from /dev/null (or the caller's descriptor), stdout and
  // stderr as ours (or the caller's), and none of our other descriptors.
  int rc = start.inputFd >= 0 ? posix_spawn_file_actions_adddup2(&actions, start.inputFd, 0)
                              : posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0 && start.errorFd >= 0) rc = posix_spawn_file_actions_adddup2(&actions, start.errorFd, 2);
  if (rc == 0 && !start.directory.empty())
    rc = posix_spawn_file_actions_addchdir_np(&actions, start.directory.c_str());
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s = 1; s < 32; ++s)
    if (s != SIGKILL && s != SIGSTOP) sigaddset(&defaults, s);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                (detached ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP);
  if (rc == 0) rc = posix_spawnattr_setflags(&attr, flags);
  if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &none);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &defaults);
  if (rc == 0 && !detached) rc = posix_spawnattr_setpgroup(&attr, 0);

  pid_t pid = -1;
  if (rc == 0) rc = vtx::sys::PosixSpawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return FromErrno(rc);
  *pidOut = pid;
  return S_OK;
}

bool EndsWithExe(const std::string& s) {
  return s.size() > 4 && _stricmp(s.c_str() + s.size() - 4, ".exe") == 0;
}

}  // namespace

namespace vtx {

HRESULT ResolveProgram(const ProgramStart& start, std::string* path) {
  if (!path) return E_INVALIDARG;
  path->clear();
  if (start.program.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string found;
  if (start.program[0] == '/') {
    if (vtx::sys::Access(start.program.c_str(), F_OK) != 0) return FromErrno(errno);
    found = start.program;
  } else {
    std::string base = start.directory.empty() ? "." : start.directory;
    HRESULT hr = ResolveFileName(base.c_str(), start.program.c_str(), &found);
    if (FAILED(hr) && EndsWithExe(start.program)) {
      std::string bare = start.program.substr(0, start.program.size() - 4);
      hr = ResolveFileName(base.c_str(), bare.c_str(), &found);
    }
    if (FAILED(hr)) return hr;
  }
  // The child changes to its directory before it starts: a relative path would no longer hold.
  if (found[0] != '/') {
    char cwd[4096];
    if (!vtx::sys::Getcwd(cwd, sizeof cwd)) return FromErrno(errno);
    found = JoinPath(cwd, found);
  }
  *path = found;
  return S_OK;
}

void LogonSessionDeleter::operator()(LogonSession* s) const { delete s; }

ChildProcess::~ChildProcess() {
  if (pidfd_ >= 0) vtx::sys::Close(pidfd_);
  if (pid_ > 0) ReapLater(pid_, std::move(session_));
}

HRESULT ChildProcess::Start(const ProgramStart& start) {
  if (pid_ > 0) return E_UNEXPECTED;
  pid_t pid;
  HRESULT hr = Spawn(start, false, &pid);
  if (FAILED(hr)) return hr;
  pid_ = pid;
  pidfd_ = vtx::sys::PidfdOpen(pid, 0);  // -1 on an old kernel: the wait polls
  return S_OK;
}

HRESULT ChildProcess::Wait(DWORD timeoutMs, DWORD* exitCode) { return WaitFor(timeoutMs, true, exitCode); }

HRESULT ChildProcess::WaitOrLeave(DWORD timeoutMs, DWORD* exitCode) { return WaitFor(timeoutMs, false, exitCode); }

HRESULT ChildProcess::WaitFor(DWORD timeoutMs, bool killAtLimit, DWORD* exitCode) {
  DWORD ignored;
  if (!exitCode) exitCode = &ignored;
  *exitCode = E_FAIL;
  if (pid_ <= 0) return E_UNEXPECTED;

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  bool ended = false;
  int pause = 1;
  for (;;) {
    pid_t r = vtx::sys::Waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      ended = true;
      break;
    }
    if (r < 0 && errno != EINTR) {
      // The status is lost (someone else collected it): that is no success.
      pid_ = -1;
      session_.reset();
      *exitCode = E_FAIL;
      return E_FAIL;
    }
    if (vtx::sync::StopRequested()) break;
    int waitMs = -1;
    if (timeoutMs != INFINITE) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      waitMs = static_cast<int>(std::min<long long>(left, 1 << 30));
    }
    if (pidfd_ >= 0) {
      pollfd p[2] = {{pidfd_, POLLIN, 0}, {vtx::sync::StopFd(), POLLIN, 0}};
      vtx::sys::Poll(p, p[1].fd >= 0 ? 2 : 1, p[1].fd >= 0 ? waitMs : std::min(waitMs < 0 ? 250 : waitMs, 250));
    } else {
      int step = waitMs < 0 ? pause : std::min(pause, waitMs);
      vtx::sys::SleepMs(static_cast<unsigned>(step));
      pause = std::min(pause * 2, 50);
    }
  }
  if (!ended && !killAtLimit) {
    *exitCode = E_TIMEOUT;
    SetLastError(ERROR_TIMEOUT);
    return E_TIMEOUT;  // the destructor has it reaped when it ends
  }
  if (!ended) {
    // The program and everything it started go: its time is up, or the program stops.
    vtx::sys::Kill(-pid_, SIGKILL);
    vtx::sys::Kill(pid_, SIGKILL);
    while (vtx::sys::Waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    session_.reset();
    bool stopped = vtx::sync::StopRequested();
    HRESULT hr = stopped ? HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED) : E_TIMEOUT;
    *exitCode = hr;
    SetLastError(stopped ? ERROR_OPERATION_ABORTED : ERROR_TIMEOUT);
    return hr;
  }
  pid_ = -1;
  session_.reset();
  lastStatus_ = status;
  *exitCode = CodeFromWaitStatus(status);
  return S_OK;
}

HRESULT FindOnPath(const char* name, std::string* path) {
  path->clear();
  const char* list = vtx::sys::Getenv("PATH");
  if (!name || !*name || std::strchr(name, '/') || !list) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string all = list;
  size_t start = 0;
  for (;;) {
    size_t end = all.find(':', start);
    std::string dir = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // Relative entries would depend on the current folder: never searched.
    if (!dir.empty() && dir[0] == '/') {
      std::string candidate = JoinPath(dir, name);
      struct stat st;
      if (vtx::sys::Stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
          vtx::sys::Access(candidate.c_str(), X_OK) == 0) {
        *path = candidate;
        return S_OK;
      }
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT RunProgram(const ProgramStart& start, DWORD timeoutMs, DWORD* exitCode) {
  if (exitCode) *exitCode = E_FAIL;
  ChildProcess child;
  HRESULT hr = child.Start(start);
  if (FAILED(hr)) {
    if (exitCode) *exitCode = hr;
    return hr;
  }
  return child.Wait(timeoutMs, exitCode);
}

HRESULT StartDetached(const ProgramStart& start, pid_t* pid) {
  pid_t child;
  HRESULT hr = Spawn(start, true, &child);
  if (FAILED(hr)) return hr;
  if (pid) *pid = child;
  ReapLater(child);
  return S_OK;
}

int ExitStatusFromCode(DWORD code) {
  if (code <= 15) return static_cast<int>(code);
  if ((code & 0xFFFF0000u) == 0x80040000u) {
    DWORD family = (code >> 13) & 7;
    DWORD low = code & 0x1FFF;
    if (family >= 1 && low <= 15) return static_cast<int>(family * 16 + low);
  }
  return 1;
}

DWORD CodeFromExitStatus(int status) {
  if (status == 0) return 0;
  if (status >= 16 && status <= 127)
    return 0x80040000u | (static_cast<DWORD>(status / 16) << 13) | static_cast<DWORD>(status % 16);
  return E_FAIL;
}

DWORD CodeFromWaitStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return CodeFromExitStatus(WEXITSTATUS(waitStatus));
  if (WIFSIGNALED(waitStatus)) return E_KILLED_BY_SIGNAL;
  return E_FAIL;
}

void ExitWithCode(DWORD code) { std::exit(ExitStatusFromCode(code)); }

std::vector<std::string> SplitParameterText(const char* text) {
  std::vector<std::string> out;
  if (!text) return out;
  const char* p = text;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    std::string arg;
    bool quoted = false;
    while (*p) {
      if (!quoted && (*p == ' ' || *p == '\t')) break;
      if (*p == '\\') {
        size_t n = 0;
        while (p[n] == '\\') ++n;
        p += n;
        if (*p == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) {
            arg += '"';
            ++p;
          }
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (*p == '"') {
        if (quoted && p[1] == '"') {
          arg += '"';
          p += 2;
        } else {
          quoted = !quoted;
          ++p;
        }
        continue;
      }
      arg += *p++;
    }
    out.push_back(std::move(arg));
  }
  return out;
}

bool ProcessStartTime(pid_t pid, uint64_t* ticks) {
  if (pid <= 0) return false;
  std::string stat;
  if (FAILED(ReadWholeFile(("/proc/" + std::to_string(pid) + "/stat").c_str(), &stat))) return false;
  // "pid (name) state ...": the name may hold blanks and parentheses, so fields count from its end.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::vector<std::string> fields;
  size_t at = close + 1;
  while (at < stat.size()) {
    size_t begin = stat.find_first_not_of(' ', at);
    if (begin == std::string::npos) break;
    size_t end = stat.find(' ', begin);
    fields.push_back(stat.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    at = end == std::string::npos ? stat.size() : end;
  }
  // fields[0] is the state (field 3), the start time is field 22.
  if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X") return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(fields[19].c_str(), &end, 10);
  if (!end || *end) return false;
  *ticks = v;
  return true;
}

FileAccessAs::FileAccessAs(uid_t uid, gid_t gid) {
  if (uid == vtx::sys::Geteuid() && gid == vtx::sys::Getegid()) {
    ok_ = true;
    return;
  }
  // The account's groups, as a logon would give them.
  std::vector<gid_t> groups(64);
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (vtx::sys::GetpwuidR(uid, &entry, buffer, sizeof buffer, &found) == 0 && found) {
    int n = static_cast<int>(groups.size());
    if (vtx::sys::Getgrouplist(found->pw_name, gid, groups.data(), &n) < 0) {
      groups.resize(static_cast<size_t>(n));
      if (vtx::sys::Getgrouplist(found->pw_name, gid, groups.data(), &n) < 0) n = 0;
    }
    groups.resize(static_cast<size_t>(std::max(n, 0)));
  } else {
    groups.assign(1, gid);
  }
  int count = vtx::sys::Getgroups(0, nullptr);
  if (count < 0) return;
  oldGroups_.resize(static_cast<size_t>(count));
  if (count && vtx::sys::Getgroups(count, oldGroups_.data()) < 0) return;
  oldUid_ = static_cast<uid_t>(vtx::sys::Setfsuid(static_cast<uid_t>(-1)));
  oldGid_ = static_cast<gid_t>(vtx::sys::Setfsgid(static_cast<gid_t>(-1)));
  // This thread alone changes (the library's setgroups would change every thread).
  if (vtx::sys::SetgroupsThread(groups.size(), groups.data()) != 0) return;
  switched_ = true;
  vtx::sys::Setfsgid(gid);
  vtx::sys::Setfsuid(uid);
  ok_ = static_cast<uid_t>(vtx::sys::Setfsuid(static_cast<uid_t>(-1))) == uid &&
        static_cast<gid_t>(vtx::sys::Setfsgid(static_cast<gid_t>(-1))) == gid;
}

std::string UntrustedProgramReason(const ProgramStart& start) {
  std::string path;
  // A missing program is left to the start, which fails with its own code.
  if (FAILED(ResolveProgram(start, &path))) return "";
  if (!path.empty() && path[0] != '/') {
    char cwd[4096];
    if (!vtx::sys::Getcwd(cwd, sizeof cwd)) return path + " cannot be found";
    path = JoinPath(cwd, path);
  }
  return UntrustedPathReason(path);
}

ProductFileAccess::ProductFileAccess(const std::string& path) {
  if (vtx::sys::Geteuid() != 0) return;
  uid_t uid;
  gid_t gid;
  if (ProductAccount(&uid, &gid)) {
    rights_ = std::make_unique<FileAccessAs>(uid, gid);
    ok_ = rights_->Ok();
    return;
  }
  // Without the product's group nobody but root writes the store: its names are root's own.
  if (!ProductGroup(nullptr)) return;
  size_t slash = path.rfind('/');
  ok_ = slash != std::string::npos && path.substr(0, slash) == vtx::service::ProductDataDir() &&
        path.find("/../") == std::string::npos && path.compare(slash, 3, "/..") != 0;
}

FileAccessAs::~FileAccessAs() {
  if (!switched_) return;
  vtx::sys::Setfsuid(oldUid_);
  vtx::sys::Setfsgid(oldGid_);
  // Straight through the table: putting the identity back is never made to fail by a test's
  // faults, and a real failure must not leave the thread as another account.
  if (vtx::sys::Calls().setgroups_thread(oldGroups_.size(), oldGroups_.data()) != 0) std::abort();
}

}  // namespace vtx

namespace {

std::string ExpandText(const std::string& in) {
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    size_t close = in[i] == '%' ? in.find('%', i + 1) : std::string::npos;
    if (close == std::string::npos || close == i + 1) {
      out += in[i++];
      continue;
    }
    std::string name = in.substr(i + 1, close - i - 1);
    const char* value = vtx::sys::Getenv(name.c_str());
    if (value && name.find('=') == std::string::npos) {
      out += value;
      i = close + 1;
    } else {
      out += in[i++];  // not a variable: the '%' stays, and the text after it is read again
    }
  }
  return out;
}

template <class T>
DWORD Deliver(const std::basic_string<T>& text, T* destination, DWORD size) {
  DWORD need = static_cast<DWORD>(text.size() + 1);
  if (size >= need && destination) std::memcpy(destination, text.c_str(), need * sizeof(T));
  return need;
}

}  // namespace

DWORD ExpandEnvironmentStringsA(const char* source, char* destination, DWORD size) {
  if (!source) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Deliver(ExpandText(source), destination, size);
}

DWORD ExpandEnvironmentStringsW(const char16_t* source, char16_t* destination, DWORD size) {
  if (!source) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // The environment is in the ANSI code page; so are the names.
  return Deliver(vtx::AnsiToWide(ExpandText(vtx::WideToAnsi(source))), destination, size);
}
