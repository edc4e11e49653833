// Action dispatch as the evaluator sees it: datatypes/dispatch.h holds the dispatch, the
// natives and actions tables and their registration; the names below bring them in.
#pragma once
#include "datatypes/dispatch.h"

namespace kel::ev {

using dt::action_generic_entry;
using dt::action_lookup;
using dt::actions_register;
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
using dt::NativeRegistrar;
using dt::natives_register;
using dt::NativeEntry;
using dt::NATIVES_CAPACITY;
using enum rt::CompareOp;

// natives-init (runtime boot): the entries registered themselves at their slots before
// start-up (KEL_NATIVE); what is left is the print natives' scratch block.
void natives_init();

}  // namespace kel::ev
