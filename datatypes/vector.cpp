// vector! datatype: numbers packed in a byte buffer, one element type (char!, integer!,
// float!, percent!) and one width (1, 2, 4 or 8 bytes) per vector. Navigation and most series
// actions come from string!; elements become values through the series element hooks.
//
// Integer elements keep the low bits of what is stored (300 in an 8-bit vector is 44) and
// their arithmetic wraps around in 32 bits, as packed machine numbers do.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype_init.h"
#include "datatypes/float.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/sort.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

using i8 = int8_t;
using i16 = int16_t;

constexpr u64 MAX_VECTOR_BYTES = 0x7FFFFFF0;

inline bool int_family(u32 t) { return t == T_CHAR || t == T_INTEGER; }
inline bool float_family(u32 t) { return t == T_FLOAT || t == T_PERCENT; }
inline u32 default_width(u32 element_type) { return int_family(element_type) ? 4 : 8; }

// ---- element storage --------------------------------------------------------------------

inline i32 read_int(const u8* p, u32 width) {
    switch (width) {
        case 1: return i8(*p);
        case 2: { i16 v; std::memcpy(&v, p, 2); return v; }
        default: { i32 v; std::memcpy(&v, p, 4); return v; }
    }
}
inline void write_int(u8* p, u32 width, i32 v) {
    switch (width) {
        case 1: *p = u8(v); break;
        case 2: { u16 s = u16(v); std::memcpy(p, &s, 2); break; }
        default: std::memcpy(p, &v, 4); break;
    }
}
inline double read_float(const u8* p, u32 width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}
inline void write_float(u8* p, u32 width, double d) {
    if (width == 4) {
        float f = float(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

// A value of either family stored by the writing rules.
void store_value(u8* p, u32 width, const Cell* v) {
    if (float_family(type_of(v))) write_float(p, width, get_float(v));
    else write_int(p, width, get_integer(v));
}

struct View {
    u8* head;
    u32 count;
    u32 width;
};
View view_of(const Cell* v) {
    SeriesBuffer* b = series_buffer(v);
    u32 width = b->unit();
    u32 total = b->used_bytes() / width;
    i32 h = series_head(v);
    u32 head = h < 0 ? 0 : std::min(u32(h), total);
    return View{at(b->offset) + size_t(head) * width, total - head, width};
}

// A new vector of `count` zero elements on the argument stack.
Cell* push_vector(u32 element_type, u32 width, u64 count) {
    if (count * width > MAX_VECTOR_BYTES) raise_error(Err::internal_no_memory);
    Cell* c = stack_push_slot();
    set_cell(c, T_NONE);
    Node node = alloc_series(u32(std::max<u64>(count, 1)), width, 0);
    SeriesBuffer* b = buffer_of(node);
    std::memset(at(b->offset), 0, size_t(count) * width);
    b->tail = b->offset + u32(count * width);
    set_cell(c, T_VECTOR, 0, node, element_type);
    return c;
}

// ---- the series element hooks -------------------------------------------------------------

Cell* vector_get_value(const u8* p, u32 width, u32 element_type) {
    Cell* c = stack_push_slot();
    if (int_family(element_type)) {
        set_cell(c, element_type, 0, u32(read_int(p, width)));
    } else if (float_family(element_type)) {
        set_cell(c, element_type);
        set_float_payload(c, read_float(p, width));
    } else {
        fatal_no_switch();
    }
    return c;
}

void vector_set_value(u8* p, const Cell* value, u32 width) {
    if (!int_family(type_of(value)) && !float_family(type_of(value))) num::raise_invalid_type(type_of(value));
    store_value(p, width, value);
}

Cell* vector_to_block(const Cell* vector, Cell* out) {
    u32 count = view_of(vector).count;
    u32 et = vector->data3;
    Cell v = *vector;
    make_block_at(out, i32(std::max(count, 1u)));
    for (u32 i = 0; i < count; ++i) {
        Cell* c = block_alloc_tail(out->data2);
        // The vector's buffer is read again after each allocation.
        View w = view_of(&v);
        if (int_family(et)) {
            set_cell(c, et, 0, u32(read_int(w.head + size_t(i) * w.width, w.width)));
        } else {
            set_cell(c, et);
            set_float_payload(c, read_float(w.head + size_t(i) * w.width, w.width));
        }
    }
    return out;
}

// ---- make -----------------------------------------------------------------------------------

[[noreturn]] void raise_bad_make(const Cell* spec) {
    Cell dt = num::datatype_cell(T_VECTOR);
    raise_error(Err::script_bad_make_arg, &dt, spec);
}

u32 element_type_of_word(const Cell* word) {
    u32 symbol = word_symbol(word);
    const char* name = symbol_name(symbol);
    u32 length = symbol_name_length(symbol);
    for (u32 t : {T_CHAR, T_INTEGER, T_FLOAT, T_PERCENT}) {
        const char* n = datatype_name(t);
        if (std::strlen(n) == length && std::memcmp(n, name, length) == 0) return t;
    }
    return 0;
}

Cell* vector_make(Cell*, Cell* spec, u32) {
    switch (type_of(spec)) {
        case T_INTEGER: return push_vector(T_INTEGER, 4, u64(std::max(get_integer(spec), 0)));
        case T_FLOAT: {
            double d = std::trunc(get_float(spec));
            if (!(d >= -2147483648.0 && d <= 2147483647.0)) {
                Cell dt = num::datatype_cell(T_INTEGER);
                raise_error(Err::script_type_limit, &dt);
            }
            return push_vector(T_FLOAT, 8, u64(std::max(d, 0.0)));
        }
        case T_BLOCK: break;
        default: raise_error(Err::internal_not_done);
    }
    Cell b = *spec;
    i32 length = std::max(ks_length_q(spec), 0);
    const Cell* cells = ks_head(&b);
    if (length == 0) num::raise_invalid_type(T_BLOCK);
    u32 et, width;
    i64 size = 0;
    const Cell* values = nullptr;
    i32 value_count = 0;
    if (type_of(cells) == T_WORD) {
        if (length < 2) raise_bad_make(spec);
        et = element_type_of_word(cells);
        if (!et) raise_bad_make(spec);
        i32 i = 1;
        if (type_of(cells + 1) == T_INTEGER) {
            i32 bits = get_integer(cells + 1);
            bool ok = int_family(et) ? (bits == 8 || bits == 16 || bits == 32)
                                     : et == T_FLOAT ? (bits == 32 || bits == 64) : bits == 64;
            if (!ok) raise_bad_make(spec);
            width = u32(bits) / 8;
            i = 2;
        } else if (et == T_PERCENT) {
            width = 8;
        } else {
            raise_error(Err::script_invalid_spec_field, spec);
        }
        if (i < length && type_of(cells + i) == T_INTEGER) size = get_integer(cells + i++);
        if (i < length && type_of(cells + i) == T_BLOCK) {
            Cell inner = cells[i++];
            value_count = std::max(ks_length_q(&inner), 0);
            values = ks_head(&inner);
        }
        if (i < length) raise_error(Err::script_invalid_spec_field, spec);
    } else {
        et = type_of(cells);
        if (!int_family(et) && !float_family(et)) num::raise_invalid_type(et);
        width = default_width(et);
        values = cells;
        value_count = length;
    }
    for (i32 i = 0; i < value_count; ++i)
        if (type_of(values + i) != et) raise_error(Err::script_invalid_arg, values + i);
    i64 count = std::max<i64>(size, value_count);
    // The values are copied aside: making the buffer may move the spec's.
    std::vector<Cell> copy(values, values + value_count);
    Cell* result = push_vector(et, width, u64(std::max<i64>(count, 0)));
    View w = view_of(result);
    for (i32 i = 0; i < value_count; ++i) store_value(w.head + size_t(i) * width, width, &copy[size_t(i)]);
    return result;
}

// ---- text -------------------------------------------------------------------------------------

// The text of element i; molded chars when `mold`.
void append_element(Cell* out, const Cell* vector, u32 i, bool mold) {
    View w = view_of(vector);
    const u8* p = w.head + size_t(i) * w.width;
    switch (vector->data3) {
        case T_CHAR: {
            u32 cp = u32(read_int(p, w.width));
            if (mold) {
                append_c_string(out, "#\"");
                append_char_escape(out, cp, false);
                append_char(out, '"');
            } else {
                append_char(out, cp);
            }
            break;
        }
        case T_INTEGER: append_c_string(out, integer_to_text(read_int(p, w.width))); break;
        case T_FLOAT:
            append_c_string(out, form_float_value(read_float(p, w.width),
                                                  w.width == 4 ? FLOAT_TEXT_FLOAT32 : FLOAT_TEXT_FLOAT));
            break;
        default:
            append_c_string(out, form_float_value(read_float(p, w.width) * 100.0,
                                                  w.width == 4 ? FLOAT_TEXT_PERCENT32 : FLOAT_TEXT_PERCENT));
            break;
    }
}

// The elements separated by spaces, stopping when the budget runs out.
i32 append_elements(Cell* vector, Cell* out, i32 limit, bool mold, u32 before) {
    u32 count = view_of(vector).count;
    for (u32 i = 0; i < count; ++i) {
        if (i) append_char(out, ' ');
        append_element(out, vector, i, mold);
        if (limit - i32(string_length(out) - before) <= 0) break;
    }
    return limit - i32(string_length(out) - before);
}

i32 vector_form(Cell* value, Cell* out, Cell*, i32 limit) {
    return append_elements(value, out, limit, false, string_length(out));
}

i32 vector_mold(Cell* value, Cell* out, bool, bool, bool, Cell*, i32 limit, i32) {
    u32 before = string_length(out);
    View w = view_of(value);
    bool typed = w.count == 0 || w.width != default_width(value->data3);
    append_c_string(out, "make vector! [");
    if (typed) {
        append_c_string(out, datatype_name(value->data3));
        append_char(out, ' ');
        append_c_string(out, integer_to_text(i32(w.width * 8)));
        append_c_string(out, " [");
    }
    append_elements(value, out, limit, true, before);
    append_c_string(out, typed ? "]]" : "]");
    return limit - i32(string_length(out) - before);
}

// ---- comparison -----------------------------------------------------------------------------

i32 vector_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != T_VECTOR) return -2;
    if (v1->data3 != v2->data3) raise_error(Err::script_not_same_type);
    if (series_node(v1) == series_node(v2) && series_head(v1) == series_head(v2)) return 0;
    if (op == 9) return 1;
    View a = view_of(v1), b = view_of(v2);
    bool equality = op == 0 || op == 1 || op == 2 || op == 10 || op == 11 || op == 12;
    if (equality && a.count != b.count) return a.count < b.count ? -1 : 1;
    u32 n = std::min(a.count, b.count);
    bool ints = int_family(v1->data3);
    for (u32 i = 0; i < n; ++i) {
        const u8* p = a.head + size_t(i) * a.width;
        const u8* q = b.head + size_t(i) * b.width;
        if (ints) {
            i32 x = read_int(p, a.width), y = read_int(q, b.width);
            if (x != y) return x < y ? -1 : 1;
        } else {
            double x = read_float(p, a.width), y = read_float(q, b.width);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return a.count == b.count ? 0 : a.count < b.count ? -1 : 1;
}

// ---- arithmetic -------------------------------------------------------------------------------

// 32-bit integer operation that wraps; the divisor is checked by the caller.
inline i32 int_op(i32 a, i32 b, i32 code) {
    switch (code) {
        case OP_ADD: return i32(u32(a) + u32(b));
        case OP_SUBTRACT: return i32(u32(a) - u32(b));
        case OP_MULTIPLY: return i32(u32(a) * u32(b));
        case OP_DIVIDE: return b == -1 ? i32(0u - u32(a)) : a / b;
        case OP_REMAINDER: return b == -1 ? 0 : a % b;
        case OP_OR: return a | b;
        case OP_AND: return a & b;
        default: return a ^ b;
    }
}

// Every element of a width-T run changed by f, in place.
template <typename T, typename F>
void each_int(u8* p, u32 n, F f) {
    for (u32 i = 0; i < n; ++i) {
        T e;
        std::memcpy(&e, p + size_t(i) * sizeof(T), sizeof(T));
        T r = T(f(i32(e)));
        std::memcpy(p + size_t(i) * sizeof(T), &r, sizeof(T));
    }
}

template <typename T>
void scalar_int_loop(u8* p, u32 n, i32 s, i32 code) {
    switch (code) {
        case OP_ADD: each_int<T>(p, n, [s](i32 e) { return i32(u32(e) + u32(s)); }); break;
        case OP_SUBTRACT: each_int<T>(p, n, [s](i32 e) { return i32(u32(e) - u32(s)); }); break;
        case OP_MULTIPLY: each_int<T>(p, n, [s](i32 e) { return i32(u32(e) * u32(s)); }); break;
        default: each_int<T>(p, n, [s, code](i32 e) { return int_op(e, s, code); }); break;
    }
}

void scalar_ints(View w, i32 s, i32 code) {
    switch (w.width) {
        case 1: scalar_int_loop<i8>(w.head, w.count, s, code); break;
        case 2: scalar_int_loop<i16>(w.head, w.count, s, code); break;
        default: scalar_int_loop<i32>(w.head, w.count, s, code); break;
    }
}

template <typename T>
void scalar_float_loop(u8* p, u32 n, double s, i32 code) {
    for (u32 i = 0; i < n; ++i) {
        T e;
        std::memcpy(&e, p + size_t(i) * sizeof(T), sizeof(T));
        T r;
        switch (code) {
            case OP_ADD: r = T(double(e) + s); break;
            case OP_SUBTRACT: r = T(double(e) - s); break;
            case OP_MULTIPLY: r = T(double(e) * s); break;
            case OP_DIVIDE: r = T(double(e) / s); break;
            default: r = T(float_math_op(double(e), s, code)); break;
        }
        std::memcpy(p + size_t(i) * sizeof(T), &r, sizeof(T));
    }
}

bool is_identity(i32 code, bool zero, bool one) {
    return ((code == OP_ADD || code == OP_SUBTRACT) && zero) || ((code == OP_MULTIPLY || code == OP_DIVIDE) && one);
}

// The vector in `v` changed in place by the scalar.
void scalar_math(Cell* v, const Cell* scalar, i32 code) {
    u32 st = type_of(scalar);
    if (float_family(v->data3)) {
        double s;
        if (st == T_INTEGER || st == T_CHAR) s = get_integer(scalar);
        else if (float_family(st)) s = get_float(scalar);
        else raise_error(Err::internal_not_done);
        if (is_identity(code, s == 0.0, s == 1.0)) return;
        if (code >= OP_OR) float_math_op(0.0, s, code);  // the bitwise codes refuse floats
        View w = view_of(v);
        if (w.width == 4) scalar_float_loop<float>(w.head, w.count, s, code);
        else scalar_float_loop<double>(w.head, w.count, s, code);
        return;
    }
    i32 s;
    if (st == T_INTEGER || st == T_CHAR) {
        s = get_integer(scalar);
    } else if (float_family(st)) {
        double d = std::trunc(get_float(scalar));
        if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_error(Err::math_overflow);
        s = i32(d);
    } else {
        raise_error(Err::internal_not_done);
    }
    if (is_identity(code, s == 0, s == 1)) return;
    if ((code == OP_DIVIDE || code == OP_REMAINDER) && s == 0) raise_error(Err::math_zero_divide);
    scalar_ints(view_of(v), s, code);
}

// Two vectors: a new one, the wider width, as many elements as the shorter.
Cell* vector_pair_math(Cell* a, Cell* b, i32 code) {
    if (a->data3 != b->data3) raise_error(Err::script_not_same_type);
    u32 et = a->data3;
    View x = view_of(a), y = view_of(b);
    u32 width = std::max(x.width, y.width);
    u32 n = std::min(x.count, y.count);
    Cell* result = push_vector(et, width, n);
    x = view_of(a);
    y = view_of(b);
    View r = view_of(result);
    for (u32 i = 0; i < n; ++i) {
        const u8* p = x.head + size_t(i) * x.width;
        const u8* q = y.head + size_t(i) * y.width;
        u8* o = r.head + size_t(i) * width;
        if (int_family(et)) {
            i32 d = read_int(q, y.width);
            if ((code == OP_DIVIDE || code == OP_REMAINDER) && d == 0) raise_error(Err::math_zero_divide);
            write_int(o, width, int_op(read_int(p, x.width), d, code));
        } else {
            write_float(o, width, float_math_op(read_float(p, x.width), read_float(q, y.width), code));
        }
    }
    return result;
}

void vector_math(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    if (type_of(right) == T_VECTOR) {
        Cell* r = vector_pair_math(left, right, code);
        *left = *r;
        return;
    }
    scalar_math(left, right, code);
}

void vector_add() { vector_math(OP_ADD); }
void vector_subtract() { vector_math(OP_SUBTRACT); }
void vector_multiply() { vector_math(OP_MULTIPLY); }
void vector_divide() { vector_math(OP_DIVIDE); }
void vector_remainder() { vector_math(OP_REMAINDER); }
void vector_or() { vector_math(OP_OR); }
void vector_and() { vector_math(OP_AND); }
void vector_xor() { vector_math(OP_XOR); }

// ---- append, insert, change ------------------------------------------------------------------

// The values to store: a single value, or the values of a block kind (at most `part`); each
// checked against the vector's family before anything changes.
std::vector<Cell> values_to_store(const Cell* vector, Cell* value, i32 part, bool only) {
    std::vector<Cell> values;
    u32 t = type_of(value);
    if (!only && (t == T_BLOCK || t == T_PAREN || t == T_HASH)) {
        Cell b = *value;
        i32 n = std::max(ks_length_q(value), 0);
        if (part >= 0 && part < n) n = part;
        const Cell* c = ks_head(&b);
        values.assign(c, c + n);
    } else {
        values.push_back(*value);
    }
    bool ints = int_family(vector->data3);
    for (const Cell& v : values)
        if (ints ? !int_family(type_of(&v)) : !float_family(type_of(&v))) raise_error(Err::script_invalid_arg, &v);
    return values;
}

// Replaces `removed` elements at `pos` by the values, `dup` times; answers the count written.
u64 splice(Cell* vector, u32 pos, u32 removed, const std::vector<Cell>& values, i32 dup) {
    u64 copies = dup >= 2 ? u64(dup) : 1;
    u64 written = u64(values.size()) * copies;
    SeriesBuffer* b = series_buffer(vector);
    u32 width = b->unit();
    u32 total = b->used_bytes() / width;
    if (pos > total) pos = total;
    if (removed > total - pos) removed = total - pos;
    u64 new_total = u64(total) - removed + written;
    if (new_total * width > MAX_VECTOR_BYTES || written * width > MAX_VECTOR_BYTES)
        raise_error(Err::internal_no_memory);
    if (written == 0 && removed == 0) return 0;
    if (b->offset + new_total * width > b->data_end()) b = expand_series(b, i64(new_total * width) * 2);
    u8* base = at(b->offset);
    std::memmove(base + (pos + written) * width, base + size_t(pos + removed) * width,
                 size_t(total - pos - removed) * width);
    u8* w = base + size_t(pos) * width;
    for (size_t i = 0; i < values.size(); ++i) store_value(w + i * width, width, &values[i]);
    u64 run = u64(values.size()) * width;
    for (u64 done = run, want = written * width; done < want;) {
        u64 n = std::min(done, want - done);
        std::memcpy(w + done, w, n);
        done += n;
    }
    b->tail = b->offset + u32(new_total * width);
    return written;
}

u32 clamped_head(const Cell* v) {
    i32 h = series_head(v);
    u32 total = u32(ks_buffer_length(v));
    return h < 0 ? 0 : std::min(u32(h), total);
}

Cell* vector_insert(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append) {
    std::vector<Cell> values = values_to_store(series, value, part, only);
    u32 pos = append ? u32(ks_buffer_length(series)) : clamped_head(series);
    i32 added = i32(std::min<u64>(u64(values.size()) * u64(std::max(dup, 1)), 0x7FFFFFFF));
    bool owned = ownership_check(series, append ? Change::append : Change::insert, value, i32(pos), added);
    if (owned) pos = append ? u32(ks_buffer_length(series)) : clamped_head(series);
    u64 written = splice(series, pos, 0, values, dup);
    if (owned) ownership_check(series, append ? Change::appended : Change::inserted, value, i32(pos), added);
    if (!append) series->data1 = u32(pos + written);
    return series;
}

Cell* vector_change(Cell* series, Cell* value, i32 part, bool only, i32 dup) {
    std::vector<Cell> values = values_to_store(series, value, -1, only);
    u64 written = u64(values.size()) * u64(std::max(dup, 1));
    u32 head = clamped_head(series);
    u64 replaced = part >= 0 ? u64(part) : written;
    i32 reported = i32(std::min<u64>(replaced, 0x7FFFFFFF));
    bool owned = ownership_check(series, Change::change, value, i32(head), reported);
    if (owned) head = clamped_head(series);
    splice(series, head, u32(std::min<u64>(replaced, 0xFFFFFFFF)), values, dup);
    if (owned) ownership_check(series, Change::changed, value, i32(head), reported);
    u64 end = head + written;
    u64 total = u64(ks_buffer_length(series));
    series->data1 = u32(std::min(end, total));
    return series;
}

// take without /part answers the element itself, as a value of the element type.
Cell* vector_take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* taken = series_take(series, part, deep, last);
    if (part || type_of(taken) == T_NONE) return taken;
    SeriesBuffer* b = series_buffer(taken);
    return vector_get_value(at(b->offset), b->unit(), series->data3);
}

// ---- find, select, sort -------------------------------------------------------------------
//
// Elements are numbers, not characters: they are found and ordered by value at the vector's
// own width, integers exactly, floats with float equality (exact under /case or /same).

// An element as a double: integers fit exactly.
inline double element_number(const u8* p, u32 width, bool floats) {
    return floats ? read_float(p, width) : double(read_int(p, width));
}

inline bool number_type(u32 t) { return int_family(t) || float_family(t); }

// What find looks for: one number, or the run of a vector's elements from its head.
struct Needle {
    std::vector<double> values;
    bool exact_ints;  // every needle value is an integer compared with integer elements
};

bool needle_of(const Cell* vector, Cell* value, Needle& nd) {
    bool ints = int_family(vector->data3);
    if (number_type(type_of(value))) {
        bool value_int = int_family(type_of(value));
        nd.values.push_back(value_int ? double(get_integer(value)) : get_float(value));
        nd.exact_ints = ints && value_int;
        return true;
    }
    if (type_of(value) == T_VECTOR) {
        View w = view_of(value);
        bool floats = float_family(value->data3);
        for (u32 i = 0; i < w.count; ++i) nd.values.push_back(element_number(w.head + size_t(i) * w.width, w.width, floats));
        nd.exact_ints = ints && !floats;
        return true;
    }
    return false;
}

Cell* vector_at(const Cell* series, i64 index) {
    Cell* r = stack_push(series);
    r->data1 = u32(i32(index));
    return r;
}

// The index (from the buffer's start) where the needle matches, or -1.
i64 vector_find_index(Cell* series, Cell* value, Cell* part, bool strict, bool any, Cell* with, Cell* skip, bool last,
                      bool reverse, bool match, i64* needle_length) {
    if (any || with) raise_error(Err::internal_not_done);
    i64 step = find_step(skip);
    Needle nd;
    if (!needle_of(series, value, nd)) return -1;
    SeriesBuffer* b = series_buffer(series);
    u32 width = b->unit();
    i64 total = b->used_bytes() / width;
    i64 head = std::clamp<i64>(series_head(series), 0, total);
    i64 range_start = head, range_end = total;
    if (part) {
        i64 n = series_part_count(series, part);
        if (n < 1) return -1;
        range_end = std::min(range_end, head + n);
    }
    bool floats = float_family(series->data3);
    // Against float32 elements a value counts as its nearest float32.
    if (floats && width == 4)
        for (double& v : nd.values) v = double(float(v));
    i64 m = i64(nd.values.size());
    *needle_length = m;
    if (m == 0) return reverse || match ? -1 : (last ? range_end : range_start);
    const u8* data = at(b->offset);
    auto equal = [&](double e, double v) {
        return nd.exact_ints || strict ? e == v : dt::float_almost_equal_q(e, v);
    };
    auto matches_at = [&](i64 p) {
        if (p < range_start || p + m > range_end) return false;
        for (i64 k = 0; k < m; ++k)
            if (!equal(element_number(data + size_t(p + k) * width, width, floats), nd.values[size_t(k)])) return false;
        return true;
    };
    if (reverse) {
        if (match) return -1;
        range_start = 0;
        range_end = std::min(total, head + m - 1);
        for (i64 p = head - 1; p >= 0; p -= step)
            if (matches_at(p - m + 1)) return p - m + 1;
        return -1;
    }
    if (last) {
        for (i64 p = range_end - 1; p >= range_start; p -= step)
            if (matches_at(p - m + 1)) return p - m + 1;
        return -1;
    }
    for (i64 p = range_start; p < range_end; p += step) {
        if (matches_at(p)) return p;
        if (match) break;
    }
    return -1;
}

Cell* vector_find(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any, Cell* with, Cell* skip,
                  bool last, bool reverse, bool tail, bool match) {
    i64 m = 0;
    i64 found = vector_find_index(series, value, part, case_ || same, any, with, skip, last, reverse, match, &m);
    if (found < 0) return &g_none_cell;
    return vector_at(series, tail ? found + m : found);
}

Cell* vector_select(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any, Cell* with,
                    Cell* skip, bool last, bool reverse) {
    i64 m = 0;
    i64 found = vector_find_index(series, value, part, case_ || same, any, with, skip, last, reverse, false, &m);
    if (found < 0) return &g_none_cell;
    SeriesBuffer* b = series_buffer(series);
    u32 width = b->unit();
    i64 pos = found + m;
    if (pos >= i64(b->used_bytes() / width)) return &g_none_cell;
    return vector_get_value(at(b->offset) + size_t(pos) * width, width, series->data3);
}

struct VectorSort {
    u32 width;
    u32 record;  // elements per record
    u32 offset;  // element compared without /all
    bool all;
    bool floats;
    bool reverse;
};

i32 vector_sort_compare(const u8* x, const u8* y, intptr_t word1, intptr_t) {
    const VectorSort& s = *reinterpret_cast<const VectorSort*>(word1);
    u32 from = s.all ? 0 : s.offset, to = s.all ? s.record : s.offset + 1;
    i32 r = 0;
    for (u32 i = from; i < to && r == 0; ++i) {
        double a = element_number(x + i * s.width, s.width, s.floats);
        double b = element_number(y + i * s.width, s.width, s.floats);
        // NaN sorts after every number.
        bool na = a != a, nb = b != b;
        r = na || nb ? (na && nb ? 0 : na ? 1 : -1) : a < b ? -1 : a > b ? 1 : 0;
    }
    return s.reverse ? -r : r;
}

// A /compare function orders record numbers; it is called with the records' first elements
// as values, read again through the node at each call.
struct FunctionVectorSort {
    Node node;
    u32 from;
    const VectorSort* spec;
    Cell* fn;
    u32 element_type;
};

i32 vector_call_comparator(const u8* x, const u8* y, intptr_t word1, intptr_t) {
    const FunctionVectorSort& f = *reinterpret_cast<const FunctionVectorSort*>(word1);
    u32 i, j;
    std::memcpy(&i, x, sizeof i);
    std::memcpy(&j, y, sizeof j);
    auto push_record = [&](u32 r) {
        SeriesBuffer* b = buffer_of(f.node);
        size_t index = size_t(f.from) + size_t(r) * f.spec->record + f.spec->offset;
        return vector_get_value(at(b->offset) + index * f.spec->width, f.spec->width, f.element_type);
    };
    Cell* mark = g_args.top;
    Cell* a = push_record(i);
    Cell* c = push_record(j);
    i32 answer = sort_call_comparator(a, c, f.fn, f.spec->reverse ? SORT_REVERSE : 0);
    g_args.top = mark;
    return answer;
}

Cell* vector_sort_edit(Cell* series, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    View w = view_of(series);
    i64 head = std::clamp<i64>(series_head(series), 0, i64(series_buffer(series)->used_bytes() / w.width));
    i64 n = w.count;
    if (part) {
        n = series_part_count(series, part);
        if (n < 0) {
            // A negative length sorts the run before the head.
            i64 back = std::min(-n, head);
            head -= back;
            series->data1 = u32(head);
            n = back;
        } else {
            n = std::min<i64>(n, w.count);
        }
    }
    SortRecords layout = sort_records(n, skip, comparator, all);
    VectorSort s{w.width, layout.record, layout.offset, all, float_family(series->data3), reverse};
    Cell* fn = layout.fn;
    if (n < 2 * i64(s.record)) return series;
    u32 count = u32(n / s.record);
    u32 record_bytes = s.record * s.width;
    if (!fn) {
        // Sorted where they lie: nothing allocates meanwhile.
        u8* base = at(series_buffer(series)->offset) + size_t(head) * s.width;
        if (stable) merge_sort(base, count, record_bytes, reinterpret_cast<intptr_t>(&s), 0, vector_sort_compare);
        else quick_sort(base, count, record_bytes, reinterpret_cast<intptr_t>(&s), 0, vector_sort_compare);
        return series;
    }
    FunctionVectorSort f{series_node(series), u32(head), &s, fn, series->data3};
    std::vector<u32> order(count);
    for (u32 i = 0; i < count; ++i) order[i] = i;
    u8* base = reinterpret_cast<u8*>(order.data());
    if (stable) merge_sort(base, count, sizeof(u32), reinterpret_cast<intptr_t>(&f), 0, vector_call_comparator);
    else quick_sort(base, count, sizeof(u32), reinterpret_cast<intptr_t>(&f), 0, vector_call_comparator);
    // The function may have cut the vector: records beyond its tail now are left as they are.
    SeriesBuffer* b = buffer_of(f.node);
    if (b->used_bytes() / s.width < u64(head) + u64(count) * s.record) return series;
    u8* start = at(b->offset) + size_t(head) * s.width;
    std::vector<u8> copy(start, start + size_t(count) * record_bytes);
    for (u32 r = 0; r < count; ++r)
        std::memcpy(start + size_t(r) * record_bytes, copy.data() + size_t(order[r]) * record_bytes, record_bytes);
    return series;
}

Cell* vector_sort(Cell* series, bool, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    i32 head = series_clamped_head(series);
    bool owned = ownership_check(series, Change::sort, nullptr, head, 0);
    Cell* r = vector_sort_edit(series, skip, comparator, part, all, reverse, stable);
    if (owned) ownership_check(series, Change::sorted, nullptr, head, 0);
    return r;
}

void init_vector() {
    TypeRegistration r(T_VECTOR, T_STRING, "vector!");
    r.set<A_MAKE>(vector_make).set<A_TO>(vector_make).set<A_FORM>(vector_form).set<A_MOLD>(vector_mold);
    r.set<A_COMPARE>(vector_compare).set<A_ADD>(vector_add).set<A_DIVIDE>(vector_divide);
    r.set<A_MULTIPLY>(vector_multiply).set<A_REMAINDER>(vector_remainder).set<A_SUBTRACT>(vector_subtract);
    r.set<A_AND_T>(vector_and).set<A_OR_T>(vector_or).set<A_XOR_T>(vector_xor);
    r.set<A_APPEND>(vector_insert).set<A_INSERT>(vector_insert).set<A_CHANGE>(vector_change);
    r.set<A_TAKE>(vector_take).set<A_FIND>(vector_find).set<A_SELECT>(vector_select).set<A_SORT>(vector_sort);
    for (int a : {A_RANDOM, A_REFLECT, A_EVAL_PATH, A_AT, A_BACK, A_CLEAR, A_COPY, A_HEAD, A_HEAD_Q, A_INDEX_Q,
                  A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_REMOVE, A_REVERSE, A_SKIP, A_TAIL, A_TAIL_Q,
                  A_MODIFY})
        r.inherit(a);
    register_datatype(r);
    g_vector_get_value = vector_get_value;
    g_vector_set_value = vector_set_value;
    g_vector_to_block = vector_to_block;
}

}  // namespace

void vector_math_scalar_left(i32 code) {
    Cell* left = g_args.base;
    std::swap(*left, left[1]);
    scalar_math(left, left + 1, code);
}

KEL_DATATYPE(T_VECTOR, init_vector);

}  // namespace kel::dt
