// Float and decimal text conversion.
//
// Exact conversion between doubles and decimal text: digits are correctly rounded in both
// directions (the standard library's to_chars/from_chars do the digit work); this module
// adds the language's conventions: where the point goes, when an exponent is used, ".0" on
// integral values, and the special texts "1.#INF", "-1.#INF", "1.#NaN".
//
// The texts answered live in static buffers and stay valid until the next call.
#pragma once
#include "runtime/types.h"

namespace kel::rt {

// float-to-digits: decimal digits of `value`.
//   precision <= 0: the shortest digits that read back as the same double;
//   precision > 0: correctly rounded to that many significant digits, trailing zeros dropped.
// Finite non-zero values answer the digits (no sign, no point); the value is
// 0.d1d2... x 10^exponent. The character just before the answered text is a "-", so a
// negative value's text starts one character earlier.
// Infinities and NaN answer exponent 9999 and "1.#INF", "-1.#INF" or "1.#NaN"; zeros
// answer exponent 9998 and "0", "-0" (with keep_point "0.0", "-0.0").
// `negative` is the sign bit (also for -0.0 and NaN); `count` the length of the text.
const char* float_to_digits(double value, i32 precision, i32* exponent, bool* negative, i32* count,
                            bool keep_point);

// form-float: the decimal text of `value` with `precision` as above. Exponent form when the
// value is at least 1e17 or below 1e-7 ("1.0e17", "1.0e-8"); a text ending in "." gets a
// "0" with keep_point, else loses the ".".
const char* form_float(double value, i32 precision, bool keep_point);

// parse-float: the double read from the text [start, end), correctly rounded. `adjust` is
// added to the text's decimal exponent. `left` (may be null) receives the number of
// characters from where reading stopped to the end. Never fails: text that is not a number
// stops reading; out-of-range values become infinities or zeros. "1.#INF" and "1.#NaN"
// (with any sign) read back as the values they stand for.
double parse_float(const char* start, const char* end, i32 adjust, i32* left);

// angle-to-radians: degrees folded into the range the trigonometric function needs
// (kind 0 tangent, 1 cosine, 2 sine), then converted.
double angle_to_radians(double degrees, i32 kind);

// c-string-equal?: same length and same bytes.
bool c_string_equal_q(const char* a, const char* b);

}  // namespace kel::rt
