#include "platform/files.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "platform/native/syscalls.h"
#include "platform/sync.h"

namespace {

HRESULT FailFromErrno() { return HRESULT_FROM_WIN32(vtx::SetLastErrorFromErrno()); }

HRESULT Fail(DWORD win32) {
  SetLastError(win32);
  return HRESULT_FROM_WIN32(win32);
}

bool CopyOut(const std::string& s, char* out, size_t size) {
  if (s.size() + 1 > size) return false;
  memcpy(out, s.c_str(), s.size() + 1);
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return vtx::sys::Stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An inotify instance watching one folder; readable while changes wait to be taken.
class ChangeNotification : public vtx::sync::Object {
 public:
  explicit ChangeNotification(vtx::ScopedFd fd) : fd_(std::move(fd)) {}
  int PollFd() const override { return fd_.Get(); }
  DWORD TryAcquire() override {
    pollfd p{fd_.Get(), POLLIN, 0};
    return vtx::sys::Poll(&p, 1, 0) > 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }
  void Drain() {
    alignas(inotify_event) char buf[8192];
    while (vtx::sys::Read(fd_.Get(), buf, sizeof buf) > 0) {
    }
  }

 private:
  vtx::ScopedFd fd_;
};

}  // namespace

HRESULT SHGetFolderPathA(void*, int folder, HANDLE, DWORD, char* path) {
  if (!path) return E_INVALIDARG;
  *path = 0;
  // Common application data is the system's ($VANTREX_APPDATA); the user's folders follow the
  // XDG base directories.
  const char* env = nullptr;
  const char* homeRelative = nullptr;
  const char* fallback = nullptr;
  switch (folder & 0xFF) {
    case CSIDL_COMMON_APPDATA: env = vtx::env::kAppData; fallback = vtx::env::kDefaultAppData; break;
    case CSIDL_APPDATA: env = "XDG_CONFIG_HOME"; homeRelative = "/.config"; break;
    case CSIDL_LOCAL_APPDATA: env = "XDG_DATA_HOME"; homeRelative = "/.local/share"; break;
    case CSIDL_PERSONAL: env = "HOME"; break;
    default: return Fail(ERROR_FILE_NOT_FOUND);
  }
  const char* value = vtx::sys::Getenv(env);
  const char* home = vtx::sys::Getenv("HOME");
  std::string dir;
  if (value && *value) dir = value;
  else if (homeRelative && home && *home) dir = std::string(home) + homeRelative;
  else if (fallback) dir = fallback;
  else return Fail(ERROR_FILE_NOT_FOUND);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (!IsDirectory(dir)) {
    if (!(folder & CSIDL_FLAG_CREATE)) return Fail(ERROR_FILE_NOT_FOUND);
    HRESULT hr = vtx::MakeDirectories(dir.c_str());
    if (FAILED(hr)) return hr;
  }
  if (!CopyOut(dir, path, MAX_PATH)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  return S_OK;
}

BOOL GetSpecialFolderPath(int folder, char* buffer) {
  if (!buffer) return FALSE;
  return SUCCEEDED(SHGetFolderPathA(nullptr, folder, nullptr, 0, buffer)) ? TRUE : FALSE;
}

HRESULT MakeSureDirectoryPathExists(const char* path) {
  if (!path) return E_POINTER;
  struct stat st{};
  if (*path && vtx::sys::Stat(path, &st) == 0) return S_OK;
  if (strlen(path) >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW);
  const char* slash = strrchr(path, '/');
  if (!slash || slash == path) return S_OK;
  return vtx::MakeDirectories(std::string(path, slash).c_str());
}

BOOL CreateDirectoryA(const char* path, void*) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (vtx::sys::Mkdir(path, 0777) != 0) {
    vtx::SetLastErrorFromErrno();
    if (errno == EEXIST) SetLastError(ERROR_ALREADY_EXISTS);
    if (errno == ENOENT) SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

BOOL CopyFileA(const char* from, const char* to, BOOL failIfExists) {
  if (!from || !to) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  vtx::ScopedFd in = vtx::OpenFile(from, O_RDONLY);
  if (!in) return FALSE;
  struct stat st;
  if (vtx::sys::Fstat(in.Get(), &st) != 0) {
    vtx::SetLastErrorFromErrno();
    return FALSE;
  }
  if (!S_ISREG(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : O_TRUNC);
  vtx::ScopedFd out = vtx::OpenFile(to, flags, st.st_mode & 0777);
  if (!out) {
    if (GetLastError() == ERROR_ALREADY_EXISTS) SetLastError(ERROR_FILE_EXISTS);
    return FALSE;
  }
  HRESULT hr = S_OK;
  char chunk[65536];
  for (size_t got = sizeof chunk; SUCCEEDED(hr) && got == sizeof chunk;) {
    hr = vtx::ReadFully(in.Get(), chunk, sizeof chunk, &got);
    if (SUCCEEDED(hr)) hr = vtx::WriteFully(out.Get(), chunk, got);
  }
  HRESULT closed = out.Close();
  if (SUCCEEDED(hr)) hr = closed;
  if (FAILED(hr)) {
    DWORD e = GetLastError();
    vtx::sys::Unlink(to);  // a half copy must not stand in for the file
    SetLastError(e);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(const char* path) {
  if (!path || vtx::sys::Unlink(path) != 0) {
    if (path) vtx::SetLastErrorFromErrno();
    else SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesA(const char* path) {
  struct stat st;
  if (!path || vtx::sys::Stat(path, &st) != 0) {
    if (path) vtx::SetLastErrorFromErrno();
    else SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return vtx::sys::Access(path, W_OK) == 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

DWORD GetTempPathA(DWORD size, char* buffer) {
  std::string t = vtx::TempFolder();
  if (!buffer || t.size() + 1 > size) return static_cast<DWORD>(t.size() + 1);
  memcpy(buffer, t.c_str(), t.size() + 1);
  return static_cast<DWORD>(t.size());
}

UINT GetTempFileNameA(const char* folder, const char* prefix, UINT unique, char* result) {
  if (!folder || !result || unique != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string pre = prefix ? std::string(prefix).substr(0, 3) : std::string();
  std::string path;
  if (FAILED(vtx::WriteTempFile(folder, pre.c_str(), ".tmp", "", 0, &path))) return 0;
  if (!CopyOut(path, result, MAX_PATH)) {
    vtx::sys::Unlink(path.c_str());
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  return 1;
}

HANDLE FindFirstChangeNotificationA(const char* folder, BOOL watchSubtree, DWORD filter) {
  if (!folder || !*folder || watchSubtree) {
    SetLastError(watchSubtree ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  uint32_t mask = 0;
  if (filter & FILE_NOTIFY_CHANGE_LAST_WRITE) mask |= IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO;
  if (filter & FILE_NOTIFY_CHANGE_FILE_NAME) mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  if (!mask) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  vtx::ScopedFd fd(vtx::sys::InotifyInit1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd) {
    vtx::SetLastErrorFromErrno();
    return INVALID_HANDLE_VALUE;
  }
  if (vtx::sys::InotifyAddWatch(fd.Get(), folder, mask | IN_ONLYDIR) < 0) {
    SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : vtx::Win32FromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  return vtx::sync::MakeHandle(std::make_shared<ChangeNotification>(std::move(fd)));
}

BOOL FindNextChangeNotification(HANDLE handle) {
  auto change = std::dynamic_pointer_cast<ChangeNotification>(vtx::sync::FromHandle(handle));
  if (!change) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  change->Drain();
  return TRUE;
}

BOOL FindCloseChangeNotification(HANDLE handle) {
  if (!std::dynamic_pointer_cast<ChangeNotification>(vtx::sync::FromHandle(handle))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(handle);
}

namespace vtx {

HRESULT ReadWholeFile(const char* path, uint64_t limit, size_t zeros, char** block, size_t* size) {
  if (!path || !block || !size) return E_INVALIDARG;
  *block = nullptr;
  *size = 0;
  ScopedFd fd = OpenFile(path, O_RDONLY);
  if (!fd) return HRESULT_FROM_WIN32(GetLastError());
  return ReadWholeFile(fd, limit, zeros, block, size);
}

HRESULT ReadWholeFile(const ScopedFd& fd, uint64_t limit, size_t zeros, char** block, size_t* size) {
  if (!fd || !block || !size) return E_INVALIDARG;
  *block = nullptr;
  *size = 0;
  sys::Fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  struct stat st;
  if (sys::Fstat(fd.Get(), &st) != 0) return FailFromErrno();
  if (!S_ISREG(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (static_cast<uint64_t>(st.st_size) >= limit) return Fail(ERROR_FILE_TOO_LARGE);
  size_t length = static_cast<size_t>(st.st_size);
  auto* data = static_cast<char*>(GlobalAlloc(0, length + zeros));
  if (!data) return E_OUTOFMEMORY;
  size_t got = 0;
  HRESULT hr = ReadFully(fd.Get(), data, length, &got);
  if (FAILED(hr)) {
    GlobalFree(data);
    return hr;
  }
  std::memset(data + got, 0, length - got + zeros);
  *block = data;
  *size = got;
  return S_OK;
}

}  // namespace vtx
