// The vozip format in one place: block header, command bytes, limits, entry
// header, marker and scrambling constants. The decoder, the writer, the setup
// and vozpack all take their numbers from here; nothing restates them.
#pragma once

#include <cstddef>
#include <cstdint>

// Every multi-byte field of the format, and of the PE headers the locator
// reads, is little-endian; these are the project's readers and writer for them.
inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// ---- Blocks -------------------------------------------------------------
// An entry stream is a run of blocks. Each block: a 13-byte header, then its
// stored bytes. Method 0 stores the decoded bytes as they are; method 1 holds
// one zlib stream (RFC 1950) that inflates to exactly the decoded length.
constexpr int kBlockHeaderSize = 13;
constexpr uint8_t kMethodStored = 0;
constexpr uint8_t kMethodZlib = 1;
constexpr int32_t kMaxBlockDecoded = 0x200040;  // 2,097,216 decoded bytes
constexpr int32_t kMaxBlockStored = 0x200400;   // 2,098,176 stored bytes
constexpr int32_t kInflateArenaSize = 0x20001;  // zlib's allocations come from here first

struct TBlockHeader {
    uint8_t method;
    int32_t decodedLength;
    int32_t storedLength;
    uint32_t checksum;  // register over the stored bytes
};

// Little-endian packing of the 13 header bytes.
void PackBlockHeader(const TBlockHeader& h, uint8_t out[kBlockHeaderSize]);
TBlockHeader UnpackBlockHeader(const uint8_t in[kBlockHeaderSize]);

// ---- Commands -----------------------------------------------------------
// Command byte 0x00 ends the stream (4-byte register over the output follows).
// 0x10..0x1F copy from base: offset of w1 bytes, length of w2 bytes.
// 0x20..0x23 literal: length of w2 bytes, then the data.
// w1 = ((cmd & 0x0F) >> 2) + 1, w2 = (cmd & 3) + 1.
constexpr uint8_t kCmdEnd = 0x00;
constexpr uint8_t kCmdCopyFirst = 0x10;
constexpr uint8_t kCmdCopyLast = 0x1F;
constexpr uint8_t kCmdLiteralFirst = 0x20;
constexpr uint8_t kCmdLiteralLast = 0x23;

constexpr int CopyOffsetWidth(uint8_t cmd) { return ((cmd & 0x0F) >> 2) + 1; }
constexpr int CommandLengthWidth(uint8_t cmd) { return (cmd & 3) + 1; }
// Smallest field width (1..4) that holds v.
constexpr int FieldWidthFor(uint32_t v) { return v <= 0xFFu ? 1 : v <= 0xFFFFu ? 2 : v <= 0xFFFFFFu ? 3 : 4; }
constexpr uint8_t LiteralCommand(int lengthWidth) { return static_cast<uint8_t>(kCmdLiteralFirst + (lengthWidth - 1)); }
constexpr uint8_t CopyCommand(int offsetWidth, int lengthWidth) {
    return static_cast<uint8_t>(kCmdCopyFirst + ((offsetWidth - 1) << 2) + (lengthWidth - 1));
}

// Every checksum of the format is a CRC-32 register started here and stored
// without the final inversion.
constexpr uint32_t kRegisterStart = 0xFFFFFFFFu;

// ---- Decoder result codes -----------------------------------------------
constexpr int32_t kDecodeOk = 0;
constexpr int32_t kDecodeMalformed = -1;   // short or malformed stream
constexpr int32_t kDecodeBadCommand = -2;  // invalid command, negative copy field
constexpr int32_t kDecodeCopyOutsideBase = -3;
constexpr int32_t kDecodeEndChecksum = -4;
constexpr int32_t kDecodeOutputTooSmall = -5;  // memory decoder only
constexpr int32_t kDecodeEntryFailed = 3;      // DecodeEntryStream's one failure code

// ---- Archive ------------------------------------------------------------
// Body: entries back to back, each u16 name length, name, TEntryHeader,
// entry stream. Trailer: u32 register over the plain body. Body scrambled.
constexpr int kEntryHeaderSize = 20;
constexpr int kTrailerSize = 4;
constexpr uint32_t kMaxNameLength = 65535;
constexpr uint32_t kMaxEntrySize = 0x7FFFFFFFu;  // sizes are below 2^31

struct TEntryHeader {
    uint32_t timeStamp;    // DOS date (high 16) and time (low 16), local time
    uint32_t contentSize;  // decoded bytes
    uint32_t attributes;   // Windows attribute bits
    uint32_t storedSize;   // bytes of the entry stream
    uint32_t checksum;     // register over the decoded content
};

void PackEntryHeader(const TEntryHeader& h, uint8_t out[kEntryHeaderSize]);
TEntryHeader UnpackEntryHeader(const uint8_t in[kEntryHeaderSize]);

// The marker as the setup program stores it. The program upper-cases it at
// start-up, and the packaging tool writes the upper-case form, so the
// program's own image never holds a copy that the search would match.
constexpr char kMarkerLowerCase[] = "<vozip file begins here>";
constexpr int kMarkerLength = 24;
static_assert(sizeof(kMarkerLowerCase) == kMarkerLength + 1, "marker is 24 bytes");

// Keystream generator: state = state * kScrambleMultiplier + 1, key = state >> 24.
constexpr uint32_t kScrambleMultiplier = 0x08088405u;

// Extraction reads the archive body in chunks of this size.
constexpr int32_t kUnscrambleChunk = 12596;

// Entry names. The setup joins a name to the destination folder as it
// stands, and Windows reads the result with its own rules, so a name is
// refused when the file it would make is not the one it says:
// - it is empty, or starts with "\" or "/" (absolute);
// - it holds ":" (a drive letter or a stream), a byte below 0x20 or one of
//   the characters Windows forbids in names (*?<>|");
// - a component is empty ("a\\b", "a\"), consists of dots and blanks with
//   two or more dots (".." and what Windows trims to it), or is the last
//   component and just "." (a folder, not a file);
// - a component ends in a dot or a blank, which Windows drops, so that the
//   entry would land on another name ("a.", "a ");
// - a component is a reserved device name (CON, PRN, AUX, NUL, CONIN$,
//   CONOUT$, COM1-COM9, LPT1-LPT9 and their superscript-digit forms, with or
//   without an extension, any letter case). COM0 and LPT0 are ordinary names:
//   Windows maps only the digits 1 to 9 (and the superscripts) to devices;
// - its first component is the setup's own temporary file, kSetupTempName,
//   in any letter case: the setup copies the archive there while it
//   extracts, so such an entry could never be written.
// A "." in the middle ("a\.\b") is dropped by Windows and harmless.
enum class TEntryNameProblem {
    None,
    Empty,
    Absolute,
    Colon,
    ForbiddenCharacter,
    EmptyComponent,
    ParentComponent,
    FolderItself,
    TrailingDotOrBlank,
    DeviceName,
    SetupTempFile,
};
TEntryNameProblem CheckEntryName(const char* name, size_t length);
// One line for a message: why such a name is refused.
const char* EntryNameProblemText(TEntryNameProblem problem);
// CheckEntryName(...) == TEntryNameProblem::None.
bool IsSafeEntryName(const char* name, size_t length);

// The file the setup copies its archive into, in the destination folder.
constexpr char kSetupTempName[] = "tempfile.$$$";
