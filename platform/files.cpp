#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"
#include "platform/productpaths.h"
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

bool EndsWithNoCase(const std::string& name, const char* ext) {
  size_t n = strlen(ext);
  return name.size() >= n && _stricmp(name.c_str() + name.size() - n, ext) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Names of a folder's entries (not "." or ".."), sorted without regard to case.
HRESULT FolderEntries(const std::string& folder, std::vector<std::string>* names) {
  DIR* d = opendir(folder.empty() ? "." : folder.c_str());
  if (!d) {
    DWORD e = vtx::Win32FromErrno(errno);
    return Fail(e == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : e);
  }
  while (const dirent* ent = readdir(d)) {
    if (strcmp(ent->d_name, ".") == 0 || strcmp(ent->d_name, "..") == 0) continue;
    names->emplace_back(ent->d_name);
  }
  closedir(d);
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    int c = _stricmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
  });
  return S_OK;
}

vtx::FileStamp StampOf(const struct stat& st) {
  vtx::FileStamp s;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.size = static_cast<uint64_t>(st.st_size);
  s.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

// An inotify instance watching one folder; readable while changes wait to be taken.
class ChangeNotification : public vtx::sync::Object {
 public:
  explicit ChangeNotification(vtx::ScopedFd fd) : fd_(std::move(fd)) {}
  int PollFd() const override { return fd_.Get(); }
  DWORD TryAcquire() override {
    pollfd p{fd_.Get(), POLLIN, 0};
    return poll(&p, 1, 0) > 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }
  void Drain() {
    alignas(inotify_event) char buf[8192];
    while (read(fd_.Get(), buf, sizeof buf) > 0) {
    }
  }

 private:
  vtx::ScopedFd fd_;
};

std::string TempFolder() {
  const char* t = getenv("TMPDIR");
  std::string s = (t && *t) ? t : "/tmp";
  if (s.back() != '/') s += '/';
  return s;
}

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
  const char* value = getenv(env);
  const char* home = getenv("HOME");
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
  if (*path && stat(path, &st) == 0) return S_OK;
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
  if (mkdir(path, 0777) != 0) {
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
  if (fstat(in.Get(), &st) != 0) {
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
    unlink(to);  // a half copy must not stand in for the file
    SetLastError(e);
    return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(const char* path) {
  if (!path || unlink(path) != 0) {
    if (path) vtx::SetLastErrorFromErrno();
    else SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesA(const char* path) {
  struct stat st;
  if (!path || stat(path, &st) != 0) {
    if (path) vtx::SetLastErrorFromErrno();
    else SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return access(path, W_OK) == 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

DWORD GetTempPathA(DWORD size, char* buffer) {
  std::string t = TempFolder();
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
    unlink(path.c_str());
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
  vtx::ScopedFd fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd) {
    vtx::SetLastErrorFromErrno();
    return INVALID_HANDLE_VALUE;
  }
  if (inotify_add_watch(fd.Get(), folder, mask | IN_ONLYDIR) < 0) {
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

void ScopedFd::Reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) close(fd_);
  fd_ = fd;
}

HRESULT ScopedFd::Close() {
  if (fd_ < 0) return S_OK;
  int r = close(Release());
  return r == 0 || errno == EINTR ? S_OK : FailFromErrno();  // after EINTR the descriptor is gone
}

ScopedFd OpenFile(const char* path, int flags, unsigned mode) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return ScopedFd();
  }
  int fd;
  do fd = open(path, flags | O_CLOEXEC, static_cast<mode_t>(mode));
  while (fd < 0 && errno == EINTR);
  if (fd < 0) SetLastErrorFromErrno();
  return ScopedFd(fd);
}

HRESULT LockWithin(int fd, DWORD timeoutMs) {
  uint64_t deadline = vtx::sync::DeadlineAfter(timeoutMs);
  for (;;) {
    if (vtx::sys::Flock(fd, LOCK_EX | LOCK_NB) == 0) return S_OK;
    if (errno != EWOULDBLOCK && errno != EINTR) return FailFromErrno();
    if (vtx::sync::NowMs() >= deadline) return Fail(ERROR_SHARING_VIOLATION);
    vtx::sys::SleepMs(10);
  }
}

HRESULT LockFile::Take(const std::string& path, long* holder) { return Take(path, holder, nullptr); }

HRESULT LockFile::Take(const std::string& path, long* holder, std::string* previous) {
  if (holder) *holder = 0;
  if (previous) previous->clear();
  fd_.Reset();
  ScopedFd fd = OpenFile(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0660);
  if (!fd) return HRESULT_FROM_WIN32(GetLastError());
  // Like the other lock files, the product's group shares it.
  struct stat st;
  if (fstat(fd.Get(), &st) == 0 && st.st_uid == geteuid()) ShareWithProductGroup(fd.Get(), 0660);
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return FailFromErrno();
    char text[32] = {};
    size_t got = 0;
    if (holder && SUCCEEDED(ReadFully(fd.Get(), text, sizeof text - 1, &got, 0))) *holder = std::atol(text);
    return HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION);
  }
  if (previous) {
    char text[65] = {};
    size_t got = 0;
    if (SUCCEEDED(ReadFully(fd.Get(), text, sizeof text - 1, &got, 0))) previous->assign(text, got);
  }
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd.Get(), 0) != 0) return FailFromErrno();
  HRESULT hr = WriteFully(fd.Get(), pid.data(), pid.size(), 0);
  if (FAILED(hr)) return hr;
  fd_ = std::move(fd);
  return S_OK;
}

HRESULT LockFile::Clear() {
  if (!fd_) return E_HANDLE;
  return ftruncate(fd_.Get(), 0) == 0 ? S_OK : FailFromErrno();
}

HRESULT ReadFully(int fd, void* buffer, size_t size, size_t* got, int64_t offset) {
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = offset >= 0 ? pread(fd, p + done, size - done, static_cast<off_t>(offset + static_cast<int64_t>(done)))
                            : read(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (got) *got = done;
      return FailFromErrno();
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (got) *got = done;
  return S_OK;
}

HRESULT WriteFully(int fd, const void* data, size_t size, int64_t offset) {
  const auto* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = offset >= 0 ? pwrite(fd, p + done, size - done, static_cast<off_t>(offset + static_cast<int64_t>(done)))
                            : write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailFromErrno();
    }
    if (n == 0) return Fail(ERROR_WRITE_FAULT);
    done += static_cast<size_t>(n);
  }
  return S_OK;
}

bool IsPlainFileName(const char* name) {
  if (!name || !*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
  return strpbrk(name, "/\\:") == nullptr;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

HRESULT MakeDirectories(const char* path, unsigned mode) {
  if (!path || !*path) return Fail(ERROR_PATH_NOT_FOUND);
  std::string p = path;
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i < p.size() && p[i] != '/') continue;
    std::string part = p.substr(0, i);
    if (mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return FailFromErrno();
  }
  if (!IsDirectory(p)) return Fail(ERROR_DIRECTORY);
  return S_OK;
}

std::string ProductAccountName() {
  return env::Get(env::kAccount, env::kDefaultAccount);
}

bool ProductGroup(gid_t* gid) {
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(65536);
  if (getgrnam_r(ProductAccountName().c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return false;
  if (gid) *gid = found->gr_gid;
  return true;
}

bool ProductAccount(uid_t* uid, gid_t* gid) {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwnam_r(ProductAccountName().c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found) return false;
  if (uid) *uid = found->pw_uid;
  if (gid) *gid = found->pw_gid;
  return true;
}

namespace {
// Who a file that this process makes for the product belongs to: (-1, -1) keeps it as it is.
void ProductOwner(uid_t* uid, gid_t* gid) {
  *uid = static_cast<uid_t>(-1);
  *gid = static_cast<gid_t>(-1);
  uid_t account;
  gid_t group;
  if (geteuid() == 0 && ProductAccount(&account, nullptr)) *uid = account;
  if (ProductGroup(&group)) *gid = group;
}
}  // namespace

HRESULT HandToProduct(int fd, unsigned mode) {
  uid_t uid;
  gid_t gid;
  ProductOwner(&uid, &gid);
  if ((uid != static_cast<uid_t>(-1) || gid != static_cast<gid_t>(-1)) && fchown(fd, uid, gid) != 0)
    return FailFromErrno();
  if (fchmod(fd, static_cast<mode_t>(mode)) != 0) return FailFromErrno();
  return S_OK;
}

HRESULT HandToProduct(const char* path, unsigned mode) {
  if (!path) return E_INVALIDARG;
  uid_t uid;
  gid_t gid;
  ProductOwner(&uid, &gid);
  if ((uid != static_cast<uid_t>(-1) || gid != static_cast<gid_t>(-1)) && lchown(path, uid, gid) != 0)
    return FailFromErrno();
  if (chmod(path, static_cast<mode_t>(mode)) != 0) return FailFromErrno();
  return S_OK;
}

std::string UntrustedPathReason(const std::string& path) {
  if (path.empty() || path[0] != '/') return path + " is not an absolute path";
  uid_t self = geteuid();
  std::string part;
  size_t pos = 0;
  // Each component from the root down, the last one included; links are followed where they stand.
  while (true) {
    std::string at = part.empty() ? "/" : part;
    struct stat st{};
    if (lstat(at.c_str(), &st) != 0) return at + ": " + std::strerror(errno);
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = readlink(at.c_str(), target, sizeof target - 1);
      if (n <= 0) return at + " is a link that cannot be read";
      target[n] = 0;
      if (st.st_uid != 0 && st.st_uid != self) return at + " is a link of another account";
      std::string rest = pos < path.size() ? path.substr(pos) : "";
      std::string base = at.substr(0, at.rfind('/'));
      std::string next = target[0] == '/' ? std::string(target) : (base.empty() ? "" : base) + "/" + target;
      if (path.size() > 8 * 4096) return path + " has too many links";
      return UntrustedPathReason(next + rest);
    }
    if (st.st_uid != 0 && st.st_uid != self) return at + " belongs to another account";
    bool sharedWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    bool stickyRootFolder = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && st.st_uid == 0;
    if (sharedWrite && !(stickyRootFolder && pos < path.size())) return at + " may be changed by other accounts";
    if (pos >= path.size()) return "";
    size_t next = path.find('/', pos + 1);
    if (next == std::string::npos) next = path.size();
    std::string name = path.substr(pos + 1, next - pos - 1);
    pos = next;
    if (name.empty() || name == ".") continue;
    if (name == "..") return path + " holds \"..\"";
    part += "/" + name;
  }
}

HRESULT ShareWithProductGroup(int fd, unsigned mode) {
  gid_t gid;
  if (ProductGroup(&gid) && fchown(fd, static_cast<uid_t>(-1), gid) != 0) return FailFromErrno();
  if (fchmod(fd, static_cast<mode_t>(mode)) != 0) return FailFromErrno();
  return S_OK;
}

HRESULT ShareWithProductGroup(const char* path, unsigned mode) {
  if (!path) return E_INVALIDARG;
  gid_t gid;
  if (ProductGroup(&gid) && chown(path, static_cast<uid_t>(-1), gid) != 0) return FailFromErrno();
  if (chmod(path, static_cast<mode_t>(mode)) != 0) return FailFromErrno();
  return S_OK;
}

HRESULT ReadWholeFile(const char* path, std::string* data) {
  if (!path || !data) return E_INVALIDARG;
  data->clear();
  ScopedFd fd = OpenFile(path, O_RDONLY);
  if (!fd) return HRESULT_FROM_WIN32(GetLastError());
  struct stat st;
  if (fstat(fd.Get(), &st) != 0) return FailFromErrno();
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  // Read to the end whatever the size says: files of /proc and pipes tell none.
  constexpr size_t kChunk = 65536;
  for (size_t got = kChunk; got == kChunk;) {
    size_t at = data->size();
    data->resize(at + kChunk);
    HRESULT hr = ReadFully(fd.Get(), data->data() + at, kChunk, &got);
    data->resize(at + got);
    if (FAILED(hr)) {
      data->clear();
      return hr;
    }
  }
  return S_OK;
}

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
  posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  struct stat st;
  if (fstat(fd.Get(), &st) != 0) return FailFromErrno();
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

HRESULT ReadRegularFile(const char* path, size_t maxBytes, std::string* data, FileStamp* stamp) {
  if (!path || !data || !stamp) return E_INVALIDARG;
  data->clear();
  ScopedFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (!fd) return HRESULT_FROM_WIN32(GetLastError());
  struct stat st;
  if (fstat(fd.Get(), &st) != 0) return FailFromErrno();
  if (!S_ISREG(st.st_mode)) return Fail(ERROR_DIRECTORY);
  *stamp = StampOf(st);
  size_t want = std::min<uint64_t>(maxBytes, static_cast<uint64_t>(st.st_size));
  data->resize(want);
  size_t got = 0;
  HRESULT hr = ReadFully(fd.Get(), data->data(), want, &got);
  data->resize(SUCCEEDED(hr) ? got : 0);
  return hr;
}

HRESULT StampFile(const char* path, FileStamp* stamp) {
  if (!path || !stamp) return E_INVALIDARG;
  struct stat st;
  if (stat(path, &st) != 0) return FailFromErrno();
  *stamp = StampOf(st);
  return S_OK;
}

HRESULT WriteWholeFile(const char* path, const void* data, size_t size, unsigned mode) {
  if (!path || (!data && size)) return E_INVALIDARG;
  ScopedFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (!fd) return HRESULT_FROM_WIN32(GetLastError());
  HRESULT hr = WriteFully(fd.Get(), data, size);
  HRESULT closed = fd.Close();
  return FAILED(hr) ? hr : closed;
}

HRESULT WriteFileReplacing(const char* path, const void* data, size_t size, unsigned newMode) {
  if (!path || !*path || (!data && size)) return E_INVALIDARG;
  struct stat old;
  mode_t mode = stat(path, &old) == 0 ? (old.st_mode & 07777) : static_cast<mode_t>(newMode);
  std::string name = std::string(path) + ".XXXXXX";
  std::vector<char> tmpl(name.begin(), name.end());
  tmpl.push_back(0);
  ScopedFd fd(mkstemp(tmpl.data()));
  if (!fd) return FailFromErrno();
  HRESULT hr = WriteFully(fd.Get(), data, size);
  if (SUCCEEDED(hr) && (fchmod(fd.Get(), mode) != 0 || fsync(fd.Get()) != 0)) hr = FailFromErrno();
  HRESULT closed = fd.Close();
  if (SUCCEEDED(hr)) hr = closed;
  if (SUCCEEDED(hr) && rename(tmpl.data(), path) != 0) hr = FailFromErrno();
  if (FAILED(hr)) unlink(tmpl.data());
  return hr;
}

HRESULT FileSize(const char* path, uint64_t* size) {
  if (!path || !size) return E_INVALIDARG;
  struct stat st;
  if (stat(path, &st) != 0) return FailFromErrno();
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  *size = static_cast<uint64_t>(st.st_size);
  return S_OK;
}

HRESULT WriteTempFile(const char* folder, const char* prefix, const char* suffix, const void* data,
                      size_t size, std::string* path, ScopedFd* inUse) {
  if (!path || (!data && size)) return E_INVALIDARG;
  path->clear();
  if (inUse) inUse->Reset();
  std::string sfx = suffix ? suffix : "";
  std::string name = JoinPath(folder && *folder ? folder : TempFolder(),
                              std::string(prefix ? prefix : "") + "XXXXXX" + sfx);
  std::vector<char> tmpl(name.begin(), name.end());
  tmpl.push_back(0);
  ScopedFd fd(mkostemps(tmpl.data(), static_cast<int>(sfx.size()), O_CLOEXEC));  // mode 0600
  if (!fd) return FailFromErrno();
  HRESULT hr = inUse && flock(fd.Get(), LOCK_SH) != 0 ? FailFromErrno() : S_OK;
  if (SUCCEEDED(hr)) hr = WriteFully(fd.Get(), data, size);
  if (SUCCEEDED(hr) && inUse) {
    *inUse = std::move(fd);
  } else {
    HRESULT closed = fd.Close();
    if (SUCCEEDED(hr)) hr = closed;
  }
  if (FAILED(hr)) {
    if (inUse) inUse->Reset();
    unlink(tmpl.data());
    return hr;
  }
  *path = tmpl.data();
  return S_OK;
}

void RemoveStaleTempFiles(const char* folder, const char* prefix, const char* suffix) {
  std::string dir = folder && *folder ? folder : TempFolder();
  std::string pre = prefix ? prefix : "", sfx = suffix ? suffix : "";
  std::vector<std::string> names;
  if (FAILED(FolderEntries(dir, &names))) return;
  time_t now = time(nullptr);
  for (const std::string& n : names) {
    if (n.size() < pre.size() + sfx.size() || n.compare(0, pre.size(), pre) != 0 ||
        n.compare(n.size() - sfx.size(), sfx.size(), sfx) != 0)
      continue;
    std::string path = JoinPath(dir, n);
    ScopedFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st, again;
    if (!fd || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || now - st.st_mtime < 60)
      continue;
    // A file that a living process holds is in use; holding the lock ourselves, the name still
    // leads to the file we looked at before it goes.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (lstat(path.c_str(), &again) == 0 && again.st_ino == st.st_ino && again.st_dev == st.st_dev) unlink(path.c_str());
  }
}

HRESULT ListFiles(const char* folder, const char* extension, std::vector<std::string>* names) {
  if (!folder || !names) return E_INVALIDARG;
  names->clear();
  std::vector<std::string> all;
  HRESULT hr = FolderEntries(folder, &all);
  if (FAILED(hr)) return hr;
  for (const std::string& n : all) {
    if (extension && *extension && !EndsWithNoCase(n, extension)) continue;
    struct stat st;
    if (stat(JoinPath(folder, n).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names->push_back(n);
  }
  return S_OK;
}

HRESULT ResolveFileName(const char* folder, const char* name, std::string* path) {
  if (!folder || !name || !*name || !path) return E_INVALIDARG;
  path->clear();
  std::string current = folder;
  std::string rest = name;
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string part = rest.substr(0, slash);
    bool last = slash == std::string::npos;
    rest = last ? std::string() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    std::string exact = JoinPath(current, part);
    struct stat st;
    if (lstat(exact.c_str(), &st) == 0) {
      current = exact;
      continue;
    }
    std::vector<std::string> entries;
    if (FAILED(FolderEntries(current, &entries))) return Fail(ERROR_PATH_NOT_FOUND);
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const std::string& e) { return _stricmp(e.c_str(), part.c_str()) == 0; });
    if (it == entries.end()) return Fail(last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    current = JoinPath(current, *it);
  }
  *path = current;
  return S_OK;
}

}  // namespace vtx
