// Keeping a hash!'s table in step with its block.
//
// A hash! cell carries the node of its table in data3. Every block or series handler that
// edits cells calls these after the edit; each does nothing for a value without a table.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

inline bool has_index(const Cell* s) { return type_of(s) == T_HASH && s->data3 != 0; }

// `count` cells were inserted at `index` (already in the block): shift the later entries
// and enter the new cells.
void index_inserted(Cell* s, i32 index, i32 count);
// `count` cells were removed at `index`: drop them and shift the later entries.
void index_removed(Cell* s, i32 index, i32 count);
// The cell at `index` was replaced: its old entry goes, the new cell is entered.
void index_replaced(Cell* s, i32 index, const Cell* old_cell);
// The cells from `index` on changed wholesale (sort, trim, change): re-index them.
void index_reindex_from(Cell* s, i32 index);
// Forget the keys from `index` to the end.
void index_clear_from(Cell* s, i32 index);
// A run of `count` cells moved from `from` to `to` inside the block.
void index_moved(Cell* s, i32 from, i32 to, i32 count);
// A new table for the cells of `s` from its head (copies, set operations).
void index_build(Cell* s);

}  // namespace kel::dt
