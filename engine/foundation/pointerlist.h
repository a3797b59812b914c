// Doubly linked list of pointers whose nodes come from a pool; the list never owns the items. The
// nodes are also kept in order in an array, so that reaching an index costs no walk.
#pragma once
#include <cstdint>
#include <new>
#include <vector>

#include "engine/foundation/memorypool.h"

constexpr uint32_t kListAppend = 0xFFFFFFFFu;  // any index outside the list appends
constexpr uint32_t kListSorted = 0xFFFFFFFEu;  // CStringList: the sorted position, ignoring case

template <class T>
class CPointerList {
  struct Node {
    Node* prev;
    Node* next;
    T* item;
  };

 public:
  static constexpr uint32_t kPoolBlockSize = 4056;

  CPointerList() : m_pool(kPoolBlockSize) {}
  ~CPointerList() {
    Empty();
    m_pool.FreeAll();
  }
  CPointerList(const CPointerList&) = delete;
  CPointerList& operator=(const CPointerList&) = delete;

  // Inserts before the node at `index`; any index outside 0..count-1 appends.
  bool Add(T* item, uint32_t index = kListAppend) {
    if (m_nodes.size() == m_nodes.capacity()) {
      try {
        m_nodes.reserve(m_nodes.empty() ? 16 : m_nodes.size() * 2);
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    Node* n = static_cast<Node*>(m_pool.Allocate(sizeof(Node)));
    if (!n) return false;
    n->item = item;
    if (!m_head) {
      n->prev = n->next = nullptr;
      m_head = m_tail = n;
    } else if (index < m_count) {
      Node* at = NodeAt(index);
      n->next = at;
      n->prev = at->prev;
      if (at->prev) at->prev->next = n;
      else m_head = n;
      at->prev = n;
    } else {
      n->prev = m_tail;
      n->next = nullptr;
      m_tail->next = n;
      m_tail = n;
    }
    // Room was reserved above: the insert does not allocate.
    m_nodes.insert(m_nodes.begin() + (index < m_count ? index : m_count), n);
    if (index < m_count) ++m_layout;
    ++m_count;
    return true;
  }

  bool Remove(uint32_t index) {
    if (index >= m_count) return false;
    Node* n = NodeAt(index);
    if (n->prev) n->prev->next = n->next;
    else m_head = n->next;
    if (n->next) n->next->prev = n->prev;
    else m_tail = n->prev;
    m_nodes.erase(m_nodes.begin() + index);
    --m_count;
    ++m_layout;
    return true;
  }

  bool Exists(uint32_t index) const { return index < m_count; }
  uint32_t GetCount() const { return m_count; }

  // The item slot; an index out of range throws an integer.
  T*& operator[](uint32_t index) {
    if (index >= m_count) throw static_cast<int>(index);
    return NodeAt(index)->item;
  }
  T* const& operator[](uint32_t index) const {
    if (index >= m_count) throw static_cast<int>(index);
    return NodeAt(index)->item;
  }

  void Empty() {
    m_pool.FreeAll();
    m_nodes.clear();
    m_head = m_tail = nullptr;
    m_count = 0;
    ++m_layout;
  }
  // Counts the changes other than appends (insertions before the end, removals, emptying), so
  // that an index of the items knows when new items at the end are all that changed.
  uint64_t GetLayout() const { return m_layout; }

  class Iterator {
   public:
    Iterator() = default;
    Iterator(const CPointerList& list, uint32_t start = 0) : m_node(start < list.m_count ? list.NodeAt(start) : nullptr) {}
    explicit operator bool() const { return m_node != nullptr; }
    bool IsEnd() const { return m_node == nullptr; }
    T* operator*() const { return m_node->item; }
    T* operator->() const { return m_node->item; }
    Iterator& operator++() {
      if (m_node) m_node = m_node->next;
      return *this;
    }
    bool operator!=(const Iterator& o) const { return m_node != o.m_node; }
    bool operator==(const Iterator& o) const { return m_node == o.m_node; }

   private:
    Node* m_node = nullptr;
  };
  Iterator begin() const { return Iterator(*this, 0); }
  Iterator end() const { return Iterator(); }

 private:
  Node* NodeAt(uint32_t index) const { return m_nodes[index]; }

  CMemoryPool m_pool;
  std::vector<Node*> m_nodes;  // the nodes in list order
  uint64_t m_layout = 0;
  Node* m_head = nullptr;
  Node* m_tail = nullptr;
  uint32_t m_count = 0;
};
