#include "engine/foundation/memorypool.h"

#include <cstddef>

#include "platform/heap.h"

namespace {
constexpr uint32_t kAlign = alignof(std::max_align_t);
constexpr size_t kHeader = (16 + kAlign - 1) / kAlign * kAlign;
}  // namespace

void* CMemoryPool::Allocate(uint32_t n) {
  // Round up so that every piece stays aligned (the pool holds list nodes with pointers).
  if (n > UINT32_MAX - kAlign) return nullptr;
  uint32_t need = (n + kAlign - 1) / kAlign * kAlign;
  if (m_last && m_last->size - m_last->used >= need) {
    void* p = reinterpret_cast<char*>(m_last) + kHeader + m_last->used;
    m_last->used += need;
    return p;
  }
  uint32_t usable = need > m_blockSize ? need : (m_blockSize + kAlign - 1) / kAlign * kAlign;
  auto* block = static_cast<Block*>(GlobalAlloc(0, kHeader + usable));
  if (!block) return nullptr;
  block->next = nullptr;
  block->size = usable;
  block->used = need;
  if (m_last) m_last->next = block;
  else m_first = block;
  m_last = block;
  return reinterpret_cast<char*>(block) + kHeader;
}

void CMemoryPool::FreeAll() {
  Block* b = m_first;
  while (b) {
    Block* next = b->next;
    GlobalFree(b);
    b = next;
  }
  m_first = m_last = nullptr;
}
