// Codec benchmark: entry decoding against plain zlib inflation of the same
// blocks, and the CRC-32 routines against zlib's crc32, all measured in one
// run on a corpus this program makes itself.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CRC_32.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"

namespace {

using TBytes = std::vector<uint8_t>;
constexpr size_t kKindSize = size_t{16} << 20;  // per kind; four kinds make 64 MiB
constexpr size_t kEntrySize = size_t{4} << 20;
constexpr int kRuns = 5;

struct TRandom {
    uint64_t s;
    uint64_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};

// Prose-like text: words from a syllable vocabulary picked with a skewed
// distribution, with punctuation and line breaks.
TBytes MakeText(size_t n) {
    static const char* const kSyllables[] = {"ka", "re", "mi",  "to",   "sa", "ne", "lo",  "vi",
                                             "da", "pu", "ten", "ster", "on", "al", "ing", "ex"};
    TRandom rng{0x9E3779B97F4A7C15ull};
    std::vector<std::string> words;
    for (int i = 0; i < 4000; i++) {
        std::string w;
        const int syllables = 1 + static_cast<int>(rng.Below(4));
        for (int k = 0; k < syllables; k++) w += kSyllables[rng.Below(16)];
        words.push_back(w);
    }
    TBytes out;
    out.reserve(n + 64);
    int column = 0;
    while (out.size() < n) {
        // Squaring a uniform pick favours the first words, as in real prose.
        const uint32_t u = rng.Below(1u << 16);
        const std::string& w = words[(static_cast<uint64_t>(u) * u * words.size()) >> 32];
        out.insert(out.end(), w.begin(), w.end());
        column += static_cast<int>(w.size()) + 1;
        const uint32_t r = rng.Below(100);
        if (r < 6) out.push_back(',');
        if (r >= 6 && r < 10) out.push_back('.');
        if (column > 72) {
            out.push_back('\r');
            out.push_back('\n');
            column = 0;
        } else {
            out.push_back(' ');
        }
    }
    out.resize(n);
    return out;
}

// Structured binary: tables of fixed records with slowly changing fields,
// interleaved with code-like runs of a small instruction set.
TBytes MakeBinary(size_t n) {
    TRandom rng{0x243F6A8885A308D3ull};
    TBytes out;
    out.reserve(n + 4096);
    uint32_t id = 1000;
    float value = 1.0f;
    static const char* const kNames[] = {"alpha\0\0\0", "beta\0\0\0\0", "gamma\0\0\0", "delta\0\0\0"};
    while (out.size() < n) {
        if (rng.Below(2) == 0) {
            for (int i = 0; i < 64; i++) {  // a table of 32-byte records
                uint8_t rec[32] = {};
                id += 1 + rng.Below(3);
                value += static_cast<float>(rng.Below(100)) * 0.01f;
                const uint16_t type = static_cast<uint16_t>(rng.Below(5));
                std::memcpy(rec, &id, 4);
                std::memcpy(rec + 4, &type, 2);
                std::memcpy(rec + 8, &value, 4);
                std::memcpy(rec + 16, kNames[rng.Below(4)], 8);
                out.insert(out.end(), rec, rec + 32);
            }
        } else {
            for (int i = 0; i < 400; i++) {  // opcodes with small immediates
                static const uint8_t kOps[][3] = {{0x8B, 0x45, 0}, {0x89, 0x45, 0}, {0xE8, 0, 0},
                                                  {0x83, 0xC4, 0}, {0x50, 0, 0},    {0x5D, 0xC3, 0}};
                const auto& op = kOps[rng.Below(6)];
                out.insert(out.end(), op, op + 2);
                out.push_back(static_cast<uint8_t>(rng.Below(4) * 4));
            }
        }
    }
    out.resize(n);
    return out;
}

TBytes MakeRandom(size_t n) {
    TRandom rng{0xB7E151628AED2A6Bull};
    TBytes out(n);
    for (size_t i = 0; i + 8 <= n; i += 8) {
        const uint64_t v = rng.Next();
        std::memcpy(out.data() + i, &v, 8);
    }
    return out;
}

struct TEntry {
    const char* kind;
    const uint8_t* content;
    size_t size;
    TBytes stream;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

template <class F>
double BestOf(F&& f) {
    double best = 1e30;
    for (int i = 0; i < kRuns; i++) {
        const auto t = std::chrono::steady_clock::now();
        f();
        best = std::min(best, Seconds(t));
    }
    return best;
}

// The reference: the same blocks inflated with zlib into one buffer
// (stored blocks copied), no checksums of any kind checked.
void InflatePlain(const TEntry& e, uint8_t* out) {
    size_t at = 0;
    size_t written = 0;
    while (at < e.stream.size()) {
        const TBlockHeader h = UnpackBlockHeader(e.stream.data() + at);
        at += kBlockHeaderSize;
        if (h.method == kMethodStored) {
            std::memcpy(out + written, e.stream.data() + at, static_cast<size_t>(h.storedLength));
        } else {
            uLongf length = static_cast<uLongf>(h.decodedLength);
            uncompress(out + written, &length, e.stream.data() + at, static_cast<uLong>(h.storedLength));
        }
        written += static_cast<size_t>(h.decodedLength);
        at += static_cast<size_t>(h.storedLength);
    }
}

struct TMemoryReader {
    const TBytes* stream;
    size_t position;
    uint8_t* out;
};

int32_t ReadFromMemory(void* buffer, int32_t count, void* context) {
    auto* r = static_cast<TMemoryReader*>(context);
    const size_t n = std::min(static_cast<size_t>(count), r->stream->size() - r->position);
    std::memcpy(buffer, r->stream->data() + r->position, n);
    r->position += n;
    return static_cast<int32_t>(n);
}

void WriteToMemory(const void* buffer, int32_t count, void* context) {
    auto* r = static_cast<TMemoryReader*>(context);
    std::memcpy(r->out, buffer, static_cast<size_t>(count));
    r->out += count;
}

double MBps(size_t bytes, double seconds) { return static_cast<double>(bytes) / 1e6 / seconds; }

}  // namespace

int main() {
    const auto start = std::chrono::steady_clock::now();
    const TBytes text = MakeText(kKindSize);
    const TBytes binary = MakeBinary(kKindSize);
    const TBytes random = MakeRandom(kKindSize);
    const TBytes zeros(kKindSize, 0);
    const struct {
        const char* name;
        const TBytes* data;
    } kinds[] = {{"text", &text}, {"binary", &binary}, {"random", &random}, {"zeros", &zeros}};

    // Entries interleave the kinds, as files in a real payload would.
    std::vector<TEntry> entries;
    for (size_t at = 0; at < kKindSize; at += kEntrySize) {
        for (const auto& k : kinds) {
            entries.push_back({k.name, k.data->data() + at, std::min(kEntrySize, kKindSize - at), {}});
        }
    }
    const TEncodeOptions options;  // level 6, largest blocks
    size_t contentBytes = 0;
    size_t streamBytes = 0;
    const auto encodeStart = std::chrono::steady_clock::now();
    for (TEntry& e : entries) {
        if (!EncodeEntryStream(e.content, e.size, options, &e.stream)) {
            std::fprintf(stderr, "codec: encoding failed\n");
            return 1;
        }
        contentBytes += e.size;
        streamBytes += e.stream.size();
    }
    const double encodeSeconds = Seconds(encodeStart);
    std::printf(
        "corpus: %.1f MiB in %zu entries (text, structured binary, random, zeros), "
        "entry streams %.1f MiB at level %d, encoded in %.2f s\n",
        contentBytes / 1048576.0, entries.size(), streamBytes / 1048576.0, options.level, encodeSeconds);

    TBytes out(kEntrySize + 64);
    // Checks once that both decoders rebuild every entry before timing them.
    for (const TEntry& e : entries) {
        int32_t size = static_cast<int32_t>(out.size());
        if (ApplyPatchBuffer(nullptr, 0, out.data(), &size, e.stream.data(), static_cast<int32_t>(e.stream.size()),
                             nullptr, nullptr) != 0 ||
            static_cast<size_t>(size) != e.size || std::memcmp(out.data(), e.content, e.size) != 0) {
            std::fprintf(stderr, "codec: memory decoder failed on a %s entry\n", e.kind);
            return 1;
        }
        TMemoryReader r = {&e.stream, 0, out.data()};
        if (DecodeEntryStream(ReadFromMemory, WriteToMemory, &r) != 0 ||
            std::memcmp(out.data(), e.content, e.size) != 0) {
            std::fprintf(stderr, "codec: streaming decoder failed on a %s entry\n", e.kind);
            return 1;
        }
    }

    std::printf("\ndecode throughput, MB/s of output, best of %d runs:\n", kRuns);
    std::printf("  %-8s %12s %22s %22s\n", "corpus", "zlib inflate", "DecodeEntryStream", "ApplyPatchBuffer");
    const auto decodeRow = [&](const char* name, const char* only) {
        size_t bytes = 0;
        for (const TEntry& e : entries) {
            if (only == nullptr || std::strcmp(only, e.kind) == 0) bytes += e.size;
        }
        const auto each = [&](auto&& decode) {
            return BestOf([&] {
                for (const TEntry& e : entries) {
                    if (only == nullptr || std::strcmp(only, e.kind) == 0) decode(e);
                }
            });
        };
        const double reference = each([&](const TEntry& e) { InflatePlain(e, out.data()); });
        const double streaming = each([&](const TEntry& e) {
            TMemoryReader r = {&e.stream, 0, out.data()};
            DecodeEntryStream(ReadFromMemory, WriteToMemory, &r);
        });
        const double memory = each([&](const TEntry& e) {
            int32_t size = static_cast<int32_t>(out.size());
            ApplyPatchBuffer(nullptr, 0, out.data(), &size, e.stream.data(), static_cast<int32_t>(e.stream.size()),
                             nullptr, nullptr);
        });
        std::printf("  %-8s %12.1f %11.1f (x%.2f) %11.1f (x%.2f)\n", name, MBps(bytes, reference),
                    MBps(bytes, streaming), reference / streaming, MBps(bytes, memory), reference / memory);
    };
    decodeRow("all", nullptr);
    for (const auto& k : kinds) decodeRow(k.name, k.name);

    std::printf("\nCRC-32 throughput over the %.0f MiB corpus, MB/s, best of %d runs:\n", 4.0 * kKindSize / 1048576.0,
                kRuns);
    TBytes all;
    all.reserve(4 * kKindSize);
    for (const auto& k : kinds) all.insert(all.end(), k.data->begin(), k.data->end());
    const auto n = static_cast<int32_t>(all.size());
    volatile uint32_t sink = 0;
    const double zlibSeconds = BestOf([&] { sink = static_cast<uint32_t>(crc32(0, all.data(), n)); });
    std::printf("  %-30s %9.1f\n", "zlib crc32 (reference)", MBps(all.size(), zlibSeconds));
    const uint32_t want = Crc32UpdateBytewise(all.data(), n, kRegisterStart);
    const auto crcRow = [&](const std::string& name, uint32_t (*routine)(const void*, int32_t, uint32_t)) {
        const double s = BestOf([&] { sink = routine(all.data(), n, kRegisterStart); });
        std::printf("  %-30s %9.1f (x%.2f)%s\n", name.c_str(), MBps(all.size(), s), zlibSeconds / s,
                    sink == want ? "" : "  WRONG RESULT");
    };
    crcRow(std::string("Crc32Update (") + Crc32RoutineName() + ")", Crc32Update);
    crcRow("Crc32UpdateBytewise", Crc32UpdateBytewise);
    crcRow("Crc32UpdateSlicing", Crc32UpdateSlicing);
    if (Crc32HasClmul()) crcRow("Crc32UpdateClmul", Crc32UpdateClmul);
    std::printf("\ntotal run time %.1f s\n", Seconds(start));
    return 0;
}
