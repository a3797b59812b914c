// Files and folders: special folders, directories, private temporary files, descriptors that close
// themselves, whole-file reads, writes and copies, and names whose case may not match the disk.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/types.h"

constexpr int CSIDL_PERSONAL = 0x0005;
constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
constexpr int CSIDL_COMMON_APPDATA = 0x0023;
constexpr int CSIDL_FLAG_CREATE = 0x8000;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_NOTIFY_CHANGE_FILE_NAME = 0x01;
constexpr DWORD FILE_NOTIFY_CHANGE_LAST_WRITE = 0x10;

// The path of a special folder into `path` (MAX_PATH characters), without a trailing "/":
//   CSIDL_COMMON_APPDATA  $VANTREX_APPDATA, else /var/lib
//   CSIDL_APPDATA         $XDG_CONFIG_HOME, else $HOME/.config
//   CSIDL_LOCAL_APPDATA   $XDG_DATA_HOME, else $HOME/.local/share
//   CSIDL_PERSONAL        $HOME
// CSIDL_FLAG_CREATE creates the folder when missing. S_OK, or 0x80070002 (another folder, no value
// to build it from, or missing without the create flag) and other errors.
HRESULT SHGetFolderPathA(void* window, int folder, HANDLE token, DWORD flags, char* path);
// The same as a BOOL; FALSE for an unknown folder or any failure.
BOOL GetSpecialFolderPath(int folder, char* buffer);

// Creates every missing directory of `path` up to its last '/' (the part after it is taken as a
// file name). 0, 0x8007006F for 260 characters or more, or the system error.
HRESULT MakeSureDirectoryPathExists(const char* path);

// One directory; its parent must exist. FALSE with last error 183 when it exists, 3 when the
// parent is missing.
BOOL CreateDirectoryA(const char* path, void* security);
BOOL DeleteFileA(const char* path);
// Copies the bytes of `from` to `to`, which gets the permission bits of `from`. With
// `failIfExists` an existing `to` is left alone (last error 80). A failed copy removes what it made
// of `to`. FALSE with the last error set.
BOOL CopyFileA(const char* from, const char* to, BOOL failIfExists);
// FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_READONLY or FILE_ATTRIBUTE_NORMAL; INVALID_FILE_ATTRIBUTES
// with the last error set when the path does not exist.
DWORD GetFileAttributesA(const char* path);
// The temporary folder ($TMPDIR, else /tmp) with a trailing "/"; the length, 0 on failure, or the
// size needed when `size` is too small (as Windows does).
DWORD GetTempPathA(DWORD size, char* buffer);
// Creates a new empty file, mode 0600, named `prefix` (up to its first 3 characters), six random
// characters and ".tmp" in `folder`, and writes its path to `result` (MAX_PATH characters).
// Nonzero on success; 0 with the last error set. `unique` must be 0.
UINT GetTempFileNameA(const char* folder, const char* prefix, UINT unique, char* result);

// A change notification on one folder (not its subfolders; `watchSubtree` must be FALSE): a
// waitable handle, signalled once a file of the folder changes as `filter` says, until
// FindNextChangeNotification. LAST_WRITE: a file is written, created or moved in; FILE_NAME: a
// name is created, deleted or renamed. INVALID_HANDLE_VALUE with the last error set (267 when the
// path is no folder). The handle's descriptor (vtx::sync::FromHandle(h)->PollFd()) is readable
// while it is signalled, so that another event loop can watch it.
HANDLE FindFirstChangeNotificationA(const char* folder, BOOL watchSubtree, DWORD filter);
// Takes the changes reported so far: the handle is signalled again by the next change.
BOOL FindNextChangeNotification(HANDLE handle);
BOOL FindCloseChangeNotification(HANDLE handle);

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

// open(2), again after an interruption. An empty holder with the last error set on failure.
ScopedFd OpenFile(const char* path, int flags, unsigned mode = 0);
// Reads until `size` bytes are in or the file ends (`*got` tells how many), at `offset` when it is
// 0 or more, else at the file position; interruptions and short reads are taken care of.
HRESULT ReadFully(int fd, void* buffer, size_t size, size_t* got, int64_t offset = -1);
// Writes every byte, at `offset` when it is 0 or more, else at the file position.
HRESULT WriteFully(int fd, const void* data, size_t size, int64_t offset = -1);

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
HRESULT ReadWholeFile(const char* path, std::string* data);
// The whole of a regular file in a new global-heap block (GlobalFree) of its size and `zeros` NUL
// bytes after it; `*size` gets the bytes read (fewer when the file shrinks meanwhile). A file of
// `limit` bytes or more gives 0x800700DF, anything but a regular file 0x8007010B, no memory
// 0x8007000E; other failures set the last error as well.
HRESULT ReadWholeFile(const char* path, uint64_t limit, size_t zeros, char** block, size_t* size);
// The same from a file opened already.
HRESULT ReadWholeFile(const ScopedFd& file, uint64_t limit, size_t zeros, char** block, size_t* size);
// Creates or truncates the file in place (a new file gets `mode` less the umask) and writes every
// byte; a short write is a failure.
HRESULT WriteWholeFile(const char* path, const void* data, size_t size, unsigned mode = 0666);
// Writes a new file beside `path` and renames it over `path`, so that a reader sees the old
// contents or the new ones, never a part. The file keeps its mode; a new one gets `newMode`.
HRESULT WriteFileReplacing(const char* path, const void* data, size_t size, unsigned newMode);
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
