// Starting programs (in place of ShellExecuteEx and CreateProcess): an explicit argument vector,
// a working directory, no shell and no PATH search; waits with a limit; 32-bit exit codes.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/types.h"

namespace vtx {

struct ProgramStart {
  // An absolute path, a path relative to `directory`, or a bare name found in `directory`
  // (its case may differ from the disk, and a missing ".exe" ending is tolerated).
  std::string program;
  // The program's arguments after its own name, passed exactly as they are.
  std::vector<std::string> arguments;
  // Working directory; empty keeps the caller's.
  std::string directory;
  // Descriptors the child gets as its standard input and error output; -1: /dev/null and ours.
  // They stay the caller's.
  int inputFd = -1;
  int errorFd = -1;
};

// The program file that `start` names, or 0x80070002 when it does not exist.
HRESULT ResolveProgram(const ProgramStart& start, std::string* path);
// Why the program that `start` names may not be run, or "" when it may (or does not exist, which
// its start then says): it and every folder above it must be safe from other accounts
// (UntrustedPathReason), as a program that the store names must be before a service runs it.
std::string UntrustedProgramReason(const ProgramStart& start);

// The PAM session of a program started under another account; it ends when the program has ended.
// Only the logon code makes one, so that a program that never logs on does not link PAM.
class LogonSession {
 public:
  virtual ~LogonSession() = default;
};
struct LogonSessionDeleter {
  void operator()(LogonSession* session) const;
};

// The PAM service file of those logons: $VANTREX_PAM_DIR, else /etc/pam.d, with "hulvane-vantrex".
std::string LogonServicePath();
// The text the installation writes there (pam_unix for authentication, account and session).
const char* LogonServiceText();

// A started child in a process group of its own. Destroying it while the child still runs leaves
// the child running and has it reaped when it ends.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // S_OK, or the HRESULT of the failed start (0x80070002 missing program, 0x80070005 not
  // executable, 0x8007000B not a program the system can run).
  HRESULT Start(const ProgramStart& start);
  // Starts the program under an account that logs on with its password through PAM: authenticated,
  // the account checked, a session opened for the program's lifetime. The program gets the
  // account's groups, uid and home (its folder when `start` names none) and a small environment.
  // 0x8007052E for an unknown user or a wrong password, 0x8007054B for a domain other than this
  // machine, other logon failures as their Win32 codes.
  HRESULT StartWithLogon(const ProgramStart& start, const char* user, const char* domain, const char* password);
  // Starts the program as the account with this uid, without a logon (a caller the kernel names);
  // for our own uid a plain Start.
  HRESULT StartAsUid(const ProgramStart& start, uid_t uid);
  // Waits up to `timeoutMs` (INFINITE: no limit). S_OK with the program's 32-bit code in
  // `exitCode` (see CodeFromWaitStatus). When the limit passes the whole process group is
  // killed and the result is 0x800705B4; when the program is asked to stop meanwhile, the same
  // with 0x800703E3. Any failure leaves that failure in `exitCode`, never 0.
  HRESULT Wait(DWORD timeoutMs, DWORD* exitCode);
  // The same, except that a program still running when the limit passes is left running (and
  // reaped when it ends): 0x800705B4 then.
  HRESULT WaitOrLeave(DWORD timeoutMs, DWORD* exitCode);
  pid_t Pid() const { return pid_; }
  // Readable once the child has ended (-1 on a kernel without process descriptors).
  int PidFd() const { return pidfd_; }
  bool Running() const { return pid_ > 0; }
  // The wait status of the last program that a wait saw end; -1 when none did.
  int LastWaitStatus() const { return lastStatus_; }

 private:
  HRESULT WaitFor(DWORD timeoutMs, bool killAtLimit, DWORD* exitCode);
  HRESULT StartAsIdentity(const ProgramStart& start, uid_t uid, gid_t gid, const std::vector<gid_t>& groups,
                          const std::string& home, const std::vector<std::string>& environment);

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int lastStatus_ = -1;
  std::unique_ptr<LogonSession, LogonSessionDeleter> session_;
};

// The first executable file `name` in the absolute folders of $PATH, or 0x80070002.
HRESULT FindOnPath(const char* name, std::string* path);

// Start, then Wait.
HRESULT RunProgram(const ProgramStart& start, DWORD timeoutMs, DWORD* exitCode);

// Starts a program that nobody waits for, in a session of its own; it is reaped when it ends.
// `pid` (optional) receives its process id.
HRESULT StartDetached(const ProgramStart& start, pid_t* pid = nullptr);

// When the process `pid` started, in clock ticks since boot; false when no such process runs (a
// zombie counts as ended). A pid and its start time together name one process, whatever reuses
// the pid later.
bool ProcessStartTime(pid_t pid, uint64_t* ticks);

// Exit codes. A Linux exit status has 8 bits, so a program of ours ending with an 0x8004xxxx code
// whose family (bits 13-15) is 1-7 and whose low bits are 0-15 exits with family * 16 + low.
// 0 stays 0, 1-15 stay as they are, anything else exits with 1.
int ExitStatusFromCode(DWORD code);
// The parent's side: status 0 is 0, 16-127 is the 0x8004xxxx code again, any other status
// 0x80004005; death by a signal 0x8007042B; an unreadable status 0x80004005, never success.
DWORD CodeFromExitStatus(int status);
DWORD CodeFromWaitStatus(int waitStatus);
// Ends the program with `code` (stdio flushed, exit handlers run).
[[noreturn]] void ExitWithCode(DWORD code);

// Splits a parameter text the way Windows programs split their command line: blanks and TABs
// separate arguments outside double quotes; 2n backslashes before a '"' give n backslashes and
// the quote opens or closes a quoted part, 2n+1 give n backslashes and a literal '"'; inside a
// quoted part '""' is a literal '"'; other backslashes are literal. "" is an empty argument.
std::vector<std::string> SplitParameterText(const char* text);

// An account as the kernel tells it (the caller of a pipe request).
struct Account {
  uid_t uid;
  gid_t gid;
};

// The files that this thread opens, creates or renames while the object lives are touched with
// the rights of another account (its user, its group and that user's groups), as a request made on
// that account's behalf must be; the thread's other rights and the other threads stay as they are.
// Switching needs a process that may change identities (root) unless the account is its own.
class FileAccessAs {
 public:
  FileAccessAs(uid_t uid, gid_t gid);
  ~FileAccessAs();
  FileAccessAs(const FileAccessAs&) = delete;
  FileAccessAs& operator=(const FileAccessAs&) = delete;
  // False when the rights could not be taken: nothing may then be touched on the account's behalf.
  bool Ok() const { return ok_; }

 private:
  bool ok_ = false;
  bool switched_ = false;
  uid_t oldUid_ = 0;
  gid_t oldGid_ = 0;
  std::vector<gid_t> oldGroups_;
};

// For a process about to touch a file that the registry store names, which the product's group
// writes: run by root, the thread takes the rights of the product's account while the object
// lives, or, where the system has the group but no such account, only a file directly in the
// product's data folder may be touched. Without the group only root writes the store, and any
// process other than root keeps its own rights.
class ProductFileAccess {
 public:
  explicit ProductFileAccess(const std::string& path);
  ProductFileAccess(const ProductFileAccess&) = delete;
  ProductFileAccess& operator=(const ProductFileAccess&) = delete;
  // False when the file may not be touched.
  bool Ok() const { return ok_; }

 private:
  std::unique_ptr<FileAccessAs> rights_;
  bool ok_ = true;
};

}  // namespace vtx

// %NAME% replaced by the value of the environment variable NAME; a name that is not set, a lone
// '%' and "%%" stay as they are. The count of characters with the NUL; when `size` (characters) is
// smaller, nothing is written and the count needed is returned. 0 with last error 87 for a null
// source.
DWORD ExpandEnvironmentStringsA(const char* source, char* destination, DWORD size);
DWORD ExpandEnvironmentStringsW(const char16_t* source, char16_t* destination, DWORD size);
