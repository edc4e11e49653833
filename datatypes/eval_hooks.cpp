// The interpreter's entry points, null until the interpreter installs them.
#include "datatypes/eval_hooks.h"

namespace kel::dt {

rt::Status (*g_eval_block)(const Cell* block) = nullptr;
rt::Status (*g_call_function)(Cell* fn, Node owner, const Cell* reference, u32 callback_class) = nullptr;
rt::Status (*g_call_value)(const Cell* fn, const Cell* args, u32 count) = nullptr;
Cell g_eval_cell{T_NONE, 0, 0, 0};
Cell g_throw_near{T_NONE, 0, 0, 0};
RoutineBody (*g_routine_entry)(i64 code) = nullptr;

}  // namespace kel::dt
