// CRC-32 and Adler-32. See checksums.h.
#include "codec/checksums.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

namespace kel::codec {

namespace {

// ---- CRC-32 -----------------------------------------------------------------------------

// t[0] is the byte-wise table of the reflected polynomial 0xEDB88320; t[k][n] is the CRC
// register after byte n followed by k zero bytes, so eight bytes fold in one step.
struct CrcTables {
    uint32_t t[8][256];
};

const CrcTables& crc_tables() {
    static const CrcTables tables = [] {
        CrcTables r{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            r.t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n)
            for (int k = 1; k < 8; ++k) r.t[k][n] = (r.t[k - 1][n] >> 8) ^ r.t[0][r.t[k - 1][n] & 0xFF];
        return r;
    }();
    return tables;
}

// The register (already inverted) through n bytes, eight at a time.
uint32_t crc_slice8(uint32_t crc, const uint8_t* p, size_t n) {
    const auto& t = crc_tables().t;
    while (n > 0 && (reinterpret_cast<uintptr_t>(p) & 7) != 0) {
        crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
        --n;
    }
    for (; n >= 8; p += 8, n -= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= crc;
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    while (n-- > 0) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return crc;
}

#if defined(__x86_64__)
// Carry-less multiplication folds 64 bytes per step (four 128-bit lanes), then the lanes
// into one and that into 32 bits with a Barrett reduction; the constants are powers of x
// modulo the bit-reflected polynomial. n is a multiple of 16 and at least 64; the register
// comes and goes inverted, as in crc_slice8.
// One 128-bit lane folded over the next 16 bytes.
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold16(__m128i acc, __m128i next, __m128i k) {
    __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x11), next), lo);
}

__attribute__((target("pclmul,sse4.1"))) uint32_t crc_fold(uint32_t crc, const uint8_t* p, size_t n) {
    alignas(16) static const uint64_t k1k2[2] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const uint64_t k3k4[2] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const uint64_t k5k0[2] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const uint64_t poly[2] = {0x01db710641, 0x01f7011641};
    auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    n -= 64;
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    for (; n >= 64; p += 64, n -= 64) {
        __m128i y1 = _mm_clmulepi64_si128(x1, k, 0x00), y2 = _mm_clmulepi64_si128(x2, k, 0x00);
        __m128i y3 = _mm_clmulepi64_si128(x3, k, 0x00), y4 = _mm_clmulepi64_si128(x4, k, 0x00);
        x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x11), y1), load(p));
        x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, k, 0x11), y2), load(p + 16));
        x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, k, 0x11), y3), load(p + 32));
        x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, k, 0x11), y4), load(p + 48));
    }
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    x1 = fold16(x1, x2, k);
    x1 = fold16(x1, x3, k);
    x1 = fold16(x1, x4, k);
    for (; n >= 16; p += 16, n -= 16) x1 = fold16(x1, load(p), k);
    // 128 bits to 64.
    __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x00), x2);
    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask32), k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return uint32_t(_mm_extract_epi32(x1, 1));
}

bool crc_fold_usable() {
    static const bool usable = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return usable;
}
#endif

}  // namespace

uint32_t crc32(const uint8_t* bytes, size_t n, uint32_t crc) {
    crc = ~crc;
#if defined(__x86_64__)
    if (n >= 64 && crc_fold_usable()) {
        size_t whole = n & ~size_t(15);
        crc = crc_fold(crc, bytes, whole);
        bytes += whole;
        n -= whole;
    }
#endif
    return ~crc_slice8(crc, bytes, n);
}

uint32_t adler32(const uint8_t* p, size_t n, uint32_t adler) {
    constexpr uint32_t BASE = 65521;
    // 5552 bytes is the most that keeps s2 within 32 bits before the reduction.
    constexpr size_t CHUNK = 5552;
    uint32_t s1 = adler & 0xFFFF, s2 = adler >> 16;
#if defined(__SSE2__)
    // Sixteen bytes a step: s1 gains their sum, s2 gains 16 times the s1 before the step
    // plus the bytes weighted 16 down to 1. The weighted sums and the running s1 stay in
    // 32-bit lanes, far from full within a chunk; the lanes are added up in 64 bits.
    const __m128i zero = _mm_setzero_si128();
    const __m128i w_first = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i w_last = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    auto lanes = [](__m128i v) {
        alignas(16) uint32_t x[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(x), v);
        return uint64_t(x[0]) + x[1] + x[2] + x[3];
    };
    while (n >= 16) {
        size_t k = (n < CHUNK ? n : CHUNK) & ~size_t(15);
        n -= k;
        __m128i sum = zero, before = zero, weighted = zero;
        uint64_t s2_wide = s2 + uint64_t(s1) * k;
        for (; k > 0; k -= 16, p += 16) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            before = _mm_add_epi32(before, sum);
            sum = _mm_add_epi32(sum, _mm_sad_epu8(x, zero));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(x, zero), w_first));
            weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(x, zero), w_last));
        }
        s2_wide += 16 * lanes(before) + lanes(weighted);
        s1 = uint32_t((s1 + lanes(sum)) % BASE);
        s2 = uint32_t(s2_wide % BASE);
    }
#endif
    while (n > 0) {
        size_t k = n < CHUNK ? n : CHUNK;
        n -= k;
        for (; k >= 16; k -= 16, p += 16)
            for (int i = 0; i < 16; ++i) s2 += (s1 += p[i]);
        while (k-- > 0) s2 += (s1 += *p++);
        s1 %= BASE;
        s2 %= BASE;
    }
    return s1 | (s2 << 16);
}

}  // namespace kel::codec
