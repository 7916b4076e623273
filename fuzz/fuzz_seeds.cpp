// Writes the fuzz targets' seed corpora: valid entry streams and patches
// made by the encoder (stored and compressed, small and large blocks), a
// few streams that stop at each kind of failure, and archives and entry
// names for the archive layer (layout in fuzz_archive.cpp).
//   fuzz_seeds DIR   ->  DIR/buffer/*, DIR/stream/*, DIR/archive/*
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "CRC_32.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "fuzz_input.h"

namespace {

using TBytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

int gWritten = 0;

bool WriteFile(const fs::path& path, const TBytes& data) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

TBytes U16(size_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

TBytes Cat(const std::vector<TBytes>& parts) {
    TBytes out;
    for (const TBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// One (base, stream) pair as inputs for both targets.
bool Emit(const fs::path& dir, const TBytes& base, const TBytes& stream, int32_t targetSize) {
    const std::string id = std::to_string(gWritten++);
    const uint16_t exact = targetSize < 0xFFFF ? static_cast<uint16_t>(targetSize) : kLargeCapacityCode;
    bool ok =
        WriteFile(dir / "buffer" / (id + "-large"), Cat({U16(kLargeCapacityCode), U16(base.size()), base, stream}));
    ok = ok && WriteFile(dir / "buffer" / (id + "-exact"), Cat({U16(exact), U16(base.size()), base, stream}));
    ok = ok && WriteFile(dir / "buffer" / (id + "-small"), Cat({U16(exact / 3), U16(base.size()), base, stream}));
    ok = ok && WriteFile(dir / "stream" / (id + "-patch"),
                         Cat({{static_cast<uint8_t>(gWritten * 2)}, U16(base.size()), base, stream}));
    if (base.empty()) {
        ok = ok && WriteFile(dir / "stream" / (id + "-entry"),
                             Cat({{static_cast<uint8_t>(gWritten * 2 + 1)}, U16(0), stream}));
    }
    return ok;
}

TBytes Content(int kind, size_t n, std::mt19937& rng) {
    TBytes b(n);
    for (size_t i = 0; i < n; i++) {
        if (kind == 0) b[i] = static_cast<uint8_t>("the setup archive block "[(i + rng() % 3) % 24]);
        if (kind == 1) b[i] = static_cast<uint8_t>(rng());
        if (kind == 2) b[i] = 0;
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const fs::path dir = argv[1];
    std::error_code ec;
    fs::create_directories(dir / "buffer", ec);
    fs::create_directories(dir / "stream", ec);
    fs::create_directories(dir / "archive", ec);
    std::mt19937 rng(1);
    bool ok = true;

    // Entry streams.
    for (int kind = 0; kind < 3; kind++) {
        for (size_t n : {0, 1, 40, 700, 3000}) {
            for (int32_t blockSize : {kMinCommandBlockSize, 16, 100, kMaxBlockDecoded}) {
                for (int level : {0, 6}) {
                    if (n < 100 && blockSize != kMaxBlockDecoded && level == 6) continue;
                    const TBytes content = Content(kind, n, rng);
                    TBytes stream;
                    ok = ok && EncodeEntryStream(content.data(), content.size(), {level, blockSize}, &stream);
                    ok = ok && Emit(dir, {}, stream, static_cast<int32_t>(n));
                }
            }
        }
    }

    // Patches: copies from a base mixed with literals.
    for (int32_t blockSize : {kMinCommandBlockSize, 32, 1000}) {
        for (int level : {0, 9}) {
            const TBytes base = Content(rng() % 2, 300 + rng() % 1500, rng);
            TCommandWriter w;
            BeginCommands(&w, blockSize);
            size_t produced = 0;
            for (int i = 0; i < 12; i++) {
                if (rng() % 2 == 0) {
                    const uint32_t offset = rng() % base.size();
                    const uint32_t length = rng() % (base.size() - offset);
                    AddCopy(&w, base.data(), offset, length);
                    produced += length;
                } else {
                    const TBytes fresh = Content(rng() % 3, rng() % 200, rng);
                    AddLiteral(&w, fresh.data(), fresh.size());
                    produced += fresh.size();
                }
            }
            AddEnd(&w);
            TBytes stream;
            ok = ok && EncodeCommands(w, {level, blockSize}, &stream);
            ok = ok && Emit(dir, base, stream, static_cast<int32_t>(produced));
        }
    }

    // Hand-made corners: a literal whose length field ends its block, a field
    // cut by a block end, a bad command, a wrong end checksum.
    const auto stored = [](const TBytes& cmds) {
        TBlockHeader h = {kMethodStored, static_cast<int32_t>(cmds.size()), static_cast<int32_t>(cmds.size()),
                          Crc32Update(cmds.data(), static_cast<int32_t>(cmds.size()), kRegisterStart)};
        TBytes block(kBlockHeaderSize);
        PackBlockHeader(h, block.data());
        block.insert(block.end(), cmds.begin(), cmds.end());
        return block;
    };
    const TBytes end = {kCmdEnd, 0xFF, 0xFF, 0xFF, 0xFF};
    ok = ok && Emit(dir, {}, Cat({stored({0x20, 0}), stored(end)}), 0);
    ok = ok && Emit(dir, {}, Cat({stored({kCmdEnd, 0xFF, 0xFF}), stored({0xFF, 0xFF})}), 0);
    ok = ok && Emit(dir, {}, stored({0x30, 0xFF, 0xFF, 0xFF, 0xFF}), 0);
    ok = ok && Emit(dir, {1, 2, 3}, stored({0x10, 0, 3, kCmdEnd, 0, 0, 0, 0}), 3);

    // Archives: plain bodies (the target scrambles them and adds the
    // trailer) for test, list and extract, the same behind a stub, whole
    // setup files, and entry names for the name rule.
    {
        TBytes body;
        const auto add = [&](const std::string& name, const TBytes& content, int level) {
            TBytes stream;
            ok = ok && EncodeEntryStream(content.data(), content.size(), {level, kMaxBlockDecoded}, &stream);
            const TEntryHeader h = {0x5A216000, static_cast<uint32_t>(content.size()), 0x20,
                                    static_cast<uint32_t>(stream.size()),
                                    Crc32Update(content.data(), static_cast<int32_t>(content.size()), kRegisterStart)};
            ok = ok && AppendArchiveEntry(&body, name, h, stream.data(), stream.size());
        };
        add("readme.txt", Content(0, 300, rng), 6);
        add("Docs\\Deep\\guide.txt", Content(0, 2000, rng), 6);
        add("bin/data.bin", Content(1, 500, rng), 0);
        add("empty.txt", {}, 0);
        const TBytes four = {'J', 'U', 'N', 'K'};
        const TEntryHeader empty4 = {0x5A216000, 0, 0x21, 4, kRegisterStart};
        ok = ok && AppendArchiveEntry(&body, "sub\\empty4.txt", empty4, four.data(), four.size());
        int n = 0;
        const auto emit = [&](uint8_t mode, const TBytes& rest) {
            ok = ok && WriteFile(dir / "archive" / std::to_string(n++), Cat({{mode}, rest}));
        };
        for (uint8_t command : {0, 1, 2}) {
            emit(static_cast<uint8_t>(0 | command << 2), body);
            emit(static_cast<uint8_t>(1 | command << 2), body);
        }
        std::string marker = kMarkerLowerCase;
        for (char& c : marker) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
        const TBytes archive = FinishArchive(body, nullptr, 0);
        emit(2, Cat({TBytes(100, 'M'), TBytes(marker.begin(), marker.end()), archive}));
        emit(2, archive);
        for (const char* name : {"a\\b.txt", "x\\.\\y", "com0", "Docs\\tempfile.$$$", "nul.txt", "a..b"}) {
            emit(3, TBytes(name, name + std::strlen(name)));
        }
    }

    if (!ok) {
        std::fprintf(stderr, "fuzz_seeds: could not write the seeds into %s\n", argv[1]);
        return 1;
    }
    std::printf("fuzz_seeds: %d seed pairs in %s\n", gWritten, argv[1]);
    return 0;
}
