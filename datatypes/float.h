// float!: the 64-bit IEEE double, its cell helpers, the float text writer and the
// arithmetic dispatcher that every mix of integer!, char!, float!, percent! and time!
// operands goes through. percent! and time! share the cell layout (words 2-3 hold the
// double, low word first): a percent holds the fraction (50% is 0.5), a time its seconds.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

// Runtime double constants.
extern const double FLOAT_MAX;        // the largest finite double
extern const double FLOAT_EPSILON;    // 2.220446049250313e-16: the tolerance of equality
extern const double FLOAT_BELOW_HALF; // 0.49999999999999994

// The pretty-print flag (system/options/float/pretty?), on at start; the float text writer
// reads it. The full float support flag is kept for the options object; nothing reads it.
extern bool g_float_pretty_print;
extern bool g_float_full_support;

// ---- cell helpers ---------------------------------------------------------------------

// get_float (runtime/cell.h) reads the double of a float-like cell.
Cell* box_float(double d);
Cell* make_float_at(Cell* c, double d);
// The double given as its low and high words (serialisation decoder).
Cell* make_float_in(Node block, u32 low, u32 high);
Cell* push_float_words(u32 low, u32 high);
Cell* push_float(double d);
double float_abs_from_words(u32 low, u32 high);

bool float_nan_q(double d);
// A NaN by the bit pattern: exponent all ones and a non-zero mantissa (infinities: false).
bool float_special_q(double d);
bool float_inf_or_nan_q(double d);
// Tolerant equality: less than FLOAT_EPSILON apart, or at most 10 units in the last place.
bool float_almost_equal_q(double x, double y);
bool float32_almost_equal_q(float a, float b);

// Float text kinds of form_float_value.
enum FloatTextKind : i32 {
    FLOAT_TEXT_FLOAT32 = 0,
    FLOAT_TEXT_FLOAT = 1,
    FLOAT_TEXT_PERCENT32 = 2,
    FLOAT_TEXT_PERCENT = 3,  // the value already multiplied by 100
    FLOAT_TEXT_TIME = 4,     // seconds of a time
    FLOAT_TEXT_POINT = 5,    // a coordinate, without a forced decimal point
};
// form-float-value: the text of a double for a kind; valid until the next call.
const char* form_float_value(double x, i32 kind);

// float-math-op: x op y for codes 0-4; the bitwise codes raise script/cannot-use.
double float_math_op(double x, double y, i32 code);
// float-do-math: the arithmetic dispatcher (operands in the first two argument slots,
// result in the first, its type chosen by the operands).
void float_do_math(i32 code);
// random-float-source: a random double in [0, limit].
double random_float_source(double limit, bool secure);

// Handlers that integer! (and the float children) reuse.
i32 float_compare(Cell* value, Cell* other, i32 op);
void float_power();  // stack form: number and exponent in the first two argument slots
Cell* float_round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                  bool half_ceiling);
Cell* float_make(Cell* proto, Cell* spec, u32 type);

}  // namespace kel::dt
