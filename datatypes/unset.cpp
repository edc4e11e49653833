// unset!: the absence of a value.
#include "datatypes/datatype_init.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

Cell* box_unset() {
    set_cell(g_args.base, T_UNSET);
    return g_args.base;
}

Cell* make_unset_in(Node block) {
    Cell* c = block_alloc_tail(block);
    set_cell(c, T_UNSET);
    return c;
}

Cell* push_unset() {
    Cell* c = stack_push_slot();
    set_cell(c, T_UNSET);
    return c;
}

namespace {

Cell* unset_make(Cell*, Cell*, u32) { return push_unset(); }

i32 unset_form(Cell*, Cell*, Cell*, i32 limit) { return limit; }

i32 unset_mold(Cell*, Cell* out, bool, bool all, bool, Cell*, i32 limit, i32) {
    append_c_string(out, all ? "#(unset)" : "unset");
    return limit - (all ? 8 : 5);
}

i32 unset_compare(Cell*, Cell* v2, i32 op) {
    if (type_of(v2) != T_UNSET) return -2;
    switch (op) {
        case 0: case 1: case 2: case 9: case 12: case 7: case 8: return 0;
        default: return -2;
    }
}

void init_unset() {
    set_cell(&g_unset_cell, T_UNSET);
    TypeRegistration r(T_UNSET, 0, "unset!");
    r.set<A_MAKE>(unset_make).set<A_TO>(unset_make).set<A_FORM>(unset_form).set<A_MOLD>(unset_mold);
    r.set<A_COMPARE>(unset_compare);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_UNSET, init_unset);

}  // namespace kel::dt
