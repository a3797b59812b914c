// Free ports of 127.0.0.1 for the tests' servers, and whether a server listens yet.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace vtxtest {

// A port that nothing listens on now, or 0 when none could be found.
inline uint16_t FreePort() {
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
  return port;
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

}  // namespace vtxtest
