// function! and routine! values.
#include "datatypes/function.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

Cell* cell_at(Node node, i32 i) { return cells_of(buffer_of(node)) + i; }

// The cells of a block from its head index (a head past the tail counts as the tail).
struct BlockRange {
    Node node;
    i32 head;
    i32 tail;
};
BlockRange range_of(const Cell* b) {
    Node n = series_node(b);
    i32 tail = i32(series_length(n));
    i32 head = series_head(b);
    if (head < 0) head = 0;
    if (head > tail) head = tail;
    return {n, head, tail};
}

bool same_symbol_ci(u32 a, u32 b) { return resolve_symbol_alias(a) == resolve_symbol_alias(b); }

bool is_refinement_named(const Cell* v, u32 symbol) {
    return type_of(v) == T_REFINEMENT && same_symbol_ci(word_symbol(v), symbol);
}

u32 local_symbol() { return runtime_word_symbol(WORD_LOCAL); }

[[noreturn]] void raise_bad_func_def(const Cell* spec) {
    Cell s = *spec;
    raise_error(Err::script_bad_func_def, &s);
}

// A type block: words stand for their values, which must be datatypes, typesets or words.
void check_type_block(const Cell* block) {
    BlockRange r = range_of(block);
    for (i32 i = r.head; i < r.tail; ++i) {
        Cell item = *cell_at(r.node, i);
        Cell value = item;
        if (type_of(&item) == T_WORD) {
            const Cell* v = word_value_or_null(&item);
            if (!v) raise_error(Err::script_no_value, &item);
            value = *v;
        }
        u32 t = type_of(&value);
        if (t != T_DATATYPE && t != T_TYPESET && t != T_WORD) raise_error(Err::script_invalid_type_spec, &item);
    }
}

}  // namespace

Cell* function_record(const Cell* fn, u32 cell) { return cell_at(fn->data3, i32(cell)); }

Cell spec_of_function(const Cell* fn) {
    Cell b;
    set_cell(&b, T_BLOCK, 0, fn->data2, 0);
    return b;
}

// ---- spec checking --------------------------------------------------------------------

u32 check_function_spec(const Cell* spec) {
    Cell s = *spec;
    BlockRange r = range_of(&s);
    u32 flags = 0;
    bool return_seen = false, local_seen = false;
    i32 i = r.head;
    auto at_ = [&](i32 k) { return cell_at(r.node, k); };
    auto type_at = [&](i32 k) { return k < r.tail ? u32(type_of(at_(k))) : u32(T_END); };

    if (i < r.tail && type_of(at_(i)) == T_BLOCK) {
        Cell attrs = *at_(i);
        BlockRange a = range_of(&attrs);
        for (i32 k = a.head; k < a.tail; ++k) {
            Cell* w = cell_at(a.node, k);
            if (type_of(w) != T_WORD) raise_bad_func_def(&s);
            if (same_symbol_ci(word_symbol(w), runtime_symbol(SYM_TRACE))) flags |= FN_TRACE;
            else if (same_symbol_ci(word_symbol(w), runtime_symbol(SYM_NO_TRACE))) flags |= FN_NO_TRACE;
        }
        ++i;
    }
    for (; i < r.tail; ++i) {
        Cell v = *at_(i);
        switch (type_of(&v)) {
            case T_WORD: case T_LIT_WORD: case T_GET_WORD:
                if (local_seen && type_of(&v) != T_WORD) raise_bad_func_def(&s);
                // The type block comes before the docstring.
                if (type_at(i + 1) == T_STRING && type_at(i + 2) == T_BLOCK) raise_bad_func_def(&s);
                if (return_seen && !local_seen) raise_bad_func_def(&s);
                if (type_at(i + 1) == T_BLOCK) {
                    Cell types = *at_(i + 1);
                    check_type_block(&types);
                    ++i;
                }
                break;
            case T_SET_WORD: {
                if (!same_symbol_ci(word_symbol(&v), runtime_symbol(SYM_RETURN)) || local_seen || return_seen)
                    raise_bad_func_def(&s);
                if (type_at(i + 1) != T_BLOCK) raise_bad_func_def(&s);
                u32 after = type_at(i + 2);
                if (after != T_END && after != T_REFINEMENT && after != T_STRING) raise_bad_func_def(&s);
                return_seen = true;
                ++i;
                break;
            }
            case T_REFINEMENT: {
                if (same_symbol_ci(word_symbol(&v), local_symbol())) local_seen = true;
                else if (local_seen || return_seen) raise_bad_func_def(&s);
                switch (type_at(i + 1)) {
                    case T_END: case T_WORD: case T_GET_WORD: case T_LIT_WORD: case T_REFINEMENT: case T_SET_WORD:
                    case T_STRING:
                        break;
                    default: raise_bad_func_def(&s);
                }
                break;
            }
            case T_STRING: break;
            default: raise_bad_func_def(&s);
        }
    }
    // Names compare without case.
    for (i32 a = r.head; a < r.tail; ++a) {
        Cell* x = at_(a);
        u32 tx = type_of(x);
        if (tx != T_WORD && tx != T_LIT_WORD && tx != T_GET_WORD && tx != T_REFINEMENT) continue;
        for (i32 b = a + 1; b < r.tail; ++b) {
            Cell* y = at_(b);
            u32 ty = type_of(y);
            if (ty != T_WORD && ty != T_LIT_WORD && ty != T_GET_WORD && ty != T_REFINEMENT) continue;
            if (same_symbol_ci(word_symbol(x), word_symbol(y))) {
                Cell dup = *y;
                raise_error(Err::script_dup_vars, &dup);
            }
        }
    }
    return flags;
}

// ---- making functions -----------------------------------------------------------------

namespace {

// A spec block at index 0: the block itself, or a shallow copy from its index.
Cell spec_at_head(const Cell* spec) {
    Cell s = *spec;
    BlockRange r = range_of(&s);
    if (series_head(&s) <= 0) {
        s.data1 = 0;
        return s;
    }
    Node copy = copy_series_part(r.node, u32(r.head), u32(r.tail - r.head));
    set_cell(&s, T_BLOCK, 0, copy, 0);
    return s;
}

// Pushes the five-cell record and answers its node (the record stays on the stack). The
// fifth cell is `fifth` when given, else unset!.
Node push_record(const Cell* body_copy, u32 code, const Cell* fifth) {
    Node rec = alloc_cells(5);
    Cell* slot = stack_push_slot();
    set_cell(slot, T_BLOCK, 0, rec, 0);
    SeriesBuffer* b = buffer_of(rec);
    Cell* c = cells_of(b);
    if (body_copy) c[FN_BODY] = *body_copy;
    else set_cell(&c[FN_BODY], T_NONE);
    set_cell(&c[FN_RESERVED], T_UNSET);
    if (code) set_cell(&c[FN_CODE], T_INTEGER, 0, code, 0);
    else set_cell(&c[FN_CODE], T_UNSET);
    set_cell(&c[FN_OP_SOURCE], T_UNSET);
    if (fifth) c[FN_OWNER] = *fifth;
    else set_cell(&c[FN_OWNER], T_UNSET);
    b->tail = b->offset + 5 * sizeof(Cell);
    return rec;
}

}  // namespace

Node make_function_cell(const Cell* spec, const Cell* body, Node ctx, u32 code, Node owner, u32 flags) {
    Cell* base = g_args.top;
    Cell s = spec_at_head(spec);
    stack_push(&s);
    Cell body_copy;
    bool has_body = body && type_of(body) == T_BLOCK;
    if (has_body) {
        Cell b = *body;
        body_copy = *clone_block(&b, true, true);
        body_copy.header = T_BLOCK;
        body_copy.data1 = 0;
    }
    // The owner is kept as its object (a cell the collector follows and updates), not as a
    // bare node number, which would go stale when the collector moves the node.
    Cell owner_cell;
    if (owner) {
        owner_cell = *context_owner(owner);
        if (!is_object_type(type_of(&owner_cell))) set_cell(&owner_cell, T_OBJECT, owner, 0, 0);
    }
    Node rec = push_record(has_body ? &body_copy : nullptr, code, owner ? &owner_cell : nullptr);
    bool made_here = ctx == 0;
    if (made_here) ctx = make_context_from_spec(&s, true, false, CTX_ARGS);
    Cell fn;
    set_cell(&fn, T_FUNCTION | flags, ctx, series_node(&s), rec);
    *context_owner(ctx) = fn;
    if (made_here && has_body) bind_block(&body_copy, ctx, false);
    g_args.top = base;
    stack_push(&fn);
    return ctx;
}

Cell* make_routine_cell(const Cell* spec, const Cell* body, u32 code, i32 return_type, bool variant) {
    Cell* base = g_args.top;
    Cell s = spec_at_head(spec);
    stack_push(&s);
    BlockRange r = range_of(&s);
    u32 arity = 0;
    for (i32 i = r.head; i < r.tail; ++i)
        if (type_of(cell_at(r.node, i)) == T_WORD) ++arity;
    if (arity > 31) arity = 31;
    Cell b;
    bool has_body = body && type_of(body) == T_BLOCK;
    if (has_body) b = *body;
    Cell ret;
    set_cell(&ret, T_INTEGER, 0, u32(return_type), 0);
    Node rec = push_record(has_body ? &b : nullptr, code, &ret);
    Node ctx = make_context_from_spec(&s, true, false, CTX_ARGS);
    Cell fn;
    set_cell(&fn, T_ROUTINE | (arity << 25) | (variant ? ROUTINE_VARIANT : 0), ctx, series_node(&s), rec);
    *context_owner(ctx) = fn;
    g_args.top = base;
    return stack_push(&fn);
}

i32 count_spec_words(Node spec, i32 start, bool require_local) {
    i32 n = i32(series_length(spec));
    i32 i = start < 0 ? 0 : start;
    for (; i < n; ++i)
        if (is_refinement_named(cell_at(spec, i), local_symbol())) break;
    if (i >= n) return require_local ? -1 : 0;
    i32 count = 1;
    for (++i; i < n; ++i)
        if (type_of(cell_at(spec, i)) == T_WORD) ++count;
    return count;
}

void push_refinement_off(i32 n) {
    push_logic(0);
    for (i32 i = 1; i < n; ++i) push_none();
}

// ---- locals of the `function` native --------------------------------------------------

namespace {

struct LocalsWalk {
    Cell* locals;  // stack slots: the locals block and the known names
    Cell* known;
    u32 foreach_sym, remove_each_sym, repeat_sym;

    bool is_known(u32 symbol) {
        BlockRange r = range_of(known);
        for (i32 i = r.head; i < r.tail; ++i) {
            Cell* k = cell_at(r.node, i);
            if (is_any_word_type(type_of(k)) && same_symbol_ci(word_symbol(k), symbol)) return true;
        }
        return false;
    }
    void candidate(const Cell* c) {
        Cell w = *c;
        w.header = T_WORD;
        if (is_known(word_symbol(&w))) return;
        ks_append(locals, &w);
        ks_append(known, &w);
    }
    void walk(const Cell* block) {
        Cell b = *block;
        Node node = series_node(&b);
        if (cycles_find(node)) return;
        CyclesScope scope;
        cycles_push(node);
        for (i32 i = range_of(&b).head; i < range_of(&b).tail; ++i) {
            Cell v = *cell_at(node, i);
            switch (type_of(&v)) {
                case T_SET_WORD: candidate(&v); break;
                case T_BLOCK: case T_PAREN: walk(&v); break;
                case T_WORD: {
                    u32 sym = resolve_symbol_alias(word_symbol(&v));
                    bool each = sym == resolve_symbol_alias(foreach_sym) || sym == resolve_symbol_alias(remove_each_sym);
                    bool rep = sym == resolve_symbol_alias(repeat_sym);
                    if ((!each && !rep) || i + 1 >= range_of(&b).tail) break;
                    Cell next = *cell_at(node, i + 1);
                    u32 t = type_of(&next);
                    if (t == T_WORD || t == T_SET_WORD) {
                        candidate(&next);
                    } else if (each && t == T_BLOCK) {
                        BlockRange nr = range_of(&next);
                        for (i32 k = nr.head; k < nr.tail; ++k) {
                            Cell w = *cell_at(nr.node, k);
                            u32 wt = type_of(&w);
                            if (wt == T_WORD || wt == T_GET_WORD || wt == T_LIT_WORD) candidate(&w);
                        }
                    }
                    break;
                }
                default: break;
            }
        }
    }
};

}  // namespace

Cell* collect_function_locals(Cell* spec, const Cell* body) {
    Cell* locals = push_new_block(8);
    Cell sp = *spec;
    Cell* known = clone_block(&sp, false, false);
    u32 extern_sym = g_refinement_words[REF_EXTERN].data2;
    BlockRange r = range_of(spec);
    i32 ext = -1;
    for (i32 i = r.head; i < r.tail; ++i)
        if (is_refinement_named(cell_at(r.node, i), extern_sym)) {
            ext = i;
            break;
        }
    if (ext >= 0) {
        i32 i = ext + 1;
        while (i < r.tail && type_of(cell_at(r.node, i)) == T_WORD) ++i;
        if (i < r.tail && is_refinement_named(cell_at(r.node, i), local_symbol())) {
            for (++i; i < r.tail; ++i) {
                Cell w = *cell_at(r.node, i);
                if (type_of(&w) == T_WORD) ks_append(locals, &w);
            }
        }
        BlockRange k = range_of(known);
        for (i32 j = k.head; j < k.tail; ++j) {
            Cell v = *cell_at(k.node, j);
            switch (type_of(&v)) {
                case T_WORD: case T_BLOCK: case T_STRING: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD:
                case T_REFINEMENT:
                    break;
                default: raise_error(Err::script_bad_func_extern, &v);
            }
        }
        ks_set_tail(spec, ext);
    }
    LocalsWalk walk{locals, known, runtime_symbol(SYM_FOREACH), runtime_symbol(SYM_REMOVE_EACH),
                    runtime_symbol(SYM_REPEAT)};
    if (body && type_of(body) == T_BLOCK) walk.walk(body);
    if (ks_length_q(locals) > 0) {
        if (count_spec_words(series_node(spec), series_head(spec), true) < 0) {
            Cell loc = g_refinement_words[REF_LOCAL];
            ks_append(spec, &loc);
        }
        BlockRange lr = range_of(locals);
        for (i32 i = lr.head; i < lr.tail; ++i)
            if (same_symbol_ci(word_symbol(cell_at(lr.node, i)), local_symbol())) {
                series_remove_at(lr.node, u32(i) * sizeof(Cell), sizeof(Cell));
                break;
            }
        lr = range_of(locals);
        for (i32 i = lr.head; i < lr.tail; ++i) {
            Cell w = *cell_at(lr.node, i);
            ks_append(spec, &w);
        }
    }
    stack_pop(1);  // the known names
    return locals;
}

// ---- actions --------------------------------------------------------------------------

namespace {

Cell* function_make(Cell*, Cell* spec, u32) {
    if (type_of(spec) != T_BLOCK || ks_length_q(spec) < 2) raise_bad_func_def(spec);
    Cell s = *spec;
    BlockRange r = range_of(&s);
    Cell fspec = *cell_at(r.node, r.head);
    Cell body = *cell_at(r.node, r.head + 1);
    if (type_of(&fspec) != T_BLOCK || type_of(&body) != T_BLOCK) raise_bad_func_def(&s);
    u32 flags = check_function_spec(&fspec);
    make_function_cell(&fspec, &body, 0, 0, 0, flags);
    return stack_top();
}

Cell* function_reflect(Cell* value, u32 field) {
    u32 f = resolve_symbol_alias(field);
    if (f == resolve_symbol_alias(runtime_symbol(SYM_SPEC))) {
        Cell b = spec_of_function(value);
        return stack_push(&b);
    }
    if (f == resolve_symbol_alias(runtime_symbol(SYM_BODY))) {
        Cell b = *function_record(value, FN_BODY);
        return stack_push(&b);
    }
    if (f == resolve_symbol_alias(runtime_symbol(SYM_WORDS))) {
        Node ctx = value->data1;
        u32 n = context_word_count(ctx);
        Cell* out = push_new_block(i32(n));
        for (u32 i = 0; i < n; ++i) {
            Cell w = *context_word_at(ctx, i32(i));
            w.data1 = ctx;
            w.data3 = i;
            ks_append(out, &w);
        }
        return out;
    }
    raise_error(Err::internal_not_done);
}

i32 function_form(Cell*, Cell* out, Cell*, i32 limit) {
    append_c_string(out, "?function?");
    return limit - 10;
}

// The maker word that rebuilds the value (`func `, `routine `) and its spec; answers the
// limit left for the body.
i32 mold_maker_and_spec(const char* maker, const Cell* fn, Cell* out, bool only, bool all, bool flat, Cell* part,
                        i32 limit, i32 indent) {
    append_c_string(out, maker);
    limit -= i32(std::strlen(maker));
    Cell spec = spec_of_function(fn);
    return mold_dispatch(&spec, out, only, all, flat, part, limit, indent);
}

i32 function_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    Cell fn = *value;
    limit = mold_maker_and_spec("func ", &fn, out, only, all, flat, part, limit, indent);
    Cell body = *function_record(&fn, FN_BODY);
    if (type_of(&body) == T_NONE) {
        append_c_string(out, " none");
        return limit - 5;
    }
    return mold_dispatch(&body, out, only, all, flat, part, limit, indent);
}

i32 function_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != type_of(v1)) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12:
            return v1->data1 == v2->data1 ? 0 : (v1->data1 < v2->data1 ? -1 : 1);
        default: return -2;
    }
}

i32 routine_form(Cell*, Cell* out, Cell*, i32 limit) {
    append_c_string(out, "?routine?");
    return limit - 9;
}

i32 routine_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    Cell fn = *value;
    limit = mold_maker_and_spec("routine ", &fn, out, only, all, flat, part, limit, indent);
    Cell body = *function_record(&fn, FN_BODY);
    if (type_of(&body) != T_BLOCK) {
        append_char(out, ' ');
        --limit;
    }
    return mold_dispatch(&body, out, only, all, flat, part, limit, indent);
}

// call-argument-word: argument n of the innermost named call, from its function's spec.
void call_argument_word_hook(i32 n, Cell* out) {
    set_cell(out, T_WORD, g_global_context, g_sym_anon, u32(-1));
    if (!g_global_context || !stacks_ready()) return;
    for (CallFrame* f = g_calls.top - 1; f >= g_calls.bottom; --f) {
        u32 sym = frame_symbol(f);
        if (!sym || sym == g_sym_body || sym == g_sym_anon) continue;
        Cell w;
        set_cell(&w, T_WORD, f->context, sym, u32(-1));
        const Cell* v = word_value_or_null(&w);
        if (!v || !is_any_function_type(type_of(v))) return;
        Cell spec = spec_of_function(v);
        BlockRange r = range_of(&spec);
        i32 k = 0;
        for (i32 i = r.head; i < r.tail; ++i) {
            Cell* item = cell_at(r.node, i);
            switch (type_of(item)) {
                case T_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
                    if (k++ == n) {
                        *out = *item;
                        return;
                    }
                    break;
                default: break;
            }
        }
        return;
    }
}

void init_function() {
    g_call_argument_word_hook = call_argument_word_hook;
    TypeRegistration r(T_FUNCTION, T_CONTEXT, "function!");
    r.set<A_MAKE>(function_make).set<A_REFLECT>(function_reflect).set<A_FORM>(function_form);
    r.set<A_MOLD>(function_mold).set<A_COMPARE>(function_compare);
    register_datatype(r);
}

void init_routine() {
    TypeRegistration r(T_ROUTINE, T_FUNCTION, "routine!");
    r.set<A_FORM>(routine_form).set<A_MOLD>(routine_mold).set<A_COMPARE>(function_compare).inherit(A_REFLECT);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_FUNCTION, init_function);
KEL_DATATYPE(T_ROUTINE, init_routine);

}  // namespace kel::dt
