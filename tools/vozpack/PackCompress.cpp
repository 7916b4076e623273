// Block compression for vozpack: zlib-format streams from libdeflate where
// the build has it (faster and smaller than zlib at the same level), from
// zlib's compress2 otherwise. Blocks are independent, so they are made on
// worker threads; each block's bytes depend only on its input and the
// options, never on which thread made it or when.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "CRC_32.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "VozPack.h"

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
bool EncodeBlockLibdeflate(const uint8_t* commands, int32_t length, int level,
                           std::vector<uint8_t>* out) {
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

bool EncodeOneBlock(const TBlockJob& job, const TCompressOptions& options,
                    std::vector<uint8_t>* out) {
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

void ParallelFor(size_t count, int threads, void (*work)(size_t index, void* user), void* user) {
  unsigned n = threads > 0 ? static_cast<unsigned>(threads) : std::max(1u, std::thread::hardware_concurrency());
  n = static_cast<unsigned>(std::min<size_t>({n, 64u, count}));
  std::atomic<size_t> next{0};
  auto loop = [&]() {
    for (size_t i; (i = next.fetch_add(1)) < count;) work(i, user);
  };
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < n; t++) workers.emplace_back(loop);
  loop();
  for (std::thread& t : workers) t.join();
}

bool EncodeBlocks(const std::vector<TBlockJob>& jobs, const TCompressOptions& options,
                  std::vector<std::vector<uint8_t>>* blocks, TBlockProgressProc progress,
                  void* progressUser) {
  blocks->assign(jobs.size(), {});
  if (jobs.empty()) return true;
  unsigned threads = options.threads > 0 ? static_cast<unsigned>(options.threads)
                                         : std::max(1u, std::thread::hardware_concurrency());
  threads = std::min<unsigned>({threads, 64u, static_cast<unsigned>(jobs.size())});

  std::atomic<size_t> next{0};
  std::atomic<uint64_t> done{0};
  std::atomic<bool> failed{false};
  // Workers take jobs in order; each job's result goes to its own slot.
  auto work = [&](bool reporter) {
    for (;;) {
      const size_t i = next.fetch_add(1);
      if (i >= jobs.size() || failed.load()) return;
      if (!EncodeOneBlock(jobs[i], options, &(*blocks)[i])) failed.store(true);
      done.fetch_add(static_cast<uint64_t>(jobs[i].length));
      if (reporter && progress != nullptr) progress(done.load(), progressUser);
    }
  };
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < threads; t++) workers.emplace_back(work, false);
  work(true);
  for (std::thread& t : workers) t.join();
  if (progress != nullptr) progress(done.load(), progressUser);
  return !failed.load();
}
