// string!: text in series buffers of 1-, 2- or 4-byte units holding code points (never
// surrogate pairs).
//
// A buffer starts with 1-byte units and widens in place when a wider character arrives; it
// never narrows (except string_reset). append_char widens a 1-byte buffer from code point
// 128 on; the poke and insert paths keep 128-255 in 1-byte units and widen from 256 on; a
// 2-byte buffer widens at 0x10000.
//
// Every operation that may store may move the buffer: the SeriesBuffer* forms answer the
// buffer to keep using; the Cell* forms re-read it through the node.
#pragma once
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

using rt::SeriesBuffer;

// ---- kinds ------------------------------------------------------------------------------

// string!, file!, url!, tag!, email!, ref!
inline bool is_any_string_type(u32 t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
// The kinds that search and append take as plain text (tag! is written with its brackets).
inline bool is_plain_text_type(u32 t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_EMAIL || t == T_REF;
}

// ---- units ------------------------------------------------------------------------------

inline u32 get_char_at(const u8* p, u32 unit) {
    switch (unit) {
        case 1: return *p;
        case 2: return u32(p[0]) | u32(p[1]) << 8;
        default: { u32 v; __builtin_memcpy(&v, p, 4); return v; }
    }
}
inline void put_char_at(u8* p, u32 unit, u32 cp) {
    switch (unit) {
        case 1: *p = u8(cp); break;
        case 2: p[0] = u8(cp); p[1] = u8(cp >> 8); break;
        default: __builtin_memcpy(p, &cp, 4); break;
    }
}
// The narrowest unit that holds cp on the append path (128 already needs two bytes).
inline u32 append_unit_for(u32 cp) { return cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4; }
// The narrowest unit that holds cp on the poke and insert paths.
inline u32 poke_unit_for(u32 cp) { return cp < 0x100 ? 1 : cp < 0x10000 ? 2 : 4; }

// The head index, a negative one counting as 0.
inline u32 clamped_head(const Cell* str) { return series_head(str) < 0 ? 0 : u32(series_head(str)); }

// ---- construction -----------------------------------------------------------------------

// A new empty string! value with room for `capacity` characters.
Cell* make_string_at(Cell* out, u32 capacity, u32 type = T_STRING);
// The same with a given unit.
Cell* make_string_buffer_at(Cell* out, u32 capacity, u32 unit, u32 type = T_STRING);
// A new empty string! in a new argument-stack slot.
Cell* push_string(u32 capacity);
// A new argument-stack slot holding a copy of a string cell.
Cell* push_string_copy(const Cell* str);
// A new string! holding the code points given (each one stored by the append rule).
Cell* push_string_from(const std::vector<u32>& cps);

// ---- reading ----------------------------------------------------------------------------

// Characters from the head to the tail (0 when the head lies beyond the tail).
u32 string_length(const Cell* str);
// The same, and a head beyond the tail is pulled back to the tail in the cell.
u32 string_length_clamp(Cell* str);
// Characters in the whole buffer, ignoring the head.
u32 ks_abs_length(const Cell* str);
// The code point at character index i from the head.
u32 string_char_at(const Cell* str, u32 i);
// The code point at character index i from the buffer's start.
u32 string_char_at_abs(const Cell* str, u32 i);
// Byte address of the head (a head beyond the tail is pulled back in the cell first).
u8* string_head_ptr(Cell* str);
u8* string_tail_ptr(const Cell* str);
bool string_tail_q(const Cell* str);
// Character index from the head of the first occurrence of cp, or -1.
i32 string_find_char(const Cell* str, u32 cp);
// Whether cp occurs at the head or at every skip-th character after it; case-insensitive
// unless `case_sensitive`.
bool string_find_char_skip(const Cell* str, u32 cp, u32 skip, bool case_sensitive);
// Whether the 8-bit text is a prefix of the string from its head.
bool string_match_c_string_q(const Cell* str, const char* s);
// Whether the character at the head is in the bitset (bits most significant first; past
// the bitset's bits the complement flag answers).
bool string_char_in_bitset_q(const Cell* str, const Cell* bitset);
// Whether the string at its head reads "<" ... ">" around a run of the tag's length.
bool string_tag_at_q(const Cell* str, const Cell* tag);
// The characters from the head (at most `limit` when limit >= 0).
std::vector<u32> string_code_points(const Cell* str, i32 limit = -1);

// ---- writing ----------------------------------------------------------------------------

// append-char: one code point at the tail, widening the buffer when needed.
void append_char(Cell* str, u32 cp);
SeriesBuffer* buffer_append_char(SeriesBuffer* b, u32 cp);
// append-c-string: NUL-terminated 8-bit text (each byte one character).
void append_c_string(Cell* str, const char* s);
// append-c-chars: n bytes as code points.
void append_c_chars(Cell* str, const char* s, u32 n);
// UTF-8 text (well-formed; used for the runtime's own messages and tests).
void append_utf8(Cell* str, const char* s);
// Widens a buffer to unit 2 or 4 (no change when it is already as wide).
SeriesBuffer* string_widen_to(SeriesBuffer* b, u32 unit);
// Stores cp at character index (from the offset); at the tail it appends one unit.
SeriesBuffer* string_poke_char_at(SeriesBuffer* b, u32 index, u32 cp);
// Inserts cp before character index (from the offset).
SeriesBuffer* string_insert_char(SeriesBuffer* b, u32 index, u32 cp);
// The Cell form of string_poke_char_at (index from the buffer's start).
void string_poke_char(Cell* str, u32 index, u32 cp);
// Removes count characters from index (from the offset); nothing at or past the tail.
void string_remove_chars(Cell* str, u32 index, u32 count);
inline void string_remove_range(Cell* str, u32 index) { string_remove_chars(str, index, 1); }
// The /part cut of form and mold: the tail moves back to n units when it lies further.
void truncate_series_at(SeriesBuffer* b, u32 n);
// Empties the buffer, unit 1, head 0.
void string_reset(Cell* str);
// Makes room for `extra` more bytes at the tail (growth at least doubles).
SeriesBuffer* string_reserve(SeriesBuffer* b, u64 extra);
// Moves count characters from the source's head into the target buffer at index (from
// the offset), then removes them from the source (series move between text units).
void string_move_chars(Cell* source, Node target, u32 index, u32 count);

// Concatenation modes.
enum ConcatMode : i32 { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };
// Writes the source's characters from its head (`part` of them when 0 <= part < length)
// into the destination: at its tail, inserted at head + offset, or over it from there.
void string_concatenate(Cell* dst, const Cell* src, i32 part, i32 offset, bool keep_source, i32 mode);
inline void string_concatenate_at(Cell* dst, const Cell* src, i32 part, i32 offset, bool keep, i32 mode) {
    string_concatenate(dst, src, part, offset, keep, mode);
}
inline void string_overwrite(Cell* dst, const Cell* src, i32 part, i32 offset) {
    string_concatenate(dst, src, part, offset, true, CONCAT_OVERWRITE);
}

// ---- comparison -------------------------------------------------------------------------

// -1, 0, 1 (0 = equal) under a compare op code; case-insensitive except op 2 (strict) and
// 8 (case-sensitive sort). With `match` the second operand is matched at the first's head.
i32 compare_string_values(const Cell* a, const Cell* b, i32 op, bool match);
// One step of find and parse: whether `value` matches the string at its head.
bool string_match_value_q(Cell* str, const Cell* value, i32 op);

// ---- loading ----------------------------------------------------------------------------

// A string! from external text: encoding 0 UTF-8, -1 UTF-16LE; `out` null = a new
// argument-stack slot. Another encoding ends the process (exit code 1).
Cell* load_string_at(const u8* bytes, u32 length, Cell* out, i32 encoding);
Cell* load_string(const u8* bytes, u32 length, i32 encoding);
// `to string!` of binary bytes: UTF-8, and on a fault access/invalid-utf8 names every byte
// from the fault to the end.
Cell* string_from_binary_bytes(const u8* bytes, u32 length);

// ---- hexadecimal helpers ----------------------------------------------------------------
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

// The word naming a refinement in error arguments (`part`, `skip`, `compare`); a none
// until words exist.
void refinement_word(const char* name, Cell* out);

// uppercase / lowercase: a char! in place, or a string's characters from its head (at most
// the /part count: an integer!, or a position in the same series). `part` is null without
// /part. Answers the number of characters visited (the caller reports the change to an owner).
i32 change_case(Cell* value, Cell* part, bool upper);

}  // namespace kel::dt
