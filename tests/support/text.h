// Test helpers: ASCII literals in either character width, and a private store per test program.
#pragma once
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

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

// The whole file, or an empty text when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh temporary directory, removed with the object.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vtxtest-XXXXXX";
    const char* d = mkdtemp(tmpl);
    path_ = d ? d : "/tmp";
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace vtxtest
