// Text-to-number conversions over the characters of a string value (units of 1, 2 or 4
// bytes). Failure is reported through a status word, which is left untouched on success;
// the calling datatype raises its own error.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::lex {

constexpr i32 SCAN_FAILED = -1;
constexpr i32 SCAN_OVERFLOW = -2;

// scan-integer: an optional "+" or "-", then decimal digits; "'" is skipped anywhere after
// the sign. Another character sets SCAN_FAILED and ends the scan (the digits read so far
// are the result); a text without digits fails too. A value outside 32 bits sets
// SCAN_OVERFLOW ("-2147483648" is the smallest integer).
i32 scan_integer(const void* start, u32 count, u32 unit, i32* status);

// scan-float: the decimal float grammar with "'" separators; "," stands for ".". Texts of
// 313 characters or more fail. Failure sets SCAN_FAILED and answers NaN.
double scan_float(const void* start, u32 count, u32 unit, i32* status);

// scan-money: an optional sign, then a 3-letter currency code and "$", or "$", or the
// digits at once; "'" separators (not after "$", not doubled, not last, not in the
// fraction) and one "." (not first, not last). The money datatype builds the value in
// `out` (its maker must be installed) and may refuse it. Failure sets SCAN_FAILED.
void scan_money(const void* start, u32 count, u32 unit, Cell* out, i32* status);

// The decimal-text check of the float, percent and point loaders: at most 312 bytes of
// the decimal float grammar with "'" separators.
bool check_decimal_text(const char* text, u32 length);

}  // namespace kel::lex
