// The writer side of the format: entry streams from content, command
// streams from copy and literal commands (patches), and archive bodies.
// Every stream it writes decodes with VozDecode.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "VozFormat.h"

// How blocks are made. level 0 stores every block; 1..9 compresses with
// zlib at that level and keeps a block stored when compression does not
// make it smaller. blockSize is the number of command bytes per block
// (at most kMaxBlockDecoded).
struct TEncodeOptions {
    int level = 6;
    int32_t blockSize = kMaxBlockDecoded;
};

// Appends one finished block (header and stored bytes) holding the given
// command bytes to out, stored or compressed as the options say. Blocks are
// independent of each other, so callers may make them on several threads.
bool EncodeBlock(const uint8_t* commands, int32_t length, const TEncodeOptions& options, std::vector<uint8_t>* out);

// Command bytes, gathered with field boundaries in mind: a command never
// has a field cut by a block end, and a literal's data lies in the block
// of its length field. SplitIntoBlocks hands back the [begin, end) ranges of
// the command bytes, each at most blockSize long.
//
// This writer keeps every command whole inside one block (a literal's
// command byte, length field and data; a copy's three parts; the end command
// and its checksum), so a block holds at least kMinCommandBlockSize bytes.
constexpr int32_t kMinCommandBlockSize = 9;  // 1 + 4 + 4: the longest copy command
struct TCommandWriter {
    std::vector<uint8_t> bytes;
    std::vector<size_t> blockEnds;  // ends of the blocks closed so far; the last runs to bytes.size()
    int32_t blockSize = kMaxBlockDecoded;
    uint32_t outputRegister = kRegisterStart;  // over everything the commands produce
    bool failed = false;                       // a command could not be expressed; EncodeCommands then fails
};
// blockSize is clamped to [kMinCommandBlockSize, kMaxBlockDecoded].
void BeginCommands(TCommandWriter* w, int32_t blockSize);
// As many literal commands as the blocks need; a length of 0 writes nothing.
void AddLiteral(TCommandWriter* w, const uint8_t* data, size_t length);
// Copies base[offset, offset + length) with the smallest field widths. Both
// values must be below 2^31, else the writer is marked failed.
void AddCopy(TCommandWriter* w, const uint8_t* base, uint32_t offset, uint32_t length);
void AddEnd(TCommandWriter* w);
std::vector<std::pair<size_t, size_t>> SplitIntoBlocks(const TCommandWriter& w);

// Packs the commands into blocks (EncodeBlock per block).
bool EncodeCommands(const TCommandWriter& w, const TEncodeOptions& options, std::vector<uint8_t>* out);

// An entry stream for the archive: literal and end commands only.
bool EncodeEntryStream(const uint8_t* content, size_t length, const TEncodeOptions& options, std::vector<uint8_t>* out);

// Appends one archive entry (name length, name, header, stream) to a plain
// body. Fails for names the format cannot carry (empty, over 65,535 bytes).
struct TArchiveEntry {
    std::string name;  // relative, "\" as separator
    uint32_t timeStamp = 0;
    uint32_t attributes = 0x20;
    std::vector<uint8_t> content;
};
bool AppendArchiveEntry(std::vector<uint8_t>* body, const std::string& name, const TEntryHeader& h,
                        const uint8_t* stream, size_t streamLength);

// Body plus trailer, scrambled with the password's keystream: the archive
// as it follows the marker.
std::vector<uint8_t> FinishArchive(std::vector<uint8_t> body, const char* password, size_t passwordLength);

// Convenience for tests and tools: a whole archive from entries.
bool BuildArchive(const std::vector<TArchiveEntry>& entries, const TEncodeOptions& options,
                  std::vector<uint8_t>* archive);
