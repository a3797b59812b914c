// A private X display for a test: an Xvfb of its own on the first free display number, which the
// test can take away under the programs that use it.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/child.h"

extern char** environ;

namespace vtxtest {

class PrivateDisplay {
 public:
  PrivateDisplay() {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Xvfb writes the number it took to descriptor 3.
    posix_spawn_file_actions_adddup2(&actions, p[1], 3);
    const char* argv[] = {"Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp", nullptr};
    if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(p[1]);
    std::string number;
    pollfd waiting{p[0], POLLIN, 0};
    char c;
    while (pid_ > 0 && poll(&waiting, 1, 10000) == 1 && read(p[0], &c, 1) == 1 && c != '\n') number += c;
    close(p[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  ~PrivateDisplay() { Kill(); }
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  // The value for DISPLAY; empty when the server did not start.
  const std::string& Name() const { return name_; }
  // The display goes away at once, as when the X server dies.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status;
    WaitStatus(pid_, &status);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

}  // namespace vtxtest
