// Character data tables generated from the Unicode character database
// (tools/gen_unicode_tables.py writes runtime/unicode_tables.cpp).
#pragma once
#include "runtime/types.h"

namespace kel::rt {

struct CodePair {
    u32 from;
    u32 to;
};
struct CodeRange {
    u32 first;
    u32 last;
};

// Simple case mappings, sorted by source code point: below 0x10000 and above it.
extern const CodePair g_upper_pairs[];
extern const u32 g_upper_pairs_count;
extern const CodePair g_lower_pairs[];
extern const u32 g_lower_pairs_count;
extern const CodePair g_upper_pairs_astral[];
extern const u32 g_upper_pairs_astral_count;
extern const CodePair g_lower_pairs_astral[];
extern const u32 g_lower_pairs_astral_count;

// Display-width intervals, sorted and disjoint.
extern const CodeRange g_zero_width_ranges[];
extern const u32 g_zero_width_ranges_count;
extern const CodeRange g_wide_ranges[];
extern const u32 g_wide_ranges_count;
extern const CodeRange g_ambiguous_ranges[];
extern const u32 g_ambiguous_ranges_count;

}  // namespace kel::rt
