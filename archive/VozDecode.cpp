// The entry-stream decoders.
//
// Format notes:
// - A field (command byte, offset, length, end checksum) never continues
//   into the next block; a new block is loaded only when the last one was
//   used up exactly. A literal's data must lie in the block of its length
//   field, so a length field that ends a block leaves its literal without
//   data: malformed, even for length 0.
// - Offsets and lengths are unsigned fields zero-extended into a signed
//   32-bit value, so a 4-byte field with its top bit set is negative.
// - Every sum of a position and a count is done in 64 bits: a stream can
//   name any 32-bit value, and none of them may wrap around.
// - A zlib block that ends before its stated decoded length leaves the rest
//   of the block zero-filled, so stale bytes of an earlier block are never
//   read as commands.
#include "VozDecode.h"

#include <zlib.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "CRC_32.h"
#include "VozFormat.h"

namespace {

// The three buffers live for the whole program; nothing is allocated per
// block or per entry.
alignas(64) uint8_t gBlockBuffer[kMaxBlockDecoded];
alignas(64) uint8_t gStoredBuffer[kMaxBlockStored];
alignas(64) uint8_t gInflateArena[kInflateArenaSize];

// ---- Inflation ------------------------------------------------------------

// zlib's allocations: first from the arena's free rest (never reused within
// one inflation), then from the heap; both zero-filled.
struct TArena {
    uint8_t* base;
    size_t size;
    size_t used;
};

voidpf ArenaAlloc(voidpf opaque, uInt items, uInt size) {
    auto* arena = static_cast<TArena*>(opaque);
    const uint64_t bytes = static_cast<uint64_t>(items) * size;
    if (arena->base != nullptr) {
        // Keep every block aligned for any type zlib stores in it.
        const uintptr_t at = reinterpret_cast<uintptr_t>(arena->base + arena->used);
        const size_t pad = static_cast<size_t>(-at & (alignof(std::max_align_t) - 1));
        const size_t left = arena->size - arena->used;
        if (pad <= left && bytes <= left - pad) {
            uint8_t* p = arena->base + arena->used + pad;
            arena->used += pad + static_cast<size_t>(bytes);
            std::memset(p, 0, static_cast<size_t>(bytes));
            return p;
        }
    }
    return std::calloc(items, size);
}

void ArenaFree(voidpf opaque, voidpf address) {
    const auto* arena = static_cast<const TArena*>(opaque);
    const auto* p = static_cast<const uint8_t*>(address);
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(arena->base);
    if (arena->base != nullptr && at >= begin && at - begin < arena->size) return;
    std::free(address);
}

// InflateBlock, also telling how many bytes came out.
bool Inflate(const void* src, int32_t srcLength, void* dst, int32_t dstCapacity, void* arenaBase, int32_t arenaSize,
             int32_t* produced) {
    *produced = 0;
    if (srcLength < 0 || dstCapacity < 0) return false;
    if ((src == nullptr && srcLength > 0) || (dst == nullptr && dstCapacity > 0)) return false;
    TArena arena = {static_cast<uint8_t*>(arenaBase),
                    arenaBase != nullptr && arenaSize > 0 ? static_cast<size_t>(arenaSize) : 0, 0};
    uint8_t none = 0;  // zlib wants non-null buffers even when they are empty
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    zs.zalloc = ArenaAlloc;
    zs.zfree = ArenaFree;
    zs.opaque = &arena;
    zs.next_in = src != nullptr ? static_cast<Bytef*>(const_cast<void*>(src)) : &none;
    zs.avail_in = static_cast<uInt>(srcLength);
    zs.next_out = dst != nullptr ? static_cast<Bytef*>(dst) : &none;
    zs.avail_out = static_cast<uInt>(dstCapacity);
    if (inflateInit(&zs) != Z_OK) return false;
    const int status = inflate(&zs, Z_FINISH);
    const int endStatus = inflateEnd(&zs);
    *produced = dstCapacity - static_cast<int32_t>(zs.avail_out);
    return status == Z_STREAM_END && endStatus == Z_OK;
}

// ---- Decoder state ----------------------------------------------------------

struct TDecoder {
    // Current block. `loaded` is false before the first block and whenever
    // the last one is used up.
    bool loaded = false;
    int32_t position = 0;
    int32_t length = 0;
    int64_t consumed = 0;  // 13 + stored length per block loaded

    // Streaming source and sinks.
    TPatchReadProc streamRead = nullptr;
    void* streamUser = nullptr;
    TPatchReadProc baseRead = nullptr;
    TPatchSeekProc baseSeek = nullptr;
    void* baseUser = nullptr;
    TPatchWriteProc write = nullptr;
    void* writeUser = nullptr;

    // Memory source and sinks (memory is true for the memory decoder).
    bool memory = false;
    const uint8_t* stream = nullptr;
    int64_t streamLength = 0;
    int64_t streamPosition = 0;
    const uint8_t* base = nullptr;
    int64_t baseLength = 0;
    uint8_t* output = nullptr;
    int64_t capacity = 0;
    int64_t outputCount = 0;
    bool overflow = false;

    uint32_t outputRegister = kRegisterStart;
    TPatchProgressProc progress = nullptr;
    int32_t total = -1;
    void* progressUser = nullptr;
};

int32_t ClampToInt32(int64_t v) {
    return v > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(v);
}

// Up to count bytes from the stream reader, calling it again while it
// delivers something; true when all count bytes arrived.
bool ReadStream(TDecoder& d, uint8_t* buffer, int32_t count) {
    int32_t have = 0;
    while (have < count) {
        int32_t got = 0;
        if (d.streamRead != nullptr) d.streamRead(buffer + have, count - have, &got, d.streamUser);
        if (got <= 0) break;
        have += got < count - have ? got : count - have;  // never count more than was asked
    }
    return have == count;
}

bool HeaderIsValid(const TBlockHeader& h) {
    if (h.method != kMethodStored && h.method != kMethodZlib) return false;
    if (h.decodedLength < 0 || h.decodedLength > kMaxBlockDecoded) return false;
    if (h.storedLength < 0) return false;
    return h.method != kMethodStored || h.storedLength == h.decodedLength;
}

// Inflates a block's stored bytes into the block buffer.
bool InflateIntoBlock(const uint8_t* stored, int32_t storedLength, int32_t decodedLength) {
    int32_t produced = 0;
    if (!Inflate(stored, storedLength, gBlockBuffer, decodedLength, gInflateArena, kInflateArenaSize, &produced)) {
        return false;
    }
    if (produced < decodedLength) std::memset(gBlockBuffer + produced, 0, decodedLength - produced);
    return true;
}

bool LoadBlockFromReader(TDecoder& d) {
    uint8_t raw[kBlockHeaderSize];
    if (!ReadStream(d, raw, kBlockHeaderSize)) return false;
    d.consumed += kBlockHeaderSize;
    const TBlockHeader h = UnpackBlockHeader(raw);
    if (!HeaderIsValid(h) || h.storedLength > kMaxBlockStored) return false;
    if (h.method == kMethodStored) {
        if (!ReadStream(d, gBlockBuffer, h.storedLength)) return false;
        if (Crc32Update(gBlockBuffer, h.storedLength, kRegisterStart) != h.checksum) return false;
    } else {
        if (!ReadStream(d, gStoredBuffer, h.storedLength)) return false;
        if (Crc32Update(gStoredBuffer, h.storedLength, kRegisterStart) != h.checksum) return false;
        if (!InflateIntoBlock(gStoredBuffer, h.storedLength, h.decodedLength)) return false;
    }
    d.consumed += h.storedLength;
    d.loaded = true;
    d.position = 0;
    d.length = h.decodedLength;
    return true;
}

bool LoadBlockFromMemory(TDecoder& d) {
    if (d.streamPosition + kBlockHeaderSize > d.streamLength) return false;
    const TBlockHeader h = UnpackBlockHeader(d.stream + d.streamPosition);
    d.streamPosition += kBlockHeaderSize;
    d.consumed += kBlockHeaderSize;
    if (!HeaderIsValid(h)) return false;
    if (d.streamPosition + h.storedLength > d.streamLength) return false;
    const uint8_t* stored = d.stream + d.streamPosition;
    if (Crc32Update(stored, h.storedLength, kRegisterStart) != h.checksum) return false;
    if (h.method == kMethodStored) {
        if (h.storedLength > 0) std::memcpy(gBlockBuffer, stored, h.storedLength);
    } else if (!InflateIntoBlock(stored, h.storedLength, h.decodedLength)) {
        return false;
    }
    d.streamPosition += h.storedLength;
    d.consumed += h.storedLength;
    d.loaded = true;
    d.position = 0;
    d.length = h.decodedLength;
    return true;
}

// Reads an n-byte little-endian field (n is 1 to 4) from the current block.
bool ReadField(TDecoder& d, int n, uint32_t* value) {
    if (!d.loaded && !(d.memory ? LoadBlockFromMemory(d) : LoadBlockFromReader(d))) return false;
    if (n < 0 || static_cast<int64_t>(d.position) + n > d.length) return false;
    const uint8_t* p = gBlockBuffer + d.position;
    uint32_t v = 0;
    for (int i = 0; i < n; i++) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    d.position += n;
    if (d.position == d.length) d.loaded = false;
    *value = v;
    return true;
}

// Fields are zero-extended into a signed 32-bit value: only a 4-byte field
// can come out negative.
bool IsNegative(uint32_t value) { return (value & 0x80000000u) != 0; }

// Appends bytes to the output and to its register. The memory decoder goes
// on counting past its capacity so that the full size can be reported.
bool Emit(TDecoder& d, const uint8_t* p, int32_t n) {
    if (n <= 0) return true;
    d.outputRegister = Crc32Update(p, n, d.outputRegister);
    if (!d.memory) {
        if (d.write != nullptr) d.write(p, n, d.writeUser);
        return true;
    }
    const int64_t newCount = d.outputCount + n;
    // Outputs are below 2^31 bytes; a stream that claims more is malformed
    // (and this bounds the work a hostile stream can ask for).
    if (newCount > std::numeric_limits<int32_t>::max()) return false;
    if (newCount > d.capacity) {
        d.overflow = true;
    } else {
        std::memcpy(d.output + d.outputCount, p, n);
    }
    d.outputCount = newCount;
    return true;
}

int32_t DecodeCopy(TDecoder& d, uint8_t cmd) {
    uint32_t offset = 0;
    uint32_t length = 0;
    if (!ReadField(d, CopyOffsetWidth(cmd), &offset)) return kDecodeMalformed;
    if (IsNegative(offset)) return kDecodeBadCommand;
    if (d.memory && offset >= d.baseLength) return kDecodeCopyOutsideBase;
    if (!ReadField(d, CommandLengthWidth(cmd), &length)) return kDecodeMalformed;
    if (IsNegative(length)) return kDecodeBadCommand;
    if (d.memory) {
        if (static_cast<int64_t>(offset) + length > d.baseLength) return kDecodeCopyOutsideBase;
        if (!Emit(d, d.base + offset, static_cast<int32_t>(length))) return kDecodeMalformed;
        return kDecodeOk;
    }
    // Streaming: the base passes through the stored-bytes buffer in chunks.
    if (d.baseSeek != nullptr) d.baseSeek(static_cast<int32_t>(offset), d.baseUser);
    int64_t obtained = 0;
    while (obtained < length) {
        const int64_t rest = length - obtained;
        const int32_t ask = static_cast<int32_t>(rest < kMaxBlockStored ? rest : kMaxBlockStored);
        int32_t got = 0;
        if (d.baseRead != nullptr) d.baseRead(gStoredBuffer, ask, &got, d.baseUser);
        if (got <= 0) break;
        if (got > ask) got = ask;
        Emit(d, gStoredBuffer, got);
        obtained += got;
    }
    return obtained < length ? kDecodeCopyOutsideBase : kDecodeOk;
}

int32_t DecodeLiteral(TDecoder& d, uint8_t cmd) {
    uint32_t length = 0;
    if (!ReadField(d, CommandLengthWidth(cmd), &length)) return kDecodeMalformed;
    if (IsNegative(length)) return kDecodeMalformed;
    // The data must lie in the current block, which must not be used up.
    if (!d.loaded || d.position >= d.length) return kDecodeMalformed;
    if (static_cast<int64_t>(d.position) + length > d.length) return kDecodeMalformed;
    if (!Emit(d, gBlockBuffer + d.position, static_cast<int32_t>(length))) return kDecodeMalformed;
    d.position += static_cast<int32_t>(length);
    if (d.position == d.length) d.loaded = false;
    return kDecodeOk;
}

void ReportProgress(const TDecoder& d) {
    if (d.progress != nullptr) d.progress(ClampToInt32(d.consumed), d.total, d.progressUser);
}

// The command loop shared by both decoders.
int32_t Decode(TDecoder& d) {
    d.loaded = false;
    d.outputRegister = kRegisterStart;
    for (;;) {
        uint32_t cmd = 0;
        if (!ReadField(d, 1, &cmd)) return kDecodeMalformed;
        int32_t status = kDecodeOk;
        if (cmd == kCmdEnd) {
            uint32_t checksum = 0;
            if (!ReadField(d, 4, &checksum)) return kDecodeMalformed;
            ReportProgress(d);
            if (checksum != d.outputRegister) return kDecodeEndChecksum;
            return d.overflow ? kDecodeOutputTooSmall : kDecodeOk;
        } else if (cmd >= kCmdCopyFirst && cmd <= kCmdCopyLast) {
            status = DecodeCopy(d, static_cast<uint8_t>(cmd));
        } else if (cmd >= kCmdLiteralFirst && cmd <= kCmdLiteralLast) {
            status = DecodeLiteral(d, static_cast<uint8_t>(cmd));
        } else {
            status = kDecodeBadCommand;
        }
        if (status != kDecodeOk) return status;
        ReportProgress(d);
    }
}

// DecodeEntryStream's adapters: an empty base, and the entry reader and
// writer behind the streaming decoder's callbacks.
struct TEntryCallbacks {
    TEntryReadProc reader;
    TEntryWriteProc writer;
    void* context;
};

void EntryStreamRead(void* buffer, int32_t count, int32_t* got, void* user) {
    const auto* e = static_cast<const TEntryCallbacks*>(user);
    *got = e->reader != nullptr ? e->reader(buffer, count, e->context) : 0;
}

void EntryWrite(const void* buffer, int32_t count, void* user) {
    const auto* e = static_cast<const TEntryCallbacks*>(user);
    if (e->writer != nullptr) e->writer(buffer, count, e->context);
}

void EmptyBaseRead(void*, int32_t, int32_t* got, void*) { *got = 0; }
void EmptyBaseSeek(int32_t, void*) {}

}  // namespace

bool InflateBlock(const void* src, int32_t srcLength, void* dst, int32_t dstCapacity, void* arena, int32_t arenaSize) {
    int32_t produced = 0;
    return Inflate(src, srcLength, dst, dstCapacity, arena, arenaSize, &produced);
}

int32_t ApplyPatchStream(TPatchReadProc baseRead, TPatchSeekProc baseSeek, void* baseUser, TPatchWriteProc write,
                         void* writeUser, TPatchReadProc streamRead, int32_t totalStreamSize, void* streamUser,
                         TPatchProgressProc progress, void* progressUser) {
    TDecoder d;
    d.baseRead = baseRead;
    d.baseSeek = baseSeek;
    d.baseUser = baseUser;
    d.write = write;
    d.writeUser = writeUser;
    d.streamRead = streamRead;
    d.streamUser = streamUser;
    d.total = totalStreamSize;
    d.progress = progress;
    d.progressUser = progressUser;
    return Decode(d);
}

int32_t ApplyPatchBuffer(const void* base, int32_t baseLength, void* output, int32_t* outputSize, const void* stream,
                         int32_t streamLength, TPatchProgressProc progress, void* progressUser) {
    TDecoder d;
    d.memory = true;
    d.base = static_cast<const uint8_t*>(base);
    d.baseLength = base != nullptr && baseLength > 0 ? baseLength : 0;
    d.output = static_cast<uint8_t*>(output);
    d.capacity = output != nullptr && outputSize != nullptr && *outputSize > 0 ? *outputSize : 0;
    d.stream = static_cast<const uint8_t*>(stream);
    d.streamLength = stream != nullptr && streamLength > 0 ? streamLength : 0;
    d.total = streamLength;
    d.progress = progress;
    d.progressUser = progressUser;
    const int32_t result = Decode(d);
    if (outputSize != nullptr) *outputSize = static_cast<int32_t>(d.outputCount);
    return result;
}

int32_t DecodeEntryStream(TEntryReadProc reader, TEntryWriteProc writer, void* context) {
    TEntryCallbacks callbacks = {reader, writer, context};
    const int32_t result = ApplyPatchStream(EmptyBaseRead, EmptyBaseSeek, nullptr, EntryWrite, &callbacks,
                                            EntryStreamRead, -1, &callbacks, nullptr, nullptr);
    return result == kDecodeOk ? kDecodeOk : kDecodeEntryFailed;
}
