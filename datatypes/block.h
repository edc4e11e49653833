// block!: a window (the head index) on a buffer of 16-byte value cells.
//
// This header is the cell-level layer that the whole runtime uses to build and walk blocks
// (accessors, constructors, insertion that keeps a hash! index in step, copies, lookups,
// the element-wise comparison and the sort comparators), and the block! handlers that
// paren!, the path kinds and hash! inherit.
//
// Positions are cell indexes. Anything that may allocate may move a buffer: functions that
// answer a Cell* into a buffer answer it for immediate use only.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

// ---- accessors (none raises an error) --------------------------------------------------

// ks-length?: cells from the head to the tail; negative when the head lies beyond the tail.
i32 ks_length_q(const Cell* b);
// ks-next: moves the head by one when that stays at or before the tail; answers true when
// the head then is the tail.
bool ks_next(Cell* b);
// ks-head: the head cell; a head beyond the tail is first pulled back to the tail in `b`.
Cell* ks_head(Cell* b);
Cell* ks_tail(const Cell* b);
bool ks_tail_q(const Cell* b);
// ks-abs-at: cell i from the buffer start.
Cell* ks_abs_at(const Cell* b, i32 i);
// ks-clear: the tail moves to the head.
void ks_clear(Cell* b);
// ks-set-tail: the tail moves to cell n.
void ks_set_tail(Cell* b, i32 n);
// ks-remove-last: drops the last cell of the buffer, if any; a head then beyond the tail is
// pulled back.
void ks_remove_last(Cell* b);
// ks-append: a copy of `value` in a new cell at the tail (the buffer doubles when full);
// answers the new cell.
Cell* ks_append(Cell* b, const Cell* value);
// ks-append-range: copies of the source's cells from its head to its tail.
void ks_append_range(Cell* target, const Cell* source);

// ---- constructors ---------------------------------------------------------------------

// make-block-at: `c` becomes an empty block! over a new buffer of n cells (n < 0: 1).
Cell* make_block_at(Cell* c, i32 n);
// make-block-at-2: as make_block_at; with `fixed` the buffer is a fixed one (never moved
// by the collector), else its n cells are all unset.
Cell* make_block_at_2(Cell* c, i32 n, bool fixed);
// make-block-in: a new block in a new cell at the parent's tail, or in the root slot when
// `parent` is null. make-block-in-2: the same over a fixed buffer.
Cell* make_block_in(Cell* parent, i32 n);
Cell* make_block_in_2(Cell* parent, i32 n);
// The root slot that make-block-in fills when it has no parent; the collector marks it.
extern Cell g_root_slot;
// push-block: a copy of the block cell on the argument stack.
Cell* push_block(const Cell* b);
// push-new-block: a new empty block with room for n cells (0 gives 1) on the stack.
Cell* push_new_block(i32 n);

// ---- cell insertion -------------------------------------------------------------------

// ks-insert-value: one cell at the head (at the buffer start with `at_start`), the later
// cells moving up; with `advance` the head moves past the new cell. A hash! enters it.
void ks_insert_value(Cell* b, const Cell* value, bool advance, bool at_start);
// insert-block-cells: every cell of the source from its head, in order, each advancing.
void insert_block_cells(Cell* target, const Cell* source);
// The stack forms: the value in the slot just after `block` on the argument stack is
// inserted (advancing) or appended.
void insert_top_into_block(Cell* block);
void append_top_to_block(Cell* block);
// append-result-to-block: the current result slot appended to `block`.
void append_result_to_block(Cell* block);

// ---- lookups --------------------------------------------------------------------------

// select-word-in-block: the cell after the first word-kind cell naming the word's symbol
// (without `case_` also any spelling that differs in case); the none cell when there is
// none or the match is last.
Cell* select_word_in_block(Cell* b, const Cell* word, bool case_);
// block-select-value: the cell after the first cell equal to the value (put equality).
Cell* block_select_value(Cell* b, Cell* value);
// block-remove-value: removes the first cell equal to the value (from the head, or from
// the buffer start with `from_start`); true when the removed cell's index was at or
// before the head.
bool block_remove_value(Cell* b, Cell* value, bool from_start);

// ---- copies ---------------------------------------------------------------------------

// clone-block: pushes a new block (the source's type, no flags) holding copies of the cells
// from the head; with `deep` every block! cell, with `paths` also every paren! and path
// cell, is a deep clone keeping its header. Other series are shared.
Cell* clone_block(const Cell* b, bool deep, bool paths);
// find-value-in-cells: in cells [from, to) of `b` by `step`, every cell whose type is the
// datatype or in the typeset `types` and that has a copy (series and object-like values)
// is replaced by its copy (deep with `deep`).
void find_value_in_cells(Cell* b, i32 from, i32 to, i32 step, bool deep, Cell* types);

// ---- comparison -----------------------------------------------------------------------

// compare-each: the element-wise comparison behind every block comparison.
i32 compare_each(Cell* b1, Cell* b2, i32 op);
// Flags of the record comparators: bit 0 reverse, bit 1 all fields, bits 2 and up a count.
constexpr u32 SORT_REVERSE = 1;
constexpr u32 SORT_ALL = 2;
// sort-compare-records: the default comparator of block sorting.
i32 sort_compare_records(const Cell* a, const Cell* b, i32 op, u32 flags);
// sort-call-comparator: the comparator for a function given to sort's /compare.
i32 sort_call_comparator(const Cell* a, const Cell* b, Cell* fn, u32 flags);
// A /compare function's answer (later record first) as a comparator result.
i32 sort_comparator_answer(const Cell* answer);

// ---- handlers -------------------------------------------------------------------------

Cell* block_make(Cell* proto, Cell* spec, u32 type);
Cell* block_to(Cell* proto, Cell* spec, u32 type);
i32 block_form(Cell* value, Cell* out, Cell* part, i32 limit);
i32 block_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent);
// mold-block-items: the layout of every block-like mold, without the brackets.
i32 mold_block_items(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent);
// The mold of a block kind between its two brackets (none with `only`); a block met again
// inside itself molds as its marker ("[...]", "(...)").
i32 mold_bracketed(Cell* value, Cell* out, char open, char close, bool only, bool all, bool flat, Cell* part,
                   i32 limit, i32 indent);
Cell* block_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                      bool case_, bool get, bool tail);
i32 block_compare(Cell* v1, Cell* v2, i32 op);
Cell* block_find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                 Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* block_select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                   Cell* skip, bool last, bool reverse);
Cell* block_put(Cell* series, Cell* key, Cell* value, bool case_);

Cell* block_insert(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append);
Cell* block_change(Cell* series, Cell* value, i32 part, bool only, i32 dup);
Cell* block_take(Cell* series, Cell* part, bool deep, bool last);
Cell* block_swap(Cell* s1, Cell* s2);
Cell* block_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Cell* block_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* block_sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                 bool stable);

// Set operation codes.
enum SetOp : i32 { SET_UNIQUE = 8, SET_UNION = 9, SET_INTERSECT = 10, SET_EXCLUDE = 11, SET_DIFFERENCE = 12 };
// block-set-operation: the two arguments sit at the stack's result cell and the cell after
// it; the result replaces the first.
void block_set_operation(bool case_, Cell* skip, i32 op);

// ---- path kinds and paren! ------------------------------------------------------------

// push-path and its kin: the cell takes the kind and a copy of it is pushed.
Cell* push_path(Cell* c);
Cell* push_lit_path(Cell* c);
Cell* push_set_path(Cell* c);
Cell* push_get_path(Cell* c);
Cell* push_paren(Cell* c);
// make-path-at: `c` becomes an empty path! over a new buffer of n cells.
Cell* make_path_at(Cell* c, i32 n);

}  // namespace kel::dt
