// vozpack's patch maker: the suffix array behind it, the matcher's commands,
// whole patches applied by the real decoder, determinism across thread
// counts, and `vozpack patch` on a small patch whose output is huge.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "CRC_32.h"
#include "PackDeltaSuffix.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "PackCompress.h"
#include "PackDelta.h"
#include "PackDosTime.h"
#include "VozPack.h"

namespace fs = std::filesystem;
using TBytes = std::vector<uint8_t>;

namespace {

TBytes Random(size_t n, uint32_t seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    TBytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng() % static_cast<uint32_t>(alphabet));
    return b;
}

TBytes Repeat(const TBytes& unit, size_t n) {
    TBytes b;
    while (b.size() < n) b.insert(b.end(), unit.begin(), unit.end());
    b.resize(n);
    return b;
}

TBytes Cat(std::initializer_list<TBytes> parts) {
    TBytes b;
    for (const TBytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

TBytes Slice(const TBytes& b, size_t from, size_t n) {
    return TBytes(b.begin() + static_cast<ptrdiff_t>(from), b.begin() + static_cast<ptrdiff_t>(from + n));
}

size_t ZlibSize(const TBytes& b) {
    uLongf n = compressBound(static_cast<uLong>(b.size()));
    TBytes out(n);
    EXPECT_EQ(compress2(out.data(), &n, b.data(), static_cast<uLong>(b.size()), 9), Z_OK);
    return n;
}

// Code-like bytes: functions made of a small set of instruction patterns,
// with five-byte calls (E8 and a displacement relative to the next
// instruction) to other functions. Moving a function changes the
// displacement of every call that crosses the move.
struct TFunction {
    TBytes body;
    std::vector<std::pair<size_t, size_t>> calls;  // offset of a call in body, callee index
};

std::vector<TFunction> MakeFunctions(size_t count, uint32_t seed) {
    static const TBytes kPatterns[] = {
        {0x48, 0x89, 0xC7}, {0x48, 0x8B, 0x45, 0xF8}, {0x55},       {0x5D},       {0xC3},
        {0x31, 0xC0},       {0x48, 0x83, 0xEC, 0x18}, {0x85, 0xC0}, {0x74, 0x0A}, {0x0F, 0x1F, 0x44, 0x00, 0x00},
        {0x89, 0x45, 0xFC}, {0x8B, 0x55, 0xF0}};
    std::mt19937 rng(seed);
    std::vector<TFunction> functions(count);
    for (TFunction& f : functions) {
        const size_t size = 80 + rng() % 500;
        while (f.body.size() < size) {
            if (rng() % 12 == 0) {
                // Mostly to neighbours, as code calls what was written beside it.
                const size_t self = static_cast<size_t>(&f - functions.data());
                const size_t callee = rng() % 4 != 0 ? (self + count - 20 + rng() % 41) % count : rng() % count;
                f.calls.emplace_back(f.body.size(), callee);
                f.body.insert(f.body.end(), 5, 0xE8);
            } else {
                const TBytes& p = kPatterns[rng() % std::size(kPatterns)];
                f.body.insert(f.body.end(), p.begin(), p.end());
                if (rng() % 4 == 0) f.body.push_back(static_cast<uint8_t>(rng()));  // an immediate
            }
        }
    }
    return functions;
}

// The functions laid out in the given order, 16-byte aligned, with every
// call's displacement filled in.
TBytes Link(const std::vector<TFunction>& functions, const std::vector<size_t>& order) {
    std::vector<size_t> start(functions.size(), 0);
    size_t at = 0;
    for (size_t i : order) {
        start[i] = at;
        at = (at + functions[i].body.size() + 15) & ~size_t{15};
    }
    TBytes image(at, 0xCC);
    for (size_t i : order) {
        const TFunction& f = functions[i];
        std::copy(f.body.begin(), f.body.end(), image.begin() + static_cast<ptrdiff_t>(start[i]));
        for (const auto& [offset, callee] : f.calls) {
            const size_t site = start[i] + offset;
            const uint32_t rel = static_cast<uint32_t>(start[callee] - (site + 5));
            image[site] = 0xE8;
            for (int k = 0; k < 4; k++) image[site + 1 + static_cast<size_t>(k)] = static_cast<uint8_t>(rel >> (8 * k));
        }
    }
    return image;
}

// Two builds of one program: the second has new functions in between, some
// functions grown at their end and two swapped, so most code moved.
std::pair<TBytes, TBytes> TwoBuilds(size_t functions, uint32_t seed) {
    std::vector<TFunction> f = MakeFunctions(functions + 12, seed);
    std::mt19937 rng(seed + 1);
    std::vector<size_t> v1, v2;
    for (size_t i = 0; i < functions; i++) v1.push_back(i);
    v2 = v1;
    for (size_t k = 0; k < 12; k++) v2.insert(v2.begin() + static_cast<ptrdiff_t>(rng() % v2.size()), functions + k);
    std::swap(v2[v2.size() / 3], v2[2 * v2.size() / 3]);
    const TBytes old = Link(f, v1);
    for (size_t k = 0; k < functions / 20; k++) {
        TFunction& g = f[rng() % functions];
        for (int j = 0; j < 7; j++) g.body.push_back(static_cast<uint8_t>(rng()));
    }
    return {old, Link(f, v2)};
}

// The matcher's commands rebuild the target: in order, no empty command,
// every copy inside the base and equal to the bytes it stands for.
void ExpectCommandsRebuild(const TBytes& base, const TBytes& target, const std::vector<TDeltaCommand>& commands,
                           const char* what) {
    size_t at = 0;
    for (const TDeltaCommand& c : commands) {
        ASSERT_GT(c.length, 0u) << what;
        ASSERT_LE(at + c.length, target.size()) << what;
        if (c.copy) {
            ASSERT_LE(size_t{c.offset} + c.length, base.size()) << what << ": copy at " << at;
            ASSERT_EQ(std::memcmp(base.data() + c.offset, target.data() + at, c.length), 0)
                << what << ": copy at " << at;
        } else {
            ASSERT_EQ(c.offset, at) << what;
        }
        at += c.length;
    }
    EXPECT_EQ(at, target.size()) << what;
}

// The patch applied by the setup's decoder.
TBytes Apply(const TBytes& base, const TBytes& patch, int32_t* code) {
    TBytes out(1 << 20);
    int32_t size = static_cast<int32_t>(out.size());
    *code = ApplyPatchBuffer(base.data(), static_cast<int32_t>(base.size()), out.data(), &size, patch.data(),
                             static_cast<int32_t>(patch.size()), nullptr, nullptr);
    if (*code == kDecodeOutputTooSmall && size > 0) {
        out.assign(static_cast<size_t>(size), 0);
        *code = ApplyPatchBuffer(base.data(), static_cast<int32_t>(base.size()), out.data(), &size, patch.data(),
                                 static_cast<int32_t>(patch.size()), nullptr, nullptr);
    }
    out.resize(*code == 0 ? static_cast<size_t>(size) : 0);
    return out;
}

TBytes MakePatchOf(const TBytes& base, const TBytes& target, int threads = 0) {
    TCompressOptions o;
    o.best = true;
    o.threads = threads;
    TBytes patch;
    EXPECT_TRUE(MakePatch(base.data(), base.size(), target.data(), target.size(), o, &patch));
    return patch;
}

// ---- Suffix array ------------------------------------------------------------------------------

TBytes NaiveOrder(const TBytes& t, std::vector<int32_t>* order) {
    order->resize(t.size());
    for (size_t i = 0; i < t.size(); i++) (*order)[i] = static_cast<int32_t>(i);
    std::sort(order->begin(), order->end(), [&](int32_t a, int32_t b) {
        return std::lexicographical_compare(t.begin() + a, t.end(), t.begin() + b, t.end());
    });
    return t;
}

TEST(DeltaSuffixArray, SortsEverySuffix) {
    struct TCase {
        const char* what;
        TBytes text;
    } cases[] = {
        {"empty", {}},
        {"one byte", {7}},
        {"two equal bytes", {7, 7}},
        {"one value throughout", TBytes(3000, 0)},
        {"falling bytes",
         [] {
             TBytes b(600);
             for (size_t i = 0; i < b.size(); i++) b[i] = static_cast<uint8_t>(255 - i % 256);
             return b;
         }()},
        {"period two", Repeat({1, 2}, 2001)},
        {"period five with a twist", Cat({Repeat({'a', 'b', 'a', 'a', 'b'}, 1500), {'a'}, Repeat({'a', 'b'}, 77)})},
        {"binary alphabet", Random(5000, 1, 2)},
        {"four letters", Random(5000, 2, 4)},
        {"all byte values", Random(5000, 3)},
        {"runs of equal bytes",
         [] {
             TBytes b;
             std::mt19937 r(4);
             while (b.size() < 4000) b.insert(b.end(), 1 + r() % 40, static_cast<uint8_t>(r() % 3));
             return b;
         }()},
    };
    for (const TCase& c : cases) {
        std::vector<int32_t> sa, expected;
        NaiveOrder(c.text, &expected);
        ASSERT_TRUE(BuildSuffixArray(c.text.data(), c.text.size(), &sa)) << c.what;
        EXPECT_EQ(sa, expected) << c.what;
    }
}

TEST(DeltaSuffixArray, LongestMatchAgreesWithBruteForce) {
    std::mt19937 rng(5);
    for (int round = 0; round < 200; round++) {
        const int alphabet = round % 3 == 0 ? 2 : round % 3 == 1 ? 5 : 256;
        const TBytes text = Random(rng() % 400, rng(), alphabet);
        TSuffixIndex index;
        ASSERT_TRUE(BuildSuffixIndex(text.data(), text.size(), &index));
        for (int q = 0; q < 20; q++) {
            TBytes s = Random(rng() % 30, rng(), alphabet);
            if (q % 2 == 0 && !text.empty()) {  // a piece of the text, maybe running past its end
                const size_t from = rng() % text.size();
                s = Slice(text, from, std::min<size_t>(text.size() - from, rng() % 40));
                s.push_back(static_cast<uint8_t>(rng() % static_cast<uint32_t>(alphabet)));
            }
            const size_t cap = q % 5 == 0 ? 3 : 1000;
            size_t best = 0;
            for (size_t p = 0; p < text.size(); p++) {
                size_t n = 0;
                while (n < s.size() && n < cap && p + n < text.size() && text[p + n] == s[n]) n++;
                best = std::max(best, n);
            }
            if (best < 2) best = 0;
            size_t position = 0;
            const size_t got = LongestMatch(index, s.data(), s.size(), cap, &position);
            ASSERT_EQ(got, best) << "round " << round << " query " << q;
            if (got > 0) {
                ASSERT_LE(position + got, text.size());
                EXPECT_EQ(std::memcmp(text.data() + position, s.data(), got), 0);
            }
        }
    }
}

// ---- Patches -----------------------------------------------------------------------------------

TEST(DeltaPatch, CraftedPairsRoundTripThroughTheDecoder) {
    const TBytes random = Random(300000, 10);
    const TBytes text = Repeat({'s', 'e', 't', 'u', 'p', ' ', 'f', 'i', 'l', 'e', '\r', '\n'}, 300000);
    const auto [oldCode, newCode] = TwoBuilds(1500, 11);
    TBytes big = Random(2600000, 12, 16);  // over one block of commands and two matching segments
    TBytes bigEdited = big;
    for (size_t i = 1000; i < bigEdited.size(); i += 9973) bigEdited[i] ^= 0x5A;
    bigEdited.insert(bigEdited.begin() + 1500000, 3000, 0x11);
    struct TCase {
        const char* what;
        TBytes base, target;
        double maxShare;  // patch size / target size, at most (plus 64 bytes)
    } cases[] = {
        {"empty base", {}, Slice(random, 0, 5000), 1.01},
        {"empty target", random, {}, 0},
        {"both empty", {}, {}, 0},
        {"one byte each", {1}, {1}, 0},
        {"identical", random, random, 0.001},
        {"base much shorter: target repeats it with new bytes between", Slice(random, 0, 2000),
         Cat({Slice(random, 0, 2000), Random(100, 13), Slice(random, 0, 2000), Slice(random, 0, 1000)}), 0.1},
        {"base much longer: target is a piece of it", random, Slice(random, 123457, 4000), 0.01},
        {"match at the very start", random, Cat({Slice(random, 0, 50000), Random(3000, 14)}), 0.07},
        {"match at the very end", random, Cat({Random(3000, 15), Slice(random, 250000, 50000)}), 0.07},
        {"base ends inside the target's last match", Slice(random, 0, 1000),
         Cat({Random(500, 16), Slice(random, 0, 1000)}), 0.6},
        {"repeated structure", text, Cat({Slice(text, 0, 100000), {'x'}, Slice(text, 7, 200000)}), 0.01},
        {"one byte value", TBytes(100000, 0), TBytes(150000, 0), 0.01},
        {"unrelated", random, Random(100000, 17), 1.01},
        {"moved code with shifted addresses", oldCode, newCode, 0.12},
        {"over one block", big, bigEdited, 0.02},
    };
    for (const TCase& c : cases) {
        std::vector<TDeltaCommand> commands;
        MatchDelta(c.base.data(), c.base.size(), c.target.data(), c.target.size(), 0, &commands);
        ExpectCommandsRebuild(c.base, c.target, commands, c.what);
        const TBytes patch = MakePatchOf(c.base, c.target);
        int32_t code = 0;
        const TBytes out = Apply(c.base, patch, &code);
        EXPECT_EQ(code, 0) << c.what;
        EXPECT_TRUE(out == c.target) << c.what;
        EXPECT_LE(static_cast<double>(patch.size()), c.maxShare * static_cast<double>(c.target.size()) + 64)
            << c.what << ": patch of " << patch.size() << " bytes for " << c.target.size();
    }
}

TEST(DeltaPatch, MovedCodeCostsFarLessThanItsCompressedSelf) {
    // A patch that spelled the moved code instead of copying around the
    // changed displacements would come close to the compressed new file.
    const auto [oldCode, newCode] = TwoBuilds(3000, 21);
    const TBytes patch = MakePatchOf(oldCode, newCode);
    int32_t code = 0;
    EXPECT_TRUE(Apply(oldCode, patch, &code) == newCode);
    EXPECT_EQ(code, 0);
    EXPECT_LT(patch.size() * 3, ZlibSize(newCode)) << patch.size() << " vs " << ZlibSize(newCode);
}

TEST(DeltaPatch, RandomEditsRoundTrip) {
    // Small pairs with edits of every kind near the ends and in between, so
    // copies start and stop at every boundary the matcher has.
    std::mt19937 rng(31);
    for (int round = 0; round < 300; round++) {
        const int alphabet = round % 4 == 0 ? 3 : 256;
        TBytes base = Random(rng() % 3000, rng(), alphabet);
        if (round % 5 == 0) base = Repeat(Random(1 + rng() % 20, rng(), alphabet), base.size());
        TBytes target = base;
        const int edits = static_cast<int>(rng() % 8);
        for (int e = 0; e < edits && !target.empty(); e++) {
            const size_t at = rng() % target.size();
            switch (rng() % 4) {
            case 0:
                target[at] = static_cast<uint8_t>(rng());
                break;
            case 1:
                target.erase(target.begin() + static_cast<ptrdiff_t>(at),
                             target.begin() + static_cast<ptrdiff_t>(std::min(target.size(), at + rng() % 50)));
                break;
            case 2: {
                const TBytes ins = Random(rng() % 40, rng(), alphabet);
                target.insert(target.begin() + static_cast<ptrdiff_t>(at), ins.begin(), ins.end());
                break;
            }
            default:
                if (!base.empty()) {
                    const size_t from = rng() % base.size();
                    const TBytes piece = Slice(base, from, std::min<size_t>(base.size() - from, rng() % 200));
                    target.insert(target.begin() + static_cast<ptrdiff_t>(at), piece.begin(), piece.end());
                }
                break;
            }
        }
        std::vector<TDeltaCommand> commands;
        MatchDelta(base.data(), base.size(), target.data(), target.size(), 1, &commands);
        ExpectCommandsRebuild(base, target, commands, "random edits");
        if (HasFatalFailure()) return;
        int32_t code = 0;
        const TBytes out = Apply(base, MakePatchOf(base, target, 1), &code);
        ASSERT_EQ(code, 0) << "round " << round;
        ASSERT_TRUE(out == target) << "round " << round;
    }
}

TEST(DeltaPatch, SameBytesOnAnyThreadCount) {
    // Several matching segments, so the threads really split the work.
    const auto [oldCode, newCode] = TwoBuilds(9000, 41);
    ASSERT_GT(newCode.size(), size_t{2} << 20);
    const TBytes one = MakePatchOf(oldCode, newCode, 1);
    for (int threads : {2, 3, 8}) EXPECT_TRUE(MakePatchOf(oldCode, newCode, threads) == one) << threads << " threads";
    int32_t code = 0;
    EXPECT_TRUE(Apply(oldCode, one, &code) == newCode);
    EXPECT_EQ(code, 0);
}

// ---- vozpack patch on a patch whose output is huge ----------------------------------------------

void WriteBytes(const fs::path& p, const TBytes& data) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// Runs vozpack with the arguments; returns its exit status and its peak
// resident memory in KiB.
int RunVozpack(const std::vector<std::string>& args, long* peakKiB) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(VOZPACK_EXE)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VOZPACK_EXE, argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
    *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DeltaPatchCommand, SmallPatchWithHugeOutputKeepsMemoryLow) {
    char pattern[] = "/tmp/vozpack-delta-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    // 2,560 copies of the whole 64 KiB reference: 160 MiB of output from a
    // patch of a few hundred bytes.
    const TBytes reference = Random(65536, 51);
    constexpr int kCopies = 2560;
    TBytes commands;
    uint32_t reg = kRegisterStart;
    for (int i = 0; i < kCopies; i++) {
        commands.insert(commands.end(), {CopyCommand(1, 3), 0x00, 0x00, 0x00, 0x01});
        reg = Crc32Update(reference.data(), static_cast<int32_t>(reference.size()), reg);
    }
    TBytes good = commands, damaged = commands;
    good.push_back(kCmdEnd);
    damaged.push_back(kCmdEnd);
    for (int k = 0; k < 4; k++) {
        good.push_back(static_cast<uint8_t>(reg >> (8 * k)));
        damaged.push_back(static_cast<uint8_t>(~reg >> (8 * k)));
    }
    TBytes goodPatch, damagedPatch;
    ASSERT_TRUE(EncodeBlock(good.data(), static_cast<int32_t>(good.size()), TEncodeOptions{9}, &goodPatch));
    ASSERT_TRUE(EncodeBlock(damaged.data(), static_cast<int32_t>(damaged.size()), TEncodeOptions{9}, &damagedPatch));
    ASSERT_LT(goodPatch.size(), 1000u);
    WriteBytes(dir / "ref", reference);
    WriteBytes(dir / "good.pch", goodPatch);
    WriteBytes(dir / "damaged.pch", damagedPatch);

    // A small file patched the same way gives the baseline of the process.
    long baseline = 0, peak = 0;
    TBytes smallPatch;
    const TBytes smallTarget = Cat({reference, reference});
    ASSERT_TRUE(MakePatch(reference.data(), reference.size(), smallTarget.data(), smallTarget.size(),
                          TCompressOptions{}, &smallPatch));
    WriteBytes(dir / "small.pch", smallPatch);
    ASSERT_EQ(RunVozpack({"patch", (dir / "ref").string(), (dir / "small.pch").string(), (dir / "small.out").string()},
                         &baseline),
              0);

    ASSERT_EQ(RunVozpack({"patch", (dir / "ref").string(), (dir / "good.pch").string(), (dir / "out").string()}, &peak),
              0);
    EXPECT_LT(peak, baseline + 48 * 1024) << "peak " << peak << " KiB, baseline " << baseline << " KiB";
    // The output is all there.
    ASSERT_EQ(fs::file_size(dir / "out"), uint64_t{kCopies} * reference.size());
    {
        std::ifstream f(dir / "out", std::ios::binary);
        TBytes chunk(reference.size());
        uint32_t check = kRegisterStart;
        while (f.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()))) {
            check = Crc32Update(chunk.data(), static_cast<int32_t>(chunk.size()), check);
        }
        EXPECT_EQ(check, reg);
    }

    // Damaged at its end: a format failure as before, the output untouched.
    WriteBytes(dir / "out", {'k', 'e', 'e', 'p'});
    EXPECT_EQ(
        RunVozpack({"patch", (dir / "ref").string(), (dir / "damaged.pch").string(), (dir / "out").string()}, &peak),
        2);
    EXPECT_LT(peak, baseline + 48 * 1024);
    EXPECT_EQ(fs::file_size(dir / "out"), 4u);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
