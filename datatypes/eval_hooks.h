// The interpreter's entry points that datatypes call back into: datatypes sit below the
// evaluator, so they reach it only through these.
//
// Objects evaluate their spec blocks, errors take the evaluator's position, and object
// change handlers run functions. The interpreter installs these pointers when it starts;
// until then they are null and the datatypes that need them raise internal/not-done.
#pragma once
#include "runtime/cell.h"
#include "runtime/exits.h"

namespace kel::dt {

// eval-block: evaluates the block from its index in result mode; the result is left in the
// current frame's result slot. Answers 0 or the exit code in flight (break, return, throw ...).
extern rt::Status (*g_eval_block)(const Cell* block);

// call-function: runs `fn` (a function!) whose frame is open and whose arguments are pushed,
// with `owner` as the owner context (0 = global) and `reference` naming the call. The result
// is in the frame's result slot. Answers 0, or an exit code that ends the call from outside.
extern rt::Status (*g_call_function)(Cell* fn, Node owner, const Cell* reference, u32 callback_class);

// The evaluator cell: the block being evaluated with its index at the expression under way
// (none when nothing is evaluated). Errors copy it into their `near` field.
extern Cell g_eval_cell;
// The evaluator cell where the throw under way was thrown (none when no throw is under way):
// a throw that finds no catch is reported there, not at the catch it passed last.
extern Cell g_throw_near;

// call-value: calls any function value with `count` argument values and no refinements;
// the result is pushed (sorting with a comparator, the series' callbacks).
extern rt::Status (*g_call_value)(const Cell* fn, const Cell* args, u32 count);

// A routine's C++ body: takes the argument cells (args[0] is also the result slot).
using RoutineBody = i64 (*)(Cell* args);
// The body of routine number `code` (from 1), null when there is none. The library installs
// it before any routine value exists.
extern RoutineBody (*g_routine_entry)(i64 code);

}  // namespace kel::dt
