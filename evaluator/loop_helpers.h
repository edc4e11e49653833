// The per-round work of the iteration natives (foreach, remove-each, forall, loop, repeat)
// and of `set` on a block of words.
//
// The loop natives keep their state in their own argument slots (which never move): the
// series cell whose index walks the data, the word or block of words, the start position.
// Each helper reads and updates those cells; none keeps a pointer into a series buffer
// across an allocation.
#pragma once
#include "runtime/cell.h"

namespace kel::ev {

// forall-at-tail (inverted): whether the position lies before the tail; an image! counts
// pixels.
bool forall_before_tail(const Cell* series);

// foreach-check: one round with the n words of `words` (a block): sets them from the next
// elements of `series` and moves its index by n. A map! needs exactly two words (key and
// value) and skips removed entries. Answers false, setting nothing, at the end.
bool foreach_check(Cell* series, const Cell* words, i32 n);

// foreach-next: one round with a single word: set to the element at the position, index
// moved by one. Answers false at the end.
bool foreach_next(Cell* series, const Cell* word);

// foreach-set-words: word i of `words` gets element i of `series` from its index (none
// past the tail), for i from 1 to count.
void foreach_set_words(const Cell* words, const Cell* series, i32 count);

// assign-words: the words of `words` (from its index, `count` of them) receive the elements
// of `values` (a block kind or map!, unless `only`), or `values` itself. Without `any` an
// unset value raises script/need-value; with `some` a none leaves its word unchanged; a
// non-word in the words block raises script/invalid-arg.
void assign_words(const Cell* words, const Cell* values, i32 count, bool any, bool only, bool some);

// remove-each-step: after a round over `n` elements that ended at `series`'s index, removes
// those elements when the body's value is true; the index then stands where they were.
void remove_each_step(Cell* series, i32 n, const Cell* body_value);

// forall-next: re-reads the loop word (which must still hold a series on the same buffer as
// `start`, else script/bad-loop-series), moves it on by one and answers whether it is now at
// its end.
bool forall_next(const Cell* word, const Cell* start);

// loop-count-int: a float! count truncated toward zero (script/out-of-range outside the
// 32-bit range or NaN); an integer! as it is.
i32 loop_count_int(const Cell* count);

}  // namespace kel::ev
