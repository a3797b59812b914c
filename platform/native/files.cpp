#include "platform/native/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/native/productpaths.h"
#include "platform/native/syscalls.h"

namespace vtx {

namespace {

HRESULT FailFromErrno() { return HRESULT_FROM_WIN32(SetLastErrorFromErrno()); }

HRESULT Fail(DWORD win32) {
  SetLastError(win32);
  return HRESULT_FROM_WIN32(win32);
}

bool EndsWithNoCase(const std::string& name, const char* ext) {
  size_t n = strlen(ext);
  return name.size() >= n && CompareNoCase(name.c_str() + name.size() - n, ext) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return sys::Stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Names of a folder's entries (not "." or ".."), sorted without regard to case.
HRESULT FolderEntries(const std::string& folder, std::vector<std::string>* names) {
  DIR* d = sys::Opendir(folder.empty() ? "." : folder.c_str());
  if (!d) {
    DWORD e = Win32FromErrno(errno);
    return Fail(e == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : e);
  }
  // readdir ends with null both at the end and on a failure; only errno tells them apart.
  for (;;) {
    errno = 0;
    const dirent* ent = sys::Readdir(d);
    if (!ent) break;
    if (strcmp(ent->d_name, ".") == 0 || strcmp(ent->d_name, "..") == 0) continue;
    names->emplace_back(ent->d_name);
  }
  int failure = errno;
  sys::Closedir(d);
  if (failure) {
    names->clear();
    errno = failure;
    return FailFromErrno();
  }
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    int c = CompareNoCase(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
  });
  return S_OK;
}

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.size = static_cast<uint64_t>(st.st_size);
  s.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

uint64_t MonotonicMs() {
  timespec ts{};
  sys::ClockGettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Six characters for a new file's name. They need not be secret: the file is made with O_EXCL, and
// another name is tried when one is taken.
std::string RandomPart() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local uint64_t state = 0;
  timespec ts{};
  sys::ClockGettime(CLOCK_REALTIME, &ts);
  state += 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(ts.tv_nsec) << 20) ^
           (static_cast<uint64_t>(sys::Getpid()) << 40) ^ static_cast<uint64_t>(ts.tv_sec);
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  std::string part(6, 'X');
  for (char& c : part) {
    c = kChars[z % (sizeof kChars - 1)];
    z /= sizeof kChars - 1;
  }
  return part;
}

// A new file named `before`, six random characters and `after`, made with mode 0600 (as mkstemp
// does); its path goes to `*path`. An empty holder with errno set on failure.
ScopedFd CreateUnique(const std::string& before, const std::string& after, std::string* path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = before + RandomPart() + after;
    int fd = sys::Open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      *path = name;
      return ScopedFd(fd);
    }
    if (errno != EEXIST && errno != EINTR) return ScopedFd();
  }
  errno = EEXIST;
  return ScopedFd();
}

}  // namespace

void ScopedFd::Reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) sys::Close(fd_);
  fd_ = fd;
}

HRESULT ScopedFd::Close() {
  if (fd_ < 0) return S_OK;
  int r = sys::Close(Release());
  return r == 0 || errno == EINTR ? S_OK : FailFromErrno();  // after EINTR the descriptor is gone
}

ScopedFd OpenFile(const char* path, int flags, unsigned mode) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return ScopedFd();
  }
  int fd;
  do fd = sys::Open(path, flags | O_CLOEXEC, static_cast<mode_t>(mode));
  while (fd < 0 && errno == EINTR);
  if (fd < 0) SetLastErrorFromErrno();
  return ScopedFd(fd);
}

HRESULT LockWithin(int fd, DWORD timeoutMs) {
  uint64_t start = MonotonicMs();
  for (;;) {
    if (sys::Flock(fd, LOCK_EX | LOCK_NB) == 0) return S_OK;
    if (errno != EWOULDBLOCK && errno != EINTR) return FailFromErrno();
    unsigned pause = 10;
    if (timeoutMs != INFINITE) {
      uint64_t waited = MonotonicMs() - start;
      if (waited >= timeoutMs) return Fail(ERROR_SHARING_VIOLATION);
      pause = static_cast<unsigned>(std::min<uint64_t>(pause, timeoutMs - waited));  // a short wait stays short
    }
    sys::SleepMs(pause);
  }
}

std::string TempFolder() {
  const char* t = sys::Getenv("TMPDIR");
  std::string s = (t && *t) ? t : "/tmp";
  if (s.back() != '/') s += '/';
  return s;
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
  if (sys::Fstat(fd.Get(), &st) == 0 && st.st_uid == sys::Geteuid()) ShareWithProductGroup(fd.Get(), 0660);
  if (sys::Flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
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
  std::string pid = std::to_string(sys::Getpid()) + "\n";
  if (sys::Ftruncate(fd.Get(), 0) != 0) return FailFromErrno();
  HRESULT hr = WriteFully(fd.Get(), pid.data(), pid.size(), 0);
  if (FAILED(hr)) return hr;
  fd_ = std::move(fd);
  return S_OK;
}

HRESULT LockFile::Clear() {
  if (!fd_) return E_HANDLE;
  return sys::Ftruncate(fd_.Get(), 0) == 0 ? S_OK : FailFromErrno();
}

HRESULT ReadFully(int fd, void* buffer, size_t size, size_t* got, int64_t offset) {
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = offset >= 0
                    ? sys::Pread(fd, p + done, size - done, static_cast<off_t>(offset + static_cast<int64_t>(done)))
                    : sys::Read(fd, p + done, size - done);
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
    ssize_t n = offset >= 0
                    ? sys::Pwrite(fd, p + done, size - done, static_cast<off_t>(offset + static_cast<int64_t>(done)))
                    : sys::Write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailFromErrno();
    }
    if (n == 0) return Fail(ERROR_WRITE_FAULT);
    done += static_cast<size_t>(n);
  }
  return S_OK;
}

int CompareNoCase(const char* a, const char* b) {
  auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : static_cast<int>(c); };
  for (;; ++a, ++b) {
    int d = fold(static_cast<unsigned char>(*a)) - fold(static_cast<unsigned char>(*b));
    if (d || !*a) return d;
  }
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
    if (sys::Mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return FailFromErrno();
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
  if (sys::GetgrnamR(ProductAccountName().c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return false;
  if (gid) *gid = found->gr_gid;
  return true;
}

bool ProductAccount(uid_t* uid, gid_t* gid) {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (sys::GetpwnamR(ProductAccountName().c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
    return false;
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
  if (sys::Geteuid() == 0 && ProductAccount(&account, nullptr)) *uid = account;
  if (ProductGroup(&group)) *gid = group;
}
}  // namespace

HRESULT HandToProduct(int fd, unsigned mode) {
  uid_t uid;
  gid_t gid;
  ProductOwner(&uid, &gid);
  if ((uid != static_cast<uid_t>(-1) || gid != static_cast<gid_t>(-1)) && sys::Fchown(fd, uid, gid) != 0)
    return FailFromErrno();
  if (sys::Fchmod(fd, static_cast<mode_t>(mode)) != 0) return FailFromErrno();
  return S_OK;
}

HRESULT HandToProduct(const char* path, unsigned mode) {
  if (!path) return E_INVALIDARG;
  uid_t uid;
  gid_t gid;
  ProductOwner(&uid, &gid);
  if ((uid != static_cast<uid_t>(-1) || gid != static_cast<gid_t>(-1)) && sys::Lchown(path, uid, gid) != 0)
    return FailFromErrno();
  if (sys::Chmod(path, static_cast<mode_t>(mode)) != 0) return FailFromErrno();
  return S_OK;
}

std::string UntrustedPathReason(const std::string& path) {
  if (path.empty() || path[0] != '/') return path + " is not an absolute path";
  uid_t self = sys::Geteuid();
  std::string part;
  size_t pos = 0;
  // Each component from the root down, the last one included; links are followed where they stand.
  while (true) {
    std::string at = part.empty() ? "/" : part;
    struct stat st{};
    if (sys::Lstat(at.c_str(), &st) != 0) return at + ": " + std::strerror(errno);
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = sys::Readlink(at.c_str(), target, sizeof target - 1);
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
  if (ProductGroup(&gid) && sys::Fchown(fd, static_cast<uid_t>(-1), gid) != 0) return FailFromErrno();
  if (sys::Fchmod(fd, static_cast<mode_t>(mode)) != 0) return FailFromErrno();
  return S_OK;
}

HRESULT ShareWithProductGroup(const char* path, unsigned mode) {
  if (!path) return E_INVALIDARG;
  gid_t gid;
  if (ProductGroup(&gid) && sys::Chown(path, static_cast<uid_t>(-1), gid) != 0) return FailFromErrno();
  if (sys::Chmod(path, static_cast<mode_t>(mode)) != 0) return FailFromErrno();
  return S_OK;
}

HRESULT ReadWholeFile(const char* path, std::string* data) {
  if (!path || !data) return E_INVALIDARG;
  data->clear();
  ScopedFd fd = OpenFile(path, O_RDONLY);
  if (!fd) return HRESULT_FROM_WIN32(GetLastError());
  struct stat st;
  if (sys::Fstat(fd.Get(), &st) != 0) return FailFromErrno();
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

HRESULT ReadRegularFile(const char* path, size_t maxBytes, std::string* data, FileStamp* stamp) {
  if (!path || !data || !stamp) return E_INVALIDARG;
  data->clear();
  ScopedFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (!fd) return HRESULT_FROM_WIN32(GetLastError());
  struct stat st;
  if (sys::Fstat(fd.Get(), &st) != 0) return FailFromErrno();
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
  if (sys::Stat(path, &st) != 0) return FailFromErrno();
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

HRESULT WriteFileReplacing(const char* path, const void* data, size_t size, unsigned newMode, ReplaceMode how) {
  if (!path || !*path || (!data && size)) return E_INVALIDARG;
  struct stat old;
  mode_t mode = static_cast<mode_t>(newMode);
  if (how == ReplaceMode::kKeepOld) {
    if (sys::Stat(path, &old) == 0) mode = old.st_mode & 07777;
    else if (errno != ENOENT) return FailFromErrno();  // the file is there, but its mode is not known
  }
  std::string temp;
  ScopedFd fd = CreateUnique(std::string(path) + ".", "", &temp);
  if (!fd) return FailFromErrno();
  HRESULT hr = WriteFully(fd.Get(), data, size);
  if (SUCCEEDED(hr) && (sys::Fchmod(fd.Get(), mode) != 0 || sys::Fsync(fd.Get()) != 0)) hr = FailFromErrno();
  HRESULT closed = fd.Close();
  if (SUCCEEDED(hr)) hr = closed;
  if (SUCCEEDED(hr) && sys::Rename(temp.c_str(), path) != 0) hr = FailFromErrno();
  if (FAILED(hr)) sys::Unlink(temp.c_str());
  return hr;
}

HRESULT FileSize(const char* path, uint64_t* size) {
  if (!path || !size) return E_INVALIDARG;
  struct stat st;
  if (sys::Stat(path, &st) != 0) return FailFromErrno();
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  *size = static_cast<uint64_t>(st.st_size);
  return S_OK;
}

HRESULT WriteTempFile(const char* folder, const char* prefix, const char* suffix, const void* data,
                      size_t size, std::string* path, ScopedFd* inUse) {
  if (!path || (!data && size)) return E_INVALIDARG;
  path->clear();
  if (inUse) inUse->Reset();
  std::string temp;
  ScopedFd fd = CreateUnique(JoinPath(folder && *folder ? folder : TempFolder(), prefix ? prefix : ""),
                             suffix ? suffix : "", &temp);
  if (!fd) return FailFromErrno();
  HRESULT hr = inUse && sys::Flock(fd.Get(), LOCK_SH) != 0 ? FailFromErrno() : S_OK;
  if (SUCCEEDED(hr)) hr = WriteFully(fd.Get(), data, size);
  if (SUCCEEDED(hr) && inUse) {
    *inUse = std::move(fd);
  } else {
    HRESULT closed = fd.Close();
    if (SUCCEEDED(hr)) hr = closed;
  }
  if (FAILED(hr)) {
    if (inUse) inUse->Reset();
    sys::Unlink(temp.c_str());
    return hr;
  }
  *path = temp;
  return S_OK;
}

void RemoveStaleTempFiles(const char* folder, const char* prefix, const char* suffix) {
  std::string dir = folder && *folder ? folder : TempFolder();
  std::string pre = prefix ? prefix : "", sfx = suffix ? suffix : "";
  std::vector<std::string> names;
  if (FAILED(FolderEntries(dir, &names))) return;
  timespec now{};
  sys::ClockGettime(CLOCK_REALTIME, &now);
  for (const std::string& n : names) {
    if (n.size() < pre.size() + sfx.size() || n.compare(0, pre.size(), pre) != 0 ||
        n.compare(n.size() - sfx.size(), sfx.size(), sfx) != 0)
      continue;
    std::string path = JoinPath(dir, n);
    ScopedFd fd(sys::Open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st, again;
    if (!fd || sys::Fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != sys::Geteuid() ||
        now.tv_sec - st.st_mtime < 60)
      continue;
    // A file that a living process holds is in use; holding the lock ourselves, the name still
    // leads to the file we looked at before it goes.
    if (sys::Flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (sys::Lstat(path.c_str(), &again) == 0 && again.st_ino == st.st_ino && again.st_dev == st.st_dev)
      sys::Unlink(path.c_str());
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
    if (sys::Stat(JoinPath(folder, n).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
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
    if (sys::Lstat(exact.c_str(), &st) == 0) {
      current = exact;
      continue;
    }
    std::vector<std::string> entries;
    if (FAILED(FolderEntries(current, &entries))) return Fail(ERROR_PATH_NOT_FOUND);
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const std::string& e) { return CompareNoCase(e.c_str(), part.c_str()) == 0; });
    if (it == entries.end()) return Fail(last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    current = JoinPath(current, *it);
  }
  *path = current;
  return S_OK;
}

}  // namespace vtx
