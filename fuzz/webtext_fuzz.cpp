// Texts that web clients and files hand the web library's members: host names of addresses,
// amounts in free text, and the first block of a file that may be a MacBinary one.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/foundation/numbertext.h"
#include "engine/foundation/storage.h"
#include "engine/foundation/urlhost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* t = text.c_str();  // cut at the first zero, as the callers' texts are
  for (DWORD room : {1u, 8u, 256u}) {
    char host[256];
    std::memset(host, 'x', sizeof host);
    if (GetUrlHostName(t, host, room) != S_OK) __builtin_trap();
    if (std::strlen(host) >= room) __builtin_trap();
  }
  uint32_t used = 0;
  CurrencyStringToDouble(t, &used);
  if (used > std::strlen(t)) __builtin_trap();
  UnitStringToDouble(t, 16, &used);
  if (used > std::strlen(t)) __builtin_trap();
  if (size >= 128) {
    uint64_t offset = 0, length = 0;
    uint32_t kind = DetectMacBinary(data, size, &offset, &length);
    if (offset + length > size || (kind == 0 && (offset != 0 || length != size))) __builtin_trap();
  }
  return 0;
}
