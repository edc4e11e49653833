// Case mapping and display width of code points.
//
// Case mapping below 0x10000 is one load from a 65,536-entry table per direction (0 = maps
// to itself); above, a short sorted pair list is searched. The tables are the simple
// (one-to-one) mappings of the Unicode database; the lower table is not derived from the
// upper one.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"
#include "runtime/unicode_tables.h"

namespace kel::rt {

// Builds both tables (idempotent; also done before main, so folding works from the start).
void init_case_folding();

namespace detail {
extern i32 g_upper_table[0x10000];
extern i32 g_lower_table[0x10000];
u32 case_fold_astral(u32 cp, bool upper);
}  // namespace detail

// The upper (upper = true) or lower mapping of a code point; unmapped code points map to
// themselves.
inline u32 case_fold_char(u32 cp, bool upper) {
    if (cp < 0x10000) {
        i32 m = (upper ? detail::g_upper_table : detail::g_lower_table)[cp];
        return m ? u32(m) : cp;
    }
    return detail::case_fold_astral(cp, upper);
}
u32 upper_case_char(u32 cp);
// The upper mapping when it differs from the code point, else the lower mapping.
u32 other_case_char(u32 cp);


// Console columns of a code point: 0 for NUL and the zero-width marks, 1 for the other
// controls, 2 for East Asian wide and fullwidth characters, else 1.
i32 char_width(u32 cp);
// The same, counting the East Asian ambiguous characters as wide.
i32 char_width_cjk(u32 cp);
bool in_interval_table(u32 cp, const CodeRange* table, u32 count);

}  // namespace kel::rt
