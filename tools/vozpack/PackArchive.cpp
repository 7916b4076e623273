// vozpack pack: the folder's files read and encoded in batches, their
// blocks compressed on several threads, the archive written behind the stub.
// The archive's layout, scrambling and entry streams come from the codec
// core; this file only decides what goes in and moves bytes between files.
#include "PackArchive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <system_error>

#include "CRC_32.h"
#include "PackReport.h"
#include "PackWalk.h"
#include "Scramble.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "VozPack.h"
#include "VozReader.h"

namespace {

// The archive as a whole stays below 2 GiB, like every size in it: the
// setup's reader works with signed 32-bit positions.
constexpr uint64_t kMaxArchiveSize = kMaxEntrySize;

// Pack reads files in batches of about this many bytes and compresses each
// batch's blocks together, so that many small files keep every core busy.
constexpr uint64_t kBatchBytes = uint64_t{64} << 20;
constexpr size_t kBatchFiles = 4096;

std::string MiB(uint64_t bytes) { return std::to_string((bytes + (1 << 19)) >> 20) + " MiB"; }

// ---- Progress -----------------------------------------------------------------------

struct TProgress {
    bool enabled = false;
    bool shown = false;
    uint64_t total = 0;
    uint64_t before = 0;  // bytes of the batches already done
    std::chrono::steady_clock::time_point start, last;
};

void VOZ_CDECL ShowProgress(uint64_t doneInBatch, void* user) {
    auto* p = static_cast<TProgress*>(user);
    if (!p->enabled) return;
    const auto now = std::chrono::steady_clock::now();
    // Only long runs get a progress line, refreshed a few times a second.
    if (now - p->start < std::chrono::seconds(1) || now - p->last < std::chrono::milliseconds(250)) {
        return;
    }
    p->last = now;
    const uint64_t done = std::min(p->total, p->before + doneInBatch);
    const int percent = p->total > 0 ? static_cast<int>(done * 100 / p->total) : 100;
    std::fprintf(stderr, "\rvozpack: packing %3d%% (%s of %s)", percent, MiB(done).c_str(), MiB(p->total).c_str());
    std::fflush(stderr);
    p->shown = true;
}

void EndProgress(TProgress* p) {
    if (p->shown) std::fprintf(stderr, "\r%60s\r", "");
    p->shown = false;
}

// ---- Encoding entries -----------------------------------------------------------------

struct TPendingEntry {
    const TSourceFile* source;
    TCommandWriter commands;
    std::vector<std::pair<size_t, size_t>> blocks;
    uint32_t contentSize;
    std::string error;
};

// Reads one file and lays out its entry stream's commands (on a worker).
void ReadEntry(size_t index, void* user) {
    TPendingEntry& e = (*static_cast<std::vector<TPendingEntry>*>(user))[index];
    thread_local std::vector<uint8_t> content;
    if (!ReadFileBytes(e.source->path, kMaxEntrySize, &content, &e.error)) return;
    e.contentSize = static_cast<uint32_t>(content.size());
    BeginCommands(&e.commands, kMaxBlockDecoded);
    // Room for the content and a literal command per block, so it is not
    // copied again while it grows.
    e.commands.bytes.reserve(content.size() + (content.size() / (kMaxBlockDecoded / 2) + 2) * 8);
    AddLiteral(&e.commands, content.data(), content.size());
    AddEnd(&e.commands);
    if (e.commands.failed) {
        e.error = "cannot encode " + PathText(e.source->path);
        return;
    }
    e.blocks = SplitIntoBlocks(e.commands);
}

// Reads and encodes files [first, last) and appends their entries to body.
int PackBatch(const std::vector<TSourceFile>& files, size_t first, size_t last, const TCompressOptions& options,
              TProgress* progress, std::vector<uint8_t>* body) {
    std::vector<TPendingEntry> pending(last - first);
    for (size_t i = first; i < last; i++) pending[i - first].source = &files[i];
    ParallelFor(pending.size(), options.threads, ReadEntry, &pending);
    std::vector<TBlockJob> jobs;
    for (const TPendingEntry& e : pending) {
        if (!e.error.empty()) return Fail(kExitUsage, e.error);
        for (const auto& [begin, end] : e.blocks) {
            jobs.push_back({e.commands.bytes.data() + begin, static_cast<int32_t>(end - begin)});
        }
    }
    std::vector<std::vector<uint8_t>> blocks;
    if (!EncodeBlocks(jobs, options, &blocks, ShowProgress, progress)) {
        return Fail(kExitUsage, "compression failed");
    }
    size_t job = 0;
    std::vector<uint8_t> stream;
    for (TPendingEntry& e : pending) {
        stream.clear();
        for (size_t b = 0; b < e.blocks.size(); b++, job++) {
            stream.insert(stream.end(), blocks[job].begin(), blocks[job].end());
            std::vector<uint8_t>().swap(blocks[job]);
        }
        TEntryHeader h;
        h.timeStamp = e.source->stamp;
        h.contentSize = e.contentSize;
        h.attributes = e.source->attributes;
        h.storedSize = static_cast<uint32_t>(stream.size());
        // Literal commands produce exactly the content, so the register the
        // writer kept over its output is the content's checksum.
        h.checksum = e.commands.outputRegister;
        const uint64_t grown =
            body->size() + 2 + e.source->name.size() + kEntryHeaderSize + stream.size() + kTrailerSize;
        if (stream.size() > kMaxEntrySize || grown > kMaxArchiveSize) {
            return Fail(kExitUsage,
                        "the archive would reach 2 GiB at " + Quoted(e.source->name) + ", more than a setup can carry");
        }
        if (!AppendArchiveEntry(body, e.source->name, h, stream.data(), stream.size())) {
            return Fail(kExitUsage, "cannot store " + Quoted(e.source->name));
        }
    }
    return kExitOk;
}

bool WriteAll(FILE* f, const void* data, size_t length) {
    return length == 0 || std::fwrite(data, 1, length, f) == length;
}

}  // namespace

// ---- pack ------------------------------------------------------------------------------------

int PackCommand(const TPackRequest& request) {
    std::error_code ec;
    if (!fs::is_directory(request.folder, ec)) {
        return Fail(kExitUsage, PathText(request.folder) + " is not a folder");
    }
    std::vector<uint8_t> stub;
    std::string message;
    if (!request.archiveOnly) {
        // A setup program is far smaller; a larger "stub" is some other file.
        if (!ReadFileBytes(request.stub, kMaxArchiveSize, &stub, &message)) return Fail(kExitUsage, message);
        if (FindMarker(stub.data(), stub.size(), UpperCaseMarker()) >= 0) {
            return Fail(kExitUsage,
                        PathText(request.stub) + " already holds a payload marker (is it a setup file already?)");
        }
    }

    std::vector<TSourceFile> files;
    std::string walkError;
    if (!WalkPackFolder(request.folder, request.out, &files, &walkError)) return Fail(kExitUsage, walkError);
    if (files.empty()) Warn(PathText(request.folder) + " holds no files: the archive is empty");

    TProgress progress;
    progress.enabled = StderrIsTerminal();
    progress.start = progress.last = std::chrono::steady_clock::now();
    for (const TSourceFile& f : files) progress.total += f.size;

    std::vector<uint8_t> body;
    // The body never grows past the input and its headers (a stored block
    // only adds its header), so it is never moved while it grows.
    uint64_t bound = kTrailerSize;
    for (const TSourceFile& f : files) {
        bound += 2 + f.name.size() + kEntryHeaderSize + f.size + (f.size / kMaxBlockDecoded + 1) * 32 + 16;
    }
    body.reserve(static_cast<size_t>(std::min<uint64_t>(bound, kMaxArchiveSize + 64)));
    for (size_t first = 0; first < files.size();) {
        size_t last = first;
        uint64_t bytes = 0;
        while (last < files.size() && (last == first || (bytes < kBatchBytes && last - first < kBatchFiles))) {
            bytes += files[last].size;
            last++;
        }
        const int status = PackBatch(files, first, last, request.compress, &progress, &body);
        if (status != kExitOk) {
            EndProgress(&progress);
            return status;
        }
        progress.before += bytes;
        first = last;
    }
    EndProgress(&progress);
    const std::vector<uint8_t> archive = FinishArchive(std::move(body), nullptr, 0);

    // Zeros before the marker make the whole file a multiple of 8 bytes long,
    // so a signing tool appends its certificate table right behind the trailer.
    const std::string marker = UpperCaseMarker();
    size_t padding = 0;
    if (!request.archiveOnly) {
        const uint64_t unpadded = stub.size() + marker.size() + archive.size();
        padding = static_cast<size_t>((8 - unpadded % 8) % 8);
    }

    TTempFile temp;
    if (!CreateTempBeside(request.out, DefaultNewFileMode(), &temp, &message)) {
        return Fail(kExitUsage, message);
    }
    WatchInterrupt(temp.path);
    const uint8_t zeros[8] = {};
    bool ok = true;
    if (!request.archiveOnly) {
        ok = WriteAll(temp.file, stub.data(), stub.size()) && WriteAll(temp.file, zeros, padding) &&
             WriteAll(temp.file, marker.data(), marker.size());
    }
    ok = ok && WriteAll(temp.file, archive.data(), archive.size());
    if (!ok) {
        message = "cannot write " + PathText(request.out) + ": " + ErrnoText();
        DiscardTemp(&temp);
        UnwatchInterrupt();
        return Fail(kExitUsage, message);
    }
    ok = CommitTemp(&temp, &message);
    UnwatchInterrupt();
    if (!ok) return Fail(kExitUsage, message);
    return kExitOk;
}
