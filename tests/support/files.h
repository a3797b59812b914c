// Private temporary folders and whole files, for tests.
#pragma once
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"

namespace vtxtest {

// The whole file, or an empty text when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::string data;
  return vtx::ReadWholeFile(path.c_str(), &data) == S_OK ? data : std::string();
}

// Writes the bytes as the whole file; false when it cannot be written.
inline bool WriteFile(const std::string& path, const std::string& bytes) {
  return vtx::WriteWholeFile(path.c_str(), bytes.data(), bytes.size()) == S_OK;
}

// The names in a folder, sorted; none when it is missing. What a failed write left behind shows here.
inline std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The descriptors this process holds, to see that a failed operation left none open.
inline std::set<int> OpenDescriptors() {
  std::set<int> fds;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' && std::atoi(e->d_name) != dirfd(d)) fds.insert(std::atoi(e->d_name));
    closedir(d);
  }
  return fds;
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
