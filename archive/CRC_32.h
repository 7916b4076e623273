// Module CRC_32: the CRC-32 register of the archive format.
//
// Standard reflected CRC-32 (polynomial 0xEDB88320). The routine applies
// neither the initial nor the final inversion: callers start the register at
// 0xFFFFFFFF and store it as it stands. A length of 0 or less leaves the
// register unchanged.
#pragma once

#include <cstdint>

// The fastest routine this processor has; every result is identical to
// Crc32UpdateBytewise.
uint32_t Crc32Update(const void* data, int32_t length, uint32_t reg);

// The reference: one table look-up per byte. Also the fall-back.
uint32_t Crc32UpdateBytewise(const void* data, int32_t length, uint32_t reg);

// Slicing over several 256-entry tables (portable).
uint32_t Crc32UpdateSlicing(const void* data, int32_t length, uint32_t reg);

// Carry-less-multiply folding where Crc32HasClmul() is true (elsewhere it
// falls back to slicing).
bool Crc32HasClmul();
uint32_t Crc32UpdateClmul(const void* data, int32_t length, uint32_t reg);

// Name of the routine Crc32Update dispatches to ("clmul", "slicing", ...).
const char* Crc32RoutineName();
