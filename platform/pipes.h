// Named pipes of the system as Unix domain stream sockets: "\\.\pipe\NAME" is the socket
// $VANTREX_RUNTIME_DIR/NAME. Results are Win32 error codes (0 on success).
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "platform/sync.h"
#include "platform/types.h"

namespace vtx::pipes {

// The socket path of a pipe name, empty when the name is not "\\.\pipe\NAME" with a plain NAME.
// The functions below also take an absolute socket path in place of a pipe name (the per-user
// sockets of a desktop program).
std::string SocketPath(const char* pipeName);

// True when a server listens on the pipe (its owner holds the pipe's lock), without connecting.
bool Exists(const char* pipeName);

// Connects before the deadline. ERROR_FILE_NOT_FOUND when nobody serves the pipe; a server whose
// queue of waiting clients is full counts as busy and is tried again until the deadline
// (ERROR_TIMEOUT then).
DWORD Connect(const char* pipeName, uint64_t deadlineMs, int* fd);

// Writes or reads exactly `size` bytes before the deadline: ERROR_TIMEOUT, ERROR_BROKEN_PIPE when
// the other side went away (never SIGPIPE), ERROR_OPERATION_ABORTED when the program stops
// (vtx::sync::RequestStop). ReadAll reports in *got what did arrive.
DWORD WriteAll(int fd, const void* data, size_t size, uint64_t deadlineMs);
DWORD ReadAll(int fd, void* data, size_t size, uint64_t deadlineMs, size_t* got);

// Who is at the other end of a connection, as the kernel saw it when it connected.
bool PeerCredentials(int fd, uid_t* uid, gid_t* gid);

// The listening side. The socket file is mode 0660 with the group "vantrex" when it exists.
// The pipe's lock ($VANTREX_RUNTIME_DIR/NAME.lock) is held while listening: it makes the owner the
// only process that may replace a socket file left behind by a server that died.
class Listener {
 public:
  Listener() = default;
  ~Listener() { Close(); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  // ERROR_PIPE_BUSY when another process serves the pipe.
  DWORD Create(const char* pipeName);
  // Readable while a client waits to be accepted; -1 when closed.
  int Fd() const { return fd_; }
  // A waiting client's connection, or -1 when none waits (not an error).
  int Accept();
  void Close();

 private:
  int fd_ = -1;
  int lock_ = -1;
  std::string path_;
};

}  // namespace vtx::pipes
