// ExtractArchive and ApplyPatchFile on archives and patches made by the
// format's own writer, against the real (Wine) file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "CRC_32.h"
#include "Extract.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "LinkSupport.h"
#include "ShortUtl.h"
#include "TestSupport.h"

using voztest::MakeHardLink;
using voztest::MakeSymbolicLink;
using voztest::RemoveLink;
using voztest::RemoveTree;

namespace {

using TBytes = std::vector<uint8_t>;

// ---- Content and archives ---------------------------------------------

// Deterministic content: runs of noise and runs of text, so both stored and
// compressed blocks occur.
TBytes MixedContent(size_t length, uint32_t seed) {
    TBytes b(length);
    uint32_t s = seed * 2654435761u + 1;
    const char* words[] = {"setup ", "archive ", "folder ", "Perusant ", "entry\r\n", "0123 "};
    size_t i = 0;
    while (i < length) {
        s = s * 1103515245u + 12345u;
        const size_t run = std::min<size_t>(length - i, 64 + (s >> 20) % 4000);
        const bool text = (s >> 8) & 1;
        for (size_t k = 0; k < run; ++k) {
            s = s * 1103515245u + 12345u;
            b[i + k] = text ? static_cast<uint8_t>(words[(s >> 16) % 6][k % 6]) : static_cast<uint8_t>(s >> 24);
        }
        i += run;
    }
    return b;
}

uint32_t Register(const TBytes& b) { return Crc32Update(b.data(), static_cast<int32_t>(b.size()), kRegisterStart); }

constexpr uint32_t DosStamp(int year, int month, int day, int hour, int minute, int second) {
    return (static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day) << 16) |
           static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
}

TBytes EntryStream(const TBytes& content, int level = 6) {
    TEncodeOptions options;
    options.level = level;
    TBytes out;
    EXPECT_TRUE(EncodeEntryStream(content.data(), content.size(), options, &out));
    return out;
}

TEntryHeader HeaderFor(const TBytes& content, const TBytes& stream, uint32_t stamp = DosStamp(2004, 3, 9, 10, 20, 30),
                       uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE) {
    TEntryHeader h;
    h.timeStamp = stamp;
    h.contentSize = static_cast<uint32_t>(content.size());
    h.attributes = attributes;
    h.storedSize = static_cast<uint32_t>(stream.size());
    h.checksum = Register(content);
    return h;
}

// Any entry the tests need, byte by byte: unsafe names and lying headers too.
void AppendRaw(TBytes* body, const std::string& name, const TEntryHeader& h, const TBytes& stream) {
    body->push_back(static_cast<uint8_t>(name.size() & 0xFF));
    body->push_back(static_cast<uint8_t>(name.size() >> 8));
    body->insert(body->end(), name.begin(), name.end());
    uint8_t header[kEntryHeaderSize];
    PackEntryHeader(h, header);
    body->insert(body->end(), header, header + kEntryHeaderSize);
    body->insert(body->end(), stream.begin(), stream.end());
}

void AppendGood(TBytes* body, const std::string& name, const TBytes& content) {
    const TBytes stream = EntryStream(content);
    ASSERT_TRUE(AppendArchiveEntry(body, name, HeaderFor(content, stream), stream.data(), stream.size()));
}

TBytes Finish(const TBytes& body) { return FinishArchive(body, nullptr, 0); }

// ---- Files ---------------------------------------------------------------

bool WriteBytes(const std::string& path, const void* data, size_t length) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    const bool ok = WriteFile(h, data, static_cast<DWORD>(length), &done, nullptr) && done == length;
    return CloseHandle(h) && ok;
}
bool WriteBytes(const std::string& path, const TBytes& b) { return WriteBytes(path, b.data(), b.size()); }
bool WriteBytes(const std::string& path, const std::string& s) { return WriteBytes(path, s.data(), s.size()); }

// The file's bytes, or "<missing>".
std::string ReadBytes(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string s(GetFileSize(h, nullptr), '\0');
    DWORD done = 0;
    if (!s.empty()) ReadFile(h, s.data(), static_cast<DWORD>(s.size()), &done, nullptr);
    CloseHandle(h);
    s.resize(done);
    return s;
}

std::string AsString(const TBytes& b) { return std::string(b.begin(), b.end()); }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Every file and folder below folder, relative, sorted; folders end in "\".
std::vector<std::string> ListTree(const std::string& folder, const std::string& prefix = "") {
    std::vector<std::string> all;
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &f);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = f.cFileName;
            if (name == "." || name == "..") continue;
            if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                all.push_back(prefix + name + "\\");
                const auto inner = ListTree(folder + "\\" + name, prefix + name + "\\");
                all.insert(all.end(), inner.begin(), inner.end());
            } else {
                all.push_back(prefix + name);
            }
        } while (FindNextFileA(h, &f));
        FindClose(h);
    }
    std::sort(all.begin(), all.end());
    return all;
}

uint64_t AsUint(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The UTC last-write time a DOS stamp in local time stands for.
uint64_t StampAsUtc(uint32_t stamp) {
    FILETIME local, utc;
    EXPECT_TRUE(DosDateTimeToFileTime(static_cast<WORD>(stamp >> 16), static_cast<WORD>(stamp), &local));
    EXPECT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    return AsUint(utc);
}

void ExpectDatedFile(const std::string& path, uint32_t stamp, DWORD attributes) {
    SCOPED_TRACE(path);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME created, accessed, written;
    ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
    CloseHandle(h);
    EXPECT_EQ(AsUint(written), StampAsUtc(stamp));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), attributes);
}

// ---- Progress ------------------------------------------------------------

using TProgressCalls = std::vector<std::pair<std::string, int32_t>>;
TProgressCalls g_progress;
// user: the record of the calls (the extraction hands it back unchanged).
void RecordProgress(const char* path, int32_t percent, void* user) {
    static_cast<TProgressCalls*>(user)->emplace_back(path, percent);
}

// Independent of the code under test: the FPU's default rounding is to the
// nearest, halves to even.
int32_t ExpectedPercent(int64_t position, int64_t archiveSize) {
    return static_cast<int32_t>(
        std::nearbyint(static_cast<double>(position) * 100.0 / static_cast<double>(archiveSize)));
}

// ---- Fixture -------------------------------------------------------------

class ExtractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = temp_.path;
        ASSERT_TRUE(voztest::FolderExists(root_)) << root_;
        dest_ = root_ + "\\dest";
        archive_ = root_ + "\\in.voz";
        ASSERT_TRUE(CreateDirectoryA(dest_.c_str(), nullptr));
        g_progress.clear();
    }
    // An empty destination again, for the next case of a table.
    void FreshDestination() {
        RemoveTree(dest_);
        ASSERT_TRUE(CreateDirectoryA(dest_.c_str(), nullptr));
    }

    // Writes the archive and extracts it into dest (or another folder).
    int32_t Extract(const TBytes& archive, const std::string& dest) {
        EXPECT_TRUE(WriteBytes(archive_, archive));
        return ExtractArchive(archive_.c_str(), dest.c_str(), nullptr, RecordProgress, &g_progress);
    }
    int32_t Extract(const TBytes& archive) { return Extract(archive, dest_); }

    voztest::TTempFolder temp_{"x"};
    std::string root_;
    std::string dest_;
    std::string archive_;
};

}  // namespace

// ---- Success ---------------------------------------------------------------

TEST_F(ExtractTest, ManyEntriesWithFoldersStampsAndAttributes) {
    std::vector<TArchiveEntry> entries;
    const uint32_t stamps[] = {DosStamp(1980, 1, 1, 0, 0, 0), DosStamp(1999, 12, 31, 23, 59, 58),
                               DosStamp(2004, 7, 15, 12, 30, 44), DosStamp(2011, 3, 27, 2, 30, 0),
                               DosStamp(2037, 11, 5, 8, 1, 2)};
    // The attribute sets Wine keeps on any Unix file system.
    const uint32_t attributes[] = {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY};
    for (int i = 0; i < 40; ++i) {
        TArchiveEntry e;
        char name[64];
        if (i % 7 == 0)
            std::snprintf(name, sizeof name, "top%d.txt", i);
        else
            std::snprintf(name, sizeof name, "d%d\\s%d\\deep\\file%d.bin", i % 3, i % 5, i);
        e.name = name;
        e.timeStamp = stamps[i % 5];
        e.attributes = attributes[i % 2];
        e.content = MixedContent((i * 7919u) % 70000, i);
        entries.push_back(e);
    }
    // Larger than one block, so the reader hands over several blocks.
    TArchiveEntry big;
    big.name = "big\\payload.dat";
    big.timeStamp = stamps[3];
    big.content = MixedContent(5 * 1024 * 1024 + 123, 77);
    entries.push_back(big);
    // Empty, as a complete stream.
    TArchiveEntry empty;
    empty.name = "d1\\empty.txt";
    empty.timeStamp = stamps[2];
    entries.push_back(empty);
    // A repeated name: the later entry replaces the earlier file.
    TArchiveEntry again = entries[3];
    again.content = MixedContent(999, 1234);
    again.attributes = FILE_ATTRIBUTE_ARCHIVE;
    again.timeStamp = stamps[4];
    entries.push_back(again);

    TBytes archive;
    ASSERT_TRUE(BuildArchive(entries, TEncodeOptions(), &archive));
    ASSERT_EQ(Extract(archive), kExtractOk);
    EXPECT_FALSE(Exists(archive_));

    for (size_t i = 0; i < entries.size(); ++i) {
        if (i == 3) continue;  // replaced by the last entry
        const TArchiveEntry& e = entries[i];
        const std::string path = dest_ + "\\" + e.name;
        EXPECT_EQ(ReadBytes(path), AsString(e.content)) << e.name;
        ExpectDatedFile(path, e.timeStamp, e.attributes);
    }
    // The progress ends with 100 for the last entry.
    ASSERT_FALSE(g_progress.empty());
    EXPECT_EQ(g_progress.back().first, dest_ + "\\" + again.name);
    EXPECT_EQ(g_progress.back().second, 100);
}

TEST_F(ExtractTest, EmptyArchive) {
    const TBytes archive = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(Finish({}), archive);
    EXPECT_EQ(Extract(archive), kExtractOk);
    EXPECT_FALSE(Exists(archive_));
    EXPECT_TRUE(ListTree(dest_).empty());
    ASSERT_EQ(g_progress.size(), 1u);
    EXPECT_EQ(g_progress[0], std::make_pair(std::string(), 100));
}

TEST_F(ExtractTest, EmptyFileWithFourUninterpretedBytes) {
    TBytes body;
    TEntryHeader h{DosStamp(2002, 2, 2, 14, 0, 0), 0, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 4,
                   kRegisterStart};
    AppendRaw(&body, "empty4.txt", h, {'J', 'U', 'N', 'K'});
    // The next entry starts right after the four bytes.
    AppendGood(&body, "after.txt", {'o', 'k'});
    ASSERT_EQ(Extract(Finish(body)), kExtractOk);
    EXPECT_EQ(ReadBytes(dest_ + "\\empty4.txt"), "");
    ExpectDatedFile(dest_ + "\\empty4.txt", h.timeStamp, h.attributes);
    EXPECT_EQ(ReadBytes(dest_ + "\\after.txt"), "ok");
}

TEST_F(ExtractTest, InvalidStampKeepsTheFileTime) {
    TBytes body;
    const TBytes content = {'t'};
    const TBytes stream = EntryStream(content);
    AppendRaw(&body, "undated.txt", HeaderFor(content, stream, 0 /* month 0 */, FILE_ATTRIBUTE_ARCHIVE), stream);
    ASSERT_EQ(Extract(Finish(body)), kExtractOk);
    HANDLE h = CreateFileA((dest_ + "\\undated.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME created, accessed, written, now;
    ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
    CloseHandle(h);
    GetSystemTimeAsFileTime(&now);
    EXPECT_LT(AsUint(now) - AsUint(written), 3600ull * 10000000ull);
    EXPECT_EQ(ReadBytes(dest_ + "\\undated.txt"), "t");
}

TEST_F(ExtractTest, ReplacesReadOnlyFileAndAppliesNewAttributes) {
    const std::string ro = dest_ + "\\ro.txt";
    const std::string rw = dest_ + "\\rw.txt";
    ASSERT_TRUE(WriteBytes(ro, std::string("old read-only")));
    ASSERT_TRUE(WriteBytes(rw, std::string("old too")));
    ASSERT_TRUE(SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA(rw.c_str(), FILE_ATTRIBUTE_READONLY));

    TBytes body;
    const TBytes a = {'n', 'e', 'w', '1'};
    const TBytes b = {'n', 'e', 'w', '2'};
    TBytes sa = EntryStream(a), sb = EntryStream(b);
    AppendRaw(&body, "ro.txt",
              HeaderFor(a, sa, DosStamp(2001, 1, 1, 1, 1, 2), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), sa);
    AppendRaw(&body, "rw.txt", HeaderFor(b, sb, DosStamp(2001, 1, 1, 1, 1, 4), FILE_ATTRIBUTE_ARCHIVE), sb);
    ASSERT_EQ(Extract(Finish(body)), kExtractOk);
    EXPECT_EQ(ReadBytes(ro), "new1");
    EXPECT_EQ(ReadBytes(rw), "new2");
    ExpectDatedFile(ro, DosStamp(2001, 1, 1, 1, 1, 2), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    ExpectDatedFile(rw, DosStamp(2001, 1, 1, 1, 1, 4), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(ExtractTest, TrailingBackslashesOnDestinationAreIgnored) {
    TBytes body;
    AppendGood(&body, "x\\y.txt", {'y'});
    ASSERT_EQ(Extract(Finish(body), dest_ + "\\\\\\"), kExtractOk);
    EXPECT_EQ(ReadBytes(dest_ + "\\x\\y.txt"), "y");
    EXPECT_EQ(g_progress.front().first, dest_ + "\\x\\y.txt");
}

TEST_F(ExtractTest, BareArchiveNameComesFromCurrentDirectory) {
    TBytes body;
    AppendGood(&body, "bare.txt", {'b'});
    const TBytes archive = Finish(body);
    char saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof saved, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));

    // No extension: ".voz" is appended.
    ASSERT_TRUE(WriteBytes(root_ + "\\bare.voz", archive));
    const int32_t noExtension = ExtractArchive("bare", dest_.c_str(), nullptr, nullptr);
    const bool consumed = !Exists(root_ + "\\bare.voz");
    // With an extension: used as it stands.
    ASSERT_TRUE(WriteBytes(root_ + "\\other.dat", archive));
    const int32_t withExtension = ExtractArchive("other.dat", dest_.c_str(), nullptr, nullptr);
    // A name that is not there.
    const int32_t missing = ExtractArchive("absent", dest_.c_str(), nullptr, nullptr);

    SetCurrentDirectoryA(saved);
    EXPECT_EQ(noExtension, kExtractOk);
    EXPECT_TRUE(consumed);
    EXPECT_EQ(withExtension, kExtractOk);
    EXPECT_FALSE(Exists(root_ + "\\other.dat"));
    EXPECT_EQ(missing, kExtractCannotOpen);
    EXPECT_EQ(ReadBytes(dest_ + "\\bare.txt"), "b");
}

TEST_F(ExtractTest, PasswordScramblesTheBody) {
    TBytes body;
    AppendGood(&body, "secret.txt", {'s'});
    const TBytes archive = FinishArchive(body, "pass word", 9);
    ASSERT_TRUE(WriteBytes(archive_, archive));
    EXPECT_EQ(ExtractArchive(archive_.c_str(), dest_.c_str(), nullptr, nullptr), kExtractBodyChecksum);
    EXPECT_TRUE(ListTree(dest_).empty());
    ASSERT_TRUE(WriteBytes(archive_, archive));
    EXPECT_EQ(ExtractArchive(archive_.c_str(), dest_.c_str(), "pass word", nullptr), kExtractOk);
    EXPECT_EQ(ReadBytes(dest_ + "\\secret.txt"), "s");
}

// ---- Progress ---------------------------------------------------------------

TEST_F(ExtractTest, ProgressBeforeEachEntryAndAfterEachWrite) {
    // Streams made command by command, so the number of writes is known: one
    // per literal.
    auto streamOf = [](const std::vector<TBytes>& literals, TBytes* content) {
        TCommandWriter w;
        BeginCommands(&w, kMaxBlockDecoded);
        for (const TBytes& l : literals) {
            AddLiteral(&w, l.data(), l.size());
            content->insert(content->end(), l.begin(), l.end());
        }
        AddEnd(&w);
        TBytes out;
        EXPECT_TRUE(EncodeCommands(w, TEncodeOptions(), &out));
        return out;
    };
    TBytes contentA, contentB;
    const TBytes streamA = streamOf({MixedContent(300, 1), MixedContent(5000, 2), MixedContent(70, 3)}, &contentA);
    const TBytes streamB = streamOf({MixedContent(1000, 4)}, &contentB);

    TBytes body;
    AppendRaw(&body, "one\\a.bin", HeaderFor(contentA, streamA), streamA);
    const int64_t positionA = static_cast<int64_t>(body.size() - streamA.size());
    AppendRaw(&body, "b.bin", HeaderFor(contentB, streamB), streamB);
    const int64_t positionB = static_cast<int64_t>(body.size() - streamB.size());
    const TBytes archive = Finish(body);
    const int64_t size = static_cast<int64_t>(archive.size());

    ASSERT_EQ(Extract(archive), kExtractOk);
    const std::string a = dest_ + "\\one\\a.bin", b = dest_ + "\\b.bin";
    const int32_t pa = ExpectedPercent(positionA, size), pb = ExpectedPercent(positionB, size);
    const std::vector<std::pair<std::string, int32_t>> expected = {{a, pa}, {a, pa}, {a, pa}, {a, pa},
                                                                   {b, pb}, {b, pb}, {b, 100}};
    EXPECT_EQ(g_progress, expected);
    EXPECT_EQ(ReadBytes(a), AsString(contentA));
    EXPECT_EQ(ReadBytes(b), AsString(contentB));
}

TEST_F(ExtractTest, ProgressRoundsHalvesToEven) {
    // One entry whose stream begins at p = 30 (2 + 8 name bytes + 20); the
    // archive size is chosen so that p * 100 / size lands exactly on a half.
    struct TCase {
        int64_t archiveSize;
        int32_t percent;
    };
    const TCase cases[] = {{240, 12} /* 12.5 */, {2000, 2} /* 1.5 */, {1200, 2} /* 2.5 */};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.archiveSize);
        const size_t wantStored = static_cast<size_t>(c.archiveSize - 4 - 30);
        TBytes content, stream;
        for (size_t length = 0; length < wantStored && stream.size() != wantStored; ++length) {
            content = MixedContent(length, 9);
            stream = EntryStream(content, 0);
        }
        ASSERT_EQ(stream.size(), wantStored);
        TBytes body;
        AppendRaw(&body, "half.bin", HeaderFor(content, stream), stream);
        g_progress.clear();
        ASSERT_EQ(Extract(Finish(body)), kExtractOk);
        ASSERT_GE(g_progress.size(), 2u);
        EXPECT_EQ(g_progress.front().second, c.percent);
        EXPECT_EQ(g_progress.back().second, 100);
    }
}

// ---- Failures -----------------------------------------------------------------

TEST_F(ExtractTest, DamagedBodyFailsBeforeAnyFile) {
    TBytes body;
    AppendGood(&body, "a\\first.txt", MixedContent(3000, 5));
    AppendGood(&body, "second.txt", MixedContent(20000, 6));
    const TBytes good = Finish(body);
    const size_t positions[] = {0, 1, good.size() / 2, good.size() - 5, good.size() - 1};
    for (size_t at : positions) {
        SCOPED_TRACE(at);
        TBytes bad = good;
        bad[at] ^= 0x40;
        g_progress.clear();
        EXPECT_EQ(Extract(bad), kExtractBodyChecksum);
        EXPECT_FALSE(Exists(archive_));
        EXPECT_TRUE(ListTree(dest_).empty());
        EXPECT_TRUE(g_progress.empty());
    }
    // Too short for its trailer, or cut anywhere.
    const TBytes shorts[] = {{},
                             {0xFF},
                             {0xFF, 0xFF, 0xFF},
                             TBytes(good.begin(), good.end() - 1),
                             TBytes(good.begin(), good.begin() + good.size() / 2)};
    for (const TBytes& s : shorts) {
        SCOPED_TRACE(s.size());
        EXPECT_EQ(Extract(s), kExtractBodyChecksum);
        EXPECT_FALSE(Exists(archive_));
        EXPECT_TRUE(ListTree(dest_).empty());
    }
}

TEST_F(ExtractTest, EntriesThatDoNotVerify) {
    const TBytes content = MixedContent(10000, 8);
    const TBytes stream = EntryStream(content);
    const TEntryHeader good = HeaderFor(content, stream);
    TBytes damagedStream = stream;
    damagedStream[stream.size() / 2] ^= 1;  // inside the block: its checksum fails

    struct TCase {
        const char* what;
        TEntryHeader header;
        TBytes stream;
    };
    std::vector<TCase> cases;
    auto add = [&](const char* what, auto change, TBytes s) {
        TEntryHeader h = good;
        change(&h);
        cases.push_back({what, h, std::move(s)});
    };
    TBytes longer = stream;
    longer.push_back(0);
    add(
        "stored size larger than the stream needs", [](TEntryHeader* h) { ++h->storedSize; }, longer);
    add(
        "stored size smaller", [](TEntryHeader* h) { --h->storedSize; }, TBytes(stream.begin(), stream.end() - 1));
    add(
        "content size larger", [](TEntryHeader* h) { ++h->contentSize; }, stream);
    add(
        "content size smaller", [](TEntryHeader* h) { --h->contentSize; }, stream);
    add(
        "checksum", [](TEntryHeader* h) { h->checksum ^= 0x100; }, stream);
    add(
        "stream damaged", [](TEntryHeader*) {}, damagedStream);
    add(
        "stored size past the body end", [](TEntryHeader* h) { h->storedSize += 1000; }, stream);
    add(
        "stored size huge", [](TEntryHeader* h) { h->storedSize = 0xFFFFFFF0u; }, stream);
    add(
        "empty file, four bytes, wrong checksum",
        [](TEntryHeader* h) {
            h->contentSize = 0;
            h->storedSize = 4;
            h->checksum = 0;
        },
        TBytes{1, 2, 3, 4});
    add(
        "empty content claimed, real stream", [](TEntryHeader* h) { h->contentSize = 0; }, stream);

    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(FreshDestination());
        TBytes body;
        AppendGood(&body, "first.txt", {'1'});
        AppendRaw(&body, "bad\\entry.bin", c.header, c.stream);
        AppendGood(&body, "never.txt", {'n'});
        EXPECT_EQ(Extract(Finish(body)), kExtractEntryFailed);
        EXPECT_FALSE(Exists(archive_));
        EXPECT_EQ(ReadBytes(dest_ + "\\first.txt"), "1");
        EXPECT_FALSE(Exists(dest_ + "\\never.txt"));
    }
}

TEST_F(ExtractTest, EntryStructureCutByTheBodyEnd) {
    TBytes lengthPastEnd;
    lengthPastEnd.push_back(0xE8);  // name length 1000, only 3 name bytes follow
    lengthPastEnd.push_back(0x03);
    lengthPastEnd.insert(lengthPastEnd.end(), {'a', 'b', 'c'});
    TBytes headerCut = {3, 0, 'a', 'b', 'c', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // 10 header bytes of 20
    const TBytes strayByte = {7};
    const TBytes zeroLength = {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 0};
    const TBytes tails[] = {lengthPastEnd, headerCut, strayByte, zeroLength};
    for (const TBytes& tail : tails) {
        SCOPED_TRACE(tail.size());
        ASSERT_NO_FATAL_FAILURE(FreshDestination());
        TBytes body;
        AppendGood(&body, "first.txt", {'1'});
        body.insert(body.end(), tail.begin(), tail.end());
        EXPECT_EQ(Extract(Finish(body)), kExtractEntryFailed);
        EXPECT_EQ(ListTree(dest_), std::vector<std::string>{"first.txt"});
    }
}

TEST_F(ExtractTest, UnsafeNamesCreateNothing) {
    const std::string unique = "vozevil_" + std::to_string(GetCurrentProcessId());
    const std::string names[] = {
        std::string(),
        "..\\" + unique,
        "sub\\..\\..\\" + unique,
        "sub/../../" + unique,
        "sub\\..",
        "..",
        "\\" + unique,
        "/" + unique,
        "C:\\" + unique,
        "C:" + unique,
        "sub\\stream.txt:hidden",
        "sub\\CON",
        "NUL.txt",
        "sub\\lpt1.log",
        "com9",
        "sub\\a*b",
        "sub\\a?b",
        "sub\\a<b",
        "sub\\a>b",
        "sub\\a|b",
        "sub\\a\"b",
        "sub\\a\x01"
        "b",
        std::string("sub\\a\0b", 7),
    };
    char cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof cwd, cwd), 0u);
    for (const std::string& name : names) {
        SCOPED_TRACE("name \"" + name + "\"");
        ASSERT_NO_FATAL_FAILURE(FreshDestination());
        TBytes body;
        AppendGood(&body, "first.txt", {'1'});
        const TBytes content = {'e', 'v', 'i', 'l'};
        const TBytes stream = EntryStream(content);
        AppendRaw(&body, name, HeaderFor(content, stream), stream);
        g_progress.clear();
        EXPECT_EQ(Extract(Finish(body)), kExtractEntryFailed);
        EXPECT_FALSE(Exists(archive_));
        // Inside: only the entry before it. Outside: nothing new anywhere.
        EXPECT_EQ(ListTree(dest_), std::vector<std::string>{"first.txt"});
        EXPECT_EQ(ListTree(root_), (std::vector<std::string>{"dest\\", "dest\\first.txt"}));
        EXPECT_FALSE(Exists("C:\\" + unique));
        EXPECT_FALSE(Exists(std::string(cwd) + "\\" + unique));
        // The refused entry was never announced.
        for (const auto& call : g_progress) EXPECT_EQ(call.first, dest_ + "\\first.txt");
    }
}

TEST_F(ExtractTest, EntryFileThatCannotBeCreated) {
    // A file in use, opened without share-write or share-delete.
    {
        const std::string busy = dest_ + "\\busy.txt";
        ASSERT_TRUE(WriteBytes(busy, std::string("in use")));
        HANDLE h = CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        TBytes body;
        AppendGood(&body, "before.txt", {'b'});
        AppendGood(&body, "busy.txt", {'n', 'e', 'w'});
        EXPECT_EQ(Extract(Finish(body)), kExtractCannotCreate);
        CloseHandle(h);
        EXPECT_FALSE(Exists(archive_));
        EXPECT_EQ(ReadBytes(busy), "in use");
        EXPECT_EQ(ReadBytes(dest_ + "\\before.txt"), "b");
    }
    // A folder that cannot be made because a file is in the way, and a name
    // that is an existing folder.
    {
        ASSERT_TRUE(WriteBytes(dest_ + "\\blocker", std::string("f")));
        TBytes body;
        AppendGood(&body, "blocker\\x.txt", {'x'});
        EXPECT_EQ(Extract(Finish(body)), kExtractCannotCreate);
        ASSERT_TRUE(CreateDirectoryA((dest_ + "\\folder").c_str(), nullptr));
        body.clear();
        AppendGood(&body, "folder", {'x'});
        EXPECT_EQ(Extract(Finish(body)), kExtractCannotCreate);
    }
    // A joined path longer than the calls take: nothing of it is created.
    {
        ASSERT_NO_FATAL_FAILURE(FreshDestination());
        const std::string longName = "deep\\" + std::string(MAX_PATH - dest_.size() - 6, 'n');
        ASSERT_GE((dest_ + "\\" + longName).size(), size_t(MAX_PATH));
        TBytes body;
        AppendGood(&body, longName, {'x'});
        EXPECT_EQ(Extract(Finish(body)), kExtractCannotCreate);
        EXPECT_FALSE(Exists(archive_));
        EXPECT_TRUE(ListTree(dest_).empty());
    }
}

TEST_F(ExtractTest, MissingArguments) {
    TBytes body;
    AppendGood(&body, "x.txt", {'x'});
    ASSERT_TRUE(WriteBytes(archive_, Finish(body)));
    EXPECT_EQ(ExtractArchive(nullptr, dest_.c_str(), nullptr, nullptr), kExtractCannotOpen);
    EXPECT_EQ(ExtractArchive("", dest_.c_str(), nullptr, nullptr), kExtractCannotOpen);
    // No destination: the archive is left as it was.
    EXPECT_EQ(ExtractArchive(archive_.c_str(), nullptr, nullptr, nullptr), kExtractCannotCreate);
    EXPECT_EQ(ExtractArchive(archive_.c_str(), "", nullptr, nullptr), kExtractCannotCreate);
    EXPECT_EQ(ReadBytes(archive_), AsString(Finish(body)));
    EXPECT_EQ(ExtractArchive((root_ + "\\missing.voz").c_str(), dest_.c_str(), nullptr, nullptr), kExtractCannotOpen);
    EXPECT_TRUE(ListTree(dest_).empty());
}

// ---- Links and the user's files ------------------------------------------------

// A folder "outside" beside the destination, with a few files, and links to
// it inside the destination; the checks compare it before and after.
class LinkTest : public ExtractTest {
  protected:
    void SetUp() override {
        ExtractTest::SetUp();
        outside_ = root_ + "\\outside";
        ASSERT_TRUE(CreateDirectoryA(outside_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((outside_ + "\\folder").c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(outside_ + "\\victim.txt", std::string("the user's file")));
        ASSERT_TRUE(WriteBytes(outside_ + "\\hard.txt", std::string("reached through a hard link")));
        ASSERT_TRUE(WriteBytes(outside_ + "\\readonly.txt", std::string("read-only outside")));
        ASSERT_TRUE(SetFileAttributesA((outside_ + "\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
        before_ = Outside();
    }
    void TearDown() override {
        // Links go first and by themselves: removing the tree (when the
        // temporary folder goes) would follow them.
        for (const std::string& link : links_) RemoveLink(link);
    }
    void Link(const std::string& target, const std::string& link) {
        ASSERT_TRUE(MakeSymbolicLink(target, link)) << link;
        links_.push_back(link);
    }
    // The outside folder's names, contents and attributes, one line each.
    std::vector<std::string> Outside() {
        std::vector<std::string> lines;
        for (const std::string& name : ListTree(outside_)) {
            const std::string path = outside_ + "\\" + name;
            std::string line = name;
            line += ' ';
            line += std::to_string(GetFileAttributesA(path.c_str()));
            if (name.back() != '\\') {
                line += ' ';
                line += ReadBytes(path);
            }
            lines.push_back(line);
        }
        return lines;
    }
    std::string outside_;
    std::vector<std::string> before_;
    std::vector<std::string> links_;
};

TEST_F(LinkTest, LinkedFoldersFailTheEntry) {
    struct TCase {
        const char* what;
        const char* link;  // below the destination; its folder is made first
        const char* target;
        const char* entry;
    } cases[] = {
        {"a linked folder", "Docs", "folder", "Docs\\Deep\\x.txt"},
        {"a linked folder deeper down", "sub\\Docs", "folder", "sub\\Docs\\x.txt"},
        {"a linked folder, other letter case", "Docs", "folder", "DOCS\\x.txt"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string link = dest_ + "\\" + c.link;
        const std::string linkFolder = link.substr(0, link.rfind('\\'));
        if (linkFolder != dest_) {
            ASSERT_TRUE(CreateDirectoryA(linkFolder.c_str(), nullptr));
        }
        ASSERT_NO_FATAL_FAILURE(Link(outside_ + "\\" + c.target, link));
        // Wine shows a linked folder as a reparse point, as Windows does.
        EXPECT_NE(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        TBytes body;
        AppendGood(&body, "first.txt", {'1'});
        AppendGood(&body, c.entry, {'e', 'v', 'i', 'l'});
        AppendGood(&body, "never.txt", {'n'});
        EXPECT_EQ(Extract(Finish(body)), kExtractEntryFailed);
        EXPECT_EQ(Outside(), before_);
        EXPECT_EQ(ReadBytes(dest_ + "\\first.txt"), "1");
        EXPECT_FALSE(Exists(dest_ + "\\never.txt"));
        EXPECT_FALSE(Exists(archive_));
        RemoveLink(link);
        links_.pop_back();
        ASSERT_NO_FATAL_FAILURE(FreshDestination());
    }
}

TEST_F(LinkTest, LinksAtAnEntrysNameAreReplacedNotFollowed) {
    ASSERT_TRUE(MakeHardLink(outside_ + "\\hard.txt", dest_ + "\\hard.txt"));
    ASSERT_NO_FATAL_FAILURE(Link(outside_ + "\\victim.txt", dest_ + "\\linked.txt"));
    ASSERT_NO_FATAL_FAILURE(Link(outside_ + "\\readonly.txt", dest_ + "\\readonly.txt"));
    TBytes body;
    AppendGood(&body, "hard.txt", {'n', 'e', 'w', '1'});
    AppendGood(&body, "linked.txt", {'n', 'e', 'w', '2'});
    const TBytes content = {'n', 'e', 'w', '3'};
    const TBytes stream = EntryStream(content);
    AppendRaw(&body, "readonly.txt",
              HeaderFor(content, stream, DosStamp(2004, 3, 9, 10, 20, 30), FILE_ATTRIBUTE_ARCHIVE), stream);
    ASSERT_EQ(Extract(Finish(body)), kExtractOk);
    EXPECT_EQ(Outside(), before_);
    EXPECT_EQ(ReadBytes(dest_ + "\\hard.txt"), "new1");
    EXPECT_EQ(ReadBytes(dest_ + "\\linked.txt"), "new2");
    EXPECT_EQ(ReadBytes(dest_ + "\\readonly.txt"), "new3");
    EXPECT_EQ(GetFileAttributesA((dest_ + "\\readonly.txt").c_str()), DWORD{FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_EQ(ListTree(dest_), (std::vector<std::string>{"hard.txt", "linked.txt", "readonly.txt"}));

    // A link to a folder at the entry's name is no file to replace.
    ASSERT_NO_FATAL_FAILURE(Link(outside_ + "\\folder", dest_ + "\\dirlink"));
    body.clear();
    AppendGood(&body, "dirlink", {'x'});
    EXPECT_EQ(Extract(Finish(body)), kExtractCannotCreate);
    EXPECT_EQ(Outside(), before_);
}

TEST_F(LinkTest, WholeFilesAreNotWrittenThroughLinks) {
    ASSERT_NO_FATAL_FAILURE(Link(outside_ + "\\victim.txt", dest_ + "\\settings.ini"));
    ASSERT_TRUE(MakeHardLink(outside_ + "\\hard.txt", dest_ + "\\hard.ini"));
    EXPECT_TRUE(WriteWholeFile("new settings", dest_ + "\\settings.ini"));
    EXPECT_TRUE(WriteWholeFile("new too", dest_ + "\\hard.ini"));
    EXPECT_EQ(Outside(), before_);
    EXPECT_EQ(ReadBytes(dest_ + "\\settings.ini"), "new settings");
    EXPECT_EQ(ReadBytes(dest_ + "\\hard.ini"), "new too");
    EXPECT_EQ(ListTree(dest_), (std::vector<std::string>{"hard.ini", "settings.ini"}));
}

// An entry that fails leaves the file it would have replaced as it was, and
// nothing of its own.
TEST_F(ExtractTest, FailedEntryKeepsTheFileItWouldReplace) {
    const TBytes content = MixedContent(10000, 8);
    const TBytes stream = EntryStream(content);
    TBytes damaged = stream;
    damaged[stream.size() / 2] ^= 1;
    TEntryHeader wrongChecksum = HeaderFor(content, stream);
    wrongChecksum.checksum ^= 1;
    struct TCase {
        const char* what;
        TEntryHeader header;
        TBytes stream;
    } cases[] = {
        {"damaged stream", HeaderFor(content, stream), damaged},
        {"wrong checksum", wrongChecksum, stream},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteBytes(dest_ + "\\user.txt", std::string("the user's own file")));
        TBytes body;
        AppendRaw(&body, "user.txt", c.header, c.stream);
        EXPECT_EQ(Extract(Finish(body)), kExtractEntryFailed);
        EXPECT_EQ(ReadBytes(dest_ + "\\user.txt"), "the user's own file");
        EXPECT_EQ(ListTree(dest_), std::vector<std::string>{"user.txt"});
    }
}

// A header that declares 1 byte over a stream of 40 MiB: the extraction
// stops at the declared size and leaves nothing.
TEST_F(ExtractTest, EntryLongerThanDeclaredStopsThere) {
    const TBytes big(40 << 20, 'A');
    const TBytes stream = EntryStream(big, 0);
    const TBytes one = {'A'};
    TEntryHeader h = HeaderFor(one, stream);
    TBytes body;
    AppendGood(&body, "first.txt", {'1'});
    AppendRaw(&body, "big.bin", h, stream);
    EXPECT_EQ(Extract(Finish(body)), kExtractEntryFailed);
    EXPECT_EQ(ListTree(dest_), std::vector<std::string>{"first.txt"});
    // Progress went on for at most what was written: one output write.
    int bigCalls = 0;
    for (const auto& call : g_progress) bigCalls += call.first == dest_ + "\\big.bin";
    EXPECT_LE(bigCalls, 2);
}

// WriteWholeFile and ApplyPatchFile on a disk that fills: the old file of
// that name stays whole (see FullDiskIsAnOutputError for the drive).
TEST_F(ExtractTest, FullDiskKeepsTheOldFile) {
    uint64_t totalBytes = 0;
    std::string why;
    const std::string driveRoot = voztest::SmallDriveRoot(&totalBytes, &why);
    if (driveRoot.empty()) GTEST_SKIP() << why;
    const std::string folder = driveRoot + "vozkeep_" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string old = "the help program that works";
    ASSERT_TRUE(WriteBytes(folder + "\\help.exe", old));
    const std::string tooBig(static_cast<size_t>(totalBytes) * 2, 'x');
    const bool written = WriteWholeFile(tooBig, folder + "\\help.exe");
    const std::string afterWrite = ReadBytes(folder + "\\help.exe");

    // The same through a patch: the reference copied twice over.
    const TBytes reference = MixedContent(static_cast<size_t>(totalBytes), 3);
    TCommandWriter w;
    BeginCommands(&w, 64 * 1024);
    AddCopy(&w, reference.data(), 0, static_cast<uint32_t>(reference.size()));
    AddCopy(&w, reference.data(), 0, static_cast<uint32_t>(reference.size()));
    AddEnd(&w);
    TBytes patch;
    ASSERT_TRUE(EncodeCommands(w, TEncodeOptions(), &patch));
    ASSERT_TRUE(WriteBytes(root_ + "\\ref.exe", reference));
    ASSERT_TRUE(WriteBytes(root_ + "\\help.pch", patch));
    const bool patched = ApplyPatchFile(root_ + "\\ref.exe", folder + "\\help.exe", root_ + "\\help.pch");
    const std::string afterPatch = ReadBytes(folder + "\\help.exe");
    const std::vector<std::string> left = ListTree(folder);
    RemoveTree(folder);

    EXPECT_FALSE(written);
    EXPECT_EQ(afterWrite, old);
    EXPECT_FALSE(patched);
    EXPECT_EQ(afterPatch, old);
    EXPECT_EQ(left, std::vector<std::string>{"help.exe"});
}

// The extraction must stop with an output error when the disk fills. The
// test harness maps a drive letter onto a 1 MiB tmpfs (tests/win/small-drive.sh)
// and names it in VOZ_SMALL_DRIVE.
TEST_F(ExtractTest, FullDiskIsAnOutputError) {
    uint64_t totalBytes = 0;
    std::string why;
    const std::string driveRoot = voztest::SmallDriveRoot(&totalBytes, &why);
    if (driveRoot.empty()) GTEST_SKIP() << why;
    // Never fill a real disk.

    const std::string smallDest = driveRoot + "vozfull_" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(smallDest.c_str(), nullptr));
    TBytes body;
    AppendGood(&body, "fits.txt", {'f'});
    TBytes noise(static_cast<size_t>(totalBytes) * 3);
    uint32_t s = 1;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((s = s * 1103515245u + 12345u) >> 24);
    AppendGood(&body, "sub\\toolarge.bin", noise);
    AppendGood(&body, "never.txt", {'n'});
    const int32_t result = Extract(Finish(body), smallDest);
    const std::string fits = ReadBytes(smallDest + "\\fits.txt");
    const bool never = Exists(smallDest + "\\never.txt");
    RemoveTree(smallDest);
    EXPECT_EQ(result, kExtractIoError);
    EXPECT_FALSE(Exists(archive_));
    EXPECT_EQ(fits, "f");
    EXPECT_FALSE(never);
}

// ---- Patches -------------------------------------------------------------------

class PatchTest : public ExtractTest {
  protected:
    void SetUp() override {
        ExtractTest::SetUp();
        reference_ = root_ + "\\ref.exe";
        patch_ = root_ + "\\help.pch";
        output_ = root_ + "\\help.exe";
    }
    // A patch that copies pieces of base and adds literals.
    static TBytes MakePatch(const TBytes& base, const TBytes& tail, TBytes* expected) {
        TCommandWriter w;
        BeginCommands(&w, 64 * 1024);
        AddCopy(&w, base.data(), 100, 5000);
        expected->assign(base.begin() + 100, base.begin() + 5100);
        const TBytes middle = MixedContent(777, 3);
        AddLiteral(&w, middle.data(), middle.size());
        expected->insert(expected->end(), middle.begin(), middle.end());
        AddCopy(&w, base.data(), 0, static_cast<uint32_t>(base.size()));
        expected->insert(expected->end(), base.begin(), base.end());
        AddLiteral(&w, tail.data(), tail.size());
        expected->insert(expected->end(), tail.begin(), tail.end());
        AddEnd(&w);
        TBytes out;
        EXPECT_TRUE(EncodeCommands(w, TEncodeOptions(), &out));
        return out;
    }
    std::string reference_, patch_, output_;
};

TEST_F(PatchTest, RebuildsTheOutput) {
    const TBytes base = MixedContent(40000, 1);
    TBytes expected;
    const TBytes patch = MakePatch(base, MixedContent(100, 2), &expected);
    ASSERT_TRUE(WriteBytes(reference_, base));
    ASSERT_TRUE(WriteBytes(patch_, patch));
    ASSERT_TRUE(WriteBytes(output_, std::string("previous output, longer than nothing")));
    EXPECT_TRUE(ApplyPatchFile(reference_, output_, patch_));
    EXPECT_EQ(ReadBytes(output_), AsString(expected));
    EXPECT_FALSE(Exists(patch_));
    EXPECT_EQ(ReadBytes(reference_), AsString(base));
}

TEST_F(PatchTest, OutputLargerThanTheFirstBufferTakesASecondPass) {
    const TBytes base = MixedContent(6000, 1);
    TBytes expected;
    const TBytes patch = MakePatch(base, MixedContent(0x40000 + 5000, 2), &expected);
    ASSERT_GT(expected.size(), base.size() + 0x40000);
    ASSERT_TRUE(WriteBytes(reference_, base));
    ASSERT_TRUE(WriteBytes(patch_, patch));
    EXPECT_TRUE(ApplyPatchFile(reference_, output_, patch_));
    EXPECT_EQ(ReadBytes(output_), AsString(expected));
    EXPECT_FALSE(Exists(patch_));
}

TEST_F(PatchTest, FailuresLeaveTheOutputAndRemoveThePatch) {
    const TBytes base = MixedContent(40000, 1);
    TBytes expected;
    const TBytes patch = MakePatch(base, MixedContent(100, 2), &expected);
    TBytes damaged = patch;
    damaged[damaged.size() / 2] ^= 0x10;
    TBytes wrongBase = base;
    wrongBase[200] ^= 1;  // copies from it give a different output: end checksum fails

    struct TCase {
        const char* what;
        bool writeReference;
        TBytes reference;
        bool writePatch;
        TBytes patchBytes;
    };
    const TCase cases[] = {
        {"missing reference", false, {}, true, patch},
        {"missing patch", true, base, false, {}},
        {"damaged patch", true, base, true, damaged},
        {"reference too short for a copy", true, TBytes(base.begin(), base.begin() + 1000), true, patch},
        {"other reference", true, wrongBase, true, patch},
        {"empty patch", true, base, true, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA(reference_.c_str());
        if (c.writeReference) {
            ASSERT_TRUE(WriteBytes(reference_, c.reference));
        }
        if (c.writePatch) {
            ASSERT_TRUE(WriteBytes(patch_, c.patchBytes));
        }
        ASSERT_TRUE(WriteBytes(output_, std::string("untouched")));
        EXPECT_FALSE(ApplyPatchFile(reference_, output_, patch_));
        EXPECT_EQ(ReadBytes(output_), "untouched");
        EXPECT_FALSE(Exists(patch_));
    }
}

TEST_F(PatchTest, WholeFileReadAndWrite) {
    std::string data = "stale";
    EXPECT_FALSE(ReadWholeFile(root_ + "\\missing", &data));
    EXPECT_TRUE(data.empty());
    const std::string bytes = AsString(MixedContent(300000, 4));
    EXPECT_TRUE(WriteWholeFile(bytes, output_));
    EXPECT_TRUE(ReadWholeFile(output_, &data));
    EXPECT_EQ(data, bytes);
    // Truncates; empty data makes an empty file.
    EXPECT_TRUE(WriteWholeFile("", output_));
    EXPECT_TRUE(ReadWholeFile(output_, &data));
    EXPECT_TRUE(data.empty());
    // A folder cannot be read or written as a file, nor can an over-long path.
    EXPECT_FALSE(ReadWholeFile(root_, &data));
    EXPECT_FALSE(WriteWholeFile("x", dest_));
    EXPECT_FALSE(WriteWholeFile("x", root_ + "\\" + std::string(300, 'p')));
}

// The process's peak working set (the most memory it held at once), from
// the call that Windows 7 and later (and Wine) export from kernel32.
static SIZE_T PeakWorkingSet() {
    struct TCounters {
        DWORD cb;
        DWORD PageFaultCount;
        SIZE_T PeakWorkingSetSize, WorkingSetSize, QuotaPeakPagedPoolUsage, QuotaPagedPoolUsage,
            QuotaPeakNonPagedPoolUsage, QuotaNonPagedPoolUsage, PagefileUsage, PeakPagefileUsage;
    } counters = {};
    counters.cb = sizeof counters;
    using TInfo = BOOL(WINAPI*)(HANDLE, TCounters*, DWORD);
    const auto info = reinterpret_cast<TInfo>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo")));
    if (info == nullptr || !info(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

// A patch of a few hundred bytes that copies a 1 MiB reference 256 times:
// the output (256 MiB) goes to the file as it is decoded, so the process
// never holds it in memory.
TEST_F(PatchTest, MemoryDoesNotFollowWhatThePatchAsksFor) {
    const TBytes base = MixedContent(1 << 20, 5);
    TCommandWriter w;
    BeginCommands(&w, kMaxBlockDecoded);
    constexpr int kCopies = 256;
    for (int i = 0; i < kCopies; ++i) AddCopy(&w, base.data(), 0, static_cast<uint32_t>(base.size()));
    AddEnd(&w);
    TBytes patch;
    TEncodeOptions options;
    options.level = 9;
    ASSERT_TRUE(EncodeCommands(w, options, &patch));
    ASSERT_LT(patch.size(), 1000u);
    ASSERT_TRUE(WriteBytes(reference_, base));
    ASSERT_TRUE(WriteBytes(patch_, patch));

    const SIZE_T peakBefore = PeakWorkingSet();
    ASSERT_GT(peakBefore, 0u);
    EXPECT_TRUE(ApplyPatchFile(reference_, output_, patch_));
    const SIZE_T grown = PeakWorkingSet() - peakBefore;
    EXPECT_LT(grown, SIZE_T{64} << 20) << "the peak working set grew by " << (grown >> 20) << " MiB";

    HANDLE h = CreateFileA(output_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD high = 0;
    const DWORD low = GetFileSize(h, &high);
    TBytes tail(base.size());
    DWORD got = 0;
    SetFilePointer(h, -static_cast<LONG>(base.size()), nullptr, FILE_END);
    ReadFile(h, tail.data(), static_cast<DWORD>(tail.size()), &got, nullptr);
    CloseHandle(h);
    EXPECT_EQ((static_cast<uint64_t>(high) << 32) | low, uint64_t{kCopies} * base.size());
    EXPECT_TRUE(tail == base);
    EXPECT_FALSE(Exists(patch_));
    EXPECT_EQ(ListTree(root_), (std::vector<std::string>{"dest\\", "help.exe", "ref.exe"}));
}
