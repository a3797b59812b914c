#include "platform/socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/native/syscalls.h"
#include "platform/sync.h"

namespace {

DWORD FromResolver(int rc) {
  switch (rc) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return vtx::SocketErrorFromErrno(errno);
    default: return WSANO_RECOVERY;
  }
}

// One connect attempt to one address: the socket, or -1 with `error` set.
int ConnectOne(const addrinfo& a, uint64_t deadline, DWORD* error) {
  int fd = vtx::sys::Socket(a.ai_family, a.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a.ai_protocol);
  if (fd < 0) {
    *error = vtx::SocketErrorFromErrno(errno);
    return -1;
  }
  int e = vtx::sys::Connect(fd, a.ai_addr, a.ai_addrlen) == 0 ? 0 : errno;
  if (e == EINPROGRESS) {
    e = vtx::WaitForSocket(fd, POLLOUT, deadline);
    if (e == 0) {
      socklen_t len = sizeof e;
      if (vtx::sys::Getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &len) != 0) e = errno;
    }
  }
  if (e) {
    *error = vtx::SocketErrorFromErrno(e);
    vtx::sys::Close(fd);
    return -1;
  }
  int one = 1;
  vtx::sys::Setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // queries are small and answered at once
  return fd;
}

}  // namespace

namespace vtx {

DWORD SocketErrorFromErrno(int err) {
  switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case ENOTCONN: return WSAENOTCONN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECANCELED: return WSAEINTR;  // a blocking call cancelled
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: case EHOSTDOWN: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
  }
}

int WaitForSocket(int fd, short events, uint64_t deadline) {
  for (;;) {
    if (sync::StopRequested()) return ECANCELED;
    pollfd p[2] = {{fd, events, 0}, {sync::StopFd(), POLLIN, 0}};
    int n = vtx::sys::Poll(p, p[1].fd >= 0 ? 2 : 1, sync::MsUntil(deadline));
    if (n > 0 && p[0].revents) return 0;  // errors and hang-ups show in the call that follows
    if (n > 0) continue;                  // the program stops
    if (n == 0) return ETIMEDOUT;
    if (errno != EINTR) return errno;
  }
}

int SendAllBytes(int fd, const void* data, size_t size, uint64_t deadline) {
  const char* p = static_cast<const char*>(data);
  while (size) {
    ssize_t n = vtx::sys::Send(fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (int e = WaitForSocket(fd, POLLOUT, deadline)) return e;
      continue;
    }
    return n < 0 ? errno : EPIPE;
  }
  return 0;
}

DWORD TcpConnection::Connect(const char* host, uint16_t port, DWORD timeoutMs) {
  Close();
  if (!host || !*host || port == 0) return WSAEINVAL;
  const uint64_t deadline = sync::DeadlineAfter(timeoutMs);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  char service[8];
  std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  addrinfo* list = nullptr;
  int rc = vtx::sys::Getaddrinfo(host, service, &hints, &list);
  if (rc == EAI_NONAME || rc == EAI_ADDRFAMILY) {
    // AI_ADDRCONFIG hides loopback literals on a host without other addresses.
    hints.ai_flags = 0;
    rc = vtx::sys::Getaddrinfo(host, service, &hints, &list);
  }
  if (rc != 0) return FromResolver(rc);

  DWORD error = WSAEHOSTUNREACH;
  for (const addrinfo* a = list; a; a = a->ai_next) {
    if (sync::MsUntil(deadline) == 0) {
      error = WSAETIMEDOUT;
      break;
    }
    int fd = ConnectOne(*a, deadline, &error);
    if (fd >= 0) {
      fd_ = fd;
      error = 0;
      break;
    }
  }
  vtx::sys::Freeaddrinfo(list);
  return error;
}

DWORD TcpConnection::Send(const void* data, size_t size, DWORD timeoutMs) {
  if (fd_ < 0) return WSAENOTCONN;
  return SocketErrorFromErrno(SendAllBytes(fd_, data, size, sync::DeadlineAfter(timeoutMs)));
}

DWORD TcpConnection::Receive(void* buffer, size_t size, size_t* received, DWORD timeoutMs) {
  if (received) *received = 0;
  if (fd_ < 0) return WSAENOTCONN;
  if (!buffer || !size) return WSAEINVAL;
  const uint64_t deadline = sync::DeadlineAfter(timeoutMs);
  for (;;) {
    ssize_t n = vtx::sys::Recv(fd_, buffer, size, MSG_DONTWAIT);
    if (n >= 0) {
      if (received) *received = static_cast<size_t>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SocketErrorFromErrno(errno);
    if (int e = WaitForSocket(fd_, POLLIN, deadline)) return SocketErrorFromErrno(e);
  }
}

void TcpConnection::Close() {
  if (fd_ >= 0) {
    vtx::sys::Close(fd_);
    fd_ = -1;
  }
}

}  // namespace vtx
