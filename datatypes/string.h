// string! core: building text in string buffers of 1-, 2- or 4-byte units.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

// A new empty string! value with room for `capacity` characters.
Cell* make_string_at(Cell* out, u32 capacity, u32 type = T_STRING);
Cell* push_string(u32 capacity);
// append-char: one code point at the tail, widening the buffer when needed.
void append_char(Cell* str, u32 cp);
// append-c-string: NUL-terminated 8-bit text (each byte one character).
void append_c_string(Cell* str, const char* s);
// The characters from the head to the tail.
u32 string_length(const Cell* str);
// The code point at character index i from the head.
u32 string_char_at(const Cell* str, u32 i);

}  // namespace kel::dt
