// Patches: a matcher that finds what the new file shares with the base, the
// patch it becomes (copy and literal commands in compressed blocks), and
// the commands diff and patch.
//
// The matcher indexes the base by a hash of every 8-byte window (every
// step-th one for very large bases) and walks the target, trying at each
// position first the alignment of the last copy (after a small edit the
// files usually line up again at the same distance) and then the base
// positions with the same hash. A candidate is extended forwards and
// backwards (into the pending literal bytes); the longest wins. Short copies
// cost more than the literal bytes they replace, so a copy must reach a
// minimum length, lower at the alignment of a recent copy, which is the common
// case in code where only a few addresses changed.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "PackCommands.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"

namespace {

constexpr size_t kWindow = 8;            // bytes hashed per position
constexpr uint32_t kMinCopy = 12;        // a copy found by hash
constexpr uint32_t kMinRepeatCopy = 8;   // a copy at a recent copy's alignment
constexpr int kChainLimit = 48;          // base positions tried per target position
constexpr int kRecentDeltas = 2;         // alignments of recent copies tried first
constexpr size_t kLazyGain = 1;          // how much further a later copy must reach
constexpr size_t kMaxIndexed = size_t{64} << 20;  // positions indexed at most
// Targets are matched in segments of fixed size, so the result does not
// depend on how many threads share the work.
constexpr size_t kSegment = size_t{8} << 20;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

struct TBaseIndex {
  const uint8_t* base = nullptr;
  size_t length = 0;
  size_t step = 1;
  int bits = 0;
  std::vector<int32_t> head;  // by hash: the last position indexed, or -1
  std::vector<int32_t> prev;  // by position / step: the one before with that hash
};

inline uint32_t HashAt(const uint8_t* p, int bits) {
  return static_cast<uint32_t>((Load64(p) * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

void BuildIndex(const uint8_t* base, size_t length, TBaseIndex* index) {
  index->base = base;
  index->length = length;
  if (length < kWindow) return;
  const size_t positions = length - kWindow + 1;
  index->step = (positions + kMaxIndexed - 1) / kMaxIndexed;
  const size_t slots = (positions + index->step - 1) / index->step;
  index->bits = 10;
  while ((size_t{1} << index->bits) < slots && index->bits < 28) index->bits++;
  index->head.assign(size_t{1} << index->bits, -1);
  index->prev.assign(slots, -1);
  for (size_t p = 0; p < positions; p += index->step) {
    // Inside a run of one byte value only the run's first position goes in:
    // the rest would crowd the chain, and backward extension finds them.
    if (index->step == 1 && p > 0 && Load64(base + p) == Load64(base + p - 1)) continue;
    const uint32_t h = HashAt(base + p, index->bits);
    index->prev[p / index->step] = index->head[h];
    index->head[h] = static_cast<int32_t>(p);
  }
}

// Length of the common run of a[0..] and b[0..], at most limit.
inline size_t ForwardLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n + 8 <= limit) {
    const uint64_t x = Load64(a + n) ^ Load64(b + n);
    if (x != 0) return n + static_cast<size_t>(__builtin_ctzll(x) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) n++;
  return n;
}

// Common run ending just before a and b, at most limit.
inline size_t BackwardLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n < limit && a[-1 - static_cast<ptrdiff_t>(n)] == b[-1 - static_cast<ptrdiff_t>(n)]) n++;
  return n;
}

struct TMatch {
  size_t baseStart = 0;  // after backward extension
  size_t targetStart = 0;
  size_t length = 0;
};

// Considers base position c for target position t; keeps it in best when it
// covers more.
inline void TryCandidate(const TBaseIndex& ix, const uint8_t* target, size_t t, size_t segEnd,
                         size_t litStart, size_t c, TMatch* best) {
  const size_t forwardLimit = std::min(ix.length - c, segEnd - t);
  const size_t forward = ForwardLength(ix.base + c, target + t, forwardLimit);
  if (forward == 0) return;
  const size_t back = BackwardLength(ix.base + c, target + t, std::min(c, t - litStart));
  if (forward + back > best->length) {
    best->baseStart = c - back;
    best->targetStart = t - back;
    best->length = forward + back;
  }
}

// The best copy for target position t: the alignments of recent copies
// first, then the base positions with t's hash. *rep tells whether the
// winner is a recent alignment.
TMatch FindMatch(const TBaseIndex& ix, const uint8_t* target, size_t t, size_t segEnd,
                 size_t litStart, const int64_t* deltas, int deltaCount, bool* rep) {
  TMatch best;
  *rep = false;
  for (int i = 0; i < deltaCount; i++) {
    const int64_t c = static_cast<int64_t>(t) + deltas[i];
    if (c < 0 || static_cast<size_t>(c) >= ix.length) continue;
    const size_t before = best.length;
    TryCandidate(ix, target, t, segEnd, litStart, static_cast<size_t>(c), &best);
    if (best.length != before) *rep = true;
  }
  if (ix.head.empty() || t + kWindow > segEnd || best.length >= 256) return best;
  const uint32_t h = HashAt(target + t, ix.bits);
  int chain = 0;
  for (int32_t c = ix.head[h]; c >= 0 && chain < kChainLimit;
       c = ix.prev[static_cast<size_t>(c) / ix.step], chain++) {
    const size_t cc = static_cast<size_t>(c);
    // Cheap test first: a longer match must also agree where best ends.
    if (best.length > 0) {
      const size_t probe = best.targetStart + best.length;
      if (probe >= segEnd) break;  // nothing can be longer
      const size_t baseProbe = cc + (probe - t);
      if (baseProbe >= ix.length || ix.base[baseProbe] != target[probe]) continue;
    }
    const size_t before = best.length;
    TryCandidate(ix, target, t, segEnd, litStart, cc, &best);
    if (best.length != before) *rep = false;
  }
  return best;
}

inline bool Worthwhile(const TMatch& m, bool rep) {
  return m.length >= (rep ? kMinRepeatCopy : kMinCopy);
}

void MatchSegment(const TBaseIndex& ix, const uint8_t* target, size_t segStart, size_t segEnd,
                  std::vector<TDeltaCommand>* out) {
  auto literal = [&](size_t from, size_t to) {
    if (to > from) out->push_back({false, static_cast<uint32_t>(from), static_cast<uint32_t>(to - from)});
  };
  size_t litStart = segStart;
  size_t t = segStart;
  // Base offset minus target offset of the last few copies, most recent
  // first: code moved as a whole keeps one of them for long stretches.
  int64_t deltas[kRecentDeltas];
  int deltaCount = 0;
  while (t < segEnd) {
    bool rep = false;
    TMatch best = FindMatch(ix, target, t, segEnd, litStart, deltas, deltaCount, &rep);
    if (!Worthwhile(best, rep)) {
      t++;
      continue;
    }
    // One step of lazy evaluation: a much better copy that starts one byte
    // later wins (it may still reach back over this byte).
    while (best.targetStart + best.length < segEnd && best.length < 64) {
      bool nextRep = false;
      const TMatch next = FindMatch(ix, target, t + 1, segEnd, litStart, deltas, deltaCount, &nextRep);
      if (!Worthwhile(next, nextRep) || next.targetStart + next.length <= best.targetStart + best.length + kLazyGain) break;
      best = next;
      rep = nextRep;
      t++;
    }
    literal(litStart, best.targetStart);
    out->push_back({true, static_cast<uint32_t>(best.baseStart), static_cast<uint32_t>(best.length)});
    const int64_t delta = static_cast<int64_t>(best.baseStart) - static_cast<int64_t>(best.targetStart);
    int at = 0;
    while (at < deltaCount && deltas[at] != delta) at++;
    if (at == deltaCount && deltaCount < kRecentDeltas) deltaCount++;
    if (at == kRecentDeltas) at = kRecentDeltas - 1;
    for (int i = at; i > 0; i--) deltas[i] = deltas[i - 1];
    deltas[0] = delta;
    t = best.targetStart + best.length;
    litStart = t;
  }
  literal(litStart, segEnd);
}

}  // namespace

void MatchDelta(const uint8_t* base, size_t baseLength, const uint8_t* target, size_t targetLength,
                int threads, std::vector<TDeltaCommand>* commands) {
  commands->clear();
  TBaseIndex index;
  BuildIndex(base, baseLength, &index);
  const size_t segments = std::max<size_t>(1, (targetLength + kSegment - 1) / kSegment);
  std::vector<std::vector<TDeltaCommand>> parts(segments);
  struct TSegmentWork {
    const TBaseIndex* index;
    const uint8_t* target;
    size_t targetLength;
    std::vector<std::vector<TDeltaCommand>>* parts;
  } work{&index, target, targetLength, &parts};
  ParallelFor(
      segments, threads,
      [](size_t s, void* user) {
        const TSegmentWork& w = *static_cast<const TSegmentWork*>(user);
        const size_t begin = s * kSegment;
        const size_t end = std::min(w.targetLength, begin + kSegment);
        MatchSegment(*w.index, w.target, begin, end, &(*w.parts)[s]);
      },
      &work);
  for (const auto& part : parts) commands->insert(commands->end(), part.begin(), part.end());
}

bool MakePatch(const uint8_t* base, size_t baseLength, const uint8_t* target, size_t targetLength,
               const TCompressOptions& options, std::vector<uint8_t>* patch) {
  patch->clear();
  if (baseLength > kMaxEntrySize || targetLength > kMaxEntrySize) return false;
  std::vector<TDeltaCommand> commands;
  MatchDelta(base, baseLength, target, targetLength, options.threads, &commands);
  TCommandWriter w;
  BeginCommands(&w, kMaxBlockDecoded);
  for (const TDeltaCommand& c : commands) {
    if (c.copy) {
      AddCopy(&w, base, c.offset, c.length);
    } else {
      AddLiteral(&w, target + c.offset, c.length);
    }
  }
  AddEnd(&w);
  if (w.failed) return false;
  std::vector<TBlockJob> jobs;
  for (const auto& [begin, end] : SplitIntoBlocks(w)) {
    jobs.push_back({w.bytes.data() + begin, static_cast<int32_t>(end - begin)});
  }
  std::vector<std::vector<uint8_t>> blocks;
  if (!EncodeBlocks(jobs, options, &blocks, nullptr, nullptr)) return false;
  for (const auto& b : blocks) patch->insert(patch->end(), b.begin(), b.end());
  return true;
}

const char* DecodeResultText(int32_t code) {
  switch (code) {
    case kDecodeMalformed:
      return "the stream is short or malformed (a short read, a bad block header or checksum, "
             "failed inflation, or a field crossing its block's end)";
    case kDecodeBadCommand:
      return "the stream holds an invalid command";
    case kDecodeCopyOutsideBase:
      return "a copy reaches outside the reference file";
    case kDecodeEndChecksum:
      return "the output's checksum does not match the stream's end";
    case kDecodeOutputTooSmall:
      return "the output is larger than its buffer";
    default:
      return "the stream does not decode";
  }
}

// ---- Commands ------------------------------------------------------------------------------

namespace {

// The patched output, sized as the setup does it: first the reference's
// size plus 256 KiB, then once more with the exact size the decoder asks for.
int32_t ApplyWithCapacityRule(const std::vector<uint8_t>& reference, const std::vector<uint8_t>& patch,
                              std::vector<uint8_t>* output, bool* outOfMemory) {
  constexpr int64_t kExtraCapacity = 0x40000;
  int64_t capacity = std::min<int64_t>(static_cast<int64_t>(reference.size()) + kExtraCapacity, INT32_MAX);
  int32_t code = kDecodeOutputTooSmall;
  *outOfMemory = false;
  for (int pass = 0; pass < 2 && code == kDecodeOutputTooSmall; pass++) {
    try {
      output->assign(static_cast<size_t>(capacity), 0);
    } catch (const std::bad_alloc&) {
      *outOfMemory = true;
      return code;
    }
    int32_t size = static_cast<int32_t>(capacity);
    code = ApplyPatchBuffer(reference.data(), static_cast<int32_t>(reference.size()), output->data(),
                            &size, patch.data(), static_cast<int32_t>(patch.size()), nullptr, nullptr);
    if (size < 0) return code == 0 ? kDecodeMalformed : code;
    capacity = size;
    if (code == 0) output->resize(static_cast<size_t>(size));
  }
  return code;
}

bool WriteFileAtomically(const fs::path& path, const std::vector<uint8_t>& data, unsigned mode,
                         std::string* message) {
  TTempFile temp;
  if (!CreateTempBeside(path, mode, &temp, message)) return false;
  if (!data.empty() && std::fwrite(data.data(), 1, data.size(), temp.file) != data.size()) {
    *message = "cannot write " + PathText(path) + ": " + ErrnoText();
    DiscardTemp(&temp);
    return false;
  }
  return CommitTemp(&temp, message);
}

}  // namespace

int DiffCommand(const fs::path& reference, const fs::path& target, const fs::path& patchPath,
                const TCompressOptions& options) {
  std::vector<uint8_t> base, next, patch;
  std::string message;
  if (!ReadFileBytes(reference, kMaxEntrySize, &base, &message) ||
      !ReadFileBytes(target, kMaxEntrySize, &next, &message)) {
    return Fail(kExitUsage, message);
  }
  if (!MakePatch(base.data(), base.size(), next.data(), next.size(), options, &patch)) {
    return Fail(kExitUsage, "cannot encode the patch");
  }
  // The patch is checked the way the setup applies it before it is written.
  std::vector<uint8_t> check;
  bool outOfMemory = false;
  const int32_t code = ApplyWithCapacityRule(base, patch, &check, &outOfMemory);
  if (outOfMemory) return Fail(kExitUsage, "out of memory while checking the patch");
  if (code != 0 || check != next) {
    return FailCode("internal error: the patch does not rebuild " + PathText(target), code != 0 ? code : kDecodeEndChecksum);
  }
  if (!WriteFileAtomically(patchPath, patch, FileModeOr(patchPath, DefaultNewFileMode()), &message)) {
    return Fail(kExitUsage, message);
  }
  return kExitOk;
}

int PatchCommand(const fs::path& reference, const fs::path& patchPath, const fs::path& out) {
  std::vector<uint8_t> base, patch, output;
  std::string message;
  if (!ReadFileBytes(reference, kMaxEntrySize, &base, &message) ||
      !ReadFileBytes(patchPath, kMaxEntrySize, &patch, &message)) {
    return Fail(kExitUsage, message);
  }
  bool outOfMemory = false;
  const int32_t code = ApplyWithCapacityRule(base, patch, &output, &outOfMemory);
  if (outOfMemory) return Fail(kExitUsage, "out of memory: the patch's output does not fit");
  if (code != 0) return FailCode("patch " + PathText(patchPath) + ": " + DecodeResultText(code), code);
  const unsigned mode = FileModeOr(out, FileModeOr(reference, DefaultNewFileMode()));
  if (!WriteFileAtomically(out, output, mode, &message)) return Fail(kExitUsage, message);
  return kExitOk;
}
