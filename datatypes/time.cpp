// time! datatype: seconds in a double; the float arithmetic with the time's own rules.
#include "datatypes/time.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/object.h"
#include "datatypes/path.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

const char* const kTimeFields[3] = {"hour", "minute", "second"};

double hour_part(double s) { return std::trunc(s / 3600.0); }
double minute_part(double s) { return std::floor(std::fmod(std::fabs(s), 3600.0) / 60.0); }

// The decimal text of a whole number of hours or minutes (hours may exceed 64 bits).
void append_whole(Cell* out, double v, bool two_digits) {
    char text[400];
    std::snprintf(text, sizeof text, two_digits ? "%02.0f" : "%.0f", v);
    append_c_string(out, text);
}

}  // namespace

Cell* make_time_at(Cell* c, double seconds) {
    set_cell(c, T_TIME);
    set_float_payload(c, seconds);
    return c;
}

Cell* push_time(double seconds) { return make_time_at(stack_push_slot(), seconds); }

i32 form_time(double seconds, Cell* out, i32 limit) {
    i32 written = 0;
    if (!std::isfinite(seconds)) {  // a division by zero: the float's own text
        const char* t = form_float_value(seconds, FLOAT_TEXT_FLOAT);
        append_c_string(out, t);
        return limit - i32(std::strlen(t));
    }
    if (seconds < 0) {
        append_c_string(out, "-");
        ++written;
        seconds = -seconds;
    }
    // The seconds are rounded to their printed digits before the fields are split, so that
    // 59.9999999 seconds carry into the minute instead of printing as 60.
    double s = std::fmod(seconds, 60.0);
    const char* text = s < 1e-6 ? "00" : form_float_value(s, FLOAT_TEXT_TIME);
    char sec[48];
    std::snprintf(sec, sizeof sec, "%s", text);
    if (std::strcmp(sec, "60") == 0) {
        seconds = (std::floor(seconds / 60.0) + 1.0) * 60.0;
        std::strcpy(sec, "00");
    }
    double h = std::floor(seconds / 3600.0);
    double m = std::floor(std::fmod(seconds, 3600.0) / 60.0);
    u32 before = string_length(out);
    append_whole(out, h, false);
    append_c_string(out, ":");
    append_whole(out, m, true);
    append_c_string(out, ":");
    if (sec[1] == 0 || sec[1] == '.') append_c_string(out, "0");
    append_c_string(out, sec);
    written += i32(string_length(out) - before);
    return limit - written;
}

void time_field_value(double seconds, i32 index, Cell* out) {
    switch (index) {
        case TIME_HOUR: make_integer_at(out, i32(hour_part(seconds))); break;
        case TIME_MINUTE: make_integer_at(out, i32(minute_part(seconds))); break;
        default: make_float_at(out, std::fmod(seconds, 60.0)); break;
    }
}

// A negative time is set on its magnitude: the hour and second fields that the getters
// answer are signed, so they are turned into the magnitude's fields first and the sign put
// back afterwards (otherwise `t/hour: t/hour` would change a negative time).
double time_with_field(double seconds, i32 index, double v) {
    double sign = seconds < 0 ? -1.0 : 1.0;
    double a = std::fabs(seconds);
    switch (index) {
        case TIME_HOUR: a -= (std::floor(a / 3600.0) - sign * v) * 3600.0; break;
        case TIME_MINUTE: a -= (std::floor(std::fmod(a, 3600.0) / 60.0) - v) * 60.0; break;
        default: a -= std::fmod(a, 60.0) - sign * v; break;
    }
    return sign * a;
}

i32 field_word_index(const Cell* word, const char* const* names, i32 count) {
    if (!is_any_word_type(type_of(word))) return 0;
    u32 sym = word_symbol(word);
    const u8* name = reinterpret_cast<const u8*>(symbol_name(sym));
    u32 len = symbol_name_length(sym);
    for (i32 i = 0; i < count; ++i)
        if (std::strlen(names[i]) == len && ascii_equal_ignoring_case(name, reinterpret_cast<const u8*>(names[i]), len))
            return i + 1;
    return 0;
}

namespace {

[[noreturn]] void raise_time_bad_to(const Cell* spec) { num::raise_bad_to_arg(T_TIME, spec); }

Cell* time_make(Cell*, Cell* spec, u32) {
    TypeId st = type_of(spec);
    switch (st) {
        case T_TIME: return spec;
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: {
            SeriesBuffer* b = buffer_of(series_node(spec));
            i32 head = series_head(spec);
            Cell* tail = at<Cell>(b->tail);
            Cell* p = cells_of(b) + (head < 0 ? 0 : head);
            i64 n = p <= tail ? tail - p : 0;
            if (n > 3) raise_time_bad_to(spec);
            double total = 0.0;
            bool negative = false;
            for (i64 i = 0; i < n; ++i) {
                Cell* v = p + i;
                TypeId t = type_of(v);
                double x;
                if (t == T_INTEGER) x = double(get_integer(v));
                else if (t == T_FLOAT && i == 2) x = get_float(v);
                else raise_time_bad_to(spec);
                if (i == 0 && x < 0) {
                    negative = true;
                    x = -x;
                } else if (x < 0) {
                    raise_time_bad_to(spec);
                }
                total += x * (i == 0 ? 3600.0 : i == 1 ? 60.0 : 1.0);
            }
            return push_time(negative ? -total : total);
        }
        case T_INTEGER: return push_time(double(get_integer(spec)));
        case T_FLOAT:
        case T_PERCENT: return push_time(get_float(spec));
        default:
            if (num::is_text_type(st)) return scan_text_as(spec, T_TIME);
            raise_time_bad_to(spec);
    }
}

i32 time_form(Cell* value, Cell* out, Cell*, i32 limit) { return form_time(get_float(value), out, limit); }
i32 time_mold(Cell* value, Cell* out, bool, bool, bool, Cell*, i32 limit, i32) {
    return form_time(get_float(value), out, limit);
}

// The field of a path element or pick index: 1-3, or 0 when it names none.
i32 time_field_of(const Cell* e) {
    if (type_of(e) == T_INTEGER) {
        i32 i = get_integer(e);
        return i >= 1 && i <= 3 ? i : 0;
    }
    return field_word_index(e, kTimeFields, 3);
}

Cell* time_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                     bool case_, bool, bool) {
    i32 f = time_field_of(element);
    if (!f || !(type_of(element) == T_INTEGER || is_plain_word_type(type_of(element)))) {
        Cell none;
        set_cell(&none, T_NONE);
        raise_error(Err::script_invalid_path, path ? path : &none, element);
    }
    if (!value) {
        Cell* r = stack_push_slot();
        time_field_value(get_float(parent), f, r);
        return r;
    }
    TypeId vt = type_of(value);
    double v;
    if (vt == T_INTEGER) v = double(get_integer(value));
    else if (vt == T_FLOAT && f == TIME_SECOND) v = get_float(value);
    else raise_error(Err::script_invalid_arg, value);
    set_float_payload(parent, time_with_field(get_float(parent), f, v));
    store_back_path_value(parent, gparent, p_item, path, index, case_);
    return value;
}

Cell* time_pick(Cell* value, i32, Cell* index_cell) {
    i32 f;
    if (is_any_word_type(type_of(index_cell))) {
        f = field_word_index(index_cell, kTimeFields, 3);
        if (!f) raise_error(Err::script_cannot_use, index_cell, value);
    } else if (type_of(index_cell) == T_INTEGER) {
        f = get_integer(index_cell);
        if (f < 1 || f > 3) raise_error(Err::script_out_of_range, index_cell);
    } else {
        raise_error(Err::script_out_of_range, index_cell);
    }
    Cell* r = stack_push_slot();
    time_field_value(get_float(value), f, r);
    return r;
}

void time_add() {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    if (type_of(right) == T_DATE) {
        // The date's arithmetic adds: date first, this time second.
        Cell t = *left;
        *left = *right;
        *right = t;
        handler<A_ADD>(T_DATE)();
        return;
    }
    float_do_math(OP_ADD);
}

void time_subtract() {
    if (type_of(g_args.base + 1) == T_DATE) num::raise_not_related("subtract", T_TIME);
    float_do_math(OP_SUBTRACT);
}

void time_multiply() {
    if (type_of(g_args.base + 1) == T_TIME) num::raise_not_related("multiply", T_TIME);
    float_do_math(OP_MULTIPLY);
}

void time_divide() {
    bool ratio = type_of(g_args.base + 1) == T_TIME;
    float_do_math(OP_DIVIDE);
    if (ratio) set_cell_type(g_args.base, T_FLOAT);
}

// Parity of the whole seconds within the minute; the offset absorbs printing noise.
i32 whole_second(Cell* v) {
    double s = get_float(v);
    double a = s >= 0 ? s + 1e-6 : s - 1e-6;
    return i32(std::trunc(std::fmod(a, 60.0)));
}
bool time_even_q(Cell* v) { return whole_second(v) % 2 == 0; }
bool time_odd_q(Cell* v) { return whole_second(v) % 2 != 0; }

Cell* time_round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                 bool half_ceiling) {
    if (scale && type_of(scale) == T_MONEY) num::raise_call_not_related(T_MONEY);
    Cell* r = float_round(n, scale, even, down, half_down, floor, ceiling, half_ceiling);
    if (type_of(r) == T_INTEGER) make_float_at(r, double(get_integer(r)));
    set_cell_type(r, T_TIME);
    return r;
}

void init_time() {
    TypeRegistration r(T_TIME, T_FLOAT, "time!");
    r.inherit_all();
    r.set<A_MAKE>(time_make).set<A_TO>(time_make).set<A_FORM>(time_form).set<A_MOLD>(time_mold);
    r.set<A_EVAL_PATH>(time_eval_path).set<A_ADD>(time_add).set<A_SUBTRACT>(time_subtract);
    r.set<A_MULTIPLY>(time_multiply).set<A_DIVIDE>(time_divide).set<A_ROUND>(time_round);
    r.set<A_EVEN_Q>(time_even_q).set<A_ODD_Q>(time_odd_q).set<A_PICK>(time_pick);
    r.none(A_POWER);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_TIME, init_time);

}  // namespace kel::dt
