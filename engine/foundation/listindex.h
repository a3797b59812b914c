// A look-up table over a list: brought up to date by the first look-up after the list changed (new
// elements at the end are added, any other change rebuilds it), then shared by every thread that
// reads the list, as long as nobody changes the list meanwhile (the rule for all lists).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

// A text with its ASCII letters in lower case: the key of texts compared as _stricmp compares them.
inline std::string FoldedAscii(const char* text) {
  std::string f(text ? text : "");
  for (char& c : f)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return f;
}

template <class Key, class Hash = std::hash<Key>, class Equal = std::equal_to<Key>>
class CListIndex {
 public:
  using Map = std::unordered_map<Key, uint32_t, Hash, Equal>;
  static constexpr int32_t kUnavailable = -2;

  CListIndex() = default;
  CListIndex(const CListIndex&) = delete;
  CListIndex& operator=(const CListIndex&) = delete;

  // The position of `key`, -1 when it has none, kUnavailable when the table cannot be built (out of
  // memory: the caller searches the list itself). `layout` counts the list's changes other than
  // appends, `count` is its length; `fill(map, from)` adds the elements from position `from` on,
  // keeping the first position of each key.
  template <class Fill>
  int32_t Find(uint64_t layout, uint32_t count, const Key& key, Fill&& fill) const {
    if (m_layout.load(std::memory_order_acquire) != layout || m_count.load(std::memory_order_acquire) != count) {
      std::lock_guard<std::mutex> guard(m_lock);
      uint64_t had = m_layout.load(std::memory_order_relaxed);
      uint32_t from = m_count.load(std::memory_order_relaxed);
      if (had != layout || from != count) {
        m_layout.store(kNone, std::memory_order_relaxed);
        try {
          if (had != layout || from > count) {
            m_map.clear();
            from = 0;
          }
          fill(m_map, from);
        } catch (const std::bad_alloc&) {
          m_map.clear();
          m_count.store(0, std::memory_order_relaxed);
          return kUnavailable;
        }
        m_count.store(count, std::memory_order_release);
        m_layout.store(layout, std::memory_order_release);
      }
    }
    auto it = m_map.find(key);
    return it == m_map.end() ? -1 : static_cast<int32_t>(it->second);
  }

 private:
  static constexpr uint64_t kNone = UINT64_MAX;
  mutable std::mutex m_lock;
  mutable std::atomic<uint64_t> m_layout{kNone};
  mutable std::atomic<uint32_t> m_count{0};
  mutable Map m_map;
};
