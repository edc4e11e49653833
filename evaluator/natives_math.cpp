// Math natives: trigonometry in degrees (or radians), logarithms, powers, square root, the
// NaN and zero tests, and `size?`. None of them raises a math error: out-of-domain
// arguments answer NaN or an infinity, as the C library does.
#include <cmath>
#include <optional>

#include "datatypes/float.h"
#include "datatypes/geometry.h"
#include "datatypes/money.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "host/files.h"
#include "runtime/float_text.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::ev {

using namespace rt;

namespace {

constexpr double PI = 3.141592653589793;

// math-float-arg: the argument as a double; the cell becomes the float! result (an integer
// converted, a percent's fraction taken as it is).
double math_float_arg(Cell* c) {
    double x = type_of(c) == T_INTEGER ? double(get_int(c)) : get_float(c);
    dt::make_float_at(c, x);
    return x;
}

inline bool radians(const i32* refs, int k = 0) { return refinement_arg(refs, k) != nullptr; }

// Sine and cosine answer 0.0 below the float epsilon, so that whole angles land exactly.
double snap_zero(double r) { return std::fabs(r) < dt::FLOAT_EPSILON ? 0.0 : r; }

Status sine_native(bool, const i32* refs) {
    double x = math_float_arg(stack_arg(0));
    if (!radians(refs)) x = angle_to_radians(x, 2);
    dt::make_float_at(stack_result(), snap_zero(std::sin(x)));
    return 0;
}

Status cosine_native(bool, const i32* refs) {
    double x = math_float_arg(stack_arg(0));
    if (!radians(refs)) x = angle_to_radians(x, 1);
    dt::make_float_at(stack_result(), snap_zero(std::cos(x)));
    return 0;
}

Status tangent_native(bool, const i32* refs) {
    double x = math_float_arg(stack_arg(0));
    if (!radians(refs)) x = angle_to_radians(x, 0);
    double r = x == PI / 2.0 ? HUGE_VAL : x == PI / -2.0 ? -HUGE_VAL : std::tan(x);
    dt::make_float_at(stack_result(), r);
    return 0;
}

template <double (*F)(double)>
Status inverse_trig_native(bool, const i32* refs) {
    double r = F(math_float_arg(stack_arg(0)));
    if (!radians(refs)) r = r * 180.0 / PI;
    dt::make_float_at(stack_result(), r);
    return 0;
}

double number_of(const Cell* c) { return type_of(c) == T_INTEGER ? double(get_int(c)) : get_float(c); }

Status arctangent2_native(bool, const i32* refs) {
    double r = std::atan2(number_of(stack_arg(0)), number_of(stack_arg(1)));
    if (!radians(refs)) r = r * 180.0 / PI;
    dt::make_float_at(stack_result(), r);
    return 0;
}

Status nan_q_native(bool, const i32*) {
    Cell* v = stack_arg(0);
    bool nan = type_of(v) != T_INTEGER && dt::float_special_q(get_float(v));
    set_cell(stack_result(), T_LOGIC, nan);
    return 0;
}

template <double (*F)(double)>
Status float_function_native(bool, const i32*) {
    double x = math_float_arg(stack_arg(0));
    dt::make_float_at(stack_result(), F(x));
    return 0;
}

double log_2(double x) { return std::log(x) / 0.6931471805599453; }
double log_10(double x) { return std::log10(x); }
double log_e(double x) { return std::log(x); }
// A power of e's double rather than the library's exp: results match the ones specified,
// bit for bit.
double exp_e(double x) { return std::pow(2.718281828459045, x); }
double square_root(double x) { return std::sqrt(x); }
double arcsine(double x) { return std::asin(x); }
double arccosine(double x) { return std::acos(x); }
double arctangent(double x) { return std::atan(x); }

bool zero_q(const Cell* v) {
    switch (type_of(v)) {
        case T_CHAR: case T_INTEGER: return get_int(v) == 0;
        case T_FLOAT: case T_PERCENT: case T_TIME: return get_float(v) == 0.0;
        case T_PAIR: return dt::pair_x(v) == 0 && dt::pair_y(v) == 0;
        case T_TUPLE: return dt::tuple_zero_q(v);
        case T_MONEY: return dt::money_sign(v) == 0;
        case T_POINT2D: return dt::point_component(v, 0) == 0.0f && dt::point_component(v, 1) == 0.0f;
        case T_POINT3D:
            return dt::point_component(v, 0) == 0.0f && dt::point_component(v, 1) == 0.0f &&
                   dt::point_component(v, 2) == 0.0f;
        default: return false;
    }
}

Status zero_q_native(bool, const i32*) {
    set_cell(stack_result(), T_LOGIC, zero_q(stack_arg(0)));
    return 0;
}

// size?: bytes of a file; none for a folder or a file that cannot be found. Sizes beyond
// 32 bits answer a float!.
Status size_q_native(bool, const i32*) {
    std::optional<u64> size = host::file_size(stack_arg(0));
    Cell* result = stack_result();
    if (!size) set_cell(result, T_NONE);
    else if (*size > 2147483647) dt::make_float_at(result, double(*size));
    else set_cell(result, T_INTEGER, 0, u32(*size));
    return 0;
}

}  // namespace

KEL_NATIVE(55, sine_native);
KEL_NATIVE(56, cosine_native);
KEL_NATIVE(57, tangent_native);
KEL_NATIVE(58, inverse_trig_native<arcsine>);
KEL_NATIVE(59, inverse_trig_native<arccosine>);
KEL_NATIVE(60, inverse_trig_native<arctangent>);
KEL_NATIVE(61, arctangent2_native);
KEL_NATIVE(62, nan_q_native);
KEL_NATIVE(63, float_function_native<log_2>);
KEL_NATIVE(64, float_function_native<log_10>);
KEL_NATIVE(65, float_function_native<log_e>);
KEL_NATIVE(66, float_function_native<exp_e>);
KEL_NATIVE(67, float_function_native<square_root>);
KEL_NATIVE(100, zero_q_native);
KEL_NATIVE(101, size_q_native);

}  // namespace kel::ev
