// A desktop clipboard in memory, for the code that uses one where a program provides it.
#pragma once
#include <string>

#include "platform/clipboard.h"

namespace vtxtest {

class MemoryClipboard : public vtx::clipboard::Backend {
 public:
  bool ReadText(std::u16string* t) override {
    *t = text;
    return !text.empty();
  }
  bool WriteText(const std::u16string& t) override {
    text = t;
    return true;
  }
  std::u16string text;
};

}  // namespace vtxtest
