// A syslog listener of the tests' own: a datagram socket bound where $VANTREX_SYSLOG_SOCKET points.
#pragma once
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace vtxtest {

class SyslogListener {
 public:
  explicit SyslogListener(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~SyslogListener() { close(fd_); }
  SyslogListener(const SyslogListener&) = delete;
  SyslogListener& operator=(const SyslogListener&) = delete;
  bool bound() const { return bound_; }
  // The next entry, or "<nothing>" when none arrives within the time.
  std::string Receive(int ms = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return "<nothing>";
    char buf[9000];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "<nothing>";
  }
  // Every entry that arrives until none has come for `waitMs`.
  std::vector<std::string> Drain(int waitMs = 300) {
    std::vector<std::string> got;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, waitMs) != 1) return got;
      char buf[9000];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n > 0) got.emplace_back(buf, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  bool bound_ = false;
};

}  // namespace vtxtest
