// A list that owns copies of its elements: texts, or blocks of an explicit size.
#pragma once
#include <cstdint>
#include <cstring>

#include "engine/foundation/listindex.h"
#include "engine/foundation/pointerlist.h"
#include "engine/foundation/stringutil.h"
#include "platform/heap.h"

template <class T>
class CStringList {
 public:
  CStringList() = default;
  virtual ~CStringList() { CStringList::Empty(); }
  CStringList(const CStringList&) = delete;
  CStringList& operator=(const CStringList&) = delete;

  virtual void Empty() {
    for (T* e : m_list) Free(e);
    m_list.Empty();
  }
  virtual void* Allocate(uint32_t size) { return GlobalAlloc(0, size); }
  virtual void Free(void* element) {
    if (element) GlobalFree(element);
  }

  // Adds a copy of `data`: size 0 means a NUL-terminated text. Index kListSorted puts it before the
  // first element greater ignoring case; an index outside the list appends.
  bool AddEx(const void* data, uint32_t index, uint32_t size, T** outElement = nullptr, uint32_t* outIndex = nullptr) {
    if (!data) return false;
    if (size == 0) {
      uint64_t bytes = (static_cast<uint64_t>(CStringUtil<T>::StringLen(static_cast<const T*>(data))) + 1) * sizeof(T);
      if (bytes > UINT32_MAX) return false;
      size = static_cast<uint32_t>(bytes);
    }
    T* copy = static_cast<T*>(Allocate(size));
    if (!copy) return false;
    std::memcpy(copy, data, size);
    if (index == kListSorted) {
      index = 0;
      for (T* e : m_list) {
        if (CStringUtil<T>::StringICmp(e, copy) > 0) break;
        ++index;
      }
    }
    if (index >= m_list.GetCount()) index = m_list.GetCount();
    if (!m_list.Add(copy, index)) {
      Free(copy);
      return false;
    }
    if (outElement) *outElement = copy;
    if (outIndex) *outIndex = index;
    return true;
  }
  bool Add(const void* data, uint32_t index = kListAppend, uint32_t size = 0) { return AddEx(data, index, size); }

  // The first element whose text equals `text`; -1 when none. IFind ignores case; on a longer list
  // it looks the text up in an index of the elements' texts, so elements must not change their
  // text in place.
  int32_t Find(const T* text) const { return FindBy(text, false); }
  int32_t IFind(const T* text) const {
    if (!text) return -1;
    if (m_list.GetCount() >= kIndexFrom) {
      int32_t i = m_index.Find(m_list.GetLayout(), m_list.GetCount(), text, [this](typename Index::Map& map, uint32_t from) {
        for (auto it = typename CPointerList<T>::Iterator(m_list, from); it; ++it) map.emplace(*it, from++);
      });
      if (i != Index::kUnavailable) return i;
    }
    return FindBy(text, true);
  }
  // Counts the changes of the list other than appends: insertions before the end, removals, emptying.
  uint64_t GetLayout() const { return m_list.GetLayout(); }

  bool Remove(uint32_t index) {
    if (!m_list.Exists(index)) return false;
    T* e = m_list[index];
    m_list.Remove(index);
    Free(e);
    return true;
  }
  bool Remove(const T* text) { return Remove(static_cast<uint32_t>(Find(text))); }
  bool IRemove(const T* text) { return Remove(static_cast<uint32_t>(IFind(text))); }

  bool Exists(uint32_t index) const { return m_list.Exists(index); }
  uint32_t GetCount() const { return m_list.GetCount(); }
  T* operator[](uint32_t index) const { return m_list[index]; }
  static uint32_t Length(const T* element) { return CStringUtil<T>::StringLen(element); }
  static int Compare(const T* a, const T* b) { return CStringUtil<T>::StringCmp(a, b); }
  static int ICompare(const T* a, const T* b) { return CStringUtil<T>::StringICmp(a, b); }

  using Iterator = typename CPointerList<T>::Iterator;
  Iterator begin() const { return m_list.begin(); }
  Iterator end() const { return m_list.end(); }

 private:
  // The index holds the elements' own texts, hashed and compared as StringICmp compares them
  // (ASCII letters ignoring case): an element stays where it is until it is removed.
  static T Fold(T c) { return c >= 'A' && c <= 'Z' ? static_cast<T>(c - 'A' + 'a') : c; }
  struct IHash {
    size_t operator()(const T* text) const {
      size_t h = 14695981039346656037ull;
      for (; *text; ++text) h = (h ^ static_cast<size_t>(Fold(*text))) * 1099511628211ull;
      return h;
    }
  };
  struct IEqual {
    bool operator()(const T* a, const T* b) const {
      for (;; ++a, ++b) {
        if (Fold(*a) != Fold(*b)) return false;
        if (!*a) return true;
      }
    }
  };
  using Index = CListIndex<const T*, IHash, IEqual>;
  static constexpr uint32_t kIndexFrom = 16;

  int32_t FindBy(const T* text, bool ignoreCase) const {
    if (!text) return -1;
    int32_t i = 0;
    for (T* e : m_list) {
      if ((ignoreCase ? ICompare(e, text) : Compare(e, text)) == 0) return i;
      ++i;
    }
    return -1;
  }

  CPointerList<T> m_list;
  Index m_index;
};
