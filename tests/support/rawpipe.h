// Raw requests of the pipe protocol, sent with socat (a client nobody here wrote).
#pragma once
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/net.h"
#include "tests/support/wait.h"

namespace vtxtest {

// A little-endian 32-bit word as it travels.
inline std::string U32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}
// A plain message: msg, wParam, lParam.
inline std::string Request(uint32_t msg, uint32_t wParam = 0) { return U32(msg) + U32(wParam) + U32(0); }
// A WM_COPYDATA request whose stated size may differ from the data that follow.
inline std::string CopyData(uint32_t dwData, const std::string& data, uint32_t cbData) {
  return U32(74) + U32(0) + U32(0) + U32(dwData) + U32(cbData) + U32(0) + data;
}
inline std::string CopyData(uint32_t dwData, const std::string& data) {
  return CopyData(dwData, data, static_cast<uint32_t>(data.size()));
}

// Sends `request` to the socket with socat and returns what came back; `prefix` runs socat under
// another command (e.g. setpriv). The files of the exchange go to `folder`.
inline std::string Socat(const std::string& socket, const std::string& request, const std::string& folder,
                         const std::string& prefix = "", int seconds = 10) {
  static std::atomic<int> n{0};
  std::string tag = std::to_string(n++);
  std::string in = folder + "/socat-request" + tag, out = folder + "/socat-reply" + tag;
  std::ofstream(in, std::ios::binary) << request;
  std::string limit = std::to_string(seconds);
  std::string cmd = prefix + "socat -t" + limit + " -T" + limit + " - UNIX-CONNECT:'" + socket + "' < '" + in + "' > '" +
                    out + "'";
  if (std::system(cmd.c_str()) != 0) return "<socat failed>";
  return ReadFile(out);
}

// A peer in place of one of our pipe servers, made of socat: it takes one connection, writes the
// first `size` bytes of the request to a file and answers with the 32-bit `reply`.
class SocatPeer {
 public:
  explicit SocatPeer(std::string folder) : folder_(std::move(folder)) {}
  ~SocatPeer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      WaitExit(pid_, std::chrono::seconds(5));
    }
  }
  SocatPeer(const SocatPeer&) = delete;
  SocatPeer& operator=(const SocatPeer&) = delete;

  // "" once the socket listens, else the reason.
  std::string Listen(const std::string& socketPath, size_t size, uint32_t reply) {
    if (std::system("command -v socat >/dev/null 2>&1") != 0) return "socat is not installed (tools/packages.txt)";
    std::ofstream(folder_ + "/peer-reply", std::ios::binary) << U32(reply);
    std::string script = "head -c " + std::to_string(size) + " > '" + folder_ + "/peer-got'; cat '" + folder_ +
                         "/peer-reply'";
    pid_ = fork();
    if (pid_ == 0) {
      execlp("socat", "socat", ("UNIX-LISTEN:" + socketPath).c_str(), ("SYSTEM:" + script).c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    if (!Eventually([&] { return UnixSocketListens(socketPath); })) return "socat did not listen";
    return "";
  }
  // Whether the peer has taken its connection and ended.
  bool Done() {
    if (pid_ <= 0) return true;
    int status;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
  }
  // What arrived (after the peer ended, within 10 s).
  std::string Received() {
    if (pid_ > 0) WaitExit(pid_, std::chrono::seconds(10));
    pid_ = -1;
    return ReadFile(folder_ + "/peer-got");
  }

 private:
  std::string folder_;
  pid_t pid_ = -1;
};

}  // namespace vtxtest
