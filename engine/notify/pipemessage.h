// Window-message requests over a named pipe: the client sends one request shaped like a
// SendMessage call and gets one 32-bit reply; the server hands each request to a handler on its
// owner's thread.
#pragma once
#include "platform/messages.h"
#include "platform/pipes.h"

// Wire layout, little-endian: msg, wParam, lParam (12 bytes); for WM_COPYDATA then dwData, cbData,
// lpData (12 bytes) and cbData bytes of data. The reply is one u32.
struct MessagePacket {
  DWORD msg;
  DWORD wParam;
  DWORD lParam;
};

// The result of a request; `context` is what the owner passes with each serve call. For
// WM_COPYDATA, lParam points to a COPYDATASTRUCT whose data are valid during the call only.
using PipeMessageHandler = DWORD (*)(DWORD_PTR context, DWORD msg, WPARAM wParam, LPARAM lParam);

// Data blocks above this size are refused with 0x8007000D, unread.
constexpr DWORD kPipeMaxData = 1u << 20;

// One request as the server read it. `data` is a GlobalAlloc block (null when cbData is 0).
struct PipeRequest {
  MessagePacket head{};
  COPYDATASTRUCT cds{};
  bool hasData = false;
};

// Reads one request through `read` (which returns 0, or a Win32 error when it cannot deliver
// exactly `size` bytes). 0x8000FFFF when the head is short; 0x8007000D when cbData is above the
// cap or the data do not arrive; 0x8007000E when the data cannot be held. On failure nothing
// stays allocated.
using PipeReadFn = DWORD (*)(void* source, void* buffer, size_t size);
HRESULT ReadPipeRequest(PipeReadFn read, void* source, PipeRequest& request);
// The same from the bytes that arrived.
HRESULT ReadPipeRequest(const void* bytes, size_t size, PipeRequest& request);
void FreePipeRequest(PipeRequest& request);

class CPipeMessageClient {
 public:
  // Time-outs of 0 and 1 never expire (a busy pipe is waited for without limit); any other
  // time-out covers the whole call. For WM_COPYDATA lParam points to the caller's COPYDATASTRUCT.
  HRESULT SendMessageTimeoutA(const char* pipeName, DWORD msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                              DWORD* result);
  HRESULT SendMessageA(const char* pipeName, DWORD msg, WPARAM wParam, LPARAM lParam, DWORD* result) {
    return SendMessageTimeoutA(pipeName, msg, wParam, lParam, 0, result);
  }
  // One write-then-read transaction; FALSE with the last error set on failure.
  static BOOL CallPipe(const char* pipeName, const void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* bytesRead, DWORD timeoutMs);
  static BOOL PipeExists(const char* pipeName);
};

// The connection of a request whose answer is sent later (see CPipeMessageServer::DeferReply).
// Dropped without an answer, the client sees the connection end.
class PipeReply {
 public:
  PipeReply() = default;
  explicit PipeReply(int fd) : fd_(fd) {}
  PipeReply(PipeReply&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  PipeReply& operator=(PipeReply&& other) noexcept;
  ~PipeReply() { Close(); }
  // Sends the answer and ends the connection.
  HRESULT Send(DWORD reply);
  bool Valid() const { return fd_ >= 0; }

 private:
  void Close();
  int fd_ = -1;
};

// Serves a pipe: requests are read from any number of clients at once, each with a few seconds for
// its whole request, so that a slow or silent client delays nobody; the handler runs on the owner's
// thread, one request at a time.
class CPipeMessageServer {
 public:
  CPipeMessageServer() = default;
  ~CPipeMessageServer() { Close(); }
  CPipeMessageServer(const CPipeMessageServer&) = delete;
  CPipeMessageServer& operator=(const CPipeMessageServer&) = delete;

  // 0x800700E7 when another process serves the pipe.
  HRESULT Create(const char* pipeName);
  // Signalled while a request waits; the owner waits on it with its message queue.
  HANDLE GetEvent() const { return event_; }
  // Serves the oldest waiting request (nothing when none waits). Safe to call again from inside a
  // handler.
  HRESULT ServeRequest(DWORD_PTR context, PipeMessageHandler handler);
  void Close();
  // A descriptor that is readable while a request waits (for another event loop to watch), -1 when
  // closed.
  int Fd() const { return server_.ReadyFd(); }

  // Inside a handler: who sent the request (the kernel's word, not the request's).
  bool Caller(uid_t* uid, gid_t* gid) const;
  // Inside a handler: keeps the connection open for an answer that the owner sends later through
  // the result; what the handler returns is then not sent.
  PipeReply DeferReply();
  // Inside a handler: the caller has given up and closed its end; nobody will see the answer.
  bool CallerGone() const;
  // The message code of the oldest waiting request, without taking it; false when none waits.
  bool NextMessage(DWORD* msg);

 private:
  vtx::pipes::RequestServer server_;
  HANDLE event_ = nullptr;
  int serving_ = -1;  // the connection whose request the handler runs
};
