// Loop natives: while, until, loop, repeat, forever, foreach, forall and remove-each.
//
// Each loop opens a loop frame (the target of break and continue) above its arguments and
// keeps its state in its argument slots, which never move. A body's value is left in the
// loop frame's result slot; when the loop ends that slot is copied into the native's result.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "evaluator/actions.h"
#include "evaluator/loop_helpers.h"
#include "evaluator/natives_control.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

// Closes the loop frame, its last value becoming the native's result.
Status close_loop() {
    stack_unwind_last();
    return 0;
}

Status while_native(bool, const i32*) {
    Cell* cond = stack_arg(0);
    Cell* body = stack_arg(1);
    const LoopEntry entry = open_loop_frame();
    for (;;) {
        stack_reset();
        Status s = eval_loop_block(cond, entry);
        if (s == CODE_BREAK || s == CODE_CONTINUE) {
            g_system.thrown = 0;
            raise_error(Err::throw_while_cond);
        }
        if (s) return s;
        if (!checked_true(stack_result())) break;
        s = run_loop_body(body, entry);
        LoopExit e = loop_exit(s);
        if (e == LoopExit::leave) break;
        if (e == LoopExit::pass) return s;
    }
    stack_unwind();
    set_cell(stack_result(), T_UNSET);
    return 0;
}

Status until_native(bool, const i32*) {
    Cell* body = stack_arg(0);
    const LoopEntry entry = open_loop_frame();
    for (;;) {
        Status s = run_loop_body(body, entry);
        if (s == CODE_CONTINUE) {
            g_system.thrown = 0;
            continue;
        }
        if (s == CODE_BREAK) {
            g_system.thrown = 0;
            break;
        }
        if (s) return s;
        if (checked_true(stack_result())) break;
    }
    return close_loop();
}

Status loop_native(bool, const i32*) {
    i32 count = loop_count_int(stack_arg(0));
    if (count < 1) {
        set_cell(stack_result(), T_NONE);
        return 0;
    }
    Cell* body = stack_arg(1);
    const LoopEntry entry = open_loop_frame();
    for (i32 i = 0; i < count; ++i) {
        Status s = run_loop_body(body, entry);
        LoopExit e = loop_exit(s);
        if (e == LoopExit::leave) break;
        if (e == LoopExit::pass) return s;
    }
    return close_loop();
}

// repeat: the counter lives in the value's slot; the word only receives copies of it, so a
// body that assigns the word does not change the count.
Status repeat_native(bool, const i32*) {
    Cell* word = stack_arg(0);
    Cell* counter = stack_arg(1);
    Cell* body = stack_arg(2);
    i32 count = loop_count_int(counter);
    if (count < 1) {
        set_cell(stack_result(), T_NONE);
        return 0;
    }
    const LoopEntry entry = open_loop_frame();
    for (i64 i = 1; i <= count; ++i) {
        set_cell(counter, T_INTEGER, 0, u32(i32(i)));
        assign_word_value(word, counter);
        Status s = run_loop_body(body, entry);
        LoopExit e = loop_exit(s);
        if (e == LoopExit::leave) break;
        if (e == LoopExit::pass) return s;
    }
    return close_loop();
}

Status forever_native(bool, const i32*) {
    Cell* body = stack_arg(0);
    const LoopEntry entry = open_loop_frame();
    for (;;) {
        Status s = run_loop_body(body, entry);
        LoopExit e = loop_exit(s);
        if (e == LoopExit::leave) break;
        if (e == LoopExit::pass) return s;
    }
    return close_loop();
}

// The number of words a foreach or remove-each round sets: 1 for a word, the block's length
// for a block of words (which must hold at least one).
i32 loop_word_count(const Cell* word) {
    if (type_of(word) != T_BLOCK) return 1;
    i32 n = ks_length_q(word);
    if (n < 1) raise_error(Err::script_invalid_arg, word);
    return n;
}

inline bool loop_step(Cell* series, const Cell* word, i32 n) {
    return type_of(word) == T_BLOCK ? foreach_check(series, word, n) : foreach_next(series, word);
}

Status foreach_native(bool, const i32*) {
    Cell* word = stack_arg(0);
    Cell* series = stack_arg(1);
    Cell* body = stack_arg(2);
    i32 n = loop_word_count(word);
    if (type_of(series) == T_MAP && type_of(word) != T_BLOCK) raise_error(Err::script_invalid_arg, word);
    const LoopEntry entry = open_loop_frame();
    while (loop_step(series, word, n)) {
        Status s = run_loop_body(body, entry);
        LoopExit e = loop_exit(s);
        if (e == LoopExit::leave) break;
        if (e == LoopExit::pass) return s;
    }
    return close_loop();
}

// forall: the word walks its series; after a normal end it is set back to where it began,
// after break it keeps the position it had.
Status forall_native(bool, const i32*) {
    Cell* word = stack_arg(0);
    Cell* body = stack_arg(1);
    Cell* start = stack_push(get_word_value_ptr(word));
    if (!is_series_type(type_of(start))) raise_expect_arg(0, start);
    const LoopEntry entry = open_loop_frame();
    bool broke = false;
    if (forall_before_tail(start)) {
        for (;;) {
            Status s = run_loop_body(body, entry);
            LoopExit e = loop_exit(s);
            if (e == LoopExit::leave) {
                broke = true;
                break;
            }
            if (e == LoopExit::pass) return s;
            if (forall_next(word, start)) break;
        }
    }
    if (!broke) set_word_value(word, start);
    return close_loop();
}

// remove-each: after each round that ended normally the elements just visited are removed
// when the body's value is true; continue keeps them. The answer is the data series.
Status remove_each_native(bool, const i32*) {
    Cell* word = stack_arg(0);
    Cell* data = stack_arg(1);
    Cell* body = stack_arg(2);
    i32 n = loop_word_count(word);
    Cell* walker = stack_push(data);
    const LoopEntry entry = open_loop_frame();
    while (loop_step(walker, word, n)) {
        Status s = run_loop_body(body, entry);
        if (s == 0) {
            remove_each_step(walker, n, stack_result());
            continue;
        }
        LoopExit e = loop_exit(s);
        if (e == LoopExit::leave) break;
        if (e == LoopExit::pass) return s;
    }
    stack_unwind();
    *stack_result() = *data;
    return 0;
}

}  // namespace

KEL_NATIVE(6, while_native);
KEL_NATIVE(7, until_native);
KEL_NATIVE(8, loop_native);
KEL_NATIVE(9, repeat_native);
KEL_NATIVE(10, forever_native);
KEL_NATIVE(11, foreach_native);
KEL_NATIVE(12, forall_native);
KEL_NATIVE(13, remove_each_native);

}  // namespace kel::ev
