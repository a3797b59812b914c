// Base64 both ways: any bytes encode to a text that decodes back to them, and any text either
// decodes or is refused, never read beyond.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/foundation/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1u << 20) return 0;
  {
    Base64Coder coder;
    if (!coder.Encode(data, static_cast<uint32_t>(size))) return 0;
    Base64Coder back;
    if (back.Decode(reinterpret_cast<const BYTE*>(coder.EncodedMessage()), coder.GetEncodedLength()) != S_OK)
      std::abort();
    if (back.GetDecodedLength() != size || (size && std::memcmp(back.DecodedMessage(), data, size) != 0)) std::abort();
  }
  Base64Coder text;
  if (text.Decode(data, static_cast<uint32_t>(size)) == S_OK && text.GetDecodedLength() > size) std::abort();
  return 0;
}
