// The host part of an address, as the internet connection and the currency mappings need it.
#pragma once
#include "platform/errors.h"
#include "platform/types.h"

// The host of a URL ("http://user@Rates.Example.com:8080/a?b" gives "Rates.Example.com") or of a
// bare host name ("www.example.de/rates" gives "www.example.de"), percent escapes decoded, one
// trailing '.' of a fully qualified name dropped, cut to size - 1 characters. 0x80070057 for a null
// address, a null buffer or size 0; the host may come out empty.
HRESULT GetUrlHostName(const char* url, char* buffer, DWORD size);
