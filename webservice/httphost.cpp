#include "webservice/httphost.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/heap.h"
#include "platform/native/syscalls.h"

namespace vtx::soap {

namespace {
// Connections at once, and from one address: at 1 MiB of body each, a bound on the memory that
// unfinished uploads can hold.
constexpr unsigned kConnectionLimit = 256;
constexpr unsigned kConnectionsPerAddress = 64;

struct Call {
  std::string body;
  bool tooLarge = false;
  // A call run apart: its request, and its reply once `answered` (set before the connection resumes,
  // which is what lets the loop read it).
  Prepared prepared;
  Reply reply;
  bool apart = false;
  bool answered = false;
};

MHD_Result Send(MHD_Connection* c, unsigned status, const std::string& body, const char* type,
                const char* allow = nullptr) {
  MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!r) return MHD_NO;
  MHD_add_response_header(r, "Content-Type", type);
  if (allow) MHD_add_response_header(r, "Allow", allow);
  MHD_Result ok = MHD_queue_response(c, status, r);
  MHD_destroy_response(r);
  return ok;
}

MHD_Result FindWsdl(void* cls, MHD_ValueKind, const char* key, const char*) {
  if (key && strcasecmp(key, "wsdl") == 0) *static_cast<bool*>(cls) = true;
  return MHD_YES;
}

HttpHost::Receipt* ReceiptOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<HttpHost::Receipt*>(info->socket_context) : nullptr;
}

MHD_Result Respond(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                   const char* upload, size_t* uploadSize, void** state) {
  auto* host = static_cast<HttpHost*>(cls);
  const HostOptions& opt = host->Options();
  const bool post = std::strcmp(method, "POST") == 0;
  if (!*state) {
    // First call: only the head is known. Every answer waits for the next call, when the request is
    // in whole: one queued now would end the connection instead of keeping it for the next request.
    auto* call = vtx::heap::New<Call>();
    if (!call) return MHD_NO;
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
    if (post && length && std::strtoull(length, nullptr, 10) > opt.maxBodyBytes) call->tooLarge = true;
    *state = call;
    if (call->tooLarge) {
      host->Log("a request of " + std::string(length) + " bytes refused: larger than 1 MiB");
      return Send(connection, 413, "The request is larger than 1 MiB.\n", "text/plain");
    }
    return MHD_YES;
  }
  auto* call = static_cast<Call*>(*state);
  if (*uploadSize) {
    if (!call->tooLarge && call->body.size() + *uploadSize > opt.maxBodyBytes) {
      call->tooLarge = true;
      call->body.clear();
      call->body.shrink_to_fit();
    }
    if (!call->tooLarge) call->body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  if (call->tooLarge) {
    host->Log("a request refused: larger than 1 MiB");
    return Send(connection, 413, "The request is larger than 1 MiB.\n", "text/plain");
  }
  if (std::strcmp(url, opt.path.c_str()) != 0) return Send(connection, 404, "Not found.\n", "text/plain");
  if (!post) {
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
      return Send(connection, 405, "Method not allowed.\n", "text/plain", "GET, POST");
    bool wsdl = false;
    int arguments = MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, FindWsdl, &wsdl);
    if (!wsdl && arguments > 0)
      return Send(connection, 404, "Ask for " + opt.path + "?wsdl for the service description.\n", "text/plain");
    const char* hostHeader = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host");
    std::string where = hostHeader && *hostHeader ? hostHeader : Authority(opt.address, host->Port());
    // A Host header can hold anything; the location takes only what an authority can hold.
    for (char ch : where)
      if (!(std::isalnum(static_cast<unsigned char>(ch)) || std::strchr(".-:[]_", ch)))
        where = Authority(opt.address, host->Port());
    if (!wsdl)  // the path alone: a page for people
      return Send(connection, 200, WriteServicePage(host->GetService(), "http://" + where + opt.path + "?wsdl"),
                  "text/html; charset=utf-8");
    return Send(connection, 200, WriteWsdl(host->GetService(), "http://" + where + opt.path),
                "text/xml; charset=utf-8");
  }
  const Service& service = host->GetService();
  if (call->answered) {
    if (!call->reply.failure.empty()) host->Log(call->reply.failure);
    return Send(connection, static_cast<unsigned>(call->reply.status), call->reply.body,
                call->reply.contentType.c_str());
  }
  const char* type = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type");
  const char* action = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "SOAPAction");
  Prepared prepared = Prepare(service, call->body.data(), call->body.size(), type ? type : "", action ? action : "");
  if (prepared.request && opt.mayWait && opt.mayWait(*prepared.request->op)) {
    // The loop goes on with its other connections; this one rests until the call has its reply.
    if (!host->BeginApart()) return Send(connection, 503, "The service is ending.\n", "text/plain");
    call->prepared = std::move(prepared);
    call->apart = true;
    MHD_suspend_connection(connection);
    host->RunApart([host, call, connection] {
      call->reply = Run(host->GetService(), call->prepared);
      call->answered = true;
      MHD_resume_connection(connection);
    });
    return MHD_YES;
  }
  Reply reply = Run(service, prepared);
  if (!reply.failure.empty()) host->Log(reply.failure);
  return Send(connection, static_cast<unsigned>(reply.status), reply.body, reply.contentType.c_str());
}

MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url, const char* method, const char* version,
                  const char* upload, size_t* uploadSize, void** state) {
  auto* host = static_cast<HttpHost*>(cls);
  // The request is in once the handler is called without more of its body: what follows is the
  // answer, which the time to receive does not cover.
  bool whole = *state ? *uploadSize == 0 : std::strcmp(method, "POST") != 0;
  if (whole) host->Received(ReceiptOf(connection));
  return Respond(cls, connection, url, method, version, upload, uploadSize, state);
}

void Completed(void* cls, MHD_Connection* connection, void** state, MHD_RequestTerminationCode) {
  auto* call = static_cast<Call*>(*state);
  // A call run apart ends when its answer has gone (or its connection has).
  if (call && call->apart) static_cast<HttpHost*>(cls)->EndApart();
  delete call;
  *state = nullptr;
  // The time to receive the next request on this connection starts now.
  static_cast<HttpHost*>(cls)->Receiving(ReceiptOf(connection));
}

void Connection(void* cls, MHD_Connection* connection, void** socketContext, MHD_ConnectionNotificationCode code) {
  auto* host = static_cast<HttpHost*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    *socketContext = host->Opened(info ? info->connect_fd : -1);
  } else {
    host->Closed(static_cast<HttpHost::Receipt*>(*socketContext));
    *socketContext = nullptr;
  }
}

}  // namespace

namespace {
int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

HttpHost::Receipt* HttpHost::Opened(int fd) {
  auto r = std::make_unique<Receipt>();
  r->fd = fd;
  r->since.store(Now(), std::memory_order_relaxed);
  std::lock_guard<std::mutex> l(lock_);
  Receipt* raw = r.get();
  open_.emplace(raw, std::move(r));
  // A connection that opens while the host stops ends at once.
  if (stopping_ && fd >= 0) {
    vtx::sys::Shutdown(fd, SHUT_RDWR);
    raw->ended = true;
  }
  return raw;
}

void HttpHost::Closed(Receipt* r) {
  std::lock_guard<std::mutex> l(lock_);
  open_.erase(r);
}

void HttpHost::Receiving(Receipt* r) {
  if (!r) return;
  r->since.store(Now(), std::memory_order_relaxed);
  r->receiving.store(true, std::memory_order_release);
}

void HttpHost::Received(Receipt* r) {
  if (r) r->receiving.store(false, std::memory_order_release);
}

bool HttpHost::BeginApart() {
  std::lock_guard<std::mutex> l(lock_);
  if (stopping_) return false;
  ++apart_;
  return true;
}

void HttpHost::RunApart(std::function<void()> work) {
  try {
    std::thread(work).detach();
  } catch (...) {
    work();  // no thread to be had: the loop runs the call itself
  }
}

void HttpHost::EndApart() {
  std::lock_guard<std::mutex> l(lock_);
  --apart_;
  wake_.notify_all();
}

void HttpHost::Sweep() {
  const int64_t limit = int64_t{options_.idleTimeoutSeconds} * 1000000000;
  std::unique_lock<std::mutex> l(lock_);
  while (!stopping_) {
    wake_.wait_for(l, std::chrono::milliseconds(250));
    const int64_t now = Now();
    for (auto& [raw, r] : open_)
      if (r->receiving.load(std::memory_order_acquire) && !r->ended && r->fd >= 0 &&
          now - r->since.load(std::memory_order_relaxed) > limit) {
        // The host sees the connection end and closes it: its place is free for others.
        vtx::sys::Shutdown(r->fd, SHUT_RDWR);
        r->ended = true;
      }
  }
}

void HttpHost::EndAll() {
  std::lock_guard<std::mutex> l(lock_);
  stopping_ = true;
  for (auto& [raw, r] : open_)
    if (r->receiving.load(std::memory_order_acquire) && !r->ended && r->fd >= 0) {
      vtx::sys::Shutdown(r->fd, SHUT_RDWR);
      r->ended = true;
    }
}

std::string Authority(const std::string& address, uint16_t port) {
  bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

HttpHost::~HttpHost() { Stop(); }

std::string HttpHost::Url() const { return "http://" + Authority(options_.address, Port()) + options_.path; }

void HttpHost::Log(const std::string& line) {
  // A few lines a second: a flood of failing calls must not become a flood of log lines.
  const int64_t second = Now() / 1000000000;
  int64_t was = logSecond_.load(std::memory_order_relaxed);
  std::string out;
  if (second != was && logSecond_.compare_exchange_strong(was, second, std::memory_order_relaxed)) {
    logLines_.store(0, std::memory_order_relaxed);
    if (uint64_t dropped = logDropped_.exchange(0, std::memory_order_relaxed))
      out = std::to_string(dropped) + " more failed call" + (dropped == 1 ? "" : "s") + " not logged";
  }
  auto emit = [this](const std::string& text) {
    if (options_.log) {
      options_.log(text);
      return;
    }
    std::string full = "vtxwebservice: " + text + "\n";
    ssize_t w = vtx::sys::Write(STDERR_FILENO, full.data(), full.size());
    (void)w;
  };
  if (!out.empty()) emit(out);
  if (logLines_.fetch_add(1, std::memory_order_relaxed) >= kLogLinesPerSecond) {
    logDropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  emit(line);
}

bool HttpHost::Start(const HostOptions& options, std::string* error) {
  options_ = options;
  sockaddr_in6 a6{};
  sockaddr_in a4{};
  sockaddr* addr;
  socklen_t addrLength;
  int family;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_TURBO;
  if (inet_pton(AF_INET, options.address.c_str(), &a4.sin_addr) == 1) {
    a4.sin_family = family = AF_INET;
    a4.sin_port = htons(options.port);
    addr = reinterpret_cast<sockaddr*>(&a4);
    addrLength = sizeof a4;
  } else if (inet_pton(AF_INET6, options.address.c_str(), &a6.sin6_addr) == 1) {
    a6.sin6_family = family = AF_INET6;
    a6.sin6_port = htons(options.port);
    addr = reinterpret_cast<sockaddr*>(&a6);
    addrLength = sizeof a6;
    flags |= MHD_USE_IPv6;
  } else {
    if (error) *error = "not a numeric IP address: " + options.address;
    return false;
  }
  // The listening socket is ours, so that a port in use is refused with its reason. Address reuse
  // lets a restart bind while old connections linger; it never lets two listeners share a port.
  const std::string where = Authority(options.address, options.port);
  int fd = vtx::sys::Socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  if (fd < 0 || vtx::sys::Setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      (family == AF_INET6 && vtx::sys::Setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) ||
      vtx::sys::Bind(fd, addr, addrLength) != 0 || vtx::sys::Listen(fd, SOMAXCONN) != 0) {
    int e = errno;
    if (fd >= 0) vtx::sys::Close(fd);
    if (error)
      *error = "cannot listen on " + where + ": " +
               (e == EADDRINUSE ? std::string("the port is in use by another program") : std::strerror(e));
    return false;
  }
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  port_ = options.port;
  if (vtx::sys::Getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0)
    port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                    : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  {
    std::lock_guard<std::mutex> l(lock_);
    stopping_ = false;
  }
  // Every connection may buffer a whole request body and a call that waits holds a thread: the
  // connection limits bound that memory and those threads.
  MHD_Daemon* d = MHD_start_daemon(flags, port_, nullptr, nullptr, Handle, this, MHD_OPTION_LISTEN_SOCKET, fd,
                                   MHD_OPTION_CONNECTION_TIMEOUT,
                                   static_cast<unsigned>(options.idleTimeoutSeconds), MHD_OPTION_NOTIFY_COMPLETED,
                                   Completed, this, MHD_OPTION_NOTIFY_CONNECTION, Connection, this,
                                   MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
                                   MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
                                   MHD_OPTION_THREAD_POOL_SIZE, std::max(1u, options.threads), MHD_OPTION_END);
  if (!d) {
    // The library may have closed the socket it was given already.
    if (vtx::sys::Fcntl(fd, F_GETFD) != -1) vtx::sys::Close(fd);
    if (error) *error = "cannot serve on " + where;
    return false;
  }
  daemon_ = d;
  sweeper_ = std::thread([this] { Sweep(); });
  return true;
}

void HttpHost::Stop() {
  // Half-sent requests and idle connections end now; calls under way finish their answer, those run
  // apart too before the loops end.
  EndAll();
  wake_.notify_all();
  if (sweeper_.joinable()) sweeper_.join();
  {
    // Their connections rest until they end; the program bounds how long it waits for them.
    std::unique_lock<std::mutex> l(lock_);
    wake_.wait(l, [this] { return apart_ == 0; });
  }
  if (daemon_) MHD_stop_daemon(static_cast<MHD_Daemon*>(daemon_));
  daemon_ = nullptr;
  if (uint64_t dropped = logDropped_.exchange(0, std::memory_order_relaxed)) {
    logLines_.store(0, std::memory_order_relaxed);
    logSecond_.store(0, std::memory_order_relaxed);
    Log(std::to_string(dropped) + " more failed call" + (dropped == 1 ? "" : "s") + " not logged");
  }
}

}  // namespace vtx::soap
