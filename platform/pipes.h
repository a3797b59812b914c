// Named pipes of the system as Unix domain stream sockets: "\\.\pipe\NAME" is the socket
// $VANTREX_RUNTIME_DIR/NAME. Results are Win32 error codes (0 on success).
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
// The process that serves the pipe (as the kernel saw it when it began to listen), 0 when none
// answers within a second. It connects and leaves without a request.
pid_t ServerProcess(const char* pipeName);
// The other end has closed the connection: nobody waits for an answer on it any more (a client
// that only ended its sending still waits).
bool PeerGone(int fd);

// The listening side. The socket file and its lock are mode 0660 in the product group (when the
// system has it); a missing runtime folder is made with its parents.
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

// One request as a RequestServer read it: the connection (the receiver answers on it and closes it)
// and the bytes that arrived. Not complete when the client stopped sending, or its deadline
// passed, before the whole request was there.
struct ReceivedRequest {
  int fd = -1;
  std::vector<unsigned char> bytes;
  bool complete = false;
};

// A listener that reads requests from any number of connections at once on a thread of its own,
// each connection with its own deadline for its whole request, so that a slow or silent client
// delays nobody. Whole requests wait in arrival order until the owner takes them (Next), on its
// own thread, one at a time.
class RequestServer {
 public:
  // How many bytes the whole request has, judged from the first `size` bytes (data may be null when
  // size is 0): a value above `size` asks for more; `size` or less ends the reading here.
  using MeasureFn = size_t (*)(const unsigned char* data, size_t size);

  RequestServer() = default;
  ~RequestServer() { Close(); }
  RequestServer(const RequestServer&) = delete;
  RequestServer& operator=(const RequestServer&) = delete;

  // As Listener::Create; `deadlineMs` is each connection's time for its whole request.
  DWORD Create(const char* pipeName, MeasureFn measure, DWORD deadlineMs);
  // Readable while a request waits to be taken; -1 when closed.
  int ReadyFd() const { return ready_; }
  // Takes the oldest waiting request; false when none waits.
  bool Next(ReceivedRequest& request);
  // The first `size` bytes of the oldest waiting request, without taking it; false when none waits
  // or it is shorter.
  bool PeekNext(unsigned char* head, size_t size);
  void Close();

  // Connections held at once (reading or waiting to be taken): above it the oldest one that is
  // still being read is dropped. Bytes held at once over all of them: a connection that would go
  // beyond is dropped.
  static constexpr size_t kMaxConnections = 4096;
  static constexpr size_t kMaxHeldBytes = 64u << 20;

 private:
  struct Connection {
    int fd = -1;
    uint64_t deadline = 0;
    std::vector<unsigned char> bytes;
    size_t needed = 0;
    std::list<Connection>::iterator self;
  };
  void Loop();
  void AcceptAll();
  // Reads what the client has sent; false once the connection is no longer being read.
  bool ReadFrom(Connection& c);
  void Finish(Connection& c, bool complete);
  void Drop(Connection& c);

  Listener listener_;
  MeasureFn measure_ = nullptr;
  DWORD deadlineMs_ = 0;
  int epoll_ = -1;
  int wake_ = -1;   // tells the reader to stop
  int ready_ = -1;  // counts the requests waiting to be taken
  uint64_t acceptPausedUntil_ = 0;
  std::list<Connection> reading_;  // in arrival order, so in deadline order too
  std::atomic<size_t> held_{0};
  std::mutex lock_;  // guards waiting_ and ready_'s count
  std::deque<ReceivedRequest> waiting_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

}  // namespace vtx::pipes
