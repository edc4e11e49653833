// typeset!: a set of datatypes held in the cell itself. The three payload words hold 96
// membership bits seen as 12 bytes in memory order: type id n is bit 0x80 >> (n mod 8) of
// byte n / 8 (rt::typeset_has reads it). Scans run over ids 1 to the highest registered id.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

// The value of a word, or null when it has none. The context module installs it; until
// then every word is without value.
extern const Cell* (*g_word_value_hook)(const Cell* word);

void typeset_clear(Cell* ts);
void typeset_set(Cell* ts, u32 type);
// The member types among ids 1 to the highest registered id.
i32 typeset_count(const Cell* ts);
// typeset-add: a word stands for its value (script/no-value without one); a datatype! sets
// its bit, a typeset! is merged, anything else raises script/invalid-arg.
void typeset_add(Cell* ts, const Cell* value);

// Appends a typeset with the three given bit words to a block (serialisation decoder).
Cell* make_typeset_in(Node block, u32 w1, u32 w2, u32 w3);
// Appends the typeset of untyped function arguments: every bit but unset!'s.
Cell* make_any_typeset_in(Node block);
// Appends the typeset of a function-spec type block: words stand for their values; a
// datatype! or typeset! is added, a word! value adds object!, a block! is skipped, anything
// else raises script/invalid-type-spec.
Cell* make_typeset_in_from_spec(Node block, const Cell* spec);
// typeset-do-bitwise: the first two argument slots combined by an operation code (5-7
// bitwise, 8-12 the set operations); the result replaces the first.
void typeset_do_bitwise(i32 code);
// typeset/to-block: a new block of the member datatypes, ids rising, made in `out`.
Cell* typeset_to_block(const Cell* ts, Cell* out);
Cell* push_typeset(const Cell* ts);

}  // namespace kel::dt
