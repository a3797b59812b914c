// The Windows file interfaces: special folders, directories, copies, temporary names and change
// notifications, on the native seam's files (platform/native/files.h, included here for callers).
#pragma once
#include <sys/types.h>

#include <cstdint>

#include "platform/errors.h"
#include "platform/native/files.h"
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

// The whole of a regular file in a new global-heap block (GlobalFree) of its size and `zeros` NUL
// bytes after it; `*size` gets the bytes read (fewer when the file shrinks meanwhile). A file of
// `limit` bytes or more gives 0x800700DF, anything but a regular file 0x8007010B, no memory
// 0x8007000E; other failures set the last error as well.
HRESULT ReadWholeFile(const char* path, uint64_t limit, size_t zeros, char** block, size_t* size);
// The same from a file opened already.
HRESULT ReadWholeFile(const ScopedFd& file, uint64_t limit, size_t zeros, char** block, size_t* size);

}  // namespace vtx
