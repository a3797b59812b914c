// Bump allocator behind the engine's lists: pieces are never freed one by one.
#pragma once
#include <cstdint>

class CMemoryPool {
 public:
  static constexpr uint32_t kDefaultBlockSize = 32720;

  explicit CMemoryPool(uint32_t blockSize = kDefaultBlockSize) : m_blockSize(blockSize) {}
  ~CMemoryPool() { FreeAll(); }
  CMemoryPool(const CMemoryPool&) = delete;
  CMemoryPool& operator=(const CMemoryPool&) = delete;

  // The next n bytes of the last block, or a new block; null when the heap refuses.
  // Every piece is aligned for any type.
  void* Allocate(uint32_t n);
  void FreeAll();
  void SetBlockSize(uint32_t n) { m_blockSize = n; }
  uint32_t GetBlockSize() const { return m_blockSize; }

 private:
  struct Block {
    Block* next;
    uint32_t size;  // usable bytes
    uint32_t used;
  };

  uint32_t m_blockSize;
  Block* m_first = nullptr;
  Block* m_last = nullptr;
};
