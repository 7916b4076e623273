// vozpack diff and patch: the matcher, the patch writer, and the two
// commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PackCompress.h"
#include "PackPlatform.h"

// The matcher's result before encoding: copy (base offset, length) and
// literal (target offset, length) commands that rebuild the target in order.
struct TDeltaCommand {
    bool copy;
    uint32_t offset;  // base offset for a copy, target offset for a literal
    uint32_t length;
};

// Finds copies from base for target: the commands whose encoded stream the
// matcher expects to compress smallest. Deterministic; threads only share
// the work on fixed segment bounds. Needs about five bytes of memory per
// base byte and some 30 MB per thread; false when memory runs out.
bool MatchDelta(const uint8_t* base, size_t baseLength, const uint8_t* target, size_t targetLength, int threads,
                std::vector<TDeltaCommand>* commands);

// A whole patch: the matched commands, encoded as a command stream whose
// blocks are compressed with options. False when an input is too large for
// the format (2 GiB or more), memory runs out or encoding fails.
bool MakePatch(const uint8_t* base, size_t baseLength, const uint8_t* target, size_t targetLength,
               const TCompressOptions& options, std::vector<uint8_t>* patch);

// Text for a decoder result code (-1..-5).
const char* DecodeResultText(int32_t code);

// vozpack diff: a patch that rebuilds target from reference, checked with
// the decoder before it is written. Returns the exit status.
int DiffCommand(const fs::path& reference, const fs::path& target, const fs::path& patch,
                const TCompressOptions& options);
// vozpack patch: reference and patch into out, which is replaced only by a
// verified result. Returns the exit status.
int PatchCommand(const fs::path& reference, const fs::path& patch, const fs::path& out);
