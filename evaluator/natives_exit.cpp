// Error-handling and exit natives: try and catch stop exits; break, continue, return, exit
// and throw start them.
//
// Starting an exit prepares the stacks for its target (runtime/exits.h) and answers its code
// as a Status, which the interpreter carries outward untouched. An exit with no target, or
// with a try/all frame in the way, is an error instead (throw/break, throw/continue,
// throw/return, throw/throw), which try catches like any other.
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/unit.h"
#include "evaluator/actions.h"
#include "evaluator/eval_hooks.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/symbols.h"

namespace kel::ev {

using namespace rt;

namespace {

constexpr u32 SLOT_TRY = 70;
constexpr u32 SLOT_CATCH = 77;
constexpr u32 SLOT_THROW = 78;
constexpr u32 SLOT_BREAK = 79;
constexpr u32 SLOT_CONTINUE = 80;
constexpr u32 SLOT_EXIT = 81;
constexpr u32 SLOT_RETURN = 82;

u32 try_symbol() {
    static u32 sym = make_symbol("try");
    return sym;
}

// try: the block's value, or the error! that stopped it. Plain try passes every other exit
// on; try/all stops them too (they arrive as errors: its frame turns break, continue,
// return, exit and throw aimed past it into throw/... errors).
Status try_native(bool, const i32* refs) {
    bool all = refs[0] >= 0;
    bool keep = refs[1] >= 0;
    Cell block = *stack_arg(0);
    Cell saved_eval = g_eval_cell;
    bool saved_active = g_trace.active;
    CyclesScope cycles;
    stack_open_named(try_symbol(), all ? FH_TRY_ALL : FH_TRY);
    Status s;
    try {
        s = eval_block(&block, true);
        if (s == 0) {
            stack_unwind_last();
            return 0;
        }
    } catch (SystemThrow& t) {
        if (t.code != CODE_ERROR) throw;
        // The error unrolled the stacks to this native's window and pushed itself.
        g_eval_cell = saved_eval;
        g_trace.active = saved_active;
        stack_keep_error();
        g_system.thrown = 0;
        if (keep) dt::error_capture_stack(g_args.base);
        return 0;
    }
    return s;
}

bool same_name(const Cell* a, const Cell* b) {
    return resolve_symbol_alias(word_symbol(a)) == resolve_symbol_alias(word_symbol(b));
}

// Whether a catch with /name `names` takes a throw named `thrown`.
bool catch_matches(const Cell* names, const Cell* thrown) {
    if (type_of(thrown) != T_WORD) return false;
    if (type_of(names) != T_BLOCK) return same_name(names, thrown);
    Cell b = *names;
    Node node = series_node(&b);
    i32 n = i32(series_length(node));
    for (i32 i = series_head(&b) < 0 ? 0 : series_head(&b); i < n; ++i) {
        Cell e = cells_of(buffer_of(node))[i];
        if (type_of(&e) != T_WORD) {
            Cell w = dt::load_word("name");
            raise_error(Err::script_invalid_refine_arg, &w, &b);
        }
        if (same_name(&e, thrown)) return true;
    }
    return false;
}

Status catch_native(bool, const i32* refs) {
    Cell block = *stack_arg(0);
    Cell names;
    bool named = refs[0] >= 0;
    if (named) names = *refinement_arg(refs, 0);
    Cell* caller_base = g_args.base;
    Cell saved_eval = g_eval_cell;
    bool saved_active = g_trace.active;
    stack_open_named(g_sym_body, FH_CATCH);
    Status s;
    try {
        s = eval_block(&block, true);
    } catch (SystemThrow& t) {
        if (t.code != CODE_THROW) throw;
        // A throw that crossed C++ code (from a tracer, a handler) skipped the blocks that
        // would have put the running position and the trace switch back.
        g_eval_cell = saved_eval;
        g_trace.active = saved_active;
        s = CODE_THROW;
    }
    if (s == 0) {
        stack_unwind_last();
        return 0;
    }
    if (s != CODE_THROW) return s;
    // The throw left its value and name at this frame's window.
    Cell value = g_args.base[0];
    Cell name = g_args.base[1];
    if (named && !catch_matches(&names, &name)) {
        // Not ours: on to the next catch, from this native's own frame. Should there be
        // none, the error names the place of the throw. (Should there be one, every block
        // the throw leaves puts its own position back on the way.)
        stack_pop_frame();
        caller_base[0] = value;
        caller_base[1] = name;
        g_args.top = caller_base + 2;
        if (type_of(&g_throw_near) != T_NONE) g_eval_cell = g_throw_near;
        return throw_value(CODE_THROW);
    }
    g_system.thrown = 0;
    // The throw ends here: a later error must not be located from where it started.
    g_throw_origin = 0;
    set_cell(&g_throw_near, T_NONE);
    g_args.base[0] = value;
    stack_unwind_last();
    if (g_trace.active) trace_fire(EV_CATCH, nullptr, -1, caller_base, nullptr);
    return 0;
}

Status throw_native(bool, const i32* refs) {
    if (g_trace.active) trace_fire(EV_THROW, nullptr, -1, stack_arg(0), nullptr);
    g_throw_near = g_eval_cell;
    if (refs[0] < 0) {
        set_cell(stack_arg(1), T_UNSET);
        g_args.top = g_args.base + 2;
    }
    return throw_value(CODE_THROW);
}

Status break_native(bool, const i32* refs) { return throw_break(refs[0] >= 0, false); }
Status continue_native(bool, const i32*) { return throw_break(false, true); }
Status exit_native(bool, const i32*) { return throw_return(false, false); }
Status return_native(bool, const i32*) { return throw_return(true, false); }

}  // namespace

KEL_NATIVE(SLOT_TRY, try_native);
KEL_NATIVE(SLOT_CATCH, catch_native);
KEL_NATIVE(SLOT_THROW, throw_native);
KEL_NATIVE(SLOT_BREAK, break_native);
KEL_NATIVE(SLOT_CONTINUE, continue_native);
KEL_NATIVE(SLOT_EXIT, exit_native);
KEL_NATIVE(SLOT_RETURN, return_native);

}  // namespace kel::ev
