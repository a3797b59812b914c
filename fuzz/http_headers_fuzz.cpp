// Header lines of an HTTP answer as the internet layer takes them: the status, the challenges of
// the server and the proxy, every header kept for the queries, and the queries themselves.
#include <cstddef>
#include <cstdint>

#include "platform/inet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1u << 20) return 0;
  vtx::inet::ParseAnswerHeaders(reinterpret_cast<const char*>(data), size);
  return 0;
}
