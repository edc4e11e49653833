// The string! action handlers shared between the string modules (and the kinds that
// inherit them).
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

Cell* string_append(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append);
Cell* string_insert(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append);
Cell* string_change(Cell* series, Cell* value, i32 part, bool only, i32 dup);
Cell* string_find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                  Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* string_select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                    Cell* skip, bool last, bool reverse);
Cell* string_sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                  bool stable);
Cell* string_swap(Cell* s1, Cell* s2);
Cell* string_take(Cell* series, Cell* part, bool deep, bool last);
Cell* string_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

// The first start from `from` to `last` in one-byte text of the run `want` (m code points,
// the first ASCII; folded to lower case unless case_sensitive); -1 when there is none.
i64 find_forward_bytes(const u8* data, i64 from, i64 last, const u32* want, size_t m, bool case_sensitive);

// Appends a value's text at the tail (the body of append; also `to string!` of a block).
// `part` -1 = no /part; dup below 2 appends once. Answers the characters appended.
u32 string_append_value(Cell* series, Cell* value, i32 part, bool only, i32 dup);

// /part as a count or as a position in the same series: the count from the head; another
// value raises script/invalid-refine-arg.
i64 series_part_count(const Cell* series, const Cell* part);
// The step of find's /skip (1 without it); below 1 raises script/out-of-range.
i64 find_step(const Cell* skip);
// The records that sort's /skip, /compare and /all ask for over n units: the record size,
// the unit compared without /all, and a /compare function (null when none); raises their
// errors.
struct SortRecords {
    u32 record;
    u32 offset;
    Cell* fn;
};
SortRecords sort_records(i64 n, Cell* skip, Cell* comparator, bool all);

// unique (8), union (9), intersect (10), exclude (11), difference (12) on the first two
// argument slots; the result replaces the first. `skip` null = records of 1.
void string_set_operation(i32 op, bool case_, Cell* skip);

}  // namespace kel::dt
