// The archive's keystream. Its state is the caller's, never a shared random
// generator, so scrambling leaves every other random sequence alone.
#include "Scramble.h"

#include "VozFormat.h"

uint32_t PasswordSeed(const char* password, size_t length) {
    if (password == nullptr) return 0;
    // The password's length is kept in 16 bits.
    const size_t k = length % 65536;
    uint32_t seed = 0;
    for (size_t i = 1; i <= k; i++) {  // 1-based, as the shift depends on it
        const uint32_t byte = static_cast<unsigned char>(password[i - 1]);
        seed += byte << (8 * (i % 4));
    }
    return seed;
}

void ScrambleBytes(uint32_t* state, uint8_t* data, size_t length) {
    uint32_t s = *state;
    for (size_t i = 0; i < length; i++) {
        s = s * kScrambleMultiplier + 1;
        data[i] ^= static_cast<uint8_t>(s >> 24);
    }
    *state = s;
}
