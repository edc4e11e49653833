// The interpreter's entry points as the evaluator sees them: the hooks live with the
// datatypes that call them (datatypes/eval_hooks.h); the interpreter installs them.
#pragma once
#include "datatypes/eval_hooks.h"

namespace kel::ev {

using dt::g_call_function;
using dt::g_call_value;
using dt::g_eval_block;
using dt::g_eval_cell;
using dt::g_routine_entry;
using dt::g_throw_near;
using dt::RoutineBody;

}  // namespace kel::ev
