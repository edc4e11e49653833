// Cycles stack.
#include "runtime/cycles.h"

#include "runtime/errors.h"
#include "runtime/hashtable.h"

namespace kel::rt {

namespace {

Node g_cycles[CYCLES_SLOTS];
u32 g_cycles_top = 0;

}  // namespace

void cycles_push(Node node) {
    g_cycles[g_cycles_top++] = node;
    if (g_cycles_top >= CYCLES_SLOTS) {
        g_cycles_top = 0;
        raise_error(Err::internal_too_deep);
    }
}

void cycles_pop() {
    if (g_cycles_top > 0) --g_cycles_top;
}

void cycles_pop_n(u32 n) { g_cycles_top = n > g_cycles_top ? 0 : g_cycles_top - n; }

void cycles_reset() { g_cycles_top = 0; }

bool cycles_find(Node node) {
    for (u32 i = 0; i < g_cycles_top; ++i)
        if (g_cycles[i] == node) return true;
    return false;
}

u32 cycles_depth() { return g_cycles_top; }

void cycles_set_depth(u32 depth) { g_cycles_top = depth < CYCLES_SLOTS ? depth : CYCLES_SLOTS - 1; }

// error! and port! are objects too: their context is in data1 (data2 is the class id).
Node cycles_value_node(const Cell* value) {
    TypeId t = type_of(value);
    return (t == T_OBJECT || t == T_ERROR || t == T_PORT) ? value->data1 : value->data2;
}

const char* cycles_marker(const Cell* value, bool mold) {
    if (!cycles_find(cycles_value_node(value))) return nullptr;
    const char* marker = "...";
    if (mold) {
        switch (type_of(value)) {
            case T_BLOCK: case T_HASH: marker = "[...]"; break;
            case T_PAREN: marker = "(...)"; break;
            case T_MAP: marker = "#[...]"; break;
            case T_OBJECT: marker = "make object! [...]"; break;
            default: break;
        }
    }
    return marker;
}

void cycles_relocate(PtrMap* forward) {
    if (!forward) return;
    for (u32 i = 0; i < g_cycles_top; ++i)
        if (u32* moved = ptrmap_get(forward, g_cycles[i])) g_cycles[i] = *moved;
}

}  // namespace kel::rt
