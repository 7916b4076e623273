// The archive's scrambling layer: a private keystream XORed over the body.
// Scrambling and unscrambling are the same operation.
#pragma once

#include <cstddef>
#include <cstdint>

// Seed from the password bytes p1..pk (k = length mod 65536): the sum of
// p_i << (8 * (i mod 4)), 1-based i, with 32-bit wrap-around. A null
// password counts as empty (seed 0).
uint32_t PasswordSeed(const char* password, size_t length);

// XORs data with the keystream that continues from *state, and leaves *state
// where the next byte's key comes from, so a body may be done in any chunks.
void ScrambleBytes(uint32_t* state, uint8_t* data, size_t length);
