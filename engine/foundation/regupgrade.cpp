#include "engine/foundation/regupgrade.h"

#include "engine/foundation/regvalue.h"
#include "engine/foundation/servercommands.h"
#include "platform/sync.h"

namespace {

const char kProductKey[] = VTX_PRODUCT_KEY;
const char kVersionName[] = VTX_APP_VERSION;
const char kMutexName[] = "HulvaneVantrex_UpgradeRegistryMutex";

}  // namespace

namespace {
// Holds the named mutex for the scope; an abandoned mutex is ours as well.
class MutexScope {
 public:
  explicit MutexScope(const char* name) : m_mutex(CreateMutexA(nullptr, FALSE, name)) {
    if (m_mutex && WaitForSingleObject(m_mutex, INFINITE) == WAIT_FAILED) {
      CloseHandle(m_mutex);
      m_mutex = nullptr;
    }
  }
  ~MutexScope() {
    if (m_mutex) {
      ReleaseMutex(m_mutex);
      CloseHandle(m_mutex);
    }
  }
  MutexScope(const MutexScope&) = delete;
  MutexScope& operator=(const MutexScope&) = delete;

 private:
  HANDLE m_mutex;
};
}  // namespace

void UpgradeRegistryAtStartup() {
  MutexScope lock(kMutexName);
  if (RegistryKeyExists(HKEY_LOCAL_MACHINE, g_szAppKey)) return;
  // Look again inside the write transaction, so that even a program that could not take the mutex
  // never copies over a key that another has just made.
  vtx::RegTransaction tx;
  if (tx.Status() != ERROR_SUCCESS) return;
  if (RegistryKeyExists(HKEY_LOCAL_MACHINE, g_szAppKey)) return;
  if (UpgradeAppRegistryKey(HKEY_LOCAL_MACHINE, kProductKey, kVersionName, nullptr, nullptr, nullptr,
                            UPGRADE_KEEP_PREVIOUS))
    tx.Commit();
}
