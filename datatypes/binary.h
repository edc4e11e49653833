// binary!: a byte series (a string! cell over a buffer of 1-byte units that never widens).
//
// The primitives here are what the rest of the runtime builds and reads binaries with.
// Every operation that may allocate may move the buffer: re-read it through the node.
#pragma once
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

// ---- construction -------------------------------------------------------------------------

// An empty binary! in `out` with room for `capacity` bytes.
Cell* make_binary_at(Cell* out, u32 capacity);
// A new binary! in a new argument-stack slot holding a copy of n bytes.
Cell* push_binary_copy(const void* bytes, u32 n);
// The same appended at the tail of a block value.
Cell* load_binary_in(const void* bytes, u32 n, Cell* block);

// ---- reading ------------------------------------------------------------------------------

// Bytes from the head to the tail (0 when the head lies beyond it).
u32 binary_length(const Cell* bin);
// Address of the byte at the head (the tail when the head lies beyond it).
u8* binary_head_ptr(const Cell* bin);
// The bytes from the head.
std::vector<u8> binary_bytes(const Cell* bin);

// ---- writing ------------------------------------------------------------------------------

void binary_append_bytes(Cell* bin, const void* bytes, u32 n);
// Inserts n bytes at `offset` from the head; answers the address written.
u8* binary_insert_bytes(Cell* bin, u32 offset, const void* bytes, u32 n);
// Four bytes, most significant first.
void binary_append_int32_be(Cell* bin, u32 value);
// The byte an integer! or char! stands for (its low byte); another value is
// script/invalid-arg.
u8 binary_value_to_byte(const Cell* value);

// ---- matching -----------------------------------------------------------------------------

// The comparison core: -1, 0, 1, or -2 when `value` is neither a text kind nor a binary!.
// Text is compared as its UTF-8 bytes. With `match` the value is matched at the head
// (0 = a match).
i32 binary_compare_value(const Cell* bin, const Cell* value, i32 op, bool match);
// Whether the byte at the head is in the bitset (false at the tail).
bool binary_byte_in_bitset_q(const Cell* bin, const Cell* bitset);
// One step of parse on binary input: whether the value matches at the head.
bool binary_match_value_q(const Cell* bin, const Cell* value);

// ---- base encodings -----------------------------------------------------------------------

// Decodes the text of a string kind from its head in base 2, 16, 58 or 64 into a new
// binary! pushed on the argument stack; answers null (nothing pushed) on invalid text.
Cell* push_debase(const Cell* text, u32 base);
// Encodes the bytes of a binary! from its head as a new string! pushed on the argument
// stack (base 2, 16, 58 or 64; another base answers null).
Cell* push_enbase(const Cell* bin, u32 base);

}  // namespace kel::dt
