// The service's pipe payloads: the account name of a VXSVC_ISSERVICEACCOUNT request, read only
// within the data it came with, and looked up as the service looks it up.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/notify/servicepipe.h"
#include "platform/service.h"
#include "serviceframe/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1u << 16) return 0;
  // A copy of exactly the bytes that came, so that a read past them is seen.
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  char* copy = static_cast<char*>(std::malloc(bytes.size() ? bytes.size() : 1));
  if (!copy) return 0;
  std::memcpy(copy, bytes.data(), bytes.size());
  COPYDATASTRUCT cds{};
  cds.dwData = data[0] % 2 ? VXSVC_ISSERVICEACCOUNT : data[0];
  cds.cbData = static_cast<DWORD>(bytes.size());
  cds.lpData = bytes.empty() ? nullptr : copy;
  const char* name = vtx::svc::ServiceAccountRequestName(&cds);
  if (name) {
    if (cds.dwData != VXSVC_ISSERVICEACCOUNT || !*name || std::strlen(name) >= cds.cbData) std::abort();
    uid_t uid;
    vtx::service::AccountUid(name, &uid);
  }
  std::free(copy);
  return 0;
}
