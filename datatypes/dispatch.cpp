// Action dispatch and the comparison entry points.
#include "datatypes/dispatch.h"

#include "datatypes/port.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

NativeEntry g_natives_table[NATIVES_CAPACITY] = {};
u32 g_natives_count = 1;
ActionEntry g_actions_table[ACTION_COUNT] = {};

void natives_register(u32 count, const NativeEntry* entries) {
    for (u32 i = 0; i < count && g_natives_count <= NATIVES_CAPACITY; ++i) g_natives_table[g_natives_count++ - 1] = entries[i];
}

NativeRegistrar::NativeRegistrar(u32 slot, NativeEntry entry) {
    if (slot < 1 || slot > NATIVES_CAPACITY || g_natives_table[slot - 1]) fatal_no_switch();
    g_natives_table[slot - 1] = entry;
    if (slot >= g_natives_count) g_natives_count = slot + 1;
}

void actions_register(u32 count, const ActionEntry* entries) {
    for (u32 k = 1; k <= count && k <= ACTION_COUNT; ++k) g_actions_table[k - 1] = entries[k - 1];
}

AnyFn action_lookup(u32 type, const Cell* value, u32 slot) {
    AnyFn fn = action_entry(type, slot);
    if (fn) return fn;
    // A port with a native actor answers even the actions port! itself has not (open?).
    if (type == T_PORT && (fn = port_native_handler(value, slot))) return fn;
    Cell call, datatype, arg;
    stack_get_call(&call);
    set_cell(&datatype, T_DATATYPE, type);
    call_argument_word(0, &arg);
    raise_error(Err::script_expect_arg, &call, &datatype, &arg);
}

bool compare(Cell* v1, Cell* v2, i32 op) {
    auto fn = handler<A_COMPARE>(type_of(v1));
    i32 r = fn ? fn(v1, v2, op) : -2;
    switch (op) {
        case OP_EQUAL: case OP_STRICT_EQUAL: case OP_SAME: case OP_FIND: case OP_STRICT_FIND: case OP_PUT:
            return r == 0;
        case OP_NOT_EQUAL: return r != 0;
        default: break;
    }
    if (r == -2) raise_error(Err::script_invalid_compare, v1, v2);
    switch (op) {
        case OP_LESSER: return r < 0;
        case OP_LESSER_OR_EQUAL: return r <= 0;
        case OP_GREATER: return r > 0;
        case OP_GREATER_OR_EQUAL: return r >= 0;
        default: fatal_no_switch();
    }
}

i32 compare_values(Cell* v1, Cell* v2, i32 op) {
    auto sign = [](i64 d) { return d < 0 ? -1 : d > 0 ? 1 : 0; };
    switch (type_of(v1)) {
        case T_LOGIC: return i32(v1->data1) - i32(v2->data1);
        case T_NATIVE: case T_ACTION: case T_OP: return sign(i64(i32(v1->data1)) - i32(v2->data1));
        case T_FUNCTION: case T_ROUTINE: return sign(i64(i32(v1->data3)) - i32(v2->data3));
        default: break;
    }
    auto fn = handler<A_COMPARE>(type_of(v1));
    return fn ? fn(v1, v2, op) : -2;
}

// The runtime's tables compare keys through this; no table exists before main runs.
const bool g_compare_installed = (rt::g_compare_values = compare_values, true);

}  // namespace kel::dt
