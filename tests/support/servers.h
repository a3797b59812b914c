// Real servers for the tests: each runs as a child process on a free port of 127.0.0.1 and is
// stopped with the object. A missing server program fails the test.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/net.h"
#include "tests/support/wait.h"

extern char** environ;

namespace vtxtest {

class ServerProcess {
 public:
  ServerProcess() = default;
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  ~ServerProcess() { Stop(); }

  // Starts argv (its output into logPath) and waits until the port accepts; "" or the reason.
  std::string Start(const std::vector<std::string>& argv, int port, const std::string& logPath) {
    struct stat st;
    if (stat(argv[0].c_str(), &st) != 0) return argv[0] + " is not installed (tools/packages-test.txt)";
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
    bool ended = false;
    if (Eventually([&] {
          int status;
          ended = waitpid(pid_, &status, WNOHANG) == pid_;
          return ended || Accepts(port);
        }) &&
        !ended)
      return "";
    if (ended) {
      pid_ = -1;
      return argv[0] + " ended: " + ReadFile(log_);
    }
    Stop();
    return argv[0] + " did not listen on its port: " + ReadFile(log_);
  }

  bool Running() const { return pid_ > 0; }

  // Ends the server with SIGTERM (SIGKILL when that takes too long); its exit code, or -1 when it
  // did not exit by itself or ran no more.
  int Stop(std::chrono::milliseconds limit = std::chrono::seconds(2)) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    int code = -1;
    if (Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) {
      if (WIFEXITED(status)) code = WEXITSTATUS(status);
    } else {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return code;
  }

 private:
  pid_t pid_ = -1;
  std::string log_;
};

}  // namespace vtxtest
