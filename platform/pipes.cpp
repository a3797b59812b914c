#include "platform/pipes.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
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
  int lock = vtx::sys::Open((path + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
  if (lock < 0) return false;
  bool held = vtx::sys::Flock(lock, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  vtx::sys::Close(lock);
  return held && vtx::sys::Access(path.c_str(), F_OK) == 0;
}

DWORD Connect(const char* pipeName, uint64_t deadline, int* out) {
  *out = -1;
  sockaddr_un addr;
  if (!FillAddress(PathOf(pipeName), addr)) return ERROR_INVALID_NAME;
  for (;;) {
    int fd = vtx::sys::Socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return vtx::Win32FromErrno(errno);
    if (vtx::sys::Connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      *out = fd;
      return ERROR_SUCCESS;
    }
    int e = errno;
    vtx::sys::Close(fd);
    if (e == ENOENT || e == ECONNREFUSED) return ERROR_FILE_NOT_FOUND;
    if (e == EACCES || e == EPERM) return ERROR_ACCESS_DENIED;
    if (e != EAGAIN && e != EINTR) return vtx::Win32FromErrno(e);
    // The server's queue is full: the pipe is busy, so wait for a free place.
    if (vtx::sync::StopRequested()) return ERROR_OPERATION_ABORTED;
    int left = MsUntil(deadline);
    if (left == 0) return ERROR_TIMEOUT;
    vtx::sys::SleepMs(static_cast<unsigned>(left < 0 || left > 5 ? 5 : left));
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
    ssize_t n = vtx::sys::Recv(fd, p + done, size - done, MSG_DONTWAIT);
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
  if (vtx::sys::Getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return false;
  if (uid) *uid = cred.uid;
  if (gid) *gid = cred.gid;
  return true;
}

pid_t ServerProcess(const char* pipeName) {
  int fd = -1;
  if (Connect(pipeName, vtx::sync::DeadlineAfter(1000), &fd) != ERROR_SUCCESS) return 0;
  ucred cred{};
  socklen_t len = sizeof cred;
  pid_t pid = vtx::sys::Getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred ? cred.pid : 0;
  vtx::sys::Close(fd);
  return pid;
}

bool PeerGone(int fd) {
  // A local stream socket hangs up once the other end is closed in both directions.
  pollfd p{fd, POLLIN, 0};
  return vtx::sys::Poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

DWORD Listener::Create(const char* pipeName) {
  Close();
  std::string path = PathOf(pipeName);
  sockaddr_un addr;
  if (!FillAddress(path, addr)) return ERROR_INVALID_NAME;
  if (pipeName[0] == '/') {
    std::string dir = path.substr(0, path.rfind('/'));
    if (!dir.empty()) vtx::sys::Mkdir(dir.c_str(), 0770);
  } else if (HRESULT hr = vtx::sync::MakeRuntimeDir(); FAILED(hr)) {
    return (hr & 0xFFFF0000u) == 0x80070000u ? (hr & 0xFFFF) : ERROR_PATH_NOT_FOUND;
  }
  // A desktop program's own socket (an absolute path in its user's folder) is its user's alone;
  // an account outside the product's group runs one too.
  bool personal = pipeName[0] == '/';
  auto share = [personal](const char* file) -> HRESULT {
    if (!personal) return vtx::ShareWithProductGroup(file, 0660);
    return vtx::sys::Chmod(file, 0600) == 0 ? S_OK : HRESULT_FROM_WIN32(vtx::Win32FromErrno(errno));
  };
  int lock =
      vtx::sys::Open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, personal ? 0600 : 0660);
  if (lock < 0) return vtx::Win32FromErrno(errno);
  // The product's programs under other accounts look at the lock to tell whether the pipe is served.
  if (!personal) vtx::ShareWithProductGroup(lock, 0660);
  if (vtx::sys::Flock(lock, LOCK_EX | LOCK_NB) != 0) {
    DWORD e = errno == EWOULDBLOCK ? ERROR_PIPE_BUSY : vtx::Win32FromErrno(errno);
    vtx::sys::Close(lock);
    return e;
  }
  // Holding the lock, any socket file there was left by a server that is gone.
  vtx::sys::Unlink(path.c_str());
  int fd = vtx::sys::Socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    DWORD e = vtx::Win32FromErrno(errno);
    vtx::sys::Close(lock);
    return e;
  }
  // Bound under a temporary name and renamed once it listens, so that a client never finds the
  // file before it can connect. Created without rights for others: no moment of wider access.
  std::string temp = path + ".new";
  sockaddr_un tempAddr;
  if (!FillAddress(temp, tempAddr)) {
    vtx::sys::Close(fd);
    vtx::sys::Close(lock);
    return ERROR_INVALID_NAME;
  }
  vtx::sys::Unlink(temp.c_str());
  mode_t old = vtx::sys::Umask(0117);
  int rc = vtx::sys::Bind(fd, reinterpret_cast<sockaddr*>(&tempAddr), sizeof tempAddr);
  vtx::sys::Umask(old);
  if (rc == 0 && vtx::sys::Listen(fd, SOMAXCONN) == 0) {
    rc = SUCCEEDED(share(temp.c_str())) && vtx::sys::Rename(temp.c_str(), path.c_str()) == 0 ? 0 : -1;
  } else {
    rc = -1;
  }
  if (rc != 0) {
    DWORD e = vtx::Win32FromErrno(errno);
    vtx::sys::Unlink(temp.c_str());
    vtx::sys::Close(fd);
    vtx::sys::Close(lock);
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
    int c = vtx::sys::Accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c >= 0 || errno != EINTR) return c;
  }
}

void Listener::Close() {
  if (fd_ >= 0) {
    vtx::sys::Unlink(path_.c_str());
    vtx::sys::Close(fd_);
    fd_ = -1;
  }
  if (lock_ >= 0) {
    vtx::sys::Close(lock_);
    lock_ = -1;
  }
  path_.clear();
}

// ---- RequestServer ----

namespace {

// Many waiting clients need many descriptors: the soft limit goes up to what the system allows.
void RaiseDescriptorLimit() {
  rlimit r{};
  if (vtx::sys::Getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur >= r.rlim_max) return;
  r.rlim_cur = r.rlim_max == RLIM_INFINITY ? 65536 : std::min<rlim_t>(r.rlim_max, 65536);
  vtx::sys::Setrlimit(RLIMIT_NOFILE, &r);
}

void Count(int eventFd) {
  uint64_t one = 1;
  while (vtx::sys::Write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Drain(int eventFd) {
  uint64_t n;
  while (vtx::sys::Read(eventFd, &n, sizeof n) < 0 && errno == EINTR) {
  }
}

}  // namespace

DWORD RequestServer::Create(const char* pipeName, MeasureFn measure, DWORD deadlineMs) {
  Close();
  if (!measure) return ERROR_INVALID_PARAMETER;
  RaiseDescriptorLimit();
  if (DWORD e = listener_.Create(pipeName)) return e;
  measure_ = measure;
  deadlineMs_ = deadlineMs;
  epoll_ = vtx::sys::EpollCreate1(EPOLL_CLOEXEC);
  wake_ = vtx::sys::Eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ready_ = vtx::sys::Eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  DWORD e = ERROR_SUCCESS;
  if (epoll_ < 0 || wake_ < 0 || ready_ < 0) e = vtx::Win32FromErrno(errno);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.ptr = nullptr;  // the listener
  if (!e && vtx::sys::EpollCtl(epoll_, EPOLL_CTL_ADD, listener_.Fd(), &ev) != 0) e = vtx::Win32FromErrno(errno);
  ev.data.ptr = &wake_;
  if (!e && vtx::sys::EpollCtl(epoll_, EPOLL_CTL_ADD, wake_, &ev) != 0) e = vtx::Win32FromErrno(errno);
  if (!e) {
    stop_ = false;
    try {
      reader_ = std::thread([this] { Loop(); });
    } catch (...) {
      e = ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  if (e) Close();
  return e;
}

void RequestServer::Close() {
  if (reader_.joinable()) {
    stop_ = true;
    Count(wake_);
    reader_.join();
  }
  for (Connection& c : reading_) vtx::sys::Close(c.fd);
  reading_.clear();
  {
    std::lock_guard<std::mutex> l(lock_);
    for (ReceivedRequest& r : waiting_) vtx::sys::Close(r.fd);
    waiting_.clear();
  }
  held_ = 0;
  for (int* fd : {&epoll_, &wake_, &ready_})
    if (*fd >= 0) {
      vtx::sys::Close(*fd);
      *fd = -1;
    }
  listener_.Close();
  acceptPausedUntil_ = 0;
}

bool RequestServer::Next(ReceivedRequest& request) {
  std::lock_guard<std::mutex> l(lock_);
  if (waiting_.empty()) return false;
  request = std::move(waiting_.front());
  waiting_.pop_front();
  held_ -= request.bytes.size();
  if (waiting_.empty()) Drain(ready_);
  return true;
}

bool RequestServer::PeekNext(unsigned char* head, size_t size) {
  std::lock_guard<std::mutex> l(lock_);
  if (waiting_.empty() || waiting_.front().bytes.size() < size) return false;
  std::memcpy(head, waiting_.front().bytes.data(), size);
  return true;
}

void RequestServer::Loop() {
  epoll_event events[64];
  while (!stop_) {
    uint64_t next = reading_.empty() ? vtx::sync::kNoDeadline : reading_.front().deadline;
    if (acceptPausedUntil_) next = std::min(next, acceptPausedUntil_);
    int n = vtx::sys::EpollWait(epoll_, events, 64, MsUntil(next));
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n && !stop_; ++i) {
      void* tag = events[i].data.ptr;
      if (tag == &wake_) continue;
      if (!tag)
        AcceptAll();
      else
        ReadFrom(*static_cast<Connection*>(tag));
    }
    uint64_t now = vtx::sync::NowMs();
    if (acceptPausedUntil_ && acceptPausedUntil_ <= now) {
      acceptPausedUntil_ = 0;
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.ptr = nullptr;
      vtx::sys::EpollCtl(epoll_, EPOLL_CTL_MOD, listener_.Fd(), &ev);
    }
    // What did arrive in time is still read before a deadline ends the request.
    while (!reading_.empty() && reading_.front().deadline <= now) {
      Connection& c = reading_.front();
      if (ReadFrom(c)) Finish(c, false);
    }
  }
}

void RequestServer::AcceptAll() {
  for (;;) {
    int fd = listener_.Accept();
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) {
        if (!reading_.empty()) {
          Drop(reading_.front());
          continue;
        }
        // Nothing of ours to let go: stop looking at the listener for a moment rather than spin.
        epoll_event ev{};
        ev.data.ptr = nullptr;
        vtx::sys::EpollCtl(epoll_, EPOLL_CTL_MOD, listener_.Fd(), &ev);
        acceptPausedUntil_ = vtx::sync::NowMs() + 100;
      }
      return;
    }
    size_t waiting;
    {
      std::lock_guard<std::mutex> l(lock_);
      waiting = waiting_.size();
    }
    if (reading_.size() + waiting >= kMaxConnections) {
      if (reading_.empty()) {
        vtx::sys::Close(fd);  // every place is taken by a request that waits for the owner
        continue;
      }
      Drop(reading_.front());
    }
    reading_.emplace_back();
    Connection& c = reading_.back();
    c.self = std::prev(reading_.end());
    c.fd = fd;
    c.deadline = vtx::sync::DeadlineAfter(deadlineMs_);
    c.needed = measure_(nullptr, 0);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.ptr = &c;
    if (vtx::sys::EpollCtl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) Drop(c);
  }
}

bool RequestServer::ReadFrom(Connection& c) {
  unsigned char chunk[65536];
  for (;;) {
    size_t want = std::min(c.needed - c.bytes.size(), sizeof chunk);
    ssize_t n = vtx::sys::Recv(c.fd, chunk, want, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) {
      Finish(c, false);  // the client stopped sending, or its connection broke
      return false;
    }
    if (held_ + static_cast<size_t>(n) > kMaxHeldBytes) {
      Drop(c);
      return false;
    }
    held_ += static_cast<size_t>(n);
    c.bytes.insert(c.bytes.end(), chunk, chunk + n);
    if (c.bytes.size() < c.needed) continue;
    size_t whole = measure_(c.bytes.data(), c.bytes.size());
    if (whole <= c.bytes.size()) {
      Finish(c, true);
      return false;
    }
    c.needed = whole;
  }
}

void RequestServer::Finish(Connection& c, bool complete) {
  vtx::sys::EpollCtl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
  if (c.bytes.empty()) {
    Drop(c);  // nothing to answer
    return;
  }
  ReceivedRequest r;
  r.fd = c.fd;
  r.bytes = std::move(c.bytes);
  r.complete = complete;
  reading_.erase(c.self);
  std::lock_guard<std::mutex> l(lock_);
  waiting_.push_back(std::move(r));
  Count(ready_);
}

void RequestServer::Drop(Connection& c) {
  vtx::sys::EpollCtl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
  vtx::sys::Close(c.fd);
  held_ -= c.bytes.size();
  reading_.erase(c.self);
}

}  // namespace vtx::pipes
