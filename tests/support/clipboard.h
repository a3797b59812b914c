// A desktop clipboard in memory, for the code that uses one where a program provides it.
#pragma once
#include <map>
#include <string>

#include "platform/clipboard.h"

namespace vtxtest {

class MemoryClipboard : public vtx::ClipboardProvider {
 public:
  bool Get(UINT format, std::string* bytes) override {
    auto it = formats.find(format);
    if (it == formats.end()) return false;
    *bytes = it->second;
    return true;
  }
  bool Set(UINT format, const std::string& bytes) override {
    formats[format] = bytes;
    return true;
  }
  bool Clear() override {
    formats.clear();
    return true;
  }
  std::map<UINT, std::string> formats;
};

}  // namespace vtxtest
