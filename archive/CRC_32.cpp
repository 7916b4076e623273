// Module CRC_32: three routines for one register, chosen once at run time.
//
// The bytewise routine is the reference; slicing-by-16 and carry-less
// multiplication folding must give the same register for every input.
#include "CRC_32.h"
#include "VozCall.h"
#include "VozFormat.h"

#include <atomic>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define VOZ_CRC_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define VOZ_CRC_CLMUL 0
#endif

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 16;

struct TCrcTables {
    uint32_t t[kSlices][256];
};

// t[0] is the usual 256-entry table; t[k][i] is the register after byte i
// was followed by k zero bytes, which lets one look-up per byte cover 16
// bytes in parallel.
constexpr TCrcTables MakeTables() {
    TCrcTables tables{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; bit++) r = (r & 1) ? (r >> 1) ^ kPolynomial : r >> 1;
        tables.t[0][i] = r;
    }
    for (int k = 1; k < kSlices; k++) {
        for (uint32_t i = 0; i < 256; i++) {
            const uint32_t prev = tables.t[k - 1][i];
            tables.t[k][i] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
        }
    }
    return tables;
}

constexpr TCrcTables kTables = MakeTables();

uint32_t BytewiseTail(const uint8_t* p, size_t n, uint32_t reg) {
    const uint32_t* t0 = kTables.t[0];
    while (n-- > 0) reg = t0[(reg ^ *p++) & 0xFF] ^ (reg >> 8);
    return reg;
}

uint32_t SlicingImpl(const uint8_t* p, size_t n, uint32_t reg) {
    const auto& t = kTables.t;
    while (n >= kSlices) {
        const uint32_t a = LoadLe32(p) ^ reg;
        const uint32_t b = LoadLe32(p + 4);
        const uint32_t c = LoadLe32(p + 8);
        const uint32_t d = LoadLe32(p + 12);
        reg = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^ t[11][b & 0xFF] ^
              t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^ t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^
              t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^
              t[0][d >> 24];
        p += kSlices;
        n -= kSlices;
    }
    return BytewiseTail(p, n, reg);
}

#if VOZ_CRC_CLMUL

// 32-bit Windows only promises a 4-byte aligned stack; realign it on entry
// so that spilled vector registers are safe.
#if defined(__i386__)
#define VOZ_CLMUL_TARGET __attribute__((target("pclmul,sse4.1"), force_align_arg_pointer))
#else
#define VOZ_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
#endif

// acc carried 16 bytes forward and added to the next 16 bytes.
VOZ_CLMUL_TARGET inline __m128i Fold16(__m128i acc, __m128i next, __m128i k) {
    const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// Folding with PCLMULQDQ over the reflected polynomial: four 128-bit lanes
// are folded 64 bytes at a time, then into one lane, then reduced to 64 and
// to 32 bits (Barrett). The constants are x^k mod P for the fold distances,
// bit-reflected, and the Barrett pair (P and floor(x^64 / P)).
// n must be at least 64 and a multiple of 16.
VOZ_CLMUL_TARGET uint32_t ClmulFold(const uint8_t* p, size_t n, uint32_t reg) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596LL, 0x0154442bd4LL);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124LL);
    const __m128i poly = _mm_set_epi64x(0x01f7011641LL, 0x01db710641LL);
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);

    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(reg)));
    p += 64;
    n -= 64;

    while (n >= 64) {
        const __m128i y1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i y2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i y3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        const __m128i y4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
        const __m128i l1 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
        const __m128i l2 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
        const __m128i l3 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
        const __m128i l4 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k1k2, 0x11), l1), y1);
        x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, k1k2, 0x11), l2), y2);
        x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, k1k2, 0x11), l3), y3);
        x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, k1k2, 0x11), l4), y4);
        p += 64;
        n -= 64;
    }

    // Four lanes into one, then the remaining 16-byte pieces.
    x1 = Fold16(x1, x2, k3k4);
    x1 = Fold16(x1, x3, k3k4);
    x1 = Fold16(x1, x4, k3k4);
    while (n >= 16) {
        x1 = Fold16(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), k3k4);
        p += 16;
        n -= 16;
    }

    // 128 bits to 64.
    __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
    t = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, low32);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k5k0, 0x00), t);

    // Barrett reduction to 32 bits.
    t = _mm_and_si128(x1, low32);
    t = _mm_clmulepi64_si128(t, poly, 0x10);
    t = _mm_and_si128(t, low32);
    t = _mm_clmulepi64_si128(t, poly, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

bool DetectClmul() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

#endif  // VOZ_CRC_CLMUL

using TCrcRoutine = uint32_t(VOZ_CDECL*)(const void*, int32_t, uint32_t);

struct TChoice {
    TCrcRoutine routine;
    const char* name;
};

TChoice Choose() {
#if VOZ_CRC_CLMUL
    if (DetectClmul()) return {Crc32UpdateClmul, "clmul"};
#endif
    if constexpr (std::endian::native == std::endian::little) {
        return {Crc32UpdateSlicing, "slicing"};
    }
    return {Crc32UpdateBytewise, "bytewise"};
}

// Filled on first use, so that callers from other modules' static
// initialisers are served too.
std::atomic<TCrcRoutine> gRoutine{nullptr};

TCrcRoutine Routine() {
    TCrcRoutine r = gRoutine.load(std::memory_order_relaxed);
    if (r == nullptr) {
        r = Choose().routine;
        gRoutine.store(r, std::memory_order_relaxed);
    }
    return r;
}

}  // namespace

uint32_t Crc32Update(const void* data, int32_t length, uint32_t reg) {
    if (length <= 0) return reg;
    return Routine()(data, length, reg);
}

uint32_t Crc32UpdateBytewise(const void* data, int32_t length, uint32_t reg) {
    if (length <= 0) return reg;
    return BytewiseTail(static_cast<const uint8_t*>(data), static_cast<size_t>(length), reg);
}

uint32_t Crc32UpdateSlicing(const void* data, int32_t length, uint32_t reg) {
    if (length <= 0) return reg;
    return SlicingImpl(static_cast<const uint8_t*>(data), static_cast<size_t>(length), reg);
}

bool Crc32HasClmul() {
#if VOZ_CRC_CLMUL
    static const bool has = DetectClmul();
    return has;
#else
    return false;
#endif
}

uint32_t Crc32UpdateClmul(const void* data, int32_t length, uint32_t reg) {
    if (length <= 0) return reg;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t n = static_cast<size_t>(length);
#if VOZ_CRC_CLMUL
    if (n >= 64 && Crc32HasClmul()) {  // elsewhere it quietly slices instead
        const size_t folded = n & ~static_cast<size_t>(15);
        reg = ClmulFold(p, folded, reg);
        p += folded;
        n -= folded;
    }
#endif
    return SlicingImpl(p, n, reg);
}

const char* Crc32RoutineName() { return Choose().name; }
