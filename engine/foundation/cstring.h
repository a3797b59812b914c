// Owned NUL-terminated texts on the global heap; null reads as empty. Nothing here throws.
#pragma once
#include <cstdint>
#include <cstring>
#include <utility>

#include "engine/foundation/stringutil.h"
#include "platform/codepage.h"
#include "platform/heap.h"

// CStringA / CStringW: Resize does not keep the old text.
template <class T>
class CStringBase {
 public:
  CStringBase() = default;
  CStringBase(const T* text) { *this = text; }
  CStringBase(const CStringBase& other) { *this = other.m_text; }
  CStringBase(CStringBase&& other) noexcept : m_text(std::exchange(other.m_text, nullptr)) {}
  ~CStringBase() { Empty(); }

  CStringBase& operator=(const CStringBase& other) {
    if (this != &other) Assign(other.m_text);
    return *this;
  }
  CStringBase& operator=(CStringBase&& other) noexcept {
    if (this != &other) {
      Empty();
      m_text = std::exchange(other.m_text, nullptr);
    }
    return *this;
  }
  CStringBase& operator=(const T* text) {
    Assign(text);
    return *this;
  }
  // From the other width, through the ANSI code page.
  template <class U, class = std::enable_if_t<!std::is_same_v<U, T> && (std::is_same_v<U, char> || std::is_same_v<U, char16_t>)>>
  CStringBase& operator=(const U* text) {
    AssignOther(text);
    return *this;
  }

  void Empty() {
    if (m_text) GlobalFree(m_text);
    m_text = nullptr;
  }
  // Frees the old block and allocates n characters; the old text is not kept.
  bool Resize(uint32_t n) {
    Empty();
    m_text = static_cast<T*>(GlobalAlloc(0, static_cast<size_t>(n) * sizeof(T)));
    if (m_text && n) m_text[0] = 0;
    return m_text != nullptr;
  }
  uint32_t GetLength() const { return CStringUtil<T>::StringLen(m_text); }
  bool IsEmpty() const { return !m_text || !*m_text; }
  bool IsNull() const { return m_text == nullptr; }
  // The text, or null.
  T* GetBuffer() const { return m_text; }
  // The text, or an empty text for null.
  const T* c_str() const {
    static const T kEmpty[1] = {0};
    return m_text ? m_text : kEmpty;
  }
  operator const T*() const { return m_text; }
  // Hands the block to the caller, who frees it with GlobalFree.
  T* Detach() { return std::exchange(m_text, nullptr); }
  void Attach(T* block) {
    Empty();
    m_text = block;
  }

 protected:
  void Assign(const T* text) {
    if (text == m_text && text) return;
    if (text && m_text && text >= m_text && text < m_text + GlobalSize(m_text) / sizeof(T)) {
      // Assigning a part of our own text.
      CStringBase copy(text);
      *this = std::move(copy);
      return;
    }
    Empty();
    if (!text) return;
    uint32_t len = CStringUtil<T>::StringLen(text);
    T* block = static_cast<T*>(GlobalAlloc(0, (static_cast<size_t>(len) + 1) * sizeof(T)));
    if (!block) return;
    std::memcpy(block, text, (static_cast<size_t>(len) + 1) * sizeof(T));
    m_text = block;
  }

  template <class U>
  void AssignOther(const U* text) {
    Empty();
    if (!text) return;
    int need;
    if constexpr (sizeof(T) == 1)
      need = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    else
      need = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (need <= 0) return;
    T* block = static_cast<T*>(GlobalAlloc(0, static_cast<size_t>(need) * sizeof(T)));
    if (!block) return;
    int got;
    if constexpr (sizeof(T) == 1)
      got = WideCharToMultiByte(CP_ACP, 0, text, -1, block, need, nullptr, nullptr);
    else
      got = MultiByteToWideChar(CP_ACP, 0, text, -1, block, need);
    if (got <= 0) {
      GlobalFree(block);
      return;
    }
    block[got - 1] = 0;
    m_text = block;
  }

  T* m_text = nullptr;
};

using CStringA = CStringBase<char>;
using CStringW = CStringBase<char16_t>;

// CString<T>: Resize keeps the old text; Merge appends.
template <class T>
class CString : public CStringBase<T> {
  using Base = CStringBase<T>;

 public:
  using Base::Base;
  CString() = default;
  CString(const CString& other) : Base(other) {}
  CString(CString&& other) noexcept : Base(std::move(other)) {}
  CString& operator=(const CString& other) {
    Base::operator=(other);
    return *this;
  }
  CString& operator=(CString&& other) noexcept {
    Base::operator=(std::move(other));
    return *this;
  }
  CString& operator=(const T* text) {
    Base::operator=(text);
    return *this;
  }
  template <class U, class = std::enable_if_t<!std::is_same_v<U, T> && (std::is_same_v<U, char> || std::is_same_v<U, char16_t>)>>
  CString& operator=(const U* text) {
    this->AssignOther(text);
    return *this;
  }

  // Allocates n characters and keeps as much of the old text as fits (always terminated);
  // false when out of memory, the old text then stays.
  bool Resize(uint32_t n) {
    T* block = static_cast<T*>(GlobalAlloc(0, static_cast<size_t>(n) * sizeof(T)));
    if (!block) return false;
    if (n) {
      block[0] = 0;
      if (this->m_text) {
        size_t oldChars = GlobalSize(this->m_text) / sizeof(T);
        size_t keep = oldChars < n ? oldChars : n;
        std::memcpy(block, this->m_text, keep * sizeof(T));
        block[keep < n ? keep : n - 1] = 0;
      }
    }
    if (this->m_text) GlobalFree(this->m_text);
    this->m_text = block;
    return true;
  }

  // Appends a text (null appends nothing); false when out of memory.
  bool Merge(const T* text) {
    if (!text || !*text) return true;
    uint32_t a = this->GetLength();
    uint32_t b = CStringUtil<T>::StringLen(text);
    T* block = static_cast<T*>(GlobalAlloc(0, (static_cast<size_t>(a) + b + 1) * sizeof(T)));
    if (!block) return false;
    if (a) std::memcpy(block, this->m_text, a * sizeof(T));
    std::memcpy(block + a, text, (static_cast<size_t>(b) + 1) * sizeof(T));
    if (this->m_text) GlobalFree(this->m_text);
    this->m_text = block;
    return true;
  }
};
