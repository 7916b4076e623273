// The memory decoder on any input: only result codes may come out, and the
// output-size rules must hold (a -5 run reports the size that a second run
// then decodes into exactly).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "VozDecode.h"
#include "VozFormat.h"
#include "fuzz_input.h"

namespace {

struct TProgressCheck {
    int32_t total;
    int32_t last;
};

void CheckProgress(int32_t consumed, int32_t total, void* user) {
    auto* p = static_cast<TProgressCheck*>(user);
    // Consumed bytes only grow and never pass the stream's end.
    if (total != p->total || consumed < p->last || consumed > total) std::abort();
    p->last = consumed;
}

int32_t Decode(const TFuzzParts& parts, std::vector<uint8_t>* output, int32_t* size) {
    TProgressCheck progress = {static_cast<int32_t>(parts.stream.size()), 0};
    return ApplyPatchBuffer(parts.base.data(), static_cast<int32_t>(parts.base.size()), output->data(), size,
                            parts.stream.data(), static_cast<int32_t>(parts.stream.size()), CheckProgress, &progress);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kBufferInputHeader) return 0;
    const uint16_t capacityCode = FuzzU16(data);
    const int32_t capacity = capacityCode == kLargeCapacityCode ? kLargeCapacity : capacityCode;
    const TFuzzParts parts = SplitFuzzInput(data, size, kBufferInputHeader);

    // An output of exactly the capacity, so that a write past it is caught;
    // the large one is made once and cleared, which keeps the runs fast.
    static std::vector<uint8_t> large(static_cast<size_t>(kLargeCapacity));
    std::vector<uint8_t> small;
    std::vector<uint8_t>* outputBuffer = &large;
    if (capacity == kLargeCapacity) {
        std::fill(large.begin(), large.end(), 0);
    } else {
        small.assign(static_cast<size_t>(capacity), 0);
        outputBuffer = &small;
    }
    std::vector<uint8_t>& output = *outputBuffer;
    int32_t produced = capacity;
    const int32_t code = Decode(parts, &output, &produced);
    if (code < kDecodeOutputTooSmall || code > kDecodeOk) std::abort();
    if (produced < 0) std::abort();
    if (code == kDecodeOk && produced > capacity) std::abort();
    if (code == kDecodeOutputTooSmall) {
        if (produced <= capacity) std::abort();
        // The second pass with the reported size must succeed with that size
        // and agree with every byte the first pass wrote.
        if (produced > (4 << 20)) return 0;  // keeps the runs fast
        std::vector<uint8_t> exact(static_cast<size_t>(produced));
        int32_t again = produced;
        if (Decode(parts, &exact, &again) != kDecodeOk || again != produced) std::abort();
        // The first pass wrote a prefix of the output (whole writes that fit)
        // and left the rest of its buffer as it was (zero).
        size_t same = 0;
        while (same < output.size() && output[same] == exact[same]) same++;
        for (size_t i = same; i < output.size(); i++) {
            if (output[i] != 0) std::abort();
        }
    }
    return 0;
}
