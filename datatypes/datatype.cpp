// datatype! values: a cell naming a type id (data1).
#include "datatypes/datatype_init.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

Cell* make_datatype_in(Node block, u32 type) {
    Cell* c = block_alloc_tail(block);
    set_cell(c, T_DATATYPE, type);
    return c;
}

Cell* push_datatype(u32 type) {
    Cell* c = stack_push_slot();
    set_cell(c, T_DATATYPE, type);
    return c;
}

namespace {

// Equality codes: equal, not-equal, strict-equal, same, and the variant used by put.
bool is_equality_op(i32 op) { return op == 0 || op == 1 || op == 2 || op == 9 || op == 12; }

i32 datatype_form(Cell* value, Cell* out, Cell*, i32 limit) {
    const TypeName& tn = g_type_names[value->data1];
    const char* name = tn.name ? tn.name : "";
    for (i32 i = 0; i < tn.form_length; ++i) append_char(out, u8(name[i]));
    return limit - tn.form_length;
}

i32 datatype_mold(Cell* value, Cell* out, bool, bool all, bool, Cell*, i32 limit, i32) {
    const TypeName& tn = g_type_names[value->data1];
    const char* name = tn.name ? tn.name : "";
    if (all) append_c_string(out, "#(");
    append_c_string(out, name);
    if (all) append_c_string(out, ")");
    return limit - (tn.form_length + 1) - (all ? 3 : 0);
}

i32 datatype_compare(Cell* v1, Cell* v2, i32 op) {
    if (!is_equality_op(op)) return -2;
    return (type_of(v2) == T_DATATYPE && v2->data1 == v1->data1) ? 0 : 1;
}

void init_datatype() {
    TypeRegistration r(T_DATATYPE, 0, "datatype!");
    r.set<A_FORM>(datatype_form).set<A_MOLD>(datatype_mold).set<A_COMPARE>(datatype_compare);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_DATATYPE, init_datatype);

}  // namespace kel::dt
