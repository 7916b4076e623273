// vozpack: the packaging tool. Writes setup files and bare archives, lists,
// tests and extracts them, and makes and applies patches. One portable
// source for Linux and Windows; the format itself comes from the codec core
// (archive/Voz*.h), nothing of it is restated here.
//
// Exit statuses: 0 success, 1 usage or input/output error, 2 a format
// failure (an archive or patch that does not decode or verify). Every
// failure prints one line "vozpack: <what went wrong>" on stderr; format
// failures end it with " (code -N)".
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "VozCall.h"

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;   // usage, input or output error
constexpr int kExitFormat = 2;  // the archive or patch is bad

// The command line: argv[1] is the command. Returns the exit status.
int VozpackMain(int argc, char** argv);

// ---- Compression ------------------------------------------------------------

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
                  std::vector<std::vector<uint8_t>>* blocks, TBlockProgressProc progress,
                  void* progressUser);

// Runs work(i) for every i below count on up to threads threads (0: one per
// core), the calling thread among them; returns when all are done.
void ParallelFor(size_t count, int threads, void(VOZ_CDECL* work)(size_t index, void* user), void* user);

// ---- DOS time stamps (local time) ------------------------------------------

// A DOS stamp from broken-down local time; years before 1980 clamp to
// 1980-01-01 00:00:00, years after 2107 to 2107-12-31 23:59:58; seconds are
// rounded down to the 2-second resolution.
uint32_t DosStampFromParts(int year, int month, int day, int hour, int minute, int second);

// The stamp's fields; false when they do not form a valid date and time.
struct TDosParts {
  int year, month, day, hour, minute, second;
};
bool DosStampToParts(uint32_t stamp, TDosParts* parts);

// ---- Patches -----------------------------------------------------------------

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
bool MatchDelta(const uint8_t* base, size_t baseLength, const uint8_t* target, size_t targetLength,
                int threads, std::vector<TDeltaCommand>* commands);

// A whole patch: the matched commands, encoded as a command stream whose
// blocks are compressed with options. False when an input is too large for
// the format (2 GiB or more), memory runs out or encoding fails.
bool MakePatch(const uint8_t* base, size_t baseLength, const uint8_t* target, size_t targetLength,
               const TCompressOptions& options, std::vector<uint8_t>* patch);

// Text for a decoder result code (-1..-5).
const char* DecodeResultText(int32_t code);
