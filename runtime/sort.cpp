// Merge sort and quicksort over fixed-width records.
#include "runtime/sort.h"

#include <cstring>

#include "runtime/errors.h"
#include "runtime/fatal.h"

namespace kel::rt {

void swap_bytes(u8* a, u8* b, u32 width) {
    if (a == b) return;
    if ((width & 3) == 0) {
        for (u32 i = 0; i < width; i += 4) {
            u32 x, y;
            std::memcpy(&x, a + i, 4);
            std::memcpy(&y, b + i, 4);
            std::memcpy(a + i, &y, 4);
            std::memcpy(b + i, &x, 4);
        }
    } else {
        for (u32 i = 0; i < width; ++i) {
            u8 t = a[i];
            a[i] = b[i];
            b[i] = t;
        }
    }
}

namespace {

struct Sorter {
    u8* base;
    u32 n;
    u32 w;
    intptr_t w1, w2;
    SortCompareFn cmp;

    u8* rec(u64 i) const { return base + i * w; }
    i32 compare(u64 i, u64 j) const { return cmp(rec(i), rec(j), w1, w2); }

    // Each record from `from` on is swapped backwards while its predecessor is greater.
    void insertion(u32 lo, u32 from, u32 hi) {
        for (u32 i = from; i < hi; ++i)
            for (u32 j = i; j > lo && compare(j - 1, j) > 0; --j) swap_bytes(rec(j - 1), rec(j), w);
    }

    void reverse(u32 lo, u32 hi) {
        while (hi > lo + 1) {
            --hi;
            swap_bytes(rec(lo), rec(hi), w);
            ++lo;
        }
    }
};

// ---- merge sort --------------------------------------------------------------------------

constexpr u32 MIN_RUN = 24;

// The scratch buffer; its destructor frees it.
struct Scratch {
    u8* data = nullptr;
    explicit Scratch(i32 bytes) : data(bytes > 0 ? static_cast<u8*>(heap_allocate(bytes)) : nullptr) {}
    ~Scratch() {
        if (data) heap_free(data);
    }
};

// While a merge runs, `pending` records of the scratch belong in the array at `gap`. If
// the comparator raises, the destructor puts them there, so no record is lost or doubled.
struct MergeGuard {
    u8* gap = nullptr;
    const u8* from = nullptr;
    u64 bytes = 0;
    ~MergeGuard() {
        if (bytes) std::memmove(gap, from, bytes);
    }
};

struct MergeSorter : Sorter {
    u8* scratch;

    // The run from s: ascending (each next >= its predecessor) or strictly descending
    // (reversed in place, so equal records never swap).
    u32 find_run(u32 s) {
        if (s + 1 >= n) return n;
        u32 e = s + 1;
        if (compare(s, s + 1) <= 0) {
            while (e + 1 <= n - 1 && compare(e, e + 1) <= 0) ++e;
            ++e;
        } else {
            while (e + 1 <= n - 1 && compare(e, e + 1) > 0) ++e;
            ++e;
            reverse(s, e);
        }
        return e;
    }

    void merge(u32 s, u32 m, u32 e) {
        if (s >= m || m >= e) return;
        u32 left = m - s, right = e - m;
        MergeGuard guard;
        if (right < left) {
            // Right run to the scratch; merge from the back.
            std::memcpy(scratch, rec(m), u64(right) * w);
            u64 i = m;      // left records remaining: [s, i)
            u64 k = right;  // scratch records remaining: [0, k)
            u64 out = e;    // next write: out - 1
            guard.from = scratch;
            while (k > 0 && i > s) {
                guard.gap = rec(i);
                guard.bytes = k * w;
                // Take the left record only when it is greater: ties keep the right one last.
                if (cmp(rec(i - 1), scratch + (k - 1) * w, w1, w2) > 0) {
                    std::memcpy(rec(out - 1), rec(i - 1), w);
                    --i;
                } else {
                    std::memcpy(rec(out - 1), scratch + (k - 1) * w, w);
                    --k;
                }
                --out;
            }
            if (k) std::memcpy(rec(s), scratch, k * w);
        } else {
            // Left run to the scratch; merge from the front.
            std::memcpy(scratch, rec(s), u64(left) * w);
            u64 k = 0;      // next scratch record
            u64 j = m;      // next right record
            u64 out = s;
            while (k < left && j < e) {
                guard.gap = rec(out);
                guard.from = scratch + k * w;
                guard.bytes = (left - k) * w;
                if (cmp(scratch + k * w, rec(j), w1, w2) <= 0) {
                    std::memcpy(rec(out), scratch + k * w, w);
                    ++k;
                } else {
                    std::memcpy(rec(out), rec(j), w);
                    ++j;
                }
                ++out;
            }
            if (k < left) std::memcpy(rec(out), scratch + k * w, (left - k) * w);
        }
        guard.bytes = 0;
    }

    u32 power(u32 s1, u32 e1, u32 e2) const {
        u64 a = u64(s1) + e1, b = u64(e1) + e2, nn = n;
        u32 p = 0;
        for (;;) {
            if ((a < nn) != (b < nn)) break;
            ++p;
            if (a >= nn) {
                a -= nn;
                b -= nn;
            }
            a *= 2;
            b *= 2;
        }
        return p + 1;
    }

    void sort() {
        struct Entry {
            u32 start, power;
        };
        Entry stack[34];
        u32 top = 0;
        u32 s1 = 0;
        u32 e1 = extend(s1, find_run(s1));
        while (e1 < n) {
            u32 e2 = extend(e1, find_run(e1));
            u32 p = power(s1, e1, e2);
            while (top > 0 && stack[top - 1].power > p) {
                --top;
                merge(stack[top].start, s1, e1);
                s1 = stack[top].start;
            }
            stack[top++] = {s1, p};
            s1 = e1;
            e1 = e2;
        }
        while (top > 0) {
            --top;
            merge(stack[top].start, s1, n);
            s1 = stack[top].start;
        }
    }

    // A short run grows to MIN_RUN records (or the end) by insertion.
    u32 extend(u32 s, u32 e) {
        if (e - s >= MIN_RUN || e >= n) return e;
        u32 end = s + MIN_RUN < n ? s + MIN_RUN : n;
        insertion(s, e, end);
        return end;
    }
};

// ---- quicksort ---------------------------------------------------------------------------

struct QuickSorter : Sorter {
    // Three-way partition of [lo, hi) around a median-of-three pivot; recursion on the
    // smaller side; heap sort when the depth budget runs out (adversarial input).
    void rec_sort(u32 lo, u32 hi, u32 depth) {
        while (hi - lo >= 8) {
            if (depth == 0) {
                heap_sort(lo, hi);
                return;
            }
            --depth;
            u32 mid = lo + (hi - lo) / 2;
            // Order lo, mid, hi-1; the median goes to lo as the pivot.
            if (compare(mid, lo) < 0) swap_bytes(rec(mid), rec(lo), w);
            if (compare(hi - 1, mid) < 0) {
                swap_bytes(rec(hi - 1), rec(mid), w);
                if (compare(mid, lo) < 0) swap_bytes(rec(mid), rec(lo), w);
            }
            swap_bytes(rec(lo), rec(mid), w);
            // Dijkstra partition: [lo, lt) < pivot, [lt, i) == pivot, (gt, hi) > pivot.
            // The pivot record moves with the equal block, and every cursor stays in range
            // whatever the comparator answers.
            u32 lt = lo, i = lo + 1, gt = hi;
            while (i < gt) {
                i32 c = compare(i, lt);
                if (c < 0) {
                    swap_bytes(rec(i), rec(lt), w);
                    ++lt;
                    ++i;
                } else if (c > 0) {
                    --gt;
                    swap_bytes(rec(i), rec(gt), w);
                } else {
                    ++i;
                }
            }
            if (lt - lo < hi - gt) {
                rec_sort(lo, lt, depth);
                lo = gt;
            } else {
                rec_sort(gt, hi, depth);
                hi = lt;
            }
        }
        insertion(lo, lo + 1, hi);
    }

    void sift(u32 lo, u32 root, u32 count) {
        for (;;) {
            u32 child = 2 * root + 1;
            if (child >= count) return;
            if (child + 1 < count && compare(lo + child, lo + child + 1) < 0) ++child;
            if (compare(lo + root, lo + child) >= 0) return;
            swap_bytes(rec(lo + root), rec(lo + child), w);
            root = child;
        }
    }

    void heap_sort(u32 lo, u32 hi) {
        u32 count = hi - lo;
        for (u32 i = count / 2; i-- > 0;) sift(lo, i, count);
        for (u32 end = count; end-- > 1;) {
            swap_bytes(rec(lo), rec(lo + end), w);
            sift(lo, 0, end);
        }
    }

    // Presorted input: answers true when the array was found sorted (descending input is
    // reversed). One comparison per 97 records samples the rest after the leading run.
    bool presorted() {
        u32 i = 1;
        i32 dir = 0;
        for (; i < n; ++i) {
            i32 c = compare(i - 1, i);
            if (c == 0) continue;
            i32 d = c < 0 ? 1 : -1;
            if (dir == 0) dir = d;
            else if (d != dir) break;
        }
        if (i >= n) {
            if (dir < 0) reverse(0, n);  // non-increasing reversed is non-decreasing
            return true;
        }
        return false;
    }

    void sort() {
        if (presorted()) return;
        u32 depth = 2;
        for (u32 m = n; m > 1; m >>= 1) depth += 2;
        rec_sort(0, n, depth);
    }
};

}  // namespace

void merge_sort(u8* base, u32 n, u32 width, intptr_t word1, intptr_t word2, SortCompareFn cmp) {
    if (n < 2) return;
    u64 scratch_bytes = u64(width) * (n / 2);
    if (scratch_bytes > 0x7FFFFFFF) raise_error(Err::script_too_long);
    Scratch scratch{i32(scratch_bytes)};
    MergeSorter s;
    s.base = base;
    s.n = n;
    s.w = width;
    s.w1 = word1;
    s.w2 = word2;
    s.cmp = cmp;
    s.scratch = scratch.data;
    s.sort();
}

void quick_sort(u8* base, u32 n, u32 width, intptr_t word1, intptr_t word2, SortCompareFn cmp) {
    if (n < 2) return;
    QuickSorter s;
    s.base = base;
    s.n = n;
    s.w = width;
    s.w1 = word1;
    s.w2 = word2;
    s.cmp = cmp;
    if (n < 8) {
        s.insertion(0, 1, n);
        return;
    }
    s.sort();
}

}  // namespace kel::rt
