// Non-local exits: the stack preparations of break, continue, return, exit, throw and errors.
#include "runtime/exits.h"

#include "runtime/fatal.h"

#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/system_record.h"

namespace kel::rt {

u32 g_throw_origin = 0;
void (*g_error_locate_hook)(Cell* error) = nullptr;
void (*g_uncaught_error_printer)(const Cell* error) = nullptr;

void system_throw(u32 code) {
    g_system.thrown = code;
    throw SystemThrow{code};
}

namespace {

struct SavedStacks {
    Cell* base = g_args.base;
    Cell* top = g_args.top;
    CallFrame* calls = g_calls.top;
    void restore_all() const {
        g_args.base = base;
        g_args.top = top;
        g_calls.top = calls;
    }
};

// Takes frames off until one of `type` or a return target (when `type` is 0); answers the
// frame found with its own window in `own_base`, or null at a try/all frame (which is left
// as `stopper`) or at the bottom.
CallFrame* unroll_to_target(u32 type, Cell*& own_base, CallFrame*& stopper) {
    own_base = g_args.base;
    stopper = nullptr;
    // The target is found before any frame comes off: an exit without one becomes an error
    // raised where it started, and the functions it would have left must keep their
    // argument contexts pointing at their running calls.
    CallFrame* target = nullptr;
    for (CallFrame* f = g_calls.top; f > g_calls.bottom && !target;) {
        --f;
        u32 t = frame_type(f);
        if (type ? t == type : (f->header & FRAME_RETURN_TARGET) != 0) {
            target = f;
        } else if (t == FRAME_TRY_ALL) {
            stopper = f;
            return nullptr;
        }
    }
    if (!target) return nullptr;
    while (g_calls.top - 1 != target) {
        CallFrame* f = g_calls.top - 1;
        frame_restore_function_context(f);
        own_base = at<Cell>(f->saved_base);
        --g_calls.top;
    }
    return target;
}

[[noreturn]] void no_target(const SavedStacks& saved, CallFrame* stopper, Err e, const Cell* arg = nullptr) {
    if (stopper) g_calls.top = saved.calls;
    else saved.restore_all();
    raise_error(e, arg);
}

}  // namespace

Status throw_break(bool with_value, bool is_continue) {
    SavedStacks saved;
    Cell* own_base;
    CallFrame* stopper;
    CallFrame* loop = unroll_to_target(FRAME_LOOP, own_base, stopper);
    Err e = is_continue ? Err::throw_continue : Err::throw_break;
    if (!loop) no_target(saved, stopper, e);
    Cell value = *saved.base;
    g_args.base = own_base;
    g_args.top = own_base;
    if (with_value && !is_continue) *own_base = value;
    else set_cell(own_base, T_UNSET);
    u32 code = is_continue ? CODE_CONTINUE : CODE_BREAK;
    g_system.thrown = code;
    return code;
}

Status throw_return(bool with_value, bool keep) {
    SavedStacks saved;
    if (!keep && g_calls.top > g_calls.bottom) {
        CallFrame* own = g_calls.top - 1;
        frame_restore_function_context(own);
        g_args.base = at<Cell>(own->saved_base);
        --g_calls.top;
    }
    Cell* own_base;
    CallFrame* stopper;
    CallFrame* target = unroll_to_target(0, own_base, stopper);
    if (!target) no_target(saved, stopper, Err::throw_return);
    Cell value = *saved.base;
    g_args.base = own_base;
    g_args.top = own_base;
    u32 code;
    if (with_value) {
        *own_base = value;
        code = CODE_RETURN;
    } else {
        set_cell(own_base, T_UNSET);
        code = CODE_EXIT;
    }
    g_system.thrown = code;
    return code;
}

Status throw_value(u32 code) {
    SavedStacks saved;
    Cell value = saved.base[0];
    Cell name = saved.base[1];
    if (g_calls.top > g_calls.bottom) {
        CallFrame* own = g_calls.top - 1;
        frame_restore_function_context(own);
        g_args.base = at<Cell>(own->saved_base);
        --g_calls.top;
    }
    if (!g_throw_origin) g_throw_origin = u32(g_calls.top - g_calls.bottom) + 1;
    Cell* own_base;
    CallFrame* stopper;
    CallFrame* target = unroll_to_target(FRAME_CATCH, own_base, stopper);
    if (!target) no_target(saved, stopper, Err::throw_throw, &value);
    g_args.base = own_base;
    g_args.top = own_base;
    *stack_push_slot() = value;
    *stack_push_slot() = name;
    g_system.thrown = code;
    return code;
}

void throw_error_value(const Cell* error) {
    Cell err = *error;
    bool caught = false;
    if (stacks_ready() && g_calls.top > g_calls.bottom) {
        // `where` and `stack` are filled while the raising frames are still there.
        if (g_error_locate_hook) {
            Cell* slot = stack_push_slot();
            *slot = err;
            g_error_locate_hook(slot);
            err = *slot;
            stack_pop(1);
        }
        Cell* saved_top = g_args.top;
        CallFrame* f = stack_unroll(FRAME_TRY, false);
        if (f) {
            u32 t = frame_type(f);
            caught = (t == FRAME_TRY || t == FRAME_TRY_ALL);
            --g_calls.top;
        }
        // The error goes above the cells the raising code may still use, and never below the
        // catching window (a call-stack overflow of calls that pushed nothing moved the top
        // back under it): the catcher finds it on top of its window.
        if (saved_top > g_args.top) g_args.top = saved_top;
    }
    if (!caught) {
        if (stacks_ready()) {
            g_args.base = g_args.top = g_args.bottom;
            *stack_push_slot() = err;
        }
        if (g_uncaught_error_printer) g_uncaught_error_printer(&err);
        process_exit(-2);
    }
    *stack_push_slot() = err;
    g_system.thrown = CODE_ERROR;
    throw ErrorThrow();
}

}  // namespace kel::rt
