// Unicode conversion between string buffers (1-, 2- or 4-byte units holding code points,
// never surrogate pairs) and UTF-8 / UTF-16LE.
//
// Validating UTF-8 decoding rejects malformed sequences, overlong forms and surrogates
// (access/invalid-utf8 with a binary! of at most the 4 bytes at the fault); the DFA decoder
// answers -1 instead and leaves the decision to its caller (the lexer).
#pragma once
#include <cstddef>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::rt {

// UTF-8, one character at a time.
const u8* utf8_decode_char(const u8* p, const u8* end, i32* cp);
u32 utf8_count_chars(const u8* start, const u8* end);
const u8* utf8_skip_chars(const u8* start, const u8* end, u32 n);
u32 utf8_lead_length(u8 byte);
u32 utf8_char_size(u32 cp);  // script/invalid-char above 0x10FFFF
u32 utf8_string_size(const u8* start, const u8* end, u32 unit);
u32 utf8_encode_char(u32 cp, u8* out);  // script/invalid-char above 0x10FFFF
u32 utf8_encode_char_bounded(u32 cp, u8* out, u32 room);
// Answers the code point, or -1 when fewer bytes remain than the sequence needs (the
// caller keeps them for the next chunk). `consumed` receives the bytes used.
i32 utf8_decode_next(const u8* p, u32 remaining, u32* consumed);

// Widening in place (the buffer may move; use the one answered).
SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* b);
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* b);
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* b);

}  // namespace kel::rt
