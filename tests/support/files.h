// Private temporary folders and whole files, for tests.
#pragma once
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace vtxtest {

// The whole file, or an empty text when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Writes the bytes as the whole file; false when it cannot be written.
inline bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return static_cast<bool>(out);
}

// Writes a shell script that its owner may run: "#!/bin/sh", then the body.
inline bool WriteScript(const std::string& path, const std::string& body) {
  return WriteFile(path, "#!/bin/sh\n" + body) && chmod(path.c_str(), 0700) == 0;
}

// A fresh temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vtxtest-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (!d) std::abort();  // every test would otherwise share /tmp
    path_ = d;
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace vtxtest
