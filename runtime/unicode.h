// Unicode conversion between string buffers (1-, 2- or 4-byte units holding code points,
// never surrogate pairs) and UTF-8 / UTF-16LE.
//
// Validating UTF-8 decoding rejects malformed sequences, overlong forms and surrogates
// (access/invalid-utf8 with a binary! of at most the 4 bytes at the fault); the DFA decoder
// answers -1 instead and leaves the decision to its caller (the lexer).
//
// Text handed to the OS is UTF-8 (Linux), untranslated: no CR LF.
//
// Conversions of a string value write into the value's scratch buffer: the node in the
// cell's third word (data3), made on first use and reused. Its text stays valid until the
// next conversion of the same value or the next collection. The cell passed in must stay
// where it is (on the argument stack or in a rooted series) during the call.
#pragma once
#include <vector>
#include <cstddef>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::rt {

// ---- UTF-8, one character at a time ---------------------------------------------------

// DFA decoder: the pointer after the character; *cp = -1 for a malformed or cut-off
// sequence (the bytes read, the rejecting one included, are consumed). Never reads at or
// beyond `end`.
const u8* utf8_decode_char(const u8* p, const u8* end, i32* cp);
// The code points of UTF-8 bytes that may hold bytes of no valid sequence: such a byte stands
// for itself, or, with `raw_base`, for raw_base + the byte (and so do surrogates' bytes, which
// would come back as other bytes), as file names keep them.
void utf8_code_points_keeping_bytes(const u8* p, const u8* end, std::vector<u32>& out, u32 raw_base = 0);
u32 utf8_count_chars(const u8* start, const u8* end);
const u8* utf8_skip_chars(const u8* start, const u8* end, u32 n);
// 4, 3 or 2 for a lead byte by its top bits, else 0.
u32 utf8_lead_length(u8 byte);
u32 utf8_char_size(u32 cp);  // script/invalid-char above 0x10FFFF
// UTF-8 size of the code points in [start, end) stored in units of `unit` bytes.
u32 utf8_string_size(const u8* start, const u8* end, u32 unit);
u32 utf8_encode_char(u32 cp, u8* out);  // 1-4 bytes; script/invalid-char above 0x10FFFF
// As utf8_encode_char, but writes nothing (answers 0) when the character needs more than
// `room` bytes: a character is never cut.
u32 utf8_encode_char_bounded(u32 cp, u8* out, u32 room);
// Validating decoder: the code point, or -1 when the `remaining` bytes end inside a
// well-formed start of a sequence (the caller keeps them for the next chunk; *consumed is
// 0). *consumed receives the bytes used. Malformed, overlong, surrogate, above 0x10FFFF and
// U+FFFE raise access/invalid-utf8.
i32 utf8_decode_next(const u8* p, u32 remaining, u32* consumed);

// The code point of unit i of a buffer of `unit`-byte units (little-endian).
u32 unit_char_at(const u8* base, u32 unit, u32 i);

// ---- strings to UTF-8 -----------------------------------------------------------------

// The value's scratch buffer with at least `size` bytes; answers its data address. Only
// the string kinds keep one (in data3); other values get a fresh buffer each time.
u8* reuse_output_buffer(Cell* str, u32 size);
// NUL-terminated UTF-8 of the value from its head, in its scratch buffer. *length: in, a
// character limit (negative = up to the tail); out, the byte count without the NUL.
const char* string_to_utf8(Cell* str, i32* length);
// The same; with `crlf` every LF is written as CR LF.
const char* string_to_utf8_len(Cell* str, i32* length, bool crlf);
// Into caller memory (room for utf8_string_size bytes, plus the NUL when asked); answers
// the bytes written without the NUL.
u32 string_to_utf8_into(const Cell* str, u8* dest, i32 limit, bool nul);
// Into at most `room` bytes of caller memory, the NUL included when asked; whole characters
// only. `limit` <= 0 or beyond the length: all. Answers the bytes written without the NUL.
u32 string_to_utf8_bounded(const Cell* str, u8* dest, u32 room, i32 limit, bool nul);

// ---- strings to UTF-16LE --------------------------------------------------------------

// NUL-terminated UTF-16 of the whole value from its head (no line-end translation).
const u16* string_to_utf16(Cell* str);
// *length: in, a character limit (negative = all); out, the units written without the
// terminator. With `crlf` a CR is written before each LF. Script/invalid-char above
// 0x10FFFF.
const u16* string_to_utf16_len(Cell* str, i32* length, bool crlf);
// 2 bytes for every LF and for every code point above 0xFFFF in [start, end).
u32 utf16_extra_size(const u8* start, const u8* end, u32 unit);
// Units written: 1 below 0x10000, 2 (a surrogate pair) up to 0x10FFFF, 0 above.
u32 utf16_encode_char(u32 cp, u16* out);
// Each byte as one unit, then a zero unit.
void ascii_to_utf16(const char* s, u16* out);

// ---- loading into strings -------------------------------------------------------------

// Decodes UTF-8 into the target buffer (replacing its content from its first used unit)
// or, with target 0, into a new unit-1 buffer; widens as wider code points arrive. A
// leading byte-order mark is skipped. With `crlf`, CR LF becomes LF and a lone CR becomes
// LF. Bytes that end inside a character are left undecoded and counted in *remaining.
// Answers the node filled.
Node load_utf8(const u8* bytes, u32 length, Node target, u32* remaining, bool crlf);
Node load_utf8_into(const u8* bytes, u32 length, Cell* str, u32* remaining);
Node load_utf8_new(const u8* bytes, u32 length);
// Decodes `count` UTF-16LE units (any alignment) into the target value's buffer (replacing
// its content) or a new buffer; text null takes them from the target's scratch buffer.
// The unit is the narrowest that holds the text. A surrogate that is not part of a pair
// raises access/invalid-utf8 with the offending units. With `crlf` every CR is dropped.
Node load_utf16le(const void* text, u32 count, Cell* target, bool crlf);

// ---- widening in place (the buffer may move; use the one answered) --------------------

SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* b);
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* b);
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* b);
// Copies n characters stored in `from_unit`-byte units into `to_unit`-byte units (not
// narrower); the two ranges may be one.
void copy_text_units(u8* to, u32 to_unit, const u8* from, u32 from_unit, size_t n);

}  // namespace kel::rt
