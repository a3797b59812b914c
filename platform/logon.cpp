// Programs started under another account: a logon through PAM (our own service file), or the
// account of a caller that the kernel names; the child gets that account's groups, uid, home and
// a small environment, and is started by argument vector, never through a shell.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "platform/native/syscalls.h"
#include "platform/process.h"
#include "platform/sysinfo.h"

namespace vtx {

namespace {

constexpr char kPamService[] = "hulvane-vantrex";
constexpr char kPamText[] =
    "# The Vantrex messenger starts programs under the accounts that the configuration names.\n"
    "auth     required  pam_unix.so\n"
    "account  required  pam_unix.so\n"
    "session  required  pam_unix.so\n";

struct Identity {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string name, home, shell;
};

bool FromPasswd(const passwd& pw, Identity* id) {
  id->uid = pw.pw_uid;
  id->gid = pw.pw_gid;
  id->name = pw.pw_name ? pw.pw_name : "";
  id->home = pw.pw_dir && *pw.pw_dir ? pw.pw_dir : "/";
  id->shell = pw.pw_shell && *pw.pw_shell ? pw.pw_shell : "/bin/sh";
  int n = 32;
  for (;;) {
    id->groups.assign(static_cast<size_t>(n), 0);
    int count = n;
    if (vtx::sys::Getgrouplist(id->name.c_str(), id->gid, id->groups.data(), &count) >= 0) {
      id->groups.resize(static_cast<size_t>(count));
      return true;
    }
    if (count <= n || count > 65536) return false;
    n = count;
  }
}

bool ByName(const char* name, Identity* id) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  return vtx::sys::GetpwnamR(name, &pw, buf.data(), buf.size(), &found) == 0 && found && FromPasswd(pw, id);
}

bool ByUid(uid_t uid, Identity* id) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  return vtx::sys::GetpwuidR(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && FromPasswd(pw, id);
}

HRESULT FromWin32(DWORD e) {
  SetLastError(e);
  return HRESULT_FROM_WIN32(e);
}

// PAM's results as the Win32 codes of a logon.
HRESULT FromPam(int r) {
  switch (r) {
    case PAM_SUCCESS: return S_OK;
    case PAM_BUF_ERR: return E_OUTOFMEMORY;
    case PAM_AUTH_ERR:
    case PAM_USER_UNKNOWN:
    case PAM_MAXTRIES:
    case PAM_CRED_INSUFFICIENT: return FromWin32(ERROR_LOGON_FAILURE);
    case PAM_ACCT_EXPIRED: return FromWin32(ERROR_ACCOUNT_EXPIRED);
    case PAM_NEW_AUTHTOK_REQD: return FromWin32(ERROR_PASSWORD_MUST_CHANGE);
    case PAM_AUTHTOK_EXPIRED: return FromWin32(ERROR_PASSWORD_EXPIRED);
    case PAM_PERM_DENIED: return FromWin32(ERROR_ACCOUNT_RESTRICTION);
    case PAM_AUTHINFO_UNAVAIL: return FromWin32(ERROR_NO_LOGON_SERVERS);
    default: return FromWin32(ERROR_INTERNAL_ERROR);
  }
}

// Answers PAM's questions: the password for a hidden prompt, nothing else.
int Converse(int count, const pam_message** messages, pam_response** responses, void* password) {
  if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
  auto* out = static_cast<pam_response*>(calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (!out) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    if (messages[i]->msg_style != PAM_PROMPT_ECHO_OFF) continue;
    out[i].resp = strdup(static_cast<const char*>(password));
    if (!out[i].resp) {
      for (int j = 0; j < i; ++j) free(out[j].resp);
      free(out);
      return PAM_BUF_ERR;
    }
  }
  *responses = out;
  return PAM_SUCCESS;
}

bool LocalDomain(const std::string& domain) {
  if (domain.empty() || domain == ".") return true;
  char name[256];
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size) && _stricmp(name, domain.c_str()) == 0) return true;
  size = sizeof name;
  return GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) && _stricmp(name, domain.c_str()) == 0;
}

void Append(std::vector<std::string>& env, const std::string& entry) {
  std::string key = entry.substr(0, entry.find('=') + 1);
  for (std::string& e : env)
    if (e.compare(0, key.size(), key) == 0) {
      e = entry;
      return;
    }
  env.push_back(entry);
}

}  // namespace

// An open PAM session; closed (and the credentials dropped) when it goes.
class PamSession final : public LogonSession {
 public:
  explicit PamSession(pam_handle_t* h) : h_(h) {}
  ~PamSession() override {
    if (sessionOpen_) pam_close_session(h_, 0);
    if (credentials_) pam_setcred(h_, PAM_DELETE_CRED);
    pam_end(h_, PAM_SUCCESS);
  }
  PamSession(const PamSession&) = delete;
  PamSession& operator=(const PamSession&) = delete;
  pam_handle_t* h_;
  bool credentials_ = false;
  bool sessionOpen_ = false;
};

std::string LogonServicePath() {
  return JoinPath(env::Get(env::kPamDir, env::kDefaultPamDir), kPamService);
}

const char* LogonServiceText() { return kPamText; }

HRESULT ChildProcess::StartAsIdentity(const ProgramStart& start, uid_t uid, gid_t gid, const std::vector<gid_t>& groups,
                                      const std::string& home, const std::vector<std::string>& environment) {
  if (pid_ > 0) return E_UNEXPECTED;
  std::string path;
  HRESULT hr = ResolveProgram(start, &path);
  if (FAILED(hr)) return hr;
  std::string directory = start.directory.empty() ? home : start.directory;
  // not = "/": g++ 12 warns falsely (-Wrestrict)
  if (vtx::sys::Access(directory.c_str(), F_OK) != 0) directory.assign(1, '/');

  // Everything the child needs is made here: between fork and exec it only makes system calls.
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& a : start.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int report[2];
  if (vtx::sys::Pipe2(report, O_CLOEXEC) != 0) return FromWin32(Win32FromErrno(errno));
  pid_t pid = vtx::sys::Fork();
  if (pid < 0) {
    int e = errno;
    vtx::sys::Close(report[0]);
    vtx::sys::Close(report[1]);
    return FromWin32(Win32FromErrno(e));
  }
  if (pid == 0) {
    vtx::sys::Setpgid(0, 0);
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    for (int s = 1; s < 32; ++s)
      if (s != SIGKILL && s != SIGSTOP) vtx::sys::Sigaction(s, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    vtx::sys::Sigprocmask(SIG_SETMASK, &none, nullptr);
    int in = vtx::sys::Open("/dev/null", O_RDONLY);
    if (in >= 0 && in != 0) {
      vtx::sys::Dup2(in, 0);
      vtx::sys::Close(in);
    }
    vtx::sys::CloseRange(3u, ~0u, 4 /* CLOSE_RANGE_CLOEXEC */);
    int e = 0;
    if (vtx::sys::Setgroups(groups.size(), groups.data()) != 0 || vtx::sys::Setgid(gid) != 0 ||
        vtx::sys::Setuid(uid) != 0)
      e = errno;
    else if (vtx::sys::Chdir(directory.c_str()) != 0)
      e = errno;
    else
      vtx::sys::Execve(path.c_str(), argv.data(), envp.data());
    if (!e) e = errno;
    if (vtx::sys::Write(report[1], &e, sizeof e) < 0) {
    }
    vtx::sys::Exit(127);
  }
  vtx::sys::Close(report[1]);
  int e = 0;
  ssize_t n;
  do n = vtx::sys::Read(report[0], &e, sizeof e);
  while (n < 0 && errno == EINTR);
  vtx::sys::Close(report[0]);
  if (n == static_cast<ssize_t>(sizeof e)) {
    int st;
    while (vtx::sys::Waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    DWORD w = e == ENOEXEC ? static_cast<DWORD>(ERROR_BAD_FORMAT) : Win32FromErrno(e);
    return FromWin32(w);
  }
  pid_ = pid;
  pidfd_ = vtx::sys::PidfdOpen(pid, 0);
  return S_OK;
}

HRESULT ChildProcess::StartAsUid(const ProgramStart& start, uid_t uid) {
  if (uid == vtx::sys::Geteuid()) return Start(start);
  Identity id;
  if (!ByUid(uid, &id)) return FromWin32(ERROR_NO_SUCH_USER);
  std::vector<std::string> env = {"HOME=" + id.home, "USER=" + id.name, "LOGNAME=" + id.name, "SHELL=" + id.shell,
                                  "PATH=/usr/local/bin:/usr/bin:/bin"};
  return StartAsIdentity(start, id.uid, id.gid, id.groups, id.home, env);
}

HRESULT ChildProcess::StartWithLogon(const ProgramStart& start, const char* user, const char* domain,
                                     const char* password) {
  if (pid_ > 0) return E_UNEXPECTED;
  if (!user || !*user) return FromWin32(ERROR_LOGON_FAILURE);
  // Only accounts of this machine log on here.
  if (!LocalDomain(domain ? domain : "")) return FromWin32(ERROR_NO_SUCH_DOMAIN);
  std::string secret = password ? password : "";
  pam_conv conv{Converse, secret.data()};
  pam_handle_t* h = nullptr;
  const char* dir = env::Get(env::kPamDir);
  int r = dir ? pam_start_confdir(kPamService, user, &conv, dir, &h) : pam_start(kPamService, user, &conv, &h);
  if (r != PAM_SUCCESS || !h) return FromPam(r == PAM_SUCCESS ? PAM_SYSTEM_ERR : r);
  PamSession* pam = vtx::heap::New<PamSession>(h);
  std::unique_ptr<LogonSession, LogonSessionDeleter> session(pam);
  if (!session) {
    pam_end(h, PAM_BUF_ERR);
    return E_OUTOFMEMORY;
  }
  r = pam_authenticate(h, PAM_DISALLOW_NULL_AUTHTOK);
  if (r == PAM_SUCCESS) r = pam_acct_mgmt(h, PAM_DISALLOW_NULL_AUTHTOK);
  std::fill(secret.begin(), secret.end(), '\0');
  if (r != PAM_SUCCESS) return FromPam(r);
  // The account that PAM logged on (a module may map the name).
  const void* item = nullptr;
  const char* name = pam_get_item(h, PAM_USER, &item) == PAM_SUCCESS && item ? static_cast<const char*>(item) : user;
  Identity id;
  if (!ByName(name, &id)) return FromWin32(ERROR_LOGON_FAILURE);
  r = pam_setcred(h, PAM_ESTABLISH_CRED);
  if (r != PAM_SUCCESS) return FromPam(r);
  pam->credentials_ = true;
  r = pam_open_session(h, 0);
  if (r != PAM_SUCCESS) return FromPam(r);
  pam->sessionOpen_ = true;

  std::vector<std::string> env = {"HOME=" + id.home, "USER=" + id.name, "LOGNAME=" + id.name, "SHELL=" + id.shell,
                                  "PATH=/usr/local/bin:/usr/bin:/bin"};
  if (char** list = pam_getenvlist(h)) {
    for (char** p = list; *p; ++p) {
      Append(env, *p);
      free(*p);
    }
    free(list);
  }
  HRESULT hr = StartAsIdentity(start, id.uid, id.gid, id.groups, id.home, env);
  if (FAILED(hr)) return hr;
  session_ = std::move(session);
  return S_OK;
}

}  // namespace vtx
