// tuple! datatype: 3 to 12 unsigned bytes held in the cell itself (versions, colours).
// Every arithmetic result is clamped to a byte, so a colour never wraps around.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype_init.h"
#include "datatypes/float.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/path.h"
#include "datatypes/random.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "lexer/literal_hooks.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

Cell* make_tuple_at(Cell* c, const u8* bytes, u32 count) {
    c->header = (c->header & ~(CELL_TYPE_MASK | TUPLE_LENGTH_MASK)) | T_TUPLE | (count << TUPLE_LENGTH_SHIFT);
    c->data1 = c->data2 = c->data3 = 0;
    std::memcpy(tuple_bytes(c), bytes, count);
    return c;
}

bool tuple_zero_q(const Cell* c) {
    const u8* b = tuple_bytes(c);
    for (u32 i = 0; i < tuple_length(c); ++i)
        if (b[i]) return false;
    return true;
}

namespace {

inline void set_tuple_length(Cell* c, u32 n) {
    c->header = (c->header & ~TUPLE_LENGTH_MASK) | (n << TUPLE_LENGTH_SHIFT);
}

Cell* push_tuple(const u8* bytes, u32 count) {
    Cell* c = stack_push_slot();
    c->header = 0;
    return make_tuple_at(c, bytes, count);
}

u8 clamp_byte(i64 v) { return u8(v < 0 ? 0 : v > 255 ? 255 : v); }

// A float result truncated toward zero and clamped; NaN reads as 0.
u8 clamp_float_byte(double d) {
    if (!(d > 0)) return 0;
    return d >= 255.0 ? 255 : u8(std::trunc(d));
}

}  // namespace

void tuple_do_math(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    if (type_of(left) != T_TUPLE) {
        if (code == OP_SUBTRACT) num::raise_not_related("subtract", type_of(left));
        if (code == OP_DIVIDE) num::raise_not_related("divide", type_of(left));
        std::swap(*left, *right);
    }
    u8* b = tuple_bytes(left);
    u32 length = tuple_length(left);
    switch (type_of(right)) {
        case T_FLOAT:
        case T_PERCENT: {
            double f = get_float(right);
            for (u32 i = 0; i < length; ++i) b[i] = clamp_float_byte(float_math_op(double(b[i]), f, code));
            return;
        }
        case T_INTEGER:
        case T_TUPLE: break;
        default: num::raise_invalid_type(type_of(right));
    }
    bool is_tuple = type_of(right) == T_TUPLE;
    u32 right_length = is_tuple ? tuple_length(right) : 0;
    u32 n = std::max(length, right_length);
    u8 out[12] = {};
    for (u32 i = 0; i < n; ++i) {
        i32 l = i < length ? b[i] : 0;
        i32 r = is_tuple ? (i < right_length ? tuple_bytes(right)[i] : 0) : get_integer(right);
        Cell scratch;
        set_cell(&scratch, T_INTEGER);
        // Division asks for no float result: it truncates.
        i32 v = integer_do_math(l, r, code, code == OP_DIVIDE ? nullptr : &scratch);
        if (type_of(&scratch) == T_FLOAT) out[i] = get_float(&scratch) > 0.0 ? 255 : 0;
        else out[i] = clamp_byte(v);
    }
    make_tuple_at(left, out, n);
}

namespace {

void tuple_add() { tuple_do_math(OP_ADD); }
void tuple_subtract() { tuple_do_math(OP_SUBTRACT); }
void tuple_multiply() { tuple_do_math(OP_MULTIPLY); }
void tuple_divide() { tuple_do_math(OP_DIVIDE); }
void tuple_remainder() { tuple_do_math(OP_REMAINDER); }
void tuple_or() { tuple_do_math(OP_OR); }
void tuple_and() { tuple_do_math(OP_AND); }
void tuple_xor() { tuple_do_math(OP_XOR); }

Cell* tuple_complement(Cell* v) {
    u8* b = tuple_bytes(v);
    for (u32 i = 0; i < tuple_length(v); ++i) b[i] = u8(~b[i]);
    return v;
}

i32 tuple_length_q(Cell* v) { return i32(tuple_length(v)); }

i32 hex_digit(u32 c) {
    c &= 0x7F;
    if (c >= '0' && c <= '9') return i32(c - '0');
    if (c >= 'A' && c <= 'F') return i32(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return i32(c - 'a' + 10);
    return -1;
}

Cell* tuple_from_issue(Cell* spec) {
    u32 symbol = word_symbol(spec);
    const u8* text = reinterpret_cast<const u8*>(symbol_name(symbol));
    u32 length = symbol_name_length(symbol);
    if (length != 3 && length != 6 && length != 8) raise_error(Err::script_invalid_data, spec);
    i32 digits[8];
    for (u32 i = 0; i < length; ++i) {
        digits[i] = hex_digit(text[i]);
        if (digits[i] < 0) raise_error(Err::script_invalid_data, spec);
    }
    u8 bytes[4];
    if (length == 3) {
        for (u32 i = 0; i < 3; ++i) bytes[i] = u8(digits[i] * 17);
        return push_tuple(bytes, 3);
    }
    for (u32 i = 0; i < length / 2; ++i) bytes[i] = u8(digits[2 * i] * 16 + digits[2 * i + 1]);
    return push_tuple(bytes, length / 2);
}

Cell* tuple_make(Cell*, Cell* spec, u32) {
    TypeId st = type_of(spec);
    u8 bytes[12] = {};
    if (num::is_text_type(st)) return scan_text_as(spec, T_TUPLE);
    switch (st) {
        case T_TUPLE: return spec;
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: {
            i32 count = ks_length_q(spec);
            if (count < 0) count = 0;
            if (count > 12) num::raise_bad_to_arg(T_TUPLE, spec);
            Cell b = *spec;
            const Cell* v = ks_head(&b);
            for (i32 i = 0; i < count; ++i) {
                i64 n;
                switch (type_of(v + i)) {
                    case T_INTEGER:
                    case T_CHAR: n = get_integer(v + i); break;
                    case T_FLOAT: {
                        double d = std::trunc(get_float(v + i));
                        n = (d >= 0.0 && d <= 255.0) ? i64(d) : -1;
                        break;
                    }
                    default: n = -1; break;
                }
                if (n < 0 || n > 255) num::raise_bad_to_arg(T_TUPLE, spec);
                bytes[i] = u8(n);
            }
            return push_tuple(bytes, u32(std::max(count, 3)));
        }
        case T_BINARY: {
            num::UnitRange r = num::series_units(spec);
            u32 count = std::min(r.count, 12u);
            std::memcpy(bytes, r.start, count);
            return push_tuple(bytes, std::max(count, 3u));
        }
        case T_ISSUE: return tuple_from_issue(spec);
        default: num::raise_bad_to_arg(T_TUPLE, spec);
    }
}

i32 tuple_form(Cell* value, Cell* out, Cell*, i32 limit) {
    u32 before = string_length(out);
    const u8* b = tuple_bytes(value);
    for (u32 i = 0; i < tuple_length(value); ++i) {
        if (i) append_char(out, '.');
        append_c_string(out, integer_to_text(b[i]));
    }
    return limit - i32(string_length(out) - before);
}

i32 tuple_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return tuple_form(value, out, part, limit);
}

i32 tuple_compare(Cell* v1, Cell* v2, i32) {
    if (type_of(v2) != T_TUPLE) return -2;
    u32 n = std::max(tuple_length(v1), tuple_length(v2));
    for (u32 i = 0; i < n; ++i) {
        u32 a = i < tuple_length(v1) ? tuple_bytes(v1)[i] : 0;
        u32 b = i < tuple_length(v2) ? tuple_bytes(v2)[i] : 0;
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

Cell* tuple_pick(Cell* v, i32 index, Cell* index_cell) {
    if (index < 1 || u32(index) > tuple_length(v)) raise_error(Err::script_out_of_range, index_cell);
    return push_integer(tuple_bytes(v)[index - 1]);
}

Cell* tuple_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                      bool case_, bool, bool) {
    if (type_of(element) != T_INTEGER) num::raise_invalid_type(type_of(element));
    i32 i = get_integer(element);
    if (!value) return tuple_pick(parent, i, element);
    if (type_of(value) != T_INTEGER && type_of(value) != T_NONE) num::raise_invalid_type(type_of(value));
    u32 length = tuple_length(parent);
    if (i < 1 || u32(i) > length) raise_error(Err::script_out_of_range, element);
    u8* b = tuple_bytes(parent);
    if (type_of(value) == T_INTEGER) {
        b[i - 1] = clamp_byte(get_integer(value));
    } else {
        // none cuts the tuple from the index on, keeping at least three parts.
        for (u32 k = u32(i - 1); k < 12; ++k) b[k] = 0;
        set_tuple_length(parent, std::max(u32(i - 1), 3u));
    }
    if (gparent) store_back_path_value(parent, gparent, p_item, path, index, case_);
    return value;
}

Cell* tuple_reverse(Cell* v, Cell* part, Cell* skip) {
    u32 length = tuple_length(v);
    u32 n = length;
    if (part) {
        if (type_of(part) != T_INTEGER) raise_invalid_refine(REF_PART, part);
        if (get_integer(part) < 0) raise_error(Err::script_out_of_range, part);
        n = std::min(u32(get_integer(part)), length);
    }
    u32 size = 1;
    if (skip) {
        if (type_of(skip) != T_INTEGER) raise_invalid_refine(REF_SKIP, skip);
        i32 s = get_integer(skip);
        if (s < 1) raise_error(Err::script_out_of_range, skip);
        if (u32(s) == length) return v;
        if (u32(s) > length || length % u32(s) != 0) raise_invalid_refine(REF_SKIP, skip);
        size = u32(s);
    }
    u8* b = tuple_bytes(v);
    u8 copy[12];
    std::memcpy(copy, b, 12);
    u32 records = n / size;
    for (u32 r = 0; r < records; ++r)
        std::memcpy(b + r * size, copy + (records - 1 - r) * size, size);
    return v;
}

Cell* tuple_random(Cell* v, bool seed, bool secure, bool) {
    if (seed) {
        random_seed(v->data1 ^ v->data2 ^ v->data3);
        set_cell(v, T_UNSET);
        return v;
    }
    u8* b = tuple_bytes(v);
    for (u32 i = 0; i < tuple_length(v); ++i) b[i] = u8(random_int(secure, b[i] + 1) - 1);
    return v;
}

void make_tuple_literal(Cell* out, const u8* bytes, u32 count) { make_tuple_at(out, bytes, count); }

void init_tuple() {
    TypeRegistration r(T_TUPLE, 0, "tuple!");
    r.set<A_MAKE>(tuple_make).set<A_RANDOM>(tuple_random).set<A_TO>(tuple_make);
    r.set<A_FORM>(tuple_form).set<A_MOLD>(tuple_mold).set<A_EVAL_PATH>(tuple_eval_path);
    r.set<A_COMPARE>(tuple_compare).set<A_ADD>(tuple_add).set<A_DIVIDE>(tuple_divide);
    r.set<A_MULTIPLY>(tuple_multiply).set<A_REMAINDER>(tuple_remainder).set<A_SUBTRACT>(tuple_subtract);
    r.set<A_AND_T>(tuple_and).set<A_COMPLEMENT>(tuple_complement).set<A_OR_T>(tuple_or);
    r.set<A_XOR_T>(tuple_xor).set<A_LENGTH_Q>(tuple_length_q).set<A_PICK>(tuple_pick);
    r.set<A_REVERSE>(tuple_reverse);
    register_datatype(r);
    lex::g_make_tuple = make_tuple_literal;
}

}  // namespace

KEL_DATATYPE(T_TUPLE, init_tuple);

}  // namespace kel::dt
