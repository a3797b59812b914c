// Code that a test runs in a process of its own.
//
// A child helper is a function of the test program that runs instead of its tests when the program
// is started as "<program> --child <name> [arguments]" (main.cpp); its return value is the exit
// code. It is no test: it never shows in the list of tests and cannot be skipped.
#pragma once
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/wait.h"

extern char** environ;

namespace vtxtest {

using ChildMain = int (*)(const std::vector<std::string>& args);
bool RegisterChild(const char* name, ChildMain main);

#define VTX_CHILD(name)                                                                                   \
  static int VtxChild_##name(const std::vector<std::string>& args);                                      \
  [[maybe_unused]] static const bool kVtxChildRegistered_##name =                                         \
      ::vtxtest::RegisterChild(#name, VtxChild_##name);                                                   \
  static int VtxChild_##name([[maybe_unused]] const std::vector<std::string>& args)

// Waits for a child process and gives its wait status; false when it did not end within `limit`
// (it is then killed).
inline bool WaitStatus(pid_t pid, int* status, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  if (Eventually([&] { return waitpid(pid, status, WNOHANG) == pid; }, limit)) return true;
  kill(pid, SIGKILL);
  waitpid(pid, status, 0);
  return false;
}

// Waits for a child process: its exit code, or -1 when it was ended by a signal, or did not end
// within `limit` (it is then killed).
inline int WaitExit(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  int status = 0;
  if (!WaitStatus(pid, &status, limit)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// This test program started as the child helper `name`: its stdin on a pipe of ours, its stdout and
// stderr together on another.
class Child {
 public:
  Child(const std::string& name, const std::vector<std::string>& args = {},
        const std::vector<std::pair<std::string, std::string>>& env = {}) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    std::vector<std::string> argv = {"/proc/self/exe", "--child", name};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp;
    for (char** e = environ; *e; ++e) {
      bool replaced = false;
      for (const auto& [k, v] : env) replaced |= std::strncmp(*e, (k + "=").c_str(), k.size() + 1) == 0;
      if (!replaced) envp.emplace_back(*e);
    }
    for (const auto& [k, v] : env) envp.push_back(k + "=" + v);
    std::vector<char*> a, e;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : envp) e.push_back(s.data());
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, out[1], 2);
    if (posix_spawn(&pid_, a[0], &fa, nullptr, a.data(), e.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
  }
  ~Child() {
    CloseStdin();
    if (fromChild_ >= 0) close(fromChild_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }

  // True once the child's output has carried `marker`; false when it ends or `limit` passes first.
  bool WaitFor(const std::string& marker, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (output_.find(marker) == std::string::npos)
      if (!ReadSome(end)) return false;
    return true;
  }
  // What the child wrote to its stdout and stderr so far.
  const std::string& Output() const { return output_; }
  bool Send(const std::string& bytes) {
    return toChild_ >= 0 && write(toChild_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  void CloseStdin() {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
  }
  // Reads the child's output to its end, then gives its exit code: -1 when the child was killed, or did
  // not end within `limit` (it is then killed).
  int Wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    if (pid_ <= 0) return -1;
    CloseStdin();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (ReadSome(end)) {
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    int code = WaitExit(pid_, std::max(left, std::chrono::milliseconds(0)));
    pid_ = -1;
    return code;
  }

 private:
  // Appends what the child writes next; false at the end of its output or at `end`.
  bool ReadSome(std::chrono::steady_clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fromChild_, POLLIN, 0};
    if (fromChild_ < 0 || left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
    char buf[4096];
    ssize_t n = read(fromChild_, buf, sizeof buf);
    if (n <= 0) return false;
    output_.append(buf, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int toChild_ = -1, fromChild_ = -1;
  std::string output_;
};

// Runs `body` in a forked copy of this process and gives its exit code (-1 when it did not exit by
// itself within `limit`).
inline int InChild(const std::function<int()>& body, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) _exit(body());
  return WaitExit(pid, limit);
}

// In a child: runs on as an account without rights to the tests' files when this process is root
// (file modes do not bind root). False when root could not be given up.
inline bool DropRoot() {
  if (geteuid() != 0) return true;
  const gid_t nobodyGroup = 65534;
  const uid_t nobody = 65534;
  return setgroups(1, &nobodyGroup) == 0 && setgid(nobodyGroup) == 0 && setuid(nobody) == 0 && geteuid() == nobody;
}

}  // namespace vtxtest
