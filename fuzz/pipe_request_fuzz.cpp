// The pipe server's request reader on arbitrary bytes: whatever arrives, it reads within what is
// there, never allocates beyond the cap, and frees what it took.
#include <cstring>

#include "engine/notify/pipemessage.h"
#include "platform/errors.h"

namespace {
struct Bytes {
  const uint8_t* data;
  size_t size;
};
DWORD Read(void* source, void* buffer, size_t n) {
  auto* b = static_cast<Bytes*>(source);
  if (b->size < n) return ERROR_BROKEN_PIPE;
  std::memcpy(buffer, b->data, n);
  b->data += n;
  b->size -= n;
  return ERROR_SUCCESS;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes source{data, size};
  PipeRequest request;
  HRESULT hr = ReadPipeRequest(Read, &source, request);
  if (SUCCEEDED(hr) && request.hasData) {
    if (request.cds.cbData > kPipeMaxData) __builtin_trap();
    if (request.cds.cbData && !request.cds.lpData) __builtin_trap();
    // Every byte of the copy is readable (the sanitizer checks the reads).
    uint8_t sum = 0;
    for (DWORD i = 0; i < request.cds.cbData; ++i) sum = static_cast<uint8_t>(sum + static_cast<const uint8_t*>(request.cds.lpData)[i]);
    asm volatile("" : : "r"(sum));
  }
  FreePipeRequest(request);
  return 0;
}
