// Downloaded answers through the fetch's own readers: the two-line "DATE" converter, the quote
// service's CSV converter (the first line of the input is the currency list) and the answer tests.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/update/fetchsource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1u << 20) return 0;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const uint32_t length = static_cast<uint32_t>(size - 1);
  IsErrorDocument(text, length);
  IsMarkupDocument(text, length);
  IsScrambledOutput(text, length);

  CBuffer<char> buffer(16, 16);
  if (data[0] & 1) {
    // The currency list is NUL-terminated as the fetch keeps it.
    const char* nl = static_cast<const char*>(std::memchr(text, '\n', length));
    std::string list(text, nl ? static_cast<size_t>(nl - text) : length);
    list.resize(std::strlen(list.c_str()));
    const char* rest = nl ? nl + 1 : text + length;
    if (!buffer.Add(rest, static_cast<uint32_t>(text + length - rest))) return 0;
    CStringA error;
    ConvertQuoteCsv(buffer, list.c_str(), &error);
  } else {
    if (!buffer.Add(text, length)) return 0;
    CStringA unmatched;
    uint32_t count = 0;
    ConvertTwoLineDate(buffer, unmatched, count);
  }
  return 0;
}
