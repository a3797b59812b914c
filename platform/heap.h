// Global and local heap blocks that remember the size they were asked for.
#pragma once
#include <new>
#include <utility>

#include "platform/errors.h"
#include "platform/types.h"

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GPTR = GMEM_ZEROINIT;
constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_ZEROINIT;

// Null when the heap refuses; never throws. Free returns null on success.
HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
HGLOBAL GlobalFree(HGLOBAL block);
size_t GlobalSize(HGLOBAL block);
HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL block);
size_t LocalSize(HLOCAL block);

namespace vtx::heap {
// Tests: let the next `n` allocations succeed, then refuse every one until reset with -1.
void FailAfter(long n);
// Whether the next allocation is to be refused (FailAfter counts it as one).
bool Refuses();

// An object on the free store, or null (last error 0x8007000E) when the heap refuses: the one way
// the product makes an object whose lack of memory it reports rather than throws.
template <class T, class... Args>
T* New(Args&&... args) {
  T* object = Refuses() ? nullptr : new (std::nothrow) T(std::forward<Args>(args)...);
  if (!object) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return object;
}
}

// Moveable blocks are fixed ones here: locking gives the block itself.
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_DDESHARE = 0x2000;
LPVOID GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
