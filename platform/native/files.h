// The native seam's files: descriptors that close themselves, lock files, whole-file reads and
// writes, atomic replace, private temporary files, folders and the product's accounts. Every system
// call here goes through the table of platform/native/syscalls.h.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/types.h"

namespace vtx {

// An open file descriptor, closed when its holder goes.
class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { Reset(); }
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);
  // Closes now and reports what close(2) says: a write to some file systems fails only there.
  HRESULT Close();

 private:
  int fd_ = -1;
};

// An exclusive lock on a file that holds its holder's process id: one program per resource. The
// lock goes with its holder, also when the process dies.
class LockFile {
 public:
  // S_OK when taken (the file is made when missing, mode 0660 in the product group). 0x80070021 (ERROR_LOCK_VIOLATION)
  // when another holds it, with that holder's process id in *holder (0 when it cannot be read);
  // other failures as they come.
  HRESULT Take(const std::string& path, long* holder = nullptr);
  // The same; `previous` gets what the file held before it was taken (up to 64 bytes), so that a
  // holder that died without clearing it can be told from one that let go.
  HRESULT Take(const std::string& path, long* holder, std::string* previous);
  // Empties the file while it is held: the holder let go in order.
  HRESULT Clear();
  void Release() { fd_.Reset(); }
  bool Held() const { return static_cast<bool>(fd_); }

 private:
  ScopedFd fd_;
};

// Takes an exclusive lock (flock) on an open file, trying again every 10 ms for up to
// `timeoutMs` (0: once). S_OK; 0x80070020 (ERROR_SHARING_VIOLATION) when another held it all that
// time; other failures as they come. The one way the product waits for a lock file.
HRESULT LockWithin(int fd, DWORD timeoutMs);

// The temporary folder ($TMPDIR, else /tmp) with a trailing "/".
std::string TempFolder();

// open(2), again after an interruption. An empty holder with the last error set on failure.
ScopedFd OpenFile(const char* path, int flags, unsigned mode = 0);
// Reads until `size` bytes are in or the file ends (`*got` tells how many), at `offset` when it is
// 0 or more, else at the file position; interruptions and short reads are taken care of.
HRESULT ReadFully(int fd, void* buffer, size_t size, size_t* got, int64_t offset = -1);
// Writes every byte, at `offset` when it is 0 or more, else at the file position.
HRESULT WriteFully(int fd, const void* data, size_t size, int64_t offset = -1);

// Compares as file names and _stricmp do: ASCII letters fold to lower case, nothing else.
int CompareNoCase(const char* a, const char* b);

// True for a name that stays inside the folder it is looked up in: not empty, not "." or "..",
// and without "/", "\" or ":".
bool IsPlainFileName(const char* name);

// mkdir -p: every missing folder of `path` is created (with `mode` less the umask). S_OK when it
// exists afterwards.
HRESULT MakeDirectories(const char* path, unsigned mode = 0777);

// The name of the product's account and of its group: $VANTREX_ACCOUNT, else "vantrex". The group
// holds the configuration administrators; the account (whose own group it is) runs vtxserver and
// vtxwebservice.
std::string ProductAccountName();
// The product's group; false when the system has none.
bool ProductGroup(gid_t* gid);
// The product's account; false when the system has none.
bool ProductAccount(uid_t* uid, gid_t* gid);
// Gives a file (or folder) of ours `mode` and, when there is one, the product group: what the
// product's programs running under different accounts share. The umask plays no part.
HRESULT ShareWithProductGroup(int fd, unsigned mode);
HRESULT ShareWithProductGroup(const char* path, unsigned mode);
// The same, and a file that root makes goes to the product's account as well, so that the
// services, which run under that account, own what the installation made for them.
HRESULT HandToProduct(int fd, unsigned mode);
HRESULT HandToProduct(const char* path, unsigned mode);

// Why a program or folder that a process runs from cannot be trusted, or "" when it can: the path
// is absolute, and it and every folder above it belong to root or to this process's own account
// and nobody else may change them (no group or other write, except a root folder with the sticky
// bit, such as /tmp, whose entries only their owners replace).
std::string UntrustedPathReason(const std::string& path);

// The whole file as bytes. 0x80070002 when missing, 0x80070005 when not readable (a folder too).
// (platform/files.h reads one into a global-heap block.)
HRESULT ReadWholeFile(const char* path, std::string* data);
// Creates or truncates the file in place (a new file gets `mode` less the umask) and writes every
// byte; a short write is a failure.
HRESULT WriteWholeFile(const char* path, const void* data, size_t size, unsigned mode = 0666);
// Which mode a replaced file gets: the old file's (a new one gets `newMode`; a file that is there
// but cannot be looked at is not replaced), or `newMode` whatever was there (the old file is not
// looked at, and a link gives way to a file of its own).
enum class ReplaceMode { kKeepOld, kAlwaysNew };
// Writes a new file beside `path` and renames it over `path`, so that a reader sees the old
// contents or the new ones, never a part.
HRESULT WriteFileReplacing(const char* path, const void* data, size_t size, unsigned newMode,
                           ReplaceMode how = ReplaceMode::kKeepOld);
HRESULT FileSize(const char* path, uint64_t* size);

// Which file a path named and how it stood: a file that is rewritten or replaced gets another.
struct FileStamp {
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modifiedNs = 0;
  bool operator==(const FileStamp&) const = default;
};
// The stamp of the file at `path` now (links followed).
HRESULT StampFile(const char* path, FileStamp* stamp);
// At most `maxBytes` of a regular file, and its stamp. The open never waits: a FIFO, a device or
// a folder is refused with 0x8007010B before anything is read.
HRESULT ReadRegularFile(const char* path, size_t maxBytes, std::string* data, FileStamp* stamp);

// A new private temporary file (mode 0600) in `folder` (null: the temporary folder) named
// `prefix`, six random characters and `suffix`, holding `data`. On any failure nothing is left.
// With `inUse`, the file stays open there under a lock that marks it as this process's for as long
// as the holder lives (RemoveStaleTempFiles leaves it alone).
HRESULT WriteTempFile(const char* folder, const char* prefix, const char* suffix, const void* data,
                      size_t size, std::string* path, ScopedFd* inUse = nullptr);
// Deletes what a process that died left of its temporary files: this account's regular files
// `prefix`*`suffix` in `folder` (null: the temporary folder) that no living process marks as in
// use and that are older than a minute.
void RemoveStaleTempFiles(const char* folder, const char* prefix, const char* suffix);

// The regular files of `folder` whose names end in `extension` (with its ".", compared without
// regard to case; null or "" lists every file), sorted by name without regard to case.
// 0x80070003 when the folder cannot be read.
HRESULT ListFiles(const char* folder, const char* extension, std::vector<std::string>* names);

// The path of `name` inside `folder`, where each component of `name` may differ in case from the
// disk: the exact name wins, else the first match without regard to case (in sorted order).
// 0x80070002 (0x80070003 for a folder component) when nothing matches.
HRESULT ResolveFileName(const char* folder, const char* name, std::string* path);

// `folder` + "/" + `name`, without doubling a "/" already there.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace vtx
