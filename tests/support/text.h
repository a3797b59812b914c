// ASCII literals in either character width, for tests.
#pragma once
#include <string>

namespace vtxtest {

template <class T>
std::basic_string<T> Str(const char* ascii) {
  std::basic_string<T> s;
  for (const char* p = ascii; *p; ++p) s.push_back(static_cast<T>(static_cast<unsigned char>(*p)));
  return s;
}

template <class T>
std::string Narrow(const T* text) {
  std::string s;
  if (text)
    for (const T* p = text; *p; ++p) s.push_back(static_cast<char>(*p));
  return s;
}

}  // namespace vtxtest
