// Action dispatch.
#include "evaluator/actions.h"

#include "evaluator/natives_value.h"

#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/stack.h"

namespace kel::ev {

using namespace rt;

void natives_register(u32 count, const NativeEntry* entries) {
    for (u32 i = 0; i < count && g_natives_count <= NATIVES_CAPACITY; ++i) g_natives_table[g_natives_count++ - 1] = entries[i];
}

void natives_init() { print_scratch_init(); }

NativeRegistrar::NativeRegistrar(u32 slot, NativeEntry entry) {
    if (slot < 1 || slot > NATIVES_CAPACITY || g_natives_table[slot - 1]) fatal_no_switch();
    g_natives_table[slot - 1] = entry;
    if (slot >= g_natives_count) g_natives_count = slot + 1;
}

void actions_register(u32 count, const ActionEntry* entries) {
    for (u32 k = 1; k <= count && k <= ACTION_COUNT; ++k) g_actions_table[k - 1] = entries[k - 1];
}

}  // namespace kel::ev
