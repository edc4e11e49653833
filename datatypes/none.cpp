// none!: the empty value. Series actions on none answer none, so that a none passes
// through code that expects an optional series.
#include "datatypes/datatype_init.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

Cell* box_none() {
    set_cell(g_args.base, T_NONE);
    return g_args.base;
}

Cell* append_none(Node block) {
    Cell* c = block_alloc_tail(block);
    set_cell(c, T_NONE);
    return c;
}

Cell* push_none() {
    Cell* c = stack_push_slot();
    set_cell(c, T_NONE);
    return c;
}

namespace {

Cell* none_make(Cell*, Cell*, u32) { return push_none(); }

i32 none_form(Cell*, Cell* out, Cell*, i32 limit) {
    append_c_string(out, "none");
    return limit - 4;
}

i32 none_mold(Cell*, Cell* out, bool, bool all, bool, Cell*, i32 limit, i32) {
    append_c_string(out, all ? "#(none)" : "none");
    return limit - (all ? 7 : 4);
}

i32 none_compare(Cell*, Cell* v2, i32 op) {
    if (type_of(v2) != T_NONE) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: return 0;
        default: return -2;
    }
}

Cell* none_unary(Cell*) { return &g_none_cell; }
Cell* none_find(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) { return &g_none_cell; }
Cell* none_select(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) { return &g_none_cell; }
Cell* none_remove(Cell*, Cell*, Cell*) { return &g_none_cell; }
Cell* none_take(Cell*, Cell*, bool, bool) { return &g_none_cell; }
i32 none_length(Cell*) { return -1; }

void init_none() {
    set_cell(&g_none_cell, T_NONE);
    TypeRegistration r(T_NONE, 0, "none!");
    r.set<A_MAKE>(none_make).set<A_TO>(none_make).set<A_FORM>(none_form).set<A_MOLD>(none_mold);
    r.set<A_COMPARE>(none_compare).set<A_CLEAR>(none_unary).set<A_FIND>(none_find);
    r.set<A_LENGTH_Q>(none_length).set<A_REMOVE>(none_remove).set<A_SELECT>(none_select).set<A_TAKE>(none_take);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_NONE, init_none);

}  // namespace kel::dt
