// Suffix sorting by induced sorting: the suffixes are classed S (smaller
// than the next suffix) or L (larger); sorting the leftmost S suffixes of
// each S run (LMS) is enough, because every other suffix's place follows
// from them in two sweeps over the buckets of first characters. The LMS
// substrings are sorted that way first; when two are equal, the reduced
// string of their names is sorted recursively. The end of the text acts as
// a sentinel smaller than every character, without being stored.
#include "PackDeltaSuffix.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Character c's bucket: heads (first free slot from the front) or ends.
template <typename Char>
void BucketBounds(const Char* s, int32_t n, int32_t alphabet, bool ends, std::vector<int32_t>* bucket) {
    bucket->assign(static_cast<size_t>(alphabet), 0);
    for (int32_t i = 0; i < n; i++) (*bucket)[static_cast<size_t>(s[i])]++;
    int32_t sum = 0;
    for (int32_t c = 0; c < alphabet; c++) {
        sum += (*bucket)[static_cast<size_t>(c)];
        (*bucket)[static_cast<size_t>(c)] = ends ? sum : sum - (*bucket)[static_cast<size_t>(c)];
    }
}

inline bool IsLms(const std::vector<uint8_t>& isS, int32_t i) {
    return i > 0 && isS[static_cast<size_t>(i)] && !isS[static_cast<size_t>(i) - 1];
}

// From the LMS suffixes in their buckets, places the L suffixes (left to
// right) and then the S suffixes (right to left).
template <typename Char>
void Induce(const Char* s, int32_t* sa, int32_t n, int32_t alphabet, const std::vector<uint8_t>& isS,
            std::vector<int32_t>* bucket) {
    BucketBounds(s, n, alphabet, false, bucket);
    // The last suffix is L (the sentinel after it is smaller) and comes first.
    sa[(*bucket)[static_cast<size_t>(s[n - 1])]++] = n - 1;
    for (int32_t i = 0; i < n; i++) {
        const int32_t j = sa[i] - 1;
        if (sa[i] > 0 && !isS[static_cast<size_t>(j)]) sa[(*bucket)[static_cast<size_t>(s[j])]++] = j;
    }
    BucketBounds(s, n, alphabet, true, bucket);
    for (int32_t i = n - 1; i >= 0; i--) {
        const int32_t j = sa[i] - 1;
        if (sa[i] > 0 && isS[static_cast<size_t>(j)]) sa[--(*bucket)[static_cast<size_t>(s[j])]] = j;
    }
}

// Sorts the suffixes of s[0, n), characters below alphabet, into sa[0, n).
template <typename Char>
void SuffixSort(const Char* s, int32_t* sa, int32_t n, int32_t alphabet) {
    if (n <= 0) return;
    if (n == 1) {
        sa[0] = 0;
        return;
    }
    std::vector<uint8_t> isS(static_cast<size_t>(n), 0);
    for (int32_t i = n - 2; i >= 0; i--) {
        isS[static_cast<size_t>(i)] = s[i] < s[i + 1] || (s[i] == s[i + 1] && isS[static_cast<size_t>(i) + 1]);
    }
    std::vector<int32_t> bucket;

    // Sort the LMS substrings: LMS positions at their buckets' ends, then induce.
    std::fill(sa, sa + n, -1);
    BucketBounds(s, n, alphabet, true, &bucket);
    for (int32_t i = 1; i < n; i++) {
        if (IsLms(isS, i)) sa[--bucket[static_cast<size_t>(s[i])]] = i;
    }
    Induce(s, sa, n, alphabet, isS, &bucket);

    // Gather the sorted LMS positions at the front and name their substrings.
    int32_t n1 = 0;
    for (int32_t i = 0; i < n; i++) {
        if (IsLms(isS, sa[i])) sa[n1++] = sa[i];
    }
    std::fill(sa + n1, sa + n, -1);
    int32_t names = 0;
    int32_t previous = -1;
    for (int32_t i = 0; i < n1; i++) {
        const int32_t pos = sa[i];
        bool differs = previous < 0;
        for (int32_t d = 0; !differs; d++) {
            // A substring that reaches the end of the text holds the sentinel,
            // which no other substring holds.
            if (pos + d == n || previous + d == n || s[pos + d] != s[previous + d] ||
                isS[static_cast<size_t>(pos + d)] != isS[static_cast<size_t>(previous + d)]) {
                differs = true;
            } else if (d > 0 && (IsLms(isS, pos + d) || IsLms(isS, previous + d))) {
                break;  // both end here, equal
            }
        }
        if (differs) {
            names++;
            previous = pos;
        }
        // LMS positions are at least two apart, so pos / 2 is a free slot each.
        sa[n1 + pos / 2] = names - 1;
    }
    for (int32_t i = n - 1, j = n - 1; i >= n1; i--) {
        if (sa[i] >= 0) sa[j--] = sa[i];
    }

    // Order of the LMS suffixes: from the names when they are all different,
    // else from the suffixes of the reduced string.
    int32_t* reduced = sa + n - n1;
    if (names < n1) {
        SuffixSort(reduced, sa, n1, names);
    } else {
        for (int32_t i = 0; i < n1; i++) sa[reduced[i]] = i;
    }
    for (int32_t i = 1, j = 0; i < n; i++) {
        if (IsLms(isS, i)) reduced[j++] = i;
    }
    for (int32_t i = 0; i < n1; i++) sa[i] = reduced[sa[i]];
    std::fill(sa + n1, sa + n, -1);

    // Sorted LMS suffixes at their buckets' ends, then the rest by induction.
    BucketBounds(s, n, alphabet, true, &bucket);
    for (int32_t i = n1 - 1; i >= 0; i--) {
        const int32_t j = sa[i];
        sa[i] = -1;
        sa[--bucket[static_cast<size_t>(s[j])]] = j;
    }
    Induce(s, sa, n, alphabet, isS, &bucket);
}

// Bytes the two strings share from the start, at most limit.
inline size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) return n + static_cast<size_t>(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

}  // namespace

bool BuildSuffixArray(const uint8_t* text, size_t length, std::vector<int32_t>* sa) {
    sa->clear();
    if (length >= size_t{1} << 31) return false;
    try {
        sa->resize(length);
        SuffixSort(text, sa->data(), static_cast<int32_t>(length), 256);
    } catch (const std::bad_alloc&) {
        sa->clear();
        sa->shrink_to_fit();
        return false;
    }
    return true;
}

bool BuildSuffixIndex(const uint8_t* text, size_t length, TSuffixIndex* index) {
    index->text = text;
    index->length = length;
    index->rangeBegin.assign(65536, 0);
    index->rangeEnd.assign(65536, 0);
    if (!BuildSuffixArray(text, length, &index->sa)) return false;
    // Ranges in rank order: each two-byte prefix's suffixes are consecutive.
    for (size_t r = 0; r < length; r++) {
        const size_t p = static_cast<size_t>(index->sa[r]);
        if (p + 1 >= length) continue;
        const size_t k = static_cast<size_t>(text[p]) << 8 | text[p + 1];
        if (index->rangeEnd[k] == 0) index->rangeBegin[k] = static_cast<int32_t>(r);
        index->rangeEnd[k] = static_cast<int32_t>(r + 1);
    }
    return true;
}

size_t LongestMatch(const TSuffixIndex& index, const uint8_t* s, size_t sLength, size_t maxLength, size_t* position) {
    *position = 0;
    const size_t limit = std::min(sLength, maxLength);
    if (limit < 2) return 0;
    const size_t k = static_cast<size_t>(s[0]) << 8 | s[1];
    int32_t lo = index.rangeBegin[k], hi = index.rangeEnd[k] - 1;
    if (hi < lo) return 0;
    const uint8_t* text = index.text;
    const size_t n = index.length;
    // Length shared by s and the suffix of rank r, knowing that `known` bytes agree.
    auto common = [&](int32_t r, size_t known) {
        const size_t p = static_cast<size_t>(index.sa[static_cast<size_t>(r)]);
        return known + CommonLength(text + p + known, s + known, std::min(limit, n - p) - known);
    };
    // True when s sorts after the suffix of rank r that shares m bytes with it.
    auto after = [&](int32_t r, size_t m) {
        const size_t p = static_cast<size_t>(index.sa[static_cast<size_t>(r)]);
        if (p + m == n) return true;  // the suffix is a prefix of s
        return m < limit && s[m] > text[p + m];
    };
    size_t loCommon = common(lo, 2), hiCommon = common(hi, 2);
    // The best match is next to where s would be inserted; the binary search
    // keeps the bounds' shared lengths, so each probe compares from their
    // minimum on.
    if (after(lo, loCommon) && !after(hi, hiCommon)) {
        while (hi - lo > 1 && loCommon < limit && hiCommon < limit) {
            const int32_t mid = lo + (hi - lo) / 2;
            const size_t m = common(mid, std::min(loCommon, hiCommon));
            if (after(mid, m)) {
                lo = mid;
                loCommon = m;
            } else {
                hi = mid;
                hiCommon = m;
            }
        }
    }
    if (loCommon >= hiCommon) {
        *position = static_cast<size_t>(index.sa[static_cast<size_t>(lo)]);
        return loCommon;
    }
    *position = static_cast<size_t>(index.sa[static_cast<size_t>(hi)]);
    return hiCommon;
}
