// Text search by unit width: the first character's candidates are found by a scan of the
// stored units (memchr, memmem, or 16 bytes at a time), and only they are compared further.
#include "datatypes/string_search.h"

#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/casefold.h"

namespace kel::dt {

using rt::case_fold_char;

namespace {

template <class T>
inline u32 load(const u8* p) {
    T v;
    __builtin_memcpy(&v, p, sizeof(T));
    return v;
}

inline u32 fold(u32 c) { return case_fold_char(c, false); }

template <class T>
constexpr u32 max_unit = sizeof(T) == 1 ? 0xFF : sizeof(T) == 2 ? 0xFFFF : 0xFFFFFFFF;

// Whether the run lies at s (the text holds m more units from there).
template <class T, bool CaseSensitive>
inline bool run_here(const u8* s, const u32* want, size_t m) {
    for (size_t k = 0; k < m; ++k) {
        u32 c = load<T>(s + k * sizeof(T));
        if (!CaseSensitive) c = fold(c);
        if (c != want[k]) return false;
    }
    return true;
}

#if defined(__SSE2__)
template <class T>
inline __m128i splat(u32 v) {
    if constexpr (sizeof(T) == 1) return _mm_set1_epi8(char(v));
    else if constexpr (sizeof(T) == 2) return _mm_set1_epi16(short(v));
    else return _mm_set1_epi32(int(v));
}
template <class T>
inline __m128i equal(__m128i x, __m128i y) {
    if constexpr (sizeof(T) == 1) return _mm_cmpeq_epi8(x, y);
    else if constexpr (sizeof(T) == 2) return _mm_cmpeq_epi16(x, y);
    else return _mm_cmpeq_epi32(x, y);
}
#endif

// The first unit from s (before end) equal to a or b, or end. Both lie on unit boundaries.
template <class T>
const u8* scan_units(const u8* s, const u8* end, u32 a, u32 b) {
#if defined(__SSE2__)
    const __m128i va = splat<T>(a), vb = splat<T>(b);
    while (end - s >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        int mask = _mm_movemask_epi8(_mm_or_si128(equal<T>(v, va), equal<T>(v, vb)));
        // Every byte of an equal unit is marked, so the lowest mark starts a unit.
        if (mask) return s + __builtin_ctz(unsigned(mask));
        s += 16;
    }
#endif
    for (; s < end; s += sizeof(T)) {
        u32 c = load<T>(s);
        if (c == a || c == b) return s;
    }
    return end;
}

template <class T>
i64 forward(const u8* data, i64 from, i64 last, const u32* want, size_t m, bool case_sensitive) {
    constexpr size_t W = sizeof(T);
    const u8* end = data + size_t(last + 1) * W;
    const u8* s = data + size_t(from) * W;
    u32 a, b;
    if (case_sensitive) {
        if (want[0] > max_unit<T>) return -1;
        a = b = want[0];
        if constexpr (W == 1) {
            // A run of bytes: memmem, which does not fall back to comparing at every
            // candidate when the text repeats the run's start.
            constexpr size_t kMax = 64;
            if (m >= 2 && m <= kMax) {
                u8 needle[kMax];
                size_t k = 0;
                while (k < m && want[k] <= 0xFF) needle[k] = u8(want[k]), ++k;
                if (k < m) return -1;  // no unit of this text holds that character
                const void* hit = memmem(s, size_t(end - s) + m - 1, needle, m);
                return hit ? static_cast<const u8*>(hit) - data : -1;
            }
        }
    } else if constexpr (W == 1) {
        u8 c[2];
        u32 n = byte_fold_candidates(want[0], c);
        if (n == 0) return -1;
        a = c[0];
        b = c[n - 1];
    } else {
        // Wider text: many characters may fold to the first one, so each is folded.
        u32 first = want[0];
        for (; s < end; s += W)
            if (fold(load<T>(s)) == first && run_here<T, false>(s + W, want + 1, m - 1)) return (s - data) / W;
        return -1;
    }
    while (s < end) {
        if (W == 1 && a == b) {
            const void* hit = std::memchr(s, int(a), size_t(end - s));
            s = hit ? static_cast<const u8*>(hit) : end;
        } else {
            s = scan_units<T>(s, end, a, b);
        }
        if (s >= end) return -1;
        bool found = case_sensitive ? run_here<T, true>(s + W, want + 1, m - 1) : run_here<T, false>(s + W, want + 1, m - 1);
        if (found) return (s - data) / W;
        s += W;
    }
    return -1;
}

template <class T, bool CaseSensitive>
i64 stepping(const u8* data, i64 start, i64 stop, i64 step, const u32* want, size_t m) {
    for (i64 p = start; step > 0 ? p <= stop : p >= stop; p += step)
        if (run_here<T, CaseSensitive>(data + size_t(p) * sizeof(T), want, m)) return p;
    return -1;
}

template <class T>
i64 stepping(const u8* data, i64 start, i64 stop, i64 step, const u32* want, size_t m, bool case_sensitive) {
    return case_sensitive ? stepping<T, true>(data, start, stop, step, want, m)
                          : stepping<T, false>(data, start, stop, step, want, m);
}

}  // namespace

u32 byte_fold_candidates(u32 first, u8 out[2]) {
    // In one-byte text only a letter and its capital fold together: each byte is its own
    // lower case or the capital of one.
    u32 n = 0;
    for (u32 c : {first, case_fold_char(first, true)})
        if (c <= 0xFF && fold(c) == first && (n == 0 || out[0] != c)) out[n++] = u8(c);
    return n;
}

i64 text_find_forward(const u8* data, u32 unit, i64 from, i64 last, const u32* want, size_t m, bool case_sensitive) {
    if (from > last || m == 0) return -1;
    switch (unit) {
        case 1: return forward<u8>(data, from, last, want, m, case_sensitive);
        case 2: return forward<u16>(data, from, last, want, m, case_sensitive);
        default: return forward<u32>(data, from, last, want, m, case_sensitive);
    }
}

i64 text_find_stepping(const u8* data, u32 unit, i64 start, i64 stop, i64 step, const u32* want, size_t m,
                       bool case_sensitive) {
    switch (unit) {
        case 1: return stepping<u8>(data, start, stop, step, want, m, case_sensitive);
        case 2: return stepping<u16>(data, start, stop, step, want, m, case_sensitive);
        default: return stepping<u32>(data, start, stop, step, want, m, case_sensitive);
    }
}

bool text_run_at(const u8* data, u32 unit, i64 p, const u32* want, size_t m, bool case_sensitive) {
    return text_find_stepping(data, unit, p, p, 1, want, m, case_sensitive) == p;
}

}  // namespace kel::dt
