// Extraction throughput against decoding the same archive in memory.
//
// Builds an archive of at least 256 MiB of mixed content (binary-like and
// text-like, small and large files) with the format's writer, then measures
// in one run:
//   - in-memory decode: unscramble, trailer check and DecodeEntryStream of
//     every entry into a writer that only keeps the checksum (no files);
//   - extraction: ExtractArchive of a copy of the archive into a temp folder
//     (the copy is made first and not timed: the extraction consumes it);
//   - CopyFileA of the archive, as the disk's own reference.
// Each is the best of a few rounds in the same run. Prints MB/s of content (1 MB = 10^6 bytes) and the ratio of
// extraction to the in-memory decode. Everything it writes is deleted again.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CRC_32.h"
#include "Extract.h"
#include "Scramble.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "TestSupport.h"

using voztest::RemoveTree;

namespace {

using TBytes = std::vector<uint8_t>;

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// User plus kernel time of this process: a second view that a busy machine
// disturbs less than the wall clock (it leaves out waiting for I/O).
double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto value = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

uint32_t g_random = 12345;
uint32_t NextRandom() {
    g_random = g_random * 1103515245u + 12345u;
    return g_random;
}

// Binary-like: machine-code-ish noise with repeated stretches, so zlib finds
// some matches but not many.
void AddBinary(TBytes* b, size_t length) {
    const size_t start = b->size();
    while (b->size() - start < length) {
        const size_t left = length - (b->size() - start);
        const uint32_t r = NextRandom();
        if ((r >> 28) < 4 && b->size() - start > 4096) {
            const size_t run = std::min<size_t>(left, 16 + (r >> 8) % 200);
            const size_t from = b->size() - 1 - (r >> 4) % 4000;
            for (size_t k = 0; k < run; ++k) b->push_back((*b)[from + k]);
        } else {
            const size_t run = std::min<size_t>(left, 8 + (r >> 8) % 64);
            for (size_t k = 0; k < run; ++k) b->push_back(static_cast<uint8_t>(NextRandom() >> 24));
        }
    }
}

// Text-like: words and line breaks.
void AddText(TBytes* b, size_t length) {
    static const char* words[] = {"the ",      "installer ", "copies ", "every ",    "file ",    "into ",     "its ",
                                  "folder",    ", ",         "and ",    "Perusant ", "query ",   "language ", "help ",
                                  "settings ", "default ",   "search ", "box ",      "toolbar ", ".\r\n"};
    const size_t end = b->size() + length;
    while (b->size() < end) {
        const char* w = words[(NextRandom() >> 16) % 20];
        for (const char* p = w; *p != '\0' && b->size() < end; ++p) b->push_back(static_cast<uint8_t>(*p));
    }
}

bool BuildBenchArchive(TBytes* archive, int64_t* contentBytes, int* entries) {
    const size_t sizes[] = {3000, 70000, 700000, 3 << 20, 9 << 20, 400, 1 << 20};
    constexpr int64_t kTarget = int64_t{256} << 20;
    TBytes body;
    TBytes content;
    TBytes stream;
    TEncodeOptions options;
    *contentBytes = 0;
    *entries = 0;
    for (int i = 0; *contentBytes < kTarget; ++i) {
        content.clear();
        const size_t length = sizes[i % 7];
        if (i % 3 == 2)
            AddText(&content, length);
        else if (i % 3 == 1)
            AddBinary(&content, length);
        else {
            AddBinary(&content, length / 2);
            AddText(&content, length - length / 2);
        }
        stream.clear();
        if (!EncodeEntryStream(content.data(), content.size(), options, &stream)) return false;
        TEntryHeader h;
        h.timeStamp = (24u << 25) | (5u << 21) | (17u << 16) | (9u << 11);
        h.contentSize = static_cast<uint32_t>(content.size());
        h.attributes = FILE_ATTRIBUTE_ARCHIVE;
        h.storedSize = static_cast<uint32_t>(stream.size());
        h.checksum = Crc32Update(content.data(), static_cast<int32_t>(content.size()), kRegisterStart);
        const std::string name = "dir" + std::to_string(i % 11) + "\\sub" + std::to_string(i % 5) + "\\file" +
                                 std::to_string(i) + (i % 3 == 2 ? ".txt" : ".bin");
        if (!AppendArchiveEntry(&body, name, h, stream.data(), stream.size())) return false;
        *contentBytes += static_cast<int64_t>(content.size());
        ++*entries;
    }
    *archive = FinishArchive(std::move(body), nullptr, 0);
    return true;
}

// ---- In-memory decode ------------------------------------------------------

struct TMemoryEntry {
    const uint8_t* data;
    int64_t remaining;
    uint32_t reg;
    int64_t written;
};

int32_t MemoryRead(void* buffer, int32_t count, void* context) {
    auto* e = static_cast<TMemoryEntry*>(context);
    const int64_t n = std::min<int64_t>(count, e->remaining);
    std::memcpy(buffer, e->data, static_cast<size_t>(n));
    e->data += n;
    e->remaining -= n;
    return static_cast<int32_t>(n);
}

void ChecksumWrite(const void* buffer, int32_t count, void* context) {
    auto* e = static_cast<TMemoryEntry*>(context);
    e->reg = Crc32Update(buffer, count, e->reg);
    e->written += count;
}

// The same work as the extraction, minus the files. False on any mismatch.
bool DecodeInMemory(TBytes* archive) {
    const size_t bodyLength = archive->size() - kTrailerSize;
    uint8_t* body = archive->data();
    uint32_t state = PasswordSeed(nullptr, 0);
    uint32_t reg = kRegisterStart;
    for (size_t at = 0; at < bodyLength; at += kUnscrambleChunk) {
        const size_t n = std::min<size_t>(kUnscrambleChunk, bodyLength - at);
        ScrambleBytes(&state, body + at, n);
        reg = Crc32Update(body + at, static_cast<int32_t>(n), reg);
    }
    if (reg != LoadLe32(body + bodyLength)) return false;
    size_t at = 0;
    while (at < bodyLength) {
        const size_t nameLength = body[at] | (body[at + 1] << 8);
        at += 2 + nameLength;
        const TEntryHeader h = UnpackEntryHeader(body + at);
        at += kEntryHeaderSize;
        if (h.storedSize > bodyLength - at) return false;
        TMemoryEntry e = {body + at, h.storedSize, kRegisterStart, 0};
        if (DecodeEntryStream(MemoryRead, ChecksumWrite, &e) != 0) return false;
        if (e.remaining != 0 || e.written != h.contentSize || e.reg != h.checksum) return false;
        at += h.storedSize;
    }
    return true;
}

// ---- Files -----------------------------------------------------------------

bool WriteFileBytes(const std::string& path, const TBytes& b) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (size_t at = 0; ok && at < b.size();) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(b.size() - at, 1 << 24));
        DWORD done = 0;
        ok = WriteFile(h, b.data() + at, want, &done, nullptr) && done > 0;
        at += done;
    }
    return CloseHandle(h) && ok;
}

}  // namespace

int main() {
    char temp[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) return 1;
    const std::string work = std::string(temp) + "vozbench_extract_" + std::to_string(GetCurrentProcessId());
    if (!CreateDirectoryA(work.c_str(), nullptr)) {
        std::printf("cannot create %s\n", work.c_str());
        return 1;
    }
    const std::string master = work + "\\master.voz";
    const std::string copy = work + "\\copy.voz";
    const std::string dest = work + "\\out";

    TBytes archive;
    int64_t contentBytes = 0;
    int entries = 0;
    double t = Seconds();
    if (!BuildBenchArchive(&archive, &contentBytes, &entries)) {
        std::printf("building the archive failed\n");
        RemoveTree(work);
        return 1;
    }
    const double buildSeconds = Seconds() - t;
    const int64_t archiveBytes = static_cast<int64_t>(archive.size());
    std::printf("archive: %d entries, %.1f MB content, %.1f MB archive (built in %.1f s)\n", entries,
                contentBytes / 1e6, archiveBytes / 1e6, buildSeconds);

    int rc = 0;
    if (!WriteFileBytes(master, archive)) {
        std::printf("cannot write %s\n", master.c_str());
        RemoveTree(work);
        return 1;
    }

    // Best of a few rounds, alternating the three measurements, so that a
    // burst of other work on the machine does not decide the ratio.
    constexpr int kRounds = 5;
    double memorySeconds = 1e30, extractSeconds = 1e30, copySeconds = 1e30;
    double memoryCpu = 1e30, extractCpu = 1e30;
    TBytes scratch;
    for (int round = 0; round < kRounds && rc == 0; ++round) {
        // In memory: on a copy, so the archive stays scrambled for the next round.
        scratch = archive;
        double cpu = CpuSeconds();
        t = Seconds();
        const bool decoded = DecodeInMemory(&scratch);
        memorySeconds = std::min(memorySeconds, Seconds() - t);
        memoryCpu = std::min(memoryCpu, CpuSeconds() - cpu);

        // Disk reference and the extraction's input in one: CopyFileA of the archive.
        t = Seconds();
        const bool copied = CopyFileA(master.c_str(), copy.c_str(), FALSE) != 0;
        copySeconds = std::min(copySeconds, Seconds() - t);

        RemoveTree(dest);
        CreateDirectoryA(dest.c_str(), nullptr);
        cpu = CpuSeconds();
        t = Seconds();
        const int32_t extracted = copied ? ExtractArchive(copy.c_str(), dest.c_str(), nullptr, nullptr) : -1;
        extractSeconds = std::min(extractSeconds, Seconds() - t);
        extractCpu = std::min(extractCpu, CpuSeconds() - cpu);

        if (!decoded || extracted != 0 || !copied) {
            std::printf("FAILED: in-memory decode %s, CopyFileA %s, ExtractArchive %d\n", decoded ? "ok" : "failed",
                        copied ? "ok" : "failed", extracted);
            rc = 1;
        }
    }
    if (rc == 0) {
        const double memoryRate = contentBytes / 1e6 / memorySeconds;
        const double extractRate = contentBytes / 1e6 / extractSeconds;
        std::printf("best of %d rounds:\n", kRounds);
        std::printf("in-memory decode:  %8.1f MB/s of content (%.2f s)\n", memoryRate, memorySeconds);
        std::printf("ExtractArchive:    %8.1f MB/s of content (%.2f s)\n", extractRate, extractSeconds);
        std::printf("CopyFileA archive: %8.1f MB/s of archive (%.2f s), disk reference\n",
                    archiveBytes / 1e6 / copySeconds, copySeconds);
        std::printf("ratio extraction / in-memory decode: %.2f (goal >= 0.70)\n", extractRate / memoryRate);
        std::printf("same ratio in process CPU time: %.2f (%.2f s against %.2f s)\n", memoryCpu / extractCpu,
                    extractCpu, memoryCpu);
    }
    RemoveTree(work);
    return rc;
}
