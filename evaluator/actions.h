// The evaluator's side of action dispatch: it fills the natives and actions tables
// (datatypes/dispatch.h holds them and the dispatch itself, which the names below bring in).
#pragma once
#include "datatypes/dispatch.h"

namespace kel::ev {

using dt::action_generic_entry;
using dt::action_lookup;
using dt::ActionEntry;
using dt::compare;
using dt::compare_values;
using dt::CompareOp;
using dt::dispatch;
using dt::form_dispatch;
using dt::g_actions_table;
using dt::g_natives_count;
using dt::g_natives_table;
using dt::lookup;
using dt::mold_dispatch;
using dt::native_entry;
using dt::NativeEntry;
using dt::NATIVES_CAPACITY;
using enum rt::CompareOp;

// Stores each entry at the running count and moves the count on.
void natives_register(u32 count, const NativeEntry* entries);
// natives-init (runtime boot): the entries registered themselves at their slots before
// start-up (KEL_NATIVE below); what is left is the print natives' scratch block.
void natives_init();
void actions_register(u32 count, const ActionEntry* entries);

// Self-registration of a native's entry at its fixed slot, from the file that defines it:
//     KEL_NATIVE(106, transcode_native);
// Each slot is taken once; a second claim is a fatal error at start-up.
struct NativeRegistrar {
    NativeRegistrar(u32 slot, NativeEntry entry);
};
#define KEL_NATIVE_CAT2(a, b) a##b
#define KEL_NATIVE_CAT(a, b) KEL_NATIVE_CAT2(a, b)
#define KEL_NATIVE(slot, entry) \
    static const ::kel::ev::NativeRegistrar KEL_NATIVE_CAT(native_registrar_, __LINE__)(slot, entry)

}  // namespace kel::ev
