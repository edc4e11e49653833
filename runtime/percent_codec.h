// URL-style percent escapes ("%XX") over UTF-8 bytes.
#pragma once
#include <string>

#include "runtime/types.h"

namespace kel::rt {

// The two sets of bytes that are written as they are: the URL-safe set keeps the
// characters that may stand in a url's text; the unreserved set only letters, digits and
// "-._~".
enum class PercentSet { url_safe, unreserved };

// Whether the byte is in the set (written as it is).
bool percent_keeps(PercentSet set, u8 byte);

// Appends the byte itself when it is in the set, else "%" and two upper-case hexadecimal
// digits.
void percent_encode_byte(PercentSet set, u8 byte, std::string& out);

// Whether p[0..2] is "%" followed by two hexadecimal digits (then *byte is their value).
bool percent_decode_byte(const u8* p, const u8* end, u8* byte);

// The characters of UTF-8 text with its escapes decoded: an escaped lead byte takes its
// escaped continuation bytes with it and makes one character; an escaped byte that leads
// no sequence is that code point; a "%" that starts no complete escape stays as it is.
// Escaped bytes that form no valid UTF-8 raise access/invalid-utf8.
std::u32string percent_decode(const u8* p, const u8* end);

}  // namespace kel::rt
