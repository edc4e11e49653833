// handle! datatype: only form, mold and comparison; it is made by native code alone.
#include "datatypes/handle.h"

#include <cstdio>

#include "datatypes/datatype_init.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/externals.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

Cell* make_handle_at(Cell* c, i32 value, i32 kind) {
    c->header = T_HANDLE;  // the whole header: no flags
    c->data1 = u32(kind);
    c->data2 = u32(value);
    c->data3 = u32(-1);
    return c;
}

Cell* make_handle_in(Node block, i32 value, i32 kind) { return make_handle_at(block_alloc_tail(block), value, kind); }

Cell* push_handle(i32 value, i32 kind) { return make_handle_at(stack_push_slot(), value, kind); }

Cell* push_null_handle() { return push_handle(0, 0); }

Cell* box_handle(i32 value, i32 kind) { return make_handle_at(stack_result(), value, kind); }

namespace {

i32 handle_form(Cell* value, Cell* out, Cell*, i32 limit) {
    char text[16];
    std::snprintf(text, sizeof text, "%08Xh", value->data2);
    append_c_string(out, text);
    return limit - 9;
}

i32 handle_mold(Cell* value, Cell* out, bool, bool all, bool, Cell* part, i32 limit, i32) {
    if (!all) {
        append_c_string(out, "handle!");
        return limit - 7;
    }
    append_c_string(out, "#[handle! ");
    limit = handle_form(value, out, part, limit - 10);
    u32 name = externals_kind_value(i32(value->data1));
    if (value->data1 != 0 && name >= 1 && name <= symbol_count()) {
        append_char(out, ' ');
        limit -= 1 + i32(append_symbol_name(out, name));
    }
    append_char(out, ']');
    return limit - 1;
}

// Handles compare by their values alone; anything else is not comparable with them.
i32 handle_compare(Cell* a, Cell* b, i32) {
    if (type_of(b) != T_HANDLE) return -2;
    i32 x = i32(a->data2), y = i32(b->data2);
    return x < y ? -1 : x > y ? 1 : 0;
}

void init_handle() {
    TypeRegistration r(T_HANDLE, T_INTEGER, "handle!");
    r.set<A_FORM>(handle_form).set<A_MOLD>(handle_mold).set<A_COMPARE>(handle_compare);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_HANDLE, init_handle);

}  // namespace kel::dt
