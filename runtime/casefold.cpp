// Case mapping and display width.
#include "runtime/casefold.h"

#include "runtime/errors.h"
#include "runtime/memory.h"

namespace kel::rt {

namespace detail {
i32 g_upper_table[0x10000];
i32 g_lower_table[0x10000];

u32 case_fold_astral(u32 cp, bool upper) {
    const CodePair* list = upper ? g_upper_pairs_astral : g_lower_pairs_astral;
    u32 n = upper ? g_upper_pairs_astral_count : g_lower_pairs_astral_count;
    if (n == 0 || cp < list[0].from || cp > list[n - 1].from) return cp;
    for (u32 i = 0; i < n; ++i) {
        if (list[i].from > cp) break;
        if (list[i].from == cp) return list[i].to;
    }
    return cp;
}
}  // namespace detail

void init_case_folding() {
    static bool done = false;
    if (done) return;
    done = true;
    for (u32 i = 0; i < g_upper_pairs_count; ++i) detail::g_upper_table[g_upper_pairs[i].from] = i32(g_upper_pairs[i].to);
    for (u32 i = 0; i < g_lower_pairs_count; ++i) detail::g_lower_table[g_lower_pairs[i].from] = i32(g_lower_pairs[i].to);
}

namespace {
// The pair lists are constant data, so the tables can be filled before main.
const bool g_folding_ready = (init_case_folding(), true);
}  // namespace

u32 upper_case_char(u32 cp) { return case_fold_char(cp, true); }

u32 other_case_char(u32 cp) {
    u32 up = case_fold_char(cp, true);
    return up != cp ? up : case_fold_char(cp, false);
}

bool in_interval_table(u32 cp, const CodeRange* table, u32 count) {
    if (count == 0 || cp < table[0].first || cp > table[count - 1].last) return false;
    // Binary search: the tables are sorted and disjoint.
    u32 lo = 0, hi = count;
    while (lo < hi) {
        u32 mid = (lo + hi) / 2;
        if (table[mid].last < cp) lo = mid + 1;
        else hi = mid;
    }
    return lo < count && table[lo].first <= cp;
}

i32 char_width(u32 cp) {
    if (cp == 0) return 0;
    if (cp < 32 || (cp >= 127 && cp < 160)) return 1;
    if (cp < 0x300) return 1;
    if (in_interval_table(cp, g_zero_width_ranges, g_zero_width_ranges_count)) return 0;
    if (in_interval_table(cp, g_wide_ranges, g_wide_ranges_count)) return 2;
    return 1;
}

i32 char_width_cjk(u32 cp) {
    if (in_interval_table(cp, g_ambiguous_ranges, g_ambiguous_ranges_count)) return 2;
    return char_width(cp);
}

}  // namespace kel::rt
