// A TCP client in place of the Windows Sockets calls the engine makes: name resolution, a connect,
// sends and receives, each with a time limit, and never a SIGPIPE. Failures are Windows Sockets
// error numbers (WSAE...), which the callers turn into their own results.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/errors.h"
#include "platform/types.h"

namespace vtx {

class TcpConnection {
 public:
  TcpConnection() = default;
  ~TcpConnection() { Close(); }
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Resolves `host` (a name, an IPv4 or an IPv6 literal) and connects to the first of its addresses
  // that answers; the whole attempt ends after `timeoutMs`. 0, or WSAHOST_NOT_FOUND (no such host),
  // WSATRY_AGAIN (the resolver did not answer), WSAETIMEDOUT, WSAECONNREFUSED, WSAENETUNREACH, ...
  // A connection that is open already is closed first.
  DWORD Connect(const char* host, uint16_t port, DWORD timeoutMs);
  // Sends every byte within `timeoutMs`. 0, or WSAENOTCONN, WSAETIMEDOUT, WSAECONNRESET, ...
  DWORD Send(const void* data, size_t size, DWORD timeoutMs);
  // One receive of up to `size` bytes, after a wait of up to `timeoutMs` for data. `received` 0
  // with result 0 means the peer closed the connection. Errors as for Send.
  DWORD Receive(void* buffer, size_t size, size_t* received, DWORD timeoutMs);
  void Close();
  bool IsConnected() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The Windows Sockets error for an errno value.
DWORD SocketErrorFromErrno(int err);

// For every stream socket of the layer (these connections, the pipes' local sockets). Deadlines
// are vtx::sync's (milliseconds of the monotonic clock, kNoDeadline for none).
// Waits until poll reports `events` (or an error or hang-up): 0, ETIMEDOUT, ECANCELED when the
// program stops (vtx::sync::RequestStop), or poll's errno.
int WaitForSocket(int fd, short events, uint64_t deadline);
// Sends every byte without ever raising SIGPIPE, waiting for room until the deadline: 0,
// ETIMEDOUT, or the errno of the failed send (EPIPE or ECONNRESET when the peer is gone).
int SendAllBytes(int fd, const void* data, size_t size, uint64_t deadline);

}  // namespace vtx
