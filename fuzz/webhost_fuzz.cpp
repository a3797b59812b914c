// The web host in front of the SOAP reader: arbitrary bytes as a client sends them on one
// connection (request heads, bodies, pipelined requests), answered by a host on loopback. Every
// answer is HTTP, and the host goes on serving.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "webservice/httphost.h"

using namespace vtx::soap;

namespace {

const Service& TheService() {
  static const Service service = [] {
    Service s{"Vantrex", "urn:fuzz/", "A service.", {}};
    s.operations.push_back(Operation{"Op", "", {{"a", Type::String}, {"b", Type::Double}}, Type::String,
                                     [](const std::vector<Value>& v) {
                                       return Value::Str(v[0].text ? *v[0].text : std::string("\x01\xC3"));
                                     }});
    return s;
  }();
  return service;
}

uint16_t HostPort() {
  static HttpHost* host = [] {
    auto* h = new HttpHost(TheService());
    HostOptions o;
    o.port = 0;
    o.path = "/Vantrex";
    o.idleTimeoutSeconds = 2;
    o.log = [](const std::string&) {};
    std::string error;
    if (!h->Start(o, &error)) __builtin_trap();
    return h;
  }();
  return host->Port();
}

// Everything the host sends until it closes the connection, or until it has been quiet for 3 s.
std::string Exchange(const uint8_t* data, size_t size) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(HostPort());
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string got;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    for (size_t sent = 0; sent < size;) {
      ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    char buf[65536];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 3000) == 1) {
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string answer = Exchange(data, size);
  if (!answer.empty() && answer.compare(0, 7, "HTTP/1.") != 0) __builtin_trap();
  return 0;
}
