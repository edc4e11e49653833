// native!, action! and op! values.
//
// native! and action! cell: data1 the entry number (a native's slot - 1 in the natives
// table, an action's id - 1 in the actions table), data2 the spec block's node, data3 the
// node of a two-cell series: [0] a copy of the argument context's cell made from the spec,
// [1] none. op! cell: a copy of the native, action, function or routine it was made from,
// with header 23 | (source type << 16); the evaluator retypes a copy to call it.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/function.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/unit.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

[[noreturn]] void raise_bad_make(u32 type, const Cell* spec) {
    Cell dt, s = *spec;
    set_cell(&dt, T_DATATYPE, type);
    raise_error(Err::script_bad_make_arg, &dt, &s);
}

// ---- the shapes of built-in slots ------------------------------------------------------
//
// A native or action trusts the arguments its entry reads: their number, their kinds and
// their types. The first value made for a slot (the library's own definition) fixes that
// shape; a later value for the same slot must have the same arguments and refinements, each
// argument accepting no type the first one refuses. So no spec can hand an entry arguments
// it cannot read. A shape belongs to the entry the slot held when it was fixed: a slot given
// another entry (tests do) takes its shape anew. A spec that names no types at all (the preset `make` that start-up uses
// before the library defines it) fixes nothing yet: the next definition replaces it.

Node g_slot_shapes = 0;  // a block: one cell per native slot, then one per action id
const void* g_shape_entries[NATIVES_CAPACITY + ACTION_COUNT];  // the entry each shape belongs to

u32 shape_index(u32 type, i64 n) { return type == T_NATIVE ? u32(n - 1) : NATIVES_CAPACITY + u32(n - 1); }

Cell* slot_shape(u32 type, i64 n) {
    if (!g_slot_shapes) {
        Node b = alloc_cells(NATIVES_CAPACITY + ACTION_COUNT);
        SeriesBuffer* buf = buffer_of(b);
        for (u32 i = 0; i < NATIVES_CAPACITY + ACTION_COUNT; ++i) set_cell(&cells_of(buf)[i], T_NONE);
        buf->tail = buf->offset + (NATIVES_CAPACITY + ACTION_COUNT) * sizeof(Cell);
        g_slot_shapes = b;
        gc_register_node_root(&g_slot_shapes);
    }
    return cells_of(buffer_of(g_slot_shapes)) + shape_index(type, n);
}

// The shape of a spec, pushed as a block: per argument an integer! holding its word kind
// and the typeset it accepts, per refinement a refinement!; /local, /extern, return: and
// docstrings are left out. A spec with arguments but no type block ends with a none!.
Cell* push_spec_shape(const Cell* spec) {
    Cell* shape = push_new_block(8);
    Node node = series_node(shape);
    Cell sp = *spec;
    i32 n = ks_length_q(&sp);
    u32 local = resolve_symbol_alias(runtime_word_symbol(WORD_LOCAL));
    u32 ext = resolve_symbol_alias(g_refinement_words[REF_EXTERN].data2);
    bool arguments = false, typed = false;
    for (i32 i = 0; i < n; ++i) {
        Cell v = ks_head(&sp)[i];
        u32 t = type_of(&v);
        if (t == T_REFINEMENT) {
            u32 sym = resolve_symbol_alias(word_symbol(&v));
            if (sym == local || sym == ext) break;
            ks_append(shape, &v);
        } else if (t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD) {
            Cell kind;
            set_cell(&kind, T_INTEGER, 0, t, 0);
            ks_append(shape, &kind);
            arguments = true;
            if (i + 1 < n && type_of(ks_head(&sp) + i + 1) == T_BLOCK) {
                typed = true;
                Cell types = ks_head(&sp)[++i];
                make_typeset_in_from_spec(node, &types);
            } else {
                make_any_typeset_in(node);
            }
        } else if (t == T_SET_WORD && i + 1 < n && type_of(ks_head(&sp) + i + 1) == T_BLOCK) {
            ++i;  // return: [types]
        }
    }
    if (arguments && !typed) ks_append(shape, &g_none_cell);
    return shape;
}

// Whether `shape` asks no more of a slot's entry than `fixed` does.
bool shape_fits(Cell* shape, Cell* fixed) {
    i32 n = ks_length_q(shape);
    if (n != ks_length_q(fixed)) return false;
    for (i32 i = 0; i < n; ++i) {
        const Cell* a = ks_head(shape) + i;
        const Cell* b = ks_head(fixed) + i;
        if (type_of(a) != type_of(b)) return false;
        if (type_of(a) == T_INTEGER && a->data2 != b->data2) return false;
        if (type_of(a) == T_TYPESET &&
            ((a->data1 & ~b->data1) | (a->data2 & ~b->data2) | (a->data3 & ~b->data3)) != 0)
            return false;
    }
    return true;
}

// make native! [spec slot] and make action! [spec id]: the slot must hold an entry of the
// table's calling convention, so that no value can call through an empty or foreign slot,
// and the spec must fit the slot's shape.
Cell* make_builtin(Cell* spec, u32 type) {
    if (type_of(spec) != T_BLOCK || ks_length_q(spec) != 2) raise_bad_make(type, spec);
    Cell s = *spec;
    Cell fspec = *ks_head(&s);
    Cell slot = ks_head(&s)[1];
    if (type_of(&slot) != T_INTEGER) raise_bad_make(type, &s);
    i64 n = get_int(&slot);
    bool callable = type == T_NATIVE ? native_entry(n) != nullptr : action_generic_entry(n) != nullptr;
    if (!callable || type_of(&fspec) != T_BLOCK) raise_bad_make(type, &s);
    Cell* base = g_args.top;
    stack_push(&s);
    if (series_head(&fspec) > 0) {
        Cell* copy = clone_block(&fspec, false, false);
        fspec = *copy;
    }
    fspec.data1 = 0;
    stack_push(&fspec);
    Cell* shape = push_spec_shape(&fspec);
    Cell* fixed = slot_shape(type, n);
    const void* entry = type == T_NATIVE ? reinterpret_cast<const void*>(native_entry(n))
                                         : reinterpret_cast<const void*>(action_generic_entry(n));
    const void*& owner = g_shape_entries[shape_index(type, n)];
    i32 fixed_length = type_of(fixed) == T_BLOCK ? ks_length_q(fixed) : 0;
    bool provisional = type_of(fixed) == T_NONE || owner != entry ||
                       (fixed_length > 0 && type_of(ks_head(fixed) + fixed_length - 1) == T_NONE);
    if (provisional) {
        *fixed = *shape;
        owner = entry;
    } else if (!shape_fits(shape, fixed)) {
        raise_bad_make(type, &s);
    }
    Node ctx = make_context_from_spec(&fspec, true, false, CTX_ARGS);
    Cell ctx_cell = *context_cell(ctx);
    Node pair = alloc_cells(2);
    SeriesBuffer* b = buffer_of(pair);
    cells_of(b)[0] = ctx_cell;
    set_cell(&cells_of(b)[1], T_NONE);
    b->tail = b->offset + 2 * sizeof(Cell);
    Cell v;
    set_cell(&v, type, u32(n - 1), series_node(&fspec), pair);
    g_args.top = base;
    return stack_push(&v);
}

Cell* native_make(Cell*, Cell* spec, u32) { return make_builtin(spec, T_NATIVE); }
Cell* action_make(Cell*, Cell* spec, u32) { return make_builtin(spec, T_ACTION); }

// The left operand of an op must be a plain word!, and the spec must have two arguments.
bool op_spec_ok(const Cell* spec) {
    Cell s = *spec;
    Node node = series_node(&s);
    i32 count = 0;
    bool word_seen = false;
    u32 local = runtime_word_symbol(WORD_LOCAL);
    u32 ext = g_refinement_words[REF_EXTERN].data2;
    for (i32 i = 0; u32(i) < series_length(node); ++i) {
        Cell* v = cells_of(buffer_of(node)) + i;
        switch (type_of(v)) {
            case T_WORD: word_seen = true; ++count; break;
            case T_LIT_WORD: case T_GET_WORD:
                if (!word_seen) return false;
                ++count;
                break;
            case T_SET_WORD: return count == 2;
            case T_REFINEMENT: {
                u32 sym = resolve_symbol_alias(word_symbol(v));
                if (sym == resolve_symbol_alias(local) || sym == resolve_symbol_alias(ext)) return count == 2;
                return false;
            }
            default: break;
        }
    }
    return count == 2;
}

Cell* op_make(Cell*, Cell* spec, u32) {
    u32 t = type_of(spec);
    if (t != T_NATIVE && t != T_ACTION && t != T_FUNCTION && t != T_ROUTINE) {
        Cell dt;
        set_cell(&dt, T_DATATYPE, t);
        raise_error(Err::script_invalid_type, &dt);
    }
    Cell src = *spec;
    Cell fspec = spec_of_function(&src);
    if (!op_spec_ok(&fspec)) raise_error(Err::script_bad_op_spec);
    if (t == T_FUNCTION || t == T_ROUTINE) *function_record(&src, FN_OP_SOURCE) = src;
    Cell op = src;
    op.header = T_OP | (t << 16);
    return stack_push(&op);
}

inline u32 op_source_type(const Cell* op) { return (op->header >> 16) & 0xFF; }

Cell* native_reflect(Cell* value, u32 field) {
    u32 f = resolve_symbol_alias(field);
    Cell v = *value;
    if (f == resolve_symbol_alias(runtime_symbol(SYM_SPEC))) {
        Cell b = spec_of_function(&v);
        return stack_push(&b);
    }
    if (f == resolve_symbol_alias(runtime_symbol(SYM_BODY))) {
        u32 src = type_of(&v) == T_OP ? op_source_type(&v) : u32(type_of(&v));
        if (src == T_FUNCTION || src == T_ROUTINE) {
            Cell body = *function_record(&v, FN_BODY);
            return stack_push(&body);
        }
        Cell n;
        set_cell(&n, T_INTEGER, 0, v.data1 + 1, 0);
        return stack_push(&n);
    }
    raise_error(Err::internal_not_done);
}

i32 append_fixed(Cell* out, const char* s, i32 limit) {
    i32 n = 0;
    while (s[n]) append_char(out, u8(s[n++]));
    return limit - n;
}

i32 native_form(Cell*, Cell* out, Cell*, i32 limit) { return append_fixed(out, "?native?", limit); }
i32 action_form(Cell*, Cell* out, Cell*, i32 limit) { return append_fixed(out, "?action?", limit); }
i32 op_form(Cell*, Cell* out, Cell*, i32 limit) { return append_fixed(out, "?op?", limit); }

i32 builtin_mold(const char* head, Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit,
                 i32 indent) {
    Cell spec = spec_of_function(value);
    limit = append_fixed(out, head, limit);
    limit = mold_dispatch(&spec, out, only, all, flat, part, limit, indent);
    return append_fixed(out, "]", limit);
}

i32 native_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return builtin_mold("make native! [", value, out, only, all, flat, part, limit, indent);
}

i32 action_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return builtin_mold("make action! [", value, out, only, all, flat, part, limit, indent);
}

i32 op_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    Cell v = *value;
    limit = append_fixed(out, "make op! ", limit);
    Cell spec = spec_of_function(&v);
    if (op_source_type(&v) == T_FUNCTION) {
        limit = append_fixed(out, "func ", limit);
        limit = mold_dispatch(&spec, out, only, all, flat, part, limit, indent);
        Cell body = *function_record(&v, FN_BODY);
        if (type_of(&body) == T_BLOCK) limit = mold_dispatch(&body, out, only, all, flat, part, limit, indent);
        return limit;
    }
    limit = append_fixed(out, "[", limit);
    limit = mold_dispatch(&spec, out, only, all, flat, part, limit, indent);
    return append_fixed(out, "]", limit);
}

i32 builtin_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != type_of(v1)) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: {
            // Ops of different kinds of source never run the same code.
            u64 a = (u64(type_of(v1) == T_OP ? op_source_type(v1) : 0) << 32) | v1->data1;
            u64 b = (u64(type_of(v2) == T_OP ? op_source_type(v2) : 0) << 32) | v2->data1;
            return a == b ? 0 : (a < b ? -1 : 1);
        }
        default: return -2;
    }
}

void init_native() {
    TypeRegistration r(T_NATIVE, 0, "native!");
    r.set<A_MAKE>(native_make).set<A_REFLECT>(native_reflect).set<A_FORM>(native_form);
    r.set<A_MOLD>(native_mold).set<A_COMPARE>(builtin_compare);
    register_datatype(r);
}

void init_action() {
    TypeRegistration r(T_ACTION, T_NATIVE, "action!");
    r.set<A_MAKE>(action_make).set<A_FORM>(action_form).set<A_MOLD>(action_mold);
    r.set<A_COMPARE>(builtin_compare).inherit(A_REFLECT);
    register_datatype(r);
}

void init_op() {
    TypeRegistration r(T_OP, T_NATIVE, "op!");
    r.set<A_MAKE>(op_make).set<A_FORM>(op_form).set<A_MOLD>(op_mold);
    r.set<A_COMPARE>(builtin_compare).inherit(A_REFLECT);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_NATIVE, init_native);
KEL_DATATYPE(T_ACTION, init_action);
KEL_DATATYPE(T_OP, init_op);

}  // namespace kel::dt
