#include "engine/foundation/regupgrade.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "engine/foundation/regvalue.h"

namespace {

const char kProductKey[] = "SOFTWARE\\Hulvane\\Vantrex";
const char kVersionName[] = "4.0";
const char kAppKey[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0";
const char kMutexName[] = "HulvaneVantrex_UpgradeRegistryMutex";

// The named mutex, taken the way the platform's named mutexes are (an flock on
// $VANTREX_RUNTIME_DIR/locks/NAME), so that it excludes every program that takes it by name.
class NamedLock {
 public:
  explicit NamedLock(const char* name) {
    const char* env = std::getenv("VANTREX_RUNTIME_DIR");
    std::string dir = env && *env ? env : "/run/vantrex";
    mkdir(dir.c_str(), 0750);
    dir += "/locks";
    mkdir(dir.c_str(), 0750);
    fd_ = open((dir + "/" + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    if (fd_ < 0) return;
    int r;
    while ((r = flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~NamedLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

void UpgradeRegistryAtStartup() {
  NamedLock lock(kMutexName);
  if (!lock.held()) return;
  if (RegistryKeyExists(HKEY_LOCAL_MACHINE, kAppKey)) return;
  // Look again inside the write transaction, so that even a program that could not take the mutex
  // never copies over a key that another has just made.
  vtx::RegTransaction tx;
  if (tx.Status() != ERROR_SUCCESS) return;
  if (RegistryKeyExists(HKEY_LOCAL_MACHINE, kAppKey)) return;
  if (UpgradeAppRegistryKey(HKEY_LOCAL_MACHINE, kProductKey, kVersionName, nullptr, nullptr, nullptr,
                            UPGRADE_KEEP_PREVIOUS))
    tx.Commit();
}
