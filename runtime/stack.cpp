// Argument stack and call frames.
#include "runtime/stack.h"

#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/gc.h"

namespace kel::rt {

ArgumentStack g_args{};
CallStack g_calls{};
Node g_arg_stack_node = 0;
Node g_call_stack_node = 0;
u32 g_sym_body = 0;
u32 g_sym_anon = 0;

namespace {
// Cells past the argument stack's end that only an overflow opens, to build its error in:
// without them the error would be built over live cells of the frames below.
constexpr u32 ARG_STACK_RESERVE = 64;
Cell* g_args_hard_end = nullptr;
}  // namespace

void stack_init() {
    // Fixed buffers: compaction never moves them, so Cell* into the stacks stay valid.
    g_arg_stack_node = alloc_fixed_series(ARG_STACK_CELLS + ARG_STACK_RESERVE, 16, 0);
    SeriesBuffer* a = buffer_of(g_arg_stack_node);
    g_args.bottom = g_args.base = g_args.top = at<Cell>(a->offset);
    g_args_hard_end = reinterpret_cast<Cell*>(a->data() + a->size);
    g_args.end = g_args_hard_end - ARG_STACK_RESERVE;
    for (Cell* c = g_args.bottom; c < g_args_hard_end; ++c) set_cell(c, T_UNSET);

    g_call_stack_node = alloc_fixed_series(CALL_STACK_BLOCK_CELLS, 16, 0);
    SeriesBuffer* c = buffer_of(g_call_stack_node);
    g_calls.bottom = g_calls.top = at<CallFrame>(c->offset);
    g_calls.end = g_calls.bottom + CALL_STACK_FRAMES;
    gc_register_node_root(&g_arg_stack_node);
    gc_register_node_root(&g_call_stack_node);
}

[[noreturn]] void arg_stack_overflow() {
    if (g_args.end < g_args_hard_end) {
        // The error is built in the reserve; the catcher closes it again.
        g_args.end = g_args_hard_end;
    } else {
        // Overflowing while the reserve is open: make room below the end instead.
        Cell* t = g_args.top + 1 - 5;
        g_args.top = t < g_args.bottom ? g_args.bottom : t;
        if (g_args.base > g_args.top) g_args.base = g_args.top;
    }
    cycles_reset();
    raise_error(Err::internal_stack_overflow);
}

void stack_keep_error() {
    if (g_args.top > g_args.base && type_of(g_args.top - 1) == T_ERROR) copy_cell(g_args.top - 1, g_args.base);
    g_args.top = g_args.base + 1;
    // An overflow's reserve closes once the error is caught below it.
    if (g_args.top < g_args_hard_end - ARG_STACK_RESERVE) stack_close_reserve();
}

void stack_close_reserve() { g_args.end = g_args_hard_end - ARG_STACK_RESERVE; }

void stack_clear_above_top() {
    for (Cell* c = g_args.top; c < g_args_hard_end; ++c)
        if (type_of(c) != T_UNSET) set_cell(c, T_UNSET);
}

bool stack_interpreted(CallFrame* from, bool near) {
    CallFrame* f = (from ? from : g_calls.top) - 1;
    for (; f >= g_calls.bottom; --f) {
        if (f->header & FRAME_INTERPRETED) return true;
        if (near) return false;
    }
    return false;
}

[[noreturn]] void call_stack_overflow() {
    // The argument stack is left as it is: its top may lie within a few cells of an outer
    // frame's window (frames without arguments), and pulling it back there would put the
    // error where the catching try does not look, below its window.
    cycles_reset();
    raise_error(Err::internal_stack_overflow);
}

static inline Cell* context_cell(Node ctx) { return cells_of(buffer_of(ctx)); }

Cell* stack_open_function(const Cell* word, Node fn_context, u32 header_value) {
    Cell* base = stack_open_frame(word, header_value);
    CallFrame* f = g_calls.top - 1;
    f->fn_context = fn_context;
    f->fn_values = fn_context ? context_cell(fn_context)->data2 : 0;
    return base;
}

Cell* stack_open_function_body(const Cell* word, Node fn_context) {
    if (fn_context) context_cell(fn_context)->data2 = off_of(g_args.base);
    return stack_open_frame(word, FH_FUNCTION_BODY);
}

void stack_set_return_flag(bool on) {
    CallFrame* f = g_calls.top - 1;
    if (on) f->header |= FRAME_RETURN_TARGET;
    else f->header &= ~FRAME_RETURN_TARGET;
}

void stack_set_interp_flag() { (g_calls.top - 1)->header |= FRAME_INTERPRETED; }

CallFrame* stack_set_return_target_below() {
    CallFrame* f = g_calls.top - 2;
    if (f < g_calls.bottom || (f->header & FRAME_RETURN_TARGET)) return nullptr;
    f->header |= FRAME_RETURN_TARGET;
    return f;
}

void frame_restore_function_context(CallFrame* f) {
    if (frame_type(f) == FRAME_FUNCTION && f->fn_context) context_cell(f->fn_context)->data2 = f->fn_values;
}


void stack_unwind_function() {
    frame_restore_function_context(g_calls.top - 1);
    stack_unwind();
}

void stack_unwind_reset() {
    CallFrame* f = --g_calls.top;
    frame_restore_function_context(f);
    g_args.base = at<Cell>(f->saved_base);
    g_args.top = g_args.base;
}


void stack_unwind_last_function() {
    frame_restore_function_context(g_calls.top - 1);
    stack_unwind_last();
}

void stack_pop_frame() {
    CallFrame* f = --g_calls.top;
    g_args.base = at<Cell>(f->saved_base);
    g_args.top = g_args.base;
}

void stack_unwind_last_keep() {
    CallFrame* f = --g_calls.top;
    frame_restore_function_context(f);
    if (g_calls.top == g_calls.bottom) {
        g_args.base = g_args.top = g_args.bottom;
    } else {
        g_args.top = g_args.base;
        g_args.base = at<Cell>(f->saved_base);
    }
}

CallFrame* stack_unroll(u32 type, bool keep) {
    // The found frame's own window starts where the frame above it saved the base.
    Cell* own_base = g_args.base;
    while (g_calls.top > g_calls.bottom) {
        CallFrame* f = g_calls.top - 1;
        u32 t = frame_type(f);
        if (t == type || t == FRAME_TRY_ALL) {
            g_args.base = keep ? own_base : at<Cell>(f->saved_base);
            g_args.top = own_base + 1;
            return f;
        }
        frame_restore_function_context(f);
        own_base = at<Cell>(f->saved_base);
        --g_calls.top;
    }
    g_args.base = g_args.top = g_args.bottom;
    return nullptr;
}

void stack_unroll_to(u32 type) {
    Cell* innermost = g_args.base;
    Cell saved = *innermost;
    Cell* own_base = g_args.base;
    CallFrame* found = nullptr;
    while (g_calls.top > g_calls.bottom) {
        CallFrame* f = g_calls.top - 1;
        u32 t = frame_type(f);
        if (t == type || t == FRAME_TRY_ALL) {
            found = f;
            break;
        }
        frame_restore_function_context(f);
        own_base = at<Cell>(f->saved_base);
        --g_calls.top;
    }
    if (!found) {
        g_args.base = g_args.top = g_args.bottom;
        return;
    }
    *own_base = saved;
    g_args.base = own_base;
    g_args.top = own_base;
}

}  // namespace kel::rt

namespace kel::rt {

void (*g_call_argument_word_hook)(i32 n, Cell* out) = nullptr;
extern u32 g_throw_origin;

void stack_get_call(Cell* out) {
    CallFrame* start = g_calls.top;
    if (g_throw_origin) {
        start = g_calls.bottom + (g_throw_origin - 1);
        g_throw_origin = 0;
    }
    for (CallFrame* f = start - 1; f >= g_calls.bottom; --f) {
        u32 sym = frame_symbol(f);
        if (!sym || sym == g_sym_body || sym == g_sym_anon) continue;
        set_cell(out, T_WORD, f->context, sym, u32(-1));
        return;
    }
    set_cell(out, T_NONE);
}

void call_argument_word(i32 n, Cell* out) {
    if (g_call_argument_word_hook) {
        g_call_argument_word_hook(n, out);
        return;
    }
    set_cell(out, T_WORD, 0, g_sym_anon, u32(-1));
}

}  // namespace kel::rt
