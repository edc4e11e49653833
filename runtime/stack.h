// Argument stack and call frames.
//
// The argument stack holds value cells: each call gets a window whose first slot (the
// arguments base) receives its result and whose next slots hold its arguments and locals.
// The call stack holds one CallFrame per active call or control construct; it names calls
// for errors and traces and marks the targets of break, return and throw.
//
// Both stacks sit in fixed buffers made at start-up, so cell pointers into them stay valid
// across collections (the collector marks every cell below the top but never moves them).
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/types.h"

namespace kel::rt {

constexpr u32 ARG_STACK_CELLS = 20000;
constexpr u32 CALL_STACK_FRAMES = 12000;
constexpr u32 CALL_STACK_BLOCK_CELLS = 15000;

// Frame types (header bits 24-27) and flags.
enum FrameType : u32 {
    FRAME_FUNCTION = 1,
    FRAME_NATIVE = 2,
    FRAME_TRY = 4,
    FRAME_TRY_ALL = 5,
    FRAME_CATCH = 6,
    FRAME_EVAL = 7,
    FRAME_LOOP = 8,
};
constexpr u32 FRAME_RETURN_TARGET = 0x10000000;
constexpr u32 FRAME_INTERPRETED = 0x80000000;

// Header values written by the named openers.
constexpr u32 FH_FUNCTION = 0x01000000;
constexpr u32 FH_INTERP_FUNCTION = 0x81000000;
constexpr u32 FH_NATIVE = 0x02000000;
constexpr u32 FH_INTERP_NATIVE = 0x82000000;
constexpr u32 FH_FUNCTION_BODY = 0x12000000;
constexpr u32 FH_TRY = 0x04000000;
constexpr u32 FH_TRY_ALL = 0x05000000;
constexpr u32 FH_CATCH = 0x06000000;
constexpr u32 FH_EVAL = 0x87000000;
constexpr u32 FH_LOOP = 0x08000000;

struct CallFrame {
    u32 header;      // bits 8-23 symbol id of the frame's word; 24-27 type; flags above
    Off saved_base;  // the caller's arguments base
    Node context;    // context node of the frame's word (0 = global)
    Node fn_context; // function frames: the function's context node
    Node fn_values;  // function frames: the values node that context had on entry
};
static_assert(sizeof(CallFrame) == 20);

inline u32 frame_type(const CallFrame* f) { return (f->header >> 24) & 0xF; }
inline u32 frame_symbol(const CallFrame* f) { return (f->header >> 8) & 0xFFFF; }

struct ArgumentStack {
    Cell* bottom;
    Cell* base;  // the current call's result slot
    Cell* top;   // next free slot
    Cell* end;
};
struct CallStack {
    CallFrame* bottom;
    CallFrame* top;  // next free frame
    CallFrame* end;
};

extern ArgumentStack g_args;
extern CallStack g_calls;
extern Node g_arg_stack_node;
extern Node g_call_stack_node;
// Reserved frame names that traces and error locations skip.
extern u32 g_sym_body;
extern u32 g_sym_anon;

void stack_init();
inline bool stacks_ready() { return g_args.bottom != nullptr; }

// ---- argument stack -------------------------------------------------------------------

[[noreturn]] void arg_stack_overflow();

inline Cell* stack_push_slot() {
    Cell* slot = g_args.top;
    if (slot + 1 >= g_args.end) arg_stack_overflow();
    g_args.top = slot + 1;
    return slot;
}
inline Cell* stack_push(const Cell* v) {
    Cell* slot = stack_push_slot();
    *slot = *v;
    return slot;
}
inline void stack_pop(u32 n) {
    g_args.top = (u32(g_args.top - g_args.bottom) < n) ? g_args.bottom : g_args.top - n;
}
inline Cell* stack_top() { return g_args.top > g_args.bottom ? g_args.top - 1 : g_args.bottom; }
inline TypeId stack_top_type() { return type_of(stack_top()); }
inline Cell* stack_arg(u32 i) { return g_args.base + i; }
inline Cell* stack_result() { return g_args.base; }
inline void stack_set_last(const Cell* v) { copy_cell(v, g_args.base); }
inline void stack_set_last_keep(const Cell* v) {
    copy_cell(v, g_args.base);
    g_args.top = g_args.base + 1;
}
inline void stack_reset() { g_args.top = g_args.base; }
inline void stack_keep() { g_args.top = g_args.base + 1; }
void stack_keep_error();
// Closes the cells past the argument stack's end that an overflow opened to build its error.
void stack_close_reserve();
// Blanks the cells above the top. A push opens a slot before writing it, so a collection in
// between would take the slot's old value for a root; the collector calls this once it has
// freed what those old values may name.
void stack_clear_above_top();

// ---- call stack -----------------------------------------------------------------------

inline CallFrame* stack_top_frame() { return g_calls.top - 1; }
inline bool call_stack_empty() { return g_calls.top == g_calls.bottom; }
inline void call_stack_set_top(CallFrame* f) { g_calls.top = f; }
bool stack_interpreted(CallFrame* from, bool near);

[[noreturn]] void call_stack_overflow();

// Opens a frame named by a symbol and the context of its word; answers the new arguments
// base. Inline: the interpreter opens several per call.
inline Cell* stack_open_frame_at(u32 symbol, Node context, u32 header_value) {
    if (g_calls.top >= g_calls.end) call_stack_overflow();
    CallFrame* f = g_calls.top++;
    f->header = ((symbol & 0xFFFF) << 8) | header_value;
    f->saved_base = off_of(g_args.base);
    f->context = context;
    // Only function frames read these (their openers fill them); the header value is a
    // constant at nearly every call site, so other frames skip the stores.
    if ((header_value & 0x0F000000) == FH_FUNCTION) {
        f->fn_context = 0;
        f->fn_values = 0;
    }
    g_args.base = g_args.top;
    return g_args.base;
}
// Opens a frame named by the word cell (symbol in data2, context in data1; null = unnamed)
// and answers the new arguments base.
inline Cell* stack_open_frame(const Cell* word, u32 header_value) {
    return stack_open_frame_at(word ? word->data2 : 0, word ? word->data1 : 0, header_value);
}
inline Cell* stack_open_native(const Cell* w) { return stack_open_frame(w, FH_NATIVE); }
inline Cell* stack_open_interp_native(const Cell* w) { return stack_open_frame(w, FH_INTERP_NATIVE); }
inline Cell* stack_open_try(const Cell* w) { return stack_open_frame(w, FH_TRY); }
inline Cell* stack_open_try_all(const Cell* w) { return stack_open_frame(w, FH_TRY_ALL); }
inline Cell* stack_open_catch(const Cell* w) { return stack_open_frame(w, FH_CATCH); }
inline Cell* stack_open_eval(const Cell* w) { return stack_open_frame(w, FH_EVAL); }
inline Cell* stack_open_loop(const Cell* w) { return stack_open_frame(w, FH_LOOP); }
Cell* stack_open_function(const Cell* word, Node fn_context, u32 header_value = FH_FUNCTION);
Cell* stack_open_function_body(const Cell* word, Node fn_context);
// Opens a frame named by a symbol id alone (context: global).
inline Cell* stack_open_named(u32 symbol, u32 header_value) { return stack_open_frame_at(symbol, 0, header_value); }

void stack_set_return_flag(bool on);
void stack_set_interp_flag();
CallFrame* stack_set_return_target_below();
inline void stack_clear_return_target(CallFrame* f) { f->header &= ~FRAME_RETURN_TARGET; }

inline void stack_unwind() {
    CallFrame* f = --g_calls.top;
    g_args.top = g_args.base + 1;
    g_args.base = at<Cell>(f->saved_base);
}
void stack_unwind_function();
void stack_unwind_reset();
inline void stack_unwind_last() {
    CallFrame* f = g_calls.top - 1;
    copy_cell(g_args.base, at<Cell>(f->saved_base));
    stack_unwind();
}
void stack_unwind_last_function();
void stack_pop_frame();
void stack_unwind_last_keep();

// Takes frames off until one of `type`, a try/all frame or the bottom; answers the frame
// found (left on the stack), or null at the bottom.
CallFrame* stack_unroll(u32 type, bool keep);
void stack_unroll_to(u32 type);
inline CallFrame* stack_unroll_loop(bool keep) { return stack_unroll(FRAME_LOOP, keep); }

// stack-get-call: the word of the innermost named frame (frames named <body> or <anon>
// are skipped; a remembered throw origin is the starting point and is cleared), or none.
void stack_get_call(Cell* out);
// call-argument-word: the word of argument n of the current call, or the word <anon>.
// The function datatypes install the lookup; until then every argument is <anon>.
extern void (*g_call_argument_word_hook)(i32 n, Cell* out);
void call_argument_word(i32 n, Cell* out);

// Restores the values node a function context had when `f` opened (type-1 frames).
void frame_restore_function_context(CallFrame* f);

}  // namespace kel::rt
