// pair! datatype: two int32 in one cell. Arithmetic that cannot stay within 32 bits, an
// inexact division and a multiplication or division by a fraction hand the whole operation to
// point2D!, so a pair never wraps silently.
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/float.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/path.h"
#include "datatypes/random.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "lexer/literal_hooks.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

constexpr i32 INT_MIN32 = i32(0x80000000u);

Cell* make_pair_at(Cell* c, i32 x, i32 y) {
    c->header = (c->header & ~CELL_TYPE_MASK) | T_PAIR;
    c->data1 = 0;
    c->data2 = u32(x);
    c->data3 = u32(y);
    return c;
}

Cell* push_pair(i32 x, i32 y) {
    Cell* c = stack_push_slot();
    c->header = 0;
    return make_pair_at(c, x, y);
}

i32 component_word_index(const Cell* word, i32 count) {
    if (!is_any_word_type(type_of(word))) return -1;
    u32 symbol = word_symbol(word);
    if (symbol_name_length(symbol) != 1) return -1;
    char c = char(ascii_fold(u8(symbol_name(symbol)[0])));
    i32 i = c == 'x' ? 0 : c == 'y' ? 1 : c == 'z' ? 2 : -1;
    return i < count ? i : -1;
}

namespace {

// A float operand that the integer path takes: truncated toward zero; an infinite or NaN
// operand is refused. Answers false when it does not fit 32 bits.
bool float_operand(const Cell* operand, i32* out) {
    double f = get_float(operand);
    if (!std::isfinite(f)) raise_error(Err::script_invalid_arg, operand);
    double t = std::trunc(f);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) return false;
    *out = i32(t);
    return true;
}

// Both slots become points: the left pair, and the right operand (ox, oy) as a pair.
void promote_both(i32 code, i32 ox, i32 oy) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    pair_to_point2d(left);
    right->header = 0;
    make_pair_at(right, ox, oy);
    pair_to_point2d(right);
    point_do_math(code);
}

}  // namespace

void pair_do_math(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    i32 ox, oy;
    switch (type_of(right)) {
        case T_INTEGER: ox = oy = get_integer(right); break;
        case T_PAIR:
            ox = pair_x(right);
            oy = pair_y(right);
            break;
        case T_POINT2D:
            pair_to_point2d(left);
            point_do_math(code);
            return;
        case T_FLOAT:
        case T_PERCENT: {
            double f = get_float(right);
            if (code == OP_MULTIPLY || code == OP_DIVIDE) {
                if (std::isnan(f) || (code == OP_MULTIPLY && std::isinf(f))) raise_error(Err::script_invalid_arg, right);
                double x = pair_x(left), y = pair_y(left);
                if (code == OP_MULTIPLY) make_point2d_at(left, float(x * f), float(y * f));
                else make_point2d_at(left, float(x / f), float(y / f));
                return;
            }
            i32 n;
            if (!float_operand(right, &n)) {
                // Beyond 32 bits the operand cannot be a pair component: the points compute.
                pair_to_point2d(left);
                point_do_math(code);
                return;
            }
            ox = oy = n;
            break;
        }
        default: num::raise_invalid_type(type_of(right));
    }
    Cell rx, ry;
    set_cell(&rx, T_INTEGER);
    set_cell(&ry, T_INTEGER);
    i32 x = integer_do_math(pair_x(left), ox, code, &rx);
    i32 y = integer_do_math(pair_y(left), oy, code, &ry);
    if (type_of(&rx) != T_INTEGER || type_of(&ry) != T_INTEGER) {
        promote_both(code, ox, oy);
        return;
    }
    left->data2 = u32(x);
    left->data3 = u32(y);
}

void compound_math_swapped(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    u32 number_type = type_of(left);
    std::swap(*left, *right);
    if (code == OP_DIVIDE) num::raise_not_related("divide", number_type);
    if (code == OP_SUBTRACT) {
        // n - p is -p + n.
        handler<A_NEGATE>(type_of(left))(left);
        code = OP_ADD;
    }
    if (type_of(left) == T_PAIR) pair_do_math(code);
    else point_do_math(code);
}

namespace {

void pair_add() { pair_do_math(OP_ADD); }
void pair_subtract() { pair_do_math(OP_SUBTRACT); }
void pair_multiply() { pair_do_math(OP_MULTIPLY); }
void pair_divide() { pair_do_math(OP_DIVIDE); }
void pair_remainder() { pair_do_math(OP_REMAINDER); }
void pair_or() { pair_do_math(OP_OR); }
void pair_and() { pair_do_math(OP_AND); }
void pair_xor() { pair_do_math(OP_XOR); }

// Negating -2147483648 has no 32-bit answer: refused as absolute refuses it.
Cell* pair_negate(Cell* v) {
    if (pair_x(v) == INT_MIN32 || pair_y(v) == INT_MIN32) raise_error(Err::math_overflow);
    v->data2 = u32(-pair_x(v));
    v->data3 = u32(-pair_y(v));
    return v;
}

void pair_absolute() {
    Cell* v = g_args.base;
    v->data2 = u32(integer_absolute(pair_x(v)));
    v->data3 = u32(integer_absolute(pair_y(v)));
}

Cell* pair_reverse(Cell* v, Cell*, Cell*) {
    std::swap(v->data2, v->data3);
    return v;
}

i32 component_of_float(const Cell* v, double d) {
    if (!std::isfinite(d)) raise_error(Err::script_invalid_arg, v);
    double t = std::trunc(d);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) {
        Cell dt = num::datatype_cell(T_INTEGER);
        raise_error(Err::script_type_limit, &dt);
    }
    return i32(t);
}

i32 block_component(const Cell* spec, const Cell* v) {
    switch (type_of(v)) {
        case T_INTEGER: return get_integer(v);
        case T_FLOAT: return component_of_float(v, get_float(v));
        default: raise_error(Err::syntax_malconstruct, spec);
    }
}

Cell* pair_make(Cell*, Cell* spec, u32) {
    switch (type_of(spec)) {
        case T_PAIR: return spec;
        case T_INTEGER: return push_pair(get_integer(spec), get_integer(spec));
        case T_FLOAT: {
            i32 n = component_of_float(spec, get_float(spec));
            return push_pair(n, n);
        }
        case T_POINT2D: {
            float x = point_component(spec, 0), y = point_component(spec, 1);
            if (!std::isfinite(x) || !std::isfinite(y)) raise_error(Err::script_invalid_arg, spec);
            return push_pair(component_of_float(spec, x), component_of_float(spec, y));
        }
        case T_BLOCK: {
            if (ks_length_q(spec) < 2) raise_error(Err::syntax_malconstruct, spec);
            Cell b = *spec;
            const Cell* v = ks_head(&b);
            i32 x = block_component(spec, v);
            i32 y = block_component(spec, v + 1);
            return push_pair(x, y);
        }
        case T_STRING: return scan_text_as(spec, T_PAIR);
        default: num::raise_bad_to_arg(T_PAIR, spec);
    }
}

i32 pair_form(Cell* value, Cell* out, Cell*, i32 limit) {
    u32 before = string_length(out);
    append_c_string(out, integer_to_text(pair_x(value)));
    append_char(out, 'x');
    append_c_string(out, integer_to_text(pair_y(value)));
    return limit - i32(string_length(out) - before);
}

i32 pair_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return pair_form(value, out, part, limit);
}

i32 pair_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) == T_POINT2D) {
        Cell a = *v1;
        pair_to_point2d(&a);
        return point_compare(&a, v2, op);
    }
    if (type_of(v2) != T_PAIR) return -2;
    i32 a = pair_x(v1), b = pair_x(v2);
    if (a == b) {
        a = pair_y(v1);
        b = pair_y(v2);
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

Cell* pair_random(Cell* v, bool seed, bool secure, bool) {
    if (seed) {
        random_seed(v->data2 ^ v->data3);
        set_cell(v, T_UNSET);
        return v;
    }
    if (pair_x(v)) v->data2 = u32(random_int(secure, pair_x(v)));
    if (pair_y(v)) v->data3 = u32(random_int(secure, pair_y(v)));
    return v;
}

Cell* pair_round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                 bool half_ceiling) {
    if (scale && type_of(scale) == T_MONEY) num::raise_call_not_related(T_MONEY);
    for (i32 i = 0; i < 2; ++i) {
        Cell c, s;
        make_integer_at(&c, i == 0 ? pair_x(n) : pair_y(n));
        Cell* sp = scale;
        if (scale && type_of(scale) == T_PAIR) {
            make_integer_at(&s, i == 0 ? pair_x(scale) : pair_y(scale));
            sp = &s;
        }
        Cell* r = integer_round(&c, sp, even, down, half_down, floor, ceiling, half_ceiling);
        i32 v = type_of(r) == T_INTEGER ? get_integer(r) : component_of_float(r, get_float(r));
        (i == 0 ? n->data2 : n->data3) = u32(v);
    }
    return n;
}

Cell* pair_pick(Cell* v, i32 index, Cell* index_cell) {
    i32 i;
    if (is_any_word_type(type_of(index_cell))) {
        i = component_word_index(index_cell, 2);
        if (i < 0) raise_error(Err::script_cannot_use, index_cell, v);
    } else {
        if (index != 1 && index != 2) raise_error(Err::script_out_of_range, index_cell);
        i = index - 1;
    }
    return push_integer(i == 0 ? pair_x(v) : pair_y(v));
}

Cell* pair_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                     bool case_, bool, bool) {
    Cell none;
    set_cell(&none, T_NONE);
    Cell* p = path ? path : &none;
    i32 i = -1;
    if (type_of(element) == T_INTEGER) {
        if (get_integer(element) == 1 || get_integer(element) == 2) i = get_integer(element) - 1;
    } else {
        i = component_word_index(element, 2);
    }
    if (i < 0) raise_error(Err::script_invalid_path, p, element);
    if (!value) return push_integer(i == 0 ? pair_x(parent) : pair_y(parent));
    if (type_of(value) != T_INTEGER) num::raise_invalid_type(type_of(value));
    (i == 0 ? parent->data2 : parent->data3) = value->data2;
    if (gparent) store_back_path_value(parent, gparent, p_item, path, index, case_);
    return value;
}

void make_pair_literal(Cell* out, i32 x, i32 y) { make_pair_at(out, x, y); }

void init_pair() {
    TypeRegistration r(T_PAIR, 0, "pair!");
    r.set<A_MAKE>(pair_make).set<A_RANDOM>(pair_random).set<A_TO>(pair_make);
    r.set<A_FORM>(pair_form).set<A_MOLD>(pair_mold).set<A_EVAL_PATH>(pair_eval_path);
    r.set<A_COMPARE>(pair_compare).set<A_ABSOLUTE>(pair_absolute).set<A_ADD>(pair_add);
    r.set<A_DIVIDE>(pair_divide).set<A_MULTIPLY>(pair_multiply).set<A_NEGATE>(pair_negate);
    r.set<A_REMAINDER>(pair_remainder).set<A_ROUND>(pair_round).set<A_SUBTRACT>(pair_subtract);
    r.set<A_AND_T>(pair_and).set<A_OR_T>(pair_or).set<A_XOR_T>(pair_xor);
    r.set<A_PICK>(pair_pick).set<A_REVERSE>(pair_reverse);
    register_datatype(r);
    lex::g_make_pair = make_pair_literal;
}

}  // namespace

KEL_DATATYPE(T_PAIR, init_pair);

}  // namespace kel::dt
