// integer! datatype.
#include "datatypes/integer.h"

#include <cmath>
#include <cstring>

#include "datatypes/datatype_init.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/geometry.h"
#include "datatypes/money.h"
#include "datatypes/number_support.h"
#include "datatypes/random.h"
#include "datatypes/string.h"
#include "lexer/number_scan.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

constexpr i32 INT_MIN32 = i32(0x80000000u);

// ---- cell helpers ---------------------------------------------------------------------

i32 result_integer() { return get_integer(g_args.base); }

i32 result_integer_or_zero() { return type_of(g_args.base) == T_INTEGER ? get_integer(g_args.base) : 0; }

Cell* box_integer(i32 v) { return make_integer_at(g_args.base, v); }

Cell* make_integer_at(Cell* c, i32 v) {
    set_cell(c, T_INTEGER, 0, u32(v));
    return c;
}

Cell* ks_append_integer(Node block, i32 v) { return make_integer_at(block_alloc_tail(block), v); }

Cell* push_integer(i32 v) { return make_integer_at(stack_push_slot(), v); }

i32 integer_sign(i32 v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

i32 integer_absolute(i32 v) {
    if (v == INT_MIN32) raise_error(Err::math_overflow);
    return v < 0 ? -v : v;
}

const char* integer_to_text(i32 v) {
    static char buffer[12] = "-0000000000";
    if (v == 0) return "0";
    if (v == INT_MIN32) return "-2147483648";
    char* p = buffer + 11;
    u32 a = v < 0 ? u32(-v) : u32(v);
    while (a) {
        *--p = char('0' + a % 10);
        a /= 10;
    }
    if (v < 0) *--p = '-';
    return p;
}

// ---- arithmetic -----------------------------------------------------------------------

i32 integer_do_math(i32 left, i32 right, i32 code, Cell* result) {
    i64 wide;
    switch (code) {
        case OP_ADD: wide = i64(left) + right; break;
        case OP_SUBTRACT: wide = i64(left) - right; break;
        case OP_MULTIPLY: wide = i64(left) * right; break;
        case OP_DIVIDE:
        case OP_REMAINDER:
            if (right == 0) raise_error(Err::math_zero_divide);
            if (left == INT_MIN32 && right == -1) raise_error(Err::math_overflow);
            if (code == OP_REMAINDER) {
                wide = left % right;
            } else if (result && left % right != 0) {
                set_cell_type(result, T_FLOAT);
                set_float_payload(result, double(left) / double(right));
                return 0;
            } else {
                wide = left / right;
            }
            break;
        case OP_OR: wide = left | right; break;
        case OP_AND: wide = left & right; break;
        case OP_XOR: wide = left ^ right; break;
        default: fatal_no_switch();
    }
    if (wide > 2147483647 || wide < -2147483648LL) {
        // The exact result fits a double's 53 bits whenever it came from 32-bit operands
        // added or subtracted; a product is rounded once, as the double product would be.
        if (!result) raise_error(Err::math_overflow);
        set_cell_type(result, T_FLOAT);
        set_float_payload(result, double(wide));
        return 0;
    }
    if (result) result->data2 = u32(i32(wide));
    return i32(wide);
}

void integer_math(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    switch (type_of(right)) {
        case T_CHAR:
        case T_INTEGER: integer_do_math(get_integer(left), get_integer(right), code, left); return;
        case T_FLOAT:
        case T_PERCENT:
        case T_TIME: float_do_math(code); return;
        case T_PAIR:
        case T_POINT2D:
        case T_POINT3D: compound_math_swapped(code); return;
        case T_TUPLE: tuple_do_math(code); return;
        case T_DATE: {
            if (code != OP_ADD) num::raise_not_related("subtract", T_INTEGER);
            // The date's arithmetic adds: date first, these days second.
            Cell days = *left;
            *left = *right;
            *right = days;
            date_do_math(OP_ADD);
            return;
        }
        case T_MONEY: money_math(code); return;
        case T_VECTOR: vector_math_scalar_left(code); return;
        default: break;
    }
    num::raise_invalid_type(type_of(right));
}

namespace {

void integer_add() { integer_math(OP_ADD); }
void integer_subtract() { integer_math(OP_SUBTRACT); }
void integer_multiply() { integer_math(OP_MULTIPLY); }
void integer_divide() { integer_math(OP_DIVIDE); }
void integer_remainder() { integer_math(OP_REMAINDER); }
void integer_or() { integer_math(OP_OR); }
void integer_and() { integer_math(OP_AND); }
void integer_xor() { integer_math(OP_XOR); }

void integer_absolute_action() {
    Cell* v = g_args.base;
    v->data2 = u32(integer_absolute(get_integer(v)));
}

Cell* integer_negate(Cell* v) {
    if (get_integer(v) == INT_MIN32) raise_error(Err::math_overflow);
    v->data2 = u32(-get_integer(v));
    return v;
}

Cell* integer_complement(Cell* v) {
    v->data2 = ~v->data2;
    return v;
}

bool integer_even_q(Cell* v) { return (v->data2 & 1) == 0; }
bool integer_odd_q(Cell* v) { return (v->data2 & 1) != 0; }

// Turns an integer! (or char!) cell into a float! of the same number.
void to_float_in_place(Cell* c) {
    double d = double(get_integer(c));
    set_cell_type(c, T_FLOAT);
    set_float_payload(c, d);
}

void integer_power() {
    Cell* base = g_args.base;
    Cell* exponent = base + 1;
    TypeId et = type_of(exponent);
    if (et != T_INTEGER && et != T_FLOAT) raise_expect_arg(1, exponent);
    if (et == T_FLOAT || get_integer(exponent) < 0) {
        to_float_in_place(base);
        float_power();
        return;
    }
    // Exponentiation by squaring; an overflow hands the whole computation to the floats.
    auto fits = [](i64 v) { return v >= -2147483648LL && v <= 2147483647; };
    i64 b = get_integer(base);
    u32 e = u32(get_integer(exponent));
    i64 result = 1;
    bool overflow = false;
    while (e) {
        if (e & 1) {
            result *= b;
            if (!fits(result)) {
                overflow = true;
                break;
            }
        }
        e >>= 1;
        if (e) {
            b *= b;
            if (!fits(b)) {
                overflow = true;
                break;
            }
        }
    }
    if (overflow) {
        to_float_in_place(base);
        float_power();
        return;
    }
    base->data2 = u32(i32(result));
}

Cell* integer_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_seed(value->data2);
        set_cell(value, T_UNSET);
        return value;
    }
    // The payload alone changes, so that char! keeps its type.
    value->data2 = u32(random_int(secure, get_integer(value)));
    return value;
}

i32 integer_form(Cell* value, Cell* out, Cell*, i32 limit) {
    const char* text = integer_to_text(get_integer(value));
    append_c_string(out, text);
    return limit - i32(std::strlen(text));
}

i32 integer_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return integer_form(value, out, part, limit);
}

i32 integer_compare(Cell* value, Cell* other, i32 op) {
    TypeId ot = type_of(other);
    if ((op == 2 || op == 12) && ot != T_INTEGER) return 1;
    switch (ot) {
        case T_CHAR:
        case T_INTEGER: {
            i32 a = get_integer(value), b = get_integer(other);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        case T_FLOAT:
        case T_PERCENT:
        case T_TIME: {
            // The float comparison on the integer's double, the cell keeping its own type.
            Cell tmp = *value;
            set_float_payload(&tmp, double(get_integer(value)));
            return float_compare(&tmp, other, op);
        }
        case T_MONEY: return money_compare_number(value, other, op);
        default: return -2;
    }
}

Cell* integer_make(Cell* proto, Cell* spec, u32 type) {
    if (type_of(spec) == T_LOGIC) return push_integer(spec->data1 == 1 ? 1 : 0);
    return integer_to(proto, spec, type);
}

void init_integer() {
    TypeRegistration r(T_INTEGER, 0, "integer!");
    r.set<A_MAKE>(integer_make).set<A_RANDOM>(integer_random).set<A_TO>(integer_to);
    r.set<A_FORM>(integer_form).set<A_MOLD>(integer_mold).set<A_COMPARE>(integer_compare);
    r.set<A_ABSOLUTE>(integer_absolute_action).set<A_ADD>(integer_add).set<A_DIVIDE>(integer_divide);
    r.set<A_MULTIPLY>(integer_multiply).set<A_NEGATE>(integer_negate).set<A_POWER>(integer_power);
    r.set<A_REMAINDER>(integer_remainder).set<A_ROUND>(integer_round).set<A_SUBTRACT>(integer_subtract);
    r.set<A_EVEN_Q>(integer_even_q).set<A_ODD_Q>(integer_odd_q).set<A_AND_T>(integer_and);
    r.set<A_COMPLEMENT>(integer_complement).set<A_OR_T>(integer_or).set<A_XOR_T>(integer_xor);
    register_datatype(r);
}

}  // namespace

// ---- conversion -----------------------------------------------------------------------

i32 integer_from_hex_text(const u8* text, u32 length, const Cell* issue) {
    if (length == 0 || length > 8) raise_error(Err::script_invalid_data, issue);
    u32 v = 0;
    for (u32 i = 0; i < length; ++i) {
        u8 c = text[i];
        u32 digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else raise_error(Err::script_invalid_data, issue);  // bytes above 127 included
        v = v * 16 + digit;
    }
    return i32(v);
}

Cell* integer_to(Cell*, Cell* spec, u32) {
    TypeId st = type_of(spec);
    if (num::is_text_type(st)) {
        num::UnitRange t = num::series_units(spec);
        i32 status = 0;
        i32 v = lex::scan_integer(t.start, t.count, t.unit, &status);
        if (status != 0) num::raise_bad_to_arg(T_INTEGER, spec);
        return push_integer(v);
    }
    switch (st) {
        case T_INTEGER: return spec;
        case T_CHAR: return push_integer(get_integer(spec));
        case T_FLOAT:
        case T_PERCENT: {
            double d = get_float(spec);
            if (!(d <= 2147483647.0 && d >= -2147483648.0)) {
                Cell dt = num::datatype_cell(T_INTEGER);
                raise_error(Err::script_type_limit, &dt);
            }
            return push_integer(i32(std::trunc(d)));
        }
        case T_TIME: {
            // Whole seconds, half away from zero.
            double r = std::round(get_float(spec));
            if (!(r <= 2147483647.0 && r >= -2147483648.0)) {
                Cell dt = num::datatype_cell(T_INTEGER);
                raise_error(Err::script_type_limit, &dt);
            }
            return push_integer(i32(r));
        }
        case T_BINARY: {
            num::UnitRange t = num::series_units(spec);
            u32 v = 0;
            for (u32 i = 0; i < t.count && i < 4; ++i) v = (v << 8) | t.start[i];
            return push_integer(i32(v));
        }
        case T_ISSUE: {
            u32 symbol = word_symbol(spec);
            return push_integer(integer_from_hex_text(reinterpret_cast<const u8*>(symbol_name(symbol)),
                                                      symbol_name_length(symbol), spec));
        }
        case T_DATE: return push_integer(date_to_epoch(spec));
        case T_MONEY: return push_integer(money_to_integer(spec));
        default: num::raise_bad_to_arg(T_INTEGER, spec);
    }
}

Cell* integer_round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                    bool half_ceiling) {
    if (scale && type_of(scale) == T_MONEY) num::raise_call_not_related(T_MONEY);
    i32 value = get_integer(n);
    if (value == INT_MIN32) return n;
    i32 s = 1;
    if (scale) {
        if (type_of(scale) != T_INTEGER) {
            to_float_in_place(n);
            return float_round(n, scale, even, down, half_down, floor, ceiling, half_ceiling);
        }
        s = integer_absolute(get_integer(scale));
    }
    if (s == 0) return n;

    i64 a = value < 0 ? -i64(value) : value;
    i64 r = a % s;
    if (r == 0) return n;
    i64 up = s - r;
    i64 hi = a + up;
    i64 lo = a - r;
    // Magnitude and the sign it takes; hi is checked only where it is used.
    i64 result;
    if (down) result = value >= 1 ? lo : -lo;
    else if (floor) result = value >= 1 ? lo : -hi;
    else if (ceiling) result = value >= 0 ? hi : -lo;
    else if (r < up) result = value >= 1 ? lo : -lo;
    else if (r > up) result = value >= 1 ? hi : -hi;
    else if (even) {
        i64 m = (a / s) % 2 == 0 ? lo : hi;
        result = value >= 1 ? m : -m;
    } else if (half_down) result = value >= 1 ? lo : -lo;
    else if (half_ceiling) result = value >= 0 ? hi : -lo;
    else result = value >= 1 ? hi : -hi;
    if (result > 2147483647 || result < -2147483648LL) raise_error(Err::math_overflow);
    n->data2 = u32(i32(result));
    return n;
}

KEL_DATATYPE(T_INTEGER, init_integer);

}  // namespace kel::dt
