// Merge sort and quicksort over fixed-width records.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include "runtime/sort.h"
#include "support.h"

namespace kel {
namespace {

using namespace rt;

// Records of `width` bytes: a 16-bit key at byte 0, a 16-bit serial number at byte 2
// (widths below 4 hold the key alone).
struct Rec {
    std::vector<u8> bytes;
    u32 width;
    u32 n() const { return u32(bytes.size() / width); }
    u16 key(u32 i) const { u16 k; std::memcpy(&k, &bytes[i * width], 2); return k; }
    u16 serial(u32 i) const { u16 s; std::memcpy(&s, &bytes[i * width + 2], 2); return s; }
};

Rec make_records(u32 n, u32 width, u32 key_range, u32 seed) {
    Rec r{std::vector<u8>(size_t(n) * width, 0xAB), width};
    std::mt19937 gen(seed);
    for (u32 i = 0; i < n; ++i) {
        u16 k = u16(gen() % key_range), s = u16(i);
        std::memcpy(&r.bytes[i * width], &k, 2);
        if (width >= 4) std::memcpy(&r.bytes[i * width + 2], &s, 2);
    }
    return r;
}

i32 by_key(const u8* x, const u8* y, intptr_t descending, intptr_t) {
    u16 a, b;
    std::memcpy(&a, x, 2);
    std::memcpy(&b, y, 2);
    i32 d = i32(a) - i32(b);
    return descending ? -d : d;
}

int g_calls = 0;
i32 counting(const u8* x, const u8* y, intptr_t a, intptr_t b) {
    ++g_calls;
    return by_key(x, y, a, b);
}

using SortFn = void (*)(u8*, u32, u32, intptr_t, intptr_t, SortCompareFn);

struct Algo {
    const char* name;
    SortFn fn;
};
const Algo ALGOS[] = {{"merge", merge_sort}, {"quick", quick_sort}};

TEST(Sort, SortsRandomAndShapedInput) {
    for (const Algo& a : ALGOS) {
        for (u32 width : {2u, 4u, 6u, 16u}) {
            for (u32 n : {0u, 1u, 2u, 7u, 8u, 23u, 24u, 25u, 100u, 1000u, 5000u}) {
                for (u32 range : {3u, 1000u}) {
                    Rec r = make_records(n, width, range, n * 31 + width);
                    a.fn(r.bytes.data(), n, width, 0, 0, by_key);
                    for (u32 i = 1; i < n; ++i) ASSERT_LE(r.key(i - 1), r.key(i)) << a.name << " n=" << n << " w=" << width;
                }
            }
            // Ascending, descending and organ-pipe input.
            for (int shape = 0; shape < 3; ++shape) {
                u32 n = 3000;
                Rec r{std::vector<u8>(size_t(n) * width), width};
                for (u32 i = 0; i < n; ++i) {
                    u16 k = u16(shape == 0 ? i : shape == 1 ? n - i : (i < n / 2 ? i : n - i));
                    std::memcpy(&r.bytes[i * width], &k, 2);
                }
                a.fn(r.bytes.data(), n, width, 0, 0, by_key);
                for (u32 i = 1; i < n; ++i) ASSERT_LE(r.key(i - 1), r.key(i)) << a.name << " shape " << shape;
            }
        }
        // The pass-through word reaches the comparator.
        Rec r = make_records(50, 4, 100, 9);
        a.fn(r.bytes.data(), 50, 4, 1, 0, by_key);
        for (u32 i = 1; i < 50; ++i) ASSERT_GE(r.key(i - 1), r.key(i)) << a.name;
    }
}

TEST(Sort, MergeSortIsStable) {
    for (u32 n : {10u, 24u, 100u, 4000u}) {
        for (bool descending_input : {false, true}) {
            Rec r = make_records(n, 8, 5, n);
            if (descending_input) {
                // Strictly descending keys with equal keys in runs: serials still rise.
                for (u32 i = 0; i < n; ++i) {
                    u16 k = u16((n - i) / 3);
                    std::memcpy(&r.bytes[i * 8], &k, 2);
                }
            }
            merge_sort(r.bytes.data(), n, 8, 0, 0, by_key);
            for (u32 i = 1; i < n; ++i) {
                ASSERT_LE(r.key(i - 1), r.key(i));
                if (r.key(i - 1) == r.key(i)) {
                    ASSERT_LT(r.serial(i - 1), r.serial(i)) << "n=" << n;
                }
            }
        }
    }
}

TEST(Sort, TinyInputsAndNoComparatorCalls) {
    for (const Algo& a : ALGOS) {
        u8 one[4] = {1, 2, 3, 4};
        g_calls = 0;
        a.fn(one, 1, 4, 0, 0, counting);
        a.fn(one, 0, 4, 0, 0, counting);
        EXPECT_EQ(g_calls, 0) << a.name;
    }
    // Seven records: insertion only, at most n(n-1)/2 comparisons.
    Rec r = make_records(7, 4, 100, 3);
    g_calls = 0;
    quick_sort(r.bytes.data(), 7, 4, 0, 0, counting);
    EXPECT_LE(g_calls, 21);
}

TEST(Sort, DescendingInputIsNotQuadratic) {
    for (const Algo& a : ALGOS) {
        u32 n = 10000;
        Rec r{std::vector<u8>(size_t(n) * 4), 4};
        for (u32 i = 0; i < n; ++i) {
            u16 k = u16(n - i);
            std::memcpy(&r.bytes[i * 4], &k, 2);
        }
        g_calls = 0;
        a.fn(r.bytes.data(), n, 4, 0, 0, counting);
        EXPECT_LT(g_calls, 3 * i32(n)) << a.name;
        for (u32 i = 1; i < n; ++i) ASSERT_LE(r.key(i - 1), r.key(i));
    }
}

TEST(Sort, SwapBytesByWordsAndBytes) {
    u8 a[6] = {1, 2, 3, 4, 5, 6}, b[6] = {7, 8, 9, 10, 11, 12};
    swap_bytes(a, b, 6);
    EXPECT_EQ(a[5], 12);
    EXPECT_EQ(b[0], 1);
    u8 c[16], d[16];
    for (int i = 0; i < 16; ++i) c[i] = u8(i), d[i] = u8(100 + i);
    swap_bytes(c, d, 16);
    EXPECT_EQ(c[15], 115);
    EXPECT_EQ(d[15], 15);
}

// Every serial once: the sort only permuted records.
void expect_permutation(const Rec& r, u32 n) {
    std::vector<u16> serials;
    for (u32 i = 0; i < n; ++i) serials.push_back(r.serial(i));
    std::sort(serials.begin(), serials.end());
    for (u32 i = 0; i < n; ++i) ASSERT_EQ(serials[i], i);
}

int g_budget = 0;
i32 raising(const u8* x, const u8* y, intptr_t, intptr_t) {
    if (--g_budget < 0) throw std::runtime_error("comparator failed");
    return by_key(x, y, 0, 0);
}

TEST(Sort, RaisingComparatorKeepsEveryRecord) {
    for (const Algo& a : ALGOS) {
        for (int budget : {0, 1, 10, 50, 200, 1000, 3000}) {
            u32 n = 600;
            Rec r = make_records(n, 8, 50, u32(budget) + 5);
            g_budget = budget;
            EXPECT_THROW(a.fn(r.bytes.data(), n, 8, 0, 0, raising), std::runtime_error) << a.name << " " << budget;
            expect_permutation(r, n);
        }
    }
}

std::mt19937 g_chaos(1);
i32 inconsistent(const u8*, const u8*, intptr_t, intptr_t) { return i32(g_chaos() % 3) - 1; }

TEST(Sort, InconsistentComparatorStaysInBounds) {
    // Under AddressSanitizer any read or write outside the records would fail the test.
    for (const Algo& a : ALGOS) {
        for (u32 n : {5u, 9u, 64u, 1000u, 20000u}) {
            Rec r = make_records(n, 4, 1000, n);
            std::vector<u8> heap(r.bytes);  // an exact-size heap copy so overruns are caught
            a.fn(heap.data(), n, 4, 0, 0, inconsistent);
            r.bytes = heap;
            expect_permutation(r, n);
        }
    }
}

}  // namespace
}  // namespace kel
