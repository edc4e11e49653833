// Keeping a hash!'s table in step with its block.
//
// A hash! cell carries the node of its table in data3. Every block or series handler that
// edits cells calls these after the edit (the block already holds its new cells); a value
// without a table needs nothing.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

inline bool has_index(const Cell* s) { return type_of(s) == T_HASH && s->data3 != 0; }

// `count` cells were inserted at `index`: the later entries shift and the new cells enter.
void index_inserted(Cell* s, i32 index, i32 count);
// `count` cells were removed at `index`: they leave and the later entries shift.
void index_removed(Cell* s, i32 index, i32 count);
// The cell at `index` was replaced by another value.
void index_replaced(Cell* s, i32 index);
// The `count` cells from `index` were reordered in place (sort, reverse, shuffle, move).
void index_reordered(Cell* s, i32 index, i32 count);
// The keys from `index` to the tail are about to go (clear).
void index_clear_from(Cell* s, i32 index);
// The whole block changed: the table is rebuilt for its length.
void index_rebuild(Cell* s);
// A new table for the cells of `s` from its head, stored in its data3.
void index_build(Cell* s);

}  // namespace kel::dt
