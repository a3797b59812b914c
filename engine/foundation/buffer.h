// Growable array on the global heap; the count is also the write position.
#pragma once
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "platform/errors.h"
#include "platform/heap.h"

template <class T>
class CBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  CBuffer(uint32_t initialCapacity, uint32_t growthStep) : m_growth(growthStep) {
    m_data = static_cast<T*>(GlobalAlloc(0, static_cast<size_t>(initialCapacity) * sizeof(T)));
    m_capacity = m_data ? initialCapacity : 0;
  }
  ~CBuffer() {
    if (m_data) GlobalFree(m_data);
  }
  CBuffer(const CBuffer&) = delete;
  CBuffer& operator=(const CBuffer&) = delete;

  // Appends n elements; grows to capacity + n + growth step when they do not fit, and at least by
  // half the capacity, so that a long run of small appends copies each element a few times only.
  bool Add(const T* data, uint32_t n) {
    if (static_cast<uint64_t>(m_count) + n > m_capacity) {
      if (!Grow(static_cast<uint64_t>(m_capacity) + n + m_growth, static_cast<uint64_t>(m_count) + n)) return false;
    }
    if (n) std::memmove(m_data + m_count, data, static_cast<size_t>(n) * sizeof(T));
    m_count += n;
    return true;
  }
  bool Add(const T& element) {
    if (m_count >= m_capacity) {
      if (!Grow(static_cast<uint64_t>(m_capacity) + (m_growth ? m_growth : 1), static_cast<uint64_t>(m_count) + 1))
        return false;
    }
    m_data[m_count++] = element;
    return true;
  }

  // Moves the elements into a block of the new capacity; a smaller capacity keeps what fits.
  bool Realloc(uint32_t newCapacity) {
    T* block = static_cast<T*>(GlobalAlloc(0, static_cast<size_t>(newCapacity) * sizeof(T)));
    if (!block) return false;
    uint32_t keep = m_capacity < newCapacity ? m_capacity : newCapacity;
    if (m_data && keep) std::memcpy(block, m_data, static_cast<size_t>(keep) * sizeof(T));
    if (m_data) GlobalFree(m_data);
    m_data = block;
    m_capacity = newCapacity;
    if (m_count > m_capacity) m_count = m_capacity;
    return true;
  }

  // Sets the write position. Origin 0 start, 1 current, 2 end (capacity - 1). Win32 codes.
  DWORD Seek(int32_t offset, uint32_t origin) {
    int64_t base;
    switch (origin) {
      case 0: base = 0; break;
      case 1: base = m_count; break;
      case 2: base = static_cast<int64_t>(m_capacity) - 1; break;
      default: return ERROR_INVALID_PARAMETER;
    }
    int64_t pos = base + offset;
    if (pos < 0) return ERROR_NEGATIVE_SEEK;
    if (pos >= m_capacity) return ERROR_HANDLE_EOF;
    m_count = static_cast<uint32_t>(pos);
    return ERROR_SUCCESS;
  }

  uint32_t GetCount() const { return m_count; }
  uint32_t GetCapacity() const { return m_capacity; }
  uint32_t GetGrowth() const { return m_growth; }
  T* GetData() const { return m_data; }
  operator T*() const { return m_data; }

  // A fresh block of one element, count 0.
  void Empty() {
    if (m_data) GlobalFree(m_data);
    m_data = static_cast<T*>(GlobalAlloc(0, sizeof(T)));
    m_capacity = m_data ? 1 : 0;
    m_count = 0;
  }
  // The caller owns the block afterwards (GlobalFree); the buffer is left without one.
  T* Detach() {
    T* d = std::exchange(m_data, nullptr);
    m_capacity = 0;
    m_count = 0;
    return d;
  }

 private:
  // Grows to `wanted` or by half, whichever is more; near the limit of the count type, to what is
  // `needed` at least.
  bool Grow(uint64_t wanted, uint64_t needed) {
    uint64_t half = static_cast<uint64_t>(m_capacity) + m_capacity / 2;
    uint64_t cap = wanted > half ? wanted : half;
    if (cap > UINT32_MAX) cap = UINT32_MAX;
    if (cap < needed) return false;
    return Realloc(static_cast<uint32_t>(cap));
  }

  T* m_data = nullptr;
  uint32_t m_count = 0;
  uint32_t m_capacity = 0;
  uint32_t m_growth;
};
