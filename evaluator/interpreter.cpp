// The interpreter: blocks, expressions, infix operators, paths, and calls of natives,
// actions, functions and routines with their arguments and refinements.
#include "evaluator/interpreter.h"

#include <pthread.h>

#include <cassert>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/typeset.h"
#include "datatypes/unit.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/eval_hooks.h"
#include "evaluator/fast_math.h"
#include "evaluator/natives_control.h"
#include "evaluator/trace.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/platform.h"
#include "runtime/series.h"
#include "runtime/symbols.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

// ---- code positions ---------------------------------------------------------------------

// The code is read through its node at every step: the block may grow, shrink or move
// while it runs.
inline Cell* code_cells(Node node) { return cells_of(buffer_of(node)); }
inline i32 code_length(Node node) {
    SeriesBuffer* b = buffer_of(node);
    return i32((b->tail - b->offset) >> 4);
}

Cell g_word_body;      // <body>
Cell g_word_anon;      // <anon>
Cell g_word_set_path;  // set-path
u32 g_sym_system = 0, g_sym_system_global = 0;

inline const Cell* frame_name(const Cell* name) {
    return name && type_of(name) == T_WORD ? name : &g_word_anon;
}

// ---- native stack guard -------------------------------------------------------------------

// The lowest frame address evaluation may reach on this thread: language recursion stops
// with internal/stack-overflow well before the native stack runs out, whatever its size.
// Until a thread's first check it is the highest address, so that the one comparison of
// every check also sends that first check to the slow path, which finds the real floor.
constexpr uintptr_t FLOOR_UNKNOWN = ~uintptr_t(0);
thread_local uintptr_t t_stack_floor = FLOOR_UNKNOWN;

const u8* compute_stack_floor() {
    const u8* low = nullptr;
    size_t size = 0;
    const u8* here = static_cast<const u8*>(__builtin_frame_address(0));
    if (g_native_stack_low && here >= g_native_stack_low && here < g_native_stack_high) {
        low = g_native_stack_low;
        size = size_t(g_native_stack_high - g_native_stack_low);
    } else {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* addr = nullptr;
            pthread_attr_getstack(&attr, &addr, &size);
            pthread_attr_destroy(&attr);
            low = static_cast<const u8*>(addr);
        }
    }
    if (!low) return reinterpret_cast<const u8*>(1);
    // Room left for raising and reporting the error.
    size_t margin = size / 4 < (size_t(1) << 20) ? size / 4 : (size_t(1) << 20);
    return low + margin;
}

// Parens nest without call frames; they count toward the same depth limit as calls, so a
// paren that holds itself ends with stack-overflow as a recursive function does.
// Counted in bytes of call frames, so that the test is one addition to the call stack's top
// and no division of the frames' distance.
uintptr_t g_paren_bytes = 0;
struct ParenDepth {
    ParenDepth() {
        g_paren_bytes += sizeof(CallFrame);
        if (reinterpret_cast<uintptr_t>(g_calls.top) + g_paren_bytes > reinterpret_cast<uintptr_t>(g_calls.end))
            [[unlikely]] {
            g_paren_bytes -= sizeof(CallFrame);
            call_stack_overflow();
        }
    }
    ~ParenDepth() { g_paren_bytes -= sizeof(CallFrame); }
    ParenDepth(const ParenDepth&) = delete;
    ParenDepth& operator=(const ParenDepth&) = delete;
};

[[noreturn]] __attribute__((noinline)) void native_stack_overflow() {
    cycles_reset();
    raise_error(Err::internal_stack_overflow);
}

// The stack pointer, read without making the caller set up a frame pointer (as
// __builtin_frame_address would in every function that checks).
inline const u8* stack_position() {
#if defined(__x86_64__)
    const u8* sp;
    asm("mov %%rsp, %0" : "=r"(sp));
    return sp;
#else
    return static_cast<const u8*>(__builtin_frame_address(0));
#endif
}

// A step watch sends every check here by keeping the compared floor at FLOOR_UNKNOWN; the
// real floor is then kept apart, so the hot path pays nothing when no watch is set.
thread_local StepWatch t_step_watch = nullptr;
thread_local uintptr_t t_real_floor = FLOOR_UNKNOWN;

[[gnu::noinline]] void native_stack_low(uintptr_t position) {
    if (t_real_floor == FLOOR_UNKNOWN) t_real_floor = reinterpret_cast<uintptr_t>(compute_stack_floor());
    if (position < t_real_floor) native_stack_overflow();
    if (t_step_watch) {
        t_step_watch();
        return;
    }
    t_stack_floor = t_real_floor;
}

inline void check_native_stack() {
    uintptr_t position = reinterpret_cast<uintptr_t>(stack_position());
    if (position < t_stack_floor) [[unlikely]] native_stack_low(position);
}

}  // namespace

void set_step_watch(StepWatch watch) {
    t_step_watch = watch;
    t_stack_floor = watch ? FLOOR_UNKNOWN : t_real_floor;
}

// ---- words --------------------------------------------------------------------------------

namespace {

// The context of the innermost running function! call and its window on the argument stack
// (a collector root; the calls that set it keep the one they replaced on the native stack,
// which pins its node). Its words, the commonest after global ones, reach their slots
// without going through the context cell. Only run_function_steps changes them, and puts
// them back however the call ends, so while a context is the running one its values
// pointer is this window.
Node g_running_context = 0;
Cell* g_running_values = nullptr;

// The slot of a bound word, or null when it has none (unbound, or an argument context with
// no running call): the caller decides what that means.
inline Cell* word_slot(const Cell* w) {
    i32 index = word_index(w);
    Node ctx = word_context(w);
    // An unbound word's index (-1) fails the global bound as an unsigned number.
    if (ctx == g_global_context || !ctx) {
        const GlobalValuesView view = g_global_values_view;
        assert(view.cells == context_values(g_global_context) &&
               i32(view.length) == code_length(context_cell(g_global_context)->data2));
        return u32(index) < view.length ? view.cells + index : nullptr;
    }
    if (index < 0) return nullptr;
    if (ctx == g_running_context) {
        assert(at<Cell>(context_cell(ctx)->data2) == g_running_values);
        return g_running_values + index;
    }
    Cell* c = context_cell(ctx);
    if (c->header & CTX_ON_STACK) return c->data2 ? at<Cell>(c->data2) + index : nullptr;
    SeriesBuffer* vb = buffer_of(c->data2);
    if (u32(index) >= ((vb->tail - vb->offset) >> 4)) return nullptr;
    return cells_of(vb) + index;
}

// A word's value for evaluation: raises as get-word-value-ptr does when it has no slot.
inline const Cell* fetch_word(const Cell* w) {
    Cell* s = word_slot(w);
    return s ? s : get_word_value_ptr(w);
}


// The op! value of an infix operator at pos, or null: checked inline so that the common
// case, an expression with nothing after it, costs no call.
inline const Cell* infix_at(Node code, i32 pos) {
    SeriesBuffer* b = buffer_of(code);
    if (pos >= i32((b->tail - b->offset) >> 4)) return nullptr;
    const Cell* next = cells_of(b) + pos;
    if (type_of(next) != T_WORD) return nullptr;
    const Cell* opv = word_slot(next);
    return opv && type_of(opv) == T_OP ? opv : nullptr;
}

const Cell* object_path_number(const Cell* path);

// An operator's right operand that needs no evaluation to be a number: a literal integer!
// or float!, or a word or object/field path holding one; null otherwise.
__attribute__((always_inline)) inline const Cell* number_operand(const Cell* right) {
    u32 t = type_of(right);
    if (t == T_INTEGER || t == T_FLOAT) return right;
    if (t != T_WORD) return t == T_PATH ? object_path_number(right) : nullptr;
    const Cell* held = word_slot(right);
    return held && (type_of(held) == T_INTEGER || type_of(held) == T_FLOAT) ? held : nullptr;
}

inline void assign_word(const Cell* w, const Cell* value) {
    i32 index = word_index(w);
    if (index >= 0 && word_context(w) == g_running_context && g_running_context) {
        g_running_values[index] = *value;
        return;
    }
    if (index >= 0 && (!word_context(w) || word_context(w) == g_global_context) &&
        u32(index) < g_global_values_view.length) {
        g_global_values_view.cells[index] = *value;
        return;
    }
    if (index >= 0) {
        Cell* c = context_cell(word_context(w) ? word_context(w) : g_global_context);
        u32 kind = (c->header & CTX_KIND_MASK) >> CTX_KIND_SHIFT;
        if (kind != CTX_OBJECT) {
            if (c->header & CTX_ON_STACK) {
                if (c->data2) {
                    at<Cell>(c->data2)[index] = *value;
                    return;
                }
            } else {
                SeriesBuffer* vb = buffer_of(c->data2);
                if (u32(index) < ((vb->tail - vb->offset) >> 4)) {
                    cells_of(vb)[index] = *value;
                    return;
                }
            }
        }
    }
    set_word_value(w, value);
}

}  // namespace

// ---- argument caches ----------------------------------------------------------------------
//
// Built on the first call of a function value from its spec and kept in the second cell of
// the record its third payload word names. Entries in spec order: a typeset! per argument
// (kind in header bits 20-21: 0 evaluated, 1 get-word, 2 lit-word, 3 return type), each
// refinement but /local as the refinement! (a native's numbered from 1 in data3), an
// integer! with the cell count from /local on, and for natives and actions with refinements
// a final integer! with their count. The cache cell's data3 summarises it (CacheInfo).

namespace {

constexpr u32 ARG_KIND_SHIFT = 20;
constexpr u32 ARG_KIND_MASK = 0x300000;
enum ArgKind : u32 { ARG_EVAL = 0, ARG_GET = 1, ARG_LIT = 2, ARG_RETURN = 3 };
inline u32 arg_kind(const Cell* ts) { return (ts->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT; }

// Cache summary in the cache cell's data3: bits 0-7 main arguments, 8-15 refinements,
// 16-30 local cells (/local included), bit 31 built. The cache cell's header carries
// CACHE_PLAIN when the first `main` entries are all evaluated arguments (no get-word or
// lit-word argument, no return type before the last of them): entry k is then argument k.
// It carries CACHE_UNTYPED when no main argument names its types: each then takes any value
// but unset, which one comparison tells without reading the typesets.
struct CacheInfo {
    u32 main;
    u32 refinements;
    u32 locals;
    bool plain;
    bool untyped;
};
constexpr u32 CACHE_BUILT = 0x80000000;
constexpr u32 CACHE_PLAIN = 0x01000000;
constexpr u32 CACHE_UNTYPED = 0x02000000;
// Natives and actions get their refinement indexes in an array on the native stack.
constexpr u32 MAX_BUILTIN_REFINEMENTS = 32;

inline CacheInfo unpack(const Cell* c) {
    u32 w = c->data3;
    return {w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0x7FFF, (c->header & CACHE_PLAIN) != 0,
            (c->header & CACHE_UNTYPED) != 0};
}

Cell* cache_cell(const Cell* fn) { return cells_of(buffer_of(fn->data3)) + 1; }

void add_typeset(Cell* cache, const Cell* type_block, u32 kind) {
    Cell ts;
    if (type_block) {
        // Typesets the spec names by word: any-type! admits every type, even before the
        // library defines the word.
        set_cell(&ts, T_TYPESET);
        Cell tb = *type_block;
        i32 n = ks_length_q(&tb);
        for (i32 i = 0; i < n; ++i) {
            Cell item = *(ks_head(&tb) + i);
            if (type_of(&item) == T_WORD && any_type_word_q(&item)) {
                set_cell(&ts, T_TYPESET, ~0u, ~0u, ~0u);
                break;
            }
            const Cell* v = &item;
            if (type_of(&item) == T_WORD) {
                v = word_value_or_null(&item);
                if (!v) raise_error(Err::script_no_value, &item);
            }
            switch (type_of(v)) {
                case T_DATATYPE: typeset_set(&ts, v->data1); break;
                case T_TYPESET:
                    ts.data1 |= v->data1;
                    ts.data2 |= v->data2;
                    ts.data3 |= v->data3;
                    break;
                case T_WORD: typeset_set(&ts, T_OBJECT); break;
                case T_BLOCK: break;
                default: raise_error(Err::script_invalid_type_spec, &item);
            }
        }
    } else {
        set_cell(&ts, T_TYPESET, ~0u, ~0u, ~0u);
        reinterpret_cast<u8*>(&ts.data1)[T_UNSET >> 3] &= u8(~(0x80 >> (T_UNSET & 7)));
    }
    ts.header = T_TYPESET | (kind << ARG_KIND_SHIFT);
    ks_append(cache, &ts);
}

// func-spec-check: builds the cache of `fn` (rooted by the caller) and answers its summary.
CacheInfo build_cache(const Cell* fn) {
    bool builtin = type_of(fn) == T_NATIVE || type_of(fn) == T_ACTION;
    Cell* cache = push_new_block(8);
    Cell spec = spec_of_function(fn);
    stack_push(&spec);
    i32 n = ks_length_q(&spec);
    CacheInfo info{0, 0, 0, false, false};
    bool in_refinements = false;
    bool plain = true;
    bool untyped = true;
    bool return_seen = false;  // a return type before an argument shifts the entries
    u32 local_sym = resolve_symbol_alias(runtime_word_symbol(WORD_LOCAL));
    auto item = [&](i32 i) { return *(ks_head(&spec) + i); };
    for (i32 i = 0; i < n; ++i) {
        Cell v = item(i);
        u32 t = type_of(&v);
        if (i == 0 && t == T_BLOCK) continue;  // attributes
        Cell* types = nullptr;
        Cell next;
        if (i + 1 < n) {
            next = item(i + 1);
            if (type_of(&next) == T_BLOCK) types = &next;
        }
        switch (t) {
            case T_WORD: case T_GET_WORD: case T_LIT_WORD: {
                u32 kind = t == T_WORD ? ARG_EVAL : t == T_GET_WORD ? ARG_GET : ARG_LIT;
                add_typeset(cache, types, kind);
                if (types) ++i;
                if (!in_refinements) {
                    ++info.main;
                    if (kind != ARG_EVAL || return_seen) plain = false;
                    if (types) untyped = false;
                }
                break;
            }
            case T_SET_WORD:
                if (resolve_symbol_alias(word_symbol(&v)) != resolve_symbol_alias(runtime_symbol(SYM_RETURN)))
                    raise_error(Err::script_bad_func_def, &v);
                add_typeset(cache, types, ARG_RETURN);
                if (types) ++i;
                return_seen = true;
                break;
            case T_REFINEMENT: {
                in_refinements = true;
                if (resolve_symbol_alias(word_symbol(&v)) == local_sym) {
                    u32 count = 1;
                    for (++i; i < n; ++i) {
                        Cell w = item(i);
                        if (type_of(&w) == T_SET_WORD) break;
                        if (type_of(&w) == T_WORD) ++count;
                    }
                    Cell c;
                    set_cell(&c, T_INTEGER, 0, count, 0);
                    ks_append(cache, &c);
                    info.locals = count;
                    i = n;
                    break;
                }
                ++info.refinements;
                if (builtin) v.data3 = info.refinements;
                ks_append(cache, &v);
                break;
            }
            default: break;
        }
    }
    if (builtin && info.refinements) {
        Cell c;
        set_cell(&c, T_INTEGER, 0, info.refinements, 0);
        ks_append(cache, &c);
    }
    if (info.main > 0xFF || info.refinements > 0xFF || info.locals > 0x7FFF ||
        (builtin && info.refinements > MAX_BUILTIN_REFINEMENTS))
        raise_error(Err::script_bad_func_def, &spec);
    Cell built = *cache;
    built.data3 = CACHE_BUILT | info.main | (info.refinements << 8) | (info.locals << 16);
    built.header = (built.header & ~CELL_NEW_LINE) | (plain ? CACHE_PLAIN : 0) | (untyped ? CACHE_UNTYPED : 0);
    *cache_cell(fn) = built;
    stack_pop(2);
    info.plain = plain;
    info.untyped = untyped;
    return info;
}

inline CacheInfo cache_of(const Cell* fn, Node* node) {
    Cell* c = cache_cell(fn);
    if (type_of(c) == T_BLOCK && (c->data3 & CACHE_BUILT)) {
        *node = c->data2;
        return unpack(c);
    }
    CacheInfo info = build_cache(fn);
    *node = cache_cell(fn)->data2;
    return info;
}

// The spec's word for argument entry k of the cache (for error messages).
Cell argument_word(const Cell* fn, i32 k) {
    Cell spec = spec_of_function(fn);
    i32 n = ks_length_q(&spec);
    i32 seen = 0;
    for (i32 i = 0; i < n; ++i) {
        Cell v = *(ks_head(&spec) + i);
        switch (type_of(&v)) {
            case T_WORD: case T_GET_WORD: case T_LIT_WORD: case T_REFINEMENT: case T_SET_WORD:
                if (seen++ == k) {
                    v.header = T_WORD;
                    return v;
                }
                break;
            default: break;
        }
    }
    Cell anon = g_word_anon;
    return anon;
}

[[noreturn]] void raise_expect(const Cell* fn, const Cell* name, i32 entry, const Cell* value) {
    Cell f = *fn;
    Cell n = *frame_name(name);
    Cell dt;
    set_cell(&dt, T_DATATYPE, type_of(value));
    Cell w = argument_word(&f, entry);
    raise_error(Err::script_expect_arg, &n, &dt, &w);
}

[[noreturn]] void raise_no_arg(const Cell* fn, const Cell* name, i32 entry) {
    Cell f = *fn;
    Cell n = *frame_name(name);
    Cell w = argument_word(&f, entry);
    raise_error(Err::script_no_arg, &n, &w);
}

}  // namespace

// ---- evaluation ---------------------------------------------------------------------------

namespace {

struct PathCall {
    const Cell* path;  // the path whose further elements request refinements
    i32 index;         // the element that produced the function
};

Status eval_expr_slow(Node code, i32& pos, bool no_infix, bool passive);
template <bool Untraced>
Status eval_set_word(Node code, i32& pos);
template <bool Untraced>
Status eval_infix(Node code, i32& pos, Cell* start, const Cell* opv);
template <bool Untraced = false, bool InlineConditional = false>
__attribute__((always_inline)) inline Status eval_expr(Node code, i32& pos, bool no_infix, bool passive);
template <bool StackChecked = false>
__attribute__((always_inline)) inline Status conditional_word_steps(Node code, i32& pos, const Cell* word_cell,
                                                                    const Cell* fnv, bool no_infix);
// Function values are copied as whole cells: the compiler must not split them into register
// halves at these calls (a 16-byte reload of two 8-byte stores stalls on every call).
#if defined(__clang__)
#define KEL_WHOLE_CELLS __attribute__((noinline))  // clang has no noipa
#else
#define KEL_WHOLE_CELLS __attribute__((noipa))
#endif
KEL_WHOLE_CELLS Status eval_code(const Cell* fn, Node code, i32& pos, const Cell* name, const PathCall* path, bool infix,
                                 Cell* left);
Status eval_path(const Cell* path, Node code, i32& pos, bool set, bool get, bool case_, const Cell* set_value);

inline void trace_code(u32 event, Node code, i32 pos, const Cell* value, const Cell* ref) {
    Cell c;
    set_cell(&c, T_BLOCK, 0, code, 0);
    trace_fire(event, &c, pos, value, ref);
}

inline void pushed(Node code, i32 pos) {
    if (g_trace.active) trace_code(EV_PUSH, code, pos, stack_top(), nullptr);
}

// One argument of kind lit-word: a paren is evaluated, a get-word gives its word's value, a
// get-path is evaluated as a get-path; anything else is taken as it stands.
Status fetch_literal(Node code, i32& pos) {
    Cell v = code_cells(code)[pos];
    if (g_trace.active) trace_code(EV_FETCH, code, pos, &v, nullptr);
    switch (type_of(&v)) {
        case T_PAREN: {
            ++pos;
            stack_open_named(g_sym_anon, FH_INTERP_NATIVE);
            Status s = eval_block(&v, true);
            if (s) return s;
            stack_unwind();
            break;
        }
        case T_GET_WORD:
            ++pos;
            stack_push(fetch_word(&v));
            break;
        case T_GET_PATH: {
            ++pos;
            Status s = eval_path(&v, code, pos, false, true, false, nullptr);
            if (s) return s;
            break;
        }
        default:
            ++pos;
            stack_push(&v);
            break;
    }
    pushed(code, pos - 1);
    return 0;
}

// Fetches one argument of the given kind onto the stack.
inline Status fetch_argument(u32 kind, Node code, i32& pos, bool no_infix) {
    if (kind == ARG_EVAL) return eval_expr(code, pos, no_infix, false);
    if (kind == ARG_GET) {
        Cell v = code_cells(code)[pos];
        if (g_trace.active) trace_code(EV_FETCH, code, pos, &v, nullptr);
        ++pos;
        stack_push(&v);
        pushed(code, pos - 1);
        return 0;
    }
    return fetch_literal(code, pos);
}

// Index of the cache entry of a refinement named like `word`, with its frame slot (function
// values) and its number (natives), or -1.
struct RefinementAt {
    i32 entry;
    i32 slot;
    i32 number;
};
RefinementAt find_refinement(Node cache, const Cell* word) {
    u32 sym = resolve_symbol_alias(word_symbol(word));
    i32 n = code_length(cache);
    i32 slot = 0, number = 0;
    for (i32 i = 0; i < n; ++i) {
        Cell* e = code_cells(cache) + i;
        switch (type_of(e)) {
            case T_TYPESET:
                if (arg_kind(e) != ARG_RETURN) ++slot;
                break;
            case T_REFINEMENT:
                ++number;
                if (resolve_symbol_alias(word_symbol(e)) == sym) return {i, slot, number};
                ++slot;
                break;
            default: break;
        }
    }
    return {-1, -1, -1};
}

// Walks the path elements after the function's one: each requests a refinement, whose
// arguments are then fetched from the code.
Status path_refinements(const Cell* fn, Node cache, const Cell* name, const PathCall* pc, Node code, i32& pos,
                        bool native, i32* refs) {
    Cell path = *pc->path;
    Node pnode = series_node(&path);
    for (i32 k = pc->index + 1; k < code_length(pnode); ++k) {
        Cell el = code_cells(pnode)[k];
        u32 t = type_of(&el);
        if (t != T_WORD && t != T_GET_WORD) raise_error(Err::script_bad_refine, &el);
        bool use = t == T_WORD || value_true(fetch_word(&el));
        RefinementAt r = find_refinement(cache, &el);
        if (r.entry < 0) {
            Cell n = *frame_name(name);
            raise_error(Err::script_no_refine, &n, &el);
        }
        Cell* flag = g_args.base + r.slot;
        if (native) {
            if (refs[r.number - 1] != -1) raise_error(Err::script_dup_refine, &path);
            if (use) refs[r.number - 1] = i32(g_args.top - g_args.base);
        } else {
            if (type_of(flag) != T_LOGIC || flag->data1 != 0) raise_error(Err::script_dup_refine, &path);
            if (use) flag->data1 = 1;
        }
        // Its arguments follow it in the cache.
        i32 j = r.entry + 1;
        i32 arg = 0;
        for (;; ++j) {
            if (j >= code_length(cache)) break;
            Cell ts = code_cells(cache)[j];
            if (type_of(&ts) != T_TYPESET) break;
            if (arg_kind(&ts) == ARG_RETURN) continue;
            ++arg;
            if (pos >= code_length(code)) raise_no_arg(fn, name, r.slot + arg);
            Status s = fetch_argument(arg_kind(&ts), code, pos, false);
            if (s) return s;
            if (!use) {
                stack_pop(1);
                continue;
            }
            if (!typeset_has(&ts, type_of(stack_top()))) raise_expect(fn, name, r.slot + arg, stack_top());
            if (!native) {
                g_args.base[r.slot + arg] = *stack_top();
                stack_pop(1);
            }
        }
    }
    return 0;
}

// eval-arguments: fetches the arguments (the frame is open; for an infix call the left
// operand is already its first slot) and, for natives and actions, calls the entry.
// A function's slots after its main arguments, as they stand when the call names no
// refinement: refinement flags false, their arguments none; /local false, locals none.
void push_absent_refinements(Node cache, i32 entry) {
    i32 n = code_length(cache);
    for (i32 i = entry; i < n; ++i) {
        Cell* e = code_cells(cache) + i;
        switch (type_of(e)) {
            case T_TYPESET:
                if (arg_kind(e) != ARG_RETURN) push_none();
                break;
            case T_REFINEMENT: push_logic(0); break;
            case T_INTEGER: push_refinement_off(i32(e->data2)); break;
            default: break;
        }
    }
}

// A function's /local slots after its arguments, as push_absent_refinements fills them: the
// refinement off, its words none. Out of line: calls without locals pay only the test.
__attribute__((noinline)) void push_locals(u32 locals) {
    set_cell(stack_push_slot(), T_LOGIC, 0);
    for (u32 i = 1; i < locals; ++i) set_cell(stack_push_slot(), T_NONE);
}

Status eval_arguments(const Cell* fn, Node code, i32& pos, const Cell* name, const PathCall* path, bool infix) {
    Node cache;
    CacheInfo info = cache_of(fn, &cache);
    bool builtin = type_of(fn) == T_NATIVE || type_of(fn) == T_ACTION;
    // Main arguments.
    i32 entry = 0;
    if (info.plain) {
        // Evaluated arguments alone: cache entry a is argument a, so there is no kind to
        // tell apart and no return entry to skip.
        u32 a = 0;
        if (infix && info.main) {
            if (!typeset_has(code_cells(cache), type_of(g_args.base))) raise_expect(fn, name, 0, g_args.base);
            a = 1;
        }
        for (; a < info.main; ++a) {
            if (pos >= code_length(code)) raise_no_arg(fn, name, i32(a));
            Status s = eval_expr(code, pos, infix, false);
            if (s) return s;
            if (!typeset_has(code_cells(cache) + a, type_of(g_args.top - 1))) raise_expect(fn, name, i32(a), g_args.top - 1);
        }
        entry = i32(info.main);
    }
    for (u32 a = info.plain ? info.main : 0; a < info.main; ++entry) {
        Cell* ts = code_cells(cache) + entry;
        u32 kind = arg_kind(ts);
        if (kind == ARG_RETURN) continue;
        if (a == 0 && infix) {
            if (!typeset_has(ts, type_of(g_args.base))) raise_expect(fn, name, i32(a), g_args.base);
            ++a;
            continue;
        }
        if (pos >= code_length(code)) {
            if (kind == ARG_LIT && typeset_has(ts, T_UNSET)) {
                push_unset();
                ++a;
                continue;
            }
            raise_no_arg(fn, name, i32(a));
        }
        Status s = fetch_argument(kind, code, pos, infix);
        if (s) return s;
        // Re-read: fetching may have grown the cache's neighbours, never the cache itself.
        ts = code_cells(cache) + entry;
        if (!typeset_has(ts, type_of(g_args.top - 1))) raise_expect(fn, name, i32(a), g_args.top - 1);
        ++a;
    }
    i32 refs[MAX_BUILTIN_REFINEMENTS];
    if (builtin) {
        for (u32 r = 0; r < info.refinements; ++r) refs[r] = -1;
    } else if (info.refinements || info.locals) {
        push_absent_refinements(cache, entry);
    }
    if (path && path->path) {
        Status s = path_refinements(fn, cache, name, path, code, pos, builtin, refs);
        if (s) return s;
    }
    if (g_trace.active) {
        Cell f = *fn;
        trace_code(EV_CALL, code, pos, &f, frame_name(name));
    }
    if (type_of(fn) == T_NATIVE) return g_natives_table[fn->data1](true, refs);
    if (type_of(fn) == T_ACTION) g_actions_table[fn->data1](refs);
    return 0;
}

// The arguments of a call whose spec has evaluated arguments alone (CACHE_PLAIN), not infix
// and without refinements requested: each is evaluated and checked against its typeset,
// then the call event goes to the tracer, as eval_arguments does. Inlined into the calls of
// functions and of natives alike: out of line, its prologue and epilogue cost a tenth of a call.
template <bool Untraced = false>
__attribute__((always_inline)) inline Status plain_arguments(const Cell* fn, Node cache, CacheInfo info, Node code,
                                                             i32& pos, const Cell* name, u32 first = 0) {
    for (u32 a = first; a < info.main; ++a) {
        if (pos >= code_length(code)) raise_no_arg(fn, name, i32(a));
        if (Status s = eval_expr<Untraced>(code, pos, false, false)) return s;
        u32 t = type_of(g_args.top - 1);
        if (info.untyped ? t == T_UNSET : !typeset_has(code_cells(cache) + a, t))
            raise_expect(fn, name, i32(a), g_args.top - 1);
    }
    if (!Untraced && g_trace.active) {
        Cell f = *fn;
        trace_code(EV_CALL, code, pos, &f, frame_name(name));
    }
    return 0;
}

// Type-checks the main arguments already in the open frame and calls the native or action.
Status call_with_arguments(const Cell* fn, const Cell* name) {
    Node cache;
    CacheInfo info = cache_of(fn, &cache);
    i32 entry = 0;
    for (u32 a = 0; a < info.main; ++entry) {
        Cell* ts = code_cells(cache) + entry;
        if (arg_kind(ts) == ARG_RETURN) continue;
        if (!typeset_has(ts, type_of(g_args.base + a))) raise_expect(fn, name, i32(a), g_args.base + a);
        ++a;
    }
    i32 refs[MAX_BUILTIN_REFINEMENTS];
    for (u32 r = 0; r < info.refinements; ++r) refs[r] = -1;
    if (type_of(fn) == T_NATIVE) return g_natives_table[fn->data1](true, refs);
    g_actions_table[fn->data1](refs);
    return 0;
}

// routine-call: only registered routines exist (the library's registry, through
// g_routine_entry); their C++ bodies take the argument cells and answer through the result
// slot, or through their answer when the routine declares a logic! or integer! result (its
// return kind is that type's id).
void routine_call(const Cell* fn) {
    Cell* rec = cells_of(buffer_of(fn->data3));
    RoutineBody entry = g_routine_entry ? g_routine_entry(get_int(&rec[FN_CODE])) : nullptr;
    i32 returns = get_int(&rec[FN_OWNER]);
    if (!entry) raise_error(Err::internal_not_done);
    // A routine without arguments still has its result slot.
    if (g_args.top == g_args.base) set_cell(stack_push_slot(), T_UNSET);
    i64 answer = entry(g_args.base);
    if (returns == T_LOGIC) set_cell(g_args.base, T_LOGIC, answer != 0);
    else if (returns == T_INTEGER) set_cell(g_args.base, T_INTEGER, 0, u32(i32(answer)));
}

}  // namespace

namespace {

// The Near position set aside while a block runs, as two machine words: copied as a Cell,
// the compiler splits it into four loads and puts it back together with vector shuffles.
struct SavedNear {
    u64 words[2];
    SavedNear() { std::memcpy(words, &g_eval_cell, sizeof words); }
    void restore() const { std::memcpy(&g_eval_cell, words, sizeof words); }
};

// eval-block's steps with tracing off (and so off throughout, see eval_expr): no frame of
// its own (the caller's frame names the call, and exits unroll to their targets without
// it). Each expression pushes its value where the block began; the last one stays there
// (push mode) or becomes the caller's result (keep_in_caller). With tracing on, eval_block
// keeps a <body> frame, whose window the tracer's events report.
// The block is taken by value: the cell may sit in a buffer that the evaluation moves, and a
// caller's own copy then stays in registers.
// InlineConditional: a conditional met at this level runs inline instead of through
// eval_conditional_word. Function bodies take it, as most begin with `if` or `either`: one
// native call and its prologue fewer per call; the blocks the conditional runs take the
// call again, which bounds the inlining.
template <bool InlineConditional = false>
__attribute__((always_inline)) inline Status run_block(const Cell code, bool keep_in_caller) {
    Node node = series_node(&code);
    i32 index = series_head(&code);
    if (index < 0) index = 0;
    Cell* result = g_args.top;
    if (index >= code_length(node)) {
        set_cell(stack_push_slot(), T_UNSET);
    } else {
        const SavedNear saved_eval;
        set_cell(&g_eval_cell, code.header & ~CELL_NEW_LINE, u32(index), node, code.data3);
        for (;;) {
            g_eval_cell.data1 = u32(index);
            g_args.top = result;
            if (Status s = eval_expr<true, InlineConditional>(node, index, false, false)) {
                saved_eval.restore();
                return s;
            }
            if (index >= code_length(node)) break;
        }
        saved_eval.restore();
    }
    if (keep_in_caller) *g_args.base = *result;
    g_args.top = result + 1;
    return 0;
}

// if, unless and either, met with tracing off (recognised by their native entries, since
// their words can be rebound). Written with literal blocks, as they nearly always are, the
// condition is evaluated and the chosen block run in the native's frame, without pushing
// the blocks or calling the entry; the answer is the entry's. Otherwise the remaining
// arguments are taken as for any native and the entry is called.
constexpr u32 ENTRY_IF = 0, ENTRY_EITHER = 2;  // unless is entry 1
inline bool is_conditional_entry(u32 entry) { return entry <= ENTRY_EITHER; }

// The general way for a conditional whose condition is in place: its blocks are arguments.
__attribute__((noinline)) Status conditional_call(const Cell* fn, Node code, i32& pos, const Cell* name) {
    Node cache;
    CacheInfo info = cache_of(fn, &cache);
    if (Status s = plain_arguments(fn, cache, info, code, pos, name, 1)) return s;
    const i32 no_refinements[1] = {-1};
    return g_natives_table[fn->data1](true, no_refinements);
}

__attribute__((always_inline)) inline Status run_conditional(const Cell* fn, Node code, i32& pos, const Cell* name) {
    u32 entry = fn->data1;
    if (pos >= code_length(code)) raise_no_arg(fn, name, 0);
    if (Status s = eval_expr<true>(code, pos, false, false)) return s;
    u32 blocks = entry == ENTRY_EITHER ? 2 : 1;
    SeriesBuffer* b = buffer_of(code);
    const Cell* cells = cells_of(b) + pos;
    // A block followed by an operator is the operator's left operand: that argument is an
    // expression, taken the general way. (Between either's two blocks there is no operator.)
    if (pos + i32(blocks) > i32((b->tail - b->offset) >> 4) || type_of(cells) != T_BLOCK ||
        (blocks == 2 && type_of(cells + 1) != T_BLOCK) || infix_at(code, pos + i32(blocks))) [[unlikely]] {
        return conditional_call(fn, code, pos, name);
    }
    // either's checked truth, inline: out of line it was a call per conditional.
    bool truth;
    if (entry == ENTRY_EITHER) {
        if (type_of(g_args.base) == T_UNSET) [[unlikely]] raise_error(Err::script_no_return);
        truth = value_true(g_args.base);
    } else {
        truth = value_true(g_args.base) == (entry == ENTRY_IF);
    }
    // A branch, not a computed index: the block's cells are then read on the predicted
    // path without waiting for the condition, where a select made every step of the block
    // wait for it (calls ran 7 % faster). The empty asm keeps the compiler from turning
    // the branch back into a select.
    Cell chosen;
    if (entry == ENTRY_EITHER && !truth) {
        chosen = cells[1];
        asm volatile("");
    } else {
        chosen = cells[0];
    }
    pos += i32(blocks);
    if (!truth && entry != ENTRY_EITHER) {
        set_cell(g_args.base, T_NONE);
        g_args.top = g_args.base + 1;
        return 0;
    }
    return run_block(chosen, true);
}

// call-function without the native stack check (the caller made it). `saved_values` is the
// function context's values pointer before the call, put back however the call ends.
// Untraced: called with tracing off (see eval_expr); a function whose attributes switch
// tracing takes the general steps.
template <bool Untraced = false>
__attribute__((always_inline)) inline Status run_function_steps(const Cell f, const Cell* reference,
                                                                u32 callback_class, Off saved_values) {
    if (Untraced && (f.header & (FN_TRACE | FN_NO_TRACE))) [[unlikely]]
        return run_function_steps<false>(f, reference, callback_class, saved_values);
    Cell* rec = cells_of(buffer_of(f.data3));
    Cell body = rec[FN_BODY];
    Node ctx = f.data1;
    CallFrame* frame = stack_top_frame();
    const bool saved_active = !Untraced && g_trace.active;
    if (!Untraced && g_trace.active && callback_class) {
        trace_fire(EV_CALL, nullptr, -1, &f, reference);
    }
    // The body reads its arguments and locals through the context, pointed at this window.
    context_cell(ctx)->data2 = off_of(g_args.base);
    const Node saved_running = g_running_context;
    Cell* const saved_running_values = g_running_values;
    g_running_context = ctx;
    g_running_values = g_args.base;
    frame->header |= FRAME_RETURN_TARGET;
    if (!Untraced && (f.header & (FN_TRACE | FN_NO_TRACE))) [[unlikely]] {
        if (f.header & FN_TRACE) g_trace.active = g_trace.on;
        if (f.header & FN_NO_TRACE) g_trace.active = false;
    }
    Status s = 0;
    // A plain struct rather than a capturing lambda: the lambda's captures cost a table of
    // addresses built on every call.
    struct Restore {
        bool active;
        CallFrame* frame;
        Node ctx;
        Off values;
        Node running;
        Cell* running_values;
        __attribute__((always_inline)) void operator()() const {
            g_trace.active = active;
            frame->header &= ~FRAME_RETURN_TARGET;
            context_cell(ctx)->data2 = values;
            g_running_context = running;
            g_running_values = running_values;
        }
    };
    const Restore finish{saved_active, frame, ctx, saved_values, saved_running, saved_running_values};
    try {
        if (!Untraced && g_trace.active) {
            Cell b = body;
            trace_fire(EV_PROLOG, &b, -1, &f, reference);
        }
        if (type_of(&body) == T_BLOCK) {
            s = !Untraced && g_trace.active ? eval_block(&body, true) : run_block<true>(body, true);
        } else {
            set_cell(g_args.base, T_UNSET);
            g_args.top = g_args.base + 1;
        }
        if (!Untraced && g_trace.active) {
            u32 pending = g_system.thrown;
            g_system.thrown = 0;
            Cell b = body;
            trace_fire(EV_EPILOG, &b, -1, &f, reference);
            g_system.thrown = pending;
        }
    } catch (SystemThrow& t) {
        // A return or exit that crossed C++ code on its way to this frame ends the call.
        bool mine = (t.code == CODE_RETURN || t.code == CODE_EXIT) && stack_top_frame() == frame;
        finish();
        if (!mine) throw;
        s = t.code;
    } catch (...) {
        finish();
        throw;
    }
    if (s == CODE_RETURN || s == CODE_EXIT) {
        if (stack_top_frame() == frame) {
            finish();
            g_system.thrown = 0;
            s = 0;
        } else {
            finish();
        }
    } else {
        finish();
    }
    if (!Untraced && saved_active && callback_class && !s) trace_fire(EV_RETURN, nullptr, -1, g_args.base, reference);
    return s;
}

KEL_WHOLE_CELLS Status run_function(const Cell* fn, const Cell* reference, u32 callback_class) {
    return run_function_steps(*fn, reference, callback_class, context_cell(fn->data1)->data2);
}

}  // namespace

// call-function: runs a function! whose frame is open and whose arguments are in place.
Status call_function(Cell* fn, Node, const Cell* reference, u32 callback_class) {
    check_native_stack();
    return run_function(fn, reference, callback_class);
}

namespace {

// eval-code's steps, inlined into eval_code and into eval_word_call (the commonest caller,
// whose constant arguments drop the infix and path cases, and which runs with tracing off:
// Untraced, see eval_expr).
template <bool Untraced = false>
__attribute__((always_inline)) inline Status eval_code_steps(const Cell* fn_in, Node code, i32& pos, const Cell* name,
                                                            const PathCall* path, bool infix, Cell* left) {
    Cell fn = *fn_in;
    if (!Untraced && g_trace.active) {
        Cell n = *frame_name(name);
        trace_code(EV_OPEN, code, pos, &n, nullptr);
    }
    // The left operand becomes the first slot of an operator's frame. Any other call's frame
    // opens where its expression began, so its answer is left there: the local copy of the
    // function value keeps it alive meanwhile.
    if (infix) g_args.top = left;
    Status s;
    switch (type_of(&fn)) {
        case T_NATIVE: case T_ACTION: {
            // Nested calls without a block between them recurse here alone.
            if (!infix) check_native_stack();
            stack_open_frame(frame_name(name), FH_INTERP_NATIVE);
            if (infix) g_args.top = g_args.base + 1;
            if (!path && !infix && type_of(&fn) == T_NATIVE && is_conditional_entry(fn.data1) &&
                (Untraced || !g_trace.active)) {
                s = run_conditional(&fn, code, pos, name);
                break;
            }
            Node cache;
            CacheInfo info = cache_of(&fn, &cache);
            if (!path && !infix && info.plain) {
                // Evaluated arguments alone and no refinement requested (most calls of
                // natives and actions): eval_arguments' steps for such a spec, without its
                // general cases.
                if ((s = plain_arguments<Untraced>(&fn, cache, info, code, pos, name))) return s;
                i32 refs[MAX_BUILTIN_REFINEMENTS];
                refs[0] = -1;
                for (u32 r = 1; r < info.refinements; ++r) refs[r] = -1;
                if (type_of(&fn) == T_NATIVE) s = g_natives_table[fn.data1](true, refs);
                else g_actions_table[fn.data1](refs);
            } else {
                s = eval_arguments(&fn, code, pos, name, path, infix);
            }
            break;
        }
        case T_ROUTINE:
            check_native_stack();
            stack_open_frame(frame_name(name), FH_INTERP_NATIVE);
            if (infix) g_args.top = g_args.base + 1;
            s = eval_arguments(&fn, code, pos, name, path, infix);
            if (!s) routine_call(&fn);
            break;
        case T_FUNCTION: {
            check_native_stack();
            // The frame restores the context's values pointer however the call ends.
            Off values = context_cell(fn.data1)->data2;
            stack_open_frame(frame_name(name), FH_INTERP_FUNCTION);
            CallFrame* f = g_calls.top - 1;
            f->fn_context = fn.data1;
            f->fn_values = values;
            if (infix) g_args.top = g_args.base + 1;
            Node cache;
            CacheInfo info = cache_of(&fn, &cache);
            if (!path && !infix && info.plain && !info.refinements && (Untraced || !info.locals)) {
                // Evaluated arguments alone, and no refinement flags to set up (untraced,
                // locals at most): what eval_arguments does for such a spec, without its
                // general cases.
                if ((s = plain_arguments<Untraced>(&fn, cache, info, code, pos, name))) return s;
                if (Untraced && info.locals) push_locals(info.locals);
            } else {
                s = eval_arguments(&fn, code, pos, name, path, infix);
                if (s) return s;
            }
            s = run_function_steps<Untraced>(fn, name, 0, values);
            break;
        }
        default: fatal_no_switch();
    }
    if (s) return s;
    stack_unwind();
    if (!Untraced && g_trace.active) trace_code(EV_RETURN, code, pos, g_args.top - 1, frame_name(name));
    return 0;
}

KEL_WHOLE_CELLS Status eval_code(const Cell* fn_in, Node code, i32& pos, const Cell* name, const PathCall* path, bool infix,
                                 Cell* left) {
    return eval_code_steps(fn_in, code, pos, name, path, infix, left);
}

// A function value met as the head of a path, or selected by one, is called with the
// remaining elements as refinements.
inline bool is_callable(u32 t) { return t == T_NATIVE || t == T_ACTION || t == T_FUNCTION || t == T_ROUTINE; }

// The commonest path, `object/field` read or set with tracing off, skips the general walk:
// the slot of the field it names, with the object in `obj` and the field's cache entry in
// `field`; null for any other shape (a head index below zero included), or a field the
// object lacks, which the walk reports. Nothing here allocates: slot and entry are good
// until the next allocation.
__attribute__((always_inline)) inline Cell* object_path_slot(const Cell* path, const Cell*& obj,
                                                             const FieldCacheEntry*& field) {
    SeriesBuffer* pb = buffer_of(series_node(path));
    i32 head = series_head(path);
    if (head < 0 || head + 2 != i32((pb->tail - pb->offset) >> 4)) return nullptr;
    const Cell* els = cells_of(pb) + head;
    if (type_of(els) != T_WORD || type_of(els + 1) != T_WORD) return nullptr;
    obj = word_slot(els);
    if (!obj || type_of(obj) != T_OBJECT) return nullptr;
    field = find_field(object_context(obj), word_symbol(els + 1));
    if (!field) return nullptr;
    SeriesBuffer* vb = buffer_of(field->values);
    if (u32(field->index) >= u32((vb->tail - vb->offset) >> 4)) return nullptr;
    return cells_of(vb) + field->index;
}

// Whether a path's field value is its result as it stands: not unset (the walk's error), and
// for a path that is not a get-path, no function (the walk calls it).
inline bool plain_field_value(const Cell* v, bool get) {
    u32 t = type_of(v);
    return t != T_UNSET && (get || !is_callable(t));
}

// Sets the field through its slot when the object has no change handler, as
// set_word_in_context does: the context's word gets the changed mark. False (nothing done)
// when a handler is due.
inline bool set_object_field(const Cell* obj, const FieldCacheEntry* field, Cell* slot, const Cell* value) {
    if (obj->data3) return false;
    cells_of(buffer_of(field->words))[field->index].header |= CHANGED_MARK;
    *slot = *value;
    return true;
}

// The value an `object/field` path gives as it stands, for the fast expression steps; null
// when it is not such a path or its field is unset or a function.
__attribute__((noinline)) const Cell* object_path_value(const Cell* path) {
    const Cell* obj;
    const FieldCacheEntry* field;
    const Cell* slot = object_path_slot(path, obj, field);
    return slot && plain_field_value(slot, false) ? slot : nullptr;
}

// The number an `object/field` path holds, for an operator's right operand; null when it
// holds anything else or is not such a path.
__attribute__((noinline)) const Cell* object_path_number(const Cell* path) {
    const Cell* obj;
    const FieldCacheEntry* field;
    const Cell* slot = object_path_slot(path, obj, field);
    return slot && (type_of(slot) == T_INTEGER || type_of(slot) == T_FLOAT) ? slot : nullptr;
}

Status eval_path(const Cell* path_in, Node code, i32& pos, bool set, bool get, bool case_, const Cell* set_value) {
    Cell* start = g_args.top;
    Cell* path = stack_push(path_in);
    Node pnode = series_node(path);
    i32 head = series_head(path);
    if (head < 0) head = 0;
    if (head >= code_length(pnode)) raise_error(Err::script_empty_path);
    if (g_trace.active) {
        trace_fire(EV_ENTER, path, head, nullptr, nullptr);
        trace_fire(EV_FETCH, path, head, code_cells(pnode) + head, nullptr);
    }
    Cell first = code_cells(pnode)[head];
    if (type_of(&first) != T_WORD) raise_error(Err::script_word_first, path);
    Cell* hv = word_slot(&first);
    if (!hv && word_index(&first) < 0) hv = get_word_value_ptr(&first);
    Cell headv = hv ? *hv : Cell{T_UNSET, 0, 0, 0};
    if (type_of(&headv) == T_OBJECT && !g_trace.active) {
        const Cell* obj;
        const FieldCacheEntry* field;
        if (Cell* slot = object_path_slot(path, obj, field)) {
            if (set ? set_object_field(obj, field, slot, set_value) : plain_field_value(slot, get)) {
                *start = set ? *set_value : *slot;
                g_args.top = start + 1;
                return 0;
            }
        }
    }
    if (is_callable(type_of(&headv))) {
        if (set) raise_error(Err::script_invalid_path_set, path);
        if (get) raise_error(Err::script_invalid_path_get, path);
        PathCall pc{path, head};
        Status s = eval_code(&headv, code, pos, &first, &pc, false, nullptr);
        if (s) return s;
        // Result above the path slot: bring it down.
        *start = g_args.top[-1];
        g_args.top = start + 1;
        if (g_trace.active) trace_fire(EV_EXIT, path, code_length(pnode), start, nullptr);
        return 0;
    }
    if (type_of(&headv) == T_UNSET) raise_error(Err::script_unset_path, path, &first);
    // Walk: parent, previous container and previous element stay rooted on the stack.
    Cell* parent = stack_push(&headv);
    Cell* gparent = stack_push(&g_none_cell);
    Cell* p_item = stack_push(&first);
    Cell* selector = stack_push_slot();
    set_cell(selector, T_NONE);
    // The previous container of the first element: the object or function owning the
    // head's context when that is not the global context.
    if (word_context(&first) && word_context(&first) != g_global_context) {
        *gparent = *context_owner(word_context(&first));
    }
    Cell* work_top = g_args.top;
    i32 n = code_length(pnode);
    for (i32 i = head + 1; i < n; ++i) {
        Cell el = code_cells(pnode)[i];
        if (g_trace.active) trace_fire(EV_FETCH, path, i, &el, nullptr);
        switch (type_of(&el)) {
            case T_GET_WORD: *selector = *fetch_word(&el); break;
            case T_PAREN: {
                stack_open_named(g_sym_anon, FH_INTERP_NATIVE);
                Status s = eval_block(&el, true);
                if (s) return s;
                stack_unwind();
                *selector = g_args.top[-1];
                g_args.top = work_top;
                break;
            }
            default: *selector = el; break;
        }
        if (g_trace.active) trace_fire(EV_PUSH, path, i, selector, nullptr);
        if (type_of(selector) == T_UNSET) raise_error(Err::script_invalid_path, path, &el);
        bool last = i == n - 1;
        auto fn = handler<A_EVAL_PATH>(type_of(parent));
        if (!fn) {
            Cell dt;
            set_cell(&dt, T_DATATYPE, type_of(parent));
            Cell cut = *clone_block(path, false, false);
            ks_set_tail(&cut, i);  // up to the part that gave the value without path access
            raise_error(Err::script_bad_path_type, path, &dt, &cut);
        }
        Cell* setv = (set && last) ? const_cast<Cell*>(set_value) : nullptr;
        // A set that changes a value held in the cell itself (an event's type) changes the
        // walk's copy: the head word gets the changed value back.
        bool write_back = setv && i == head + 1 && !is_series_type(type_of(parent));
        Cell before = *parent;
        Cell* r = fn(parent, selector, setv, path, gparent, p_item, i - head, case_, get, last);
        if (write_back && std::memcmp(&before, parent, sizeof(Cell)) != 0) set_word_value(&first, parent);
        Cell result = *r;
        g_args.top = work_top;
        if (!get && !set && is_callable(type_of(&result))) {
            PathCall pc{path, i};
            Status s = eval_code(&result, code, pos, &el, &pc, false, nullptr);
            if (s) return s;
            *start = g_args.top[-1];
            g_args.top = start + 1;
            if (g_trace.active) trace_fire(EV_EXIT, path, n, start, nullptr);
            return 0;
        }
        *gparent = *parent;
        *p_item = el;
        *parent = result;
    }
    Cell final = *parent;
    if (g_trace.active) trace_fire(EV_EXIT, path, n, &final, nullptr);
    g_args.top = start;
    stack_push(&final);
    return 0;
}

// A set-path and the expression after it, met by eval_expr with tracing off: as
// eval_expr_slow's steps, with `object/field:` set in place (the path is looked at after
// the value is made: the value's expression may change what it names).
__attribute__((noinline)) Status eval_set_path_expr(Node code, i32& pos) {
    const Cell path = code_cells(code)[pos];
    ++pos;
    if (pos >= code_length(code)) raise_error(Err::script_need_value, &path);
    stack_open_frame(&g_word_set_path, FH_INTERP_NATIVE);
    if (Status s = eval_expr<true>(code, pos, false, false)) return s;
    Cell* value = g_args.base;
    if (type_of(value) == T_UNSET) raise_error(Err::script_need_value, &path);
    const Cell* obj;
    const FieldCacheEntry* field;
    Cell* slot = object_path_slot(&path, obj, field);
    if (!slot || !set_object_field(obj, field, slot, value)) {
        if (Status s = eval_path(&path, code, pos, true, false, false, value)) return s;
        *g_args.base = g_args.top[-1];
    }
    stack_unwind();
    return 0;
}

// eval-expression in push mode: exactly one new value on the stack when it answers 0.
__attribute__((noinline)) Status eval_expr_slow(Node code, i32& pos, bool no_infix, bool passive) {
    Cell* start = g_args.top;
    Cell v = cells_of(buffer_of(code))[pos];
    if (g_trace.active) trace_code(EV_FETCH, code, pos, &v, nullptr);
    switch (type_of(&v)) {
        case T_WORD: {
            ++pos;
            const Cell* val = fetch_word(&v);
            switch (type_of(val)) {
                case T_UNSET: raise_error(Err::script_no_value, &v);
                case T_NATIVE: case T_ACTION: case T_FUNCTION: case T_ROUTINE: {
                    Status s = eval_code(val, code, pos, &v, nullptr, false, nullptr);
                    if (s) return s;
                    break;
                }
                case T_OP: raise_error(Err::script_no_op_arg, &v);
                default:
                    stack_push(val);
                    pushed(code, pos - 1);
                    break;
            }
            break;
        }
        case T_SET_WORD: return eval_set_word<false>(code, pos);
        case T_SET_PATH: {
            ++pos;
            if (pos >= code_length(code)) raise_error(Err::script_need_value, &v);
            stack_open_frame(&g_word_set_path, FH_INTERP_NATIVE);
            Status s = eval_expr(code, pos, false, false);
            if (s) return s;
            if (g_trace.active) trace_code(EV_SET, code, pos, g_args.base, &v);
            if (type_of(g_args.base) == T_UNSET) raise_error(Err::script_need_value, &v);
            s = eval_path(&v, code, pos, true, false, false, g_args.base);
            if (s) return s;
            *g_args.base = g_args.top[-1];
            stack_unwind();
            return 0;
        }
        case T_GET_WORD:
            ++pos;
            stack_push(word_slot(&v) ? word_slot(&v) : get_word_value_ptr(&v));
            pushed(code, pos - 1);
            break;
        case T_LIT_WORD:
            ++pos;
            v.header = (v.header & ~CELL_TYPE_MASK & ~CELL_NEW_LINE) | T_WORD;
            stack_push(&v);
            pushed(code, pos - 1);
            break;
        case T_PATH: {
            ++pos;
            Status s = eval_path(&v, code, pos, false, false, false, nullptr);
            if (s) return s;
            break;
        }
        case T_GET_PATH: {
            ++pos;
            Status s = eval_path(&v, code, pos, false, true, false, nullptr);
            if (s) return s;
            break;
        }
        case T_LIT_PATH:
            ++pos;
            v.header = (v.header & ~CELL_TYPE_MASK) | T_PATH;
            v.data3 = 0;
            stack_push(&v);
            pushed(code, pos - 1);
            break;
        case T_PAREN: {
            // Its eval frame leaves the value pushed where this expression began.
            ++pos;
            const ParenDepth depth;
            Status s = eval_block(&v, false);
            if (s) return s;
            break;
        }
        case T_OP: raise_error(Err::internal_not_done);
        case T_NATIVE: case T_ACTION: case T_FUNCTION: case T_ROUTINE: {
            ++pos;
            if (passive) {
                stack_push(&v);
                break;
            }
            Status s = eval_code(&v, code, pos, nullptr, nullptr, false, nullptr);
            if (s) return s;
            break;
        }
        case T_ISSUE: {
            ++pos;
            u32 sym = resolve_symbol_alias(word_symbol(&v));
            if ((sym == g_sym_system || sym == g_sym_system_global) && pos < code_length(code) &&
                type_of(code_cells(code) + pos) == T_BLOCK)
                raise_error(Err::internal_kel_system);
            stack_push(&v);
            pushed(code, pos - 1);
            break;
        }
        default:
            ++pos;
            stack_push(&v);
            pushed(code, pos - 1);
            break;
    }
    if (no_infix) return 0;
    const Cell* opv = infix_at(code, pos);
    return opv ? eval_infix<false>(code, pos, start, opv) : 0;
}

// A set-word and the expression after it, which takes every operator that follows. The
// value is evaluated in a frame named by the word, so that errors name the assignment.
// Untraced: met with tracing off (see eval_expr).
template <bool Untraced>
__attribute__((noinline)) Status eval_set_word(Node code, i32& pos) {
    const Cell word = code_cells(code)[pos];
    ++pos;
    stack_open_frame_at(word.data2, word.data1, FH_INTERP_NATIVE);
    if (pos >= code_length(code)) raise_error(Err::script_need_value, &word);
    if (Status s = eval_expr<Untraced>(code, pos, false, false)) return s;
    Cell* value = g_args.base;
    if (!Untraced && g_trace.active) trace_code(EV_SET, code, pos, value, &word);
    if (type_of(value) == T_UNSET) raise_error(Err::script_need_value, &word);
    assign_word(&word, value);
    stack_unwind();
    return 0;
}

// The native or action behind an op! value, called on the operands in its open frame. Out of
// line: built where the inline arithmetic runs, the converted cell cost that path a dozen
// instructions.
__attribute__((noinline)) Status call_operator_entry(const Cell* op, const Cell* name) {
    Cell fn = *op;
    fn.header = (fn.header >> 16) & 0xFF;
    return call_with_arguments(&fn, name);
}

// One operator that the inline arithmetic did not settle: `opv` is the operator word's value
// at pos, `fast` its fast_operator_code when the right operand must be evaluated first.
template <bool Untraced>
Status apply_operator(Node code, i32& pos, Cell* start, const Cell* opv, i32 fast) {
    Cell op = *opv;
    Cell opword = code_cells(code)[pos];
    if (!Untraced && g_trace.active) trace_code(EV_FETCH, code, pos, &opword, nullptr);
    ++pos;
    if (fast >= 0) {
        // The right operand is an expression: evaluate it in the operator's frame, as the
        // call would, then compute inline when the operands allow it.
        g_args.top = start;
        stack_open_frame(&opword, FH_INTERP_NATIVE);
        g_args.top = start + 1;
        Status s = eval_expr<Untraced>(code, pos, true, false);
        if (s) return s;
        if ((!Untraced && g_trace.active) || !fast_apply(fast, start, start + 1)) {
            s = call_operator_entry(&op, &opword);
            if (s) return s;
        }
        stack_unwind();
        return 0;
    }
    op.header = (op.header >> 16) & 0xFF;
    return eval_code(&op, code, pos, &opword, nullptr, true, start);
}

// Infix operators apply left to right to the value so far, which is at `start`; `opv` is
// the value of the operator word at pos (found by infix_at). Untraced: met with tracing off
// (see eval_expr).
template <bool Untraced>
__attribute__((noinline)) Status eval_infix(Node code, i32& pos, Cell* start, const Cell* opv) {
    do {
        SeriesBuffer* b = buffer_of(code);
        Cell* next = cells_of(b) + pos;
        g_args.top = start + 1;
        // Built-in arithmetic and comparisons on plain numbers run inline.
        i32 fast = (!Untraced && g_trace.active) || pos + 1 >= i32((b->tail - b->offset) >> 4) ? -1
                                                                                           : fast_operator_code(opv);
        if (fast >= 0) {
            // A literal number or a word holding one needs no frame: compute at once. Nothing
            // here allocates, so opv and the code cells are still good.
            const Cell* rv = number_operand(next + 1);
            if (rv && fast_apply(fast, start, rv)) {
                pos += 2;
                continue;
            }
        }
        if (Status s = apply_operator<Untraced>(code, pos, start, opv, fast)) return s;
    } while ((opv = infix_at(code, pos)));
    return 0;
}

// A word whose value is a native, action, function or routine, met with tracing off: the
// call, then the operators after it. The steps of eval_expr_slow's word case, without
// looking the word up a second time. `word_cell` is the word in the code: read before
// anything can move the code.
KEL_WHOLE_CELLS Status eval_word_call(Node code, i32& pos, const Cell* word_cell, const Cell* fn, bool no_infix) {
    Cell* start = g_args.top;
    Cell word = *word_cell;
    // eval_expr came here for a word: the frame takes its name without looking again.
    if (type_of(&word) != T_WORD) __builtin_unreachable();
    ++pos;
    if (Status s = eval_code_steps<true>(fn, code, pos, &word, nullptr, false, nullptr)) return s;
    if (no_infix) return 0;
    const Cell* opv = infix_at(code, pos);
    return opv ? eval_infix<true>(code, pos, start, opv) : 0;
}

// if, unless or either met through its word with tracing off: its frame opens where the
// expression began, with no slot for the native below it (the native's entry is all the
// call needs, and the local copy keeps the value alive), so the answer is left in place.
// StackChecked: the caller checked the native stack in this same native frame (a function
// call, for the conditionals met directly in its body: the expressions before them have
// returned, so the stack stands where it was checked).
template <bool StackChecked>
__attribute__((always_inline)) inline Status conditional_word_steps(Node code, i32& pos, const Cell* word_cell,
                                                                    const Cell* fnv, bool no_infix) {
    Cell* start = g_args.top;
    const Cell fn = *fnv;
    const Cell word = *word_cell;
    ++pos;
    if (!StackChecked) check_native_stack();
    stack_open_frame_at(word.data2, word.data1, FH_INTERP_NATIVE);
    if (Status s = run_conditional(&fn, code, pos, &word)) return s;
    stack_unwind();
    if (no_infix) return 0;
    const Cell* opv = infix_at(code, pos);
    return opv ? eval_infix<true>(code, pos, start, opv) : 0;
}

// The same out of line, for every other place a conditional is met.
__attribute__((noinline)) Status eval_conditional_word(Node code, i32& pos, const Cell* word_cell, const Cell* fnv,
                                                      bool no_infix) {
    return conditional_word_steps(code, pos, word_cell, fnv, no_infix);
}

// A paren met with tracing off: its block, with none of eval_block's traced steps to set up.
__attribute__((noinline)) Status eval_paren(const Cell* paren) {
    check_native_stack();
    const ParenDepth depth;
    return run_block(*paren, false);
}

// Whether a value is pushed as it stands when met in code: one bit per type id.
constexpr u64 type_bit(u32 t) { return u64(1) << t; }
constexpr u64 EVALUATED_TYPES = type_bit(T_WORD) | type_bit(T_SET_WORD) | type_bit(T_GET_WORD) | type_bit(T_LIT_WORD) |
                                type_bit(T_PATH) | type_bit(T_SET_PATH) | type_bit(T_GET_PATH) | type_bit(T_LIT_PATH) |
                                type_bit(T_PAREN) | type_bit(T_OP) | type_bit(T_NATIVE) | type_bit(T_ACTION) |
                                type_bit(T_FUNCTION) | type_bit(T_ROUTINE) | type_bit(T_ISSUE);
constexpr u64 CALLED_TYPES = type_bit(T_UNSET) | type_bit(T_OP) | type_bit(T_NATIVE) | type_bit(T_ACTION) |
                             type_bit(T_FUNCTION) | type_bit(T_ROUTINE);
// As tables over every header type byte: one load and test where the bit tests took five.
struct TypeTable {
    bool plain[256];
    constexpr explicit TypeTable(u64 excluded) : plain{} {
        for (u32 t = 0; t < 256; ++t) plain[t] = t >= 64 || !((excluded >> t) & 1);
    }
};
inline constexpr TypeTable PLAIN_VALUES{EVALUATED_TYPES};
inline constexpr TypeTable PLAIN_WORD_VALUES{CALLED_TYPES};
inline bool is_plain_value(u32 t) { return PLAIN_VALUES.plain[t & 0xFF]; }
inline bool is_plain_word_value(u32 t) { return PLAIN_WORD_VALUES.plain[t & 0xFF]; }

// eval-expression in push mode: the common cases (a literal, or a word whose value is not a
// function, with no operator after it) here; everything else in eval_expr_slow.
//
// Untraced: the caller runs with tracing off, so this expression does too. Tracing is only
// ever switched on for a nested evaluation and put back when it returns (do/trace, a
// function's `trace` attribute, the tracer's own calls), so code that found it off at the
// start of its block or call finds it off after every nested step, and need not look again.
template <bool Untraced, bool InlineConditional>
__attribute__((always_inline)) inline Status eval_expr(Node code, i32& pos, bool no_infix, bool passive) {
    if (!Untraced && g_trace.active) return eval_expr_slow(code, pos, no_infix, passive);
    SeriesBuffer* b = buffer_of(code);
    Cell* cells = cells_of(b);
    const Cell* v = cells + pos;
    u32 t = type_of(v);
    Cell* start = g_args.top;
    if (t == T_WORD) {
        const Cell* val = word_slot(v);
        if (!val) return eval_expr_slow(code, pos, no_infix, passive);
        u32 vt = type_of(val);
        if (!is_plain_word_value(vt)) {
            if (vt == T_UNSET || vt == T_OP) return eval_expr_slow(code, pos, no_infix, passive);
            if (vt == T_NATIVE && is_conditional_entry(val->data1)) {
                if constexpr (InlineConditional) return conditional_word_steps<true>(code, pos, v, val, no_infix);
                return eval_conditional_word(code, pos, v, val, no_infix);
            }
            return eval_word_call(code, pos, v, val, no_infix);
        }
        stack_push(val);
    } else if (is_plain_value(t)) {
        stack_push(v);
    } else if (t == T_SET_WORD) {
        return eval_set_word<true>(code, pos);
    } else if (t == T_PATH) {
        // An object/field path is taken as a word is; any other goes the general way.
        const Cell* val = object_path_value(v);
        if (!val) return eval_expr_slow(code, pos, no_infix, passive);
        stack_push(val);
    } else if (t == T_SET_PATH) {
        return eval_set_path_expr(code, pos);
    } else if (t == T_PAREN) {
        // Its block leaves the value pushed where this expression began; the code may have
        // moved meanwhile, so the operator after it is looked up afresh.
        ++pos;
        if (Status s = eval_paren(v)) return s;
        if (no_infix) return 0;
        const Cell* opv = infix_at(code, pos);
        return opv ? eval_infix<true>(code, pos, start, opv) : 0;
    } else {
        return eval_expr_slow(code, pos, no_infix, passive);
    }
    ++pos;
    i32 length = i32((b->tail - b->offset) >> 4);
    if (no_infix || pos >= length) return 0;
    const Cell* next = cells + pos;
    if (type_of(next) != T_WORD) return 0;
    const Cell* opv = word_slot(next);
    if (!opv || type_of(opv) != T_OP) return 0;
    // The commonest operator, a built-in one whose right operand is a number (`n - 1`), is
    // computed here; eval_infix takes the rest. Nothing here allocates, so the cells stay put.
    if (pos + 1 < length) {
        const Cell* right = number_operand(next + 1);
        i32 fast = fast_operator_code(opv);
        if (right && fast >= 0 && fast_apply(fast, start, right)) {
            pos += 2;
            if (pos >= length) return 0;
            next = cells + pos;
            if (type_of(next) != T_WORD) return 0;
            opv = word_slot(next);
            if (!opv || type_of(opv) != T_OP) return 0;
        }
    }
    return eval_infix<true>(code, pos, start, opv);
}

}  // namespace

// ---- public entry points --------------------------------------------------------------------

void assign_word_value(const Cell* word, const Cell* value) { assign_word(word, value); }

Status eval_block(const Cell* block, bool keep_in_caller) {
    check_native_stack();
    if (!g_trace.active) return run_block(*block, keep_in_caller);
    Cell code = *block;
    Node node = series_node(&code);
    i32 index = series_head(&code);
    if (index < 0) index = 0;
    Cell saved_eval = g_eval_cell;
    stack_open_named(g_sym_body, FH_EVAL);
    if (g_trace.active) trace_fire(EV_ENTER, &code, index, nullptr, nullptr);
    if (index >= code_length(node)) {
        set_cell(g_args.base, T_UNSET);
        g_args.top = g_args.base + 1;
    } else {
        g_eval_cell = code;
        g_eval_cell.header &= ~CELL_NEW_LINE;
        for (;;) {
            g_eval_cell.data1 = u32(index);
            i32 start = index;
            Status s = eval_expr(node, index, false, false);
            if (s) {
                g_eval_cell = saved_eval;
                return s;
            }
            if (g_trace.active) trace_fire(EV_EXPR, &code, start, g_args.base, nullptr);
            if (index >= code_length(node)) break;
            stack_reset();
        }
    }
    if (g_trace.active) trace_fire(EV_EXIT, &code, code_length(node), g_args.base, nullptr);
    g_eval_cell = saved_eval;
    if (keep_in_caller) stack_unwind_last();
    else stack_unwind();
    return 0;
}

Status eval_expression(const Cell* code, i32* index, bool no_infix, bool push, bool passive) {
    Node node = series_node(code);
    Cell* base = g_args.base;
    Cell* start = g_args.top;
    if (*index >= code_length(node)) {
        Cell* slot = stack_push_slot();
        set_cell(slot, T_UNSET);
    } else {
        i32 pos = *index < 0 ? 0 : *index;
        Status s = eval_expr(node, pos, no_infix, passive);
        if (s) return s;
        *index = pos;
    }
    if (!push) {
        *base = *start;
        g_args.top = base + 1;
    }
    return 0;
}

Status eval_next(const Cell* code, i32* index, bool push) {
    Cell c = *code;
    Cell* caller_base = g_args.base;
    stack_open_named(g_sym_body, FH_INTERP_NATIVE);
    Status s = eval_expression(&c, index, false, true, false);
    if (s) return s;
    stack_unwind();
    if (!push) {
        *caller_base = g_args.top[-1];
        g_args.top = caller_base + 1;
    }
    return 0;
}

Status do_next_position(const Cell* block, i32* next) {
    Cell c = *block;
    i32 index = series_head(&c);
    if (index < 0) index = 0;
    if (index >= code_length(series_node(&c))) {
        set_cell(g_args.base, T_UNSET);
        g_args.top = g_args.base + 1;
        *next = index;
        return 0;
    }
    Status s = eval_next(&c, &index, false);
    *next = index;
    return s;
}

Status eval_path_value(const Cell* path, const Cell* set_value, bool get, bool case_) {
    // A path held by a native: no code follows it (get or set never calls a function).
    Cell* guard = stack_push(path);
    Cell* svp = set_value ? stack_push(set_value) : nullptr;
    Node node = series_node(guard);
    i32 pos = code_length(node);
    Status s = eval_path(guard, node, pos, set_value != nullptr, get || set_value != nullptr, case_, svp);
    if (s) return s;
    *guard = g_args.top[-1];
    g_args.top = guard + 1;
    return 0;
}

Status call_value(const Cell* fn, const Cell* args, u32 count) {
    Cell f = *fn;
    if (type_of(&f) == T_OP) f.header = (f.header >> 16) & 0xFF;
    if (!is_callable(type_of(&f))) raise_error(Err::script_invalid_arg, &f);
    Cell* slot = stack_push(&f);  // keeps the function alive; receives the result
    Node cache;
    CacheInfo info = cache_of(&f, &cache);
    Cell name = g_word_anon;
    if (type_of(&f) == T_FUNCTION) stack_open_function(&name, f.data1, FH_INTERP_FUNCTION);
    else stack_open_frame(&name, FH_INTERP_NATIVE);
    i32 entry = 0;
    for (u32 a = 0; a < info.main; ++entry) {
        Cell* ts = code_cells(cache) + entry;
        if (arg_kind(ts) == ARG_RETURN) continue;
        if (a < count) stack_push(args + a);
        else push_none();
        if (!typeset_has(code_cells(cache) + entry, type_of(g_args.top - 1))) raise_expect(&f, &name, i32(a), g_args.top - 1);
        ++a;
    }
    i32 refs[MAX_BUILTIN_REFINEMENTS];
    for (u32 r = 0; r < info.refinements; ++r) refs[r] = -1;
    if (type_of(&f) == T_FUNCTION || type_of(&f) == T_ROUTINE) {
        push_absent_refinements(cache, entry);
    }
    Status s = 0;
    switch (type_of(&f)) {
        case T_NATIVE: s = g_natives_table[f.data1](true, refs); break;
        case T_ACTION: g_actions_table[f.data1](refs); break;
        case T_ROUTINE: routine_call(&f); break;
        default: s = call_function(&f, 0, &name, 0); break;
    }
    if (s) return s;
    stack_unwind();
    *slot = g_args.top[-1];
    g_args.top = slot + 1;
    return 0;
}

// ---- apply --------------------------------------------------------------------------------
//
// apply's calls fetch their arguments from a list block by the apply modes instead of from
// the code that follows a call: a walk of their own, so that the interpreter's calls pay
// nothing for it.

namespace {

// One argument from the list. Under /safer an evaluated argument is the one next cell
// alone, evaluated as the only cell of `scratch` (a one-cell block the caller roots), so
// that a function it names cannot take the cells after it as its arguments.
Status fetch_apply_argument(u32 kind, Node code, i32& pos, Node scratch) {
    if (!scratch || kind != ARG_EVAL) return fetch_argument(kind, code, pos, false);
    code_cells(scratch)[0] = code_cells(code)[pos];
    ++pos;
    i32 p = 0;
    return eval_expr(scratch, p, true, false);
}

inline bool same_refinement(const Cell* a, const Cell* b) {
    return resolve_symbol_alias(word_symbol(a)) == resolve_symbol_alias(word_symbol(b));
}

// eval-arguments in the apply modes: main arguments, then each refinement of the spec in
// order with its arguments. Missing trailing arguments are none and missing refinements
// false; a none that fills a native's, action's or routine's argument is type-checked, as
// their entries rely on the types of their spec.
Status apply_arguments(const Cell* fn, Node code, i32& pos, const Cell* name, const PathCall* path, u32 mode,
                       Node scratch) {
    Node cache;
    CacheInfo info = cache_of(fn, &cache);
    const bool builtin = type_of(fn) == T_NATIVE || type_of(fn) == T_ACTION;
    const bool every = mode & APPLY_ALL;
    i32 refs[MAX_BUILTIN_REFINEMENTS];
    for (u32 r = 0; r < info.refinements; ++r) refs[r] = -1;
    auto more = [&] { return pos < code_length(code); };
    bool active = true;  // main arguments, or those of a refinement in use
    bool listed = true;  // the list holds the arguments of the current refinement
    i32 slot = 0;        // the entry's position among the spec's arguments and refinements
    i32 number = 0;      // refinements seen
    for (i32 entry = 0; entry < code_length(cache); ++entry) {
        Cell e = code_cells(cache)[entry];
        if (type_of(&e) == T_INTEGER) {
            // /local (functions) or the refinement count (natives, actions): nothing follows.
            if (!builtin) push_refinement_off(i32(e.data2));
            break;
        }
        if (type_of(&e) == T_REFINEMENT) {
            ++number;
            bool use = false;
            if (every) {
                listed = true;
                if (more()) {
                    if (Status s = fetch_apply_argument(ARG_EVAL, code, pos, scratch)) return s;
                    Cell* flag = g_args.top - 1;
                    if (type_of(flag) != T_LOGIC) raise_expect(fn, name, slot, flag);
                    use = flag->data1 == 1;
                    stack_pop(1);
                }
            } else {
                listed = more() && type_of(code_cells(code) + pos) == T_REFINEMENT &&
                         same_refinement(code_cells(code) + pos, &e);
                if (listed) {
                    ++pos;
                    if (more()) {
                        if (Status s = fetch_apply_argument(ARG_EVAL, code, pos, scratch)) return s;
                        use = value_true(g_args.top - 1);
                        stack_pop(1);
                    }
                }
            }
            active = use;
            if (!builtin) push_logic(use);
            else if (use) refs[number - 1] = i32(g_args.top - g_args.base);
            ++slot;
            continue;
        }
        if (type_of(&e) != T_TYPESET) continue;
        u32 kind = arg_kind(&e);
        if (kind == ARG_RETURN) continue;
        if (active) {
            if (!more()) {
                push_none();
                if (type_of(fn) != T_FUNCTION && !typeset_has(&e, T_NONE)) raise_expect(fn, name, slot, g_args.top - 1);
            } else {
                if (Status s = fetch_apply_argument(kind, code, pos, scratch)) return s;
                if (!typeset_has(code_cells(cache) + entry, type_of(g_args.top - 1)))
                    raise_expect(fn, name, slot, g_args.top - 1);
            }
        } else {
            // The argument of a refinement not in use, when the list holds it: evaluated
            // and dropped, or under /safer skipped unevaluated.
            if (listed && more()) {
                if (scratch) {
                    ++pos;
                } else {
                    if (Status s = fetch_argument(kind, code, pos, false)) return s;
                    stack_pop(1);
                }
            }
            if (!builtin) push_none();
        }
        ++slot;
    }
    // A refinement still in the list is not in the spec, or out of spec order.
    if (!every && more() && type_of(code_cells(code) + pos) == T_REFINEMENT) {
        Cell r = code_cells(code)[pos];
        if (find_refinement(cache, &r).entry < 0) {
            Cell n = *frame_name(name);
            raise_error(Err::script_no_refine, &n, &r);
        }
        raise_error(Err::script_bad_refine, &r);
    }
    if (path && path->path) {
        if (Status s = path_refinements(fn, cache, name, path, code, pos, builtin, refs)) return s;
    }
    if (g_trace.active) {
        Cell f = *fn;
        trace_code(EV_CALL, code, -1, &f, frame_name(name));
    }
    if (type_of(fn) == T_NATIVE) return g_natives_table[fn->data1](true, refs);
    if (type_of(fn) == T_ACTION) g_actions_table[fn->data1](refs);
    return 0;
}

}  // namespace

Status apply_function(const Cell* fn_in, const Cell* list, const Cell* path, i32 path_index, const Cell* name_in,
                      u32 mode) {
    Cell fn = *fn_in;
    if (type_of(&fn) == T_OP) fn.header = (fn.header >> 16) & 0xFF;
    if (!is_callable(type_of(&fn))) raise_error(Err::script_invalid_arg, &fn);
    check_native_stack();
    // The function, the list, the path and the scratch cell stay rooted below the call.
    Cell* start = stack_push(&fn);
    Cell* code_cell = stack_push(list);
    Cell* path_cell = path ? stack_push(path) : nullptr;
    Node scratch = 0;
    if (mode & APPLY_SINGLE) {
        Cell* s = push_new_block(1);
        ks_append(s, &g_none_cell);
        scratch = series_node(s);
    }
    Node code = series_node(code_cell);
    i32 pos = series_head(code_cell) < 0 ? 0 : series_head(code_cell);
    const Cell name = *name_in;
    const PathCall pc{path_cell, path_index};
    const PathCall* pcp = path_cell ? &pc : nullptr;
    if (g_trace.active) trace_code(EV_OPEN, code, pos, frame_name(&name), nullptr);
    Status s = 0;
    switch (type_of(&fn)) {
        case T_NATIVE: case T_ACTION:
            stack_open_frame(frame_name(&name), FH_INTERP_NATIVE);
            s = apply_arguments(&fn, code, pos, &name, pcp, mode, scratch);
            break;
        case T_ROUTINE:
            stack_open_frame(frame_name(&name), FH_INTERP_NATIVE);
            s = apply_arguments(&fn, code, pos, &name, pcp, mode, scratch);
            if (!s) routine_call(&fn);
            break;
        default: {
            Off values = context_cell(fn.data1)->data2;
            stack_open_frame(frame_name(&name), FH_INTERP_FUNCTION);
            CallFrame* f = g_calls.top - 1;
            f->fn_context = fn.data1;
            f->fn_values = values;
            s = apply_arguments(&fn, code, pos, &name, pcp, mode, scratch);
            if (!s) s = run_function_steps(fn, &name, 0, values);
            break;
        }
    }
    if (s) return s;
    stack_unwind();
    if (g_trace.active) trace_code(EV_RETURN, code, pos, g_args.top - 1, frame_name(&name));
    *start = g_args.top[-1];
    g_args.top = start + 1;
    return 0;
}

// ---- start-up -------------------------------------------------------------------------------

namespace {

Status eval_block_hook(const Cell* block) { return eval_block(block, true); }

void set_global(const char* name, const Cell* value) {
    Cell w = load_word(name);
    set_word_value(&w, value);
}

}  // namespace

void evaluator_install_hooks() {
    g_eval_block = eval_block_hook;
    g_call_function = call_function;
    g_call_value = call_value;
}

void evaluator_init() {
    static bool done = false;
    if (done) return;
    done = true;
    // Hooks someone installed already (a test's stand-ins) are left in place.
    if (!g_eval_block && !g_call_function) evaluator_install_hooks();
    gc_register_node_root(&g_running_context);
    gc_register_cell_root(&g_throw_near);
    set_cell(&g_word_body, T_WORD, 0, g_sym_body, u32(-1));
    set_cell(&g_word_anon, T_WORD, 0, g_sym_anon, u32(-1));
    g_word_set_path = load_word("set-path");
    g_sym_system = resolve_symbol_alias(make_symbol("system"));
    g_sym_system_global = resolve_symbol_alias(make_symbol("system-global"));
    // The datatype words stand for their datatypes.
    for (u32 t = 1; t <= g_highest_type; ++t) {
        if (!g_type_names[t].name) continue;
        Cell dt;
        set_cell(&dt, T_DATATYPE, t);
        set_global(g_type_names[t].name, &dt);
    }
    // any-type!: every datatype, those registered later included.
    Cell any;
    set_cell(&any, T_TYPESET);
    for (u32 t = 1; t <= T_EVENT; ++t) typeset_set(&any, t);
    set_global("any-type!", &any);
    // `make` is preset so that the first definition of the actions file can run; that line
    // then replaces it with the full spec.
    Cell* base = g_args.top;
    Cell* spec = push_new_block(2);
    Cell t = load_word("type");
    Cell s = load_word("spec");
    ks_append(spec, &t);
    ks_append(spec, &s);
    Cell* pair = push_new_block(2);
    ks_append(pair, spec);
    Cell id;
    set_cell(&id, T_INTEGER, 0, A_MAKE, 0);
    ks_append(pair, &id);
    Cell dt;
    set_cell(&dt, T_DATATYPE, T_ACTION);
    Cell* made = handler<A_MAKE>(T_ACTION)(&dt, pair, u32(T_ACTION));
    Cell make = *made;
    set_global("make", &make);
    g_args.top = base;
}

}  // namespace kel::ev
