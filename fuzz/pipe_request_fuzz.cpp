// The pipe server's request reader on arbitrary bytes: whatever arrives, it reads within what is
// there, never allocates beyond the cap, and frees what it took.
#include <cstring>

#include "engine/notify/pipemessage.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PipeRequest request;
  HRESULT hr = ReadPipeRequest(data, size, request);
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
