// The interpreter: evaluates blocks of values in place, one expression at a time.
//
// There is no precedence and no separate parse step: an expression is a prefix call or a
// single value, followed by any number of infix operators applied left to right (an
// operator's right operand is evaluated with infix off, so `1 + 2 * 3` is 9, while a prefix
// function's argument takes the whole infix chain, so `negate 1 + 2` is -3).
//
// Results and the argument stack (runtime/stack.h):
//   - push mode leaves a result as a new value on top of the argument stack;
//   - result mode stores it in the current frame's result slot (the arguments base) and
//     keeps only that slot (top = base + 1).
//
// Positions are cell indexes into the code block's buffer, re-read through its node at
// every step: code that grows, shrinks or replaces the block it runs in (`b: [append b 1]
// do b`) never reads freed memory; the walk simply sees the block as it is now.
//
// ---- natives: the calling convention --------------------------------------------------
//
// A native's entry (NativeEntry, evaluator/actions.h) is called with its frame open:
//   - argument i (0-based, spec order, main arguments only) is stack_arg(i) (= g_args.base
//     + i); slot 0 also receives the result (stack_set_last or write *stack_result());
//   - refinements[k] is -1 when refinement k of the spec (spec order) is absent, else the
//     stack index of its first argument (refinement_arg below); a refinement without
//     arguments is present when its index is not -1. Refinement arguments follow the main
//     arguments in the order the refinements were written in the call's path;
//   - with `check` the interpreter has already type-checked every argument against the
//     spec's type blocks (the same typesets), so natives need not repeat it;
//   - the entry answers 0, or the Status of an exit in flight (see below), untouched.
//
// ---- exits: break, continue, return, exit, throw --------------------------------------
//
// A non-zero rt::Status means an exit is in flight. The code that started it (throw_break,
// throw_return, throw_value in runtime/exits.h) already unrolled the call frames to its
// target, whose result slot holds the exit's value; every step that receives a non-zero
// Status returns it at once without touching the stacks. The same codes can also arrive as
// an rt::SystemThrow when they crossed C++ code that has no Status (a sort comparator, an
// object's change handler): catch sites take both through rt::catch_site. Errors are C++
// exceptions (rt::ErrorThrow, a SystemThrow with CODE_ERROR) that only `try` takes.
//
// A loop (threshold rule: a site receives every code up to its threshold):
//
//     stack_open_loop(&body_word);                 // the loop frame: target of break/continue
//     for (...) {
//         stack_reset();                           // drop the last round's values
//         rt::Status s = rt::catch_site(rt::THRESHOLD_LOOP, [&] { return eval_block(body, true); });
//         if (s == rt::CODE_CONTINUE) { rt::g_system.thrown = 0; continue; }
//         if (s == rt::CODE_BREAK) { rt::g_system.thrown = 0; break; }   // result slot: unset or break/return's value
//         if (s) return s;                         // return, exit, throw: pass on unchanged
//     }
//     stack_unwind_last();                         // the loop frame's result into the native's result slot
//
// (loop_exit() below sorts a status into these three cases.) A break or continue stops at
// the loop frame; the frames above it are gone already. A `return` or `exit` unrolls to the
// innermost frame marked as a return target (an interpreted function's frame); `throw` to
// the innermost catch frame. A try/all frame in the way stops each of them with an error
// (throw/break, throw/continue, throw/return, throw/throw).
#pragma once
#include "runtime/cell.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system_record.h"

namespace kel::ev {

// ---- start-up ---------------------------------------------------------------------------

// Installs the interpreter's hooks (g_eval_block, g_call_function), gives every datatype
// word its datatype! value and presets `make` with the make action, so that the first line
// of library/actions.kel can run. Call once after the runtime boot, before the boot sources.
void evaluator_init();
// Installs g_eval_block and g_call_function alone (tests that replaced them put them back).
void evaluator_install_hooks();

// ---- evaluating -------------------------------------------------------------------------

// eval-block: evaluates `block` from its index to its tail inside an eval frame named
// <body>; an empty block gives unset. With keep_in_caller the result is copied into the
// caller's result slot and the top is left at base + 1 (result mode); otherwise the result
// is left pushed as one new value on top (push mode).
rt::Status eval_block(const Cell* block, bool keep_in_caller);

// eval-next: evaluates the one expression of `code` (a block cell; its node is used) that
// starts at *index, inside a native frame named <body>, and stores the index after it in
// *index. push: the value is pushed; else it becomes the current frame's result
// (stack_set_last_keep). At or past the tail: unset, *index unchanged.
rt::Status eval_next(const Cell* code, i32* index, bool push);

// eval-expression: the same without a frame of its own. no_infix stops before infix
// operators; passive (do of a single value) pushes a function value met first unchanged.
rt::Status eval_expression(const Cell* code, i32* index, bool no_infix, bool push, bool passive);

// do/next: evaluates the next expression of the block from its index in result mode and
// stores the index after it in *next; at the tail the result is unset and *next the index.
rt::Status do_next_position(const Cell* block, i32* next);

// eval-path-expr on a path value held by a native (get, set): the value the path selects
// is pushed. With `set_value` the last element is assigned that value (which is then the
// value pushed); `get` takes a function value without calling it.
rt::Status eval_path_value(const Cell* path, const Cell* set_value, bool get, bool case_);

// Calls any function value (native!, action!, op!, function!, routine!) with `count`
// argument values and no refinements; the result is pushed. Missing arguments are none.
rt::Status call_value(const Cell* fn, const Cell* args, u32 count);

// apply: calls `fn` (an op! as the function it wraps) with the arguments and refinements
// of `list`, from its head to its tail, as the mode bits say: APPLY_REFINEMENTS, the list
// holds the arguments, then refinement! values in spec order, each followed by an
// expression whose truth selects it and by its arguments; APPLY_ALL, it holds every
// argument and every refinement's logic! flag in spec order (the arguments of a refinement
// not in use are read and dropped); APPLY_SINGLE adds that each argument is one cell.
// Missing trailing arguments are none, missing refinements false. `path`, when not null,
// requests further refinements by its elements after `path_index`. The frame is named by
// `name`; the result is pushed.
enum ApplyMode : u32 { APPLY_ALL = 1, APPLY_REFINEMENTS = 2, APPLY_SINGLE = 4 };
rt::Status apply_function(const Cell* fn, const Cell* list, const Cell* path, i32 path_index, const Cell* name,
                          u32 mode);

// set-word-value for the loop natives' words: a slot in the running function's window or a
// plain context's values is written at once; anything else (an object's field, an unbound
// word) goes the general way.
void assign_word_value(const Cell* word, const Cell* value);

// ---- bounding a run ----------------------------------------------------------------------

// While a step watch is set, every block and function call the evaluator starts on this
// thread calls it first (where the native stack is checked); it may raise a language error to
// stop a run that must stay bounded, as a fuzzing harness does. Null removes it.
using StepWatch = void (*)();
void set_step_watch(StepWatch watch);

// ---- values -----------------------------------------------------------------------------

// Truth: only none and logic! false are false (unset counts as true).
inline bool value_true(const Cell* v) {
    u32 t = type_of(v);
    if (t == T_NONE) return false;
    if (t == T_LOGIC) return v->data1 == 1;
    return true;
}

// The argument cell of refinement k (spec order), or null when the refinement is absent.
inline Cell* refinement_arg(const i32* refinements, int k) {
    return refinements[k] < 0 ? nullptr : rt::stack_arg(u32(refinements[k]));
}

// ---- loops and exits --------------------------------------------------------------------

enum class LoopExit { next, leave, pass };
// What a loop does with a body's status: 0 and continue go on (continue is cleared),
// break leaves (cleared), anything else passes outward.
inline LoopExit loop_exit(rt::Status s) {
    if (s == 0) return LoopExit::next;
    if (s == rt::CODE_CONTINUE) {
        rt::g_system.thrown = 0;
        return LoopExit::next;
    }
    if (s == rt::CODE_BREAK) {
        rt::g_system.thrown = 0;
        return LoopExit::leave;
    }
    return LoopExit::pass;
}

// ---- tracing (do/trace) -------------------------------------------------------------------

// True while a tracer is installed.
bool trace_installed();
// Installs `tracer` (a function!) and fires `init`. Answers false, installing nothing, when
// a tracer is already installed (a nested do/trace keeps the outer one).
bool trace_begin(const Cell* tracer);
// Fires `end` with the pending exit code set aside and put back, then removes the tracer.
// Call it however the traced evaluation ended (normally, by an exit, or by an exception).
void trace_end();

}  // namespace kel::ev
