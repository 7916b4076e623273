// The fuzz inputs' layout, shared by the targets and the seed generator.
//
// fuzz_patch_buffer: u16 output capacity (0xFFFF: 1 MiB), u16 base length,
//   the base, then the stream.
// fuzz_patch_stream: u8 mode (bit 0: DecodeEntryStream instead of
//   ApplyPatchStream; the other bits seed the readers' chunk sizes),
//   u16 base length, the base, then the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kBufferInputHeader = 4;
constexpr size_t kStreamInputHeader = 3;
constexpr uint16_t kLargeCapacityCode = 0xFFFF;
constexpr int32_t kLargeCapacity = 1 << 20;

inline uint16_t FuzzU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The base length is always the last two header bytes. The base and the
// stream come back in separate heap blocks of their exact sizes, so
// that the sanitizer sees a read past either one.
struct TFuzzParts {
    std::vector<uint8_t> base;
    std::vector<uint8_t> stream;
};

inline TFuzzParts SplitFuzzInput(const uint8_t* data, size_t size, size_t header) {
    TFuzzParts parts;
    if (size < header) return parts;
    size_t baseLength = FuzzU16(data + header - 2);
    if (baseLength > size - header) baseLength = size - header;
    parts.base.assign(data + header, data + header + baseLength);
    parts.stream.assign(data + header + baseLength, data + size);
    parts.base.shrink_to_fit();
    parts.stream.shrink_to_fit();
    return parts;
}
