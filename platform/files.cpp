#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/codepage.h"
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

HRESULT WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailFromErrno();
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return S_OK;
}

// Reads until the end of the file or `max` bytes.
HRESULT ReadUpTo(int fd, size_t max, std::string* data) {
  char chunk[65536];
  while (data->size() < max) {
    ssize_t n = read(fd, chunk, std::min(sizeof chunk, max - data->size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      HRESULT hr = FailFromErrno();
      data->clear();
      return hr;
    }
    if (n == 0) break;
    data->append(chunk, static_cast<size_t>(n));
  }
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
  explicit ChangeNotification(int fd) : fd_(fd) {}
  ~ChangeNotification() override { close(fd_); }
  int PollFd() const override { return fd_; }
  DWORD TryAcquire() override {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }
  void Drain() {
    alignas(inotify_event) char buf[8192];
    while (read(fd_, buf, sizeof buf) > 0) {
    }
  }

 private:
  int fd_;
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
    case CSIDL_COMMON_APPDATA: env = "VANTREX_APPDATA"; fallback = "/var/lib"; break;
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
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    vtx::SetLastErrorFromErrno();
    return INVALID_HANDLE_VALUE;
  }
  if (inotify_add_watch(fd, folder, mask | IN_ONLYDIR) < 0) {
    int e = errno;
    close(fd);
    SetLastError(e == ENOTDIR ? ERROR_DIRECTORY : vtx::Win32FromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  return vtx::sync::MakeHandle(std::make_shared<ChangeNotification>(fd));
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

bool IsPlainFileName(const char* name) {
  if (!name || !*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
  return strpbrk(name, "/\\:") == nullptr;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

HRESULT MakeDirectories(const char* path) {
  if (!path || !*path) return Fail(ERROR_PATH_NOT_FOUND);
  std::string p = path;
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i < p.size() && p[i] != '/') continue;
    std::string part = p.substr(0, i);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return FailFromErrno();
  }
  if (!IsDirectory(p)) return Fail(ERROR_DIRECTORY);
  return S_OK;
}

HRESULT ReadWholeFile(const char* path, std::string* data) {
  if (!path || !data) return E_INVALIDARG;
  data->clear();
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FailFromErrno();
  struct stat st;
  if (fstat(fd, &st) != 0) {
    HRESULT hr = FailFromErrno();
    close(fd);
    return hr;
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    return Fail(ERROR_ACCESS_DENIED);
  }
  HRESULT hr = ReadUpTo(fd, SIZE_MAX, data);
  close(fd);
  return hr;
}

HRESULT ReadRegularFile(const char* path, size_t maxBytes, std::string* data, FileStamp* stamp) {
  if (!path || !data || !stamp) return E_INVALIDARG;
  data->clear();
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return FailFromErrno();
  struct stat st;
  HRESULT hr = fstat(fd, &st) != 0 ? FailFromErrno() : !S_ISREG(st.st_mode) ? Fail(ERROR_INVALID_FUNCTION) : S_OK;
  if (SUCCEEDED(hr)) {
    *stamp = StampOf(st);
    hr = ReadUpTo(fd, maxBytes, data);
  }
  close(fd);
  return hr;
}

HRESULT StampFile(const char* path, FileStamp* stamp) {
  if (!path || !stamp) return E_INVALIDARG;
  struct stat st;
  if (stat(path, &st) != 0) return FailFromErrno();
  *stamp = StampOf(st);
  return S_OK;
}

HRESULT WriteWholeFile(const char* path, const void* data, size_t size) {
  if (!path || (!data && size)) return E_INVALIDARG;
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return FailFromErrno();
  HRESULT hr = WriteAll(fd, data, size);
  if (close(fd) != 0 && SUCCEEDED(hr)) hr = FailFromErrno();
  return hr;
}

HRESULT WriteFileReplacing(const char* path, const void* data, size_t size, unsigned newMode) {
  if (!path || !*path || (!data && size)) return E_INVALIDARG;
  struct stat old;
  mode_t mode = stat(path, &old) == 0 ? (old.st_mode & 07777) : static_cast<mode_t>(newMode);
  std::string name = std::string(path) + ".XXXXXX";
  std::vector<char> tmpl(name.begin(), name.end());
  tmpl.push_back(0);
  int fd = mkstemp(tmpl.data());
  if (fd < 0) return FailFromErrno();
  HRESULT hr = WriteAll(fd, data, size);
  if (SUCCEEDED(hr) && (fchmod(fd, mode) != 0 || fsync(fd) != 0)) hr = FailFromErrno();
  if (close(fd) != 0 && SUCCEEDED(hr)) hr = FailFromErrno();
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
                      size_t size, std::string* path) {
  if (!path || (!data && size)) return E_INVALIDARG;
  path->clear();
  std::string sfx = suffix ? suffix : "";
  std::string name = JoinPath(folder && *folder ? folder : TempFolder(),
                              std::string(prefix ? prefix : "") + "XXXXXX" + sfx);
  std::vector<char> tmpl(name.begin(), name.end());
  tmpl.push_back(0);
  int fd = mkstemps(tmpl.data(), static_cast<int>(sfx.size()));  // mode 0600
  if (fd < 0) return FailFromErrno();
  HRESULT hr = WriteAll(fd, data, size);
  if (close(fd) != 0 && SUCCEEDED(hr)) hr = FailFromErrno();
  if (FAILED(hr)) {
    unlink(tmpl.data());
    return hr;
  }
  *path = tmpl.data();
  return S_OK;
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
