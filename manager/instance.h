// One manager per user: the folder of the user's manager socket, the creation lock around probe
// and bind, and the link to another manager.
#pragma once
#include <string>

#include "platform/files.h"
#include "platform/messages.h"

namespace vtx::manager {

// $XDG_RUNTIME_DIR/vantrex, else $VANTREX_RUNTIME_DIR/user-<uid> (default runtime folder when
// unset), created with mode 0700; empty when it cannot be made or belongs to another user.
std::string ManagerFolder();
// The manager socket in that folder (empty with it).
std::string ManagerSocketPath();

// The creation lock: an exclusive lock on a file in the manager folder, waited for with a limit.
class CreationLock {
 public:
  explicit CreationLock(DWORD timeoutMs = 10000);
  CreationLock(const CreationLock&) = delete;
  CreationLock& operator=(const CreationLock&) = delete;
  bool Held() const { return static_cast<bool>(fd_); }

 private:
  ScopedFd fd_;
};

// Another manager: a window of this process, or the manager that serves the user's socket.
struct OtherManager {
  HWND window = nullptr;
  std::string socket;
  bool Valid() const { return window || !socket.empty(); }
};

// The manager there is now (this process's window first), or an invalid link.
OtherManager FindOtherManager();
// False once the other manager has ended.
bool IsAlive(const OtherManager& other);
// Sends a request (wParam and lParam 0) with the request time limit; false when it did not arrive.
bool SendToOther(const OtherManager& other, UINT msg, DWORD* reply);

}  // namespace vtx::manager
