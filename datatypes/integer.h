// integer!: the 32-bit signed integer, its cell helpers and the arithmetic core.
//
// Arithmetic never wraps silently: an add, subtract or multiply whose exact result does not
// fit in 32 bits gives a float! holding the exact double result, an inexact division gives a
// float!, and only the cases without a representable answer raise math/overflow or
// math/zero-divide.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

// Arithmetic operation codes shared by every datatype's arithmetic.
enum MathOp : i32 {
    OP_ADD = 0,
    OP_SUBTRACT = 1,
    OP_MULTIPLY = 2,
    OP_DIVIDE = 3,
    OP_REMAINDER = 4,
    OP_OR = 5,
    OP_AND = 6,
    OP_XOR = 7,
};

// ---- cell helpers ---------------------------------------------------------------------

inline i32 get_integer(const Cell* c) { return i32(c->data2); }
// The current frame's result cell (first argument slot).
i32 result_integer();
i32 result_integer_or_zero();
Cell* box_integer(i32 v);
Cell* make_integer_at(Cell* c, i32 v);
Cell* ks_append_integer(Node block, i32 v);
Cell* push_integer(i32 v);

i32 integer_sign(i32 v);
// math/overflow for -2147483648.
i32 integer_absolute(i32 v);
// Decimal text; valid until the next call.
const char* integer_to_text(i32 v);

// integer-do-math: (left, right, code, result cell or null). Without overflow the result
// replaces the result cell's word 2 (its type is kept) and is answered. An overflowing add,
// subtract or multiply, and an inexact divide, turn the result cell into a float! with the
// double result instead. Divide may be called without a result cell: it then truncates.
i32 integer_do_math(i32 left, i32 right, i32 code, Cell* result);

// integer/do-math: the body of the eight arithmetic and bitwise actions of integer!;
// operands in the first two argument slots, the result replaces the first.
void integer_math(i32 code);

// integer/to (also the body of make): the spec converted, or script/bad-to-arg.
Cell* integer_to(Cell* proto, Cell* spec, u32 type);
// integer/round (the round action of integer!).
Cell* integer_round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                    bool half_ceiling);
// The text of an issue read as 1 to 8 hexadecimal digits; script/invalid-data with the
// issue otherwise.
i32 integer_from_hex_text(const u8* text, u32 length, const Cell* issue);

}  // namespace kel::dt
