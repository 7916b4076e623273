// The archive reader: locating, the body check and the entry walk.
#include "VozReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "CRC_32.h"
#include "Scramble.h"
#include "VozDecode.h"

namespace {

// The PE layout up to the security directory entry. Directory 4 holds a
// file offset, not a virtual address.
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kLfanewOffset = 0x3C;
constexpr uint32_t kSignatureSize = 4;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSizeOfOptionalHeaderOffset = 16;  // within the file header
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kDirCountOffset32 = 92, kDirsOffset32 = 96;
constexpr uint32_t kDirCountOffset64 = 108, kDirsOffset64 = 112;
constexpr uint32_t kSecurityDir = 4;
constexpr uint32_t kDirEntrySize = 8;
// Enough for the headers up to the security entry of either kind.
constexpr uint32_t kHeadSize = kSignatureSize + kFileHeaderSize + kDirsOffset64 + (kSecurityDir + 1) * kDirEntrySize;

struct TMemorySource {
    const uint8_t* data;
    size_t length;
};

int64_t VOZ_CDECL ReadMemory(uint64_t offset, void* buffer, uint32_t count, void* user) {
    const auto* m = static_cast<const TMemorySource*>(user);
    if (offset >= m->length) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, m->length - offset));
    std::memcpy(buffer, m->data + offset, n);
    return static_cast<int64_t>(n);
}

// First marker at or after the file's start; 0 in *start without one.
bool SearchMarker(TSourceReadProc read, void* user, uint64_t fileSize, const std::string& marker, TArchiveSpan* span,
                  TSearchChunkProc onChunk) {
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(kLocateChunk, fileSize)));
    const uint64_t markerLength = marker.size();
    uint64_t pos = 0;
    while (pos < fileSize) {
        if (onChunk != nullptr) onChunk(user);
        if (pos > 0) pos -= std::min(pos, markerLength);
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kLocateChunk, fileSize - pos));
        if (read(pos, chunk.data(), want, user) != want) return false;
        const int64_t at = FindMarker(chunk.data(), want, marker);
        if (at >= 0) {
            span->hasMarker = true;
            span->start = pos + static_cast<uint64_t>(at) + markerLength;
            return true;
        }
        pos += want;
    }
    return true;
}

// The register over the stored bytes of a stream that is read past, and
// the keystream: none of that matters for a listing.
bool SkipBytes(TBodyReadProc read, void* user, uint64_t count, bool* inputError) {
    uint8_t sink[4096];
    while (count > 0) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(count, sizeof sink));
        const int64_t got = read(sink, want, user);
        if (got < 0) *inputError = true;
        if (got <= 0) return false;
        count -= static_cast<uint64_t>(got);
    }
    return true;
}

// Exactly count bytes, or false (*inputError on a failing read).
bool ReadExactly(TBodyReadProc read, void* user, void* buffer, uint32_t count, bool* inputError) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const int64_t got = read(p, count, user);
        if (got < 0) *inputError = true;
        if (got <= 0) return false;
        p += got;
        count -= static_cast<uint32_t>(got);
    }
    return true;
}

// One entry's decoding: the walker's side of the decoder's callbacks.
struct TEntryRun {
    TBodyReadProc read;
    void* readUser;
    const TEntryVisitor* visitor;
    uint64_t remaining;  // stored bytes not yet handed to the decoder
    uint64_t readCount;  // stored bytes handed to the decoder
    uint64_t written;    // content bytes passed on
    uint64_t limit;      // the declared content size: nothing beyond it is passed on
    bool overflow;       // the stream holds more than that
    bool inputError;
    bool outputError;
    uint32_t reg;
};

void VOZ_CDECL RunRead(void* buffer, int32_t count, int32_t* delivered, void* context) {
    auto* r = static_cast<TEntryRun*>(context);
    *delivered = 0;
    // After a failure, or once the entry holds more than it declared, the
    // decoder gets no more input and stops at its next block.
    if (r->inputError || r->outputError || r->overflow || count <= 0) return;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(r->remaining, static_cast<uint64_t>(count)));
    if (want == 0) return;
    const int64_t got = r->read(buffer, want, r->readUser);
    if (got < 0) {
        r->inputError = true;
        return;
    }
    r->readCount += static_cast<uint64_t>(got);
    r->remaining -= static_cast<uint64_t>(got);
    *delivered = static_cast<int32_t>(got);
}

// Entries decode against an empty base.
void VOZ_CDECL EmptyBaseRead(void*, int32_t, int32_t* got, void*) { *got = 0; }
void VOZ_CDECL EmptyBaseSeek(int32_t, void*) {}

void VOZ_CDECL RunWrite(const void* buffer, int32_t count, void* context) {
    auto* r = static_cast<TEntryRun*>(context);
    int32_t take = 0;
    if (count > 0 && !r->overflow) {
        take = count;
        if (static_cast<uint64_t>(take) > r->limit - r->written) {
            take = static_cast<int32_t>(r->limit - r->written);
            r->overflow = true;
        }
        r->reg = Crc32Update(buffer, take, r->reg);
        r->written += static_cast<uint64_t>(take);
    }
    const TEntryVisitor* v = r->visitor;
    if (v->write != nullptr && !v->write(buffer, take, v->user)) r->outputError = true;
}

// Decodes the entry's stream and checks it; fills result on a failure.
bool DecodeEntry(TBodyReadProc read, void* readUser, const TEntryVisitor& visitor, const TEntryHeader& h,
                 TWalkResult* result) {
    TEntryRun r = {read, readUser, &visitor, h.storedSize, 0, 0, h.contentSize, false, false, false, kRegisterStart};
    // The streaming decoder itself rather than DecodeEntryStream, which folds
    // every failure into one code: messages say which rule the stream broke.
    int32_t code =
        ApplyPatchStream(EmptyBaseRead, EmptyBaseSeek, nullptr, RunWrite, &r, RunRead, -1, &r, nullptr, nullptr);
    // An empty file may carry four stored bytes that are not a stream at all:
    // whatever of them the decoder left is read too.
    if (h.contentSize == 0 && h.storedSize == 4 && code != kDecodeOk && !r.overflow && !r.inputError &&
        !r.outputError) {
        uint8_t rest[4];
        const uint32_t left = static_cast<uint32_t>(r.remaining);
        if (ReadExactly(read, readUser, rest, left, &r.inputError)) {
            r.readCount += left;
            r.remaining = 0;
            code = kDecodeOk;
        }
    }
    TEntryFault fault = TEntryFault::None;
    if (r.inputError) {
        fault = TEntryFault::InputError;
    } else if (r.outputError) {
        fault = TEntryFault::OutputError;
    } else if (r.overflow) {
        fault = TEntryFault::TooMuchContent;
    } else if (code != kDecodeOk) {
        fault = TEntryFault::DoesNotDecode;
    } else if (r.readCount != h.storedSize) {
        fault = TEntryFault::StoredSize;
    } else if (r.written != h.contentSize) {
        fault = TEntryFault::ContentSize;
    } else if (r.reg != h.checksum) {
        fault = TEntryFault::ContentChecksum;
    }
    if (fault == TEntryFault::None) return true;
    result->fault = fault;
    result->code =
        fault == TEntryFault::InputError || fault == TEntryFault::OutputError ? kExtractIoError : kExtractEntryFailed;
    if (fault == TEntryFault::DoesNotDecode) result->decodeCode = code;
    return false;
}

}  // namespace

std::string UpperCaseMarker() {
    std::string s(kMarkerLowerCase, kMarkerLength);
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

int64_t FindMarker(const uint8_t* data, size_t length, const std::string& marker) {
    const size_t m = marker.size();
    if (m == 0 || length < m) return -1;
    const uint8_t* end = data + length - m + 1;
    for (const uint8_t* p = data; p < end; p++) {
        p = static_cast<const uint8_t*>(std::memchr(p, static_cast<uint8_t>(marker[0]), static_cast<size_t>(end - p)));
        if (p == nullptr) return -1;
        if (std::memcmp(p, marker.data(), m) == 0) return p - data;
    }
    return -1;
}

bool ReadCertificateTable(TSourceReadProc read, void* user, uint64_t fileSize, TCertificateTable* table,
                          bool* inputError) {
    *table = TCertificateTable();
    *inputError = false;
    // DOS header: "MZ", and at 0x3C the file offset of the PE signature.
    uint8_t dos[kDosHeaderSize];
    if (fileSize < kDosHeaderSize) return false;
    const int64_t gotDos = read(0, dos, kDosHeaderSize, user);
    if (gotDos < 0) *inputError = true;
    if (gotDos != kDosHeaderSize || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint64_t peOffset = LoadLe32(dos + kLfanewOffset);

    // "PE\0\0", the file header, then the optional header: its magic decides
    // where the data directories stand.
    if (peOffset >= fileSize || fileSize - peOffset < kSignatureSize + kFileHeaderSize + 2) return false;
    uint8_t head[kHeadSize];
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kHeadSize, fileSize - peOffset));
    const int64_t got = read(peOffset, head, want, user);
    if (got < 0) *inputError = true;
    if (got != want || std::memcmp(head, "PE\0\0", kSignatureSize) != 0) return false;

    const uint32_t optionalSize = LoadLe16(head + kSignatureSize + kSizeOfOptionalHeaderOffset);
    const uint8_t* optional = head + kSignatureSize + kFileHeaderSize;
    const uint32_t optionalAvailable = want - kSignatureSize - kFileHeaderSize;
    uint32_t dirCountOffset = 0, dirsOffset = 0;
    const uint16_t magic = LoadLe16(optional);
    if (magic == kMagicPe32) {
        dirCountOffset = kDirCountOffset32;
        dirsOffset = kDirsOffset32;
    } else if (magic == kMagicPe32Plus) {
        dirCountOffset = kDirCountOffset64;
        dirsOffset = kDirsOffset64;
    } else {
        return false;
    }
    const uint32_t entryEnd = dirsOffset + (kSecurityDir + 1) * kDirEntrySize;
    if (entryEnd > optionalSize || entryEnd > optionalAvailable) return false;
    if (LoadLe32(optional + dirCountOffset) <= kSecurityDir) return false;
    const uint8_t* entry = optional + dirsOffset + kSecurityDir * kDirEntrySize;
    table->offset = LoadLe32(entry);
    table->size = LoadLe32(entry + 4);
    table->headersEnd = peOffset + kSignatureSize + kFileHeaderSize + entryEnd;
    return table->offset != 0 && table->size != 0;  // zero: not signed
}

bool FindCertificateTable(const uint8_t* head, size_t headLength, TCertificateTable* table) {
    TMemorySource m = {head, headLength};
    bool inputError = false;
    return ReadCertificateTable(ReadMemory, &m, headLength, table, &inputError);
}

bool LocateArchive(TSourceReadProc read, void* user, uint64_t fileSize, const std::string& marker, TArchiveSpan* span,
                   TSearchChunkProc onChunk) {
    *span = TArchiveSpan();
    span->end = fileSize;
    if (!SearchMarker(read, user, fileSize, marker, span, onChunk)) return false;

    // Every field is checked against the file before it is trusted; anything
    // that does not add up leaves the file unsigned.
    TCertificateTable table;
    bool inputError = false;
    if (!ReadCertificateTable(read, user, fileSize, &table, &inputError)) return !inputError;
    // The headers belong to the program image, which ends where the marker
    // begins.
    if (span->start > 0 && table.headersEnd + marker.size() > span->start) return true;
    if (table.offset < span->start || table.offset > fileSize || table.size != fileSize - table.offset) {
        return true;
    }
    span->end = table.offset;
    span->signedFile = true;
    return true;
}

int32_t CheckArchiveBody(TSourceReadProc read, TBodyWriteBackProc writeBack, void* user, uint64_t archiveLength,
                         const char* password) {
    uint32_t state = PasswordSeed(password, password != nullptr ? std::strlen(password) : 0);
    uint32_t reg = kRegisterStart;
    uint8_t chunk[kUnscrambleChunk];
    const uint64_t bodyLength = archiveLength > kTrailerSize ? archiveLength - kTrailerSize : 0;
    for (uint64_t position = 0; position < bodyLength;) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(bodyLength - position, kUnscrambleChunk));
        const int64_t got = read(position, chunk, want, user);
        // A file that shrinks under us would otherwise never finish.
        if (got <= 0) return kExtractIoError;
        ScrambleBytes(&state, chunk, static_cast<size_t>(got));
        reg = Crc32Update(chunk, static_cast<int32_t>(got), reg);
        if (writeBack != nullptr && !writeBack(position, chunk, static_cast<uint32_t>(got), user)) {
            return kExtractIoError;
        }
        position += static_cast<uint64_t>(got);
    }
    if (archiveLength < kTrailerSize) return kExtractBodyChecksum;
    uint8_t trailer[kTrailerSize] = {0, 0, 0, 0};
    if (read(bodyLength, trailer, kTrailerSize, user) < 0) return kExtractIoError;
    return LoadLe32(trailer) == reg ? kExtractOk : kExtractBodyChecksum;
}

const char* EntryFaultText(TEntryFault fault) {
    switch (fault) {
    case TEntryFault::None:
        return "no fault";
    case TEntryFault::InputError:
        return "the archive cannot be read";
    case TEntryFault::OutputError:
        return "the entry's file cannot be written";
    case TEntryFault::HeaderPastEnd:
        return "an entry header runs past the end of the body";
    case TEntryFault::EmptyName:
        return "an entry has an empty name";
    case TEntryFault::StreamPastEnd:
        return "its stream runs past the end of the body";
    case TEntryFault::NameRefused:
        return "its name is refused";
    case TEntryFault::TooMuchContent:
        return "its stream holds more than its content size";
    case TEntryFault::DoesNotDecode:
        return "the stream does not decode";
    case TEntryFault::StoredSize:
        return "the stored size does not match its stream";
    case TEntryFault::ContentSize:
        return "the content size does not match";
    case TEntryFault::ContentChecksum:
        return "the content checksum does not match";
    }
    return "unknown fault";
}

TWalkResult WalkArchiveEntries(TBodyReadProc read, void* readUser, uint64_t bodyLength, const TEntryVisitor& visitor) {
    TWalkResult result;
    auto stop = [&result](int32_t code, TEntryFault fault) {
        result.code = code;
        result.fault = fault;
        return result;
    };
    uint64_t pos = 0;
    TEntryInfo entry;
    while (pos < bodyLength) {
        bool inputError = false;
        result.name.clear();
        result.header = TEntryHeader();
        uint8_t lengthBytes[2];
        if (bodyLength - pos < 2) return stop(kExtractEntryFailed, TEntryFault::HeaderPastEnd);
        if (!ReadExactly(read, readUser, lengthBytes, 2, &inputError)) {
            return stop(inputError ? kExtractIoError : kExtractEntryFailed,
                        inputError ? TEntryFault::InputError : TEntryFault::HeaderPastEnd);
        }
        pos += 2;
        const uint32_t nameLength = LoadLe16(lengthBytes);
        if (nameLength == 0) return stop(kExtractEntryFailed, TEntryFault::EmptyName);
        if (bodyLength - pos < static_cast<uint64_t>(nameLength) + kEntryHeaderSize) {
            return stop(kExtractEntryFailed, TEntryFault::HeaderPastEnd);
        }
        entry.name.assign(nameLength, '\0');
        uint8_t headerBytes[kEntryHeaderSize];
        if (!ReadExactly(read, readUser, &entry.name[0], nameLength, &inputError) ||
            !ReadExactly(read, readUser, headerBytes, kEntryHeaderSize, &inputError)) {
            return stop(inputError ? kExtractIoError : kExtractEntryFailed,
                        inputError ? TEntryFault::InputError : TEntryFault::HeaderPastEnd);
        }
        pos += nameLength + kEntryHeaderSize;
        result.name = entry.name;
        entry.header = UnpackEntryHeader(headerBytes);
        result.header = entry.header;
        entry.streamOffset = pos;
        const TEntryHeader& h = entry.header;
        if (h.storedSize > bodyLength - pos) return stop(kExtractEntryFailed, TEntryFault::StreamPastEnd);
        // Nothing of a refused entry is created, not even its folders.
        if (visitor.decode) {
            const TEntryNameProblem problem = CheckEntryName(entry.name.data(), entry.name.size());
            if (problem != TEntryNameProblem::None) {
                result.nameProblem = problem;
                return stop(kExtractEntryFailed, TEntryFault::NameRefused);
            }
        }
        if (visitor.begin != nullptr) {
            const int32_t code = visitor.begin(entry, visitor.user);
            if (code != kExtractOk) return stop(code, TEntryFault::None);
        }
        if (visitor.decode) {
            if (!DecodeEntry(read, readUser, visitor, h, &result)) {
                if (visitor.abandon != nullptr) visitor.abandon(entry, visitor.user);
                return result;
            }
        } else if (!SkipBytes(read, readUser, h.storedSize, &inputError)) {
            // The stream was checked to fit the body: only a failing read ends early.
            return stop(kExtractIoError, TEntryFault::InputError);
        }
        pos += h.storedSize;
        if (visitor.finish != nullptr) {
            const int32_t code = visitor.finish(entry, visitor.user);
            if (code != kExtractOk) return stop(code, TEntryFault::None);
        }
        result.entries++;
        result.contentBytes += h.contentSize;
    }
    result.name.clear();
    result.header = TEntryHeader();
    return result;
}

int32_t FirstPatchCapacity(uint64_t referenceLength) {
    // Compared before adding: a length near 2^64 must not wrap to a small one.
    constexpr uint64_t kLargestReference = kMaxPatchOutput - kPatchExtraCapacity;
    if (referenceLength >= kLargestReference) return static_cast<int32_t>(kMaxPatchOutput);
    return static_cast<int32_t>(referenceLength + kPatchExtraCapacity);
}
