// Helpers shared by the control, loop and value natives.
#pragma once
#include "evaluator/eval_hooks.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kel::ev {

// The checked truth test of either, while, until and case: an unset value raises
// script/no-return ("block did not return a value").
inline bool checked_true(const Cell* v) {
    if (type_of(v) == T_UNSET) rt::raise_error(rt::Err::script_no_return);
    return value_true(v);
}

// What a loop puts back when a break or continue reaches it across C++ code (from a tracer,
// a handler): the running position and the trace switch as they were when the loop began,
// which the blocks skipped on the way would have restored.
struct LoopEntry {
    Cell eval_cell;
    bool trace_active;
};

// Opens a loop frame named <body> (the target of break and continue) whose result starts
// as unset; answers what the loop's rounds put back after such an exit. Noted once per loop,
// not per round.
inline LoopEntry open_loop_frame() {
    rt::stack_open_named(rt::g_sym_body, rt::FH_LOOP);
    set_cell(rt::stack_push_slot(), T_UNSET);
    return {g_eval_cell, g_trace.active};
}

// Evaluates a loop's block (its body or a while condition) into the loop frame's result
// slot. A break or continue that had to cross C++ code without a Status arrives as a
// SystemThrow and is taken here like one returned, with the loop's entry state put back;
// every other code passes on as it came.
inline rt::Status eval_loop_block(const Cell* block, const LoopEntry& entry) {
    try {
        return eval_block(block, true);
    } catch (rt::SystemThrow& t) {
        if (t.code != rt::CODE_BREAK && t.code != rt::CODE_CONTINUE) throw;
        g_eval_cell = entry.eval_cell;
        g_trace.active = entry.trace_active;
        return t.code;
    }
}

// One round of a loop body inside the loop frame: the last round's values are dropped, the
// body's value is left in the loop frame's result slot.
inline rt::Status run_loop_body(const Cell* body, const LoopEntry& entry) {
    rt::stack_reset();
    return eval_loop_block(body, entry);
}

}  // namespace kel::ev
