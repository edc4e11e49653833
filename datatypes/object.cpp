// object!: construction, change events, copies and the object! actions.
#include "datatypes/object.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "datatypes/walk_guard.h"
#include "datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

i32 g_object_id = 1000000;

OwnershipHooks g_ownership{};

i32 new_object_id() { return ++g_object_id; }

namespace {

constexpr u32 EVENTS_TYPE = T_PAIR;
constexpr u32 HOOK_ABSENT = 0xFFFF;

u32 sym_on_change() { return runtime_word_symbol(WORD_ON_CHANGE); }
u32 sym_on_deep_change() { return runtime_word_symbol(WORD_ON_DEEP_CHANGE); }
bool same_name(u32 a, u32 b) { return resolve_symbol_alias(a) == resolve_symbol_alias(b); }

// A refinement argument counts as given when present and, on the argument stack, above the
// current arguments base (the generic entries pass the cell below the base for an absent
// one).
bool ref_given(const Cell* p) {
    if (!p) return false;
    if (stacks_ready() && p >= g_args.bottom && p < g_args.end) return p > g_args.base;
    return true;
}

bool is_series_field(u32 t) {
    switch (t) {
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_STRING:
        case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
            return true;
        default: return false;
    }
}

bool is_bindable_series(u32 t) {
    return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}

// The copy action's result for a value, deep.
Cell copy_value(const Cell* v) {
    Cell* arg = stack_push(v);
    Cell* slot = stack_push_slot();
    set_cell(slot, T_NONE);
    Cell r = *dispatch<A_COPY>(arg, slot, nullptr, true, nullptr);
    stack_pop(2);
    return r;
}

Cell make_word_cell(u32 symbol) {
    Cell w;
    set_cell(&w, T_WORD, 0, symbol, u32(-1));
    return w;
}

Node events_node_of(const Cell* obj) { return obj->data3; }
Cell* events_cells(Node events) { return cells_of(buffer_of(events)); }

i32 hook_index(Node events, u32 hook) { return i32(events_cells(events)[hook].data2) >> 16; }

// The local-slot count of a hook, recomputed when the handler's spec changed.
i32 refresh_hook_count(Node events, u32 hook, const Cell* fn) {
    Cell* e = events_cells(events) + hook;
    if (e->data3 != fn->data2) {
        i32 count = count_spec_words(fn->data2, 0, false);
        e = events_cells(events) + hook;
        e->data2 = (e->data2 & 0xFFFF0000u) | u32(count & 0xFFFF);
        e->data3 = fn->data2;
    }
    return i32(e->data2 & 0xFFFF);
}

// Runs a change handler: its frame named by `name`, the arguments already counted in
// `args` cells at `first`, then the local slots.
void run_handler(Cell* fn_slot, u32 name_symbol, Node owner_ctx, const Cell* args, u32 nargs, i32 locals) {
    if (!g_call_function) raise_error(Err::internal_not_done);
    Cell name = make_word_cell(name_symbol);
    Cell fn = *fn_slot;
    stack_open_function(&name, fn.data1);
    for (u32 i = 0; i < nargs; ++i) stack_push(&args[i]);
    if (locals > 0) push_refinement_off(locals);
    Status st = g_call_function(&fn, owner_ctx, &name, 0);
    // An exit that left the handler has already set the stacks for its target.
    if (st) system_throw(st);
    stack_unwind_function();
}

}  // namespace

// ---- construction ---------------------------------------------------------------------

Cell* make_object_at(Cell* c, u32 slots) {
    Node ctx = make_context(slots, false, true, nullptr, CTX_OBJECT);
    set_cell(c, T_OBJECT, ctx, 0, 0);
    *context_owner(ctx) = *c;
    return c;
}

Cell* push_object(Node ctx, i32 class_id) {
    Cell* cc = context_cell(ctx);
    if (!(cc->header & CTX_ON_STACK) && series_length(cc->data2) == 0) {
        u32 words = context_word_count(ctx);
        for (u32 i = 0; i < words; ++i) set_cell(block_alloc_tail(context_cell(ctx)->data2), T_UNSET);
    }
    Cell obj;
    set_cell(&obj, T_OBJECT, ctx, u32(class_id), 0);
    *context_owner(ctx) = obj;
    return stack_push(&obj);
}

Cell* push_object_with_events(Node ctx, i32 class_id, Node events) {
    Cell obj;
    set_cell(&obj, T_OBJECT, ctx, u32(class_id), events);
    *context_owner(ctx) = obj;
    return stack_push(&obj);
}

namespace {

Node make_events_record(i32 change_index, i32 change_count, Node change_spec, i32 deep_index, i32 deep_count,
                        Node deep_spec) {
    Node rec = alloc_cells(2);
    SeriesBuffer* b = buffer_of(rec);
    Cell* c = cells_of(b);
    auto fill = [](Cell* e, i32 index, i32 count, Node spec) {
        u32 idx = index < 0 ? HOOK_ABSENT : u32(index);
        set_cell(e, EVENTS_TYPE, 0, (idx << 16) | (index < 0 ? 0 : u32(count & 0xFFFF)), index < 0 ? 0 : spec);
    };
    fill(&c[0], change_index, change_count, change_spec);
    fill(&c[1], deep_index, deep_count, deep_spec);
    b->tail = b->offset + 2 * sizeof(Cell);
    return rec;
}

// object-events: the events record of a context, or 0 when it has neither hook.
Node object_events_of(Node ctx) {
    i32 hooks[2] = {-1, -1};
    u32 n = context_word_count(ctx);
    for (u32 i = 0; i < n; ++i) {
        u32 s = word_symbol(context_word_at(ctx, i32(i)));
        if (same_name(s, sym_on_change())) hooks[0] = i32(i);
        else if (same_name(s, sym_on_deep_change())) hooks[1] = i32(i);
    }
    if (hooks[0] < 0 && hooks[1] < 0) return 0;
    i32 counts[2] = {0, 0};
    Node specs[2] = {0, 0};
    for (int h = 0; h < 2; ++h) {
        if (hooks[h] < 0) continue;
        Cell v = context_values(ctx)[hooks[h]];
        if (type_of(&v) != T_FUNCTION && type_of(&v) != T_ROUTINE) {
            Cell word = *context_word_at(ctx, hooks[h]);
            word.header = T_WORD;
            Cell dt;
            set_cell(&dt, T_DATATYPE, type_of(&v));
            raise_error(Err::script_bad_field_set, &word, &dt);
        }
        counts[h] = count_spec_words(v.data2, 0, false);
        specs[h] = v.data2;
    }
    return make_events_record(hooks[0], counts[0], specs[0], hooks[1], counts[1], specs[1]);
}

void ownership_bind(const Cell* owner, const Cell* value, const Cell* field) {
    if (g_ownership.bind) {
        g_ownership.bind(owner, value, field);
        return;
    }
    context_cell(object_context(owner))->header |= CTX_OWNS_SERIES;
}

}  // namespace

void make_boot_object(Node ctx, i32 change_index, i32 change_count, i32 deep_index, i32 deep_count) {
    Node rec = make_events_record(change_index, change_count, 0, deep_index, deep_count, 0);
    Cell* obj = stack_top();
    obj->data3 = rec;
    *context_owner(ctx) = *obj;
    if (deep_index >= 0) {
        Cell o = *obj;
        Cell none;
        set_cell(&none, T_NONE);
        ownership_bind(&o, &o, &none);
    }
}

void object_set_events(Cell* obj) {
    Node ctx = object_context(obj);
    Node rec = object_events_of(ctx);
    obj->data3 = rec;
    *context_owner(ctx) = *obj;
    if (rec && hook_index(rec, 1) >= 0) {
        Cell o = *obj;
        Cell none;
        set_cell(&none, T_NONE);
        ownership_bind(&o, &o, &none);
    }
}

// ---- fields ---------------------------------------------------------------------------

i32 object_find_word(const Cell* obj, const Cell* word) {
    return find_word_in_context(object_context(obj), word_symbol(word), true);
}

Cell* object_select_word(const Cell* obj, const Cell* word) {
    i32 i = object_find_word(obj, word);
    if (i < 0 || u32(i) >= context_value_count(object_context(obj))) return &g_none_cell;
    return context_values(object_context(obj)) + i;
}

Cell* object_first_field(const Cell* obj) { return context_word_at(object_context(obj), 0); }
Cell* object_first_value(const Cell* obj) { return context_values(object_context(obj)); }
u32 object_field_count(const Cell* obj) { return context_value_count(object_context(obj)); }
Cell* context_value_by_index(Node ctx, i32 index) { return context_word_at(ctx, index); }

bool object_field_same_q(const Cell* word, Node ctx) {
    const Cell* v = word_value_or_null(word);
    return v && is_object_type(type_of(v)) && object_context(v) == ctx;
}

bool field_is_object_q(const Cell* obj, i32 index, Node ctx) {
    if (u32(index) >= object_field_count(obj)) return false;
    Cell* v = object_first_value(obj) + index;
    return is_object_type(type_of(v)) && object_context(v) == ctx;
}

void clear_cell_bit30(Cell* first, u32 n) {
    for (u32 i = 0; i < n; ++i) first[i].header &= ~CELL_NEW_LINE;
}

void clear_cell_bit13(Node ctx) {
    u32 n = context_word_count(ctx);
    Cell* w = context_word_at(ctx, 0);
    for (u32 i = 0; i < n; ++i) w[i].header &= ~CHANGED_MARK;
}

// ---- change events --------------------------------------------------------------------

void call_object_handler(Cell* obj, Cell* word, Cell* old_value, Cell* new_value) {
    Node events = events_node_of(obj);
    if (!events) return;
    i32 index = hook_index(events, 0);
    if (index < 0) return;
    Node ctx = object_context(obj);
    Cell* fn = stack_push(context_values(ctx) + index);
    if (type_of(fn) != T_FUNCTION) raise_error(Err::script_invalid_obj_evt, fn);
    i32 locals = refresh_hook_count(events, 0, fn);
    Cell args[3] = {*word, *old_value, *new_value};
    if (!(word_context(&args[0]) == ctx && word_index(&args[0]) >= 0)) {
        args[0].header = type_of(word);
        bind_word(ctx, &args[0]);
    }
    run_handler(fn, sym_on_change(), ctx, args, 3, locals);
    stack_pop(1);
}

void fire_on_deep_change(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* new_value, i32 index, i32 part) {
    Node events = events_node_of(owner);
    if (!events) raise_error(Err::script_invalid_obj_evt, owner);
    i32 hook = hook_index(events, 1);
    if (hook < 0) return;
    Node ctx = object_context(owner);
    Cell* fn = stack_push(context_values(ctx) + hook);
    if (type_of(fn) != T_FUNCTION) {
        stack_pop(1);
        return;
    }
    i32 locals = refresh_hook_count(events, 1, fn);
    Cell args[7];
    args[0] = *owner;
    args[1] = *word;
    args[2] = *target;
    args[3] = *action;
    if (new_value) args[4] = *new_value;
    else set_cell(&args[4], T_NONE);
    set_cell(&args[5], T_INTEGER, 0, u32(index), 0);
    set_cell(&args[6], T_INTEGER, 0, u32(part), 0);
    run_handler(fn, sym_on_deep_change(), ctx, args, 7, locals);
    stack_pop(1);
}

// ---- copies ---------------------------------------------------------------------------

void copy_function_for_object(const Cell* fn, Cell* dst, Node ctx) {
    Cell f = *fn;
    Cell* base = g_args.top;
    stack_push(&f);
    Cell body = *function_record(&f, FN_BODY);
    if (type_of(&body) != T_BLOCK) raise_error(Err::script_bad_func_def, &f);
    Cell tmp = f;
    Node args = clone_context(&tmp, CTX_ARGS);
    Cell spec = spec_of_function(&f);
    u32 flags = f.header & (FN_TRACE | FN_NO_TRACE);
    make_function_cell(&spec, &body, args, 0, ctx, flags);
    Cell made = *stack_top();
    // Fields first, then the arguments: an argument shadows a field of the same name.
    Cell copy = *function_record(&made, FN_BODY);
    bind_block(&copy, ctx, true);
    bind_block(&copy, args, false);
    *dst = made;
    g_args.top = base;
}

Cell* copy_object(const Cell* src, Cell* dst, bool deep, const Cell* types, bool no_events) {
    Cell* base = g_args.top;
    Cell obj = *src;
    Node source_ctx = object_context(&obj);
    clone_context(&obj, CTX_OBJECT);
    if (no_events) obj.data3 = 0;
    Cell* slot = stack_push(&obj);
    Node ctx = object_context(slot);
    *context_owner(ctx) = *slot;
    u32 n = context_value_count(ctx);
    bool typed = types && ref_given(types);
    for (u32 i = 0; i < n; ++i) {
        Cell v = context_values(ctx)[i];
        u32 t = type_of(&v);
        if (t == T_FUNCTION) {
            Cell made;
            copy_function_for_object(&v, &made, ctx);
            context_values(ctx)[i] = made;
        } else if (deep && !typed && is_series_field(t)) {
            Cell c = copy_value(&v);
            context_values(ctx)[i] = c;
        }
    }
    if (deep && typed) {
        if (cycles_find(source_ctx)) {
            cycles_reset();
            raise_error(Err::internal_no_cycle);
        }
        CyclesScope scope;
        cycles_push(source_ctx);
        Cell values;
        set_cell(&values, T_BLOCK, 0, context_cell(ctx)->data2, 0);
        Cell* vb = stack_push(&values);
        Cell t = *types;
        find_value_in_cells(vb, 0, i32(n), 1, true, &t);
    }
    slot = base;
    object_set_events(slot);
    *dst = *slot;
    g_args.top = base;
    return dst;
}

Cell* construct_object(const Cell* spec, const Cell* proto, bool only) {
    Cell* result = stack_push_slot();
    set_cell(result, T_NONE);
    if (proto && is_object_type(type_of(proto))) copy_object(proto, result, false, nullptr, false);
    else {
        make_object_at(result, 4);
        result->data2 = u32(new_object_id());
        *context_owner(object_context(result)) = *result;
    }
    Cell s = *spec;
    Node node = series_node(&s);
    i32 head = series_clamped_head(&s);
    Node ctx = object_context(result);
    for (i32 i = head; u32(i) < series_length(node); ++i) {
        Cell item = cells_of(buffer_of(node))[i];
        if (type_of(&item) != T_SET_WORD) continue;
        Cell value;
        set_cell(&value, T_NONE);
        for (i32 k = i + 1; u32(k) < series_length(node); ++k) {
            Cell* c = cells_of(buffer_of(node)) + k;
            if (type_of(c) != T_SET_WORD) {
                value = *c;
                break;
            }
        }
        if (!only && type_of(&value) == T_WORD) {
            u32 sym = resolve_symbol_alias(word_symbol(&value));
            auto is = [&](RuntimeSymbol rs) { return sym == resolve_symbol_alias(runtime_symbol(rs)); };
            if (is(SYM_TRUE) || is(SYM_YES) || is(SYM_ON)) value = g_true_cell;
            else if (is(SYM_FALSE) || is(SYM_NO) || is(SYM_OFF)) value = g_false_cell;
            else if (is(SYM_NONE)) value = g_none_cell;
        }
        value.header &= ~CELL_NEW_LINE;
        context_put_word(ctx, &item, &value);
    }
    return result;
}

void set_many(Cell* target, const Cell* value, bool any, bool only, bool some) {
    Cell* base = g_args.top;
    Cell* obj = stack_push(target);
    Cell* src = stack_push(value);
    Node ctx = object_context(obj);
    u32 n = object_field_count(obj);
    auto assign = [&](u32 i, const Cell* v) {
        Cell nv = *v;
        Cell* word = stack_push(context_word_at(ctx, i32(i)));
        Cell* old = stack_push(context_values(ctx) + i);
        Cell* newv = stack_push(&nv);
        context_values(ctx)[i] = nv;
        context_word_at(ctx, i32(i))->header |= CHANGED_MARK;
        u32 s = word_symbol(word);
        bool hook_field = same_name(s, sym_on_change()) || same_name(s, sym_on_deep_change());
        if (obj->data3 && !hook_field) {
            word->header = T_WORD;
            call_object_handler(obj, word, old, newv);
        }
        g_args.top = newv - 2;
    };
    u32 st = type_of(src);
    if (!only && (st == T_BLOCK || is_object_type(st))) {
        bool from_object = is_object_type(st);
        u32 src_count = from_object ? object_field_count(src) : u32(ks_length_q(src) > 0 ? ks_length_q(src) : 0);
        if (!some && !any) {
            for (u32 i = 0; i < n && i < src_count; ++i) {
                const Cell* v = from_object ? object_first_value(src) + i : ks_head(src) + i;
                if (type_of(v) == T_UNSET) {
                    Cell w = *context_word_at(ctx, i32(i));
                    w.header = T_WORD;
                    raise_error(Err::script_need_value, &w);
                }
            }
        }
        for (u32 i = 0; i < n; ++i) {
            Cell v;
            if (from_object) {
                Cell w = *context_word_at(ctx, i32(i));
                i32 k = find_word_in_context(object_context(src), word_symbol(&w), true);
                if (k < 0 || u32(k) >= object_field_count(src)) continue;
                v = object_first_value(src)[k];
            } else if (i < src_count) {
                v = ks_head(src)[i];
            } else {
                set_cell(&v, T_NONE);
            }
            if (some && type_of(&v) == T_NONE) continue;
            assign(i, &v);
        }
    } else {
        for (u32 i = 0; i < n; ++i) assign(i, src);
    }
    g_args.top = base;
}

// ---- object! actions ------------------------------------------------------------------

// Evaluates a spec block already bound to the new value's context, in an eval frame of its
// own; an exit that leaves it travels on as a system throw (make has no Status to return).
void eval_spec_block(const Cell* spec) {
    if (!g_eval_block) raise_error(Err::internal_not_done);
    Cell* saved_top = g_args.top;
    stack_open_eval(nullptr);
    Status st = g_eval_block(spec);
    if (st) system_throw(st);
    stack_pop_frame();
    g_args.top = saved_top;
}

Cell* object_make(Cell* proto, Cell* spec, u32 type) {
    Cell* result = stack_push_slot();
    set_cell(result, T_NONE);
    bool from_object = is_object_type(type_of(proto));
    if (from_object) copy_object(proto, result, true, nullptr, false);
    else make_object_at(result, 4);
    (void)type;
    Node ctx = object_context(result);
    Cell s = *spec;
    switch (type_of(&s)) {
        case T_OBJECT: case T_ERROR: case T_PORT: {
            Node sctx = object_context(&s);
            u32 before = context_word_count(ctx);
            u32 n = object_field_count(&s);
            for (u32 i = 0; i < n; ++i) {
                Cell w = *context_word_at(sctx, i32(i));
                Cell v = context_values(sctx)[i];
                if (type_of(&v) == T_FUNCTION) copy_function_for_object(&v, &v, ctx);
                else if (is_series_field(type_of(&v))) v = copy_value(&v);
                context_put_word(ctx, &w, &v);
            }
            bool grew = context_word_count(ctx) > before;
            if (grew || !from_object) result->data2 = u32(new_object_id());
            break;
        }
        case T_BLOCK: {
            bool grew = bind_set_words(ctx, &s);
            bind_block(&s, ctx, true);
            if (from_object) {
                u32 n = context_value_count(ctx);
                for (u32 i = 0; i < n; ++i) {
                    Cell v = context_values(ctx)[i];
                    if (is_bindable_series(type_of(&v))) bind_block(&v, ctx, true);
                }
            }
            *context_owner(ctx) = *result;
            eval_spec_block(&s);
            clear_cell_bit13(ctx);
            clear_cell_bit30(context_values(ctx), context_value_count(ctx));
            if (grew || !from_object) result->data2 = u32(new_object_id());
            break;
        }
        default: raise_error(Err::syntax_malconstruct, &s);
    }
    object_set_events(result);
    return result;
}

Cell* object_reflect(Cell* value, u32 field) {
    Cell obj = *value;
    Node ctx = object_context(&obj);
    u32 f = resolve_symbol_alias(field);
    auto is = [&](u32 sym) { return f == resolve_symbol_alias(sym); };
    u32 n = context_value_count(ctx);
    if (is(runtime_word_symbol(rt::WORD_CHANGED))) {
        Cell* out = push_new_block(i32(n));
        for (u32 i = 0; i < n; ++i) {
            Cell w = *context_word_at(ctx, i32(i));
            if (!(w.header & CHANGED_MARK)) continue;
            w.header = T_WORD;
            ks_append(out, &w);
        }
        return out;
    }
    if (is(runtime_symbol(SYM_CLASS))) return push_integer(object_class(&obj));
    if (is(runtime_symbol(SYM_WORDS)) || is(runtime_symbol(SYM_VALUES))) {
        bool words = is(runtime_symbol(SYM_WORDS));
        Cell* out = push_new_block(i32(n));
        for (u32 i = 0; i < n; ++i) {
            Cell c = words ? *context_word_at(ctx, i32(i)) : context_values(ctx)[i];
            if (words) c.header = T_WORD;
            ks_append(out, &c);
        }
        return out;
    }
    if (is(runtime_symbol(SYM_BODY))) {
        Cell* out = push_new_block(i32(2 * n));
        for (u32 i = 0; i < n; ++i) {
            Cell w = *context_word_at(ctx, i32(i));
            w.header = T_SET_WORD;
            ks_append(out, &w);
            Cell v = context_values(ctx)[i];
            if (type_of(&v) == T_WORD) set_cell_type(&v, T_LIT_WORD);
            else if (type_of(&v) == T_PATH) set_cell_type(&v, T_LIT_PATH);
            ks_append(out, &v);
        }
        return out;
    }
    if (is(runtime_symbol(SYM_OWNER)))
        return push_logic((context_cell(ctx)->header & CTX_OWNS_SERIES) != 0);
    if (is(runtime_symbol(SYM_EVENTS_Q))) return push_logic(obj.data3 != 0);
    raise_error(Err::internal_not_done);
}

namespace {

i32 append_text(Cell* out, const char* s, i32 limit) {
    i32 n = 0;
    while (s[n]) append_char(out, u8(s[n++]));
    return limit - n;
}

i32 append_indent(Cell* out, i32 level, i32 limit) {
    for (i32 i = 0; i < level; ++i) limit = append_text(out, "    ", limit);
    return limit;
}

}  // namespace

i32 mold_object_fields(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    Cell obj = *value;
    Node ctx = object_context(&obj);
    u32 n = context_value_count(ctx);
    if (n == 0) return limit;
    bool indenting = indent > 0 && !flat;
    const char* sep = flat ? " " : "\n";
    if (indenting) limit = append_text(out, "\n", limit);
    bool first = true;
    for (u32 i = 0; i < n && limit > 0; ++i) {
        Cell w = *context_word_at(ctx, i32(i));
        u32 s = word_symbol(&w);
        if (!all && (same_name(s, sym_on_change()) || same_name(s, sym_on_deep_change()))) continue;
        if (!first) limit = append_text(out, sep, limit);
        first = false;
        if (!flat) limit = append_indent(out, indent, limit);
        limit -= i32(append_symbol_name(out, s));
        limit = append_text(out, ": ", limit);
        Cell v = context_values(ctx)[i];
        if (type_of(&v) == T_WORD) limit = append_text(out, "'", limit);
        if (type_of(&v) == T_END) set_cell(&v, T_UNSET);
        Cell* pv = stack_push(&v);
        limit = mold_dispatch(pv, out, only, all, flat, part, limit, indent);
        stack_pop(1);
    }
    return limit;
}

// The mold of an object kind: `opening` ("make object! [", "make error! [") and its fields.
i32 mold_object_as(Cell* value, const char* opening, Cell* out, bool only, bool all, bool flat, Cell* part,
                   i32 limit, i32 indent) {
    if (cycles_detect(value, out, &limit, true)) return limit;
    CyclesScope scope;
    cycles_push(object_context(value));
    limit = append_text(out, opening, limit);
    limit = mold_object_fields(value, out, only, all, flat, part, limit, indent + 1);
    // Not flat: the closing bracket goes on a line of its own, also when there are no fields.
    if (!flat) {
        limit = append_text(out, "\n", limit);
        limit = append_indent(out, indent, limit);
    }
    return append_text(out, "]", limit);
}

i32 object_form(Cell* value, Cell* out, Cell* part, i32 limit) {
    if (cycles_detect(value, out, &limit, false)) return limit;
    CyclesScope scope;
    cycles_push(object_context(value));
    return mold_object_fields(value, out, false, false, false, part, limit, 0);
}

i32 object_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return mold_object_as(value, "make object! [", out, only, all, flat, part, limit, indent);
}

Cell* object_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool, bool get,
                       bool tail) {
    Cell none;
    set_cell(&none, T_NONE);
    Cell* p = path ? path : &none;
    if (!is_plain_word_type(type_of(element))) raise_error(Err::script_invalid_path, p, element);
    Node ctx = object_context(parent);
    auto missing = [&]() -> Cell* {
        if (!value && get && tail) return &g_unset_cell;
        Cell e = *element;
        raise_error(tail ? Err::script_invalid_path : Err::script_unset_path, p, &e);
    };
    if (word_context(element) != ctx || word_index(element) < 0) {
        i32 i = find_word_in_context(ctx, word_symbol(element), true);
        if (i < 0) return missing();
        element->data1 = ctx;
        element->data3 = u32(i);
    }
    i32 index = word_index(element);
    if (u32(index) >= context_value_count(ctx)) return missing();
    if (value) {
        Cell* base = g_args.top;
        Cell obj = *parent;
        Cell* o = stack_push(&obj);
        Cell* w = stack_push(element);
        Cell* nv = stack_push(value);
        Cell* old = stack_push(context_values(ctx) + index);
        set_word_in_context(w, nv, ctx, false);
        if (o->data3) call_object_handler(o, w, old, nv);
        g_args.top = base;
        return value;
    }
    Cell* v = context_values(ctx) + index;
    if (type_of(v) == T_UNSET) return missing();
    return v;
}

i32 object_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != T_OBJECT) return -2;
    Node c1 = object_context(v1), c2 = object_context(v2);
    if (c1 == c2) return 0;
    if (op == OP_SAME) return -1;
    if (cycles_find(c1)) return cycles_find(c2) ? 0 : -1;
    u32 n1 = object_field_count(v1), n2 = object_field_count(v2);
    if (n1 != n2) return n1 > n2 ? 1 : -1;
    CyclesScope scope;
    cycles_push(c1);
    cycles_push(c2);
    for (u32 i = 0; i < n1; ++i) {
        u32 s1 = resolve_symbol_alias(word_symbol(context_word_at(c1, i32(i))));
        u32 s2 = resolve_symbol_alias(word_symbol(context_word_at(c2, i32(i))));
        if (s1 != s2) return s1 < s2 ? -1 : 1;
        Cell a = context_values(c1)[i];
        Cell b = context_values(c2)[i];
        u32 ta = type_of(&a), tb = type_of(&b);
        auto number = [](u32 t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; };
        i32 r;
        if (ta == tb || (is_any_word_type(ta) && is_any_word_type(tb)) || (number(ta) && number(tb))) {
            Cell* pa = stack_push(&a);
            Cell* pb = stack_push(&b);
            r = compare_values(pa, pb, op);
            stack_pop(2);
        } else {
            r = ta < tb ? -1 : 1;
        }
        if (r != 0) return r;
    }
    return 0;
}

Cell* object_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (ref_given(part)) {
        Cell w = g_refinement_words[REF_PART];
        w.header = T_WORD;
        Cell pv = *part;
        raise_error(Err::script_invalid_refine_arg, &w, &pv);
    }
    return copy_object(value, result, deep, ref_given(types) ? types : nullptr, false);
}

Cell* object_select(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    if (!is_plain_word_type(type_of(value))) {
        Cell dt;
        set_cell(&dt, T_DATATYPE, type_of(value));
        raise_error(Err::script_invalid_type, &dt);
    }
    return object_select_word(series, value);
}

namespace {

Cell* object_put(Cell* series, Cell* key, Cell* value, bool) {
    if (type_of(key) != T_WORD) {
        Cell dt;
        set_cell(&dt, T_DATATYPE, type_of(key));
        raise_error(Err::script_invalid_key_type, &dt);
    }
    return object_eval_path(series, key, value, nullptr, nullptr, nullptr, 0, false, false, true);
}

Cell* object_modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!is_any_word_type(type_of(field))) return value;
    u32 f = resolve_symbol_alias(word_symbol(field));
    Cell obj = *target;
    if (f == resolve_symbol_alias(runtime_word_symbol(rt::WORD_CHANGED))) {
        if (type_of(value) != T_NONE) raise_error(Err::script_invalid_arg, value);
        clear_cell_bit13(object_context(&obj));
    } else if (f == resolve_symbol_alias(runtime_symbol(SYM_OWNER))) {
        Cell none;
        set_cell(&none, T_NONE);
        ownership_bind(&obj, &obj, &none);
    } else if (f == resolve_symbol_alias(runtime_symbol(SYM_OWNED))) {
        Cell v = *value;
        if (type_of(&v) == T_NONE) {
            if (g_ownership.set) g_ownership.set(&v, &obj, &v);
        } else if (type_of(&v) == T_BLOCK && ks_length_q(&v) >= 2) {
            Cell owner = ks_head(&v)[0];
            Cell word = ks_head(&v)[1];
            if (is_object_type(type_of(&owner))) ownership_bind(&owner, &obj, &word);
        }
    }
    return value;
}

void init_object() {
    TypeRegistration r(T_OBJECT, 0, "object!");
    r.set<A_MAKE>(object_make).set<A_REFLECT>(object_reflect).set<A_FORM>(object_form).set<A_MOLD>(object_mold);
    r.set<A_EVAL_PATH>(object_eval_path).set<A_COMPARE>(object_compare).set<A_COPY>(object_copy);
    r.set<A_PUT>(object_put).set<A_SELECT>(object_select).set<A_MODIFY>(object_modify);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_OBJECT, init_object);

}  // namespace kel::dt
