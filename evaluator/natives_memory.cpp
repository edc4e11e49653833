// The collector's natives: `recycle` and `stats`.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "runtime/gc.h"
#include "evaluator/memory_stats.h"
#include "runtime/stack.h"

namespace kel::ev {

using namespace rt;

namespace {

// stats: bytes in use; /info the detailed figures; /show prints them through the library's
// show-memory-stats and answers unset.
Status stats_native(bool, const i32* refinements) {
    bool show = refinements[0] >= 0, info = refinements[1] >= 0;
    Cell* result = stack_result();
    if (!show && !info) {
        set_memory_figure(result, memory_in_use());
        return 0;
    }
    memory_stats_info(dt::make_block_at(result, 5));
    if (!show) return 0;
    Cell word = dt::load_word("show-memory-stats");
    const Cell* fn = dt::word_value_or_null(&word);
    if (fn && type_of(fn) == T_FUNCTION) {
        Cell fn_copy = *fn;
        // The figures stay in the result slot (rooted) while the library prints them.
        Status s = call_value(&fn_copy, stack_result(), 1);
        if (s) return s;
        stack_keep();
    }
    set_cell(stack_result(), T_UNSET);
    return 0;
}

// recycle: a full collection, answering the bytes still in use; /on and /off switch
// automatic collection (/on wins) and answer unset.
Status recycle_native(bool, const i32* refinements) {
    bool on = refinements[0] >= 0, off = refinements[1] >= 0;
    Cell* result = stack_result();
    if (on || off) {
        g_gc_enabled = on;
        set_cell(result, T_UNSET);
        return 0;
    }
    gc_collect();
    set_memory_figure(stack_result(), memory_in_use());
    return 0;
}

}  // namespace

KEL_NATIVE(37, stats_native);
KEL_NATIVE(105, recycle_native);

}  // namespace kel::ev
