// Texts of the fetch: resource strings with inserts, the filter's failure text and the time of a
// page.
#pragma once
#include <cstddef>

#include "engine/foundation/cstring.h"
#include "platform/types.h"

// String `id` formatted with the inserts into `out`; `fallback` when the string is missing.
void FormatFetchText(CStringA* out, const char* fallback, UINT id, HMODULE module, const char* insert1,
                     const char* insert2 = nullptr);

// The error text of a failed filter's exit code: string 209 over "0x%X (%s - %s)" and its forms.
void FilterExitText(DWORD code, HMODULE resourceLibrary, CStringA* errorText);

// The current UTC time as the run log keeps it.
void FetchTimeText(char* buffer, size_t size);
