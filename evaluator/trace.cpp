// The tracer: installing it for do/trace and delivering the evaluator's events to it.
#include "evaluator/trace.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/unit.h"
#include "evaluator/eval_hooks.h"
#include "evaluator/interpreter.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

TraceState g_trace;

namespace {

constexpr const char* EVENT_NAMES[] = {"init", "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
                                       "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};
constexpr u32 EVENT_COUNT = sizeof(EVENT_NAMES) / sizeof(EVENT_NAMES[0]);

Cell g_event_words[EVENT_COUNT];
Cell g_callback_word;
bool g_words_ready = false;

void words_init() {
    if (g_words_ready) return;
    for (u32 i = 0; i < EVENT_COUNT; ++i) g_event_words[i] = load_word(EVENT_NAMES[i]);
    g_callback_word = load_word("<interp-callback>");
    gc_register_cell_root(&g_trace.tracer);
    g_words_ready = true;
}

bool is_any_block_type(u32 t) {
    return t == T_BLOCK || t == T_PAREN || t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH || t == T_GET_PATH ||
           t == T_HASH;
}

u32 event_index(u32 event) { return u32(__builtin_ctz(event)); }

bool passes_reference(u32 event) {
    return event == EV_SET || event == EV_PROLOG || event == EV_EPILOG || event == EV_RETURN || event == EV_CALL;
}

// The 0-based offset of a position in the code from the code value's index, or -1.
i32 offset_in(const Cell* code, i32 position) {
    if (!code || position < 0 || !is_any_block_type(type_of(code))) return -1;
    i32 head = series_head(code);
    i32 tail = i32(series_length(series_node(code)));
    if (position < head || position > tail) return -1;
    return position - head;
}

void error_to_tracer(const Cell* error) {
    if (!g_trace.active) return;
    u32 pending = g_system.thrown;
    g_system.thrown = 0;
    trace_fire(EV_ERROR, nullptr, -1, error, nullptr);
    g_system.thrown = pending;
}

}  // namespace

void trace_fire(u32 event, const Cell* code, i32 position, const Cell* value, const Cell* reference) {
    if (!g_trace.active || !(g_trace.mask & event)) return;
    words_init();
    // Copies first: the cells may sit in buffers that the calls below move.
    Cell c, v, r;
    if (code && is_any_block_type(type_of(code))) c = *code;
    else set_cell(&c, T_NONE);
    i32 offset = offset_in(code, position);
    if (value && type_of(value) != T_END) v = *value;
    else set_cell(&v, T_NONE);
    if (reference && passes_reference(event)) r = *reference;
    else set_cell(&r, T_NONE);
    Cell* saved_base = g_args.base;
    Cell* saved_top = g_args.top;
    CallFrame* saved_calls = g_calls.top;
    u32 base_depth = u32(g_args.base - g_args.bottom);
    u32 top_depth = u32(g_args.top - g_args.bottom);
    // Off before anything below can fail: a stack overflow while the call is prepared raises
    // an error, whose event must not call the tracer again (it would overflow again, without
    // end).
    g_trace.active = false;
    // The current result slot may hold a value on its way out (a return): never write it.
    if (g_args.top <= g_args.base) g_args.top = g_args.base + 1;
    set_cell(stack_push_slot(), T_UNSET);
    Cell tracer = g_trace.tracer;
    stack_push(&tracer);
    stack_open_function(&g_callback_word, tracer.data1, FH_FUNCTION);
    stack_push(&g_event_words[event_index(event)]);
    stack_push(&c);
    Cell off;
    set_cell(&off, T_INTEGER, 0, u32(offset), 0);
    stack_push(&off);
    stack_push(&v);
    stack_push(&r);
    Cell frame;
    set_cell(&frame, T_PAIR, 0, base_depth, top_depth);
    stack_push(&frame);
    if (g_trace.locals) push_refinement_off(i32(g_trace.locals));
    // An exit or error raised by the tracer goes on at once, from here, to its target in the
    // traced code's surroundings, leaving tracing inactive; the catch site that takes it puts
    // the trace switch back as it was there. The exit has already unrolled the stacks to that
    // target; a break, continue or throw crosses the C++ callers of this event as a
    // SystemThrow.
    if (Status s = g_call_function(&tracer, 0, &g_callback_word, 0)) system_throw(s);
    g_trace.active = true;
    g_args.base = saved_base;
    g_args.top = saved_top;
    g_calls.top = saved_calls;
}

u32 trace_events_mask(const Cell* tracer) {
    Cell body = *function_record(tracer, FN_BODY);
    if (type_of(&body) != T_BLOCK || ks_length_q(&body) < 1) return TRACE_ALL_EVENTS;
    Cell first = *ks_head(&body);
    if (type_of(&first) != T_BLOCK) return TRACE_ALL_EVENTS;
    u32 mask = 0;
    i32 n = ks_length_q(&first);
    for (i32 i = 0; i < n; ++i) {
        Cell w = *(ks_head(&first) + i);
        if (type_of(&w) != T_WORD) continue;
        u32 sym = resolve_symbol_alias(word_symbol(&w));
        for (u32 k = 0; k < EVENT_COUNT; ++k)
            if (resolve_symbol_alias(word_symbol(&g_event_words[k])) == sym) mask |= 1u << k;
    }
    return mask;
}

bool trace_installed() { return g_trace.on; }

bool trace_begin(const Cell* tracer) {
    if (g_trace.on) return false;
    words_init();
    g_error_trace_hook = error_to_tracer;
    Cell t = *tracer;
    g_trace.locals = u32(count_spec_words(t.data2, 0, false));
    g_trace.mask = trace_events_mask(&t);
    g_trace.tracer = t;
    g_trace.on = true;
    g_trace.active = true;
    trace_fire(EV_INIT, nullptr, -1, nullptr, nullptr);
    return true;
}

void trace_end() {
    u32 pending = g_system.thrown;
    g_system.thrown = 0;
    if (g_trace.on) {
        g_trace.active = true;
        try {
            trace_fire(EV_END, nullptr, -1, nullptr, nullptr);
        } catch (...) {
            set_cell(&g_trace.tracer, T_NONE);
            g_trace.active = g_trace.on = false;
            throw;
        }
    }
    set_cell(&g_trace.tracer, T_NONE);
    g_trace.active = false;
    g_trace.on = false;
    g_system.thrown = pending;
}

}  // namespace kel::ev
