// logic!: true and false (data1 = 1 for true; any other value reads as false).
#include <cmath>

#include "datatypes/datatype_init.h"
#include "datatypes/random.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

Cell* box_logic(u32 truth) {
    set_cell(g_args.base, T_LOGIC, truth);
    return g_args.base;
}

Cell* make_logic_in(Node block, u32 truth) {
    Cell* c = block_alloc_tail(block);
    set_cell(c, T_LOGIC, truth);
    return c;
}

Cell* push_logic(u32 truth) {
    Cell* c = stack_push_slot();
    set_cell(c, T_LOGIC, truth);
    return c;
}

bool value_true(const Cell* c, bool check, const Cell* arg) {
    if (check && type_of(c) == T_UNSET) raise_error(Err::script_no_value, arg);
    return !is_false_value(c);
}

bool check_result_true() {
    const Cell* c = g_args.base;
    if (type_of(c) == T_UNSET) raise_error(Err::script_no_return);
    return !is_false_value(c);
}

bool result_false() { return is_false_value(g_args.base); }

bool top_false() {
    const Cell* c = g_args.top > g_args.base ? g_args.top - 1 : g_args.base;
    return is_false_value(c);
}

bool logic_not_result() { return !top_false(); }

namespace {

Cell* logic_to(Cell*, Cell* spec, u32) {
    if (type_of(spec) == T_LOGIC) return spec;
    return type_of(spec) == T_NONE ? &g_false_cell : &g_true_cell;
}

Cell* logic_make(Cell* proto, Cell* spec, u32 type) {
    switch (type_of(spec)) {
        case T_INTEGER: return push_logic(get_int(spec) != 0);
        case T_FLOAT:
        case T_PERCENT: {
            double d = get_float(spec);
            return push_logic(!(d == 0.0));  // NaN counts as true
        }
        default: return logic_to(proto, spec, type);
    }
}

Cell* logic_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_seed(value->data1);
        set_cell(value, T_UNSET);
        return value;
    }
    i32 draw = secure ? random_secure() : random_next();
    set_cell(value, T_LOGIC, draw > 0x3FFFFFFF ? 1 : 0);
    return value;
}

i32 logic_form(Cell* value, Cell* out, Cell*, i32 limit) {
    bool t = value->data1 == 1;
    append_c_string(out, t ? "true" : "false");
    return limit - (t ? 4 : 5);
}

i32 logic_mold(Cell* value, Cell* out, bool, bool all, bool, Cell* part, i32 limit, i32) {
    if (!all) return logic_form(value, out, part, limit);
    bool t = value->data1 == 1;
    append_c_string(out, t ? "#(true)" : "#(false)");
    return limit - (t ? 7 : 8);
}

i32 logic_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != T_LOGIC) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: return i32(v1->data1) - i32(v2->data1);
        default: return -2;
    }
}

Cell* logic_complement(Cell* value) {
    value->data1 ^= 1;
    return value;
}

// and~, or~, xor~ (stack form): the second argument must be a logic! too.
template <class Op>
void logic_bitwise(Op op) {
    Cell* a = g_args.base;
    Cell* b = g_args.base + 1;
    if (type_of(b) != T_LOGIC) {
        Cell call, type, arg;
        stack_get_call(&call);
        set_cell(&type, T_DATATYPE, type_of(b));
        call_argument_word(1, &arg);
        raise_error(Err::script_expect_arg, &call, &type, &arg);
    }
    a->data1 = op(a->data1, b->data1);
}

void logic_and() { logic_bitwise([](u32 x, u32 y) { return x & y; }); }
void logic_or() { logic_bitwise([](u32 x, u32 y) { return x | y; }); }
void logic_xor() { logic_bitwise([](u32 x, u32 y) { return x ^ y; }); }

void init_logic() {
    set_cell(&g_true_cell, T_LOGIC, 1);
    set_cell(&g_false_cell, T_LOGIC, 0);
    TypeRegistration r(T_LOGIC, 0, "logic!");
    r.set<A_MAKE>(logic_make).set<A_RANDOM>(logic_random).set<A_TO>(logic_to);
    r.set<A_FORM>(logic_form).set<A_MOLD>(logic_mold).set<A_COMPARE>(logic_compare);
    r.set<A_AND_T>(logic_and).set<A_COMPLEMENT>(logic_complement).set<A_OR_T>(logic_or).set<A_XOR_T>(logic_xor);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_LOGIC, init_logic);

}  // namespace kel::dt
