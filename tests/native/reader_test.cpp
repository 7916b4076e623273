// The archive reader of the codec core: locating an archive in a file
// (marker, certificate table), the body check, the entry walk and the
// patch output limits. Files are callbacks here, some far larger than
// memory: the reader never needs a file's bytes all at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "CRC_32.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "VozReader.h"

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }

void Put16(TBytes* b, size_t at, uint32_t v) {
    (*b)[at] = static_cast<uint8_t>(v);
    (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(TBytes* b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A file of any size: zeros, with pieces placed at offsets. Reads count
// and can be made to fail.
struct TVirtualFile {
    uint64_t size = 0;
    std::map<uint64_t, TBytes> pieces;
    int reads = 0;
    int failAtRead = -1;             // the read (counted from 0) that fails
    uint64_t shrinkTo = UINT64_MAX;  // reads see the file end here

    void Place(uint64_t at, const TBytes& b) {
        pieces[at] = b;
        if (at + b.size() > size) size = at + b.size();
    }
};

int64_t VOZ_CDECL ReadVirtual(uint64_t offset, void* buffer, uint32_t count, void* user) {
    auto* f = static_cast<TVirtualFile*>(user);
    if (f->reads++ == f->failAtRead) return -1;
    const uint64_t end = std::min(f->size, f->shrinkTo);
    if (offset >= end) return 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, end - offset));
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, n);
    for (const auto& [at, piece] : f->pieces) {
        const uint64_t from = std::max(at, offset), to = std::min(at + piece.size(), offset + n);
        if (from < to) std::memcpy(out + (from - offset), piece.data() + (from - at), to - from);
    }
    return n;
}

int SearchChunks = 0;
void VOZ_CDECL CountChunk(void*) { ++SearchChunks; }

// DOS and PE32+ headers naming a certificate table: "MZ" at 0 with the PE
// signature's offset, and the PE headers (placed at peOffset).
constexpr uint32_t kPeHeadersSize = 4 + 20 + 240;
TBytes DosHeader(uint32_t peOffset) {
    TBytes dos(64, 0);
    dos[0] = 'M', dos[1] = 'Z';
    Put32(&dos, 0x3C, peOffset);
    return dos;
}
TBytes PeHeaders(uint32_t tableOffset, uint32_t tableSize) {
    TBytes pe(kPeHeadersSize, 0);
    std::memcpy(pe.data(), "PE\0\0", 4);
    Put16(&pe, 4, 0x8664);
    Put16(&pe, 4 + 16, 240);   // size of the optional header
    Put16(&pe, 24, 0x20B);     // PE32+
    Put32(&pe, 24 + 108, 16);  // directories
    Put32(&pe, 24 + 112 + 32, tableOffset);
    Put32(&pe, 24 + 112 + 36, tableSize);
    return pe;
}
// Just past the security entry, from the signature.
constexpr uint32_t kSecurityEntryEnd = 4 + 20 + 112 + 5 * 8;

// ---- Locating --------------------------------------------------------------

TEST(LocateArchive, MarkerAnywhereInTheSearch) {
    const std::string marker = UpperCaseMarker();
    EXPECT_EQ(marker, "<VOZIP FILE BEGINS HERE>");
    struct TCase {
        const char* what;
        uint64_t markerAt;  // UINT64_MAX: none
        uint64_t fileSize;
        int chunks;
    } cases[] = {
        {"at the start", 0, 1000, 1},
        {"cut by the first chunk's end", kLocateChunk - 10, 3 * kLocateChunk, 2},
        {"ending exactly at the first chunk's end", kLocateChunk - 24, 3 * kLocateChunk, 1},
        // Chunks at 0, 65,512, 131,024 and 196,536, the last holding it.
        {"behind a stub of 200,000 bytes", 200000, 300000, 4},
        {"none: the whole file", UINT64_MAX, 3 * kLocateChunk, 4},
        {"none in an empty file", UINT64_MAX, 0, 0},
    };
    for (const TCase& c : cases) {
        TVirtualFile f;
        f.size = c.fileSize;
        // Near-misses before it: the lower-case form and all but its last byte.
        f.Place(0, Text(std::string(kMarkerLowerCase) + marker.substr(0, 23)));
        if (c.markerAt != UINT64_MAX) f.Place(c.markerAt, Text(marker));
        f.size = c.fileSize;
        TArchiveSpan span;
        SearchChunks = 0;
        ASSERT_TRUE(LocateArchive(ReadVirtual, &f, f.size, marker, &span, CountChunk)) << c.what;
        EXPECT_EQ(span.hasMarker, c.markerAt != UINT64_MAX) << c.what;
        EXPECT_EQ(span.start, c.markerAt != UINT64_MAX ? c.markerAt + 24 : 0) << c.what;
        EXPECT_EQ(span.end, f.size) << c.what;
        EXPECT_EQ(SearchChunks, c.chunks) << c.what;
    }
}

TEST(LocateArchive, EmptyMarkerMatchesNothing) {
    TVirtualFile f;
    f.Place(100, Text(UpperCaseMarker()));
    TArchiveSpan span;
    ASSERT_TRUE(LocateArchive(ReadVirtual, &f, f.size, std::string(), &span));
    EXPECT_FALSE(span.hasMarker);
    EXPECT_EQ(span.start, 0u);
}

TEST(LocateArchive, InputErrorsAndShrinkingFiles) {
    for (int failing = 0; failing < 4; ++failing) {
        // Two search chunks, the DOS header, the PE headers.
        TVirtualFile f;
        f.Place(0, DosHeader(0x80));
        f.Place(0x80, PeHeaders(100000, 100));
        f.Place(70000, Text(UpperCaseMarker()));
        f.size = 100100;
        f.failAtRead = failing;
        TArchiveSpan span;
        EXPECT_FALSE(LocateArchive(ReadVirtual, &f, f.size, UpperCaseMarker(), &span)) << failing;
    }
    TVirtualFile shrunk;
    shrunk.size = 200000;
    shrunk.shrinkTo = 100000;
    TArchiveSpan span;
    EXPECT_FALSE(LocateArchive(ReadVirtual, &shrunk, shrunk.size, UpperCaseMarker(), &span));
}

// The certificate table of a file signed after packaging. The stub holds
// the headers unless a case moves them behind the marker.
TEST(LocateArchive, CertificateTableRule) {
    constexpr uint64_t kStub = 4096, kArchive = 5000, kTable = 1200;
    constexpr uint64_t kStart = kStub + 24, kEnd = kStart + kArchive, kSize = kEnd + kTable;
    constexpr uint64_t kBig = uint64_t{80} << 20;  // a stub of 80 MiB
    struct TCase {
        const char* what;
        uint64_t stub;       // bytes before the marker
        uint64_t peOffset;   // where "PE\0\0" stands
        int64_t tableShift;  // table offset relative to the archive's end
        int64_t sizeShift;   // table size relative to what reaches the file's end
        bool signedFile;
    } cases[] = {
        {"headers in the stub, table from the archive's end to the file's end", kStub, 0x80, 0, 0, true},
        {"PE offset above 64 MiB, headers still in the stub", kBig, kBig - 4096, 0, 0, true},
        {"headers end right at the marker", kStub, kStub - kSecurityEntryEnd, 0, 0, true},
        {"headers cut by the marker", kStub, kStub - kSecurityEntryEnd + 1, 0, 0, false},
        {"headers behind the marker, in the archive", kStub, kStart + 100, 0, 0, false},
        {"headers behind the marker, in the table", kStub, kEnd + 8, 0, 0, false},
        {"table that stops short of the file's end", kStub, 0x80, 0, -8, false},
        {"table that runs past the file's end", kStub, 0x80, 0, 8, false},
        {"table starting in the stub", kStub, 0x80, -static_cast<int64_t>(kArchive + 100), 0, false},
        {"table starting at the archive's first byte", kStub, 0x80, -static_cast<int64_t>(kArchive), 0, true},
        {"table starting inside the archive", kStub, 0x80, -100, 0, true},
        {"PE offset past the file's end", kStub, 0xFFFFFF00, 0, 0, false},
    };
    for (const TCase& c : cases) {
        const uint64_t start = c.stub + 24, end = start + kArchive, size = end + kTable;
        const uint64_t tableOffset = static_cast<uint64_t>(static_cast<int64_t>(end) + c.tableShift);
        const uint64_t tableSize = static_cast<uint64_t>(static_cast<int64_t>(size - tableOffset) + c.sizeShift);
        TVirtualFile f;
        f.Place(0, DosHeader(static_cast<uint32_t>(c.peOffset)));
        f.Place(c.stub, Text(UpperCaseMarker()));
        f.size = size;
        if (c.peOffset + kPeHeadersSize <= size) {
            f.Place(c.peOffset, PeHeaders(static_cast<uint32_t>(tableOffset), static_cast<uint32_t>(tableSize)));
        }
        f.size = size;
        TArchiveSpan span;
        ASSERT_TRUE(LocateArchive(ReadVirtual, &f, f.size, UpperCaseMarker(), &span)) << c.what;
        EXPECT_EQ(span.start, start) << c.what;
        EXPECT_EQ(span.signedFile, c.signedFile) << c.what;
        EXPECT_EQ(span.end, c.signedFile ? tableOffset : size) << c.what;
    }
    (void)kSize;
}

TEST(LocateArchive, CertificateHeadersTheirOwnChecks) {
    TBytes file = DosHeader(0x80);
    file.resize(0x200, 0);
    const TBytes pe = PeHeaders(0x1000, 0x20);
    std::copy(pe.begin(), pe.end(), file.begin() + 0x80);
    TCertificateTable t;
    ASSERT_TRUE(FindCertificateTable(file.data(), file.size(), &t));
    EXPECT_EQ(t.offset, 0x1000u);
    EXPECT_EQ(t.size, 0x20u);
    EXPECT_EQ(t.headersEnd, 0x80u + kSecurityEntryEnd);
    struct TCase {
        const char* what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"no MZ", 1, 'X'},
        {"no PE signature", 0x80 + 3, 1},
        {"unknown magic", 0x80 + 24, 0x07},
        {"optional header too small for the entry", 0x80 + 4 + 16, 151},
        {"four directories", 0x80 + 24 + 108, 4},
        {"table offset 0", 0x80 + 24 + 112 + 33, 0},
    };
    for (const TCase& c : cases) {
        TBytes bad = file;
        bad[c.at] = c.value;
        EXPECT_FALSE(FindCertificateTable(bad.data(), bad.size(), &t)) << c.what;
    }
    EXPECT_FALSE(FindCertificateTable(file.data(), 0x80 + 100, &t)) << "headers cut by the file's end";
}

// ---- The body ------------------------------------------------------------------

struct TMemoryArchive {
    TBytes bytes;
    TBytes written;  // what the write-back received, by offset
    int failAtRead = -1;
    int reads = 0;
};

int64_t VOZ_CDECL ReadArchive(uint64_t offset, void* buffer, uint32_t count, void* user) {
    auto* a = static_cast<TMemoryArchive*>(user);
    if (a->reads++ == a->failAtRead) return -1;
    if (offset >= a->bytes.size()) return 0;
    const size_t n = std::min<size_t>(count, a->bytes.size() - offset);
    std::memcpy(buffer, a->bytes.data() + offset, n);
    return static_cast<int64_t>(n);
}

bool VOZ_CDECL WriteBack(uint64_t offset, const void* buffer, uint32_t count, void* user) {
    auto* a = static_cast<TMemoryArchive*>(user);
    if (a->written.size() < offset + count) a->written.resize(offset + count);
    std::memcpy(a->written.data() + offset, buffer, count);
    return true;
}

TBytes Archive(const std::vector<TArchiveEntry>& entries) {
    TBytes archive;
    EXPECT_TRUE(BuildArchive(entries, TEncodeOptions{}, &archive));
    return archive;
}

TEST(CheckArchiveBody, ChecksumTrailerAndWriteBack) {
    const TBytes good = Archive({{"a.txt", 0, 0x20, Text("some content, some content")}});
    TBytes flipped = good;
    flipped[3] ^= 0x10;
    struct TCase {
        const char* what;
        TBytes archive;
        int32_t code;
    } cases[] = {
        {"good", good, kExtractOk},
        {"no entries", TBytes{0xFF, 0xFF, 0xFF, 0xFF}, kExtractOk},
        {"one flipped body bit", flipped, kExtractBodyChecksum},
        {"three bytes", TBytes{0xFF, 0xFF, 0xFF}, kExtractBodyChecksum},
        {"nothing", TBytes{}, kExtractBodyChecksum},
    };
    for (const TCase& c : cases) {
        TMemoryArchive a;
        a.bytes = c.archive;
        EXPECT_EQ(CheckArchiveBody(ReadArchive, WriteBack, &a, a.bytes.size(), nullptr), c.code) << c.what;
    }
    // The write-back receives the plain body, which holds the entry's name.
    TMemoryArchive a;
    a.bytes = good;
    ASSERT_EQ(CheckArchiveBody(ReadArchive, WriteBack, &a, a.bytes.size(), nullptr), kExtractOk);
    ASSERT_EQ(a.written.size(), good.size() - kTrailerSize);
    EXPECT_EQ(std::string(a.written.begin() + 2, a.written.begin() + 7), "a.txt");
    // A read that fails, in the body or at the trailer.
    for (int failing : {0, 1}) {
        TMemoryArchive bad;
        bad.bytes = good;
        bad.failAtRead = failing;
        EXPECT_EQ(CheckArchiveBody(ReadArchive, nullptr, &bad, bad.bytes.size(), nullptr), kExtractIoError);
    }
}

// ---- The entry walk ------------------------------------------------------------

// A plain body, read in order.
struct TBody {
    TBytes bytes;
    size_t at = 0;
    bool fail = false;
};

int64_t VOZ_CDECL ReadBody(void* buffer, uint32_t count, void* user) {
    auto* b = static_cast<TBody*>(user);
    if (b->fail) return -1;
    const size_t n = std::min<size_t>(count, b->bytes.size() - b->at);
    std::memcpy(buffer, b->bytes.data() + b->at, n);
    b->at += n;
    return static_cast<int64_t>(n);
}

// A raw entry: the stream as given, the header as given (also when they
// disagree, which the archive writer would refuse).
void AddRaw(TBytes* body, const std::string& name, const TEntryHeader& h, const TBytes& stream) {
    body->push_back(static_cast<uint8_t>(name.size()));
    body->push_back(static_cast<uint8_t>(name.size() >> 8));
    body->insert(body->end(), name.begin(), name.end());
    uint8_t header[kEntryHeaderSize];
    PackEntryHeader(h, header);
    body->insert(body->end(), header, header + kEntryHeaderSize);
    body->insert(body->end(), stream.begin(), stream.end());
}

TEntryHeader HeaderFor(const TBytes& content, const TBytes& stream) {
    return {0x50A00000, static_cast<uint32_t>(content.size()), 0x20, static_cast<uint32_t>(stream.size()),
            Crc32Update(content.data(), static_cast<int32_t>(content.size()), kRegisterStart)};
}

TBytes StreamOf(const TBytes& content) {
    TBytes s;
    EXPECT_TRUE(EncodeEntryStream(content.data(), content.size(), TEncodeOptions{}, &s));
    return s;
}

// What a visitor saw.
struct TSeen {
    std::vector<std::string> begun, finished, abandoned;
    TBytes output;
    int32_t beginCode = kExtractOk;
    bool failWrite = false;
};

int32_t VOZ_CDECL SeenBegin(const TEntryInfo& e, void* user) {
    auto* s = static_cast<TSeen*>(user);
    s->begun.push_back(e.name);
    return s->beginCode;
}
bool VOZ_CDECL SeenWrite(const void* data, int32_t count, void* user) {
    auto* s = static_cast<TSeen*>(user);
    const auto* p = static_cast<const uint8_t*>(data);
    s->output.insert(s->output.end(), p, p + count);
    return !s->failWrite;
}
int32_t VOZ_CDECL SeenFinish(const TEntryInfo& e, void* user) {
    static_cast<TSeen*>(user)->finished.push_back(e.name);
    return kExtractOk;
}
void VOZ_CDECL SeenAbandon(const TEntryInfo& e, void* user) { static_cast<TSeen*>(user)->abandoned.push_back(e.name); }

TWalkResult Walk(const TBytes& body, TSeen* seen, bool decode = true, bool failRead = false) {
    TBody b;
    b.bytes = body;
    b.fail = failRead;
    TEntryVisitor v;
    v.decode = decode;
    v.begin = SeenBegin;
    v.write = SeenWrite;
    v.finish = SeenFinish;
    v.abandon = SeenAbandon;
    v.user = seen;
    return WalkArchiveEntries(ReadBody, &b, body.size(), v);
}

TEST(WalkArchiveEntries, GoodEntriesAndTheEmptyFile) {
    const TBytes one = Text("first file"), two(300000, 'x');
    TBytes body;
    AddRaw(&body, "one.txt", HeaderFor(one, StreamOf(one)), StreamOf(one));
    AddRaw(&body, "sub\\two.bin", HeaderFor(two, StreamOf(two)), StreamOf(two));
    // An empty file as four bytes that are no stream, and as a real stream.
    AddRaw(&body, "empty.dat", {0, 0, 0x20, 4, kRegisterStart}, TBytes{1, 2, 3, 4});
    AddRaw(&body, "empty2.dat", HeaderFor({}, StreamOf({})), StreamOf({}));
    TSeen seen;
    const TWalkResult w = Walk(body, &seen);
    EXPECT_EQ(w.code, kExtractOk);
    EXPECT_EQ(w.entries, 4u);
    EXPECT_EQ(w.contentBytes, one.size() + two.size());
    EXPECT_EQ(seen.finished, (std::vector<std::string>{"one.txt", "sub\\two.bin", "empty.dat", "empty2.dat"}));
    TBytes expected = one;
    expected.insert(expected.end(), two.begin(), two.end());
    EXPECT_EQ(seen.output, expected);
    EXPECT_TRUE(seen.abandoned.empty());

    TSeen none;
    EXPECT_EQ(Walk(TBytes{}, &none).entries, 0u);
    EXPECT_TRUE(none.begun.empty());
}

// One malformed entry behind a good one: the good one is finished, the walk
// stops at the bad one with its fault, and nothing of it is finished.
TEST(WalkArchiveEntries, EachFaultStopsTheWalk) {
    const TBytes content = Text("hello, entry");
    const TBytes stream = StreamOf(content);
    const TEntryHeader good = HeaderFor(content, stream);
    TBytes first;
    AddRaw(&first, "first.txt", good, stream);

    auto with = [&](const std::string& name, TEntryHeader h, const TBytes& s) {
        TBytes body = first;
        AddRaw(&body, name, h, s);
        return body;
    };
    TEntryHeader wrongChecksum = good;
    wrongChecksum.checksum ^= 1;
    TEntryHeader smallerContent = good;
    smallerContent.contentSize -= 1;
    TEntryHeader largerContent = good;
    largerContent.contentSize += 1;
    TBytes padded = stream;
    padded.insert(padded.end(), 4, 0);
    TEntryHeader paddedHeader = good;
    paddedHeader.storedSize = static_cast<uint32_t>(padded.size());
    TEntryHeader pastEnd = good;
    pastEnd.storedSize += 1;
    // A stored block whose one command byte is no command.
    TBytes garbage(kBlockHeaderSize + 1);
    garbage[kBlockHeaderSize] = 0x05;
    PackBlockHeader({kMethodStored, 1, 1, Crc32Update(&garbage[kBlockHeaderSize], 1, kRegisterStart)}, garbage.data());
    TBytes emptyName = first;
    emptyName.insert(emptyName.end(), {0, 0});
    TBytes cutHeader = first;
    cutHeader.insert(cutHeader.end(), {5, 0, 'a', 'b', 'c', 'd', 'e', 1, 2, 3});
    TBytes oneByte = first;
    oneByte.push_back(5);

    struct TCase {
        const char* what;
        TBytes body;
        int32_t code;
        TEntryFault fault;
        bool begun;  // the visitor saw the bad entry
    } cases[] = {
        {"content checksum", with("b.txt", wrongChecksum, stream), kExtractEntryFailed, TEntryFault::ContentChecksum,
         true},
        {"more content than declared", with("b.txt", smallerContent, stream), kExtractEntryFailed,
         TEntryFault::TooMuchContent, true},
        {"less content than declared", with("b.txt", largerContent, stream), kExtractEntryFailed,
         TEntryFault::ContentSize, true},
        {"stored size beyond its stream", with("b.txt", paddedHeader, padded), kExtractEntryFailed,
         TEntryFault::StoredSize, true},
        {"stream that does not decode", with("b.txt", HeaderFor(content, garbage), garbage), kExtractEntryFailed,
         TEntryFault::DoesNotDecode, true},
        {"stream past the body's end", with("b.txt", pastEnd, stream), kExtractEntryFailed, TEntryFault::StreamPastEnd,
         false},
        {"refused name", with("..\\b.txt", good, stream), kExtractEntryFailed, TEntryFault::NameRefused, false},
        {"empty name", emptyName, kExtractEntryFailed, TEntryFault::EmptyName, false},
        {"header cut by the body's end", cutHeader, kExtractEntryFailed, TEntryFault::HeaderPastEnd, false},
        {"one byte left", oneByte, kExtractEntryFailed, TEntryFault::HeaderPastEnd, false},
    };
    for (const TCase& c : cases) {
        TSeen seen;
        const TWalkResult w = Walk(c.body, &seen);
        EXPECT_EQ(w.code, c.code) << c.what;
        EXPECT_EQ(w.fault, c.fault) << c.what << ": " << EntryFaultText(w.fault);
        EXPECT_EQ(w.entries, 1u) << c.what;
        EXPECT_EQ(seen.finished, std::vector<std::string>{"first.txt"}) << c.what;
        EXPECT_EQ(seen.begun.size(), c.begun ? 2u : 1u) << c.what;
        EXPECT_EQ(seen.abandoned.size(), c.begun ? 1u : 0u) << c.what;
    }
    // Never more output than the header declares.
    TSeen seen;
    Walk(with("b.txt", smallerContent, stream), &seen);
    EXPECT_EQ(seen.output.size(), 2 * content.size() - 1);
    // The decoder's own code comes back for a message.
    TSeen bad;
    EXPECT_EQ(Walk(with("b.txt", HeaderFor(content, garbage), garbage), &bad).decodeCode, kDecodeBadCommand);
    TSeen refused;
    EXPECT_EQ(Walk(with("..\\b.txt", good, stream), &refused).nameProblem, TEntryNameProblem::ParentComponent);
}

TEST(WalkArchiveEntries, ListingReadsPastEveryNameAndStream) {
    const TBytes content = Text("listed");
    const TBytes garbage = {0x07, 1, 2, 3};
    TBytes body;
    AddRaw(&body, "..\\outside.txt", HeaderFor(content, StreamOf(content)), StreamOf(content));
    AddRaw(&body, "broken.bin", HeaderFor(content, garbage), garbage);
    TSeen seen;
    const TWalkResult w = Walk(body, &seen, /*decode=*/false);
    EXPECT_EQ(w.code, kExtractOk);
    EXPECT_EQ(seen.finished, (std::vector<std::string>{"..\\outside.txt", "broken.bin"}));
    EXPECT_TRUE(seen.output.empty());
}

TEST(WalkArchiveEntries, VisitorCodesAndInputOutputErrors) {
    const TBytes content(5000, 'c');
    TBytes body;
    AddRaw(&body, "a.txt", HeaderFor(content, StreamOf(content)), StreamOf(content));
    AddRaw(&body, "b.txt", HeaderFor(content, StreamOf(content)), StreamOf(content));

    TSeen refused;
    refused.beginCode = kExtractCannotCreate;
    TWalkResult w = Walk(body, &refused);
    EXPECT_EQ(w.code, kExtractCannotCreate);
    EXPECT_EQ(w.fault, TEntryFault::None);
    EXPECT_EQ(w.name, "a.txt");
    EXPECT_TRUE(refused.abandoned.empty()) << "begin failed: nothing to abandon";

    TSeen full;
    full.failWrite = true;
    w = Walk(body, &full);
    EXPECT_EQ(w.code, kExtractIoError);
    EXPECT_EQ(w.fault, TEntryFault::OutputError);
    EXPECT_EQ(full.abandoned, std::vector<std::string>{"a.txt"});

    TSeen unread;
    w = Walk(body, &unread, true, /*failRead=*/true);
    EXPECT_EQ(w.code, kExtractIoError);
    EXPECT_EQ(w.fault, TEntryFault::InputError);
}

// ---- Patch outputs ---------------------------------------------------------------

TEST(PatchCapacity, FirstBufferAndLimitMeetAt2GiB) {
    EXPECT_EQ(FirstPatchCapacity(0), 0x40000);
    EXPECT_EQ(FirstPatchCapacity(1000), 1000 + 0x40000);
    EXPECT_EQ(FirstPatchCapacity(INT32_MAX - 0x40000 - 1), INT32_MAX - 1);
    EXPECT_EQ(FirstPatchCapacity(INT32_MAX - 0x40000), INT32_MAX);
    EXPECT_EQ(FirstPatchCapacity(INT32_MAX), INT32_MAX);
    EXPECT_EQ(FirstPatchCapacity(UINT64_MAX - 10), INT32_MAX) << "no wrap-around";
    EXPECT_TRUE(PatchOutputFits(0));
    EXPECT_TRUE(PatchOutputFits(INT32_MAX));
    EXPECT_FALSE(PatchOutputFits(int64_t{INT32_MAX} + 1));
    EXPECT_FALSE(PatchOutputFits(-1));
}

}  // namespace
