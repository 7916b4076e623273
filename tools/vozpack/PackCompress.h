// Block compression for vozpack: command bytes into finished blocks, on
// several threads, the result independent of their number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "VozCall.h"

// How blocks are compressed. level 0 stores; 1..9 are zlib-style levels;
// best asks for the strongest setting the compressor has. useZlib picks
// zlib's compress2 even where the faster compressor is built in (the
// Windows build only has zlib). threads 0 means one per core.
struct TCompressOptions {
    int level = 6;
    bool best = false;
    bool useZlib = false;
    int threads = 0;
};

// Name of the compressor the options select ("libdeflate" or "zlib").
const char* CompressorName(const TCompressOptions& options);

// One job: command bytes that become one block.
struct TBlockJob {
    const uint8_t* commands;
    int32_t length;
};

// Called while blocks are made, from any of the workers but never from two
// at once: bytes of command bytes done so far.
typedef void(VOZ_CDECL* TBlockProgressProc)(uint64_t done, void* user);

// Encodes every job into a finished block (header and stored bytes) in
// blocks[i], on several threads. The result does not depend on the number
// of threads. False when a job cannot be encoded.
bool EncodeBlocks(const std::vector<TBlockJob>& jobs, const TCompressOptions& options,
                  std::vector<std::vector<uint8_t>>* blocks, TBlockProgressProc progress, void* progressUser);
