// A whole file as one NUL-terminated text, and a text as a new file.
#pragma once
#include <cstdint>

#include "engine/foundation/cstring.h"
#include "platform/errors.h"

// Reads the whole file into `text` (terminated; a NUL inside cuts what the text shows, `size` gives
// every byte). HRESULT; 0x8007000E when out of memory.
HRESULT StringFromFile(const char* path, CStringA& text, uint32_t* size = nullptr);
// Writes `length` bytes of the text to a new or truncated file; a failed or short write deletes
// the file again. HRESULT.
HRESULT StringToFile(const char* path, const char* text, uint32_t length);
