#include "platform/pipes.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/socket.h"

namespace vtx::pipes {

namespace {

constexpr char kPrefix[] = "\\\\.\\pipe\\";

using vtx::sync::MsUntil;

// Waits until fd is ready for `events`; ERROR_TIMEOUT at the deadline, ERROR_OPERATION_ABORTED when
// the program stops meanwhile.
DWORD WaitFd(int fd, short events, uint64_t deadline) {
  int e = vtx::WaitForSocket(fd, events, deadline);
  return e ? vtx::Win32FromErrno(e) : ERROR_SUCCESS;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

namespace {
// A pipe name's socket, or an absolute socket path as it is.
std::string PathOf(const char* name) { return name && name[0] == '/' ? std::string(name) : SocketPath(name); }
}  // namespace

std::string SocketPath(const char* pipeName) {
  if (!pipeName) return "";
  size_t n = sizeof kPrefix - 1;
  if (_strnicmp(pipeName, kPrefix, n) != 0) return "";
  std::string name = pipeName + n;
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos) return "";
  return vtx::sync::RuntimeDir() + "/" + name;
}

bool Exists(const char* pipeName) {
  std::string path = PathOf(pipeName);
  if (path.empty()) return false;
  int lock = open((path + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
  if (lock < 0) return false;
  bool held = flock(lock, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(lock);
  return held && access(path.c_str(), F_OK) == 0;
}

DWORD Connect(const char* pipeName, uint64_t deadline, int* out) {
  *out = -1;
  sockaddr_un addr;
  if (!FillAddress(PathOf(pipeName), addr)) return ERROR_INVALID_NAME;
  for (;;) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return vtx::Win32FromErrno(errno);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      *out = fd;
      return ERROR_SUCCESS;
    }
    int e = errno;
    close(fd);
    if (e == ENOENT || e == ECONNREFUSED) return ERROR_FILE_NOT_FOUND;
    if (e == EACCES || e == EPERM) return ERROR_ACCESS_DENIED;
    if (e != EAGAIN && e != EINTR) return vtx::Win32FromErrno(e);
    // The server's queue is full: the pipe is busy, so wait for a free place.
    if (vtx::sync::StopRequested()) return ERROR_OPERATION_ABORTED;
    int left = MsUntil(deadline);
    if (left == 0) return ERROR_TIMEOUT;
    usleep(static_cast<useconds_t>(left < 0 || left > 5 ? 5 : left) * 1000);
  }
}

DWORD WriteAll(int fd, const void* data, size_t size, uint64_t deadline) {
  int e = vtx::SendAllBytes(fd, data, size, deadline);
  if (e == EPIPE || e == ECONNRESET) return ERROR_BROKEN_PIPE;
  return vtx::Win32FromErrno(e);
}

DWORD ReadAll(int fd, void* data, size_t size, uint64_t deadline, size_t* got) {
  auto* p = static_cast<char*>(data);
  size_t done = 0;
  DWORD result = ERROR_SUCCESS;
  while (done < size) {
    ssize_t n = recv(fd, p + done, size - done, MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) {
      result = ERROR_BROKEN_PIPE;
      break;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if ((result = WaitFd(fd, POLLIN, deadline)) != ERROR_SUCCESS) break;
      continue;
    }
    result = errno == ECONNRESET ? ERROR_BROKEN_PIPE : vtx::Win32FromErrno(errno);
    break;
  }
  if (got) *got = done;
  return result;
}

bool PeerCredentials(int fd, uid_t* uid, gid_t* gid) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
  if (uid) *uid = cred.uid;
  if (gid) *gid = cred.gid;
  return true;
}

DWORD Listener::Create(const char* pipeName) {
  Close();
  std::string path = PathOf(pipeName);
  sockaddr_un addr;
  if (!FillAddress(path, addr)) return ERROR_INVALID_NAME;
  std::string dir = path.substr(0, path.rfind('/'));
  if (!dir.empty()) mkdir(dir.c_str(), 0770);
  int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
  if (lock < 0) return vtx::Win32FromErrno(errno);
  if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    DWORD e = errno == EWOULDBLOCK ? ERROR_PIPE_BUSY : vtx::Win32FromErrno(errno);
    close(lock);
    return e;
  }
  // Holding the lock, any socket file there was left by a server that is gone.
  unlink(path.c_str());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    DWORD e = vtx::Win32FromErrno(errno);
    close(lock);
    return e;
  }
  // Bound under a temporary name and renamed once it listens, so that a client never finds the
  // file before it can connect. Created without rights for others: no moment of wider access.
  std::string temp = path + ".new";
  sockaddr_un tempAddr;
  if (!FillAddress(temp, tempAddr)) {
    close(fd);
    close(lock);
    return ERROR_INVALID_NAME;
  }
  unlink(temp.c_str());
  mode_t old = umask(0117);
  int rc = bind(fd, reinterpret_cast<sockaddr*>(&tempAddr), sizeof tempAddr);
  umask(old);
  if (rc == 0 && listen(fd, 64) == 0) {
    if (group* g = getgrnam("vantrex"))
      if (chown(temp.c_str(), static_cast<uid_t>(-1), g->gr_gid) != 0) {
      }
    rc = chmod(temp.c_str(), 0660) == 0 && rename(temp.c_str(), path.c_str()) == 0 ? 0 : -1;
  } else {
    rc = -1;
  }
  if (rc != 0) {
    DWORD e = vtx::Win32FromErrno(errno);
    unlink(temp.c_str());
    close(fd);
    close(lock);
    return e;
  }
  fd_ = fd;
  lock_ = lock;
  path_ = path;
  return ERROR_SUCCESS;
}

int Listener::Accept() {
  if (fd_ < 0) return -1;
  for (;;) {
    int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c >= 0 || errno != EINTR) return c;
  }
}

void Listener::Close() {
  if (fd_ >= 0) {
    unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
  }
  if (lock_ >= 0) {
    close(lock_);
    lock_ = -1;
  }
  path_.clear();
}

}  // namespace vtx::pipes
