// bitset!: a growable array of bits over a byte series (head 0), bit i in byte i / 8 under
// the mask 0x80 >> (i % 8). A complemented bitset (SB_COMPLEMENT on its buffer) also holds
// every bit at or beyond its stored bytes; stored 1 bits are always members.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::dt {

// A new bitset! of `bytes` zero bytes (0xFF and complemented with `complement`) in `out`.
Cell* make_bitset_at(Cell* out, u32 bytes, bool complement);
// Whether a bit is a member (beyond the stored bytes: the complement flag answers).
bool bitset_has_bit(const Cell* bitset, u64 bit);
bool bitset_complemented(const Cell* bitset);
// The membership of the code points 0..255, in the bitset's own bit order, for byte scans.
void bitset_byte_table(const Cell* bitset, u8 table[32]);

// The set operations on the two argument slots (the first must be a bitset): or~ 5,
// and~ 6, xor~ 7, unique 8, union 9, intersect 10, exclude 11, difference 12. The result
// replaces the first slot.
void bitset_set_operation(i32 code);

}  // namespace kel::dt
