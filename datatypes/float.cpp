// float! datatype and the mixed-number arithmetic.
#include "datatypes/float.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/datatype_init.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/number_support.h"
#include "datatypes/random.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "lexer/number_scan.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/float_text.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

const double FLOAT_MAX = 1.7976931348623157e308;
const double FLOAT_EPSILON = 2.220446049250313e-16;
const double FLOAT_BELOW_HALF = 0.49999999999999994;

bool g_float_pretty_print = true;
bool g_float_full_support = false;

namespace {

inline u64 bits_of(double d) {
    u64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}
inline double from_bits(u64 b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

}  // namespace

// ---- cell helpers ---------------------------------------------------------------------

Cell* box_float(double d) { return make_float_at(g_args.base, d); }

Cell* make_float_at(Cell* c, double d) {
    set_cell(c, T_FLOAT);
    set_float_payload(c, d);
    return c;
}

Cell* make_float_in(Node block, u32 low, u32 high) {
    return make_float_at(block_alloc_tail(block), from_bits(u64(high) << 32 | low));
}

Cell* push_float_words(u32 low, u32 high) { return push_float(from_bits(u64(high) << 32 | low)); }

Cell* push_float(double d) { return make_float_at(stack_push_slot(), d); }

double float_abs_from_words(u32 low, u32 high) { return from_bits((u64(high & 0x7FFFFFFFu) << 32) | low); }

bool float_nan_q(double d) { return d != d; }

bool float_special_q(double d) {
    u64 b = bits_of(d);
    return (b & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (b & 0x000FFFFFFFFFFFFFull) != 0;
}

bool float_inf_or_nan_q(double d) { return d == HUGE_VAL || d == -HUGE_VAL || d != d; }

bool float_almost_equal_q(double x, double y) {
    if (x != x || y != y) return false;
    if (x == y) return true;
    if (std::fabs(x - y) < FLOAT_EPSILON) return true;
    // Ordered keys: adjacent doubles differ by one, across zero too.
    auto key = [](double d) {
        u64 b = bits_of(d);
        return (b >> 63) ? u64(0) - b : b | 0x8000000000000000ull;
    };
    u64 kx = key(x), ky = key(y);
    u64 distance = kx > ky ? kx - ky : ky - kx;
    return distance <= 10;
}

bool float32_almost_equal_q(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    u32 pa, pb;
    std::memcpy(&pa, &a, 4);
    std::memcpy(&pb, &b, 4);
    u32 ma = pa & 0x7FFFFFFFu, mb = pb & 0x7FFFFFFFu;
    if (ma > 0x7F7FFFFEu || mb > 0x7F7FFFFEu) {
        if ((pa ^ pb) & 0x80000000u) return false;
        u32 d = ma > mb ? ma - mb : mb - ma;
        return d < 0x100000u;
    }
    if (ma == 0 && mb == 0) return true;
    auto mapped = [](u32 p) { return (p & 0x80000000u) ? -i64(p & 0x7FFFFFFFu) : i64(p); };
    i64 d = mapped(pa) - mapped(pb);
    return d <= 10 && d >= -10;
}

// ---- text -----------------------------------------------------------------------------

const char* form_float_value(double x, i32 kind) {
    if (std::isnan(x)) return "1.#NaN";
    if (std::isinf(x)) return x > 0 ? "1.#INF" : "-1.#INF";
    if (g_float_pretty_print && std::fabs(x) < FLOAT_EPSILON) {
        if (kind == FLOAT_TEXT_PERCENT32 || kind == FLOAT_TEXT_PERCENT) return "0%";
        return kind == FLOAT_TEXT_POINT ? "0" : "0.0";
    }

    static char buf[64];
    auto print = [&](bool short_form) {
        if (kind == FLOAT_TEXT_TIME && !short_form) {
            std::snprintf(buf, sizeof buf, "%s", form_float(x, 6, false));
            return;
        }
        const char* fmt;
        if (short_form) {
            fmt = (kind == FLOAT_TEXT_FLOAT32 || kind == FLOAT_TEXT_TIME || kind == FLOAT_TEXT_POINT) ? "%.5g" : "%.14g";
        } else {
            switch (kind) {
                case FLOAT_TEXT_FLOAT32:
                case FLOAT_TEXT_PERCENT32:
                case FLOAT_TEXT_POINT: fmt = "%.7g"; break;
                case FLOAT_TEXT_PERCENT: fmt = "%.13g"; break;
                default: fmt = "%.16g"; break;
            }
        }
        std::snprintf(buf, sizeof buf, fmt, x);
    };
    // Where the "e" is (-1: none), and whether a "." is present.
    i32 e_pos;
    bool has_point;
    auto scan = [&] {
        e_pos = -1;
        has_point = false;
        for (i32 i = 0; buf[i]; ++i) {
            if (buf[i] == '.') has_point = true;
            else if (buf[i] == 'e' || buf[i] == 'E') e_pos = i;
        }
    };

    print(false);
    scan();
    if (g_float_pretty_print) {
        // A last digit pair of "01" or "99" at full precision is noise of the binary
        // representation (0.1 + 0.7 gives 0.7999999999999999): print shorter. Lengths are
        // measured after the sign, so that x and -x print alike.
        i32 len = i32(std::strlen(buf));
        i32 first = buf[0] == '-' ? 1 : 0;
        i32 end = -1;
        if (e_pos < 0) {
            if (len - first > (buf[first] == '0' ? 17 : 16)) end = len;
        } else if (e_pos - first > 16) {
            end = e_pos;
        }
        if (end >= 2) {
            char a = buf[end - 2], b = buf[end - 1];
            if ((a == '0' && b == '1') || (a == '9' && b == '9')) {
                print(true);
                scan();
            }
        }
    }

    // The exponent without "+" and without leading zeros: 1e+20 -> 1e20, 1.5e-07 -> 1.5e-7.
    if (e_pos >= 0) {
        char* p = buf + e_pos + 1;
        char* w = p;
        if (*p == '+') ++p;
        else if (*p == '-') *w++ = *p++;
        while (*p == '0' && p[1]) ++p;
        while (*p) *w++ = *p++;
        *w = '\0';
    }
    if (kind == FLOAT_TEXT_PERCENT32 || kind == FLOAT_TEXT_PERCENT) {
        std::strcat(buf, "%");
    } else if (!has_point && kind != FLOAT_TEXT_TIME && kind != FLOAT_TEXT_POINT) {
        if (e_pos < 0) {
            std::strcat(buf, ".0");
        } else {
            size_t n = std::strlen(buf);
            std::memmove(buf + e_pos + 2, buf + e_pos, n - size_t(e_pos) + 1);
            buf[e_pos] = '.';
            buf[e_pos + 1] = '0';
        }
    }
    return buf;
}

// ---- arithmetic -----------------------------------------------------------------------

double float_math_op(double x, double y, i32 code) {
    switch (code) {
        case OP_ADD: return x + y;
        case OP_SUBTRACT: return x - y;
        case OP_MULTIPLY: return x * y;
        case OP_DIVIDE: return x / y;
        case OP_REMAINDER:
            if (y * 0.0 == 0.0) return std::fmod(x, y);
            if (y != y) return y;
            return std::isfinite(x) ? x : std::nan("");
        default: {
            Cell call, dt = num::datatype_cell(T_FLOAT);
            stack_get_call(&call);
            raise_error(Err::script_cannot_use, &call, &dt);
        }
    }
}

void float_do_math(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    TypeId lt = type_of(left);
    TypeId rt_ = type_of(right);
    switch (rt_) {
        case T_INTEGER:
        case T_FLOAT:
        case T_PERCENT:
        case T_TIME: break;
        case T_CHAR:
            if (lt == T_TIME || lt == T_PERCENT) num::raise_invalid_type(rt_);
            break;
        case T_PAIR:
        case T_POINT2D:
        case T_POINT3D:
            if (lt == T_TIME) num::raise_invalid_type(rt_);
            if (code == OP_SUBTRACT) num::raise_not_related("subtract", rt_);
            if (code == OP_DIVIDE) num::raise_not_related("divide", rt_);
            compound_math_swapped(code);
            return;
        case T_TUPLE: tuple_do_math(code); return;
        case T_VECTOR: vector_math_scalar_left(code); return;
        case T_MONEY:
            if (lt == T_TIME) num::raise_invalid_type(rt_);
            money_math(code);
            return;
        default:
            num::raise_invalid_type(rt_);
    }
    double x = lt == T_INTEGER ? double(get_integer(left)) : get_float(left);
    double y = (rt_ == T_INTEGER || rt_ == T_CHAR) ? double(get_integer(right)) : get_float(right);
    double r = float_math_op(x, y, code);

    TypeId result;
    if (lt == T_TIME || rt_ == T_TIME) result = T_TIME;
    else if (lt == T_PERCENT) result = T_PERCENT;
    else result = T_FLOAT;  // an integer! left becomes float!
    set_cell_type(left, result);
    set_float_payload(left, r);
}

double random_float_source(double limit, bool secure) {
    if (!secure) return limit * (double(random_next()) / 2147483647.0);
    double r1 = random_secure();
    double r2 = random_secure();
    return limit * (r2 + r1 / 2147483647.0) / 2147483648.0;
}

// ---- actions --------------------------------------------------------------------------

i32 float_compare(Cell* value, Cell* other, i32 op) {
    TypeId ot = type_of(other);
    if ((op == 2 || op == 9 || op == 12) && type_of(value) != ot) return 1;
    double x = get_float(value);
    double y;
    switch (ot) {
        case T_INTEGER: y = double(get_integer(other)); break;
        case T_FLOAT:
        case T_PERCENT:
        case T_TIME: y = get_float(other); break;
        case T_MONEY:
            if (type_of(value) == T_TIME) return -2;
            return money_compare_number(value, other, op);
        default: return -2;
    }
    switch (op) {
        case 0:
        case 1: return float_almost_equal_q(x, y) ? 0 : 1;
        case 2: return x == y ? 0 : 1;
        case 9: return bits_of(x) == bits_of(y) ? 0 : 1;
        default:
            if (x != x || y != y) {
                // Every ordering test involving a NaN is false.
                if (op == 3 || op == 4) return 1;
                if (op == 5 || op == 6) return -1;
                return 0;
            }
            return x < y ? -1 : x > y ? 1 : 0;
    }
}

void float_power() {
    Cell* base = g_args.base;
    Cell* exponent = base + 1;
    double e;
    switch (type_of(exponent)) {
        case T_INTEGER: e = double(get_integer(exponent)); break;
        case T_FLOAT: e = get_float(exponent); break;
        default: raise_expect_arg(1, exponent);
    }
    set_float_payload(base, std::pow(get_float(base), e));
}

Cell* float_round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                  bool half_ceiling) {
    TypeId nt = type_of(n);
    double s = nt == T_PERCENT ? 0.01 : 1.0;
    if (scale) {
        switch (type_of(scale)) {
            case T_INTEGER: s = double(get_integer(scale)); break;
            case T_FLOAT:
            case T_PERCENT:
            case T_TIME: s = get_float(scale); break;
            case T_MONEY: num::raise_call_not_related(T_MONEY);
            default: raise_error(Err::script_invalid_arg, scale);
        }
        s = std::fabs(s);
        if (nt == T_PERCENT) s /= 100.0;
    }
    double d = get_float(n);
    // A scale of 0 leaves the value as it is, as for integers.
    if (s == 0.0 || std::ldexp(std::fabs(d), -53) > s) return n;

    int e = 0;
    bool small = s < 1.0;
    if (small) {
        double t = std::frexp(s, &e);
        // A subnormal scale has no finite inverse: scale the value by its exponent first.
        if (e < -1021) {
            d = std::ldexp(d, -e);
            s = t;
        } else {
            e = 0;
        }
        s = 1.0 / s;
        d = d * s;
    } else {
        d = d / s;
    }

    auto signed_ = [d](double v) { return d >= 0 ? v : 0.0 - v; };
    double a = std::fabs(d);
    double h = std::floor(a) + 0.5;
    double r;
    if (down) r = signed_(std::floor(a));
    else if (floor) r = std::floor(d);
    else if (ceiling) r = std::ceil(d);
    else if (a < h) r = signed_(std::floor(a));
    else if (a > h) r = signed_(std::ceil(a));
    else if (even) r = signed_(std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : std::floor(a));
    else if (half_down) r = signed_(std::floor(a));
    else if (half_ceiling) r = std::ceil(d);
    else r = signed_(std::ceil(a));

    double result;
    if (small) {
        result = std::ldexp(r / s, e);
    } else {
        result = r * s;
        if (std::isfinite(d) && std::fabs(result) >= FLOAT_MAX) raise_error(Err::math_overflow);
    }

    if (scale && type_of(scale) == T_INTEGER) {
        double t = std::trunc(result);
        if (!(t <= 2147483647.0 && t >= -2147483648.0)) raise_error(Err::math_overflow);
        make_integer_at(n, i32(t));
        return n;
    }
    if (scale) set_cell_type(n, type_of(scale));
    set_float_payload(n, result);
    return n;
}

namespace {

// A percent from text: the lexer reads the text as one number ("50%", "0.5" or "2").
double percent_text_value(Cell* spec) {
    Cell* v = stack_push_slot();
    set_cell(v, T_NONE);
    if (g_scan_string_value) g_scan_string_value(spec, v);
    double d;
    switch (type_of(v)) {
        case T_INTEGER: d = double(get_integer(v)); break;
        case T_FLOAT:
        case T_PERCENT: d = get_float(v); break;
        default: num::raise_bad_to_arg(T_PERCENT, spec);
    }
    stack_pop(1);
    return d;
}

}  // namespace

Cell* float_make(Cell*, Cell* spec, u32 type) {
    TypeId st = type_of(spec);
    auto result = [type](double d) {
        Cell* c = push_float(d);
        set_cell_type(c, type);
        return c;
    };
    if (num::is_text_type(st)) {
        if (type == T_PERCENT) return result(percent_text_value(spec));
        num::UnitRange t = num::series_units(spec);
        i32 status = 0;
        double d = t.count ? lex::scan_float(t.start, t.count, t.unit, &status) : 0.0;
        if (t.count == 0 || status != 0) num::raise_bad_to_arg(type, spec);
        return result(d);
    }
    switch (st) {
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: {
            SeriesBuffer* b = buffer_of(series_node(spec));
            Cell* head = cells_of(b) + series_head(spec);
            Cell* tail = at<Cell>(b->tail);
            if (series_head(spec) < 0 || tail - head != 2) num::raise_bad_to_arg(type, spec);
            double parts[2];
            for (int i = 0; i < 2; ++i) {
                Cell* v = head + i;
                if (type_of(v) == T_INTEGER) parts[i] = double(get_integer(v));
                else if (type_of(v) == T_FLOAT) parts[i] = get_float(v);
                else num::raise_bad_to_arg(T_FLOAT, v);
            }
            return result(parts[0] * std::pow(10.0, std::trunc(parts[1])));
        }
        case T_CHAR:
        case T_INTEGER: return result(double(get_integer(spec)));
        case T_FLOAT:
        case T_PERCENT:
        case T_TIME: return result(get_float(spec));
        case T_BINARY: {
            num::UnitRange t = num::series_units(spec);
            u64 bits = 0;
            for (u32 i = 0; i < t.count && i < 8; ++i) bits = (bits << 8) | t.start[i];
            return result(from_bits(bits));
        }
        case T_MONEY:
            if (type == T_TIME) num::raise_bad_to_arg(type, spec);
            return result(money_to_float(spec));
        default: num::raise_bad_to_arg(type, spec);
    }
}

namespace {

void float_add() { float_do_math(OP_ADD); }
void float_subtract() { float_do_math(OP_SUBTRACT); }
void float_multiply() { float_do_math(OP_MULTIPLY); }
void float_divide() { float_do_math(OP_DIVIDE); }
void float_remainder() { float_do_math(OP_REMAINDER); }

void float_absolute() {
    Cell* v = g_args.base;
    v->data3 &= 0x7FFFFFFFu;
}

Cell* float_negate(Cell* v) {
    set_float_payload(v, 0.0 - get_float(v));
    return v;
}

// Parity of the value truncated toward zero; NaN and the infinities are neither.
bool float_even_q(Cell* v) {
    double d = get_float(v);
    return std::isfinite(d) && std::fmod(std::trunc(d), 2.0) == 0.0;
}
bool float_odd_q(Cell* v) {
    double d = get_float(v);
    return std::isfinite(d) && std::fmod(std::trunc(d), 2.0) != 0.0;
}

Cell* float_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_seed(value->data2 ^ value->data3);
        set_cell(value, T_UNSET);
        return value;
    }
    set_float_payload(value, random_float_source(get_float(value), secure));
    return value;
}

i32 float_form(Cell* value, Cell* out, Cell*, i32 limit) {
    const char* text = form_float_value(get_float(value), FLOAT_TEXT_FLOAT);
    append_c_string(out, text);
    return limit - i32(std::strlen(text));
}

i32 float_mold(Cell* value, Cell* out, bool, bool, bool, Cell*, i32 limit, i32) {
    const char* text = form_float(get_float(value), 0, true);
    append_c_string(out, text);
    return limit - i32(std::strlen(text));
}

void init_float() {
    TypeRegistration r(T_FLOAT, 0, "float!");
    r.set<A_MAKE>(float_make).set<A_RANDOM>(float_random).set<A_TO>(float_make);
    r.set<A_FORM>(float_form).set<A_MOLD>(float_mold).set<A_COMPARE>(float_compare);
    r.set<A_ABSOLUTE>(float_absolute).set<A_ADD>(float_add).set<A_DIVIDE>(float_divide);
    r.set<A_MULTIPLY>(float_multiply).set<A_NEGATE>(float_negate).set<A_POWER>(float_power);
    r.set<A_REMAINDER>(float_remainder).set<A_ROUND>(float_round).set<A_SUBTRACT>(float_subtract);
    r.set<A_EVEN_Q>(float_even_q).set<A_ODD_Q>(float_odd_q);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_FLOAT, init_float);

}  // namespace kel::dt
