#include "manager/instance.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "engine/notify/pipemessage.h"
#include "manager/managerdefs.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/pipes.h"
#include "platform/sync.h"

namespace vtx::manager {

namespace {

// A private folder: made when missing, ours, and closed to everyone else.
bool PrivateFolder(const std::string& path) {
  if (vtx::sys::Mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (vtx::sys::Lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != vtx::sys::Geteuid()) return false;
  return (st.st_mode & 077) == 0 || vtx::sys::Chmod(path.c_str(), 0700) == 0;
}

}  // namespace

std::string ManagerFolder() {
  std::string folder;
  const char* xdg = vtx::sys::Getenv("XDG_RUNTIME_DIR");
  if (xdg && xdg[0] == '/') {
    folder = JoinPath(xdg, "vantrex");
  } else {
    std::string runtime = vtx::sync::RuntimeDir();
    MakeDirectories(runtime.c_str());
    folder = JoinPath(runtime, "user-" + std::to_string(vtx::sys::Geteuid()));
  }
  return PrivateFolder(folder) ? folder : std::string();
}

std::string ManagerSocketPath() {
  std::string folder = ManagerFolder();
  return folder.empty() ? folder : JoinPath(folder, kManagerClass);
}

CreationLock::CreationLock(DWORD timeoutMs) {
  std::string folder = ManagerFolder();
  if (folder.empty()) return;
  ScopedFd fd = OpenFile(JoinPath(folder, kCreationLockName).c_str(), O_RDWR | O_CREAT, 0600);
  if (fd && SUCCEEDED(LockWithin(fd.Get(), timeoutMs))) fd_ = std::move(fd);
}

OtherManager FindOtherManager() {
  OtherManager other;
  other.window = FindWindowA(kManagerClass, nullptr);
  if (!other.window) {
    std::string socket = ManagerSocketPath();
    if (!socket.empty() && vtx::pipes::Exists(socket.c_str())) other.socket = socket;
  }
  return other;
}

bool IsAlive(const OtherManager& other) {
  if (other.window) return IsWindow(other.window) != FALSE;
  return !other.socket.empty() && vtx::pipes::Exists(other.socket.c_str());
}

bool SendToOther(const OtherManager& other, UINT msg, DWORD* reply) {
  DWORD ignored;
  if (!reply) reply = &ignored;
  *reply = 0;
  if (other.window) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(other.window, msg, 0, 0, SMTO_NORMAL, kRequestTimeoutMs, &result)) return false;
    *reply = static_cast<DWORD>(result);
    return true;
  }
  if (other.socket.empty()) return false;
  CPipeMessageClient client;
  return SUCCEEDED(client.SendMessageTimeoutA(other.socket.c_str(), msg, 0, 0, kRequestTimeoutMs, reply));
}

}  // namespace vtx::manager
