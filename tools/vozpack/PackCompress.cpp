// Block compression for vozpack: zlib-format streams from libdeflate where
// the build has it (faster and smaller than zlib at the same level), from
// zlib's compress2 otherwise. Blocks are independent, so they are made on
// worker threads; each block's bytes depend only on its input and the
// options, never on which thread made it or when.
#include "PackCompress.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "CRC_32.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "PackPlatform.h"

#ifdef VOZPACK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

#ifdef VOZPACK_HAVE_LIBDEFLATE
// libdeflate's strongest level; the zlib-style levels map onto its own 1..9.
constexpr int kLibdeflateBest = 12;

// One compressor per thread and level, kept for the thread's life: making
// one costs more than compressing a small block.
struct TThreadCompressor {
    int level = -1;
    libdeflate_compressor* compressor = nullptr;
    ~TThreadCompressor() {
        if (compressor != nullptr) libdeflate_free_compressor(compressor);
    }
};
thread_local TThreadCompressor ThreadCompressor;

libdeflate_compressor* CompressorFor(int level) {
    TThreadCompressor& tc = ThreadCompressor;
    if (tc.compressor == nullptr || tc.level != level) {
        if (tc.compressor != nullptr) libdeflate_free_compressor(tc.compressor);
        tc.compressor = libdeflate_alloc_compressor(level);
        tc.level = level;
    }
    return tc.compressor;
}

// A compressed block when it is smaller than the stored form; otherwise the
// stored block the codec makes.
bool EncodeBlockLibdeflate(const uint8_t* commands, int32_t length, int level, std::vector<uint8_t>* out) {
    libdeflate_compressor* c = CompressorFor(level);
    if (c == nullptr) return false;
    // Compressed into a buffer the thread keeps, so that no block's buffer is
    // allocated at full size and then shrunk.
    thread_local std::vector<uint8_t> scratch;
    const size_t room = std::min<size_t>(static_cast<size_t>(length) - 1, kMaxBlockStored);
    if (scratch.size() < room) scratch.resize(room);
    const size_t packed =
        room == 0 ? 0 : libdeflate_zlib_compress(c, commands, static_cast<size_t>(length), scratch.data(), room);
    if (packed == 0) {  // did not fit in fewer bytes than the stored form
        return EncodeBlock(commands, length, TEncodeOptions{0, kMaxBlockDecoded}, out);
    }
    TBlockHeader h;
    h.method = kMethodZlib;
    h.decodedLength = length;
    h.storedLength = static_cast<int32_t>(packed);
    h.checksum = Crc32Update(scratch.data(), h.storedLength, kRegisterStart);
    const size_t at = out->size();
    out->resize(at + kBlockHeaderSize);
    PackBlockHeader(h, out->data() + at);
    out->insert(out->end(), scratch.begin(), scratch.begin() + static_cast<ptrdiff_t>(packed));
    return true;
}
#endif

bool EncodeOneBlock(const TBlockJob& job, const TCompressOptions& options, std::vector<uint8_t>* out) {
    out->clear();
    if (job.length < 0 || job.length > kMaxBlockDecoded) return false;
    if (options.level <= 0 || job.length == 0) {
        return EncodeBlock(job.commands, job.length, TEncodeOptions{0, kMaxBlockDecoded}, out);
    }
#ifdef VOZPACK_HAVE_LIBDEFLATE
    if (!options.useZlib) {
        const int level = options.best ? kLibdeflateBest : std::min(options.level, 9);
        return EncodeBlockLibdeflate(job.commands, job.length, level, out);
    }
#endif
    const int level = options.best ? 9 : std::min(options.level, 9);
    return EncodeBlock(job.commands, job.length, TEncodeOptions{level, kMaxBlockDecoded}, out);
}

}  // namespace

const char* CompressorName(const TCompressOptions& options) {
#ifdef VOZPACK_HAVE_LIBDEFLATE
    if (!options.useZlib) return "libdeflate";
#else
    (void)options;
#endif
    return "zlib";
}

namespace {

struct TEncodeWork {
    const std::vector<TBlockJob>* jobs;
    const TCompressOptions* options;
    std::vector<std::vector<uint8_t>>* blocks;
    TBlockProgressProc progress;
    void* progressUser;
    std::atomic<uint64_t> done{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> reporting{false};  // one progress report at a time
};

void EncodeJob(size_t i, void* user) {
    TEncodeWork& w = *static_cast<TEncodeWork*>(user);
    if (w.failed.load()) return;
    const TBlockJob& job = (*w.jobs)[i];
    if (!EncodeOneBlock(job, *w.options, &(*w.blocks)[i])) w.failed.store(true);
    w.done.fetch_add(static_cast<uint64_t>(job.length));
    if (w.progress != nullptr && !w.reporting.exchange(true)) {
        w.progress(w.done.load(), w.progressUser);
        w.reporting.store(false);
    }
}

}  // namespace

bool EncodeBlocks(const std::vector<TBlockJob>& jobs, const TCompressOptions& options,
                  std::vector<std::vector<uint8_t>>* blocks, TBlockProgressProc progress, void* progressUser) {
    blocks->assign(jobs.size(), {});
    if (jobs.empty()) return true;
    // Each job's result goes to its own slot, whichever thread makes it.
    TEncodeWork work;
    work.jobs = &jobs;
    work.options = &options;
    work.blocks = blocks;
    work.progress = progress;
    work.progressUser = progressUser;
    ParallelFor(jobs.size(), options.threads, EncodeJob, &work);
    if (progress != nullptr) progress(work.done.load(), progressUser);
    return !work.failed.load();
}
