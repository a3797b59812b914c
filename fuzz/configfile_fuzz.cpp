// The configuration file reader on arbitrary input. A file it accepts reports balanced keys no
// deeper than allowed and names and data within the limits; a check without a visitor agrees.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/currency/configfile.h"

namespace {

using namespace vtx::configfile;

class Checker : public Visitor {
 public:
  HRESULT Subkey(const uint8_t*, uint32_t length) override {
    if (length == 0 || length > kMaxKeyName || ++depth > kMaxDepth) std::abort();
    return S_OK;
  }
  HRESULT Value(const uint8_t*, uint32_t length, uint32_t, const uint8_t*, uint32_t size) override {
    if (length > kMaxValueName || size > kMaxValueData) std::abort();
    return S_OK;
  }
  HRESULT EndKey() override {
    if (depth-- == 0) std::abort();
    return S_OK;
  }
  uint32_t depth = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Checker checker;
  HRESULT hr = ReadConfiguration(data, size, &checker);
  if (hr == S_OK && checker.depth != 0) std::abort();
  if (ReadConfiguration(data, size, nullptr) != hr) std::abort();
  return 0;
}
