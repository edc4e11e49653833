// Matching one rule value against parse input, by the input's kind.
//
// The engine (parse.cpp) knows positions and rules; these helpers know how a kind of input
// holds its units: text (code points in 1-, 2- or 4-byte units), binary (bytes) and blocks
// (value cells). Binary input and bitset rules each go through the few functions marked
// below, so those kinds stay in one place.
#pragma once
#include "runtime/cell.h"

namespace kel::ev::parse {

enum class InputKind : u8 { text, binary, block };
InputKind input_kind(u32 type);

// Units matched when `rule` (a literal value) matches the input at `idx` (0 .. end), or -1.
// `strict` compares text case-sensitively.
i32 match_literal(const Cell* input, i32 idx, i32 end, const Cell* rule, bool strict);

// Searches the literal from idx up to end: the index of the first match and its length in
// *len, or -1. A value the input kind cannot search raises script/parse-rule.
i32 find_literal(const Cell* input, i32 idx, i32 end, const Cell* rule, bool strict, i32* len);

// Matching by type (a datatype! or typeset! rule): units consumed, or -1. Text input raises
// script/parse-unsupported.
i32 match_type(const Cell* input, i32 idx, i32 end, const Cell* rule);

// Counts repeated matches of one literal from idx, at most max (-1 unbounded) times:
// answers the count and stores the index after the last match in *after.
i32 repeat_literal(const Cell* input, i32 idx, i32 end, const Cell* rule, bool strict, i32 max, i32* after);

// The element at idx as a value: a char! for text, an integer! byte for binary, the cell
// itself for blocks.
void element_at(const Cell* input, i32 idx, Cell* out);

// ---- binary and bitset hooks -------------------------------------------------------------

// Whether code point (or byte) cp is in the bitset; past its bits the complement flag answers.
bool bitset_has(const Cell* bitset, u32 cp);

}  // namespace kel::ev::parse
