// The suffix array behind vozpack's patch matcher: every suffix of the
// reference file in sorted order, so that the longest match of any string
// in the reference is one binary search away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Sorts the suffixes of text[0, length) by induced sorting (linear time,
// about five bytes of memory per text byte). sa receives length entries:
// sa[r] is the start of the suffix of rank r; a suffix that is a prefix of
// another sorts first. False when memory runs out or length is 2^31 or more
// (ranks are 32-bit); sa is then empty.
bool BuildSuffixArray(const uint8_t* text, size_t length, std::vector<int32_t>* sa);

// The suffix array with a table of where each two-byte prefix begins, so a
// search starts in a small range.
struct TSuffixIndex {
    const uint8_t* text = nullptr;
    size_t length = 0;
    std::vector<int32_t> sa;
    // Ranks [rangeBegin[k], rangeEnd[k]) hold the suffixes that start with the
    // two bytes k (first byte high); the one-byte suffix is in no range.
    std::vector<int32_t> rangeBegin, rangeEnd;
};
bool BuildSuffixIndex(const uint8_t* text, size_t length, TSuffixIndex* index);

// The longest match of s[0, sLength) among the suffixes of the text, at most
// maxLength bytes compared. Returns its length and in *position the start of
// a suffix that reaches it; matches shorter than two bytes count as none (0).
size_t LongestMatch(const TSuffixIndex& index, const uint8_t* s, size_t sLength, size_t maxLength, size_t* position);
