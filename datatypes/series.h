// series!: the abstract parent of every series datatype, and the helpers that every series
// module shares.
//
// A series value is a cell whose data1 is the head index in units (signed; it may lie
// beyond the tail after the buffer shrank), data2 the node of its buffer and data3 a
// type-specific word (a hash!'s table, a vector!'s element type). The handlers here work on
// any series by unit width alone and look at the concrete type only where an element must
// become a value (pick, poke, random) or where a hash! must keep its index in step.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

namespace kel::dt {

// ---- type families --------------------------------------------------------------------

// block!, paren!, the path kinds and hash!: buffers of value cells.
inline bool is_cell_series_type(u32 t) {
    return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH) || t == T_HASH;
}
inline bool is_path_type(u32 t) { return t >= T_PATH && t <= T_GET_PATH; }
// string!, file!, url!, tag!, email!, ref!: code points in 1-, 2- or 4-byte units.
inline bool is_text_type(u32 t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
// Every value that has a series buffer: what move accepts as a target, and what a deep
// copy copies.
inline bool is_series_type(u32 t) {
    return is_cell_series_type(t) || is_text_type(t) || t == T_BINARY || t == T_VECTOR || t == T_IMAGE;
}

// ---- positions ------------------------------------------------------------------------

inline rt::SeriesBuffer* series_buffer(const Cell* s) { return rt::buffer_of(series_node(s)); }
inline u32 series_shift(const Cell* s) { return rt::unit_shift(series_buffer(s)->unit()); }

// ks-buffer-length?: the units of the whole buffer.
i32 ks_buffer_length(const Cell* s);
// series-tail?: the head lies at or past the tail.
bool series_tail_q(const Cell* s);
// ks-skip: moves the head by n when the new head stays within 0 .. tail; answers true when
// the new position is at or past the tail.
bool ks_skip(Cell* s, i32 n);
// series-length?: the units from the head (from 0 with `whole`) to the tail. A negative
// head counts as 0; a head beyond the tail is pulled back to the tail in `s` and 0 answered.
i32 series_length_q(Cell* s, bool whole);
// The head index clamped to 0 .. total units.
i32 series_clamped_head(const Cell* s);

// ---- change notification --------------------------------------------------------------

// The change events that series-modifying actions report to the owner of an owned series,
// each action word before the change and its past-tense word after it.
enum class Change : u8 {
    random, randomized, move, moved, clear, cleared, poke, poked, remove, removed, reverse, reversed,
    take, taken, append, appended, insert, inserted, change, changed, swap, swaped, trim, trimmed,
    sort, sorted, put, put_ed,
    // Reported once, after the change.
    uppercase, lowercase,
};
// ownership-check: tells the owner of the series about a change (new_value null = none);
// answers true when an owner's handler ran. The past-tense report is made only when the
// first one answered true. Series whose buffer is not marked owned cost one flag test.
bool ownership_check(Cell* series, Change event, const Cell* new_value, i32 index, i32 part);
// Installed by the ownership layer once objects can own series.
extern bool (*g_ownership_check_hook)(Cell* series, Change event, const Cell* new_value, i32 index, i32 part);
// The owner record of a series (reflect's `owned`), null when it has none; and setting it
// from modify's `owned` (none resets, a block binds to the owner its first two values give).
extern Cell* (*g_ownership_owner_hook)(Cell* series);
extern void (*g_ownership_modify_hook)(Cell* series, Cell* value);

// ---- element access by type ----------------------------------------------------------

// vector!'s element boxing and storing, installed by the vector! datatype: get pushes the
// element at `p` as a value; set stores `value` at `p` (the element type already checked).
extern Cell* (*g_vector_get_value)(const u8* p, u32 unit, u32 element_type);
extern void (*g_vector_set_value)(u8* p, const Cell* value, u32 unit);
// vector/to-block: a new block of the vector's values from its head, made in `out`.
extern Cell* (*g_vector_to_block)(const Cell* vector, Cell* out);

// ---- shared handlers ------------------------------------------------------------------

// The series! handlers, for the series datatypes that extend them.
Cell* series_pick(Cell* s, i32 index, Cell* index_cell);
Cell* series_poke(Cell* s, i32 index, Cell* value, Cell* index_cell);
// series/copy: the units of the /part range into `result` (a new series of the source's
// type, head 0, keeping the source's new-line flag).
Cell* series_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* series_remove(Cell* s, Cell* part, Cell* key);
Cell* series_clear(Cell* s);
Cell* series_reverse(Cell* s, Cell* part, Cell* skip);
// series/move: answers the target (the origin when a move inside one buffer is refused).
Cell* series_move(Cell* origin, Cell* target, Cell* part);
Cell* series_random(Cell* s, bool seed, bool secure, bool only);
// series/take: the taken units as a series of the source's type; without /part a
// one-unit series over a shared scratch buffer that the caller reads at once (a type's own
// take turns it into the single value). Answers the none cell when nothing remains.
Cell* series_take(Cell* s, Cell* part, bool deep, bool last);
// That scratch buffer (fixed; the collector marks it as a root).
Node take_scratch();

// The count that a series given as /part measures: it must be of the same type on the
// same buffer as `s` (else script/invalid-refine-arg naming /part); answers its head minus
// the head of `s`.
i32 part_series_count(const Cell* s, const Cell* part);

// script/invalid-refine-arg naming the refinement (/part, /skip, /compare) and its argument.
[[noreturn]] void raise_invalid_refine(rt::RefinementWord refinement, const Cell* arg);

}  // namespace kel::dt
