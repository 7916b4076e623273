// The archive reader shared by the setup and vozpack: where the archive lies
// in a file, the body check, the walk over the entries with every check of
// an entry, and the limits of a patch's output. Portable: all input comes
// through callbacks, so the setup reads with Win32 handles and vozpack with
// stdio, and both answer the same for the same bytes.
//
// Result codes (the setup's ExtractArchive returns them as they stand):
//    0 kExtractOk            done
//   -1 kExtractCannotOpen    no archive path, or it cannot be opened (setup)
//   -2 kExtractCannotCreate  no destination, or an entry's file cannot be made
//                            (a visitor's answer; the reader never makes files)
//   -3 kExtractIoError       a read of the archive or a write of an entry failed
//   -5 kExtractBodyChecksum  the body checksum does not match, or the archive
//                            is shorter than its trailer
//   -6 kExtractEntryFailed   an entry is malformed or does not verify
//
// Format notes:
// - A setup file is the program image, the upper-case marker, the scrambled
//   body and the 4-byte trailer. A file without the marker is read as a bare
//   archive from its first byte (for the setup's own file it then fails the
//   body checksum).
// - A program signed after packaging carries its certificate table (PE data
//   directory 4: a file offset and a size) behind the trailer. The archive
//   then ends where the table starts, but only when the table runs exactly
//   to the end of the file, starts at or after the archive, and the PE
//   headers that name it lie wholly in the program image before the marker:
//   headers read out of the archive's own bytes are not the program's.
// - Entries: u16 name length (1..65,535), the name, the 20-byte TEntryHeader,
//   the entry stream of its stored size. A header or stream that runs past
//   the body's end fails the entry before the visitor sees it.
// - An empty file may be stored as exactly four bytes that are no stream:
//   they are read, not decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "VozCall.h"
#include "VozFormat.h"

constexpr int32_t kExtractOk = 0;
constexpr int32_t kExtractCannotOpen = -1;
constexpr int32_t kExtractCannotCreate = -2;
constexpr int32_t kExtractIoError = -3;
constexpr int32_t kExtractBodyChecksum = -5;
constexpr int32_t kExtractEntryFailed = -6;

// ---- Locating the archive in a file ------------------------------------

// The marker search reads the file in chunks of this size, each but the
// first starting a marker length before the previous one ended.
constexpr uint32_t kLocateChunk = 65536;

// Reads up to count bytes at offset into buffer. Returns the bytes read,
// fewer only at the end of the file, or -1 on an input error.
typedef int64_t(VOZ_CDECL* TSourceReadProc)(uint64_t offset, void* buffer, uint32_t count, void* user);

// Where the archive lies in a file.
struct TArchiveSpan {
    uint64_t start = 0;  // first byte after the marker; 0 without one
    uint64_t end = 0;    // the file's size, or where its certificate table starts
    bool hasMarker = false;
    bool signedFile = false;  // end was set by a certificate table
};

// The marker as setup files carry it: kMarkerLowerCase with a..z made upper
// case. Built at run time, so no program image holds a copy that a search
// would match.
std::string UpperCaseMarker();

// Offset of the first occurrence of marker in data, or -1 (also for an
// empty marker).
int64_t FindMarker(const uint8_t* data, size_t length, const std::string& marker);

// What the PE headers of a file say about its certificate table.
struct TCertificateTable {
    uint64_t offset = 0;  // file offset of the table
    uint64_t size = 0;
    uint64_t headersEnd = 0;  // file offset just past the security directory entry
};

// Reads the DOS header, the PE signature, the file header and the optional
// header up to the security directory entry. True with *table set when the
// file is a PE image (PE32 or PE32+) whose headers hold that entry (the
// optional header is large enough, the directory count covers it) and name a
// table of non-zero offset and size. False when anything is missing or does
// not add up; *inputError tells an input error apart.
bool ReadCertificateTable(TSourceReadProc read, void* user, uint64_t fileSize, TCertificateTable* table,
                          bool* inputError);

// ReadCertificateTable over the first headLength bytes of a file in memory.
bool FindCertificateTable(const uint8_t* head, size_t headLength, TCertificateTable* table);

// Called before each chunk of the marker search (the setup keeps its
// windows alive there).
typedef void(VOZ_CDECL* TSearchChunkProc)(void* user);

// Finds the archive in a file of fileSize bytes: behind the first
// occurrence of marker, and up to a certificate table that follows it (see
// the format notes). marker is passed in so the setup can keep its own
// rule that nothing is searched before its module is initialised; an empty
// marker matches nothing, and the whole file is then the archive. read is
// called once per chunk of the search, in file order, then for the PE
// headers; onChunk (may be null) before each chunk of the search. False on
// an input error, or when a read of the search returns fewer bytes than the
// file's size promised (a file that shrank or a failing device: going on
// could step back forever).
bool LocateArchive(TSourceReadProc read, void* user, uint64_t fileSize, const std::string& marker, TArchiveSpan* span,
                   TSearchChunkProc onChunk = nullptr);

// ---- The body --------------------------------------------------------------

// Receives count unscrambled body bytes that belong at offset (relative to
// the archive's start); false on an output error.
typedef bool(VOZ_CDECL* TBodyWriteBackProc)(uint64_t offset, const void* buffer, uint32_t count, void* user);

// Unscrambles the archive's body (offsets from the archive's start, so the
// adapter adds where the archive lies), in chunks of kUnscrambleChunk,
// keeping the register over the plain bytes, and compares it with the
// trailer. writeBack may be null; otherwise every plain chunk goes to it
// (the setup unscrambles its copy in place). password may be null.
//
// Returns 0, -3 (a read that fails or ends early, a failing write-back) or
// -5. An archive shorter than its trailer gives -5; bytes missing from a
// short trailer count as zero.
int32_t CheckArchiveBody(TSourceReadProc read, TBodyWriteBackProc writeBack, void* user, uint64_t archiveLength,
                         const char* password);

// ---- The entries -------------------------------------------------------------

// Reads up to count plain body bytes, in order; returns the bytes read (the
// walker never asks past the body's end) or -1 on an input error.
typedef int64_t(VOZ_CDECL* TBodyReadProc)(void* buffer, uint32_t count, void* user);

struct TEntryInfo {
    std::string name;
    TEntryHeader header;
    uint64_t streamOffset;  // where its stream starts, from the archive's start
};

// Why the walk stopped at an entry (None for 0 and for a visitor's code).
enum class TEntryFault {
    None,
    InputError,       // -3: the read callback failed
    OutputError,      // -3: the visitor's write failed
    HeaderPastEnd,    // the name length, name or header runs past the body's end
    EmptyName,        // a name length of 0
    StreamPastEnd,    // the stored size runs past the body's end
    NameRefused,      // CheckEntryName refuses the name: see nameProblem
    TooMuchContent,   // the stream decodes to more than the content size
    DoesNotDecode,    // the decoder failed: see decodeCode
    StoredSize,       // the stream ended before its stored size
    ContentSize,      // fewer bytes than the content size
    ContentChecksum,  // the register over the content differs
};
// One line for a message ("the content checksum does not match").
const char* EntryFaultText(TEntryFault fault);

// What the walk does with each entry. Callbacks get user.
struct TEntryVisitor {
    // True: every entry is decoded and verified, and a name that
    // CheckEntryName refuses fails the entry (-6) before begin is called.
    // False: entries are only read past (listing), whatever their names.
    bool decode = true;
    // Called once the entry's name and header are read and its stream fits
    // the body. Returns 0, or a code that ends the walk (before anything of
    // the entry is decoded). May be null.
    int32_t(VOZ_CDECL* begin)(const TEntryInfo& entry, void* user) = nullptr;
    // Decoded bytes, never past the content size: called once per write of
    // the decoder, count 0 when that write lay wholly past it. False on an
    // output error: the decoder then gets no more input. May be null.
    bool(VOZ_CDECL* write)(const void* data, int32_t count, void* user) = nullptr;
    // The entry decoded and verified (or was read past). Returns 0 or a code
    // that ends the walk. May be null.
    int32_t(VOZ_CDECL* finish)(const TEntryInfo& entry, void* user) = nullptr;
    // The entry failed after begin returned 0 (its output is to go). May be null.
    void(VOZ_CDECL* abandon)(const TEntryInfo& entry, void* user) = nullptr;
    void* user = nullptr;
};

struct TWalkResult {
    int32_t code = kExtractOk;
    TEntryFault fault = TEntryFault::None;
    TEntryNameProblem nameProblem = TEntryNameProblem::None;  // with NameRefused
    int32_t decodeCode = kDecodeOk;                           // with DoesNotDecode: -1..-4
    std::string name;                                         // the entry it stopped at, once its name was read
    TEntryHeader header = {};                                 // and its header, once that was read
    uint64_t entries = 0;                                     // entries finished
    uint64_t contentBytes = 0;                                // their content sizes added
};

// Walks the plain body of bodyLength bytes (the archive less its trailer),
// which read delivers from its first byte. Each entry: its name length
// (0 fails), name and header must lie inside the body, and so must its
// stream; then begin; then, with decode, the stream is decoded (the
// decoder's module state is taken: not from inside its callbacks) and must
// produce exactly the content size with the content checksum and use
// exactly the stored size, else -6 and abandon; then finish. Without decode
// the stream is read past. The first failure ends the walk: its code,
// fault and entry name are in the result. The empty body is a walk over no
// entries.
TWalkResult WalkArchiveEntries(TBodyReadProc read, void* readUser, uint64_t bodyLength, const TEntryVisitor& visitor);

// ---- Patch outputs -----------------------------------------------------------

// A patch's output stays below 2 GiB like every size the decoders handle:
// kMaxPatchOutput bytes are allowed, one more is not.
constexpr int64_t kMaxPatchOutput = INT32_MAX;
// The first output buffer for a patch in memory: the reference's length
// plus 256 KiB.
constexpr int64_t kPatchExtraCapacity = 0x40000;

// True when an output of bytes fits a patch's limit.
constexpr bool PatchOutputFits(int64_t bytes) { return bytes >= 0 && bytes <= kMaxPatchOutput; }
// The first buffer for a patch over a reference of referenceLength bytes:
// referenceLength + 256 KiB, but never past kMaxPatchOutput (a reference
// near 2 GiB would otherwise ask for a buffer no decoder fills).
int32_t FirstPatchCapacity(uint64_t referenceLength);
