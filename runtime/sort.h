// Sorting arrays of fixed-width records in place: a stable merge sort (natural runs merged
// in powersort order) and an unstable quicksort. Neither knows values: the order comes from
// the comparator, which gets two record addresses and two words passed through unchanged.
//
// A comparator may raise (a C++ exception passes through): the array then still holds
// every record exactly once and the merge sort's scratch is freed. An inconsistent
// comparator gives some order but never makes the sorts read or write outside the array.
#pragma once
#include <cstdint>

#include "runtime/types.h"

namespace kel::rt {

// <= 0: x may stay before y; > 0: x must come after y.
using SortCompareFn = i32 (*)(const u8* x, const u8* y, intptr_t word1, intptr_t word2);

void merge_sort(u8* base, u32 n, u32 width, intptr_t word1, intptr_t word2, SortCompareFn cmp);
void quick_sort(u8* base, u32 n, u32 width, intptr_t word1, intptr_t word2, SortCompareFn cmp);

// Exchanges two records (by words when the width is a multiple of 4).
void swap_bytes(u8* a, u8* b, u32 width);

}  // namespace kel::rt
