// The codec core: CRC-32 routines, keystream, block and command decoders,
// the writer, and archive bodies. Every malformed stream is built on purpose,
// one case per failure.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "CRC_32.h"
#include "Scramble.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"

namespace {

using TBytes = std::vector<uint8_t>;

// ---- Stream building -----------------------------------------------------

TBytes operator+(TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TBytes Head(TBytes b, size_t n) {
    b.resize(n);
    return b;
}

TBytes Str(const std::string& s) { return TBytes(s.begin(), s.end()); }

TBytes Le(uint32_t v, int width) {
    TBytes b;
    for (int i = 0; i < width; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}

uint32_t Reg(const TBytes& b) { return Crc32UpdateBytewise(b.data(), static_cast<int32_t>(b.size()), kRegisterStart); }

TBytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    TBytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// Words and spaces: compresses well.
TBytes Text(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"setup ", "archive ", "block ", "the ", "of ", "file\r\n"};
    std::mt19937 rng(seed);
    TBytes b;
    while (b.size() < n) {
        const char* w = kWords[rng() % 6];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

// Commands, written by hand.
TBytes LitW(const TBytes& data, int width) {
    return TBytes{LiteralCommand(width)} + Le(static_cast<uint32_t>(data.size()), width) + data;
}
TBytes Lit(const TBytes& data) { return LitW(data, FieldWidthFor(static_cast<uint32_t>(data.size()))); }
TBytes End(uint32_t reg) { return TBytes{kCmdEnd} + Le(reg, 4); }
TBytes EndOf(const TBytes& output) { return End(Reg(output)); }
TBytes Copy(uint32_t offset, int offsetWidth, uint32_t length, int lengthWidth) {
    return TBytes{CopyCommand(offsetWidth, lengthWidth)} + Le(offset, offsetWidth) + Le(length, lengthWidth);
}

// Blocks, written by hand.
TBytes Block(uint8_t method, int32_t decoded, int32_t stored, uint32_t checksum, const TBytes& data) {
    TBlockHeader h = {method, decoded, stored, checksum};
    TBytes header(kBlockHeaderSize);
    PackBlockHeader(h, header.data());
    return header + data;
}
TBytes Stored(const TBytes& cmds) {
    const auto n = static_cast<int32_t>(cmds.size());
    return Block(kMethodStored, n, n, Reg(cmds), cmds);
}
TBytes Deflated(const TBytes& cmds) {
    uLongf n = compressBound(static_cast<uLong>(cmds.size()));
    TBytes z(n);
    EXPECT_EQ(compress2(z.data(), &n, cmds.data(), static_cast<uLong>(cmds.size()), 9), Z_OK);
    z.resize(n);
    return z;
}
TBytes Zlib(const TBytes& cmds) {
    const TBytes z = Deflated(cmds);
    return Block(kMethodZlib, static_cast<int32_t>(cmds.size()), static_cast<int32_t>(z.size()), Reg(z), z);
}

// ---- Decoding --------------------------------------------------------------

constexpr int32_t kLargeCapacity = 1 << 22;

struct TMemoryRun {
    int32_t code;
    int32_t size;
    TBytes output;
};

TMemoryRun DecodeMemory(const TBytes& base, const TBytes& stream, int32_t capacity = kLargeCapacity) {
    TMemoryRun r;
    r.output.assign(static_cast<size_t>(capacity), 0xCC);
    r.size = capacity;
    r.code = ApplyPatchBuffer(base.data(), static_cast<int32_t>(base.size()), r.output.data(), &r.size, stream.data(),
                              static_cast<int32_t>(stream.size()), nullptr, nullptr);
    return r;
}

// A source that delivers its bytes in chunks of varying, odd sizes.
struct TChunkedSource {
    const TBytes* data = nullptr;
    size_t position = 0;
    size_t turn = 0;
    std::vector<int32_t> chunks = {1, 7, 3, 13, 4096, 2, 65537};
    std::vector<int32_t> asked;  // every count that was asked for
    std::vector<int32_t> seeks;
};

int32_t TakeChunk(TChunkedSource* s, void* buffer, int32_t count) {
    s->asked.push_back(count);
    const size_t left = s->data->size() - s->position;
    size_t n = static_cast<size_t>(s->chunks[s->turn++ % s->chunks.size()]);
    n = std::min({n, left, static_cast<size_t>(count)});
    if (n > 0) std::memcpy(buffer, s->data->data() + s->position, n);
    s->position += n;
    return static_cast<int32_t>(n);
}

void ChunkRead(void* buffer, int32_t count, int32_t* got, void* user) {
    *got = TakeChunk(static_cast<TChunkedSource*>(user), buffer, count);
}

void ChunkSeek(int32_t offset, void* user) {
    auto* s = static_cast<TChunkedSource*>(user);
    s->seeks.push_back(offset);
    s->position = std::min(static_cast<size_t>(offset), s->data->size());
}

void AppendWrite(const void* buffer, int32_t count, void* user) {
    auto* out = static_cast<TBytes*>(user);
    const auto* p = static_cast<const uint8_t*>(buffer);
    out->insert(out->end(), p, p + count);
}

struct TProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;
};

void LogProgress(int32_t consumed, int32_t total, void* user) {
    static_cast<TProgressLog*>(user)->calls.emplace_back(consumed, total);
}

struct TStreamRun {
    int32_t code;
    TBytes output;
};

TStreamRun DecodeStreaming(const TBytes& base, const TBytes& stream) {
    TChunkedSource baseSource, streamSource;
    baseSource.data = &base;
    streamSource.data = &stream;
    TStreamRun r;
    r.code = ApplyPatchStream(ChunkRead, ChunkSeek, &baseSource, AppendWrite, &r.output, ChunkRead,
                              static_cast<int32_t>(stream.size()), &streamSource, nullptr, nullptr);
    return r;
}

// DecodeEntryStream hands one context to both its reader and its writer.
struct TEntryContext {
    TChunkedSource source;
    TBytes output;
};

int32_t EntryRead(void* buffer, int32_t count, void* context) {
    return TakeChunk(&static_cast<TEntryContext*>(context)->source, buffer, count);
}

void EntryWrite(const void* buffer, int32_t count, void* context) {
    AppendWrite(buffer, count, &static_cast<TEntryContext*>(context)->output);
}

// ---- CRC-32 --------------------------------------------------------------

TEST(Crc32, AbcFromStartRegister) {
    EXPECT_EQ(Crc32Update("abc", 3, kRegisterStart), 0xCADBBE3Du);
    EXPECT_EQ(Crc32UpdateBytewise("abc", 3, kRegisterStart), 0xCADBBE3Du);
    EXPECT_EQ(Crc32UpdateSlicing("abc", 3, kRegisterStart), 0xCADBBE3Du);
}

TEST(Crc32, LengthZeroOrNegativeLeavesRegister) {
    for (int32_t length : {0, -1, -5000}) {
        EXPECT_EQ(Crc32Update("abc", length, 0x12345678u), 0x12345678u);
        EXPECT_EQ(Crc32UpdateBytewise("abc", length, 0x12345678u), 0x12345678u);
        EXPECT_EQ(Crc32UpdateSlicing("abc", length, 0x12345678u), 0x12345678u);
        if (Crc32HasClmul()) {
            EXPECT_EQ(Crc32UpdateClmul("abc", length, 0x12345678u), 0x12345678u);
        }
    }
}

TEST(Crc32, RoutineNameMatchesProcessor) { EXPECT_STREQ(Crc32RoutineName(), Crc32HasClmul() ? "clmul" : "slicing"); }

// Every routine against the bytewise reference and against zlib (whose
// value is the register inverted on both sides), on random buffers, lengths,
// misalignments and start registers.
TEST(Crc32, AllRoutinesAgreeOnRandomBuffers) {
    const TBytes data = Random(5000 + 64, 7);
    std::mt19937 rng(11);
    for (int i = 0; i < 3000; i++) {
        const size_t skew = rng() % 64;
        const auto length = static_cast<int32_t>(rng() % 5001);
        const uint32_t reg = rng();
        const uint8_t* p = data.data() + skew;
        const uint32_t want = Crc32UpdateBytewise(p, length, reg);
        ASSERT_EQ(want, ~static_cast<uint32_t>(crc32(~reg, p, static_cast<uInt>(length))));
        ASSERT_EQ(Crc32UpdateSlicing(p, length, reg), want) << length << " at " << skew;
        ASSERT_EQ(Crc32Update(p, length, reg), want) << length << " at " << skew;
        if (Crc32HasClmul()) {
            ASSERT_EQ(Crc32UpdateClmul(p, length, reg), want) << length;
        }
    }
}

TEST(Crc32, LongBufferInPiecesEqualsWhole) {
    const TBytes data = Random(1 << 20, 3);
    const uint32_t whole = Crc32UpdateBytewise(data.data(), static_cast<int32_t>(data.size()), 0u);
    EXPECT_EQ(Crc32Update(data.data(), static_cast<int32_t>(data.size()), 0u), whole);
    uint32_t reg = 0;
    for (size_t at = 0; at < data.size(); at += 100003) {
        const auto n = static_cast<int32_t>(std::min<size_t>(100003, data.size() - at));
        reg = Crc32Update(data.data() + at, n, reg);
    }
    EXPECT_EQ(reg, whole);
}

// ---- Keystream -------------------------------------------------------------

struct TSeedCase {
    std::string password;
    size_t length;
    uint32_t seed;
};

TEST(Scramble, PasswordSeed) {
    const std::string longPassword(65537, '\0');
    const TSeedCase cases[] = {
        {"", 0, 0},
        {"a", 1, 0x61u << 8},
        {"ab", 2, (0x61u << 8) + (0x62u << 16)},
        {"abcd", 4, (0x61u << 8) + (0x62u << 16) + (0x63u << 24) + 0x64u},
        {"abcde", 5, (0x61u << 8) + (0x62u << 16) + (0x63u << 24) + 0x64u + (0x65u << 8)},
        {"\xFF\xFF\xFF\xFF\xFF", 5, 0xFF00u + 0xFF0000u + 0xFF000000u + 0xFFu + 0xFF00u},
    };
    for (const TSeedCase& c : cases) {
        EXPECT_EQ(PasswordSeed(c.password.data(), c.length), c.seed) << c.password;
    }
    EXPECT_EQ(PasswordSeed(nullptr, 5), 0u);
    // The length is kept in 16 bits: 65,537 counts as 1.
    std::string p = longPassword;
    p[0] = 'a';
    p[1] = 'b';
    EXPECT_EQ(PasswordSeed(p.data(), p.size()), 0x61u << 8);
}

TEST(Scramble, KeystreamFromSeedZero) {
    // state 1 -> key 0x00; state 0x08088406 -> key 0x08; and so on.
    uint8_t data[3] = {0, 0, 0};
    uint32_t state = 0;
    ScrambleBytes(&state, data, 3);
    uint32_t s = 0;
    for (uint8_t key : data) {
        s = s * 0x08088405u + 1;
        EXPECT_EQ(key, s >> 24);
    }
    EXPECT_EQ(data[0], 0x00);
    EXPECT_EQ(data[1], 0x08);
    EXPECT_EQ(state, s);
}

TEST(Scramble, ChunksContinueTheStreamAndTwiceRestores) {
    const TBytes plain = Random(40000, 5);
    TBytes whole = plain, pieces = plain;
    uint32_t a = PasswordSeed("pw", 2), b = a;
    ScrambleBytes(&a, whole.data(), whole.size());
    for (size_t at = 0; at < pieces.size(); at += kUnscrambleChunk) {
        ScrambleBytes(&b, pieces.data() + at, std::min<size_t>(kUnscrambleChunk, pieces.size() - at));
    }
    EXPECT_EQ(whole, pieces);
    EXPECT_NE(whole, plain);
    uint32_t c = PasswordSeed("pw", 2);
    ScrambleBytes(&c, whole.data(), whole.size());
    EXPECT_EQ(whole, plain);
}

// ---- Format helpers ------------------------------------------------------

TEST(Format, BlockHeaderLayout) {
    const TBlockHeader h = {kMethodZlib, 0x200040, -1, 0xCAFEBABEu};
    uint8_t raw[kBlockHeaderSize];
    PackBlockHeader(h, raw);
    const uint8_t want[kBlockHeaderSize] = {1, 0x40, 0x00, 0x20, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xBE, 0xBA, 0xFE, 0xCA};
    EXPECT_EQ(0, std::memcmp(raw, want, kBlockHeaderSize));
    const TBlockHeader back = UnpackBlockHeader(raw);
    EXPECT_EQ(back.method, h.method);
    EXPECT_EQ(back.decodedLength, h.decodedLength);
    EXPECT_EQ(back.storedLength, h.storedLength);
    EXPECT_EQ(back.checksum, h.checksum);
}

TEST(Format, EntryHeaderLayout) {
    const TEntryHeader h = {0x01020304u, 5, 0x20, 9, 0xFFFFFFFFu};
    uint8_t raw[kEntryHeaderSize];
    PackEntryHeader(h, raw);
    const uint8_t want[kEntryHeaderSize] = {4, 3, 2, 1, 5, 0, 0, 0, 0x20, 0, 0, 0, 9, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(raw, want, kEntryHeaderSize));
    const TEntryHeader back = UnpackEntryHeader(raw);
    EXPECT_EQ(back.timeStamp, h.timeStamp);
    EXPECT_EQ(back.contentSize, h.contentSize);
    EXPECT_EQ(back.attributes, h.attributes);
    EXPECT_EQ(back.storedSize, h.storedSize);
    EXPECT_EQ(back.checksum, h.checksum);
}

TEST(Format, FieldWidthsAndCommandBytes) {
    EXPECT_EQ(FieldWidthFor(0), 1);
    EXPECT_EQ(FieldWidthFor(0xFF), 1);
    EXPECT_EQ(FieldWidthFor(0x100), 2);
    EXPECT_EQ(FieldWidthFor(0xFFFF), 2);
    EXPECT_EQ(FieldWidthFor(0x10000), 3);
    EXPECT_EQ(FieldWidthFor(0xFFFFFF), 3);
    EXPECT_EQ(FieldWidthFor(0x1000000), 4);
    EXPECT_EQ(CopyCommand(1, 1), 0x10);
    EXPECT_EQ(CopyCommand(4, 4), 0x1F);
    EXPECT_EQ(CopyCommand(3, 2), 0x19);
    EXPECT_EQ(CopyOffsetWidth(0x19), 3);
    EXPECT_EQ(CommandLengthWidth(0x19), 2);
    EXPECT_EQ(LiteralCommand(1), 0x20);
    EXPECT_EQ(LiteralCommand(4), 0x23);
}

struct TNameCase {
    std::string name;
    bool safe;
};

TEST(Format, IsSafeEntryName) {
    const TNameCase cases[] = {
        {"", false},
        {"C:x", false},
        {"\\a", false},
        {"/a", false},
        {"a\\..\\b", false},
        {"..", false},
        {"a/../b", false},
        {"a:b", false},
        {"a*b", false},
        {"a?b", false},
        {"a<b", false},
        {"a>b", false},
        {"a|b", false},
        {"a\"b", false},
        {"a\x01"
         "b",
         false},
        {"CON", false},
        {"con.txt", false},
        {"a\\LPT1\\b", false},
        {"Com9.x", false},
        {"NUL", false},
        {"a\\b\\..", false},
        {"aux", false},
        {"PRN.log.txt", false},
        {"x\\nul ", false},
        {"a\\b.txt", true},
        {"CONSOLE.txt", true},
        {"COM0", true},
        {"LPT10", true},
        {"..a", true},
        {"a..b", true},
        {"x\\y\\z.dat", true},
        {"\xE4\xF6\xFC.txt", true},
        {"a\\.\\b", true},
        {"NULL", true},
        {"a b.txt", true},
    };
    for (const TNameCase& c : cases) {
        EXPECT_EQ(IsSafeEntryName(c.name.data(), c.name.size()), c.safe) << '"' << c.name << '"';
    }
    const char withNul[] = {'a', '\0', 'b'};
    EXPECT_FALSE(IsSafeEntryName(withNul, 3));
    EXPECT_FALSE(IsSafeEntryName(nullptr, 0));
}

// ---- InflateBlock ----------------------------------------------------------

struct TInflateCase {
    const char* name;
    int32_t arenaSize;  // -1: no arena at all
    int capacityDelta;  // added to the content size
    int mangle;         // 0 intact, 1 truncated, 2 garbage, 3 raw deflate (no zlib header)
    bool ok;
};

class InflateBlockTest : public testing::TestWithParam<TInflateCase> {};

TEST_P(InflateBlockTest, Case) {
    const TInflateCase& c = GetParam();
    const TBytes content = Text(100000, 1);
    TBytes z = Deflated(content);
    if (c.mangle == 1) z.resize(z.size() / 2);
    if (c.mangle == 2) z = Random(z.size(), 9);
    if (c.mangle == 3) z = TBytes(z.begin() + 2, z.end());
    // The arena sits between guard bytes that must stay untouched.
    constexpr size_t kGuard = 64;
    const size_t arenaBytes = c.arenaSize > 0 ? static_cast<size_t>(c.arenaSize) : 0;
    TBytes arena(arenaBytes + 2 * kGuard, 0xA5);
    TBytes out(content.size() + 16, 0);
    const bool ok = InflateBlock(z.data(), static_cast<int32_t>(z.size()), out.data(),
                                 static_cast<int32_t>(content.size()) + c.capacityDelta,
                                 c.arenaSize < 0 ? nullptr : arena.data() + kGuard, c.arenaSize);
    EXPECT_EQ(ok, c.ok);
    if (c.ok) {
        EXPECT_TRUE(std::equal(content.begin(), content.end(), out.begin()));
    }
    for (size_t i = 0; i < kGuard; i++) {
        ASSERT_EQ(arena[i], 0xA5);
        ASSERT_EQ(arena[arena.size() - 1 - i], 0xA5);
    }
}

const TInflateCase kInflateCases[] = {
    {"WholeArena", kInflateArenaSize, 0, 0, true},
    {"TinyArenaFallsBackToHeap", 64, 0, 0, true},
    {"ArenaTooSmallForWindow", 9000, -1, 0, false},
    {"NoArena", -1, 0, 0, true},
    {"LargerCapacity", kInflateArenaSize, 16, 0, true},
    {"CapacityOneShort", kInflateArenaSize, -1, 0, false},
    {"Truncated", kInflateArenaSize, 0, 1, false},
    {"Garbage", kInflateArenaSize, 0, 2, false},
    {"RawDeflateWithoutHeader", kInflateArenaSize, 0, 3, false},
};

INSTANTIATE_TEST_SUITE_P(Codec, InflateBlockTest, testing::ValuesIn(kInflateCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(InflateBlock, RejectsNegativeLengths) {
    const TBytes z = Deflated(Str("abc"));
    uint8_t out[8];
    EXPECT_FALSE(InflateBlock(z.data(), -1, out, 8, nullptr, 0));
    EXPECT_FALSE(InflateBlock(z.data(), static_cast<int32_t>(z.size()), out, -1, nullptr, 0));
    EXPECT_TRUE(InflateBlock(z.data(), static_cast<int32_t>(z.size()), out, 8, nullptr, 0));
}

// ---- Malformed and edge-case streams ---------------------------------------

constexpr int32_t kSkip = 1;  // this decoder is not run for the case

struct TStreamCase {
    std::string name;
    TBytes stream;
    TBytes base;
    int32_t memory;     // expected result of ApplyPatchBuffer
    int32_t streaming;  // expected result of ApplyPatchStream
    int32_t capacity = kLargeCapacity;
};

std::vector<TStreamCase> StreamCases() {
    const TBytes hello = Str("hello");
    const TBytes good = Lit(hello) + EndOf(hello);
    const TBytes abc = Str("abc");
    std::vector<TStreamCase> c;
    const auto add = [&](std::string name, TBytes stream, int32_t memory, int32_t streaming, TBytes base = {},
                         int32_t capacity = kLargeCapacity) {
        c.push_back({std::move(name), std::move(stream), std::move(base), memory, streaming, capacity});
    };

    // Good streams and corners that decode.
    add("StoredBlock", Stored(good), 0, 0);
    add("ZlibBlock", Zlib(good), 0, 0);
    add("OnlyEndCommand", Stored(EndOf({})), 0, 0);
    add("CommandByteEndsBlock", Stored(Lit(hello) + TBytes{kCmdEnd}) + Stored(Le(Reg(hello), 4)), 0, 0);
    add("WideLengthField", Stored(LitW(hello, 4) + EndOf(hello)), 0, 0);
    add("BytesAfterEndIgnored", Stored(good) + TBytes{0xFF, 0xFF}, 0, 0);
    add("CopyWholeBase", Stored(Copy(0, 1, 3, 1) + EndOf(abc)), 0, 0, abc);
    add("ZeroLengthCopyInsideBase", Stored(Copy(2, 1, 0, 1) + EndOf({})), 0, 0, abc);
    // In memory the offset must lie below the base length even for length 0;
    // streaming, a copy of nothing obtains nothing and succeeds.
    add("ZeroLengthCopyAtBaseEnd", Stored(Copy(3, 1, 0, 1) + EndOf({})), -3, 0, abc);
    {
        // No upper limit on the stored length in memory: a zlib stream padded
        // past 0x200400 bytes (the padding is never inflated).
        TBytes z = Deflated(good);
        z.resize(kMaxBlockStored + 1, 0x5A);
        add("StoredLengthAboveLimitInMemory",
            Block(kMethodZlib, static_cast<int32_t>(good.size()), kMaxBlockStored + 1, Reg(z), z), 0, -1);
    }

    // Short streams and bad block headers.
    add("EmptyStream", {}, -1, -1);
    add("ShortHeader", Head(Stored(good), 12), -1, -1);
    add("MethodTwo", Block(2, 11, 11, Reg(good), good), -1, -1);
    add("DecodedLengthAboveLimit",
        Block(kMethodZlib, kMaxBlockDecoded + 1, static_cast<int32_t>(Deflated(good).size()), Reg(Deflated(good)),
              Deflated(good)),
        -1, -1);
    add("DecodedLengthNegative", Block(kMethodZlib, -1, 4, Reg(abc), abc), -1, -1);
    add("StoredLengthNegative", Block(kMethodZlib, 11, -1, Reg(abc), abc), -1, -1);
    add("StoredLengthAboveLimit", Block(kMethodZlib, 11, kMaxBlockStored + 1, 0, abc), -1, -1);
    add("StoredLengthDiffersFromDecoded", Block(kMethodStored, 11, 12, Reg(good + abc), good + abc), -1, -1);
    add("StoredBytesCut", Head(Stored(good), Stored(good).size() - 1), -1, -1);
    add("CompressedBytesCut", Head(Zlib(good), Zlib(good).size() - 1), -1, -1);
    add("SecondHeaderCut", Stored(Lit(hello)) + TBytes(5, 0), -1, -1);
    add("BlockChecksumStored", Block(kMethodStored, 11, 11, Reg(good) ^ 1, good), -1, -1);
    {
        TBytes block = Zlib(Lit(Text(500, 2)) + EndOf(Text(500, 2)));
        block[kBlockHeaderSize + 6] ^= 0x10;
        add("FlippedBitInCompressedBlock", block, -1, -1);
    }
    {
        const TBytes junk = Random(40, 4);
        add("InflationFailsWithGoodChecksum", Block(kMethodZlib, 11, 40, Reg(junk), junk), -1, -1);
    }
    {
        const TBytes z = Deflated(good);
        add("InflatesPastDecodedLength",
            Block(kMethodZlib, static_cast<int32_t>(good.size()) - 1, static_cast<int32_t>(z.size()), Reg(z), z), -1,
            -1);
    }
    add("EmptyBlock", Block(kMethodStored, 0, 0, kRegisterStart, {}) + Stored(good), -1, -1);
    {
        // A zlib block that inflates to less than its decoded length: the rest
        // of the block reads as zeros whatever an earlier decode left there, so
        // here an end command with checksum 0.
        const TBytes z = Deflated(Lit(hello));
        add("InflatesShortOfDecodedLength", Block(kMethodZlib, 7 + 5, static_cast<int32_t>(z.size()), Reg(z), z), -4,
            -4);
    }

    // Fields and literals against block ends.
    add("EndChecksumCutByBlock",
        Stored(Lit(hello) + TBytes{kCmdEnd} + Le(Reg(hello), 2)) + Stored(Le(Reg(hello) >> 16, 2)), -1, -1);
    add("LiteralLengthCutByBlock", Stored({LiteralCommand(2), 5}) + Stored(TBytes{0} + hello + EndOf(hello)), -1, -1);
    add("LiteralLengthEndsBlock", Stored({LiteralCommand(1), 5}) + Stored(hello + EndOf(hello)), -1, -1);
    add("ZeroLiteralLengthEndsBlock", Stored({LiteralCommand(1), 0}) + Stored(EndOf({})), -1, -1);
    add("LiteralDataPastBlockEnd",
        Stored(TBytes{LiteralCommand(1), 6} + hello) + Stored(Str("!") + EndOf(hello + Str("!"))), -1, -1);
    add("LiteralDataPastStreamEnd", Stored(TBytes{LiteralCommand(1), 200} + hello), -1, -1);
    add("CopyOffsetCutByBlock", Stored({CopyCommand(2, 1), 0}) + Stored(TBytes{0, 3} + EndOf(abc)), -1, -1, abc);
    add("LiteralLengthNegative", Stored(TBytes{LiteralCommand(4)} + Le(0x80000000u, 4) + hello + EndOf(hello)), -1, -1);
    add("LiteralLengthAllOnes", Stored(TBytes{LiteralCommand(4)} + Le(0xFFFFFFFFu, 4) + hello + EndOf(hello)), -1, -1);

    // Commands.
    add("CommandByte01", Stored(TBytes{0x01} + good), -2, -2);
    add("CommandByte0F", Stored(TBytes{0x0F} + good), -2, -2);
    add("CommandByte24", Stored(TBytes{0x24, 0} + good), -2, -2);
    add("CommandByteFF", Stored(TBytes{0xFF} + good), -2, -2);
    add("CopyOffsetNegative", Stored(Copy(0x80000000u, 4, 1, 1) + EndOf(abc)), -2, -2, abc);
    add("CopyLengthNegative", Stored(Copy(0, 1, 0x80000000u, 4) + EndOf(abc)), -2, -2, abc);
    add("CopyOffsetPastBase", Stored(Copy(4, 1, 1, 1) + EndOf(abc)), -3, -3, abc);
    add("CopyEndPastBase", Stored(Copy(1, 1, 3, 1) + EndOf(abc)), -3, -3, abc);
    add("CopyWithEmptyBase", Stored(Copy(0, 1, 1, 1) + EndOf(abc)), -3, -3);
    add("CopyOffsetPlusLengthWraps", Stored(Copy(0x7FFFFFFFu, 4, 0x7FFFFFFFu, 4) + EndOf(abc)), -3, -3, abc);
    add("CopyLengthWrapsPastOffset", Stored(Copy(1, 1, 0x7FFFFFFFu, 4) + EndOf(abc)), -3, -3, abc);

    // End command and stream end.
    add("EndChecksumFlipped", Stored(Lit(hello) + End(Reg(hello) ^ 0x100)), -4, -4);
    add("MissingEndCommand", Stored(Lit(hello)), -1, -1);
    add("EndChecksumCutByStreamEnd", Stored(Lit(hello) + TBytes{kCmdEnd, 1, 2}), -1, -1);

    // Output capacity (memory decoder only).
    add("OutputTooSmall", Stored(good), -5, kSkip, {}, 4);
    add("OutputTooSmallThenBadChecksum", Stored(Lit(hello) + End(0)), -4, kSkip, {}, 4);
    add("OutputTooSmallThenMalformed", Stored(Lit(hello)) + TBytes{1}, -1, kSkip, {}, 4);
    add("OutputTooSmallThenBadCommand", Stored(Lit(hello) + TBytes{0x30}), -2, kSkip, {}, 4);
    add("ZeroCapacity", Stored(good), -5, kSkip, {}, 0);
    return c;
}

class StreamCaseTest : public testing::TestWithParam<TStreamCase> {};

TEST_P(StreamCaseTest, BothDecoders) {
    const TStreamCase& c = GetParam();
    if (c.memory != kSkip) {
        const TMemoryRun m = DecodeMemory(c.base, c.stream, c.capacity);
        EXPECT_EQ(m.code, c.memory) << "memory decoder";
    }
    if (c.streaming != kSkip) {
        const TStreamRun s = DecodeStreaming(c.base, c.stream);
        EXPECT_EQ(s.code, c.streaming) << "streaming decoder";
    }
}

INSTANTIATE_TEST_SUITE_P(Codec, StreamCaseTest, testing::ValuesIn(StreamCases()),
                         [](const auto& p) { return p.param.name; });

// ---- Decoder behaviour -----------------------------------------------------

TEST(ApplyPatchBuffer, TooSmallReportsFullSizeAndSecondPassSucceeds) {
    const TBytes content = Text(30000, 3);
    TBytes stream;
    ASSERT_TRUE(EncodeEntryStream(content.data(), content.size(), {6, 1000}, &stream));
    const int32_t capacity = 10000;
    TMemoryRun first;
    first.output.assign(capacity + 64, 0xCC);
    first.size = capacity;
    first.code = ApplyPatchBuffer(nullptr, 0, first.output.data(), &first.size, stream.data(),
                                  static_cast<int32_t>(stream.size()), nullptr, nullptr);
    EXPECT_EQ(first.code, kDecodeOutputTooSmall);
    EXPECT_EQ(first.size, static_cast<int32_t>(content.size()));
    // Only whole writes that fit were made, and nothing past the capacity.
    for (int32_t i = capacity; i < capacity + 64; i++) ASSERT_EQ(first.output[i], 0xCC);
    EXPECT_TRUE(std::equal(first.output.begin(), first.output.begin() + 900, content.begin()));

    const TMemoryRun second = DecodeMemory({}, stream, first.size);
    EXPECT_EQ(second.code, 0);
    EXPECT_EQ(second.size, first.size);
    EXPECT_EQ(second.output, content);
}

TEST(ApplyPatchBuffer, OutputBeyondTwoGigabytesIsMalformed) {
    // 2,049 copies of a 1 MiB base claim more output than a size can hold.
    const TBytes base(1 << 20, 0x11);
    TBytes cmds;
    for (int i = 0; i < 2049; i++) cmds = cmds + Copy(0, 1, 1u << 20, 3);
    const TMemoryRun r = DecodeMemory(base, Stored(cmds + End(0)), 16);
    EXPECT_EQ(r.code, kDecodeMalformed);
}

TEST(ApplyPatchBuffer, NullArgumentsAreShortStreams) {
    int32_t size = 0;
    EXPECT_EQ(ApplyPatchBuffer(nullptr, 0, nullptr, &size, nullptr, 0, nullptr, nullptr), -1);
    EXPECT_EQ(size, 0);
    const TBytes stream = Stored(EndOf({}));
    EXPECT_EQ(ApplyPatchBuffer(nullptr, -5, nullptr, nullptr, stream.data(), static_cast<int32_t>(stream.size()),
                               nullptr, nullptr),
              0);
}

// Progress after every command: 13 + stored length per block loaded so
// far; the memory decoder reports the stream length as the total.
TEST(Decoders, ProgressCountsLoadedBlocks) {
    const TBytes blockA = Stored(Lit(Str("abc")));                       // 13 + 5
    const TBytes blockB = Stored(Lit(Str("de")) + EndOf(Str("abcde")));  // 13 + 9
    const TBytes stream = blockA + blockB;
    const std::vector<std::pair<int32_t, int32_t>> want = {{18, 777}, {40, 777}, {40, 777}};

    TChunkedSource source;
    source.data = &stream;
    TBytes output;
    TProgressLog log;
    EXPECT_EQ(
        ApplyPatchStream(nullptr, nullptr, nullptr, AppendWrite, &output, ChunkRead, 777, &source, LogProgress, &log),
        0);
    EXPECT_EQ(log.calls, want);
    EXPECT_EQ(output, Str("abcde"));

    TProgressLog memoryLog;
    uint8_t out[16];
    int32_t size = sizeof out;
    EXPECT_EQ(ApplyPatchBuffer(nullptr, 0, out, &size, stream.data(), static_cast<int32_t>(stream.size()), LogProgress,
                               &memoryLog),
              0);
    const auto total = static_cast<int32_t>(stream.size());
    EXPECT_EQ(memoryLog.calls, (std::vector<std::pair<int32_t, int32_t>>{{18, total}, {40, total}, {40, total}}));
}

TEST(ApplyPatchStream, CopyPassesThroughChunksOfTheStoredBuffer) {
    const TBytes base = Random(static_cast<size_t>(kMaxBlockStored) + 1000, 8);
    const auto length = static_cast<uint32_t>(base.size());
    const TBytes stream = Stored(Copy(0, 1, length, 3) + EndOf(base));
    TChunkedSource baseSource, streamSource;
    baseSource.data = &base;
    baseSource.chunks = {1 << 30};  // a reader that delivers all it is asked for
    streamSource.data = &stream;
    TBytes output;
    EXPECT_EQ(ApplyPatchStream(ChunkRead, ChunkSeek, &baseSource, AppendWrite, &output, ChunkRead, -1, &streamSource,
                               nullptr, nullptr),
              0);
    EXPECT_EQ(output, base);
    EXPECT_EQ(baseSource.seeks, std::vector<int32_t>{0});
    EXPECT_EQ(baseSource.asked, (std::vector<int32_t>{kMaxBlockStored, 1000}));
}

TEST(ApplyPatchStream, BaseReaderDeliveringLittleAtATime) {
    const TBytes base = Random(5000, 12);
    const TBytes want = TBytes(base.begin() + 100, base.begin() + 4100);
    const TBytes stream = Stored(Copy(100, 1, 4000, 2) + EndOf(want));
    const TStreamRun r = DecodeStreaming(base, stream);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.output, want);
}

struct TEntryCase {
    const char* name;
    TBytes stream;
    int32_t code;
};

TEST(DecodeEntryStream, Results) {
    const TBytes hello = Str("hello");
    const TEntryCase cases[] = {
        {"Literal", Stored(Lit(hello) + EndOf(hello)), 0},
        {"OnlyEnd", Stored(EndOf({})), 0},
        {"CopyFromEmptyBase", Stored(Copy(0, 1, 5, 1) + EndOf(hello)), kDecodeEntryFailed},
        {"ZeroLengthCopy", Stored(Copy(0, 1, 0, 1) + EndOf({})), 0},
        {"BadChecksum", Stored(Lit(hello) + End(0)), kDecodeEntryFailed},
        {"Truncated", Stored(Lit(hello)), kDecodeEntryFailed},
        {"Empty", {}, kDecodeEntryFailed},
    };
    for (const TEntryCase& c : cases) {
        TEntryContext entry;
        entry.source.data = &c.stream;
        EXPECT_EQ(DecodeEntryStream(EntryRead, EntryWrite, &entry), c.code) << c.name;
    }
}

// ---- Writer round trips ----------------------------------------------------

// Walks the decoded command bytes of every block and checks the writer's
// rules: blocks within the limits, every command whole in one block.
void CheckWriterLayout(const TBytes& stream, int32_t blockSize) {
    size_t at = 0;
    while (at < stream.size()) {
        ASSERT_LE(at + kBlockHeaderSize, stream.size());
        const TBlockHeader h = UnpackBlockHeader(stream.data() + at);
        at += kBlockHeaderSize;
        ASSERT_GT(h.decodedLength, 0);
        ASSERT_LE(h.decodedLength, blockSize);
        ASSERT_LE(h.storedLength, kMaxBlockStored);
        ASSERT_LE(at + h.storedLength, stream.size());
        ASSERT_EQ(Crc32Update(stream.data() + at, h.storedLength, kRegisterStart), h.checksum);
        TBytes cmds(static_cast<size_t>(h.decodedLength));
        if (h.method == kMethodStored) {
            ASSERT_EQ(h.storedLength, h.decodedLength);
            std::memcpy(cmds.data(), stream.data() + at, cmds.size());
        } else {
            ASSERT_EQ(h.method, kMethodZlib);
            ASSERT_LT(h.storedLength, h.decodedLength);
            ASSERT_TRUE(InflateBlock(stream.data() + at, h.storedLength, cmds.data(), h.decodedLength, nullptr, 0));
        }
        at += static_cast<size_t>(h.storedLength);
        size_t p = 0;
        while (p < cmds.size()) {
            const uint8_t cmd = cmds[p];
            size_t n = 1;
            if (cmd == kCmdEnd) {
                n = 5;
            } else if (cmd >= kCmdLiteralFirst && cmd <= kCmdLiteralLast) {
                const int w = CommandLengthWidth(cmd);
                ASSERT_LE(p + 1 + w, cmds.size());
                uint32_t len = 0;
                for (int i = 0; i < w; i++) len |= static_cast<uint32_t>(cmds[p + 1 + i]) << (8 * i);
                ASSERT_GT(len, 0u);
                ASSERT_EQ(w, FieldWidthFor(len));
                n = 1 + w + len;
            } else {
                ASSERT_TRUE(cmd >= kCmdCopyFirst && cmd <= kCmdCopyLast) << int(cmd);
                n = 1 + CopyOffsetWidth(cmd) + CommandLengthWidth(cmd);
            }
            ASSERT_LE(p + n, cmds.size()) << "command cut by a block end";
            p += n;
        }
    }
}

struct TRoundTrip {
    std::string name;
    int kind;  // 0 text, 1 random, 2 zeros
    size_t size;
    int32_t blockSize;
    int level;
};

TBytes Content(int kind, size_t size) {
    if (kind == 0) return Text(size, 21);
    if (kind == 1) return Random(size, 22);
    return TBytes(size, 0);
}

class RoundTripTest : public testing::TestWithParam<TRoundTrip> {};

TEST_P(RoundTripTest, ThroughAllDecoders) {
    const TRoundTrip& c = GetParam();
    const TBytes content = Content(c.kind, c.size);
    TBytes stream;
    ASSERT_TRUE(EncodeEntryStream(content.data(), content.size(), {c.level, c.blockSize}, &stream));
    CheckWriterLayout(stream, c.blockSize);

    const TMemoryRun m = DecodeMemory({}, stream, static_cast<int32_t>(content.size()));
    EXPECT_EQ(m.code, 0);
    EXPECT_EQ(m.size, static_cast<int32_t>(content.size()));
    EXPECT_EQ(m.output, content);

    const TStreamRun s = DecodeStreaming({}, stream);
    EXPECT_EQ(s.code, 0);
    EXPECT_EQ(s.output, content);

    TEntryContext entry;
    entry.source.data = &stream;
    EXPECT_EQ(DecodeEntryStream(EntryRead, EntryWrite, &entry), 0);
    EXPECT_EQ(entry.output, content);
}

const TRoundTrip kRoundTrips[] = {
    {"EmptyStored", 2, 0, kMaxBlockDecoded, 0},
    {"EmptyCompressed", 2, 0, kMaxBlockDecoded, 6},
    {"OneByte", 0, 1, kMaxBlockDecoded, 6},
    {"TextSmallestBlocks", 0, 1000, kMinCommandBlockSize, 6},
    {"TextBlocksOf10", 0, 2000, 10, 0},
    {"RandomBlocksOf13", 1, 1000, 13, 9},
    {"TextBlocksOf64", 0, 5000, 64, 1},
    {"ZerosBlocksOf300", 2, 20000, 300, 6},
    {"RandomBlocksOf4096Stored", 1, 50000, 4096, 0},
    {"TextBlocksOf4096", 0, 50000, 4096, 9},
    {"LengthWidthTwoToThree", 0, 70000, 65540, 6},
    {"TextFullBlockAndMore", 0, kMaxBlockDecoded + 100, kMaxBlockDecoded, 6},
    {"RandomTwoFullBlocks", 1, kMaxBlockDecoded + 100, kMaxBlockDecoded, 6},
    {"ZerosFullBlockStored", 2, kMaxBlockDecoded, kMaxBlockDecoded, 0},
};

INSTANTIATE_TEST_SUITE_P(Codec, RoundTripTest, testing::ValuesIn(kRoundTrips),
                         [](const auto& p) { return p.param.name; });

// Patches: a target made of base pieces and new bytes, written with copy and
// literal commands, rebuilt by both decoders.
class PatchRoundTripTest : public testing::TestWithParam<int32_t> {};

TEST_P(PatchRoundTripTest, CopiesAndLiterals) {
    const TBytes base = Text(40000, 31) + Random(30000, 32);
    std::mt19937 rng(static_cast<uint32_t>(GetParam()));
    TCommandWriter w;
    BeginCommands(&w, GetParam());
    TBytes target;
    for (int i = 0; i < 40; i++) {
        if (rng() % 2 == 0) {
            const uint32_t offset = rng() % base.size();
            const uint32_t length = rng() % std::min<uint32_t>(400, base.size() - offset + 1);
            AddCopy(&w, base.data(), offset, length);
            target.insert(target.end(), base.begin() + offset, base.begin() + offset + length);
        } else {
            const TBytes fresh = Random(rng() % 300, rng());
            AddLiteral(&w, fresh.data(), fresh.size());
            target = target + fresh;
        }
    }
    AddEnd(&w);
    EXPECT_EQ(w.outputRegister, Reg(target));
    for (const auto& [begin, end] : SplitIntoBlocks(w)) {
        ASSERT_LE(end - begin, static_cast<size_t>(w.blockSize));
        ASSERT_GT(end, begin);
    }
    for (int level : {0, 6}) {
        TBytes stream;
        ASSERT_TRUE(EncodeCommands(w, {level, w.blockSize}, &stream));
        CheckWriterLayout(stream, w.blockSize);
        const TMemoryRun m = DecodeMemory(base, stream, static_cast<int32_t>(target.size()));
        EXPECT_EQ(m.code, 0);
        EXPECT_EQ(m.output, target);
        const TStreamRun s = DecodeStreaming(base, stream);
        EXPECT_EQ(s.code, 0);
        EXPECT_EQ(s.output, target);
    }
}

INSTANTIATE_TEST_SUITE_P(Codec, PatchRoundTripTest,
                         testing::Values(kMinCommandBlockSize, 10, 32, 1000, kMaxBlockDecoded));

struct TCopyWidthCase {
    uint32_t offset;
    uint32_t length;
    TBytes bytes;
};

TEST(CommandWriter, CopyUsesSmallestFieldWidths) {
    const TBytes base(0x10000, 7);
    const TCopyWidthCase cases[] = {
        {0, 0, {0x10, 0, 0}},
        {0xFF, 0x100, {0x11, 0xFF, 0, 1}},
        {0x100, 0xFF, {0x14, 0, 1, 0xFF}},
        {0, 0x10000, {0x12, 0, 0, 0, 1}},
        {0xFFFF, 1, {0x14, 0xFF, 0xFF, 1}},
        {0x10000, 0, {0x18, 0, 0, 1, 0}},
        {0x1000000, 0, {0x1C, 0, 0, 0, 1, 0}},
        {0x7FFFFFFF, 0, {0x1C, 0xFF, 0xFF, 0xFF, 0x7F, 0}},
    };
    for (const TCopyWidthCase& c : cases) {
        TCommandWriter w;
        BeginCommands(&w, 100);
        AddCopy(&w, base.data(), c.offset, c.length);
        EXPECT_EQ(w.bytes, c.bytes) << c.offset << " " << c.length;
        EXPECT_EQ(w.outputRegister,
                  Crc32Update(base.data() + (c.length ? c.offset : 0), static_cast<int32_t>(c.length), kRegisterStart));
        EXPECT_FALSE(w.failed);
    }
}

TEST(CommandWriter, UnrepresentableCopyFailsTheWriter) {
    TCommandWriter w;
    BeginCommands(&w, 100);
    AddCopy(&w, nullptr, 0x80000000u, 0);
    EXPECT_TRUE(w.failed);
    TBytes out;
    AddEnd(&w);
    EXPECT_FALSE(EncodeCommands(w, {}, &out));
}

TEST(CommandWriter, LiteralNeverStartsItsDataAtABlockEnd) {
    TCommandWriter w;
    BeginCommands(&w, 10);
    const TBytes a = Str("1234567");  // 1 + 1 + 7 bytes: one byte left in the block
    const TBytes b = Str("xy");
    AddLiteral(&w, a.data(), a.size());
    AddLiteral(&w, b.data(), b.size());
    AddEnd(&w);
    const auto blocks = SplitIntoBlocks(w);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], (std::pair<size_t, size_t>{0, 9}));
    EXPECT_EQ(TBytes(w.bytes.begin() + 9, w.bytes.begin() + 13), (TBytes{0x20, 2, 'x', 'y'}));
}

TEST(CommandWriter, BlockSizeIsClamped) {
    TCommandWriter w;
    BeginCommands(&w, 1);
    EXPECT_EQ(w.blockSize, kMinCommandBlockSize);
    BeginCommands(&w, kMaxBlockDecoded + 1);
    EXPECT_EQ(w.blockSize, kMaxBlockDecoded);
}

struct TEncodeBlockCase {
    const char* name;
    TBytes commands;
    int level;
    uint8_t method;
};

TEST(EncodeBlock, StoredOrCompressed) {
    const TEncodeBlockCase cases[] = {
        {"LevelZeroStores", Text(5000, 1), 0, kMethodStored},
        {"CompressibleCompresses", Text(5000, 1), 6, kMethodZlib},
        {"IncompressibleStays", Random(5000, 1), 9, kMethodStored},
        {"TinyStays", Str("a"), 9, kMethodStored},
    };
    for (const TEncodeBlockCase& c : cases) {
        TBytes out = {0xEE};  // appended after what is there
        ASSERT_TRUE(
            EncodeBlock(c.commands.data(), static_cast<int32_t>(c.commands.size()), {c.level, kMaxBlockDecoded}, &out))
            << c.name;
        EXPECT_EQ(out[0], 0xEE);
        const TBlockHeader h = UnpackBlockHeader(out.data() + 1);
        EXPECT_EQ(h.method, c.method) << c.name;
        EXPECT_EQ(h.decodedLength, static_cast<int32_t>(c.commands.size()));
        EXPECT_EQ(out.size(), 1 + kBlockHeaderSize + static_cast<size_t>(h.storedLength));
        EXPECT_EQ(h.checksum, Crc32Update(out.data() + 1 + kBlockHeaderSize, h.storedLength, kRegisterStart));
    }
    TBytes out;
    const TBytes one = Str("a");
    EXPECT_FALSE(EncodeBlock(one.data(), -1, {}, &out));
    EXPECT_FALSE(EncodeBlock(one.data(), kMaxBlockDecoded + 1, {}, &out));
    EXPECT_FALSE(EncodeBlock(one.data(), 1, {10, kMaxBlockDecoded}, &out));
    EXPECT_TRUE(out.empty());
}

TEST(EncodeEntryStream, EmptyContentIsOneBlockWithTheEndCommand) {
    TBytes stream;
    ASSERT_TRUE(EncodeEntryStream(nullptr, 0, {}, &stream));
    EXPECT_EQ(stream, Stored(End(kRegisterStart)));
    const TMemoryRun m = DecodeMemory({}, stream, 0);
    EXPECT_EQ(m.code, 0);
    EXPECT_EQ(m.size, 0);
}

TEST(EncodeEntryStream, RejectsBlockSizesOutsideTheLimits) {
    TBytes stream;
    const TBytes a = Str("abc");
    EXPECT_FALSE(EncodeEntryStream(a.data(), a.size(), {6, kMinCommandBlockSize - 1}, &stream));
    EXPECT_FALSE(EncodeEntryStream(a.data(), a.size(), {6, kMaxBlockDecoded + 1}, &stream));
    EXPECT_FALSE(EncodeEntryStream(nullptr, 3, {}, &stream));
}

// ---- Archive bodies --------------------------------------------------------

TEST(Archive, NoEntriesIsJustTheTrailer) {
    EXPECT_EQ(FinishArchive({}, nullptr, 0), (TBytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(FinishArchive({}, "secret", 6), (TBytes{0xFF, 0xFF, 0xFF, 0xFF}));
    TBytes archive;
    ASSERT_TRUE(BuildArchive({}, {}, &archive));
    EXPECT_EQ(archive, (TBytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Archive, TrailerIsOverThePlainBodyAndTheBodyIsScrambled) {
    const TBytes body = Text(1000, 4);
    const TBytes archive = FinishArchive(body, "pw", 2);
    ASSERT_EQ(archive.size(), body.size() + kTrailerSize);
    EXPECT_EQ(TBytes(archive.end() - 4, archive.end()), Le(Reg(body), 4));
    TBytes plain(archive.begin(), archive.end() - 4);
    uint32_t state = PasswordSeed("pw", 2);
    ScrambleBytes(&state, plain.data(), plain.size());
    EXPECT_EQ(plain, body);
}

TEST(Archive, AppendEntryRefusesWhatTheFormatCannotCarry) {
    TBytes body;
    const TBytes stream = Stored(EndOf({}));
    TEntryHeader h = {0, 0, 0x20, static_cast<uint32_t>(stream.size()), kRegisterStart};
    EXPECT_FALSE(AppendArchiveEntry(&body, "", h, stream.data(), stream.size()));
    EXPECT_FALSE(AppendArchiveEntry(&body, std::string(65536, 'a'), h, stream.data(), stream.size()));
    EXPECT_FALSE(AppendArchiveEntry(&body, "a", h, stream.data(), stream.size() - 1));
    EXPECT_TRUE(body.empty());
    EXPECT_TRUE(AppendArchiveEntry(&body, std::string(65535, 'a'), h, stream.data(), stream.size()));
    EXPECT_EQ(body.size(), 2 + 65535 + kEntryHeaderSize + stream.size());
    EXPECT_EQ(body[0], 0xFF);
    EXPECT_EQ(body[1], 0xFF);
}

// Reads an archive back the way extraction does: unscramble, check the
// trailer, walk the entries and decode each stream with exactly its bytes.
TEST(Archive, BuildArchiveReadsBack) {
    std::vector<TArchiveEntry> entries(4);
    entries[0].name = "readme.txt";
    entries[0].content = Text(3000, 5);
    entries[0].timeStamp = 0x5A8B6C3Du;
    entries[1].name = "bin\\tool.exe";
    entries[1].content = Random(70000, 6);
    entries[1].attributes = 0x21;
    entries[2].name = "empty.dat";
    entries[3].name = "data\\zeros.bin";
    entries[3].content = TBytes(100000, 0);
    TBytes archive;
    ASSERT_TRUE(BuildArchive(entries, {6, 4096}, &archive));

    TBytes body(archive.begin(), archive.end() - kTrailerSize);
    uint32_t state = PasswordSeed(nullptr, 0);
    ScrambleBytes(&state, body.data(), body.size());
    ASSERT_EQ(Le(Reg(body), 4), TBytes(archive.end() - kTrailerSize, archive.end()));

    size_t at = 0;
    for (const TArchiveEntry& e : entries) {
        ASSERT_LE(at + 2, body.size());
        const size_t nameLength = body[at] | body[at + 1] << 8;
        at += 2;
        EXPECT_EQ(std::string(body.begin() + at, body.begin() + at + nameLength), e.name);
        at += nameLength;
        const TEntryHeader h = UnpackEntryHeader(body.data() + at);
        at += kEntryHeaderSize;
        EXPECT_EQ(h.timeStamp, e.timeStamp);
        EXPECT_EQ(h.contentSize, e.content.size());
        EXPECT_EQ(h.attributes, e.attributes);
        EXPECT_EQ(h.checksum, Reg(e.content));
        const TBytes stream(body.begin() + at, body.begin() + at + h.storedSize);
        at += h.storedSize;
        TEntryContext entry;
        entry.source.data = &stream;
        EXPECT_EQ(DecodeEntryStream(EntryRead, EntryWrite, &entry), 0) << e.name;
        EXPECT_EQ(entry.output, e.content) << e.name;
        EXPECT_EQ(entry.source.position, stream.size()) << e.name;
    }
    EXPECT_EQ(at, body.size());
}

}  // namespace
