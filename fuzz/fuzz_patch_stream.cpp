// The streaming decoder (ApplyPatchStream or DecodeEntryStream) on any
// input, with readers that deliver odd chunk sizes. Only result codes may
// come out, and whatever the memory decoder accepts the streaming decoder
// must accept with the same output.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CRC_32.h"
#include "VozDecode.h"
#include "VozFormat.h"
#include "fuzz_input.h"

namespace {

// A reader over one buffer whose chunk sizes follow a small generator.
struct TOddReader {
    const std::vector<uint8_t>* data;
    size_t position;
    uint32_t state;
    int32_t Take(void* buffer, int32_t count) {
        if (count <= 0) std::abort();  // the decoders never ask for nothing
        state = state * 1103515245u + 12345u;
        static const int32_t kChunks[] = {1, 2, 3, 5, 7, 13, 64, 4096, 1 << 20, 1 << 30};
        int32_t n = kChunks[(state >> 16) % 10];
        if (n > count) n = count;
        const size_t left = data->size() - position;
        if (static_cast<size_t>(n) > left) n = static_cast<int32_t>(left);
        if (n > 0) std::memcpy(buffer, data->data() + position, static_cast<size_t>(n));
        position += static_cast<size_t>(n);
        return n;
    }
};

void ReadProc(void* buffer, int32_t count, int32_t* got, void* user) {
    *got = static_cast<TOddReader*>(user)->Take(buffer, count);
}

void SeekProc(int32_t offset, void* user) {
    auto* r = static_cast<TOddReader*>(user);
    if (offset < 0) std::abort();  // negative offsets are refused before a seek
    r->position = std::min(static_cast<size_t>(offset), r->data->size());
}

struct TOutput {
    int64_t count;
    uint32_t reg;
};

void WriteProc(const void* buffer, int32_t count, void* user) {
    auto* o = static_cast<TOutput*>(user);
    if (count <= 0) std::abort();
    o->count += count;
    o->reg = Crc32Update(buffer, count, o->reg);
}

struct TEntryContext {
    TOddReader reader;
    TOutput output;
};

int32_t EntryReadProc(void* buffer, int32_t count, void* context) {
    return static_cast<TEntryContext*>(context)->reader.Take(buffer, count);
}

void EntryWriteProc(const void* buffer, int32_t count, void* context) {
    WriteProc(buffer, count, &static_cast<TEntryContext*>(context)->output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kStreamInputHeader) return 0;
    const uint8_t mode = data[0];
    const bool entry = (mode & 1) != 0;
    TFuzzParts parts = SplitFuzzInput(data, size, kStreamInputHeader);
    if (entry) parts.base.clear();

    TOutput output = {0, kRegisterStart};
    int32_t code;
    if (entry) {
        TEntryContext context = {{&parts.stream, 0, mode}, {0, kRegisterStart}};
        code = DecodeEntryStream(EntryReadProc, EntryWriteProc, &context);
        if (code != kDecodeOk && code != kDecodeEntryFailed) std::abort();
        output = context.output;
    } else {
        TOddReader base = {&parts.base, 0, mode * 7u + 1};
        TOddReader stream = {&parts.stream, 0, mode};
        code = ApplyPatchStream(ReadProc, SeekProc, &base, WriteProc, &output, ReadProc,
                                static_cast<int32_t>(parts.stream.size()), &stream, nullptr, nullptr);
        if (code < kDecodeEndChecksum || code > kDecodeOk) std::abort();
    }

    // The memory decoder checks more than the streaming one (a copy's offset
    // must lie inside the base even for length 0), so its successes carry over.
    static std::vector<uint8_t> memory(static_cast<size_t>(kLargeCapacity));  // made once: fast runs
    int32_t produced = kLargeCapacity;
    const int32_t memoryCode =
        ApplyPatchBuffer(parts.base.data(), static_cast<int32_t>(parts.base.size()), memory.data(), &produced,
                         parts.stream.data(), static_cast<int32_t>(parts.stream.size()), nullptr, nullptr);
    if (memoryCode == kDecodeOk) {
        if (code != kDecodeOk || output.count != produced ||
            output.reg != Crc32Update(memory.data(), produced, kRegisterStart)) {
            std::abort();
        }
    }
    return 0;
}
