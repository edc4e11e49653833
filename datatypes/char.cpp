// char! datatype: inherits random, absolute, even? and odd? from integer!, which work on
// the same payload word and keep the cell a char!.
#include "datatypes/char.h"

#include <cmath>

#include "datatypes/datatype_init.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::dt {

using namespace rt;

Cell* make_char_in(Node block, u32 cp) {
    Cell* c = block_alloc_tail(block);
    set_cell(c, T_CHAR, 0, cp);
    return c;
}

Cell* push_char(u32 cp) {
    Cell* c = stack_push_slot();
    set_cell(c, T_CHAR, 0, cp);
    return c;
}

void char_do_math(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    i32 number;
    switch (type_of(right)) {
        case T_CHAR:
        case T_INTEGER: number = get_integer(right); break;
        case T_FLOAT: {
            double d = std::trunc(get_float(right));
            if (!(d <= 2147483647.0 && d >= -2147483648.0)) raise_error(Err::math_overflow);
            number = i32(d);
            break;
        }
        case T_VECTOR: vector_math_scalar_left(code); return;
        default: num::raise_invalid_type(type_of(right));
    }
    // Division gets no result cell, so that it always truncates.
    Cell scratch;
    set_cell(&scratch, T_UNSET);
    i32 r = integer_do_math(get_integer(left), number, code, code == OP_DIVIDE ? nullptr : &scratch);
    if (type_of(&scratch) != T_UNSET || r < 0 || u32(r) > MAX_CODE_POINT) raise_error(Err::math_overflow);
    left->data2 = u32(r);
}

namespace {

void char_add() { char_do_math(OP_ADD); }
void char_subtract() { char_do_math(OP_SUBTRACT); }
void char_multiply() { char_do_math(OP_MULTIPLY); }
void char_divide() { char_do_math(OP_DIVIDE); }
void char_remainder() { char_do_math(OP_REMAINDER); }
void char_or() { char_do_math(OP_OR); }
void char_and() { char_do_math(OP_AND); }
void char_xor() { char_do_math(OP_XOR); }

Cell* char_make(Cell*, Cell* spec, u32) {
    TypeId st = type_of(spec);
    if (num::is_text_type(st)) {
        num::UnitRange t = num::series_units(spec);
        if (t.count == 0) num::raise_bad_to_arg(T_CHAR, spec);
        return push_char(num::unit_at(t, 0));
    }
    switch (st) {
        case T_CHAR:
        case T_INTEGER: {
            i32 v = get_integer(spec);
            if (v < 0 || u32(v) > MAX_CODE_POINT) raise_error(Err::script_out_of_range, spec);
            return push_char(u32(v));
        }
        case T_FLOAT:
        case T_PERCENT: {
            double d = std::trunc(get_float(spec));
            if (!(d >= 0.0 && d <= double(MAX_CODE_POINT))) raise_error(Err::script_out_of_range, spec);
            return push_char(u32(d));
        }
        case T_BINARY: {
            // The UTF-8 character at the index: malformed bytes raise access/invalid-utf8,
            // a sequence cut off by the tail cannot become a character.
            num::UnitRange t = num::series_units(spec);
            u32 consumed = 0;
            i32 cp = t.count ? utf8_decode_next(t.start, t.count, &consumed) : -1;
            if (cp < 0) num::raise_bad_to_arg(T_CHAR, spec);
            return push_char(u32(cp));
        }
        default: num::raise_bad_to_arg(T_CHAR, spec);
    }
}

i32 char_form(Cell* value, Cell* out, Cell*, i32 limit) {
    append_char(out, value->data2);
    return limit - 1;
}

i32 char_mold(Cell* value, Cell* out, bool, bool all, bool, Cell*, i32 limit, i32) {
    u32 before = string_length(out);
    append_c_string(out, "#\"");
    append_char_escape(out, value->data2, all);
    append_char(out, '"');
    return limit - i32(string_length(out) - before);
}

i32 char_compare(Cell* value, Cell* other, i32 op) {
    TypeId ot = type_of(other);
    if ((op == 2 || op == 12) && ot != T_CHAR) return 1;
    if (ot != T_CHAR && ot != T_INTEGER) return -2;
    i32 a = get_integer(value), b = get_integer(other);
    return a < b ? -1 : a > b ? 1 : 0;
}

void init_char() {
    TypeRegistration r(T_CHAR, T_INTEGER, "char!");
    r.set<A_MAKE>(char_make).inherit(A_RANDOM).set<A_TO>(char_make);
    r.set<A_FORM>(char_form).set<A_MOLD>(char_mold).set<A_COMPARE>(char_compare);
    r.inherit(A_ABSOLUTE).set<A_ADD>(char_add).set<A_DIVIDE>(char_divide).set<A_MULTIPLY>(char_multiply);
    r.set<A_REMAINDER>(char_remainder).set<A_SUBTRACT>(char_subtract);
    r.inherit(A_EVEN_Q).inherit(A_ODD_Q);
    r.set<A_AND_T>(char_and).set<A_OR_T>(char_or).set<A_XOR_T>(char_xor);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_CHAR, init_char);

}  // namespace kel::dt
