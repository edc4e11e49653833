// char!: a Unicode code point (0 to 0x10FFFF) in word 2 of the cell. Case is never
// folded here: #"a" and #"A" differ for every comparison.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

constexpr u32 MAX_CODE_POINT = 0x10FFFF;

Cell* make_char_in(Node block, u32 cp);
Cell* push_char(u32 cp);
// char-do-math: the body of the eight arithmetic actions of char! (operands in the first
// two argument slots, the result in the first); results stay inside the code-point range.
void char_do_math(i32 code);

}  // namespace kel::dt
