#include "engine/notify/pipemessage.h"

#include <cstring>

#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"

namespace {

// How long a connected client may take to deliver its request or take its reply.
constexpr DWORD kServeDeadlineMs = 3000;

void PutU32(BYTE* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}
DWORD GetU32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

struct MemorySource {
  const unsigned char* at;
  size_t left;
};

DWORD ReadMemory(void* source, void* buffer, size_t size) {
  auto* m = static_cast<MemorySource*>(source);
  if (m->left < size) return ERROR_BROKEN_PIPE;
  std::memcpy(buffer, m->at, size);
  m->at += size;
  m->left -= size;
  return ERROR_SUCCESS;
}

// The size of a whole request as its first bytes tell; a size beyond the cap stops the reading, and
// the request is then refused unread.
size_t MeasureRequest(const unsigned char* p, size_t size) {
  if (size < 12) return 12;
  if (GetU32(p) != WM_COPYDATA) return 12;
  if (size < 24) return 24;
  DWORD cb = GetU32(p + 16);
  return cb > kPipeMaxData ? size : 24 + static_cast<size_t>(cb);
}

}  // namespace

HRESULT ReadPipeRequest(PipeReadFn read, void* source, PipeRequest& request) {
  request = PipeRequest{};
  BYTE head[12];
  if (read(source, head, sizeof head) != ERROR_SUCCESS) return E_UNEXPECTED;
  request.head = MessagePacket{GetU32(head), GetU32(head + 4), GetU32(head + 8)};
  if (request.head.msg != WM_COPYDATA) return S_OK;
  request.hasData = true;
  if (read(source, head, sizeof head) != ERROR_SUCCESS) return E_UNEXPECTED;
  request.cds.dwData = GetU32(head);
  request.cds.cbData = GetU32(head + 4);
  request.cds.lpData = nullptr;  // the sender's pointer means nothing here
  if (request.cds.cbData == 0) return S_OK;
  if (request.cds.cbData > kPipeMaxData) return E_INVALIDDATA;
  void* data = GlobalAlloc(GMEM_FIXED, request.cds.cbData);
  if (!data) return E_OUTOFMEMORY;
  if (read(source, data, request.cds.cbData) != ERROR_SUCCESS) {
    GlobalFree(data);
    return E_INVALIDDATA;
  }
  request.cds.lpData = data;
  return S_OK;
}

HRESULT ReadPipeRequest(const void* bytes, size_t size, PipeRequest& request) {
  MemorySource source{static_cast<const unsigned char*>(bytes), size};
  return ReadPipeRequest(ReadMemory, &source, request);
}

void FreePipeRequest(PipeRequest& request) {
  if (request.cds.lpData) GlobalFree(request.cds.lpData);
  request.cds.lpData = nullptr;
}

BOOL CPipeMessageClient::CallPipe(const char* pipeName, const void* in, DWORD inSize, void* out, DWORD outSize,
                                  DWORD* bytesRead, DWORD timeoutMs) {
  if (bytesRead) *bytesRead = 0;
  uint64_t deadline =
      timeoutMs <= 1 || timeoutMs == INFINITE ? vtx::sync::kNoDeadline : vtx::sync::DeadlineAfter(timeoutMs);
  int fd = -1;
  DWORD e = vtx::pipes::Connect(pipeName, deadline, &fd);
  if (e == ERROR_SUCCESS) e = vtx::pipes::WriteAll(fd, in, inSize, deadline);
  size_t got = 0;
  if (e == ERROR_SUCCESS) e = vtx::pipes::ReadAll(fd, out, outSize, deadline, &got);
  if (fd >= 0) vtx::sys::Close(fd);
  if (bytesRead) *bytesRead = static_cast<DWORD>(got);
  if (e != ERROR_SUCCESS) {
    SetLastError(e);
    return FALSE;
  }
  return TRUE;
}

BOOL CPipeMessageClient::PipeExists(const char* pipeName) { return vtx::pipes::Exists(pipeName) ? TRUE : FALSE; }

HRESULT CPipeMessageClient::SendMessageTimeoutA(const char* pipeName, DWORD msg, WPARAM wParam, LPARAM lParam,
                                                DWORD timeoutMs, DWORD* result) {
  BYTE small[12];
  BYTE* request = small;
  DWORD size = sizeof small;
  if (msg == WM_COPYDATA) {
    auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!cds) return E_POINTER;
    // Without data there is nothing to send, whatever cbData says.
    DWORD cb = cds->lpData ? cds->cbData : 0;
    if (cb > 0xFFFFFFFFu - 24) return E_INVALIDARG;
    request = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, cb + 24));
    if (!request) return E_OUTOFMEMORY;
    size = cb + 24;
    PutU32(request + 12, static_cast<DWORD>(cds->dwData));
    PutU32(request + 16, cb);
    PutU32(request + 20, static_cast<DWORD>(reinterpret_cast<uintptr_t>(cds->lpData)));
    if (cb) std::memcpy(request + 24, cds->lpData, cb);
  }
  PutU32(request, msg);
  PutU32(request + 4, static_cast<DWORD>(wParam));
  PutU32(request + 8, static_cast<DWORD>(lParam));
  BYTE reply[4] = {0, 0, 0, 0};
  HRESULT hr = S_OK;
  if (!CallPipe(pipeName, request, size, reply, sizeof reply, nullptr, timeoutMs)) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    std::memset(reply, 0, sizeof reply);
  }
  if (request != small) GlobalFree(request);
  if (result) *result = GetU32(reply);
  return hr;
}

PipeReply& PipeReply::operator=(PipeReply&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void PipeReply::Close() {
  if (fd_ >= 0) vtx::sys::Close(fd_);
  fd_ = -1;
}

HRESULT PipeReply::Send(DWORD reply) {
  if (fd_ < 0) return E_HANDLE;
  BYTE out[4];
  PutU32(out, reply);
  DWORD e = vtx::pipes::WriteAll(fd_, out, sizeof out, vtx::sync::DeadlineAfter(kServeDeadlineMs));
  Close();
  return HRESULT_FROM_WIN32(e);
}

bool CPipeMessageServer::Caller(uid_t* uid, gid_t* gid) const {
  return serving_ >= 0 && vtx::pipes::PeerCredentials(serving_, uid, gid);
}

bool CPipeMessageServer::NextMessage(DWORD* msg) {
  unsigned char head[4];
  if (!server_.PeekNext(head, sizeof head)) return false;
  *msg = GetU32(head);
  return true;
}

bool CPipeMessageServer::CallerGone() const { return serving_ >= 0 && vtx::pipes::PeerGone(serving_); }

PipeReply CPipeMessageServer::DeferReply() {
  int fd = serving_;
  serving_ = -1;
  return PipeReply(fd);
}

HRESULT CPipeMessageServer::Create(const char* pipeName) {
  Close();
  DWORD e = server_.Create(pipeName, MeasureRequest, kServeDeadlineMs);
  if (e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
  event_ = vtx::sync::CreateFdHandle(server_.ReadyFd());
  if (!event_) {
    server_.Close();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void CPipeMessageServer::Close() {
  if (event_) CloseHandle(event_);
  event_ = nullptr;
  server_.Close();
}

HRESULT CPipeMessageServer::ServeRequest(DWORD_PTR context, PipeMessageHandler handler) {
  if (server_.ReadyFd() < 0) return E_FAIL;
  vtx::pipes::ReceivedRequest received;
  if (!server_.Next(received)) return S_OK;
  int fd = received.fd;
  PipeRequest request;
  HRESULT hr = ReadPipeRequest(received.bytes.data(), received.bytes.size(), request);
  received.bytes = {};
  DWORD reply = 0;
  if (hr == E_INVALIDDATA || hr == E_OUTOFMEMORY) {
    reply = hr;  // refused; the handler never sees a size without its data
  } else if (SUCCEEDED(hr) && vtx::pipes::PeerGone(fd)) {
    // The caller gave up before its turn (it was told of a time-out): serving the request now would
    // change what it believes did not happen.
    FreePipeRequest(request);
    vtx::sys::Close(fd);
    return HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE);
  } else if (SUCCEEDED(hr)) {
    LPARAM lParam = request.hasData ? reinterpret_cast<LPARAM>(&request.cds) : static_cast<LPARAM>(request.head.lParam);
    // A handler may serve the pipe again inside itself: the caller of this request is restored after.
    int outer = serving_;
    serving_ = fd;
    if (handler) reply = handler(context, request.head.msg, request.head.wParam, lParam);
    bool deferred = serving_ != fd;
    serving_ = outer;
    FreePipeRequest(request);
    if (deferred) return hr;  // the connection and its answer belong to the handler's owner now
  }
  if (hr != E_UNEXPECTED) {
    BYTE out[4];
    PutU32(out, reply);
    DWORD e = vtx::pipes::WriteAll(fd, out, sizeof out, vtx::sync::DeadlineAfter(kServeDeadlineMs));
    if (SUCCEEDED(hr) && e != ERROR_SUCCESS) hr = HRESULT_FROM_WIN32(e);
  }
  vtx::sys::Close(fd);
  return hr;
}
