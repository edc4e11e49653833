// point2D! and point3D! datatypes: two or three float32 components in one cell. The two
// types share every handler; the component count comes from the type.
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
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "lexer/literal_hooks.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

namespace {

inline i32 components(const Cell* c) { return type_of(c) == T_POINT3D ? 3 : 2; }

inline u32 float_bits(float f) {
    u32 b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

}  // namespace

Cell* make_point2d_at(Cell* c, float x, float y) {
    set_cell_type(c, T_POINT2D);
    set_point_component(c, 0, x);
    set_point_component(c, 1, y);
    c->data3 = 0;
    return c;
}

Cell* make_point3d_at(Cell* c, float x, float y, float z) {
    set_cell_type(c, T_POINT3D);
    set_point_component(c, 0, x);
    set_point_component(c, 1, y);
    set_point_component(c, 2, z);
    return c;
}

Cell* push_point2d(float x, float y) {
    Cell* c = stack_push_slot();
    c->header = 0;
    return make_point2d_at(c, x, y);
}

Cell* push_point3d(float x, float y, float z) {
    Cell* c = stack_push_slot();
    c->header = 0;
    return make_point3d_at(c, x, y, z);
}

void pair_to_point2d(Cell* c) { make_point2d_at(c, float(pair_x(c)), float(pair_y(c))); }

void point_do_math(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    i32 n = components(left);
    float s[3];
    switch (type_of(right)) {
        case T_INTEGER: s[0] = s[1] = s[2] = float(get_integer(right)); break;
        case T_FLOAT:
        case T_PERCENT: {
            float g = float(get_float(right));
            if (code == OP_MULTIPLY || code == OP_DIVIDE) {
                for (i32 i = 0; i < n; ++i) {
                    float c = point_component(left, i);
                    set_point_component(left, i, code == OP_MULTIPLY ? c * g : c / g);
                }
                return;
            }
            s[0] = s[1] = s[2] = g;
            break;
        }
        case T_PAIR:
            if (n == 3) num::raise_invalid_type(T_PAIR);
            s[0] = float(pair_x(right));
            s[1] = float(pair_y(right));
            break;
        case T_POINT2D:
        case T_POINT3D:
            if (components(right) != n) num::raise_invalid_type(type_of(right));
            for (i32 i = 0; i < n; ++i) s[i] = point_component(right, i);
            break;
        default: num::raise_invalid_type(type_of(right));
    }
    for (i32 i = 0; i < n; ++i)
        set_point_component(left, i, float(float_math_op(double(point_component(left, i)), double(s[i]), code)));
}

i32 point_compare(Cell* v1, Cell* v2, i32 op) {
    Cell other = *v2;
    if (type_of(v1) == T_POINT2D && type_of(&other) == T_PAIR) pair_to_point2d(&other);
    if (type_of(&other) != type_of(v1)) return -2;
    i32 n = components(v1);
    switch (op) {
        case 0:
        case 1:
        case 10:
            for (i32 i = 0; i < n; ++i)
                if (!float32_almost_equal_q(point_component(v1, i), point_component(&other, i))) return 1;
            return 0;
        case 2:
        case 11:
        case 12:
            for (i32 i = 0; i < n; ++i)
                if (point_component(v1, i) != point_component(&other, i)) return 1;
            return 0;
        case 9:
            for (i32 i = 0; i < n; ++i)
                if (float_bits(point_component(v1, i)) != float_bits(point_component(&other, i))) return 1;
            return 0;
        default: {
            float d = 0;
            for (i32 i = 0; i < n; ++i) {
                float a = point_component(v1, i), b = point_component(&other, i);
                d = a - b;
                if (!float32_almost_equal_q(a, b)) break;
            }
            return d < 0 ? -1 : d > 0 ? 1 : 0;
        }
    }
}

namespace {

void point_add() { point_do_math(OP_ADD); }
void point_subtract() { point_do_math(OP_SUBTRACT); }
void point_multiply() { point_do_math(OP_MULTIPLY); }
void point_divide() { point_do_math(OP_DIVIDE); }
void point_remainder() { point_do_math(OP_REMAINDER); }

void point_absolute() {
    Cell* v = g_args.base;
    for (i32 i = 0; i < components(v); ++i) set_point_component(v, i, std::fabs(point_component(v, i)));
}

Cell* point_negate(Cell* v) {
    for (i32 i = 0; i < components(v); ++i) set_point_component(v, i, 0.0f - point_component(v, i));
    return v;
}

Cell* point_reverse(Cell* v, Cell*, Cell*) {
    if (type_of(v) == T_POINT2D) std::swap(v->data1, v->data2);
    else std::swap(v->data1, v->data3);
    return v;
}

float number_component(const Cell* spec, const Cell* v) {
    switch (type_of(v)) {
        case T_INTEGER: return float(get_integer(v));
        case T_FLOAT: return float(get_float(v));
        default: raise_error(Err::syntax_malconstruct, spec);
    }
}

Cell* point_make(Cell*, Cell* spec, u32 t) {
    bool three = t == T_POINT3D;
    i32 n = three ? 3 : 2;
    float c[3] = {0, 0, 0};
    switch (type_of(spec)) {
        case T_POINT2D:
            if (!three) return spec;
            c[0] = point_component(spec, 0);
            c[1] = point_component(spec, 1);
            break;
        case T_POINT3D:
            if (!three) num::raise_bad_to_arg(t, spec);
            return spec;
        case T_INTEGER: c[0] = c[1] = c[2] = float(get_integer(spec)); break;
        case T_FLOAT: c[0] = c[1] = c[2] = float(get_float(spec)); break;
        case T_PAIR:
            c[0] = float(pair_x(spec));
            c[1] = float(pair_y(spec));
            break;
        case T_BLOCK: {
            if (ks_length_q(spec) < n) raise_error(Err::syntax_malconstruct, spec);
            Cell b = *spec;
            const Cell* v = ks_head(&b);
            for (i32 i = 0; i < n; ++i) c[i] = number_component(spec, v + i);
            break;
        }
        case T_STRING: return scan_text_as(spec, t);
        default: num::raise_bad_to_arg(t, spec);
    }
    return three ? push_point3d(c[0], c[1], c[2]) : push_point2d(c[0], c[1]);
}

i32 point_form(Cell* value, Cell* out, Cell*, i32 limit) {
    u32 before = string_length(out);
    append_char(out, '(');
    for (i32 i = 0; i < components(value); ++i) {
        if (i) append_c_string(out, ", ");
        append_c_string(out, form_float_value(double(point_component(value, i)), FLOAT_TEXT_POINT));
    }
    append_char(out, ')');
    return limit - i32(string_length(out) - before);
}

i32 point_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return point_form(value, out, part, limit);
}

Cell* point_random(Cell* v, bool seed, bool secure, bool) {
    i32 n = components(v);
    if (seed) {
        random_seed(murmur3_32(&v->data1, u32(n) * 4));
        set_cell(v, T_UNSET);
        return v;
    }
    for (i32 i = 0; i < n; ++i) {
        float c = point_component(v, i);
        if (c != 0.0f) set_point_component(v, i, float(random_float_source(double(c), secure)));
    }
    return v;
}

Cell* point_round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                  bool half_ceiling) {
    if (scale && type_of(scale) == T_MONEY) num::raise_call_not_related(T_MONEY);
    i32 count = components(n);
    u32 st = scale ? type_of(scale) : 0;
    bool per_component = st == T_POINT2D || st == T_POINT3D || (st == T_PAIR && count == 2);
    for (i32 i = 0; i < count; ++i) {
        Cell c, s;
        make_float_at(&c, double(point_component(n, i)));
        Cell* sp = scale;
        if (per_component) {
            sp = &s;
            if (st == T_PAIR) make_integer_at(&s, i == 0 ? pair_x(scale) : pair_y(scale));
            else make_float_at(&s, i < components(scale) ? double(point_component(scale, i)) : 0.0);
        }
        Cell* r = float_round(&c, sp, even, down, half_down, floor, ceiling, half_ceiling);
        // An integer! scale answers an integer!.
        double v = type_of(r) == T_INTEGER ? double(get_integer(r)) : get_float(r);
        set_point_component(n, i, float(v));
    }
    return n;
}

Cell* point_pick(Cell* v, i32 index, Cell* index_cell) {
    i32 n = components(v);
    i32 i;
    if (is_any_word_type(type_of(index_cell))) {
        i = component_word_index(index_cell, n);
        if (i < 0) raise_error(Err::script_cannot_use, index_cell, v);
    } else {
        if (index < 1 || index > n) raise_error(Err::script_out_of_range, index_cell);
        i = index - 1;
    }
    return push_float(double(point_component(v, i)));
}

Cell* point_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                      bool case_, bool, bool) {
    Cell none;
    set_cell(&none, T_NONE);
    Cell* p = path ? path : &none;
    i32 n = components(parent);
    i32 i = -1;
    if (type_of(element) == T_INTEGER) {
        if (get_integer(element) >= 1 && get_integer(element) <= n) i = get_integer(element) - 1;
    } else {
        i = component_word_index(element, n);
    }
    if (i < 0) raise_error(Err::script_invalid_path, p, element);
    if (!value) return push_float(double(point_component(parent, i)));
    float f;
    switch (type_of(value)) {
        case T_INTEGER: f = float(get_integer(value)); break;
        case T_FLOAT: f = float(get_float(value)); break;
        default: num::raise_invalid_type(type_of(value));
    }
    set_point_component(parent, i, f);
    if (gparent) store_back_path_value(parent, gparent, p_item, path, index, case_);
    return value;
}

void make_point2d_literal(Cell* out, double x, double y) { make_point2d_at(out, float(x), float(y)); }
void make_point3d_literal(Cell* out, double x, double y, double z) {
    make_point3d_at(out, float(x), float(y), float(z));
}

void register_point(u32 type, const char* name) {
    TypeRegistration r(type, 0, name);
    r.set<A_MAKE>(point_make).set<A_RANDOM>(point_random).set<A_TO>(point_make);
    r.set<A_FORM>(point_form).set<A_MOLD>(point_mold).set<A_EVAL_PATH>(point_eval_path);
    r.set<A_COMPARE>(point_compare).set<A_ABSOLUTE>(point_absolute).set<A_ADD>(point_add);
    r.set<A_DIVIDE>(point_divide).set<A_MULTIPLY>(point_multiply).set<A_NEGATE>(point_negate);
    r.set<A_REMAINDER>(point_remainder).set<A_ROUND>(point_round).set<A_SUBTRACT>(point_subtract);
    r.set<A_PICK>(point_pick).set<A_REVERSE>(point_reverse);
    register_datatype(r);
}

void init_point2d() {
    register_point(T_POINT2D, "point2D!");
    lex::g_make_point2d = make_point2d_literal;
}

void init_point3d() {
    register_point(T_POINT3D, "point3D!");
    lex::g_make_point3d = make_point3d_literal;
}

}  // namespace

KEL_DATATYPE(T_POINT2D, init_point2d);
KEL_DATATYPE(T_POINT3D, init_point3d);

}  // namespace kel::dt
