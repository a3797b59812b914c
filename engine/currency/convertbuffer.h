// Every amount in a text, or in the text on the clipboard, converted between two currencies.
#pragma once
#include <cstdint>

#include "engine/currency/settings.h"
#include "engine/foundation/storage.h"

// Copies `text` to `writer` with every amount (read with the user's monetary separators) replaced
// by its conversion from `from` to `to` (CSettings::ConvertUnit, rounded and formatted as asked);
// `count` (optional) gets the number of amounts converted. The first failure is the result.
HRESULT ConvertBuffer(const char* text, CWriteStorage& writer, const char* from, const char* to, CSettings& settings,
                      bool round, bool format, uint32_t* count);
// The same on the clipboard's text, which is replaced when an amount was converted. An empty or
// text-less clipboard converts nothing and succeeds; without a desktop clipboard 0x8007058A.
HRESULT ConvertClipboard(CSettings& settings, const char* from, const char* to, bool round, bool format,
                         uint32_t* count);
