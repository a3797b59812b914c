// The INI text reader on arbitrary input, in both widths. Whatever it reads must survive a write
// and a second read unchanged, unless the writer refuses it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/foundation/inidatabuffer.h"

namespace {

template <class T>
const T* Name(const char* ascii) {
  static std::vector<std::vector<T>> keep;
  std::vector<T> s(ascii, ascii + std::strlen(ascii) + 1);
  keep.push_back(s);
  return keep.back().data();
}

template <class T>
const std::vector<IniTableEntry<T>>& Table() {
  static const std::vector<IniTableEntry<T>> table = [] {
    const T* any = IniAny<T>();
    return std::vector<IniTableEntry<T>>{
        {nullptr, Name<T>("Top"), 1, IniTypeLong},       {Name<T>("Paths"), any, 2, IniTypePath},
        {Name<T>("Lists"), any, 3, IniTypeMultiString},  {Name<T>("PathLists"), any, 4, IniTypeMultiPath},
        {Name<T>("Numbers"), any, 5, IniTypeLong},       {Name<T>("Unsigned"), any, 6, IniTypeULong},
        {any, Name<T>("L"), 7, IniTypeMultiString},      {any, Name<T>("Q"), 8, IniTypeMultiPath},
        {any, Name<T>("P"), 9, IniTypePath},             {any, Name<T>("N"), 10, IniTypeLong},
        {any, Name<T>("U"), 11, IniTypeULong | IniFlagHex},
    };
  }();
  return table;
}

template <class T>
bool SameText(const T* a, const T* b) {
  if (!a || !b) return a == b;
  return CStringUtil<T>::StringCmp(a, b) == 0;
}

template <class T>
bool SameRows(const CIniData<T>& a, const CIniData<T>& b) {
  using D = CIniData<T>;
  if (a.GetCount() != b.GetCount()) return false;
  for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
    if (D::GetType(*x) != D::GetType(*y) || !SameText(D::GetName(*x), D::GetName(*y))) return false;
    uint32_t type = D::GetType(*x);
    if (type == IniTypeLong || type == IniTypeULong) {
      if (D::GetULongValue(*x) != D::GetULongValue(*y) || D::GetFlags(*x) != D::GetFlags(*y)) return false;
      continue;
    }
    if (D::GetStringCount(*x) != D::GetStringCount(*y)) return false;
    for (uint32_t i = 0; i < D::GetStringCount(*x); ++i)
      if (!SameText(D::GetStringN(*x, i), D::GetStringN(*y, i))) return false;
  }
  return true;
}

template <class T>
void Check(std::vector<T> text) {
  text.push_back(0);
  const auto& table = Table<T>();
  const uint32_t n = static_cast<uint32_t>(table.size());
  CIniDataBuffer<T> first;
  if (!first.SetBuffer(text.data())) return;
  HRESULT hr = first.Load(table.data(), n);
  if (hr == E_OUTOFMEMORY) return;
  if (FAILED(hr) && first.GetErrorLine() == 0) std::abort();  // a malformed text names its line
  // The rows read before an error are rows like any other.
  if (first.Save() != S_OK) return;
  CIniDataBuffer<T> second;
  if (!second.SetBuffer(first.GetText())) return;
  if (second.Load(table.data(), n) != S_OK) std::abort();
  if (!SameRows(first, second)) std::abort();
  if (second.Save() != S_OK) std::abort();
  if (CStringUtil<T>::StringCmp(first.GetText(), second.GetText()) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  // Bytes as 8-bit text, the same bytes widened, and byte pairs as 16-bit characters.
  Check(std::vector<char>(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size));
  Check(std::vector<char16_t>(data, data + size));
  std::vector<char16_t> pairs(size / 2);
  for (size_t i = 0; i < pairs.size(); ++i) pairs[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  Check(pairs);
  return 0;
}
