// What the command-line tools share: reading the registry store without changing it, and a
// server's reply in words.
#pragma once
#include <string>

#include "platform/types.h"

namespace vtx::tools {

enum class StoreState {
  Ready,     // the application key is there to be read
  NoAppKey,  // a store that holds nothing of the product yet
  Failed,    // said on stderr
};

// Looks at the store ($VANTREX_REGISTRY) for reading only: a missing store is not made, and a
// missing, damaged, foreign or unreadable one is named on stderr as "<program>: ...".
StoreState OpenStoreToRead(const char* program);

// Opens the store for writing (making it when missing); false when it is damaged, foreign,
// read-only or may not be used, said on stderr as "<program>: ...". Nothing is kept of the probe.
bool CheckStoreToWrite(const char* program);

// A code in words: the catalogue's text of a server code, else the system's text, and the number.
std::string CodeText(HRESULT hr);

}  // namespace vtx::tools
