// Patches: a matcher that finds what the new file shares with the base, the
// patch it becomes (copy and literal commands in compressed blocks), and
// the commands diff and patch.
//
// The patch is a command stream compressed in blocks, so what a command
// costs is what its bytes cost the compressor. A copy costs about four
// bytes' worth of codes (command byte, offset, length) wherever it comes
// from; a literal byte costs about six bits, less where it repeats recent
// literal bytes, which the compressor then stores as a back-reference.
//
// The matcher works on segments of fixed size of the new file, so the result
// does not depend on the thread count. Per segment:
//
// 1. Candidates: exact runs that the new file shares with the base, each a
//    range of the new file and the distance (delta) to where it lies in the
//    base. Where no candidate covers a position, the base's suffix array
//    gives the longest match there, extended backwards. A few recent deltas
//    are followed byte by byte: in a new build of a program most bytes keep
//    the place the last copy gave them and only addresses change, so at one
//    delta the runs between the changed bytes are the candidates.
// 2. Parse: the cheapest way through the segment by dynamic programming over
//    positions, with a copy allowed to start and end anywhere inside a
//    candidate, and literal bytes either single or repeats of bytes left
//    literal. The first parse prices with fixed costs; the next ones with a
//    model of the command stream the parse before made (what each byte value
//    costs, which repeats the compressor will find), so the parse and its
//    prices settle together.
// 3. Sources: a copy may name any base position holding its bytes; naming
//    one a recent copy named makes the command bytes repeat.
//
// The commands are then written twice, with the narrowest offset fields and
// with four-byte ones (whose upper bytes and the zero after them repeat from
// copy to copy, which suits some files), and the smaller patch is kept.
#include "PackDelta.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "CRC_32.h"
#include "PackReport.h"
#include "VozPack.h"
#include "PackDeltaSuffix.h"
#include "VozDecode.h"
#include "VozEncode.h"
#include "VozFormat.h"
#include "VozReader.h"

namespace {

constexpr size_t kSegment = size_t{1} << 20;
constexpr size_t kMinRun = 4;            // shorter runs never pay for a copy command
constexpr size_t kMinNewAlignment = 12;  // a searched match this long is followed as a delta
constexpr int kAlignments = 8;           // deltas followed at once
constexpr size_t kSearchCap = 4096;      // longer matches are extended without the suffix array
constexpr size_t kLongRun = 256;         // inside runs this long no other delta is tried

// Costs in eighths of a bit. The first parse's: a copy with three-byte
// offset and one-byte length, an offset byte beyond those, a length byte
// beyond one, a literal byte, a literal run's command and length bytes.
constexpr int kFirstCopy = 240;
constexpr int kFirstOffsetByte = 48;
constexpr int kFirstLengthByte = 32;
constexpr int kFirstLiteral = 40;
constexpr int kFirstLiteralRun = 48;
// A byte value's cost from a parse's histogram stays within these bounds.
constexpr int kMinByteCost = 16;
constexpr int kMaxByteCost = 80;
// A repeat: the length and distance codes, before their extra bits.
constexpr int kRepeatCost = 72;
constexpr int kRepeatChain = 32;     // earlier positions tried per repeat
constexpr size_t kWindow = 32768;    // the compressor's reach back
constexpr size_t kMaxRepeat = 258;   // and its longest repeat
constexpr int kModelledParses = 3;   // parses after the first
constexpr size_t kFewLiterals = 64;  // segments with under 1/64 literals and commands get none
constexpr size_t kRecentSources = 256;

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
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

inline int Log2(size_t v) { return 63 - __builtin_clzll(static_cast<unsigned long long>(v) | 1); }

// ---- Candidates ----------------------------------------------------------------------------

// New file [start, end) equals base [start + delta, end + delta).
struct TCandidate {
    size_t start;
    size_t end;
    int64_t delta;
};

// A delta followed byte by byte.
struct TAlignment {
    int64_t delta;
    size_t nextCheck;     // no run of this delta starts before here
    size_t coveredUntil;  // end of its last candidate
    size_t lastUseful;    // for replacing the least recently useful
};

void GatherCandidates(const TSuffixIndex& ix, const uint8_t* target, size_t segStart, size_t segEnd,
                      std::vector<TCandidate>* out) {
    const uint8_t* base = ix.text;
    const size_t baseLength = ix.length;
    TAlignment al[kAlignments];
    int count = 0;
    size_t searchedUntil = 0;
    for (size_t t = segStart; t < segEnd; t++) {
        bool covered = false;
        for (int i = 0; i < count; i++) {
            TAlignment& a = al[i];
            if (a.coveredUntil > t) {
                covered = true;
                continue;
            }
            if (a.nextCheck > t) continue;
            const int64_t b = static_cast<int64_t>(t) + a.delta;
            if (b < 0) {
                a.nextCheck = static_cast<size_t>(-a.delta);
                continue;
            }
            if (static_cast<size_t>(b) >= baseLength) {
                a.nextCheck = SIZE_MAX;
                continue;
            }
            if (base[b] != target[t]) {
                a.nextCheck = t + 1;
                continue;
            }
            const size_t len =
                ForwardLength(base + b, target + t, std::min(baseLength - static_cast<size_t>(b), segEnd - t));
            a.nextCheck = t + len;
            if (len >= kMinRun) {
                out->push_back({t, t + len, a.delta});
                a.coveredUntil = t + len;
                a.lastUseful = t + len;
                covered = true;
            }
        }
        if (covered) {
            // Inside a long run other deltas add nothing worth the time: go on
            // from its end, where every delta is tried again.
            size_t longEnd = 0;
            for (int i = 0; i < count; i++) {
                if (al[i].coveredUntil > t + kLongRun) longEnd = std::max(longEnd, al[i].coveredUntil);
            }
            if (longEnd > 0) t = longEnd - 1;
            continue;
        }
        if (t < searchedUntil) continue;
        size_t p = 0;
        size_t len = LongestMatch(ix, target + t, segEnd - t, kSearchCap, &p);
        if (len < kMinRun) continue;
        if (len == kSearchCap) {
            len += ForwardLength(base + p + len, target + t + len, std::min(baseLength - p, segEnd - t) - len);
        }
        // A better match that starts inside this one is found by the next
        // search, which reaches back over it.
        searchedUntil = t + len;
        const size_t back = BackwardLength(base + p, target + t, std::min(p, t - segStart));
        const int64_t delta = static_cast<int64_t>(p) - static_cast<int64_t>(t);
        out->push_back({t - back, t + len, delta});
        if (len + back < kMinNewAlignment) continue;
        int slot = count;
        if (count < kAlignments) {
            count++;
        } else {
            slot = 0;
            for (int i = 1; i < count; i++) {
                if (al[i].lastUseful < al[slot].lastUseful) slot = i;
            }
        }
        al[slot] = {delta, t + len, t + len, t + len};
    }
    // In order of start (longest first), without duplicates.
    std::sort(out->begin(), out->end(), [](const TCandidate& a, const TCandidate& b) {
        if (a.start != b.start) return a.start < b.start;
        if (a.end != b.end) return a.end > b.end;
        return a.delta < b.delta;
    });
    out->erase(std::unique(out->begin(), out->end(),
                           [](const TCandidate& a, const TCandidate& b) {
                               return a.start == b.start && a.end == b.end && a.delta == b.delta;
                           }),
               out->end());
}

// ---- Cost model ------------------------------------------------------------------------------

// What the compressor will make of the segment's commands. It codes every
// byte of the command stream with one table, so a byte value costs about
// the same wherever it stands: in a command, a field or literal data.
// Literal bytes may also repeat literal bytes before them in the window.
struct TCostModel {
    bool fixed = true;  // the first parse's costs
    int byteCost[256];
    std::vector<uint16_t> repeatLength;  // by position in the segment; 0: none
    std::vector<uint16_t> repeatDistance;
};

inline void CountField(uint32_t v, int width, uint32_t* counts) {
    for (int i = 0; i < width; i++) counts[(v >> (8 * i)) & 0xFF]++;
}

inline int FieldCost(const TCostModel& m, uint32_t v, int width) {
    int c = 0;
    for (int i = 0; i < width; i++) c += m.byteCost[(v >> (8 * i)) & 0xFF];
    return c;
}

// A repeat costs its length and distance codes and their extra bits.
inline int RepeatCost(size_t length, size_t distance) {
    const int distanceExtra = distance <= 4 ? 0 : Log2(distance - 1) - 1;
    const int lengthExtra = length <= 10 || length >= kMaxRepeat ? 0 : Log2(length - 3) - 2;
    return kRepeatCost + 8 * (distanceExtra + lengthExtra);
}

void FixedCostModel(size_t n, TCostModel* m) {
    m->fixed = true;
    for (int& c : m->byteCost) c = kFirstLiteral;
    m->repeatLength.assign(n, 0);
    m->repeatDistance.assign(n, 0);
}

// The model of the command stream that commands make, and of the repeats
// among the bytes that literal[] marks.
void BuildCostModel(const uint8_t* target, size_t segStart, size_t segEnd, const std::vector<TDeltaCommand>& commands,
                    const std::vector<uint8_t>& literal, TCostModel* m) {
    m->fixed = false;
    const size_t n = segEnd - segStart;
    const uint8_t* s = target + segStart;
    uint32_t counts[256] = {};
    for (const TDeltaCommand& c : commands) {
        if (c.copy) {
            const int w1 = FieldWidthFor(c.offset), w2 = FieldWidthFor(c.length);
            counts[CopyCommand(w1, w2)]++;
            CountField(c.offset, w1, counts);
            CountField(c.length, w2, counts);
        } else {
            const int w = FieldWidthFor(c.length);
            counts[LiteralCommand(w)]++;
            CountField(c.length, w, counts);
            for (uint32_t i = 0; i < c.length; i++) counts[target[c.offset + i]]++;
        }
    }
    uint64_t total = 0;
    for (uint32_t v : counts) total += v;
    for (int v = 0; v < 256; v++) {
        // -log2 of the byte's share, one count added to each value.
        const double share = (counts[v] + 1.0) / (static_cast<double>(total) + 256.0);
        m->byteCost[v] = std::clamp(static_cast<int>(std::lround(-8.0 * std::log2(share))), kMinByteCost, kMaxByteCost);
    }
    m->repeatLength.assign(n, 0);
    m->repeatDistance.assign(n, 0);
    if (n < 3) return;
    // The longest repeat at each position, by hash chains of three bytes over
    // the literal positions only (nothing else can be a source).
    constexpr int kBits = 15;
    std::vector<int32_t> head(size_t{1} << kBits, -1), prev(n, -1);
    // Where the literal run holding each position ends: a source must be
    // literal throughout.
    std::vector<uint32_t> runEnd(n + 1, static_cast<uint32_t>(n));
    for (size_t i = n; i-- > 0;) runEnd[i] = literal[i] ? runEnd[i + 1] : static_cast<uint32_t>(i);
    auto hash3 = [&](size_t i) {
        const uint32_t v = static_cast<uint32_t>(s[i]) << 16 | static_cast<uint32_t>(s[i + 1]) << 8 | s[i + 2];
        return (v * 2654435761u) >> (32 - kBits);
    };
    size_t lastLiteral = SIZE_MAX;  // the last literal position before i
    for (size_t i = 0; i + 3 <= n; i++) {
        const uint32_t h = hash3(i);
        size_t bestLen = 0, bestDist = 0;
        int chain = 0;
        // Nothing to repeat unless a literal byte lies within the window.
        const int32_t first = lastLiteral != SIZE_MAX && i - lastLiteral <= kWindow ? head[h] : -1;
        for (int32_t c = first; c >= 0 && chain < kRepeatChain; c = prev[static_cast<size_t>(c)], chain++) {
            const size_t y = static_cast<size_t>(c);
            if (i - y > kWindow) break;
            const size_t limit = std::min({kMaxRepeat, n - i, static_cast<size_t>(runEnd[y]) - y});
            const size_t len = ForwardLength(s + y, s + i, limit);
            if (len > bestLen) {
                bestLen = len;
                bestDist = i - y;
                if (len == kMaxRepeat || i + len == n) break;
            }
        }
        if (bestLen >= 3) {
            m->repeatLength[i] = static_cast<uint16_t>(bestLen);
            m->repeatDistance[i] = static_cast<uint16_t>(bestDist - 1);
        }
        if (literal[i]) {
            prev[i] = head[h];
            head[h] = static_cast<int32_t>(i);
            lastLiteral = i;
        }
    }
}

// ---- Parse -----------------------------------------------------------------------------------

// The cheapest commands for the segment under the model; literal[] receives
// which bytes they leave literal.
void ParseSegment(const uint8_t* target, size_t segStart, size_t segEnd, const std::vector<TCandidate>& cands,
                  const TCostModel& model, std::vector<TDeltaCommand>* out, std::vector<uint8_t>* literal) {
    const size_t n = segEnd - segStart;
    constexpr int32_t kInf = INT32_MAX / 4;
    // Cheapest cost of the first i bytes ending in a literal run (costLit) or
    // in a copy (costCopy), and how it was reached.
    std::vector<int32_t> costLit(n + 1, kInf), costCopy(n + 1, kInf);
    std::vector<uint32_t> copyFrom(n + 1, 0), copyCand(n + 1, 0);
    std::vector<uint16_t> litStep(n + 1, 1);  // bytes the last literal step covered
    std::vector<uint8_t> litOpens(n + 1, 0);  // the step opened the run
    costCopy[0] = 0;
    // A candidate that covers the current position: the cheapest place to have
    // started a copy inside it so far.
    struct TOpen {
        uint32_t cand;
        int32_t bestCost;  // cost before the copy, with its command byte and offset
        size_t bestStart;
    };
    std::vector<TOpen> open;
    size_t next = 0;
    const int copyCommand = model.fixed ? kFirstCopy - kFirstLengthByte : model.byteCost[CopyCommand(3, 1)];
    const int literalRun = model.fixed ? kFirstLiteralRun : model.byteCost[LiteralCommand(1)] + model.byteCost[1];
    for (size_t i = 0; i < n; i++) {
        const size_t x = segStart + i;
        while (next < cands.size() && cands[next].start == x) {
            open.push_back({static_cast<uint32_t>(next), kInf, x});
            next++;
        }
        const int32_t here = std::min(costLit[i], costCopy[i]);
        int32_t best = kInf;
        size_t bestFrom = 0;
        uint32_t bestCand = 0;
        size_t keep = 0;
        for (size_t k = 0; k < open.size(); k++) {
            TOpen o = open[k];
            const TCandidate& c = cands[o.cand];
            if (here < o.bestCost) {
                const uint32_t offset = static_cast<uint32_t>(static_cast<int64_t>(x) + c.delta);
                const int w1 = FieldWidthFor(offset);
                const int startCost = here + (model.fixed ? (w1 - 1) * kFirstOffsetByte : FieldCost(model, offset, w1));
                if (startCost < o.bestCost) {
                    o.bestCost = startCost;
                    o.bestStart = x;
                }
            }
            const uint32_t length = static_cast<uint32_t>(x + 1 - o.bestStart);
            const int w2 = FieldWidthFor(length);
            const int32_t cost =
                o.bestCost + copyCommand + (model.fixed ? kFirstLengthByte * w2 : FieldCost(model, length, w2));
            if (cost < best) {
                best = cost;
                bestFrom = o.bestStart;
                bestCand = o.cand;
            }
            if (c.end > x + 1) open[keep++] = o;
        }
        open.resize(keep);
        costCopy[i + 1] = best;
        copyFrom[i + 1] = static_cast<uint32_t>(bestFrom - segStart);
        copyCand[i + 1] = bestCand;
        // Literal steps: one byte, or a repeat the compressor will find.
        const int32_t stay = costLit[i], opens = costCopy[i] + literalRun;
        const int32_t litHere = std::min(stay, opens);
        const int32_t single = litHere + model.byteCost[target[x]];
        if (single < costLit[i + 1]) {
            costLit[i + 1] = single;
            litStep[i + 1] = 1;
            litOpens[i + 1] = opens < stay;
        }
        if (model.repeatLength[i] >= 3) {
            const size_t len = model.repeatLength[i];
            const int32_t c = litHere + RepeatCost(len, model.repeatDistance[i] + size_t{1});
            if (c < costLit[i + len]) {
                costLit[i + len] = c;
                litStep[i + len] = static_cast<uint16_t>(len);
                litOpens[i + len] = opens < stay;
            }
        }
    }
    // Walk back from the cheaper end state.
    literal->assign(n, 0);
    std::vector<TDeltaCommand> reversed;
    size_t i = n;
    bool inCopy = costCopy[n] <= costLit[n];
    size_t litEnd = n;
    while (i > 0) {
        if (inCopy) {
            if (litEnd > i)
                reversed.push_back({false, static_cast<uint32_t>(segStart + i), static_cast<uint32_t>(litEnd - i)});
            const size_t from = copyFrom[i];
            const TCandidate& c = cands[copyCand[i]];
            reversed.push_back({true, static_cast<uint32_t>(static_cast<int64_t>(segStart + from) + c.delta),
                                static_cast<uint32_t>(i - from)});
            i = from;
            litEnd = i;
            inCopy = costCopy[i] <= costLit[i];
        } else {
            inCopy = litOpens[i] != 0;
            const size_t step = litStep[i];
            for (size_t k = i - step; k < i; k++) (*literal)[k] = 1;
            i -= step;
        }
    }
    if (litEnd > 0) reversed.push_back({false, static_cast<uint32_t>(segStart), static_cast<uint32_t>(litEnd)});
    out->assign(reversed.rbegin(), reversed.rend());
}

// Points each copy at the same bytes named by one of the last copies when
// there is one.
void ReuseSources(const TSuffixIndex& ix, std::vector<TDeltaCommand>* commands) {
    uint32_t recent[kRecentSources];
    size_t count = 0;  // copies seen; the last ones are in recent[count % kRecentSources]
    for (TDeltaCommand& c : *commands) {
        if (!c.copy) continue;
        for (size_t k = 0; k < std::min(count, kRecentSources); k++) {
            const uint32_t o = recent[(count - 1 - k) % kRecentSources];
            if (o != c.offset && o + size_t{c.length} <= ix.length &&
                std::memcmp(ix.text + o, ix.text + c.offset, c.length) == 0) {
                c.offset = o;
                break;
            }
        }
        recent[count % kRecentSources] = c.offset;
        count++;
    }
}

bool SameCommands(const std::vector<TDeltaCommand>& a, const std::vector<TDeltaCommand>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TDeltaCommand& x, const TDeltaCommand& y) {
        return x.copy == y.copy && x.offset == y.offset && x.length == y.length;
    });
}

void MatchSegment(const TSuffixIndex& ix, const uint8_t* target, size_t segStart, size_t segEnd,
                  std::vector<TDeltaCommand>* out) {
    std::vector<TCandidate> cands;
    GatherCandidates(ix, target, segStart, segEnd, &cands);
    std::vector<uint8_t> literal;
    TCostModel model;
    FixedCostModel(segEnd - segStart, &model);
    ParseSegment(target, segStart, segEnd, cands, model, out, &literal);
    // A segment made almost wholly of long copies has little for the model
    // to weigh.
    size_t literalBytes = 0;
    for (const TDeltaCommand& c : *out) literalBytes += c.copy ? 0 : c.length;
    const int parses = (literalBytes + out->size()) * kFewLiterals < segEnd - segStart ? 0 : kModelledParses;
    std::vector<TDeltaCommand> previous;
    for (int pass = 0; pass < parses; pass++) {
        BuildCostModel(target, segStart, segEnd, *out, literal, &model);
        previous.swap(*out);
        ParseSegment(target, segStart, segEnd, cands, model, out, &literal);
        // The same commands again: the model would not change either.
        if (SameCommands(previous, *out)) break;
    }
    ReuseSources(ix, out);
}

struct TSegmentWork {
    const TSuffixIndex* index;
    const uint8_t* target;
    size_t targetLength;
    std::vector<std::vector<TDeltaCommand>>* parts;
    std::atomic<bool> failed{false};
};

void VOZ_CDECL MatchSegmentJob(size_t s, void* user) {
    TSegmentWork& w = *static_cast<TSegmentWork*>(user);
    const size_t begin = s * kSegment;
    const size_t end = std::min(w.targetLength, begin + kSegment);
    try {
        MatchSegment(*w.index, w.target, begin, end, &(*w.parts)[s]);
    } catch (const std::bad_alloc&) {
        w.failed.store(true);
    }
}

}  // namespace

bool MatchDelta(const uint8_t* base, size_t baseLength, const uint8_t* target, size_t targetLength, int threads,
                std::vector<TDeltaCommand>* commands) {
    commands->clear();
    if (targetLength == 0) return true;
    TSuffixIndex index;
    if (!BuildSuffixIndex(base, baseLength, &index)) return false;
    const size_t segments = (targetLength + kSegment - 1) / kSegment;
    std::vector<std::vector<TDeltaCommand>> parts(segments);
    TSegmentWork work{&index, target, targetLength, &parts};
    ParallelFor(segments, threads, MatchSegmentJob, &work);
    if (work.failed.load()) return false;
    for (const auto& part : parts) commands->insert(commands->end(), part.begin(), part.end());
    return true;
}

namespace {

// A copy command with an offset field of at least minOffsetWidth bytes,
// kept whole inside one block like every command the writer makes. A wider
// offset than needed is allowed by the format; with four bytes the offsets'
// upper bytes and the zero after them repeat from copy to copy, which the
// compressor stores as back-references.
void AddWideCopy(TCommandWriter* w, const uint8_t* base, uint32_t offset, uint32_t length, int minOffsetWidth) {
    if (offset > kMaxEntrySize || length > kMaxEntrySize) {
        w->failed = true;
        return;
    }
    const int offsetWidth = std::max(FieldWidthFor(offset), minOffsetWidth);
    const int lengthWidth = FieldWidthFor(length);
    const size_t size = static_cast<size_t>(1 + offsetWidth + lengthWidth);
    const size_t blockStart = w->blockEnds.empty() ? 0 : w->blockEnds.back();
    const size_t used = w->bytes.size() - blockStart;
    if (used > 0 && used + size > static_cast<size_t>(w->blockSize)) w->blockEnds.push_back(w->bytes.size());
    w->bytes.push_back(CopyCommand(offsetWidth, lengthWidth));
    for (int i = 0; i < offsetWidth; i++) w->bytes.push_back(static_cast<uint8_t>(offset >> (8 * i)));
    for (int i = 0; i < lengthWidth; i++) w->bytes.push_back(static_cast<uint8_t>(length >> (8 * i)));
    if (length > 0) w->outputRegister = Crc32Update(base + offset, static_cast<int32_t>(length), w->outputRegister);
}

}  // namespace

bool MakePatch(const uint8_t* base, size_t baseLength, const uint8_t* target, size_t targetLength,
               const TCompressOptions& options, std::vector<uint8_t>* patch) {
    patch->clear();
    if (baseLength > kMaxEntrySize || targetLength > kMaxEntrySize) return false;
    std::vector<TDeltaCommand> commands;
    if (!MatchDelta(base, baseLength, target, targetLength, options.threads, &commands)) return false;
    // The commands are written twice, with the narrowest offset fields and
    // with four-byte ones, and the smaller patch is kept.
    constexpr int kWidths[2] = {1, 4};
    TCommandWriter writers[2];
    std::vector<TBlockJob> jobs;
    size_t firstJob[3] = {0, 0, 0};
    for (int k = 0; k < 2; k++) {
        TCommandWriter& w = writers[k];
        BeginCommands(&w, kMaxBlockDecoded);
        for (const TDeltaCommand& c : commands) {
            if (c.copy) {
                AddWideCopy(&w, base, c.offset, c.length, kWidths[k]);
            } else {
                AddLiteral(&w, target + c.offset, c.length);
            }
        }
        AddEnd(&w);
        if (w.failed) return false;
        for (const auto& [begin, end] : SplitIntoBlocks(w)) {
            jobs.push_back({w.bytes.data() + begin, static_cast<int32_t>(end - begin)});
        }
        firstJob[k + 1] = jobs.size();
    }
    std::vector<std::vector<uint8_t>> blocks;
    if (!EncodeBlocks(jobs, options, &blocks, nullptr, nullptr)) return false;
    size_t sizes[2] = {0, 0};
    for (int k = 0; k < 2; k++) {
        for (size_t j = firstJob[k]; j < firstJob[k + 1]; j++) sizes[k] += blocks[j].size();
    }
    const int pick = sizes[1] < sizes[0] ? 1 : 0;
    for (size_t j = firstJob[pick]; j < firstJob[pick + 1]; j++) {
        patch->insert(patch->end(), blocks[j].begin(), blocks[j].end());
    }
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

// The first pass over a patch, sized by the reader's rule (the reference
// plus 256 KiB, within the output limit). -5 comes back only when
// everything else decoded and verified (any later error replaces it), with
// the full output size in *size; the output is then larger than this buffer.
int32_t ApplyFirstPass(const std::vector<uint8_t>& reference, const std::vector<uint8_t>& patch,
                       std::vector<uint8_t>* output, int32_t* size, bool* outOfMemory) {
    const int32_t capacity = FirstPatchCapacity(reference.size());
    *outOfMemory = false;
    try {
        output->assign(static_cast<size_t>(capacity), 0);
    } catch (const std::bad_alloc&) {
        *outOfMemory = true;
        return kDecodeOutputTooSmall;
    }
    *size = static_cast<int32_t>(capacity);
    const int32_t code = ApplyPatchBuffer(reference.data(), static_cast<int32_t>(reference.size()), output->data(),
                                          size, patch.data(), static_cast<int32_t>(patch.size()), nullptr, nullptr);
    if (*size < 0) return code == 0 ? kDecodeMalformed : code;
    if (code == 0) output->resize(static_cast<size_t>(*size));
    return code;
}

// Memory sources and a file sink for the streaming decoder.
struct TMemoryReader {
    const uint8_t* data;
    size_t length;
    size_t at;
};

void VOZ_CDECL ReadMemory(void* buffer, int32_t count, int32_t* got, void* user) {
    TMemoryReader& r = *static_cast<TMemoryReader*>(user);
    const size_t n = count > 0 && r.at < r.length ? std::min(static_cast<size_t>(count), r.length - r.at) : 0;
    if (n > 0) std::memcpy(buffer, r.data + r.at, n);
    r.at += n;
    *got = static_cast<int32_t>(n);
}

void VOZ_CDECL SeekMemory(int32_t offset, void* user) {
    TMemoryReader& r = *static_cast<TMemoryReader*>(user);
    r.at = offset < 0 ? r.length : static_cast<size_t>(offset);
}

struct TFileSink {
    FILE* file;
    uint64_t written;
    bool failed;
};

void VOZ_CDECL WriteToFile(const void* buffer, int32_t count, void* user) {
    TFileSink& s = *static_cast<TFileSink*>(user);
    if (s.failed || count <= 0) return;
    if (!PatchOutputFits(static_cast<int64_t>(s.written) + count) ||
        std::fwrite(buffer, 1, static_cast<size_t>(count), s.file) != static_cast<size_t>(count)) {
        s.failed = true;
    }
    s.written += static_cast<uint64_t>(count);
}

bool WriteFileAtomically(const fs::path& path, const std::vector<uint8_t>& data, unsigned mode, std::string* message) {
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
    // The patch is checked with the decoder before it is written.
    std::vector<uint8_t> check;
    int32_t size = static_cast<int32_t>(next.size());
    try {
        check.assign(next.size(), 0);
    } catch (const std::bad_alloc&) {
        return Fail(kExitUsage, "out of memory while checking the patch");
    }
    const int32_t code = ApplyPatchBuffer(base.data(), static_cast<int32_t>(base.size()), check.data(), &size,
                                          patch.data(), static_cast<int32_t>(patch.size()), nullptr, nullptr);
    if (code != 0 || check != next) {
        return FailCode("internal error: the patch does not rebuild " + PathText(target),
                        code != 0 ? code : kDecodeEndChecksum);
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
    int32_t size = 0;
    const int32_t code = ApplyFirstPass(base, patch, &output, &size, &outOfMemory);
    if (outOfMemory) return Fail(kExitUsage, "out of memory: the patch's output does not fit");
    const unsigned mode = FileModeOr(out, FileModeOr(reference, DefaultNewFileMode()));
    if (code == 0) {
        if (!WriteFileAtomically(out, output, mode, &message)) return Fail(kExitUsage, message);
        return kExitOk;
    }
    if (code != kDecodeOutputTooSmall) {
        return FailCode("patch " + PathText(patchPath) + ": " + DecodeResultText(code), code);
    }
    // The patch is good and its output larger than the first buffer. The size
    // it reports can be far beyond what the patch's own size suggests (a few
    // compressed copy commands can repeat the whole reference many times), so
    // no buffer is made of it: the output goes straight to the file.
    std::vector<uint8_t>().swap(output);
    TTempFile temp;
    if (!CreateTempBeside(out, mode, &temp, &message)) return Fail(kExitUsage, message);
    TMemoryReader baseReader{base.data(), base.size(), 0};
    TMemoryReader streamReader{patch.data(), patch.size(), 0};
    TFileSink sink{temp.file, 0, false};
    const int32_t streamed = ApplyPatchStream(ReadMemory, SeekMemory, &baseReader, WriteToFile, &sink, ReadMemory,
                                              static_cast<int32_t>(patch.size()), &streamReader, nullptr, nullptr);
    if (sink.failed) {
        message = "cannot write " + PathText(out) + ": " + ErrnoText();
        DiscardTemp(&temp);
        return Fail(kExitUsage, message);
    }
    if (streamed != 0 || sink.written != static_cast<uint64_t>(size)) {
        // Both decoders read the same format, so this does not happen with a
        // patch the first pass accepted; report it rather than write a bad file.
        DiscardTemp(&temp);
        return FailCode(
            "patch " + PathText(patchPath) + ": " + DecodeResultText(streamed != 0 ? streamed : kDecodeMalformed),
            streamed != 0 ? streamed : kDecodeMalformed);
    }
    if (!CommitTemp(&temp, &message)) return Fail(kExitUsage, message);
    return kExitOk;
}
