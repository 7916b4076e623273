// The entry-stream decoders: blocks (stored or zlib), commands (copy from
// base, literal, end), and every check with its result code.
//
// Result codes (see VozFormat.h): 0 success; -1 short or malformed stream
// (a short read, a header that breaks a rule, a block checksum, inflation,
// a field crossing its block's end, a literal outside its block or with a
// negative length); -2 invalid command byte or negative copy offset/length;
// -3 copy outside the base; -4 end checksum differs from the output's
// register; -5 (memory decoder only) output larger than its capacity.
//
// The decoders share module state (the current block and three static
// buffers, about 4.2 MB, allocated once): one decode at a time, and never
// from inside a decoder's own callbacks.
#pragma once

#include <cstdint>

#include "VozCall.h"

// Stream and base readers: deliver up to count bytes into buffer, setting
// *got to the number delivered (0 at the end).
typedef void(VOZ_CDECL* TPatchReadProc)(void* buffer, int32_t count, int32_t* got, void* user);
// Positions the base at offset.
typedef void(VOZ_CDECL* TPatchSeekProc)(int32_t offset, void* user);
// Consumes count output bytes.
typedef void(VOZ_CDECL* TPatchWriteProc)(const void* buffer, int32_t count, void* user);
// Called after every command: stream bytes consumed so far (13 + stored
// length per block loaded) and the caller's total (-1 when unknown).
typedef void(VOZ_CDECL* TPatchProgressProc)(int32_t consumed, int32_t total, void* user);

// Inflates one zlib stream from src into dst; true only when the stream ends
// within dstCapacity. zlib's allocations come from the arena while it lasts,
// then from the heap.
bool InflateBlock(const void* src, int32_t srcLength, void* dst, int32_t dstCapacity, void* arena, int32_t arenaSize);

// The streaming decoder.
int32_t ApplyPatchStream(TPatchReadProc baseRead, TPatchSeekProc baseSeek, void* baseUser, TPatchWriteProc write,
                         void* writeUser, TPatchReadProc streamRead, int32_t totalStreamSize, void* streamUser,
                         TPatchProgressProc progress, void* progressUser);

// The memory decoder. *outputSize holds the capacity on entry and the number
// of bytes the stream produces on return (also when that exceeds the
// capacity, with result -5; nothing past the capacity is written).
int32_t ApplyPatchBuffer(const void* base, int32_t baseLength, void* output, int32_t* outputSize, const void* stream,
                         int32_t streamLength, TPatchProgressProc progress, void* progressUser);

// Entry decoder for extraction: the streaming decoder with an empty base,
// total -1 and no progress. The reader returns the number of bytes it
// delivered. Returns 0 on success and 3 for any failure of the decoder.
typedef int32_t(VOZ_CDECL* TEntryReadProc)(void* buffer, int32_t count, void* context);
typedef void(VOZ_CDECL* TEntryWriteProc)(const void* buffer, int32_t count, void* context);
int32_t DecodeEntryStream(TEntryReadProc reader, TEntryWriteProc writer, void* context);
