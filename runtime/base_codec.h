// Base-2, base-16, base-58 and base-64 text encodings of bytes.
//
// Encoders write into a caller's buffer sized by the matching *_size function and answer
// the address after the last character written. Decoders read characters of 1, 2 or 4
// bytes (a string buffer's units) and answer false on any invalid input, leaving `out`
// empty: they never give part of a value. In every decoder ";" starts a comment that runs
// to the next line feed.
#pragma once
#include <cstddef>
#include <vector>

#include "runtime/types.h"

namespace kel::rt {

// The value of a hexadecimal digit of either case, -1 for any other character.
inline i32 hex_digit_value(u32 c) {
    if (c >= '0' && c <= '9') return i32(c - '0');
    if (c >= 'a' && c <= 'f') return i32(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return i32(c - 'A' + 10);
    return -1;
}

// ---- encoders ---------------------------------------------------------------------------

// 8 characters "0"/"1" per byte, most significant bit first.
inline size_t base2_size(size_t n) { return n * 8; }
char* encode_base2(const u8* bytes, size_t n, char* out);

// 2 upper-case hexadecimal digits per byte.
inline size_t base16_size(size_t n) { return n * 2; }
char* encode_base16(const u8* bytes, size_t n, char* out);

// Standard base-64 with "=" padding, no line breaks.
inline size_t base64_size(size_t n) { return (n + 2) / 3 * 4; }
char* encode_base64(const u8* bytes, size_t n, char* out);

// Base-58 (alphabet without 0, I, O and l); each leading zero byte gives one "1". The size
// is an upper bound.
inline size_t base58_size(size_t n) { return n * 138 / 100 + 2; }
char* encode_base58(const u8* bytes, size_t n, char* out);

// ---- decoders ---------------------------------------------------------------------------

// Characters up to 32 are skipped; "0"/"1" are bits, 8 to a byte; an incomplete last byte
// fails.
bool decode_base2(const void* chars, size_t count, u32 unit, std::vector<u8>& out);
// Characters up to 32 are skipped; two hexadecimal digits make a byte; an odd count fails.
bool decode_base16(const void* chars, size_t count, u32 unit, std::vector<u8>& out);
// The characters 8, 9, 10, 12, 13, 32 and "'" are skipped; "=" ends the data and must end
// a group of 2 or 3 characters (only padding may follow it); a final group without its
// padding fails.
bool decode_base64(const void* chars, size_t count, u32 unit, std::vector<u8>& out);
// The same skip set; each leading "1" gives one zero byte.
bool decode_base58(const void* chars, size_t count, u32 unit, std::vector<u8>& out);

// The decoder of `base` (2, 16, 58 or 64); another base fails.
bool decode_base(u32 base, const void* chars, size_t count, u32 unit, std::vector<u8>& out);

}  // namespace kel::rt
