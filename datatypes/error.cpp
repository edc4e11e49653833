// error!: making errors, the report text, and the runtime's error makers.
#include "datatypes/error.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "datatypes/word.h"
#include "runtime/console_out.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

const Cell* (*g_system_state_field)(u32 index) = nullptr;

Cell* error_field(const Cell* err, u32 f) { return context_values(object_context(err)) + f; }

namespace {

constexpr i32 ARG_CUT = 80;
constexpr i32 NEAR_CUT = 40;
constexpr u32 STATE_STACK_TRACE = 2;
constexpr u32 STATE_SOURCE_FILES = 3;

Node catalog_context() { return object_context(error_catalog()); }
u32 category_count() { return context_value_count(catalog_context()); }

// The catalog's index of the category named by the symbol, or -1.
i32 category_index(u32 symbol) {
    i32 i = find_word_in_context(catalog_context(), symbol, true);
    if (i < 0 || u32(i) >= category_count()) return -1;
    return is_object_type(type_of(context_values(catalog_context()) + i)) ? i : -1;
}

Node category_context(i32 cat) { return object_context(context_values(catalog_context()) + cat); }

// The index of an id in its category object (ids count from 2), or -1.
i32 id_index(i32 cat, u32 symbol) {
    Node ctx = category_context(cat);
    i32 i = find_word_in_context(ctx, symbol, true);
    return (i >= 2 && u32(i) < context_value_count(ctx)) ? i : -1;
}

Cell word_named(const char* name) { return load_word(name); }

// code, type and id of an error from catalog positions.
void set_error_ids(Cell* err, i32 cat, i32 id) {
    Cell type = *context_word_at(catalog_context(), cat);
    type.header = T_WORD;
    Cell idw = *context_word_at(category_context(cat), id);
    idw.header = T_WORD;
    set_cell(error_field(err, ERR_CODE), T_INTEGER, 0, u32(cat * 100 + id - 2), 0);
    *error_field(err, ERR_TYPE) = type;
    *error_field(err, ERR_ID) = idw;
}

// A copy of the standard error prototype, pushed.
Cell* push_blank_error() {
    Cell* slot = stack_push_slot();
    set_cell(slot, T_NONE);
    copy_object(standard_error(), slot, false, nullptr, true);
    slot->header = T_ERROR;
    *context_owner(object_context(slot)) = *slot;
    return slot;
}

void set_near(Cell* err) {
    Cell near = g_eval_cell;
    *error_field(err, ERR_NEAR) = near;
}

[[noreturn]] void raise_spec_field(const char* name) {
    Cell w = word_named(name);
    raise_error(Err::script_invalid_spec_field, &w);
}

i32 append_text(Cell* out, const char* s, i32 limit) {
    i32 n = 0;
    while (s[n]) append_char(out, u8(s[n++]));
    return limit - n;
}

// Appends the value formed or molded, cut at `cut` characters.
i32 append_cut(Cell* out, const Cell* value, bool mold, bool flat, bool only, i32 cut, i32 limit) {
    Cell* base = g_args.top;
    Cell* v = stack_push(value);
    Cell* tmp = push_string(32);
    // Given as a part, the cut stops the walk itself: a value nested too deep to mold whole
    // still shows its first characters instead of failing the report.
    Cell part;
    set_cell(&part, T_INTEGER, 0, u32(cut));
    if (mold) mold_dispatch(v, tmp, only, false, flat, &part, cut, 0);
    else form_dispatch(v, tmp, &part, cut);
    truncate_series_at(buffer_of(series_node(tmp)), u32(cut));
    i32 n = i32(string_length(tmp));
    string_concatenate(out, tmp, -1, 0, true, CONCAT_APPEND);
    g_args.top = base;
    return limit - n;
}

i32 append_formed(Cell* out, const Cell* value, i32 limit) {
    Cell* base = g_args.top;
    Cell* v = stack_push(value);
    limit = form_dispatch(v, out, nullptr, limit);
    g_args.top = base;
    return limit;
}

// The words of the named call frames from the bottom up to frame `depth` (a call-stack
// depth), only those naming functions unless `all`.
void collect_calls(u32 depth, bool all, Cell* block) {
    if (!stacks_ready()) return;
    if (depth > CALL_STACK_FRAMES) depth = CALL_STACK_FRAMES;
    for (u32 k = 0; k < depth; ++k) {
        CallFrame* f = g_calls.bottom + k;
        u32 sym = frame_symbol(f);
        if (!sym || sym == g_sym_body || sym == g_sym_anon) continue;
        Cell w;
        set_cell(&w, T_WORD, f->context, sym, u32(-1));
        if (!all) {
            const Cell* v = word_value_or_null(&w);
            if (!v || type_of(v) != T_FUNCTION) continue;
        }
        w = find_or_add_word(word_context_node(&w), sym);
        ks_append(block, &w);
    }
}

i32 stack_trace_depth() {
    const Cell* v = g_system_state_field ? g_system_state_field(STATE_STACK_TRACE) : nullptr;
    return v && type_of(v) == T_INTEGER ? get_int(v) : 0;
}

}  // namespace

// ---- making errors --------------------------------------------------------------------

Cell* create_error(Err e, const Cell* a1, const Cell* a2, const Cell* a3) {
    Cell args[3];
    const Cell* in[3] = {a1, a2, a3};
    for (int i = 0; i < 3; ++i) {
        if (in[i]) args[i] = *in[i];
        else set_cell(&args[i], T_NONE);
    }
    Cell* err = push_blank_error();
    const ErrorInfo& info = error_info(e);
    set_error_ids(err, i32(info.category), i32(info.index));
    for (int i = 0; i < 3; ++i) *error_field(err, ERR_ARG1 + u32(i)) = args[i];
    set_near(err);
    return err;
}

Cell* error_make(Cell*, Cell* spec, u32) {
    Cell s = *spec;
    Cell* err = push_blank_error();
    switch (type_of(&s)) {
        case T_INTEGER: {
            i32 code = get_int(&s);
            i32 cat = code / 100;
            if (code < 0 || u32(cat) >= category_count()) raise_error(Err::script_out_of_range, &s);
            i32 id = code % 100 + 2;
            if (u32(id) >= context_value_count(category_context(cat))) raise_error(Err::script_out_of_range, &s);
            set_error_ids(err, cat, id);
            break;
        }
        case T_BLOCK: {
            Cell* first = ks_length_q(&s) > 0 ? ks_head(&s) : nullptr;
            if (!first || (type_of(first) != T_WORD && type_of(first) != T_SET_WORD))
                raise_error(Err::internal_invalid_error);
            if (type_of(first) == T_WORD) {
                i32 cat = category_index(word_symbol(first));
                if (cat < 0) raise_spec_field("type");
                if (ks_length_q(&s) < 2) raise_spec_field("id");
                Cell second = ks_head(&s)[1];
                if (type_of(&second) != T_WORD) raise_error(Err::script_invalid_arg, &second);
                i32 id = id_index(cat, word_symbol(&second));
                if (id < 0) raise_spec_field("id");
                set_error_ids(err, cat, id);
                break;
            }
            Node ctx = object_context(err);
            bind_block(&s, ctx, true);
            eval_spec_block(&s);
            Cell* type = error_field(err, ERR_TYPE);
            i32 cat = type_of(type) == T_WORD ? category_index(word_symbol(type)) : -1;
            if (cat < 0) raise_spec_field("type");
            Cell* idw = error_field(err, ERR_ID);
            i32 id = type_of(idw) == T_WORD ? id_index(cat, word_symbol(idw)) : -1;
            if (id < 0) raise_spec_field("id");
            set_cell(error_field(err, ERR_CODE), T_INTEGER, 0, u32(cat * 100 + id - 2), 0);
            clear_cell_bit13(ctx);
            break;
        }
        case T_STRING: {
            Cell* made = create_error(Err::user_message, &s, nullptr, nullptr);
            *err = *made;
            g_args.top = err + 1;
            return err;
        }
        default: {
            Cell dt;
            set_cell(&dt, T_DATATYPE, T_ERROR);
            raise_error(Err::script_bad_make_arg, &dt, &s);
        }
    }
    set_near(err);
    return err;
}

// ---- reading errors -------------------------------------------------------------------

u32 error_type_symbol(const Cell* err) {
    Cell* t = error_field(err, ERR_TYPE);
    return is_any_word_type(type_of(t)) ? word_symbol(t) : 0;
}

u32 error_id_symbol(const Cell* err) {
    Cell* t = error_field(err, ERR_ID);
    return is_any_word_type(type_of(t)) ? word_symbol(t) : 0;
}

u32 error_where(const Cell* err, Cell* out) {
    Cell* w = error_field(err, ERR_WHERE);
    if (type_of(w) != T_NONE) *out = *w;
    return type_of(w);
}

void error_capture_stack(Cell* err) {
    Cell* st = error_field(err, ERR_STACK);
    if (type_of(st) != T_INTEGER) return;
    i32 depth = stack_trace_depth();
    u32 position = u32(get_int(st));
    Cell* block = push_new_block(20);
    collect_calls(position, depth > 1, block);
    // Only the innermost `depth` calls are kept.
    i32 keep = depth < 1 ? 1 : depth;
    i32 have = ks_length_q(block);
    if (have > keep) block->data1 = u32(have - keep);
    Cell b = *block;
    *error_field(err, ERR_STACK) = b;
    const Cell* files = g_system_state_field ? g_system_state_field(STATE_SOURCE_FILES) : nullptr;
    if (files && type_of(files) == T_BLOCK && ks_length_q(const_cast<Cell*>(files)) > 0) {
        Cell f = *files;
        Cell* copy = clone_block(&f, false, false);
        *error_field(err, ERR_FILES) = *copy;
        stack_pop(1);
    }
    stack_pop(1);
}

// ---- the report -----------------------------------------------------------------------

i32 fill_error_message(const Cell* tpl, Cell* out, Cell* err, i32 limit) {
    Cell t = *tpl;
    Node node = series_node(&t);
    i32 head = series_clamped_head(&t);
    bool syntax = resolve_symbol_alias(error_type_symbol(err)) == resolve_symbol_alias(runtime_word_symbol(WORD_SYNTAX));
    for (i32 i = head; u32(i) < series_length(node); ++i) {
        if (i > head) limit = append_text(out, " ", limit);
        Cell item = cells_of(buffer_of(node))[i];
        switch (type_of(&item)) {
            case T_STRING: limit = append_formed(out, &item, limit); break;
            case T_GET_WORD: case T_WORD: {
                Cell value;
                set_cell(&value, T_NONE);
                i32 k = find_word_in_context(object_context(err), word_symbol(&item), true);
                if (k >= 0 && u32(k) < object_field_count(err)) value = *error_field(err, u32(k));
                Cell* saved_base = g_args.base;
                Cell* saved_top = g_args.top;
                CallFrame* saved_calls = g_calls.top;
                stack_open_named(g_sym_body, FH_NATIVE);
                limit = append_cut(out, &value, !syntax, false, false, ARG_CUT, limit);
                g_calls.top = saved_calls;
                g_args.base = saved_base;
                g_args.top = saved_top;
                break;
            }
            default: break;
        }
    }
    return limit;
}

i32 error_form(Cell* value, Cell* out, Cell*, i32 limit) {
    Cell* base = g_args.top;
    Cell* err = stack_push(value);
    limit = append_text(out, "*** ", limit);
    auto lookup = [&](i32* cat, i32* id) {
        *cat = category_index(error_type_symbol(err));
        *id = *cat >= 0 ? id_index(*cat, error_id_symbol(err)) : -1;
    };
    i32 cat, id;
    lookup(&cat, &id);
    auto make_invalid = [&] {
        Cell t = *context_word_at(catalog_context(), i32(ErrCategory::cat_internal));
        t.header = T_WORD;
        *error_field(err, ERR_TYPE) = t;
        const ErrorInfo& info = error_info(Err::internal_invalid_error);
        Cell w = *context_word_at(category_context(i32(info.category)), info.index);
        w.header = T_WORD;
        *error_field(err, ERR_ID) = w;
    };
    if (cat < 0 || id < 0) {
        make_invalid();
        lookup(&cat, &id);
    }
    Node cctx = category_context(cat);
    Cell tpl = context_values(cctx)[id];
    if (type_of(&tpl) == T_WORD) {
        i32 k = find_word_in_context(object_context(err), word_symbol(&tpl), true);
        if (k >= 0 && u32(k) < object_field_count(err)) tpl = *error_field(err, u32(k));
        else if (const Cell* v = word_value_or_null(&tpl)) tpl = *v;
        else set_cell(&tpl, T_NONE);
    }
    Cell display = context_values(cctx)[1];
    limit = append_formed(out, &display, limit);
    limit = append_text(out, ": ", limit);
    switch (type_of(&tpl)) {
        case T_STRING: limit = append_formed(out, &tpl, limit); break;
        case T_BLOCK: limit = fill_error_message(&tpl, out, err, limit); break;
        default:
            *error_field(err, ERR_ARG1) = *error_field(err, ERR_TYPE);
            make_invalid();
            break;
    }
    limit = append_text(out, "\n*** Where: ", limit);
    Cell where = *error_field(err, ERR_WHERE);
    if (type_of(&where) == T_WORD || type_of(&where) == T_STRING) limit = append_formed(out, &where, limit);
    else limit = append_text(out, "???", limit);
    limit = append_text(out, "\n*** Near : ", limit);
    Cell near = *error_field(err, ERR_NEAR);
    limit = append_cut(out, &near, true, true, false, NEAR_CUT, limit);
    if (stack_trace_depth() > 0) {
        Cell st = *error_field(err, ERR_STACK);
        if (type_of(&st) == T_INTEGER) {
            limit = append_text(out, "\n*** Stack: ", limit);
            Cell* calls = push_new_block(20);
            collect_calls(u32(get_int(&st)), stack_trace_depth() > 1, calls);
            Cell c = *calls;
            limit = append_formed(out, &c, limit);
        } else if (type_of(&st) == T_BLOCK) {
            limit = append_text(out, "\n*** Stack: ", limit);
            limit = append_formed(out, &st, limit);
        }
    }
    Cell files = *error_field(err, ERR_FILES);
    if (type_of(&files) == T_BLOCK) {
        limit = append_text(out, "\n*** Files: ", limit);
        limit = append_cut(out, &files, true, true, true, NEAR_CUT, limit);
    }
    g_args.top = base;
    return limit;
}

Cell* push_error_report(const Cell* err) {
    Cell e = *err;
    Cell* s = push_string(80);
    Cell* pe = stack_push(&e);
    error_form(pe, s, nullptr, 0x7FFFFFFF);
    stack_pop(1);
    return s;
}

// ---- actions --------------------------------------------------------------------------

namespace {

i32 error_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return mold_object_as(value, "make error! [", out, only, all, flat, part, limit, indent);
}

Cell* error_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                      bool case_, bool get, bool tail) {
    return object_eval_path(parent, element, value, path, gparent, p_item, index, case_, get, tail);
}

i32 error_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != T_ERROR) return -2;
    Cell a = *v1, b = *v2;
    set_cell_type(&a, T_OBJECT);
    set_cell_type(&b, T_OBJECT);
    return object_compare(&a, &b, op);
}

// The runtime's hooks: raise_error builds full errors, reads their ids, locates them and
// prints the ones nobody catches.
void make_runtime_error(Err e, const Cell* a1, const Cell* a2, const Cell* a3, Cell* out) {
    Cell* base = g_args.top;
    Cell err = *create_error(e, a1, a2, a3);
    g_args.top = base;
    *out = err;
}

// Catalog position (category × 100 + id index) to the runtime's error ids.
Err g_err_by_code[10 * 100];

Err read_runtime_error(const Cell* err) {
    if (type_of(err) != T_ERROR || g_error_maker != make_runtime_error) return Err::count;
    Cell* code = error_field(err, ERR_CODE);
    if (type_of(code) != T_INTEGER) return Err::count;
    i32 c = get_int(code);
    if (c < 0 || c >= i32(sizeof g_err_by_code / sizeof g_err_by_code[0])) return Err::count;
    return g_err_by_code[c];
}

// Whether error! cells are full errors (another maker may stand in, as tests do).
bool full_errors() { return g_error_maker == make_runtime_error; }

void locate_error(Cell* err) {
    if (type_of(err) != T_ERROR || !full_errors()) return;
    Cell where;
    stack_get_call(&where);
    if (type_of(&where) == T_WORD) where = find_or_add_word(word_context_node(&where), word_symbol(&where));
    *error_field(err, ERR_WHERE) = where;
    Cell* st = error_field(err, ERR_STACK);
    if (type_of(st) != T_BLOCK) set_cell(st, T_INTEGER, 0, u32(g_calls.top - g_calls.bottom), 0);
    // The frames are about to be unwound, and later calls reuse their places: when traces
    // are on, the calls are taken while they are still there.
    if (stack_trace_depth() > 0) error_capture_stack(err);
}

void print_uncaught_error(const Cell* err) {
    if (type_of(err) != T_ERROR || !full_errors()) return;
    Cell* report = push_error_report(err);
    print_hooks_call(report, true);
    stack_pop(1);
}

void init_error() {
    TypeRegistration r(T_ERROR, T_OBJECT, "error!");
    r.set<A_MAKE>(error_make).set<A_FORM>(error_form).set<A_MOLD>(error_mold);
    r.set<A_EVAL_PATH>(error_eval_path).set<A_COMPARE>(error_compare);
    r.inherit(A_REFLECT).inherit(A_COPY).inherit(A_FIND).inherit(A_SELECT);
    register_datatype(r);
}

}  // namespace

void error_makers_install() {
    for (Err& e : g_err_by_code) e = Err::count;
    for (u32 i = 0; i < u32(Err::count); ++i) {
        const ErrorInfo& info = error_info(Err(i));
        i32 code = i32(info.category) * 100 + info.index - 2;
        if (code >= 0 && code < i32(sizeof g_err_by_code / sizeof g_err_by_code[0])) g_err_by_code[code] = Err(i);
    }
    g_error_id_reader = read_runtime_error;
    g_error_maker = make_runtime_error;
    g_error_locate_hook = locate_error;
    g_uncaught_error_printer = print_uncaught_error;
}

KEL_DATATYPE(T_ERROR, init_error);

}  // namespace kel::dt
