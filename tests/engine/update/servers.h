// Real servers for the connection tests: each runs as a child process on a free port of
// 127.0.0.1 and is stopped with the object. A missing server program fails the test.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/net.h"

extern char** environ;

namespace vtxtest {

inline bool Accepts(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

class ServerProcess {
 public:
  ServerProcess() = default;
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  ~ServerProcess() { Stop(); }

  // Starts argv (its output into logPath) and waits until the port accepts; "" or the reason.
  std::string Start(const std::vector<std::string>& argv, int port, const std::string& logPath) {
    struct stat st;
    if (stat(argv[0].c_str(), &st) != 0) return argv[0] + " is not installed (tools/packages.txt)";
    log_ = logPath;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int rc = posix_spawn(&pid_, argv[0].c_str(), &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
      pid_ = -1;
      return "cannot start " + argv[0];
    }
    for (int i = 0; i < 400; ++i) {
      if (Accepts(port)) return "";
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return argv[0] + " ended: " + ReadAll(log_);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    Stop();
    return argv[0] + " did not listen on its port: " + ReadAll(log_);
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  std::string log_;
};

inline std::string SourceDir() {
  const char* d = std::getenv("VANTREX_TEST_SOURCE_DIR");
  return d ? d : ".";
}

}  // namespace vtxtest
