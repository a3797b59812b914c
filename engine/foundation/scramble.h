// The two byte scramblers: the repeating key of filter output, and the chained key of stored
// credentials. Both work in place; lengths are carried by the callers (the data may hold zeros).
#pragma once
#include <cstdint>

// Repeating XOR; the same call scrambles and unscrambles. The key restarts with every call.
void ScrambleBuffer(void* buffer, uint32_t length);

// Chained XOR over a 7-byte key, seeded with the low byte of the length.
void EncryptBuffer(void* buffer, uint32_t length);
void DecryptBuffer(void* buffer, uint32_t length);
