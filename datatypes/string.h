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

// ---- hexadecimal helpers --------------------------------------------------------------
// Both write into one static area: the text stays valid until the next call of either.

// Two upper-case digits of the low byte.
const char* byte_to_hex(u32 value);
// Eight upper-case digits, the leading places filled with "F" for a negative value and "0"
// otherwise; with `strip` only the significant digits ("1E" for 30, "00" for 0).
const char* int_to_hex(i32 value, bool strip);

// The caret escape of one character, as string and char! mold write it: ^@ ^A ... ^- ^/
// ^" ^^ ^~, ^(1E) for 30 and for 128-159 (for everything above 127 with `all`); any other
// character is appended unchanged.
void append_char_escape(Cell* out, u32 cp, bool all);

}  // namespace kel::dt
