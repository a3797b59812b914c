// The usdfeed conversion on arbitrary input: no crash, and a text it writes holds only plain
// rates.
#include <cstddef>
#include <cstdint>

#include "filters/usdfeed/usdparse.h"
#include "fuzz/feedfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = feedfuzz::Input(data, size);
  CFilterOutput out;
  if (ConvertUsdfeed(feedfuzz::Map(), text.data(), static_cast<uint32_t>(text.size()), out) == 0) feedfuzz::CheckRates(out);
  return 0;
}
