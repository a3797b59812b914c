#include "engine/foundation/scramble.h"

namespace {
// Written as bytes: the last one is not ASCII and must not depend on the source encoding.
const unsigned char kOutputKey[8] = {'Q', 'u', 'i', 'l', 'l', 'o', 'p', 0xAE};
const unsigned char kCredentialKey[7] = {'w', 0xE9, '8', 'T', 'q', 0xA5, 'b'};
}  // namespace

void ScrambleBuffer(void* buffer, uint32_t length) {
  if (!buffer) return;
  auto* p = static_cast<unsigned char*>(buffer);
  for (uint32_t i = 0; i < length; ++i) p[i] ^= kOutputKey[i % sizeof kOutputKey];
}

void EncryptBuffer(void* buffer, uint32_t length) {
  if (!buffer || !length) return;
  auto* p = static_cast<unsigned char*>(buffer);
  unsigned char chain = static_cast<unsigned char>(length);
  for (uint32_t i = 0; i < length; ++i) {
    p[i] = static_cast<unsigned char>(kCredentialKey[i % sizeof kCredentialKey] ^ p[i] ^ chain);
    chain = p[i];
  }
}

void DecryptBuffer(void* buffer, uint32_t length) {
  if (!buffer || !length) return;
  auto* p = static_cast<unsigned char*>(buffer);
  unsigned char chain = static_cast<unsigned char>(length);
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char in = p[i];
    p[i] = static_cast<unsigned char>(kCredentialKey[i % sizeof kCredentialKey] ^ in ^ chain);
    chain = in;
  }
}
