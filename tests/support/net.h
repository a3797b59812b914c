// Free ports of 127.0.0.1 for the tests' servers, whether a server listens yet, and an HTTP/1.1
// client that keeps its connection.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>

namespace vtxtest {

// Test programs run in parallel and each starts its server a while after choosing its port, so a
// port is also claimed by a lock file that the other test programs skip while this one lives.
inline bool ClaimPort(uint16_t port) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/vtxtest-ports";
  mkdir(dir.c_str(), 01777);
  int fd = open((dir + "/" + std::to_string(port)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return true;  // no claims here: the port is taken as it is
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  // The oldest claims go once many are held; their servers have long ended.
  static std::deque<int> held;
  held.push_back(fd);
  if (held.size() > 256) {
    close(held.front());
    held.pop_front();
  }
  return true;
}

// A port that nothing listens on now and no other test program has claimed, or 0 when none could be
// found.
inline uint16_t FreePort() {
  for (int attempt = 0; attempt < 64; ++attempt) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
    if (s >= 0) close(s);
    if (port == 0) return 0;
    if (ClaimPort(port)) return port;
  }
  return 0;
}

// True when something accepts connections on the port of 127.0.0.1.
inline bool Accepts(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (s >= 0) close(s);
  return ok;
}

// True once a socket listens at the path: its entry in /proc/net/unix carries the accepting flag. (The
// socket's file appears at bind, before the listen.)
inline bool UnixSocketListens(const std::string& path) {
  std::ifstream in("/proc/net/unix");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string num, refs, protocol, flags, type, state, inode, name;
    if (fields >> num >> refs >> protocol >> flags >> type >> state >> inode >> name && name == path &&
        flags == "00010000")
      return true;
  }
  return false;
}

// POSTs requests one after the other over one connection to 127.0.0.1, from another loopback
// address when `from` names one (a server that limits connections per address counts it apart).
class HttpConnection {
 public:
  explicit HttpConnection(int port, const char* from = nullptr) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (from) {
      sockaddr_in self{};
      self.sin_family = AF_INET;
      inet_pton(AF_INET, from, &self.sin_addr);
      if (bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
        close(fd_);
        fd_ = -1;
        return;
      }
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~HttpConnection() {
    if (fd_ >= 0) close(fd_);
  }
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // The status of the answer and its body; status 0 when the connection failed.
  int Post(const std::string& path, const std::string& body, std::string* answer = nullptr,
           const std::string& type = "text/xml; charset=utf-8") {
    if (!SendRaw("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
                 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body))
      return 0;
    return Answer(answer);
  }
  int Get(const std::string& path, std::string* answer = nullptr) {
    if (!SendRaw("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) return 0;
    return Answer(answer);
  }
  // Sends bytes as they stand (a request, or a part of one); false when the connection failed.
  bool SendRaw(const std::string& bytes) {
    if (fd_ < 0) return false;
    for (size_t sent = 0; sent < bytes.size();) {
      ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  // Reads one answer: its status and body.
  int Answer(std::string* answer) {
    size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!Receive()) return 0;
    std::string head = buffer_.substr(0, end);
    size_t length = 0;
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
      std::string line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
      for (char& c : line) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (line.rfind("content-length:", 0) == 0) length = std::strtoul(line.c_str() + 15, nullptr, 10);
    }
    while (buffer_.size() < end + 4 + length)
      if (!Receive()) return 0;
    if (answer) *answer = buffer_.substr(end + 4, length);
    buffer_.erase(0, end + 4 + length);
    return head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
  }

  bool Receive() {
    char chunk[8192];
    ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }

  int fd_ = -1;
  std::string buffer_;
};

}  // namespace vtxtest
