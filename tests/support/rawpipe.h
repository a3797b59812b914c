// Raw requests of the pipe protocol, sent with socat (a client nobody here wrote).
#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

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

// A peer in place of one of our pipe servers, made of socat: for each connection it writes the
// first `size` bytes of the request to a file of its own, waits `delaySeconds` and answers with
// the 32-bit `reply`. Connections that send nothing leave no file. It holds the socket's lock
// file as our servers do, so that the pipe counts as there.
class SocatPeer {
 public:
  explicit SocatPeer(std::string folder) : folder_(std::move(folder) + "/peer") {}
  ~SocatPeer() { Stop(); }
  SocatPeer(const SocatPeer&) = delete;
  SocatPeer& operator=(const SocatPeer&) = delete;

  // "" once the socket listens, else the reason.
  std::string Listen(const std::string& socketPath, size_t size, uint32_t reply, int delaySeconds = 0) {
    if (std::system("command -v socat >/dev/null 2>&1") != 0) return "socat is not installed (tools/packages.txt)";
    if (mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) return "cannot make " + folder_;
    std::ofstream(folder_ + "/reply", std::ios::binary) << U32(reply);
    std::string f = "'" + folder_ + "'";
    std::string script = "head -c " + std::to_string(size) + " > " + f + "/part.$$; if [ -s " + f + "/part.$$ ]; then mv " +
                         f + "/part.$$ " + f + "/got.$$; else rm -f " + f + "/part.$$; fi; sleep " +
                         std::to_string(delaySeconds) + "; cat " + f + "/reply";
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);  // its own group, so that Stop ends the connections' scripts too
      execlp("socat", "socat", ("UNIX-LISTEN:" + socketPath + ",fork").c_str(), ("SYSTEM:" + script).c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    if (!Eventually([&] { return UnixSocketListens(socketPath); })) return "socat did not listen";
    lock_ = open((socketPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_ < 0 || flock(lock_, LOCK_EX | LOCK_NB) != 0) return "cannot hold " + socketPath + ".lock";
    return "";
  }
  void Stop() {
    if (lock_ >= 0) close(lock_);
    lock_ = -1;
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    if (WaitExit(pid_, std::chrono::seconds(5)) == -1) {
      kill(-pid_, SIGKILL);
      WaitExit(pid_, std::chrono::seconds(5));
    }
    kill(-pid_, SIGKILL);  // a script still sleeping or waiting for its bytes
    pid_ = -1;
  }
  // The requests received so far.
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    DIR* d = opendir(folder_.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, "got.", 4) == 0) out.push_back(ReadFile(folder_ + "/" + e->d_name));
    closedir(d);
    return out;
  }
  // The first request, waiting up to 10 s for it; "" when none came.
  std::string Received() const {
    std::vector<std::string> got;
    Eventually([&] { return !(got = Requests()).empty(); });
    return got.empty() ? "" : got.front();
  }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int lock_ = -1;
};

}  // namespace vtxtest
