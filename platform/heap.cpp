#include "platform/heap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"

namespace {
// The header keeps the requested size and a tag that tells the two heaps apart; it is as large as
// max_align_t so that the caller's block stays suitably aligned.
struct alignas(std::max_align_t) Header {
  size_t size;
  uint32_t tag;
};
constexpr uint32_t kGlobalTag = 0x474C4F42;  // "GLOB"
constexpr uint32_t kLocalTag = 0x4C4F4341;   // "LOCA"

std::atomic<long> g_failAfter{-1};

bool ShouldFail() {
  long n = g_failAfter.load(std::memory_order_relaxed);
  if (n < 0) return false;
  while (n > 0) {
    if (g_failAfter.compare_exchange_weak(n, n - 1)) return false;
    if (n < 0) return false;
  }
  return true;
}

void* Alloc(uint32_t tag, UINT flags, size_t bytes) {
  if (bytes > (static_cast<size_t>(1) << 40) || ShouldFail()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(Header) + bytes) : std::malloc(sizeof(Header) + bytes);
  if (!raw) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* h = static_cast<Header*>(raw);
  h->size = bytes;
  h->tag = tag;
  return h + 1;
}

Header* HeaderOf(void* block, uint32_t tag) {
  if (!block) return nullptr;
  Header* h = static_cast<Header*>(block) - 1;
  return h->tag == tag ? h : nullptr;
}

void* Free(void* block, uint32_t tag) {
  if (!block) return nullptr;
  Header* h = HeaderOf(block, tag);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return block;
  }
  h->tag = 0;
  std::free(h);
  return nullptr;
}
}  // namespace

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) { return Alloc(kGlobalTag, flags, bytes); }
HGLOBAL GlobalFree(HGLOBAL block) { return Free(block, kGlobalTag); }
size_t GlobalSize(HGLOBAL block) {
  Header* h = HeaderOf(block, kGlobalTag);
  return h ? h->size : 0;
}
HLOCAL LocalAlloc(UINT flags, size_t bytes) { return Alloc(kLocalTag, flags, bytes); }
HLOCAL LocalFree(HLOCAL block) { return Free(block, kLocalTag); }
size_t LocalSize(HLOCAL block) {
  Header* h = HeaderOf(block, kLocalTag);
  return h ? h->size : 0;
}

namespace vtx::heap {
void FailAfter(long n) { g_failAfter.store(n); }
bool Refuses() { return ShouldFail(); }
}

LPVOID GlobalLock(HGLOBAL block) {
  if (!HeaderOf(block, kGlobalTag)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return block;
}

BOOL GlobalUnlock(HGLOBAL block) {
  if (!HeaderOf(block, kGlobalTag)) SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;  // no lock count is kept: the block is unlocked
}
